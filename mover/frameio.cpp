// Reading and rewriting a frame's stored bytes in place: the same number of
// bytes goes back over the old ones, so chunk headers, the index and every
// other frame stay where they are.
#include "mover/avireader.h"

#include "mover/message.h"

#include <string.h>

const MESSAGE *FrameBytes(AviInfo *pInfo, BYTE *pBuffer, DWORD cbBuffer, DWORD n, BOOL fWrite, DWORD *pcb)
{
    if (!pInfo->hmmio) return &MSG_NO_AVI_OPEN;
    if (n >= pInfo->nFrames) return &MSG_FRAME_NUMBER;
    ULONGLONG ullAt = pInfo->pFrames[n].ullChunkPos + 8;
    DWORD dwLen = pInfo->pFrames[n].dwChunkLen & FRAME_LENMASK;
    if (!fWrite) {
        // A frame longer than the caller's buffer cannot be read into it.
        if (dwLen > cbBuffer || !AviBytesAt(pInfo, ullAt, pBuffer, dwLen, FALSE)) return &MSG_FRAME_READ;
        *pcb = dwLen;
        return NULL;
    }
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
    if (!pInfo->hFile || pInfo->hFile == INVALID_HANDLE_VALUE || pInfo->file.h != pInfo->hFile) return FALSE;
    return fWrite ? RiffWrite(&pInfo->file, ullAt, pData, cb) : RiffRead(&pInfo->file, ullAt, pData, cb);
}

BOOL FlushAviToDisk(AviInfo *pInfo)
{
    if (!pInfo->hmmio || mmioFlush(pInfo->hmmio, 0) != MMSYSERR_NOERROR) return FALSE;
    return pInfo->hFile && FlushFileBuffers(pInfo->hFile);
}
