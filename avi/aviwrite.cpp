#include "avi/aviwrite.h"

#include <stdlib.h>
#include <string.h>

#define INDEX_HEADER ((DWORD)sizeof(ODMLINDEXHEADER))
#define NO_ENTRY (~0ull)

namespace {

BOOL WriteAll(HANDLE h, const BYTE *pb, DWORD cb)
{
    DWORD cbDone = 0;
    return WriteFile(h, pb, cb, &cbDone, NULL) && cbDone == cb;
}

BOOL SeekTo(HANDLE h, ULONGLONG ullPos)
{
    LONG lHigh = (LONG)(ullPos >> 32);
    DWORD dwLow = SetFilePointer(h, (LONG)(DWORD)ullPos, &lHigh, FILE_BEGIN);
    return !(dwLow == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

unsigned WINAPI OutWriterThread(void *pArg)
{
    AVIOUT *pOut = (AVIOUT *)pArg;
    for (;;) {
        WaitForSingleObject(pOut->hWork, INFINITE);
        ResetEvent(pOut->hWork);
        if (pOut->fStop) return 0;
        if (!WriteAll(pOut->h, pOut->pbSpare, pOut->cbPending)) pOut->fWriteFailed = TRUE;
        SetEvent(pOut->hIdle);
    }
}

// Waits until the write handed over is done, and takes its result.
BOOL WaitWriter(AVIOUT *pOut)
{
    if (pOut->hThread) WaitForSingleObject(pOut->hIdle, INFINITE);
    if (pOut->fWriteFailed) pOut->fFailed = TRUE;
    return !pOut->fFailed;
}

// Hands the buffer's bytes to the file: to the writer thread, which writes
// them while the next bytes gather, or written here.
BOOL Flush(AVIOUT *pOut)
{
    if (!WaitWriter(pOut) || !pOut->cb) {
        pOut->cb = 0;
        return !pOut->fFailed;
    }
    if (pOut->hThread) {
        BYTE *pbFull = pOut->pb;
        pOut->pb = pOut->pbSpare;
        pOut->pbSpare = pbFull;
        pOut->cbPending = pOut->cb;
        ResetEvent(pOut->hIdle);
        SetEvent(pOut->hWork);
    } else if (!WriteAll(pOut->h, pOut->pb, pOut->cb)) {
        pOut->fFailed = TRUE;
    }
    pOut->cb = 0;
    return !pOut->fFailed;
}

}  // namespace

BOOL AviOutOpen(AVIOUT *pOut, HANDLE h, DWORD cbBuffer, BOOL fThread)
{
    memset(pOut, 0, sizeof(*pOut));
    pOut->h = h;
    pOut->cbBuffer = cbBuffer ? cbBuffer : 1;
    pOut->pb = (BYTE *)malloc(pOut->cbBuffer);
    if (!pOut->pb) return FALSE;
    if (!fThread) return TRUE;
    // Without a second buffer, events or a thread the output is written in
    // the caller's thread.
    pOut->pbSpare = (BYTE *)malloc(pOut->cbBuffer);
    pOut->hWork = CreateEventA(NULL, TRUE, FALSE, NULL);
    pOut->hIdle = CreateEventA(NULL, TRUE, TRUE, NULL);
    if (pOut->pbSpare && pOut->hWork && pOut->hIdle)
        pOut->hThread = (HANDLE)_beginthreadex(NULL, 0, OutWriterThread, pOut, 0, NULL);
    return TRUE;
}

void AviOutClose(AVIOUT *pOut)
{
    if (pOut->hThread) {
        WaitWriter(pOut);
        pOut->fStop = TRUE;
        SetEvent(pOut->hWork);
        WaitForSingleObject(pOut->hThread, INFINITE);
        CloseHandle(pOut->hThread);
        pOut->hThread = NULL;
    }
    if (pOut->hWork) CloseHandle(pOut->hWork);
    if (pOut->hIdle) CloseHandle(pOut->hIdle);
    pOut->hWork = pOut->hIdle = NULL;
    free(pOut->pbSpare);
    free(pOut->pb);
    pOut->pbSpare = pOut->pb = NULL;
    pOut->cb = 0;
}

BOOL AviOutDrain(AVIOUT *pOut) { return Flush(pOut) && WaitWriter(pOut); }

void AviOutPut(AVIOUT *pOut, const void *pData, DWORD cb)
{
    const BYTE *p = (const BYTE *)pData;
    while (cb && !pOut->fFailed) {
        DWORD cbPart = pOut->cbBuffer - pOut->cb < cb ? pOut->cbBuffer - pOut->cb : cb;
        memcpy(pOut->pb + pOut->cb, p, cbPart);
        pOut->cb += cbPart;
        pOut->ullPos += cbPart;
        p += cbPart;
        cb -= cbPart;
        if (pOut->cb == pOut->cbBuffer) Flush(pOut);
    }
}

void AviOutDword(AVIOUT *pOut, DWORD dw) { AviOutPut(pOut, &dw, sizeof(dw)); }

void AviOutZeros(AVIOUT *pOut, DWORD cb)
{
    static const BYTE s_abZeros[256] = {0};
    while (cb) {
        DWORD cbPart = cb < sizeof(s_abZeros) ? cb : (DWORD)sizeof(s_abZeros);
        AviOutPut(pOut, s_abZeros, cbPart);
        cb -= cbPart;
    }
}

void AviOutPatch(AVIOUT *pOut, ULONGLONG ullAt, const void *pData, DWORD cb)
{
    if (pOut->fFailed) return;
    ULONGLONG ullHeld = pOut->ullPos - pOut->cb;
    if (ullAt >= ullHeld && cb <= pOut->ullPos - ullAt) {
        memcpy(pOut->pb + (ullAt - ullHeld), pData, cb);
        return;
    }
    if (!AviOutDrain(pOut)) return;
    DWORD cbDone = 0;
    if (!SeekTo(pOut->h, ullAt) || !WriteFile(pOut->h, pData, cb, &cbDone, NULL) || cbDone != cb || !SeekTo(pOut->h, pOut->ullPos))
        pOut->fFailed = TRUE;
}

void AviOutPatchDword(AVIOUT *pOut, ULONGLONG ullAt, DWORD dw) { AviOutPatch(pOut, ullAt, &dw, sizeof(dw)); }

ULONGLONG AviOutBegin(AVIOUT *pOut, FOURCC ckid, FOURCC fccType)
{
    ULONGLONG ullMark = pOut->ullPos;
    AviOutDword(pOut, ckid);
    AviOutDword(pOut, 0);
    if (ckid == FOURCC_RIFF || ckid == FOURCC_LIST) AviOutDword(pOut, fccType);
    return ullMark;
}

BOOL AviOutEnd(AVIOUT *pOut, ULONGLONG ullMark)
{
    ULONGLONG cb = pOut->ullPos - ullMark - 8;
    if (cb > 0xFFFFFFF0ull) {
        pOut->fFailed = TRUE;
        return FALSE;
    }
    AviOutPatchDword(pOut, ullMark + 4, (DWORD)cb);
    if (cb & 1) AviOutPut(pOut, "", 1);
    return !pOut->fFailed;
}

void AviOutChunk(AVIOUT *pOut, FOURCC ckid, const void *pData, DWORD cb)
{
    AviOutDword(pOut, ckid);
    AviOutDword(pOut, cb);
    AviOutPut(pOut, pData, cb);
    if (cb & 1) AviOutPut(pOut, "", 1);
}

BOOL AviOutCopy(AVIOUT *pOut, RIFFFILE *pFrom, ULONGLONG ullFrom, ULONGLONG cb)
{
    // Through the output's buffer: whole pieces when they fit there.
    while (cb && !pOut->fFailed) {
        DWORD cbRoom = pOut->cbBuffer - pOut->cb;
        DWORD cbPart = cb < cbRoom ? (DWORD)cb : cbRoom;
        if (!RiffRead(pFrom, ullFrom, pOut->pb + pOut->cb, cbPart)) return FALSE;
        pOut->cb += cbPart;
        pOut->ullPos += cbPart;
        ullFrom += cbPart;
        cb -= cbPart;
        if (pOut->cb == pOut->cbBuffer) Flush(pOut);
    }
    return TRUE;
}

BOOL AviOutCopyAsChunk(AVIOUT *pOut, FOURCC ckid, RIFFFILE *pFrom, ULONGLONG ullFrom, DWORD cb)
{
    AviOutDword(pOut, ckid);
    AviOutDword(pOut, cb);
    if (!AviOutCopy(pOut, pFrom, ullFrom, cb)) return FALSE;
    if (cb & 1) AviOutPut(pOut, "", 1);
    return TRUE;
}

BOOL AviOutCopyChunk(AVIOUT *pOut, RIFFFILE *pFrom, const RIFFCHUNK *pChunk)
{
    // The header as a plain chunk's: a list's type comes with its data.
    return AviOutCopyAsChunk(pOut, pChunk->ckid, pFrom, pChunk->ullPos + 8, (DWORD)(pChunk->ullEnd - pChunk->ullPos - 8));
}

namespace {

void OdmlFail(AVIODML *pOdml, int nError)
{
    if (!pOdml->nError) pOdml->nError = nError;
}

BOOL OdmlOk(AVIODML *pOdml)
{
    if (pOdml->pOut->fFailed) OdmlFail(pOdml, AVIODML_WRITE);
    return !pOdml->nError;
}

// An index's header: a super index (4 longs an entry) or a standard index
// (2 longs, its entries counted from ullBase).
ODMLINDEXHEADER IndexHeader(BYTE bIndexType, DWORD nEntries, FOURCC dwChunkId, ULONGLONG ullBase)
{
    ODMLINDEXHEADER header;
    memset(&header, 0, sizeof(header));
    header.wLongsPerEntry = bIndexType == ODML_INDEX_OF_INDEXES ? 4 : 2;
    header.bIndexType = bIndexType;
    header.nEntriesInUse = nEntries;
    header.dwChunkId = dwChunkId;
    header.dwBaseLow = (DWORD)ullBase;
    header.dwBaseHigh = (DWORD)(ullBase >> 32);
    return header;
}

// Whether what the mark opened can be closed: its size within 4 GiB.
BOOL Fits4G(const AVIOUT *pOut, ULONGLONG ullMark) { return pOut->ullPos - ullMark - 8 <= 0xFFFFFFF0ull; }

// The stream of a chunk id "NNxx", or -1.
int OdmlStreamOf(const AVIODML *pOdml, FOURCC ckid)
{
    int i = AviStreamOfId(ckid);
    return i < pOdml->nStreams ? i : -1;
}

// Copies the idx1 entries kept aside into the output, as the first RIFF's
// idx1.
void WriteIdx1(AVIODML *pOdml)
{
    AviOutDword(pOdml->pOut, mmioFOURCC('i', 'd', 'x', '1'));
    AviOutDword(pOdml->pOut, pOdml->nIdx1 * 16);
    RIFFFILE idx1;
    BOOL fRead = AviOutDrain(pOdml->pIdx1) && RiffOpenFile(&idx1, pOdml->pIdx1->h);
    if (fRead) {
        fRead = idx1.cbFile >= 16ull * pOdml->nIdx1 && AviOutCopy(pOdml->pOut, &idx1, 0, 16ull * pOdml->nIdx1);
        RiffCloseFile(&idx1);
    }
    if (!fRead) OdmlFail(pOdml, AVIODML_IDX1);
}

// Closes the movi list in hand with a standard index of each stream, and
// its RIFF; the first RIFF also gets what the caller puts after its movi
// list, and its idx1.
void EndSegment(AVIODML *pOdml)
{
    AVIOUT *pOut = pOdml->pOut;
    for (int i = 0; i < pOdml->nStreams && OdmlOk(pOdml); i++) {
        AVIODMLSTREAM *pStream = &pOdml->aStreams[i];
        if (!pStream->nEntries) continue;
        if (pStream->nSuper == pStream->nSuperCap) {
            OdmlFail(pOdml, AVIODML_SUPER_FULL);
            return;
        }
        ODMLSUPERENTRY *pSuper = &pStream->pSuper[pStream->nSuper++];
        pSuper->dwOffsetLow = (DWORD)pOut->ullPos;
        pSuper->dwOffsetHigh = (DWORD)(pOut->ullPos >> 32);
        pSuper->dwSize = 8 + INDEX_HEADER + 8 * pStream->nEntries;
        pSuper->dwDuration = (DWORD)pStream->ullDuration;
        ODMLINDEXHEADER header = IndexHeader(ODML_INDEX_OF_CHUNKS, pStream->nEntries, pStream->dwChunkId, pOdml->ullMovi);
        ULONGLONG ullIndex = AviOutBegin(pOut, mmioFOURCC('i', 'x', (char)('0' + i / 10), (char)('0' + i % 10)), 0);
        AviOutPut(pOut, &header, sizeof(header));
        AviOutPut(pOut, pStream->pEntries, 8 * pStream->nEntries);
        AviOutEnd(pOut, ullIndex);
        pStream->nEntries = 0;
        pStream->ullDuration = 0;
    }
    if (!OdmlOk(pOdml)) return;
    if (!Fits4G(pOut, pOdml->ullMovi)) {
        OdmlFail(pOdml, AVIODML_MOVI_4G);
        return;
    }
    AviOutEnd(pOut, pOdml->ullMovi);
    if (pOdml->fFirstRiff) {
        if (pOdml->pfnFirstRiffTail && !pOdml->pfnFirstRiffTail(pOdml->pContext)) {
            OdmlFail(pOdml, AVIODML_WRITE);
            return;
        }
        WriteIdx1(pOdml);
    }
    if (!OdmlOk(pOdml)) return;
    if (!Fits4G(pOut, pOdml->ullRiff)) {
        OdmlFail(pOdml, AVIODML_RIFF_4G);
        return;
    }
    AviOutEnd(pOut, pOdml->ullRiff);
    pOdml->fFirstRiff = FALSE;
    OdmlOk(pOdml);
}

}  // namespace

void AviOdmlStart(AVIODML *pOdml, AVIOUT *pOut, AVIOUT *pIdx1, ULONGLONG ullRiffLimit)
{
    memset(pOdml, 0, sizeof(*pOdml));
    pOdml->pOut = pOut;
    pOdml->pIdx1 = pIdx1;
    pOdml->ullRiffLimit = ullRiffLimit;
    pOdml->iVideo = -1;
    pOdml->fFirstRiff = TRUE;
    pOdml->ullRiff = AviOutBegin(pOut, FOURCC_RIFF, mmioFOURCC('A', 'V', 'I', ' '));
}

void AviOdmlNoteAvih(AVIODML *pOdml, ULONGLONG ullData, DWORD cb)
{
    pOdml->ullAvih = ullData;
    pOdml->cbAvih = cb;
}

void AviOdmlBeginStream(AVIODML *pOdml, FOURCC fccType, DWORD nBlockAlign)
{
    if (pOdml->nStreams == AVI_MAX_STREAMS) return;
    AVIODMLSTREAM *pStream = &pOdml->aStreams[pOdml->nStreams];
    pStream->fccType = fccType;
    pStream->nBlockAlign = nBlockAlign;
    if (fccType == streamtypeVIDEO && pOdml->iVideo < 0) pOdml->iVideo = pOdml->nStreams;
}

void AviOdmlNoteVideoStrh(AVIODML *pOdml, ULONGLONG ullData, DWORD cb)
{
    pOdml->ullVideoStrh = ullData;
    pOdml->cbVideoStrh = cb;
}

void AviOdmlSuperIndex(AVIODML *pOdml, DWORD nSuperCap)
{
    if (pOdml->nStreams == AVI_MAX_STREAMS) return;
    AVIODMLSTREAM *pStream = &pOdml->aStreams[pOdml->nStreams++];
    pStream->nSuperCap = nSuperCap;
    pStream->pSuper = (ODMLSUPERENTRY *)calloc(nSuperCap ? nSuperCap : 1, sizeof(ODMLSUPERENTRY));
    if (!pStream->pSuper) OdmlFail(pOdml, AVIODML_NO_MEMORY);
    pStream->ullIndx = AviOutBegin(pOdml->pOut, mmioFOURCC('i', 'n', 'd', 'x'), 0);
    AviOutZeros(pOdml->pOut, INDEX_HEADER + 16 * nSuperCap);
    AviOutEnd(pOdml->pOut, pStream->ullIndx);
}

void AviOdmlHeaderEnd(AVIODML *pOdml)
{
    ULONGLONG ullOdml = AviOutBegin(pOdml->pOut, FOURCC_LIST, mmioFOURCC('o', 'd', 'm', 'l'));
    ULONGLONG ullDmlh = AviOutBegin(pOdml->pOut, mmioFOURCC('d', 'm', 'l', 'h'), 0);
    pOdml->ullDmlh = pOdml->pOut->ullPos;
    AviOutZeros(pOdml->pOut, ODML_DMLH_SIZE);
    AviOutEnd(pOdml->pOut, ullDmlh);
    AviOutEnd(pOdml->pOut, ullOdml);
}

void AviOdmlStartMovi(AVIODML *pOdml) { pOdml->ullMovi = AviOutBegin(pOdml->pOut, FOURCC_LIST, mmioFOURCC('m', 'o', 'v', 'i')); }

void AviOdmlRoom(AVIODML *pOdml, DWORD cb, DWORD nChunks)
{
    ULONGLONG ullIndexes = 0;
    BOOL fFull = FALSE;
    // Each stream's standard index may take every one of the new chunks.
    for (int i = 0; i < pOdml->nStreams; i++) {
        ullIndexes += 8 + INDEX_HEADER + 8ull * (pOdml->aStreams[i].nEntries + nChunks);
        fFull = fFull || pOdml->aStreams[i].nEntries + (ULONGLONG)nChunks > AVIODML_STDINDEX_CAP;
    }
    // The first RIFF also ends with what the caller puts after its movi
    // list, and its idx1.
    if (pOdml->fFirstRiff) ullIndexes += pOdml->cbFirstRiffTail + 8 + 16ull * (pOdml->nIdx1 + nChunks);
    AVIOUT *pOut = pOdml->pOut;
    ULONGLONG ullEnd = pOut->ullPos + 8 + cb + 1 + ullIndexes;
    BOOL fSomething = pOut->ullPos > pOdml->ullMovi + 12;
    if (!fFull && (ullEnd - pOdml->ullRiff <= pOdml->ullRiffLimit || !fSomething)) return;
    EndSegment(pOdml);
    pOdml->ullRiff = AviOutBegin(pOut, FOURCC_RIFF, mmioFOURCC('A', 'V', 'I', 'X'));
    AviOdmlStartMovi(pOdml);
}

ULONGLONG AviOdmlIndex(AVIODML *pOdml, FOURCC ckid, BOOL fIdx1, DWORD dwFlags, BOOL fKey, ULONGLONG ullChunk, DWORD cb)
{
    ULONGLONG ullEntry = NO_ENTRY;
    if (fIdx1 && pOdml->fFirstRiff) {
        AVIINDEXENTRY entry;
        entry.ckid = ckid;
        entry.dwFlags = dwFlags;
        entry.dwChunkOffset = (DWORD)(ullChunk - (pOdml->ullMovi + 8));
        entry.dwChunkLength = cb;
        ullEntry = pOdml->pIdx1->ullPos;
        AviOutPut(pOdml->pIdx1, &entry, sizeof(entry));
        pOdml->nIdx1++;
    }
    if (cb > pOdml->cbLargest && ckid != FOURCC_LIST) pOdml->cbLargest = cb;
    // The standard indexes and the frame counts hold frames and sound;
    // palette changes and other chunks are in idx1 only.
    char c2 = (char)((ckid >> 16) & 0xFF), c3 = (char)(ckid >> 24);
    BOOL fMedia = (c2 == 'd' && (c3 == 'c' || c3 == 'b')) || (c2 == 'w' && c3 == 'b');
    int iStream = OdmlStreamOf(pOdml, ckid);
    if (iStream < 0 || !fMedia) return ullEntry;
    AVIODMLSTREAM *pStream = &pOdml->aStreams[iStream];
    if (!pStream->dwChunkId) pStream->dwChunkId = ckid;
    if (pStream->nEntries == pStream->nEntryCap) {
        DWORD nCap = pStream->nEntryCap ? 2 * pStream->nEntryCap : 1024;
        void *pGrown = realloc(pStream->pEntries, (size_t)nCap * sizeof(ODMLSTDENTRY));
        if (!pGrown) {
            OdmlFail(pOdml, AVIODML_NO_MEMORY);
            return ullEntry;
        }
        pStream->pEntries = (ODMLSTDENTRY *)pGrown;
        pStream->nEntryCap = nCap;
    }
    ODMLSTDENTRY *pEntry = &pStream->pEntries[pStream->nEntries++];
    pEntry->dwOffset = (DWORD)(ullChunk + 8 - pOdml->ullMovi);
    pEntry->dwSize = cb | (fKey ? 0 : ODML_NOT_KEYFRAME);
    pStream->ullDuration += pStream->nBlockAlign ? cb / pStream->nBlockAlign : 1;
    if (iStream == pOdml->iVideo) {
        pOdml->nFrames++;
        if (pOdml->fFirstRiff) pOdml->nFramesFirst++;
    }
    return ullEntry;
}

void AviOdmlEndList(AVIODML *pOdml, ULONGLONG ullMark, ULONGLONG ullEntry)
{
    if (!Fits4G(pOdml->pOut, ullMark)) {
        OdmlFail(pOdml, AVIODML_LIST_4G);
        return;
    }
    AviOutEnd(pOdml->pOut, ullMark);
    // The list's idx1 entry gets the list's size.
    if (ullEntry != NO_ENTRY) AviOutPatchDword(pOdml->pIdx1, ullEntry + 12, (DWORD)(pOdml->pOut->ullPos - ullMark - 8));
}

void AviOdmlFinish(AVIODML *pOdml)
{
    EndSegment(pOdml);
    AVIOUT *pOut = pOdml->pOut;
    for (int i = 0; i < pOdml->nStreams && OdmlOk(pOdml); i++) {
        AVIODMLSTREAM *pStream = &pOdml->aStreams[i];
        ODMLINDEXHEADER header = IndexHeader(ODML_INDEX_OF_INDEXES, pStream->nSuper, pStream->dwChunkId, 0);
        AviOutPatch(pOut, pStream->ullIndx + 8, &header, sizeof(header));
        if (pStream->nSuper) AviOutPatch(pOut, pStream->ullIndx + 8 + INDEX_HEADER, pStream->pSuper, 16 * pStream->nSuper);
    }
    if (!OdmlOk(pOdml)) return;
    AviOutPatchDword(pOut, pOdml->ullDmlh, pOdml->nFrames);
    // The first RIFF's frames, and the buffers that players are told to
    // have; only fields that the chunks hold are written.
    if (pOdml->ullAvih && pOdml->cbAvih >= 32) {
        AviOutPatchDword(pOut, pOdml->ullAvih + 16, pOdml->nFramesFirst);
        AviOutPatchDword(pOut, pOdml->ullAvih + 28, pOdml->cbLargest);
    }
    if (pOdml->ullVideoStrh && pOdml->cbVideoStrh >= 40) AviOutPatchDword(pOut, pOdml->ullVideoStrh + 36, pOdml->cbLargest);
    OdmlOk(pOdml);
}

void AviOdmlFree(AVIODML *pOdml)
{
    for (AVIODMLSTREAM &stream : pOdml->aStreams) {
        free(stream.pSuper);
        free(stream.pEntries);
        stream.pSuper = NULL;
        stream.pEntries = NULL;
    }
}
