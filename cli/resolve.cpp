// spool resolve: a self-contained AVI from one whose frames are reference
// records. Each record's frame is read from its reference file and stored in
// its place ("dc" for a compressed frame, "db" for a raw one); every other
// chunk is copied as it is. The work streams: memory stays the same whatever
// the length.
//
// The result is an OpenDML AVI: a first RIFF "AVI " of at most 1 GiB with
// the classic idx1 over its chunks, then as many RIFF "AVIX" as the rest
// needs; each stream has a super index ("indx") in its header list that
// lists the standard indexes ("ixNN") closing each movi list, and "odml"
// holds the whole count of frames. Players of either kind of index read it.
#include "cli/spool.h"
#include "scaffold/filegate.h"
#include "scaffold/odml.h"
#include "scaffold/paths.h"

#include "codec/refformat.h"

#include <stdlib.h>
#include <string.h>

#define OUT_BUFFER (1024u * 1024)
#define COPY_PIECE (1024u * 1024)
// A RIFF of the output is closed before it passes this (SPOOL_RIFF_LIMIT
// sets another, for tests).
#define RIFF_LIMIT 0x40000000ull
// Entries of one standard index; a RIFF is closed when a stream has as many.
#define STDINDEX_CAP 1000000u
#define MAX_STREAMS 100
// RIFFs after the first that an input may have: more than 4 TiB of them.
#define MAX_AVIX 4096
#define INDEX_HEADER ((DWORD)sizeof(ODMLINDEXHEADER))

