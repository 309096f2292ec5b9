#include "avi/riff.h"

#include "scaffold/filegate.h"

#include <stdlib.h>
#include <string.h>

BOOL RiffOpenFile(RIFFFILE *pFile, HANDLE h)
{
    memset(pFile, 0, sizeof(*pFile));
    pFile->h = h;
    if (!SizeOfOpenFile(h, &pFile->cbFile)) return FALSE;
    pFile->pbBlock = (BYTE *)malloc(RIFF_BLOCK);
    pFile->cbBlockCap = RIFF_BLOCK;
    return pFile->pbBlock != NULL;
}

BOOL RiffSetBlock(RIFFFILE *pFile, DWORD cbBlock)
{
    if (cbBlock <= pFile->cbBlockCap) return TRUE;
    BYTE *pb = (BYTE *)malloc(cbBlock);
    if (!pb) return FALSE;
    free(pFile->pbBlock);
    pFile->pbBlock = pb;
    pFile->cbBlockCap = cbBlock;
    pFile->cbBlock = 0;
    return TRUE;
}

void RiffCloseFile(RIFFFILE *pFile)
{
    free(pFile->pbBlock);
    pFile->pbBlock = NULL;
    pFile->cbBlock = 0;
    pFile->h = NULL;
}

void RiffForget(RIFFFILE *pFile) { pFile->cbBlock = 0; }

void RiffTakeBlock(RIFFFILE *pTo, RIFFFILE *pFrom)
{
    free(pTo->pbBlock);
    pTo->pbBlock = pFrom->pbBlock;
    pTo->ullBlock = pFrom->ullBlock;
    pTo->cbBlock = pFrom->cbBlock;
    pTo->cbBlockCap = pFrom->cbBlockCap;
    pFrom->pbBlock = NULL;
    pFrom->cbBlock = pFrom->cbBlockCap = 0;
}

static BOOL ReadDirect(HANDLE h, ULONGLONG ullAt, void *pData, DWORD cb, DWORD *pcbDone)
{
    // One call reads at the place (and leaves the pointer after the bytes,
    // as a seek and a read would).
    *pcbDone = 0;
    if (!cb) return TRUE;
    OVERLAPPED at;
    memset(&at, 0, sizeof(at));
    at.Offset = (DWORD)ullAt;
    at.OffsetHigh = (DWORD)(ullAt >> 32);
    if (ReadFile(h, pData, cb, pcbDone, &at)) return TRUE;
    *pcbDone = 0;
    // A place at or past the end gives no bytes, as a read there after a
    // seek does; the caller tells that from a read that failed.
    return GetLastError() == ERROR_HANDLE_EOF;
}

const BYTE *RiffPeek(RIFFFILE *pFile, ULONGLONG ullAt, DWORD cb, void *pData)
{
    if (ullAt > pFile->cbFile || cb > pFile->cbFile - ullAt) return NULL;
    DWORD cbDone = 0;
    // Pieces larger than a quarter of the block go straight to the caller.
    if (cb > pFile->cbBlockCap / 4 || !pFile->pbBlock) {
        if (ReadDirect(pFile->h, ullAt, pData, cb, &cbDone) && cbDone == cb) return (const BYTE *)pData;
        pFile->fReadFailed = TRUE;
        return NULL;
    }
    if (ullAt < pFile->ullBlock || ullAt + cb > pFile->ullBlock + pFile->cbBlock) {
        // A block that holds the whole file is read from its start.
        ULONGLONG ullFrom = pFile->cbBlockCap >= pFile->cbFile ? 0 : ullAt;
        pFile->cbBlock = 0;
        if (!ReadDirect(pFile->h, ullFrom, pFile->pbBlock, pFile->cbBlockCap, &cbDone) || ullAt + cb > ullFrom + cbDone) {
            pFile->fReadFailed = TRUE;
            return NULL;
        }
        pFile->ullBlock = ullFrom;
        pFile->cbBlock = cbDone;
    }
    return pFile->pbBlock + (ullAt - pFile->ullBlock);
}

BOOL RiffRead(RIFFFILE *pFile, ULONGLONG ullAt, void *pData, DWORD cb)
{
    const BYTE *pb = RiffPeek(pFile, ullAt, cb, pData);
    if (!pb) return FALSE;
    if (pb != pData) memcpy(pData, pb, cb);
    return TRUE;
}

