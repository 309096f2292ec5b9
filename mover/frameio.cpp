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
    ULONGLONG ullAt = pInfo->pFrames[n].ullChunkPos + 8;
    DWORD dwLen = pInfo->pFrames[n].dwChunkLen & FRAME_LENMASK;
    if (!fWrite) {
        // A frame longer than the caller's buffer cannot be read into it.
        if (dwLen > cbBuffer || !AviBytesAt(pInfo, ullAt, pBuffer, dwLen, FALSE)) {
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
    // Straight to the file: the multimedia I/O keeps no buffer of the
    // loaded AVI (LoadAvi).
    if (!AviBytesAt(pInfo, ullAt, pBuffer, dwLen, TRUE)) {
        ShowShiftMessagePath("%s のフレーム書き込みに失敗しました!", pInfo->szAviFile, uType);
        return FALSE;
    }
    return TRUE;
}

BOOL AviBytesAt(AviInfo *pInfo, ULONGLONG ullAt, void *pData, DWORD cb, BOOL fWrite)
{
    if (!pInfo->hFile || pInfo->hFile == INVALID_HANDLE_VALUE) return FALSE;
    LONG lHigh = (LONG)(ullAt >> 32);
    DWORD dwLow = SetFilePointer(pInfo->hFile, (LONG)(DWORD)ullAt, &lHigh, FILE_BEGIN);
    if (dwLow == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return FALSE;
    DWORD cbDone = 0;
    BOOL fOk = fWrite ? WriteFile(pInfo->hFile, pData, cb, &cbDone, NULL) : ReadFile(pInfo->hFile, pData, cb, &cbDone, NULL);
    return fOk && cbDone == cb;
}

BOOL FlushAviToDisk(AviInfo *pInfo)
{
    if (!pInfo->hmmio || mmioFlush(pInfo->hmmio, 0) != MMSYSERR_NOERROR) return FALSE;
    return pInfo->hFile && FlushFileBuffers(pInfo->hFile);
}