namespace {

// Whether anything stands at a name (a dangling link too).
BOOL NameTaken(LPCSTR pszName)
{
    FILEFACTS facts;
    LookAtName(pszName, &facts);
    return facts.nKind != FILEKIND_MISSING || facts.fLink;
}

struct OUTFILE {
    HANDLE h;
    BYTE *pb;
    DWORD cb;                   // bytes waiting in pb
    unsigned long long ullPos;  // the file's length with them
    BOOL fFailed;
    // With a writer thread, a full buffer is written while the next one
    // fills, so that reading the input and the reference files overlaps
    // writing the output. One write is outstanding at most.
    HANDLE hThread;
    HANDLE hWork;               // manual-reset: a write or the stop handed over
    HANDLE hIdle;               // manual-reset: no write outstanding
    BYTE *pbSpare;              // the buffer being written, else free
    DWORD cbPending;
    BOOL fStop;
    BOOL fWriteFailed;
};

BOOL WriteAll(HANDLE h, const BYTE *pb, DWORD cb)
{
    DWORD cbDone = 0;
    return WriteFile(h, pb, cb, &cbDone, NULL) && cbDone == cb;
}

unsigned WINAPI OutWriterThread(void *pArg)
{
    OUTFILE *pOut = (OUTFILE *)pArg;
    for (;;) {
        WaitForSingleObject(pOut->hWork, INFINITE);
        ResetEvent(pOut->hWork);
        if (pOut->fStop) return 0;
        if (!WriteAll(pOut->h, pOut->pbSpare, pOut->cbPending)) pOut->fWriteFailed = TRUE;
        SetEvent(pOut->hIdle);
    }
}

// Starts the writer thread; without one (no memory, no thread) the output
// is written in the caller's thread.
void StartOutWriter(OUTFILE *pOut)
{
    pOut->pbSpare = (BYTE *)malloc(OUT_BUFFER);
    pOut->hWork = CreateEventA(NULL, TRUE, FALSE, NULL);
    pOut->hIdle = CreateEventA(NULL, TRUE, TRUE, NULL);
    if (pOut->pbSpare && pOut->hWork && pOut->hIdle)
        pOut->hThread = (HANDLE)_beginthreadex(NULL, 0, OutWriterThread, pOut, 0, NULL);
}

// Waits until the write handed over is done, and takes its result.
BOOL WaitOutWriter(OUTFILE *pOut)
{
    if (pOut->hThread) WaitForSingleObject(pOut->hIdle, INFINITE);
    if (pOut->fWriteFailed) pOut->fFailed = TRUE;
    return !pOut->fFailed;
}

void StopOutWriter(OUTFILE *pOut)
{
    if (pOut->hThread) {
        WaitOutWriter(pOut);
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
    pOut->pbSpare = NULL;
}

// Hands the buffer's bytes to the file: to the writer thread, which writes
// them while the next bytes gather, or written here. FALSE when a write
// failed, this one or (with the thread) an earlier one.
BOOL FlushOut(OUTFILE *pOut)
{
    if (!WaitOutWriter(pOut) || !pOut->cb) {
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

// Every byte so far is in the file: nothing waits in the buffer or the
// writer thread.
BOOL DrainOut(OUTFILE *pOut) { return FlushOut(pOut) && WaitOutWriter(pOut); }

void Put(OUTFILE *pOut, const void *pData, DWORD cb)
{
    const BYTE *p = (const BYTE *)pData;
    while (cb && !pOut->fFailed) {
        DWORD cbPart = OUT_BUFFER - pOut->cb < cb ? OUT_BUFFER - pOut->cb : cb;
        memcpy(pOut->pb + pOut->cb, p, cbPart);
        pOut->cb += cbPart;
        pOut->ullPos += cbPart;
        p += cbPart;
        cb -= cbPart;
        if (pOut->cb == OUT_BUFFER) FlushOut(pOut);
    }
}

void PutDword(OUTFILE *pOut, DWORD dw) { Put(pOut, &dw, sizeof(dw)); }
void PutZeros(OUTFILE *pOut, DWORD cb)
{
    static const BYTE s_abZeros[256] = {0};
    while (cb) {
        DWORD cbPart = cb < sizeof(s_abZeros) ? cb : (DWORD)sizeof(s_abZeros);
        Put(pOut, s_abZeros, cbPart);
        cb -= cbPart;
    }
}

BOOL SeekFile(HANDLE h, unsigned long long ullPos)
{
    LONG lHigh = (LONG)(ullPos >> 32);
    DWORD dwLow = SetFilePointer(h, (LONG)(DWORD)ullPos, &lHigh, FILE_BEGIN);
    return !(dwLow == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

// Writes bytes at an earlier place of the output.
void PatchBytes(OUTFILE *pOut, unsigned long long ullAt, const void *pData, DWORD cb)
{
    if (!DrainOut(pOut)) return;
    DWORD cbDone = 0;
    if (!SeekFile(pOut->h, ullAt) || !WriteFile(pOut->h, pData, cb, &cbDone, NULL) || cbDone != cb ||
        !SeekFile(pOut->h, pOut->ullPos))
        pOut->fFailed = TRUE;
}
void PatchDword(OUTFILE *pOut, unsigned long long ullAt, DWORD dw) { PatchBytes(pOut, ullAt, &dw, sizeof(dw)); }

// The input and the reference file in hand are read in large blocks: their
// chunks and frames come in file order, most of them a few bytes to a few
// hundred kilobytes, and each would cost a seek and a read of its own.
#define READ_BLOCK (1024u * 1024)
struct READCACHE {
    HANDLE h;
    BYTE *pb;
    unsigned long long ullStart;  // the file's bytes held from here
    DWORD cb;                     // how many
};
#define CACHE_INPUT 0
#define CACHE_REFERENCE 1
READCACHE g_aReadCache[2];

// Reads of h go through cache i from now on (none once h is closed).
void CacheFile(int i, HANDLE h)
{
    READCACHE *pCache = &g_aReadCache[i];
    if (!pCache->pb) pCache->pb = (BYTE *)malloc(READ_BLOCK);
    pCache->h = h;
    pCache->cb = 0;
}

void FreeReadCaches(void)
{
    for (READCACHE &cache : g_aReadCache) {
        free(cache.pb);
        memset(&cache, 0, sizeof(cache));
    }
}

BOOL ReadDirect(HANDLE h, unsigned long long ullPos, void *pData, DWORD cb)
{
    DWORD cbDone = 0;
    return SeekFile(h, ullPos) && ReadFile(h, pData, cb, &cbDone, NULL) && cbDone == cb;
}

BOOL ReadAt(HANDLE h, unsigned long long ullPos, void *pData, DWORD cb)
{
    READCACHE *pCache = NULL;
    for (READCACHE &cache : g_aReadCache)
        if (cache.pb && cache.h == h && h != INVALID_HANDLE_VALUE) pCache = &cache;
    DWORD cbDone = 0;
    // Large pieces go straight to the caller.
    if (!pCache || cb > READ_BLOCK / 2) return ReadDirect(h, ullPos, pData, cb);
    if (ullPos < pCache->ullStart || ullPos + cb > pCache->ullStart + pCache->cb) {
        pCache->cb = 0;
        if (!SeekFile(h, ullPos) || !ReadFile(h, pCache->pb, READ_BLOCK, &cbDone, NULL)) return FALSE;
        pCache->ullStart = ullPos;
        pCache->cb = cbDone;
        if (cb > cbDone) return FALSE;
    }
    memcpy(pData, pCache->pb + (ullPos - pCache->ullStart), cb);
    return TRUE;
}

struct STREAMOUT {
    FOURCC fccType;
    DWORD nBlockAlign;             // an audio stream's bytes a block
    FOURCC dwChunkId;              // the id of its chunks, once one was seen
    unsigned long long ullIndx;    // the output's "indx" of the stream
    ODMLSUPERENTRY *pSuper;
    DWORD nSuper, nSuperCap;
    ODMLSTDENTRY *pEntries;        // of the current movi list
    DWORD nEntries, nEntryCap;
    unsigned long long ullDuration;
};

// Entries read at a time by a cursor of the input's index.
#define CURSOR_ENTRIES 4096u

struct IDXCURSOR {
    AVIINDEXENTRY *pBuf;  // entries from iBuf on
    DWORD iBuf, nBuf;
    DWORD iNext;          // the entry after the one in hand
    BOOL fHas;            // an entry of the cursor's stream in hand
    AVIINDEXENTRY entry;
};

// A chunk's flags from a standard index of the input (OpenDML's further
// RIFFs, which idx1 does not cover): the place of its data, and its flags.
struct STDFLAG {
    unsigned long long ullData;
    DWORD dwFlags;
};

// What the chunks of a movi list take once resolved, found before anything
// is written: the bytes of each record's frame or of the chunk itself, and
// the chunks of each stream (by CursorOf). Each record is checked against
// its file: a frame that the file cannot hold fails here, so that no claim
// of a record makes the output's headers grow. Lists in movi are measured
// one level down.
struct MEASURE {
    unsigned long long ullBytes;
    unsigned long long aullChunks[MAX_STREAMS + 1];
    unsigned long long ullChunks;
    CHAR szFile[MAX_PATH];        // the reference file looked at last
    unsigned long long ullFileSize;
    BOOL fFileThere;
    DWORD nVideo;                 // "dc" and "db" chunks so far
    // Records of raw frames (the input DIB as it came) and of compressed
    // ones, and the frames that are no records, by stream: one stream
    // cannot be both. The first raw frame's header gives the format.
    DWORD nRaw, nCoded;
    int iRawStream;
    REFFRAMEHEADER rawHeader;
    unsigned long long aullPlain[MAX_STREAMS + 1];
};

struct RESOLVE {
    LPCSTR pszAvi;
    LPCSTR pszOut;
    HANDLE hIn;
    unsigned long long ullInSize;
    OUTFILE out;
    // The input's index: a cursor for each stream's entries (and one for
    // the rest), each read in step with that stream's chunks. Writers list
    // a stream's chunks in their order, but the streams one after another
    // or interleaved, as they please.
    unsigned long long ullIdx1;  // its data's place, 0 when there is none
    DWORD nIdx1;                 // its entries
    IDXCURSOR aCursors[MAX_STREAMS + 1];
    unsigned long long ullIndexBase;  // what its offsets count from
    DWORD nMatched;                   // its entries that matched a chunk
    // In the input's further RIFFs the flags come from the standard indexes
    // of the movi list in hand, each stream's in its chunks' order.
    BOOL fStdFlags;
    STDFLAG *apFlags[MAX_STREAMS];
    DWORD anFlags[MAX_STREAMS], aiFlags[MAX_STREAMS];
    // The first RIFF's idx1, kept in a file of its own until movi is done.
    OUTFILE index;
    CHAR szIndexFile[MAX_PATH];
    DWORD nIndexed;
    // The output's structure.
    STREAMOUT aStreams[MAX_STREAMS];
    DWORD anSuperCap[MAX_STREAMS];  // each stream's super index's room
    int nStreams;
    int iVideo;  // the video stream's number, -1 when there is none
    unsigned long long ullRiff;      // the current RIFF
    unsigned long long ullMoviList;  // its movi list
    BOOL fFirstRiff;
    unsigned long long ullRiffLimit;
    unsigned long long ullAvih, ullVideoStrh, ullDmlh;
    DWORD cbAvih, cbVideoStrh;
    // What follows the input's movi list (but its index), copied into the
    // first RIFF.
    unsigned long long ullTrailer, ullRiffEnd;
    // The input's further RIFFs ("AVIX"): their movi lists' chunks.
    unsigned long long aullAvix[MAX_AVIX], aullAvixEnd[MAX_AVIX];
    // The AVIX RIFFs themselves: their chunks, movi among them.
    unsigned long long aullAvixRiff[MAX_AVIX], aullAvixRiffEnd[MAX_AVIX];
    int nAvix;
    DWORD nFramesFirst, nFrames;
    // The reference file read last.
    CHAR szRefFile[MAX_PATH];
    HANDLE hRef;
    BYTE *pbCopy;
    DWORD cbLargestChunk;
    DWORD nResolved;
    DWORD nVideo;   // video chunks seen
    DWORD dwFrame;  // the one being written, for the messages
    BOOL fFailed;
    // The whole input's measure, taken before the output is made; then
    // each "rec " list's, the reference file's size known by then.
    MEASURE measure;
    // A stream of raw frames: its format, written in place of the codec's.
    int iRawStream;  // -1 when there is none
    BITMAPINFOHEADER biRaw;
};

BOOL Fail(RESOLVE *pState, LPCSTR pszEnglish, LPCSTR pszJapanese, LPCSTR pszArg)
{
    if (!pState->fFailed) Complain(pszEnglish, pszJapanese, (unsigned long)pState->dwFrame, pszArg);
    pState->fFailed = TRUE;
    return FALSE;
}

// The cursor of a chunk id: its stream's ("NNxx"), or the one of the rest.
int CursorOf(FOURCC ckid)
{
    char c0 = (char)(ckid & 0xFF), c1 = (char)((ckid >> 8) & 0xFF);
    if (c0 < '0' || c0 > '9' || c1 < '0' || c1 > '9') return MAX_STREAMS;
    return (c0 - '0') * 10 + (c1 - '0');
}

// Moves a cursor to the next entry of its stream; FALSE (fHas cleared) at
// the index's end or when it cannot be read.
BOOL NextIndexEntry(RESOLVE *pState, int iCursor)
{
    IDXCURSOR *pCursor = &pState->aCursors[iCursor];
    pCursor->fHas = FALSE;
    if (!pCursor->pBuf) {
        pCursor->pBuf = (AVIINDEXENTRY *)malloc(CURSOR_ENTRIES * sizeof(AVIINDEXENTRY));
        if (!pCursor->pBuf) return FALSE;
        pCursor->iBuf = pCursor->nBuf = 0;
    }
    while (pCursor->iNext < pState->nIdx1) {
        DWORD i = pCursor->iNext++;
        if (i < pCursor->iBuf || i >= pCursor->iBuf + pCursor->nBuf) {
            DWORD n = pState->nIdx1 - i < CURSOR_ENTRIES ? pState->nIdx1 - i : CURSOR_ENTRIES;
            // Apart from the chunks' reads: the index lies elsewhere.
            if (!ReadDirect(pState->hIn, pState->ullIdx1 + 16ull * i, pCursor->pBuf, 16 * n)) {
                pCursor->iNext = pState->nIdx1;
                return FALSE;
            }
            pCursor->iBuf = i;
            pCursor->nBuf = n;
        }
        const AVIINDEXENTRY *pEntry = &pCursor->pBuf[i - pCursor->iBuf];
        if (CursorOf(pEntry->ckid) == iCursor) {
            pCursor->entry = *pEntry;
            pCursor->fHas = TRUE;
            return TRUE;
        }
    }
    return FALSE;
}

// The input index's flags for a chunk at ullPos of the input with that id;
// FALSE when the index does not list it. Entries of its stream before it
// are passed over: they name no chunk.
BOOL TakeIndexFlags(RESOLVE *pState, unsigned long long ullPos, FOURCC ckid, DWORD *pdwFlags)
{
    int iCursor = CursorOf(ckid);
    IDXCURSOR *pCursor = &pState->aCursors[iCursor];
    if (!pCursor->fHas && pCursor->iNext == 0) NextIndexEntry(pState, iCursor);
    while (pCursor->fHas) {
        unsigned long long ullAt = pState->ullIndexBase + pCursor->entry.dwChunkOffset;
        if (ullAt > ullPos) return FALSE;
        BOOL fThis = ullAt == ullPos && pCursor->entry.ckid == ckid;
        DWORD dwFlags = pCursor->entry.dwFlags;
        NextIndexEntry(pState, iCursor);
        if (fThis) {
            pState->nMatched++;
            *pdwFlags = dwFlags;
            return TRUE;
        }
    }
    return FALSE;
}

// The stream of a chunk id "NNxx", or -1.
int StreamOf(const RESOLVE *pState, FOURCC ckid)
{
    int i = CursorOf(ckid);
    return i < pState->nStreams ? i : -1;
}

// The flags of the chunk at ullPos from the standard index of its stream;
// FALSE when it lists no chunk there.
BOOL TakeStdFlags(RESOLVE *pState, unsigned long long ullPos, FOURCC ckid, DWORD *pdwFlags)
{
    int i = CursorOf(ckid);
    if (i >= MAX_STREAMS) return FALSE;
    while (pState->aiFlags[i] < pState->anFlags[i] && pState->apFlags[i][pState->aiFlags[i]].ullData < ullPos + 8)
        pState->aiFlags[i]++;
    if (pState->aiFlags[i] >= pState->anFlags[i] || pState->apFlags[i][pState->aiFlags[i]].ullData != ullPos + 8)
        return FALSE;
    *pdwFlags = pState->apFlags[i][pState->aiFlags[i]++].dwFlags;
    return TRUE;
}

// Reads the standard indexes of a movi list of the input (its chunks from
// ullPos to ullEnd) for the flags of its chunks.
// Reads the key flags of the standard indexes among the chunks from ullPos
// to ullEnd, and inside a movi list among them: a writer puts a RIFF's
// standard indexes in its movi list or after it.
void ScanStdFlags(RESOLVE *pState, unsigned long long ullPos, unsigned long long ullEnd, BOOL fTop)
{
    while (ullPos + 8 <= ullEnd) {
        DWORD adw[3];
        if (!ReadAt(pState->hIn, ullPos, adw, 8)) return;
        if (fTop && adw[0] == FOURCC_LIST && adw[1] >= 4 && ReadAt(pState->hIn, ullPos + 8, &adw[2], 4) &&
            adw[2] == mmioFOURCC('m', 'o', 'v', 'i')) {
            unsigned long long ullListEnd = ullPos + 8 + adw[1] < ullEnd ? ullPos + 8 + adw[1] : ullEnd;
            ScanStdFlags(pState, ullPos + 12, ullListEnd, FALSE);
        }
        int i = CursorOf((adw[0] >> 16) | (adw[0] << 16));  // "ixNN": the stream in the last two
        ODMLINDEXHEADER header;
        if ((adw[0] & 0xFFFF) == mmioFOURCC('i', 'x', 0, 0) && i < MAX_STREAMS && !pState->apFlags[i] &&
            adw[1] >= sizeof(header) && ullPos + 8 + adw[1] <= ullEnd &&
            ReadAt(pState->hIn, ullPos + 8, &header, sizeof(header)) && OdmlStandardEntries(&header, adw[1])) {
            DWORD n = header.nEntriesInUse;
            STDFLAG *pFlags = (STDFLAG *)malloc((size_t)(n ? n : 1) * sizeof(STDFLAG));
            DWORD adwEntry[4];
            for (DWORD k = 0; pFlags && k < n; k++) {
                if (!ReadAt(pState->hIn, ullPos + 8 + sizeof(header) + 4ull * header.wLongsPerEntry * k, adwEntry,
                            4u * header.wLongsPerEntry)) {
                    n = k;
                    break;
                }
                pFlags[k].ullData = OdmlBase(&header) + adwEntry[0];
                pFlags[k].dwFlags = (adwEntry[1] & ODML_NOT_KEYFRAME) ? 0 : AVIIF_KEYFRAME;
            }
            pState->apFlags[i] = pFlags;
            pState->anFlags[i] = pFlags ? n : 0;
        }
        ullPos += 8ull + adw[1] + (adw[1] & 1);
    }
}

// The key flags of an AVIX RIFF's standard indexes, wherever in the RIFF
// they stand.
void LoadStdFlags(RESOLVE *pState, unsigned long long ullPos, unsigned long long ullEnd)
{
    for (int i = 0; i < MAX_STREAMS; i++) {
        free(pState->apFlags[i]);
        pState->apFlags[i] = NULL;
        pState->anFlags[i] = pState->aiFlags[i] = 0;
    }
    pState->fStdFlags = TRUE;
    ScanStdFlags(pState, ullPos, ullEnd, TRUE);
}

// Whether the input holds, at ullAt, the chunk or list that an index entry
// names.
BOOL EntryPointsAt(RESOLVE *pState, unsigned long long ullAt, const AVIINDEXENTRY *pEntry)
{
    DWORD adw[3];
    if (!ReadAt(pState->hIn, ullAt, adw, 12)) return FALSE;
    return adw[0] == pEntry->ckid || (adw[0] == FOURCC_LIST && adw[2] == pEntry->ckid);
}

// Notes a chunk just written at ullChunk in the indexes: the first RIFF's
// idx1 when the input indexed it, and its stream's standard index.
void IndexChunk(RESOLVE *pState, FOURCC ckid, BOOL fIndexed, DWORD dwFlags, unsigned long long ullChunk, DWORD cb,
                BOOL fStandard)
{
    if (fIndexed && pState->fFirstRiff) {
        AVIINDEXENTRY entry;
        entry.ckid = ckid;
        entry.dwFlags = dwFlags;
        entry.dwChunkOffset = (DWORD)(ullChunk - (pState->ullMoviList + 8));
        entry.dwChunkLength = cb;
        Put(&pState->index, &entry, sizeof(entry));
        pState->nIndexed++;
    }
    // The standard indexes and the frame counts hold frames and audio;
    // palette changes and other chunks are in idx1 only.
    char c2 = (char)((ckid >> 16) & 0xFF), c3 = (char)(ckid >> 24);
    BOOL fMedia = (c2 == 'd' && (c3 == 'c' || c3 == 'b')) || (c2 == 'w' && c3 == 'b');
    int iStream = StreamOf(pState, ckid);
    if (iStream < 0 || !fStandard || !fMedia) return;
    STREAMOUT *pStream = &pState->aStreams[iStream];
    if (!pStream->dwChunkId) pStream->dwChunkId = ckid;
    if (pStream->nEntries == pStream->nEntryCap) {
        DWORD nCap = pStream->nEntryCap ? 2 * pStream->nEntryCap : 1024;
        void *pGrown = realloc(pStream->pEntries, (size_t)nCap * sizeof(ODMLSTDENTRY));
        if (!pGrown) {
            Fail(pState, "frame %lu: out of memory%s", "フレーム %lu: メモリが確保できません%s", "");
            return;
        }
        pStream->pEntries = (ODMLSTDENTRY *)pGrown;
        pStream->nEntryCap = nCap;
    }
    ODMLSTDENTRY *pEntry = &pStream->pEntries[pStream->nEntries++];
    pEntry->dwOffset = (DWORD)(ullChunk + 8 - pState->ullMoviList);
    BOOL fKey = !fIndexed || (dwFlags & AVIIF_KEYFRAME);
    pEntry->dwSize = cb | (fKey ? 0 : ODML_NOT_KEYFRAME);
    pStream->ullDuration += pStream->nBlockAlign ? cb / pStream->nBlockAlign : 1;
    if (iStream == pState->iVideo) {
        pState->nFrames++;
        if (pState->fFirstRiff) pState->nFramesFirst++;
    }
}

BOOL CopyChunk(RESOLVE *pState, unsigned long long ullAt, unsigned long long ullEnd);
BOOL CopyBytes(RESOLVE *pState, HANDLE h, unsigned long long ullFrom, DWORD cb);

void StartMovi(RESOLVE *pState)
{
    pState->ullMoviList = pState->out.ullPos;
    PutDword(&pState->out, FOURCC_LIST);
    PutDword(&pState->out, 0);
    PutDword(&pState->out, mmioFOURCC('m', 'o', 'v', 'i'));
}

// Closes the current movi list with a standard index of each stream, and
// the RIFF with it; the first RIFF also gets what followed the input's movi
// list and its idx1.
void EndSegment(RESOLVE *pState)
{
    for (int i = 0; i < pState->nStreams && !pState->fFailed; i++) {
        STREAMOUT *pStream = &pState->aStreams[i];
        if (!pStream->nEntries) continue;
        if (pStream->nSuper == pStream->nSuperCap) {
            Fail(pState, "frame %lu: %s needs more standard indexes than its super index holds",
                 "フレーム %lu: %s の標準インデックスがスーパーインデックスに収まりません", pState->pszOut);
            return;
        }
        ODMLSUPERENTRY *pSuper = &pStream->pSuper[pStream->nSuper++];
        pSuper->dwOffsetLow = (DWORD)pState->out.ullPos;
        pSuper->dwOffsetHigh = (DWORD)(pState->out.ullPos >> 32);
        pSuper->dwSize = 8 + INDEX_HEADER + 8 * pStream->nEntries;
        pSuper->dwDuration = (DWORD)pStream->ullDuration;
        PutDword(&pState->out, mmioFOURCC('i', 'x', (char)('0' + i / 10), (char)('0' + i % 10)));
        PutDword(&pState->out, INDEX_HEADER + 8 * pStream->nEntries);
        ODMLINDEXHEADER header;
        memset(&header, 0, sizeof(header));
        header.wLongsPerEntry = 2;
        header.bIndexType = ODML_INDEX_OF_CHUNKS;
        header.nEntriesInUse = pStream->nEntries;
        header.dwChunkId = pStream->dwChunkId;
        header.dwBaseLow = (DWORD)pState->ullMoviList;
        header.dwBaseHigh = (DWORD)(pState->ullMoviList >> 32);
        Put(&pState->out, &header, sizeof(header));
        Put(&pState->out, pStream->pEntries, 8 * pStream->nEntries);
        pStream->nEntries = 0;
        pStream->ullDuration = 0;
    }
    if (pState->out.ullPos - pState->ullMoviList > 0xFFFFFFF0ull) {
        Fail(pState, "frame %lu: a movi list of %s would pass 4 GiB", "フレーム %lu: %s のmoviリストが4GiBを超えます", pState->pszOut);
        return;
    }
    PatchDword(&pState->out, pState->ullMoviList + 4, (DWORD)(pState->out.ullPos - pState->ullMoviList - 8));
    if (pState->fFirstRiff) {
        for (unsigned long long ullAt = pState->ullTrailer; ullAt + 8 <= pState->ullRiffEnd && !pState->fFailed;) {
            DWORD adw[2];
            if (!ReadAt(pState->hIn, ullAt, adw, 8)) {
                Fail(pState, "frame %lu: %s cannot be read", "フレーム %lu: %sが読み出せません", pState->pszAvi);
                return;
            }
            if (adw[0] != mmioFOURCC('i', 'd', 'x', '1') && !CopyChunk(pState, ullAt, pState->ullRiffEnd)) return;
            ullAt += 8ull + adw[1] + (adw[1] & 1);
        }
        DrainOut(&pState->index);
        PutDword(&pState->out, mmioFOURCC('i', 'd', 'x', '1'));
        PutDword(&pState->out, pState->nIndexed * 16);
        if (!pState->index.fFailed && !CopyBytes(pState, pState->index.h, 0, pState->nIndexed * 16))
            pState->index.fFailed = TRUE;
        if (pState->index.fFailed) Fail(pState, "frame %lu: the index of %s cannot be written", "フレーム %lu: %s のインデックスが書き込めません",
                                        pState->szIndexFile);
    }
    if (pState->out.ullPos - pState->ullRiff > 0xFFFFFFF0ull) {
        Fail(pState, "frame %lu: a RIFF of %s would pass 4 GiB", "フレーム %lu: %s のRIFFが4GiBを超えます", pState->pszOut);
        return;
    }
    PatchDword(&pState->out, pState->ullRiff + 4, (DWORD)(pState->out.ullPos - pState->ullRiff - 8));
    pState->fFirstRiff = FALSE;
}

// Before a chunk of cb bytes is written at the top of a movi list: a new
// RIFF when it would pass the limit with the standard indexes, or when a
// standard index is full.
void MakeRoom(RESOLVE *pState, DWORD cb)
{
    unsigned long long ullIndexes = 0;
    BOOL fFull = FALSE;
    for (int i = 0; i < pState->nStreams; i++) {
        ullIndexes += 8 + INDEX_HEADER + 8ull * (pState->aStreams[i].nEntries + 1);
        fFull = fFull || pState->aStreams[i].nEntries >= STDINDEX_CAP;
    }
    // The first RIFF also ends with its idx1.
    if (pState->fFirstRiff) ullIndexes += 8 + 16ull * (pState->nIndexed + 1);
    unsigned long long ullEnd = pState->out.ullPos + 8 + cb + 1 + ullIndexes;
    BOOL fSomething = pState->out.ullPos > pState->ullMoviList + 12;
    if (!fFull && (ullEnd - pState->ullRiff <= pState->ullRiffLimit || !fSomething)) return;
    EndSegment(pState);
    pState->ullRiff = pState->out.ullPos;
    PutDword(&pState->out, FOURCC_RIFF);
    PutDword(&pState->out, 0);
    PutDword(&pState->out, mmioFOURCC('A', 'V', 'I', 'X'));
    StartMovi(pState);
}

// Copies cb bytes from h at ullFrom to the output.
BOOL CopyBytes(RESOLVE *pState, HANDLE h, unsigned long long ullFrom, DWORD cb)
{
    while (cb) {
        DWORD cbPart = cb < COPY_PIECE ? cb : COPY_PIECE;
        if (!ReadAt(h, ullFrom, pState->pbCopy, cbPart)) return FALSE;
        Put(&pState->out, pState->pbCopy, cbPart);
        ullFrom += cbPart;
        cb -= cbPart;
    }
    return !pState->out.fFailed;
}

// Writes the frame that a record names as a chunk of its own; FALSE after a
// message.
BOOL WriteRecordFrame(RESOLVE *pState, const REFRECORD *pRec, FOURCC ckidIn, DWORD dwFlags, BOOL fIndexed, BOOL fTop)
{
    CHAR szPath[MAX_PATH];
    if (!MapRefPath(pRec->szFileName, szPath))
        return Fail(pState, "frame %lu: the reference file's name is too long: %s", "フレーム %lu: 参照ファイル名が長すぎます: %s",
                    pRec->szFileName);
    if (strcmp(szPath, pState->szRefFile) != 0) {
        if (pState->hRef != INVALID_HANDLE_VALUE) CloseHandle(pState->hRef);
        pState->hRef = CreateFileA(szPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, NULL);
        CacheFile(CACHE_REFERENCE, pState->hRef);
        pState->szRefFile[0] = '\0';
        if (pState->hRef == INVALID_HANDLE_VALUE)
            return Fail(pState, "frame %lu: reference file %s cannot be opened", "フレーム %lu: 参照ファイル%sがオープンできません",
                        szPath);
        // The resolved AVI would take the place of a file that the records
        // read from: by whatever name, link or linked folder it is reached.
        if (SameFile(szPath, pState->pszOut))
            return Fail(pState, "frame %lu: the output %s is one of the AVI's reference files; choose another name",
                        "フレーム %lu: 出力先%sはAVIファイルの参照ファイルです. 別の名前を選んで下さい", pState->pszOut);
        snprintf(pState->szRefFile, sizeof(pState->szRefFile), "%s", szPath);
    }
    REFFRAMEHEADER header;
    if (!ReadAt(pState->hRef, pRec->dwOffset, &header, sizeof(header)) || !FrameHeaderFits(&header, RefRecordFrameSize(pRec)))
        return Fail(pState, "frame %lu: no frame of the record's size in %s", "フレーム %lu: %sにレコードのサイズのフレームがありません",
                    szPath);
    // Raw frames are all of the format that the stream is given.
    if (RefRecordIsRaw(pRec) &&
        (header.dwDataSize != pState->biRaw.biSizeImage || header.wWidth != pState->biRaw.biWidth ||
         header.wHeight != pState->biRaw.biHeight))
        return Fail(pState, "frame %lu: a raw frame in %s differs in size from the stream's first",
                    "フレーム %lu: %sの非圧縮フレームのサイズが最初のフレームと異なります", szPath);
    if (fTop) MakeRoom(pState, header.dwDataSize);
    // The stream's digits, then "dc" or "db".
    FOURCC ckid = (ckidIn & 0xFFFF) | (RefRecordIsRaw(pRec) ? mmioFOURCC(0, 0, 'd', 'b') : mmioFOURCC(0, 0, 'd', 'c'));
    unsigned long long ullChunk = pState->out.ullPos;
    PutDword(&pState->out, ckid);
    PutDword(&pState->out, header.dwDataSize);
    if (!CopyBytes(pState, pState->hRef, (unsigned long long)pRec->dwOffset + sizeof(header), header.dwDataSize)) {
        // A failed write of the output is said as such, not as a read.
        if (pState->out.fFailed)
            return Fail(pState, "frame %lu: %s cannot be written", "フレーム %lu: %sに書き込めません", pState->pszOut);
        return Fail(pState, "frame %lu: the frame cannot be read from %s", "フレーム %lu: %sからフレームが読み出せません", szPath);
    }
    if (header.dwDataSize & 1) Put(&pState->out, "", 1);
    IndexChunk(pState, ckid, fIndexed, dwFlags, ullChunk, header.dwDataSize, TRUE);
    if (header.dwDataSize > pState->cbLargestChunk) pState->cbLargestChunk = header.dwDataSize;
    pState->nResolved++;
    return TRUE;
}

// Adds the chunks from ullPos to ullEnd to the measure; FALSE (said) when
// a record names a frame that its file cannot give.
BOOL MeasureMovi(RESOLVE *pState, unsigned long long ullPos, unsigned long long ullEnd, BOOL fTop, MEASURE *pMeasure)
{
    while (ullPos + 8 <= ullEnd) {
        DWORD adw[3];
        if (!ReadAt(pState->hIn, ullPos, adw, 8)) return TRUE;
        DWORD cb = adw[1];
        if (ullPos + 8 + cb > ullEnd) cb = (DWORD)(ullEnd - ullPos - 8);
        pMeasure->ullChunks++;
        pMeasure->aullChunks[CursorOf(adw[0])]++;
        unsigned long long ullResolved = cb;
        BYTE c2 = (BYTE)(adw[0] >> 16), c3 = (BYTE)(adw[0] >> 24);
        BOOL fFrame = c2 == 'd' && (c3 == 'c' || c3 == 'b');
        REFRECORD rec;
        if (fFrame) pState->dwFrame = pMeasure->nVideo++;
        if (adw[0] == FOURCC_LIST && fTop && cb >= 4) {
            if (!MeasureMovi(pState, ullPos + 12, ullPos + 8 + cb, FALSE, pMeasure)) return FALSE;
            ullResolved = 4;
        } else if (fFrame && cb >= sizeof(REFRECORD) && ReadAt(pState->hIn, ullPos + 8, &rec, sizeof(rec)) &&
                   IsRefRecord(&rec, sizeof(rec))) {
            rec.szFileName[MAX_PATH - 1] = '\0';
            CHAR szPath[MAX_PATH];
            if (!MapRefPath(rec.szFileName, szPath))
                return Fail(pState, "frame %lu: the reference file's name is too long: %s",
                            "フレーム %lu: 参照ファイル名が長すぎます: %s", rec.szFileName);
            if (strcmp(szPath, pMeasure->szFile) != 0) {
                snprintf(pMeasure->szFile, sizeof(pMeasure->szFile), "%s", szPath);
                // A regular file: a device or a FIFO of that name is never
                // opened for reading.
                FILEFACTS facts;
                LookAtName(szPath, &facts);
                pMeasure->fFileThere = facts.nKind == FILEKIND_FILE;
                pMeasure->ullFileSize = facts.ullSize;
            }
            if (!pMeasure->fFileThere)
                return Fail(pState, "frame %lu: reference file %s cannot be opened",
                            "フレーム %lu: 参照ファイル%sがオープンできません", szPath);
            ullResolved = RefRecordFrameSize(&rec);
            if ((unsigned long long)rec.dwOffset + ullResolved > pMeasure->ullFileSize)
                return Fail(pState, "frame %lu: no frame of the record's size in %s",
                            "フレーム %lu: %sにレコードのサイズのフレームがありません", szPath);
            if (!RefRecordIsRaw(&rec)) {
                pMeasure->nCoded++;
            } else if (pMeasure->nRaw++ == 0) {
                pMeasure->iRawStream = CursorOf(adw[0]);
                HANDLE hRef = CreateFileA(szPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
                BOOL fHeader = hRef != INVALID_HANDLE_VALUE &&
                               ReadAt(hRef, rec.dwOffset, &pMeasure->rawHeader, sizeof(pMeasure->rawHeader)) &&
                               FrameHeaderFits(&pMeasure->rawHeader, RefRecordFrameSize(&rec));
                if (hRef != INVALID_HANDLE_VALUE) CloseHandle(hRef);
                if (!fHeader)
                    return Fail(pState, "frame %lu: no frame of the record's size in %s",
                                "フレーム %lu: %sにレコードのサイズのフレームがありません", szPath);
            }
        } else if (fFrame && cb) {
            pMeasure->aullPlain[CursorOf(adw[0])]++;
        }
        pMeasure->ullBytes += 8 + ullResolved + 1;
        ullPos += 8ull + adw[1] + (adw[1] & 1);
    }
    return TRUE;
}

// The format of the raw frames that the records name, from the first one's
// header: uncompressed RGB, its depth told by the data's size (rows of
// whole DWORDs). FALSE after a message when the stream mixes raw frames
// with compressed ones, which no one format can describe, or when the size
// fits no depth (RLE and palette input carry what the header does not
// hold).
BOOL TakeRawFormat(RESOLVE *pState)
{
    const MEASURE *pMeasure = &pState->measure;
    if (!pMeasure->nRaw) return TRUE;
    if (pMeasure->nCoded || pMeasure->aullPlain[pMeasure->iRawStream]) {
        Complain("%s: the stream mixes records of raw frames with compressed frames; no one format describes it, so it cannot be resolved",
                 "%s: ストリームに非圧縮フレームのレコードと圧縮フレームが混在しているため, 一つの形式で表せず解決できません",
                 pState->pszAvi);
        return FALSE;
    }
    const REFFRAMEHEADER *pHeader = &pMeasure->rawHeader;
    LONG lWidth = pHeader->wWidth, lHeight = pHeader->wHeight;
    static const WORD s_awBits[] = {24, 32, 16};
    for (WORD wBits : s_awBits) {
        unsigned long long cbRow = ((unsigned long long)lWidth * wBits + 31) / 32 * 4;
        if (lWidth > 0 && lHeight != 0 && cbRow * (lHeight < 0 ? -lHeight : lHeight) == pHeader->dwDataSize) {
            BITMAPINFOHEADER *pbi = &pState->biRaw;
            memset(pbi, 0, sizeof(*pbi));
            pbi->biSize = sizeof(*pbi);
            pbi->biWidth = lWidth;
            pbi->biHeight = lHeight;
            pbi->biPlanes = 1;
            pbi->biBitCount = wBits;
            pbi->biCompression = BI_RGB;
            pbi->biSizeImage = pHeader->dwDataSize;
            pState->iRawStream = pMeasure->iRawStream;
            return TRUE;
        }
    }
    Complain("%s: the raw frames' format cannot be told: %lu bytes are no 16-, 24- or 32-bit RGB picture of %ld by %ld",
             "%s: 非圧縮フレームの形式が分かりません: %lu バイトは %ld × %ld の16, 24, 32ビットRGB画像ではありません", pState->pszAvi,
             (unsigned long)pHeader->dwDataSize, (long)lWidth, (long)lHeight);
    return FALSE;
}

BOOL IsVideoChunk(const RESOLVE *pState, FOURCC ckid)
{
    BYTE c = (BYTE)(ckid >> 16), d = (BYTE)(ckid >> 24);
    return pState->iVideo >= 0 && StreamOf(pState, ckid) == pState->iVideo && c == 'd' && (d == 'c' || d == 'b');
}

// Resolves the chunks of a list's data from ullPos to ullEnd of the input;
// fTop for those of the movi list itself.
BOOL ResolveChunks(RESOLVE *pState, unsigned long long ullPos, unsigned long long ullEnd, BOOL fTop)
{
    while (ullPos + 8 <= ullEnd && !pState->fFailed) {
        DWORD adw[3];
        if (!ReadAt(pState->hIn, ullPos, adw, 8))
            return Fail(pState, "frame %lu: %s cannot be read", "フレーム %lu: %sが読み出せません", pState->pszAvi);
        FOURCC ckid = adw[0];
        DWORD cb = adw[1];
        unsigned long long ullData = ullPos + 8;
        // A chunk that claims more than its list holds is taken as far as
        // it goes.
        if (ullData + cb > ullEnd) cb = (DWORD)(ullEnd - ullData);
        DWORD dwFlags = 0;
        ShowProgress(ullPos);
        if (ckid == FOURCC_LIST && cb >= 4 && fTop) {
            // A list of chunks ("rec "): its children one by one. The index
            // lists it by its type. Lists in it are copied as they are.
            if (!ReadAt(pState->hIn, ullData, &adw[2], 4))
                return Fail(pState, "frame %lu: %s cannot be read", "フレーム %lu: %sが読み出せません", pState->pszAvi);
            BOOL fIndexed = pState->fStdFlags ? FALSE : TakeIndexFlags(pState, ullPos, adw[2], &dwFlags);
            // The list takes in the output what its resolved frames take.
            MEASURE *pMeasure = &pState->measure;
            pMeasure->ullBytes = 0;
            pMeasure->nVideo = pState->nVideo;
            DWORD dwFrame = pState->dwFrame;
            if (!MeasureMovi(pState, ullData + 4, ullData + cb, FALSE, pMeasure)) return FALSE;
            pState->dwFrame = dwFrame;
            MakeRoom(pState, pMeasure->ullBytes > 0xFFFFFFF0ull ? 0xFFFFFFF0u : (DWORD)pMeasure->ullBytes);
            unsigned long long ullList = pState->out.ullPos;
            PutDword(&pState->out, FOURCC_LIST);
            PutDword(&pState->out, 0);
            PutDword(&pState->out, adw[2]);
            unsigned long long ullEntry = pState->index.ullPos;
            BOOL fListed = fIndexed && pState->fFirstRiff;
            IndexChunk(pState, adw[2], fIndexed, dwFlags, ullList, 0, FALSE);
            ResolveChunks(pState, ullData + 4, ullData + cb, FALSE);
            if (pState->out.ullPos - ullList > 0xFFFFFFF0ull)
                return Fail(pState, "frame %lu: a list of %s would pass 4 GiB", "フレーム %lu: %s のリストが4GiBを超えます",
                            pState->pszOut);
            DWORD cbList = (DWORD)(pState->out.ullPos - ullList - 8);
            PatchDword(&pState->out, ullList + 4, cbList);
            // The list's entry gets the list's size.
            if (fListed) PatchDword(&pState->index, ullEntry + 12, cbList);
        } else {
            BOOL fIndexed = pState->fStdFlags ? TakeStdFlags(pState, ullPos, ckid, &dwFlags)
                                              : TakeIndexFlags(pState, ullPos, ckid, &dwFlags);
            BOOL fVideo = IsVideoChunk(pState, ckid);
            REFRECORD rec;
            if (fVideo) pState->dwFrame = pState->nVideo++;
            if (fVideo && cb >= sizeof(rec) && ReadAt(pState->hIn, ullData, &rec, sizeof(rec)) &&
                IsRefRecord(&rec, sizeof(rec))) {
                rec.szFileName[MAX_PATH - 1] = '\0';
                if (!WriteRecordFrame(pState, &rec, ckid, dwFlags, fIndexed, fTop)) return FALSE;
            } else if ((ckid & 0xFFFF) == mmioFOURCC('i', 'x', 0, 0)) {
                // The input's own standard indexes are made anew.
            } else {
                if (fTop) MakeRoom(pState, cb);
                unsigned long long ullChunk = pState->out.ullPos;
                PutDword(&pState->out, ckid);
                PutDword(&pState->out, cb);
                if (!CopyBytes(pState, pState->hIn, ullData, cb))
                    return Fail(pState, "frame %lu: %s cannot be read", "フレーム %lu: %sが読み出せません", pState->pszAvi);
                if (cb & 1) Put(&pState->out, "", 1);
                IndexChunk(pState, ckid, fIndexed, dwFlags, ullChunk, cb, TRUE);
                if (cb > pState->cbLargestChunk) pState->cbLargestChunk = cb;
            }
        }
        ullPos = ullData + cb + (cb & 1);
    }
    return !pState->fFailed && !pState->out.fFailed;
}

// The chunk of that id (and list type, unless 0) among the chunks from
// ullPos to ullEnd; its place and data size.
BOOL FindChunk(HANDLE h, unsigned long long ullPos, unsigned long long ullEnd, FOURCC ckid, FOURCC fccType,
               unsigned long long *pullAt, DWORD *pcb)
{
    while (ullPos + 8 <= ullEnd) {
        DWORD adw[3];
        if (!ReadAt(h, ullPos, adw, 8)) return FALSE;
        BOOL fList = adw[0] == FOURCC_LIST && adw[1] >= 4 && ReadAt(h, ullPos + 8, &adw[2], 4);
        if (adw[0] == ckid && (!fccType || (fList && adw[2] == fccType))) {
            *pullAt = ullPos;
            *pcb = adw[1];
            return TRUE;
        }
        ullPos += 8ull + adw[1] + (adw[1] & 1);
    }
    return FALSE;
}

// Copies one chunk of the input (its header at ullAt) to the output, as far
// as ullEnd; FALSE after a message.
BOOL CopyChunk(RESOLVE *pState, unsigned long long ullAt, unsigned long long ullEnd)
{
    DWORD adw[2];
    if (!ReadAt(pState->hIn, ullAt, adw, 8))
        return Fail(pState, "frame %lu: %s cannot be read", "フレーム %lu: %sが読み出せません", pState->pszAvi);
    DWORD cb = adw[1];
    if (ullAt + 8 + cb > ullEnd) cb = (DWORD)(ullEnd - ullAt - 8);
    PutDword(&pState->out, adw[0]);
    PutDword(&pState->out, cb);
    if (!CopyBytes(pState, pState->hIn, ullAt + 8, cb))
        return Fail(pState, "frame %lu: %s cannot be read", "フレーム %lu: %sが読み出せません", pState->pszAvi);
    if (cb & 1) Put(&pState->out, "", 1);
    return TRUE;
}

// The header list: the input's chunks, each stream list with a super index
// of room for as many standard indexes as the stream may need, and an
// "odml" list.
void WriteHeaderList(RESOLVE *pState, unsigned long long ullHdrl, DWORD cbHdrl)
{
    unsigned long long ullEnd = ullHdrl + 8 + cbHdrl;
    if (ullEnd > pState->ullRiffEnd) ullEnd = pState->ullRiffEnd;
    unsigned long long ullList = pState->out.ullPos;
    PutDword(&pState->out, FOURCC_LIST);
    PutDword(&pState->out, 0);
    PutDword(&pState->out, mmioFOURCC('h', 'd', 'r', 'l'));
    for (unsigned long long ullAt = ullHdrl + 12; ullAt + 8 <= ullEnd && !pState->out.fFailed;) {
        DWORD adw[3] = {0, 0, 0};
        if (!ReadAt(pState->hIn, ullAt, adw, 8)) break;
        BOOL fList = adw[0] == FOURCC_LIST && adw[1] >= 4 && ReadAt(pState->hIn, ullAt + 8, &adw[2], 4);
        unsigned long long ullNext = ullAt + 8 + adw[1] + (adw[1] & 1);
        if (adw[0] == mmioFOURCC('a', 'v', 'i', 'h')) {
            pState->ullAvih = pState->out.ullPos;
            pState->cbAvih = adw[1];
            CopyChunk(pState, ullAt, ullEnd);
        } else if (fList && adw[2] == mmioFOURCC('o', 'd', 'm', 'l')) {
            // Made anew below.
        } else if (fList && adw[2] == mmioFOURCC('s', 't', 'r', 'l') && pState->nStreams < MAX_STREAMS) {
            STREAMOUT *pStream = &pState->aStreams[pState->nStreams];
            unsigned long long ullStrl = pState->out.ullPos;
            PutDword(&pState->out, FOURCC_LIST);
            PutDword(&pState->out, 0);
            PutDword(&pState->out, mmioFOURCC('s', 't', 'r', 'l'));
            unsigned long long ullStrlEnd = ullAt + 8 + adw[1] < ullEnd ? ullAt + 8 + adw[1] : ullEnd;
            for (unsigned long long ullChild = ullAt + 12; ullChild + 8 <= ullStrlEnd;) {
                DWORD adwChild[4];
                if (!ReadAt(pState->hIn, ullChild, adwChild, 8)) break;
                if (adwChild[0] == mmioFOURCC('s', 't', 'r', 'h') && adwChild[1] >= 4 &&
                    ReadAt(pState->hIn, ullChild + 8, &adwChild[2], 4)) {
                    pStream->fccType = adwChild[2];
                    if (pStream->fccType == streamtypeVIDEO && pState->iVideo < 0) {
                        pState->iVideo = pState->nStreams;
                        pState->ullVideoStrh = pState->out.ullPos;
                        pState->cbVideoStrh = adwChild[1];
                    }
                }
                if (adwChild[0] == mmioFOURCC('s', 't', 'r', 'f') && pStream->fccType == streamtypeAUDIO &&
                    adwChild[1] >= 14 && ReadAt(pState->hIn, ullChild + 8 + 12, &adwChild[2], 2))
                    pStream->nBlockAlign = adwChild[2] & 0xFFFF;
                BOOL fRawStream = pState->nStreams == pState->iRawStream && pStream->fccType == streamtypeVIDEO;
                if (fRawStream && adwChild[0] == mmioFOURCC('s', 't', 'r', 'f')) {
                    // Raw frames: the format they are in, not the codec's.
                    PutDword(&pState->out, adwChild[0]);
                    PutDword(&pState->out, sizeof(pState->biRaw));
                    Put(&pState->out, &pState->biRaw, sizeof(pState->biRaw));
                } else if (adwChild[0] != mmioFOURCC('i', 'n', 'd', 'x') && adwChild[0] != mmioFOURCC('J', 'U', 'N', 'K')) {
                    unsigned long long ullCopied = pState->out.ullPos;
                    CopyChunk(pState, ullChild, ullStrlEnd);
                    // Raw frames need no codec: the handler is left empty.
                    if (fRawStream && adwChild[0] == mmioFOURCC('s', 't', 'r', 'h') && adwChild[1] >= 8)
                        PatchDword(&pState->out, ullCopied + 8 + 4, 0);
                }
                ullChild += 8ull + adwChild[1] + (adwChild[1] & 1);
            }
            pStream->ullIndx = pState->out.ullPos;
            DWORD nSuperCap = pState->anSuperCap[pState->nStreams];
            pStream->nSuperCap = nSuperCap;
            pStream->pSuper = (ODMLSUPERENTRY *)calloc(nSuperCap, sizeof(ODMLSUPERENTRY));
            if (!pStream->pSuper) pState->out.fFailed = TRUE;
            PutDword(&pState->out, mmioFOURCC('i', 'n', 'd', 'x'));
            PutDword(&pState->out, INDEX_HEADER + 16 * nSuperCap);
            PutZeros(&pState->out, INDEX_HEADER + 16 * nSuperCap);
            PatchDword(&pState->out, ullStrl + 4, (DWORD)(pState->out.ullPos - ullStrl - 8));
            pState->nStreams++;
        } else {
            CopyChunk(pState, ullAt, ullEnd);
        }
        ullAt = ullNext;
    }
    PutDword(&pState->out, FOURCC_LIST);
    PutDword(&pState->out, 4 + 8 + ODML_DMLH_SIZE);
    PutDword(&pState->out, mmioFOURCC('o', 'd', 'm', 'l'));
    PutDword(&pState->out, mmioFOURCC('d', 'm', 'l', 'h'));
    PutDword(&pState->out, ODML_DMLH_SIZE);
    pState->ullDmlh = pState->out.ullPos;
    PutZeros(&pState->out, ODML_DMLH_SIZE);
    PatchDword(&pState->out, ullList + 4, (DWORD)(pState->out.ullPos - ullList - 8));
}

// Fills each stream's super index and the counts of the headers.
void FinishHeaders(RESOLVE *pState)
{
    for (int i = 0; i < pState->nStreams; i++) {
        STREAMOUT *pStream = &pState->aStreams[i];
        ODMLINDEXHEADER header;
        memset(&header, 0, sizeof(header));
        header.wLongsPerEntry = 4;
        header.bIndexType = ODML_INDEX_OF_INDEXES;
        header.nEntriesInUse = pStream->nSuper;
        header.dwChunkId = pStream->dwChunkId;
        PatchBytes(&pState->out, pStream->ullIndx + 8, &header, sizeof(header));
        for (DWORD k = 0; k < pStream->nSuper; k++)
            PatchBytes(&pState->out, pStream->ullIndx + 8 + INDEX_HEADER + 16ull * k, &pStream->pSuper[k], 16);
    }
    PatchDword(&pState->out, pState->ullDmlh, pState->nFrames);
    // The first RIFF's frames, and the buffers that players are told to have.
    // Only fields that the chunks hold are written.
    if (pState->ullAvih && pState->cbAvih >= 32) {
        PatchDword(&pState->out, pState->ullAvih + 8 + 16, pState->nFramesFirst);
        PatchDword(&pState->out, pState->ullAvih + 8 + 28, pState->cbLargestChunk);
    }
    if (pState->ullVideoStrh && pState->cbVideoStrh >= 40)
        PatchDword(&pState->out, pState->ullVideoStrh + 8 + 36, pState->cbLargestChunk);
}

}  // namespace

int ResolveCommand(int argc, char **argv)
{
    LPCSTR pszAvi = NULL, pszOut = NULL;
    for (int i = 0; i < argc; i++) {
        LPCSTR pszValue = NULL;
        if (TakeOption(argc, argv, &i, "--map", NULL, &pszValue)) {
            if (!pszValue || !AddPathMap(pszValue)) return UsageError("resolve", pszValue ? pszValue : argv[i]);
        } else if (TakeOption(argc, argv, &i, "--output", "-o", &pszValue)) {
            if (!pszValue) return UsageError("resolve", argv[i]);
            pszOut = pszValue;
        } else if (argv[i][0] == '-' || pszAvi) {
            return UsageError("resolve", argv[i]);
        } else {
            pszAvi = argv[i];
        }
    }
    if (!pszAvi || !pszOut) return UsageError("resolve", pszAvi ? "-o OUT.avi" : "AVI");

    RESOLVE state;
    memset(&state, 0, sizeof(state));
    state.pszAvi = pszAvi;
    state.pszOut = pszOut;
    state.iVideo = -1;
    state.iRawStream = -1;
    state.fFirstRiff = TRUE;
    state.ullRiffLimit = RIFF_LIMIT;
    LPCSTR pszLimit = getenv("SPOOL_RIFF_LIMIT");
    if (pszLimit && strtoull(pszLimit, NULL, 10) >= 4096) state.ullRiffLimit = strtoull(pszLimit, NULL, 10);
    state.hRef = INVALID_HANDLE_VALUE;
    state.out.h = state.index.h = INVALID_HANDLE_VALUE;
    state.hIn = CreateFileA(pszAvi, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (state.hIn == INVALID_HANDLE_VALUE) {
        Complain("%s cannot be opened", "%sがオープンできません", pszAvi);
        return SPOOL_ERROR;
    }
    CacheFile(CACHE_INPUT, state.hIn);
    DWORD dwHigh = 0;
    DWORD dwLow = GetFileSize(state.hIn, &dwHigh);
    state.ullInSize = ((unsigned long long)dwHigh << 32) | dwLow;

    int nStatus = SPOOL_ERROR;
    CHAR szTemp[MAX_PATH] = "";
    BOOL fTempMade = FALSE, fIndexMade = FALSE;
    // The working files' identities from their making: only they are
    // renamed or deleted later.
    GATEPROOF tempProof = {GATE_MADE, {0, 0, 0}, 0}, indexProof = {GATE_MADE, {0, 0, 0}, 0};
    DWORD adwRiff[3] = {0, 0, 0};
    unsigned long long ullHdrl = 0, ullMovi = 0;
    DWORD cbHdrl = 0, cbMovi = 0;
    BOOL fRiff = ReadAt(state.hIn, 0, adwRiff, 12) && adwRiff[0] == FOURCC_RIFF &&
                 adwRiff[2] == mmioFOURCC('A', 'V', 'I', ' ');
    // A form that claims more than the file holds is read as far as it goes.
    state.ullRiffEnd = 8ull + adwRiff[1] < state.ullInSize ? 8ull + adwRiff[1] : state.ullInSize;
    if (!fRiff) {
        Complain("%s is not an AVI", "%sはAVIファイルではありません", pszAvi);
    } else if (!FindChunk(state.hIn, 12, state.ullRiffEnd, FOURCC_LIST, mmioFOURCC('h', 'd', 'r', 'l'), &ullHdrl, &cbHdrl) ||
               !FindChunk(state.hIn, 12, state.ullRiffEnd, FOURCC_LIST, mmioFOURCC('m', 'o', 'v', 'i'), &ullMovi, &cbMovi) ||
               ullMovi < ullHdrl) {
        Complain("%s has no header list or no movi list", "%sにhdrlまたはmoviリストがありません", pszAvi);
    } else if (SameFile(pszAvi, pszOut)) {
        // The AVI of records would be replaced: its records, and the names
        // of its reference files, would be gone.
        Complain("the output %s is the AVI being resolved; choose another name",
                 "出力先%sは解決するAVIファイルです. 別の名前を選んで下さい", pszOut);
    } else if (snprintf(szTemp, sizeof(szTemp), "%s.part", pszOut) >= (int)sizeof(szTemp) ||
               snprintf(state.szIndexFile, sizeof(state.szIndexFile), "%s.idx.part", pszOut) >=
                   (int)sizeof(state.szIndexFile)) {
        szTemp[0] = state.szIndexFile[0] = '\0';
        Complain("%s: the path is too long", "%s: パスが長すぎます", pszOut);
    } else {
        // The index, whose offsets count from "movi" or from the file's start.
        unsigned long long ullIdx1 = 0;
        DWORD cbIdx1 = 0;
        if (FindChunk(state.hIn, 12, state.ullRiffEnd, mmioFOURCC('i', 'd', 'x', '1'), 0, &ullIdx1, &cbIdx1)) {
            state.ullIdx1 = ullIdx1 + 8;
            unsigned long long ullHeld = state.ullInSize > state.ullIdx1 ? state.ullInSize - state.ullIdx1 : 0;
            state.nIdx1 = (DWORD)((cbIdx1 < ullHeld ? cbIdx1 : ullHeld) / 16);
            // Offsets count from "movi" unless only the file's start puts the
            // first entry's chunk (or list) where it says.
            AVIINDEXENTRY first;
            BOOL fFirst = state.nIdx1 && ReadAt(state.hIn, state.ullIdx1, &first, sizeof(first));
            BOOL fRelative = fFirst && EntryPointsAt(&state, ullMovi + 8 + first.dwChunkOffset, &first);
            BOOL fAbsolute = fFirst && EntryPointsAt(&state, first.dwChunkOffset, &first);
            state.ullIndexBase = fAbsolute && !fRelative ? 0 : ullMovi + 8;
        }
        unsigned long long ullMoviEnd = ullMovi + 8 + cbMovi < state.ullRiffEnd ? ullMovi + 8 + cbMovi : state.ullRiffEnd;
        state.ullTrailer = ullMovi + 8 + cbMovi + (cbMovi & 1);
        // Room in each super index: a standard index for each RIFF. Two RIFFs
        // in a row hold more than the limit, and a RIFF also ends when a
        // standard index is full.
        // The movi lists of an OpenDML AVI's further RIFFs.
        for (unsigned long long ullAt = state.ullRiffEnd + (state.ullRiffEnd & 1); ullAt + 12 <= state.ullInSize;) {
            DWORD adw[3];
            if (!ReadAt(state.hIn, ullAt, adw, 12)) break;
            unsigned long long ullEnd = ullAt + 8 + adw[1] < state.ullInSize ? ullAt + 8 + adw[1] : state.ullInSize;
            unsigned long long ullList = 0;
            DWORD cbList = 0;
            if (adw[0] == FOURCC_RIFF && adw[2] == mmioFOURCC('A', 'V', 'I', 'X') && state.nAvix < MAX_AVIX &&
                FindChunk(state.hIn, ullAt + 12, ullEnd, FOURCC_LIST, mmioFOURCC('m', 'o', 'v', 'i'), &ullList, &cbList)) {
                state.aullAvixRiff[state.nAvix] = ullAt + 12;
                state.aullAvixRiffEnd[state.nAvix] = ullEnd;
                state.aullAvix[state.nAvix] = ullList + 12;
                state.aullAvixEnd[state.nAvix++] = ullList + 8 + cbList < ullEnd ? ullList + 8 + cbList : ullEnd;
            }
            ullAt += 8ull + adw[1] + (adw[1] & 1);
        }
        MEASURE *pMeasure = &state.measure;
        BOOL fMeasured = MeasureMovi(&state, ullMovi + 12, ullMoviEnd, TRUE, pMeasure);
        for (int k = 0; fMeasured && k < state.nAvix; k++)
            fMeasured = MeasureMovi(&state, state.aullAvix[k], state.aullAvixEnd[k], TRUE, pMeasure);
        state.dwFrame = 0;
        if (fMeasured && !TakeRawFormat(&state)) state.fFailed = TRUE;
        unsigned long long ullRiffs =
            2 * (pMeasure->ullBytes + 32 * pMeasure->ullChunks + state.ullInSize) / state.ullRiffLimit + 1;
        // Each stream's super index: a standard index for each RIFF it has
        // chunks in, and for each one that fills up.
        for (int i = 0; fMeasured && i < MAX_STREAMS; i++) {
            unsigned long long ullChunks = pMeasure->aullChunks[i];
            unsigned long long ullSuper = 16 + (ullRiffs < ullChunks + 1 ? ullRiffs : ullChunks + 1) + ullChunks / STDINDEX_CAP;
            state.anSuperCap[i] = ullSuper > (1u << 22) ? (1u << 22) : (DWORD)ullSuper;
        }
        state.pbCopy = (BYTE *)malloc(COPY_PIECE);
        state.out.pb = (BYTE *)malloc(OUT_BUFFER);
        state.index.pb = (BYTE *)malloc(OUT_BUFFER);
        // The working files are made new: a file of those names that is
        // there already is someone else's and stays as it is.
        LPCSTR pszExisting = NULL;
        if (!state.fFailed) {
            state.out.h = GateCreateNew(szTemp, GENERIC_READ | GENERIC_WRITE, &tempProof.id);
            if (state.out.h != INVALID_HANDLE_VALUE) fTempMade = TRUE;
            else if (NameTaken(szTemp)) pszExisting = szTemp;
            state.index.h = GateCreateNew(state.szIndexFile, GENERIC_READ | GENERIC_WRITE, &indexProof.id);
            if (state.index.h != INVALID_HANDLE_VALUE) fIndexMade = TRUE;
            else if (NameTaken(state.szIndexFile)) pszExisting = state.szIndexFile;
        }
        if (state.fFailed) {
            // Said already: a record that its file cannot hold.
        } else if (!state.pbCopy || !state.out.pb || !state.index.pb) {
            Complain("out of memory", "メモリが確保できません");
        } else if (pszExisting) {
            Complain("%s is there already and is left as it is: remove it, or choose another output name",
                     "%sがすでにあるため, そのままにしました. 削除するか, 別の出力先を選んで下さい", pszExisting);
        } else if (state.out.h == INVALID_HANDLE_VALUE || state.index.h == INVALID_HANDLE_VALUE) {
            Complain("%s cannot be created", "%sが作成できません", szTemp);
        } else {
            StartOutWriter(&state.out);
            PutDword(&state.out, FOURCC_RIFF);
            PutDword(&state.out, 0);
            PutDword(&state.out, mmioFOURCC('A', 'V', 'I', ' '));
            // What stands before movi: the header list made anew, the rest
            // as it is.
            for (unsigned long long ullAt = 12; ullAt < ullMovi && ullAt + 8 <= state.ullRiffEnd && !state.out.fFailed;) {
                DWORD adw[2];
                if (!ReadAt(state.hIn, ullAt, adw, 8)) break;
                if (ullAt == ullHdrl) WriteHeaderList(&state, ullHdrl, cbHdrl);
                else CopyChunk(&state, ullAt, ullMovi);
                ullAt += 8ull + adw[1] + (adw[1] & 1);
            }
            StartMovi(&state);
            BeginProgress("resolve", state.ullInSize, PROGRESS_BYTES);
            BOOL fResolved = ResolveChunks(&state, ullMovi + 12, ullMoviEnd, TRUE);
            for (int k = 0; fResolved && k < state.nAvix; k++) {
                LoadStdFlags(&state, state.aullAvixRiff[k], state.aullAvixRiffEnd[k]);
                fResolved = ResolveChunks(&state, state.aullAvix[k], state.aullAvixEnd[k], TRUE);
            }
            if (fResolved) {
                EndProgress();
                EndSegment(&state);
                FinishHeaders(&state);
                BOOL fWritten = DrainOut(&state.out) && FlushFileBuffers(state.out.h) && !state.fFailed;
                CloseHandle(state.out.h);
                state.out.h = INVALID_HANDLE_VALUE;
                if (state.fFailed) {
                    // Said already.
                } else if (!fWritten) {
                    Complain("%s cannot be written", "%sに書き込めません", szTemp);
                } else if (GateRename(szTemp, &tempProof, pszOut, TRUE) != GATE_DONE) {
                    Complain("%s cannot be created", "%sが作成できません", pszOut);
                } else {
                    Say(g_pOut, "%s: %lu frames resolved\n", "%s: %lu フレームを解決しました\n", pszOut,
                        (unsigned long)state.nResolved);
                    nStatus = SPOOL_OK;
                    // Entries of the input's index that named no chunk in
                    // the order of movi: those chunks were taken as key frames.
                    DWORD nLost = state.nIdx1 - state.nMatched;
                    if (nLost) {
                        Complain("%lu entries of the index of %s matched no chunk at the place they name; chunks they did not list were taken as key frames",
                                 "%lu 個の%sのインデックスエントリが示す位置のチャンクと一致しません. 一覧にないチャンクはキーフレームとしました",
                                 (unsigned long)nLost, pszAvi);
                        nStatus = SPOOL_PROBLEMS;
                    }
                }
            } else if (!state.fFailed) {
                Complain("%s cannot be written", "%sに書き込めません", szTemp);
            }
        }
    }
    EndProgress();
    StopOutWriter(&state.out);
    if (state.out.h != INVALID_HANDLE_VALUE) CloseHandle(state.out.h);
    if (state.index.h != INVALID_HANDLE_VALUE) CloseHandle(state.index.h);
    if (state.hRef != INVALID_HANDLE_VALUE) CloseHandle(state.hRef);
    CloseHandle(state.hIn);
    if (fIndexMade) GateDelete(state.szIndexFile, &indexProof);
    if (nStatus != SPOOL_OK && fTempMade) GateDelete(szTemp, &tempProof);
    for (int i = 0; i < state.nStreams; i++) {
        free(state.aStreams[i].pSuper);
        free(state.aStreams[i].pEntries);
    }
    for (IDXCURSOR &cursor : state.aCursors) free(cursor.pBuf);
    FreeReadCaches();
    for (STDFLAG *pFlags : state.apFlags) free(pFlags);
    free(state.pbCopy);
    free(state.out.pb);
    free(state.index.pb);
    return nStatus;
}