BOOL RiffWrite(RIFFFILE *pFile, ULONGLONG ullAt, const void *pData, DWORD cb)
{
    LONG lHigh = (LONG)(ullAt >> 32);
    DWORD dwLow = SetFilePointer(pFile->h, (LONG)(DWORD)ullAt, &lHigh, FILE_BEGIN);
    DWORD cbDone = 0;
    if ((dwLow == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) ||
        !WriteFile(pFile->h, pData, cb, &cbDone, NULL) || cbDone != cb) {
        pFile->cbBlock = 0;
        return FALSE;
    }
    if (ullAt + cb > pFile->cbFile) pFile->cbFile = ullAt + cb;
    // The part of the block that the bytes replace.
    ULONGLONG ullFrom = ullAt > pFile->ullBlock ? ullAt : pFile->ullBlock;
    ULONGLONG ullTo = ullAt + cb < pFile->ullBlock + pFile->cbBlock ? ullAt + cb : pFile->ullBlock + pFile->cbBlock;
    if (ullFrom < ullTo)
        memcpy(pFile->pbBlock + (ullFrom - pFile->ullBlock), (const BYTE *)pData + (ullFrom - ullAt), (size_t)(ullTo - ullFrom));
    return TRUE;
}

void RiffTopCursor(RIFFFILE *pFile, RIFFCURSOR *pCursor) { RiffRangeCursor(pFile, 0, pFile->cbFile, 0, pCursor); }

void RiffRangeCursor(RIFFFILE *pFile, ULONGLONG ullData, ULONGLONG ullEnd, int nDepth, RIFFCURSOR *pCursor)
{
    pCursor->pFile = pFile;
    pCursor->ullNext = ullData;
    pCursor->ullEnd = ullEnd < pFile->cbFile ? ullEnd : pFile->cbFile;
    pCursor->nDepth = nDepth;
    pCursor->fFailed = FALSE;
}

BOOL RiffNext(RIFFCURSOR *pCursor, RIFFCHUNK *pChunk)
{
    ULONGLONG ullPos = pCursor->ullNext;
    if (ullPos > pCursor->ullEnd || pCursor->ullEnd - ullPos < 8) return FALSE;
    DWORD adw[2];
    const BYTE *pbHeader = RiffPeek(pCursor->pFile, ullPos, 8, adw);
    if (!pbHeader) {
        pCursor->fFailed = TRUE;
        return FALSE;
    }
    memcpy(adw, pbHeader, 8);
    pChunk->ckid = adw[0];
    pChunk->cbSize = adw[1];
    pChunk->fccType = 0;
    pChunk->ullPos = ullPos;
    pChunk->ullData = ullPos + 8;
    ULONGLONG cbHeld = pCursor->ullEnd - pChunk->ullData;
    pChunk->fCut = adw[1] > cbHeld;
    pChunk->ullEnd = pChunk->ullData + (pChunk->fCut ? cbHeld : adw[1]);
    if ((adw[0] == FOURCC_RIFF || adw[0] == FOURCC_LIST) && pChunk->ullEnd - pChunk->ullData >= 4) {
        if (!RiffRead(pCursor->pFile, pChunk->ullData, &pChunk->fccType, 4)) {
            pCursor->fFailed = TRUE;
            return FALSE;
        }
        pChunk->ullData += 4;
    }
    // Words are padded to even places; a chunk that claims more than its
    // parent holds ends the walk.
    pCursor->ullNext = ullPos + 8 + adw[1] + (adw[1] & 1);
    return TRUE;
}

BOOL RiffEnter(const RIFFCURSOR *pParent, const RIFFCHUNK *pList, RIFFCURSOR *pChild)
{
    if ((pList->ckid != FOURCC_RIFF && pList->ckid != FOURCC_LIST) || pList->ullData - pList->ullPos != 12 ||
        pParent->nDepth + 1 > RIFF_MAX_DEPTH)
        return FALSE;
    RiffRangeCursor(pParent->pFile, pList->ullData, pList->ullEnd, pParent->nDepth + 1, pChild);
    return TRUE;
}

BOOL RiffFind(RIFFCURSOR *pCursor, FOURCC ckid, FOURCC fccType, RIFFCHUNK *pChunk)
{
    while (RiffNext(pCursor, pChunk))
        if (pChunk->ckid == ckid && (!fccType || pChunk->fccType == fccType)) return TRUE;
    return FALSE;
}
