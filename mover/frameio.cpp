// Reading and rewriting a frame's stored bytes in place: the same number of
// bytes goes back over the old ones, so chunk headers, the index and every
// other frame stay where they are.
#include "mover/avireader.h"

#include "mover/message.h"

#include <string.h>

BOOL AccessFrameData(AviInfo *pInfo, BYTE *pBuffer, DWORD cbBuffer, DWORD n, BOOL fWrite, DWORD *pcb)
{
    const UINT uType = MB_OK | MB_ICONQUESTION;
    if (!pInfo->hmmio) {
        ShowShiftMessage("AVIファイルはオープンされていません!", uType);
        return FALSE;
    }
    if (n >= pInfo->nFrames) {
        ShowShiftMessagePath("%s のフレームNoが不正です!", pInfo->szAviFile, uType);
        return FALSE;
    }
    ULONGLONG ullAt = (ULONGLONG)pInfo->pFrames[n].dwChunkPos + 8;
    if (ullAt > 0x7FFFFFFF || mmioSeek(pInfo->hmmio, (LONG)ullAt, SEEK_SET) != (LONG)ullAt) {
        ShowShiftMessagePath("%s がシークできません!", pInfo->szAviFile, uType);
        return FALSE;
    }
    DWORD dwLen = pInfo->pFrames[n].dwChunkLen & FRAME_LENMASK;
    if (!fWrite) {
        // A frame longer than the caller's buffer cannot be read into it.
        if (dwLen > cbBuffer ||
            mmioRead(pInfo->hmmio, reinterpret_cast<HPSTR>(pBuffer), (LONG)dwLen) != (LONG)dwLen) {
            ShowShiftMessagePath("%s のフレーム読み出しに失敗しました!", pInfo->szAviFile, uType);
            return FALSE;
        }
        *pcb = dwLen;
        return TRUE;
    }
    if (*pcb != dwLen) {
        ShowShiftMessagePath("%s のフレーム圧縮サイズが一致しません!", pInfo->szAviFile, uType);
        return FALSE;
    }
    // The loaded AVI is read and written without a buffer (LoadAvi), so the
    // bytes reach the file here and now.
    if (mmioWrite(pInfo->hmmio, reinterpret_cast<const char *>(pBuffer), (LONG)dwLen) != (LONG)dwLen) {
        ShowShiftMessagePath("%s のフレーム書き込みに失敗しました!", pInfo->szAviFile, uType);
        return FALSE;
    }
    return TRUE;
}

BOOL FlushAviToDisk(AviInfo *pInfo)
{
    if (!pInfo->hmmio || mmioFlush(pInfo->hmmio, 0) != MMSYSERR_NOERROR) return FALSE;
    // The file's own handle, which the multimedia I/O keeps for a file of
    // the file system; a second handle with write access would be refused,
    // since the AVI is open denying writes to others.
    MMIOINFO info;
    memset(&info, 0, sizeof(info));
    if (mmioGetInfo(pInfo->hmmio, &info, 0) != MMSYSERR_NOERROR || !info.adwInfo[0]) return FALSE;
    return FlushFileBuffers((HANDLE)(DWORD_PTR)info.adwInfo[0]);
}
