// Reading and rewriting a frame's stored bytes in place: the same number of
// bytes goes back over the old ones, so chunk headers, the index and every
// other frame stay where they are.
#include "mover/avireader.h"

#include "mover/message.h"

#include <string.h>

// Whether the loaded AVI's bytes can be read through its handle.
static BOOL AviFileOpen(const AviInfo *pInfo)
{
    return pInfo->hFile && pInfo->hFile != INVALID_HANDLE_VALUE && pInfo->file.h == pInfo->hFile;
}

const MESSAGE *FrameView(AviInfo *pInfo, BYTE *pBuffer, DWORD cbBuffer, DWORD n, const BYTE **ppb, DWORD *pcb)
{
    if (!pInfo->hmmio) return &MSG_NO_AVI_OPEN;
    if (n >= pInfo->nFrames) return &MSG_FRAME_NUMBER;
    if (!AviFileOpen(pInfo)) return &MSG_FRAME_READ;
    ULONGLONG ullAt = pInfo->pFrames[n].ullChunkPos + 8;
    DWORD dwLen = pInfo->pFrames[n].dwChunkLen & FRAME_LENMASK;
    // A frame longer than the caller's buffer cannot be read into it.
    const BYTE *pb = dwLen > cbBuffer ? NULL : RiffPeek(&pInfo->file, ullAt, dwLen, pBuffer);
    if (!pb) return &MSG_FRAME_READ;
    *ppb = pb;
    *pcb = dwLen;
    return NULL;
}

const MESSAGE *FrameBytes(AviInfo *pInfo, BYTE *pBuffer, DWORD cbBuffer, DWORD n, BOOL fWrite, DWORD *pcb)
{
    if (!fWrite) {
        const BYTE *pb = NULL;
        const MESSAGE *pFailure = FrameView(pInfo, pBuffer, cbBuffer, n, &pb, pcb);
        if (!pFailure && pb != pBuffer) memcpy(pBuffer, pb, *pcb);
        return pFailure;
    }
    if (!pInfo->hmmio) return &MSG_NO_AVI_OPEN;
    if (n >= pInfo->nFrames) return &MSG_FRAME_NUMBER;
    ULONGLONG ullAt = pInfo->pFrames[n].ullChunkPos + 8;
    DWORD dwLen = pInfo->pFrames[n].dwChunkLen & FRAME_LENMASK;
    if (*pcb != dwLen) return &MSG_FRAME_SIZE;
    // Straight to the file: the multimedia I/O keeps no buffer of the
    // loaded AVI (LoadAvi).
    if (!AviBytesAt(pInfo, ullAt, pBuffer, dwLen, TRUE)) return &MSG_FRAME_WRITE;
    return NULL;
}

BOOL AccessFrameData(AviInfo *pInfo, BYTE *pBuffer, DWORD cbBuffer, DWORD n, BOOL fWrite, DWORD *pcb)
{
    const MESSAGE *pFailure = FrameBytes(pInfo, pBuffer, cbBuffer, n, fWrite, pcb);
    if (pFailure) ShowShiftMessageM(MB_OK | MB_ICONQUESTION, pFailure, pInfo->szAviFile);
    return pFailure == NULL;
}

BOOL AviBytesAt(AviInfo *pInfo, ULONGLONG ullAt, void *pData, DWORD cb, BOOL fWrite)
{
    if (!AviFileOpen(pInfo)) return FALSE;
    return fWrite ? RiffWrite(&pInfo->file, ullAt, pData, cb) : RiffRead(&pInfo->file, ullAt, pData, cb);
}

BOOL FlushAviToDisk(AviInfo *pInfo)
{
    if (!pInfo->hmmio || mmioFlush(pInfo->hmmio, 0) != MMSYSERR_NOERROR) return FALSE;
    return pInfo->hFile && FlushFileBuffers(pInfo->hFile);
}
