#include "avi/aviread.h"

#include "scaffold/odml.h"

#include <stdlib.h>
#include <string.h>

int AviStreamOfId(FOURCC ckid)
{
    char c0 = (char)(ckid & 0xFF), c1 = (char)((ckid >> 8) & 0xFF);
    if (c0 < '0' || c0 > '9' || c1 < '0' || c1 > '9') return -1;
    return (c0 - '0') * 10 + (c1 - '0');
}

void FreeAvi(AVIREAD *pAvi)
{
    for (int i = 0; i < AVI_MAX_STREAMS; i++) {
        free(pAvi->aStreams[i].pbStrf);
        free(pAvi->aStreams[i].pChunks);
        pAvi->aStreams[i].pbStrf = NULL;
        pAvi->aStreams[i].pChunks = NULL;
        pAvi->aStreams[i].nChunks = 0;
    }
    free(pAvi->pRiffs);
    pAvi->pRiffs = NULL;
    pAvi->nRiffs = 0;
    RiffCloseFile(&pAvi->file);
}

namespace {

#define ENTRIES_AT_ONCE 4096u
// An AVI of at most this many bytes is read whole at its first read: the
// walk over its chunks, and the reads of its chunks after the load through
// the same reader, copy it from the system's cache once.
#define AVI_WHOLE_MAX (16u << 20)

// A stream's chunk list as it grows (walks add one chunk at a time).
BOOL AddChunk(AVIREADSTREAM *pStream, DWORD *pnCap, const AVICHUNKREF *pChunk)
{
    if (pStream->nChunks == *pnCap) {
        if (*pnCap >= 0x7FFFFFFFu / sizeof(AVICHUNKREF)) return FALSE;
        DWORD nCap = *pnCap ? *pnCap * 2 : 64;
        AVICHUNKREF *p = (AVICHUNKREF *)realloc(pStream->pChunks, (size_t)nCap * sizeof(AVICHUNKREF));
        if (!p) return FALSE;
        pStream->pChunks = p;
        *pnCap = nCap;
    }
    pStream->pChunks[pStream->nChunks++] = *pChunk;
    return TRUE;
}

int ReadHeaderList(AVIREAD *pAvi, const RIFFCURSOR *pRiff, const RIFFCHUNK *pHdrl)
{
    RIFFCURSOR hdrl, child;
    RIFFCHUNK chunk, sub;
    if (!RiffEnter(pRiff, pHdrl, &hdrl)) return AVIREAD_NO_HDRL;
    pAvi->ullHdrl = pHdrl->ullPos;
    while (RiffNext(&hdrl, &chunk)) {
        if (chunk.ckid == mmioFOURCC('a', 'v', 'i', 'h') && !pAvi->cbAvih) {
            DWORD cb = RiffHeld(&chunk) < sizeof(pAvi->adwAvih) ? RiffHeld(&chunk) : (DWORD)sizeof(pAvi->adwAvih);
            if (cb && !RiffRead(&pAvi->file, chunk.ullData, pAvi->adwAvih, cb)) return AVIREAD_UNREADABLE;
            pAvi->cbAvih = cb ? cb : 1;
        } else if (chunk.fccType == mmioFOURCC('s', 't', 'r', 'l') && RiffEnter(&hdrl, &chunk, &child)) {
            if (pAvi->nStreams == AVI_MAX_STREAMS) continue;
            AVIREADSTREAM *pStream = &pAvi->aStreams[pAvi->nStreams++];
            while (RiffNext(&child, &sub)) {
                DWORD cb = RiffHeld(&sub);
                if (sub.ckid == mmioFOURCC('s', 't', 'r', 'h') && !pStream->cbStrh) {
                    pStream->cbStrh = cb < sizeof(pStream->adwStrh) ? cb : (DWORD)sizeof(pStream->adwStrh);
                    pStream->fStrhCut = sub.cbSize > pAvi->file.cbFile - sub.ullData;
                    if (!RiffRead(&pAvi->file, sub.ullData, pStream->adwStrh, pStream->cbStrh)) return AVIREAD_UNREADABLE;
                    pStream->fccType = pStream->adwStrh[0];
                    pStream->fccHandler = pStream->adwStrh[1];
                } else if (sub.ckid == mmioFOURCC('s', 't', 'r', 'f') && !pStream->pbStrf) {
                    pStream->pbStrf = (BYTE *)malloc(cb ? cb : 1);
                    if (!pStream->pbStrf) return AVIREAD_NO_MEMORY;
                    if (cb && !RiffRead(&pAvi->file, sub.ullData, pStream->pbStrf, cb)) return AVIREAD_UNREADABLE;
                    pStream->cbStrf = cb;
                    pStream->fStrfCut = sub.cbSize > pAvi->file.cbFile - sub.ullData;
                } else if (sub.ckid == mmioFOURCC('i', 'n', 'd', 'x') && !pStream->ullIndx) {
                    pStream->ullIndx = sub.ullData;
                    pStream->cbIndx = cb;
                }
            }
            if (child.fFailed) return AVIREAD_UNREADABLE;
        } else if (chunk.fccType == mmioFOURCC('o', 'd', 'm', 'l') && RiffEnter(&hdrl, &chunk, &child)) {
            if (RiffFind(&child, mmioFOURCC('d', 'm', 'l', 'h'), 0, &sub) && RiffHeld(&sub) >= 4 &&
                RiffRead(&pAvi->file, sub.ullData, &pAvi->nDmlhFrames, 4))
                pAvi->fDmlh = TRUE;
        }
    }
    if (hdrl.fFailed) return AVIREAD_UNREADABLE;
    return pAvi->cbAvih ? AVIREAD_OK : AVIREAD_NO_HDRL;
}

// The RIFFs of the file and their movi lists; with fFirstOnly, the first
// RIFF alone.
int FindRiffs(AVIREAD *pAvi, BOOL fFirstOnly)
{
    RIFFCURSOR top, riff;
    RIFFCHUNK chunk, child;
    RiffTopCursor(&pAvi->file, &top);
    int nCap = 0;
    while (!(fFirstOnly && pAvi->nRiffs) && RiffNext(&top, &chunk)) {
        BOOL fFirst = pAvi->nRiffs == 0;
        if (chunk.ckid != FOURCC_RIFF || chunk.fccType != (fFirst ? mmioFOURCC('A', 'V', 'I', ' ') : mmioFOURCC('A', 'V', 'I', 'X'))) {
            if (fFirst) return AVIREAD_NOT_AVI;
            // Other chunks between the RIFFs (fillers) are passed over; what
            // is no chunk ends the file's RIFFs.
            if (!RiffIsChunkId(chunk.ckid)) break;
            continue;
        }
        if (pAvi->nRiffs == nCap) {
            nCap = nCap ? nCap * 2 : 4;
            AVIRIFF *p = (AVIRIFF *)realloc(pAvi->pRiffs, (size_t)nCap * sizeof(AVIRIFF));
            if (!p) return AVIREAD_NO_MEMORY;
            pAvi->pRiffs = p;
        }
        AVIRIFF *pRiff = &pAvi->pRiffs[pAvi->nRiffs++];
        memset(pRiff, 0, sizeof(*pRiff));
        pRiff->ullPos = chunk.ullPos;
        pRiff->ullEnd = chunk.ullEnd;
        pRiff->fCut = chunk.fCut;
        if (!RiffEnter(&top, &chunk, &riff)) continue;
        while (RiffNext(&riff, &child)) {
            if (fFirst && child.fccType == mmioFOURCC('h', 'd', 'r', 'l') && !pAvi->ullHdrl) {
                int nResult = ReadHeaderList(pAvi, &riff, &child);
                if (nResult != AVIREAD_OK) return nResult;
            } else if (child.ckid == FOURCC_LIST && child.fccType == mmioFOURCC('m', 'o', 'v', 'i') && !pRiff->ullMovi) {
                pRiff->ullMovi = child.ullPos;
                pRiff->ullMoviData = child.ullData;
                pRiff->ullMoviEnd = child.ullEnd;
            } else if (fFirst && child.ckid == mmioFOURCC('i', 'd', 'x', '1') && !pAvi->ullIdx1) {
                pAvi->ullIdx1 = child.ullPos;
                pAvi->nIdx1 = RiffHeld(&child) / 16;
                if (child.fCut) pAvi->dwProblems |= AVIPROBLEM_IDX1_CUT;
            }
        }
        if (riff.fFailed) return AVIREAD_UNREADABLE;
    }
    if (top.fFailed) return AVIREAD_UNREADABLE;
    if (!pAvi->nRiffs) return AVIREAD_NOT_AVI;
    return pAvi->ullHdrl ? AVIREAD_OK : AVIREAD_NO_HDRL;
}

// TRUE when the chunk (or "rec " list) an idx1 entry names stands at ullPos.
BOOL EntryStandsAt(AVIREAD *pAvi, ULONGLONG ullPos, FOURCC ckid)
{
    DWORD adw[3];
    if (!RiffRead(&pAvi->file, ullPos, adw, 12)) return FALSE;
    if (adw[0] == ckid) return TRUE;
    return adw[0] == FOURCC_LIST && adw[2] == ckid;
}

// The first chunk of that id in the first movi list (in its "rec " lists
// too); 0 when there is none.
ULONGLONG FirstChunkOfId(AVIREAD *pAvi, FOURCC ckid)
{
    RIFFCURSOR movi, rec;
    RIFFCHUNK chunk;
    RiffRangeCursor(&pAvi->file, pAvi->pRiffs[0].ullMoviData, pAvi->pRiffs[0].ullMoviEnd, 1, &movi);
    RIFFCURSOR *pCursor = &movi;
    for (;;) {
        if (!RiffNext(pCursor, &chunk)) {
            if (pCursor == &movi) return 0;
            pCursor = &movi;
            continue;
        }
        if (chunk.ckid == ckid) return chunk.ullPos;
        if (!RiffIsChunkId(chunk.ckid)) return 0;
        if (pCursor == &movi && chunk.fccType == mmioFOURCC('r', 'e', 'c', ' ') && RiffEnter(&movi, &chunk, &rec))
            pCursor = &rec;
    }
}

// What idx1's offsets count from: movi or the file's start, whichever puts
// more of its first and last 16 entries at a chunk (or "rec " list) of
// their id; movi when both put as many (chunks of one size, as far apart as
// movi is from the file's start, fit both readings but at the ends, and
// most writers count from movi). When neither reading puts any entry at a
// chunk of its id (writers that count from elsewhere), the first entry of a
// stream is taken to name the first chunk of its id in movi.
void TellIdx1Base(AVIREAD *pAvi, const AVIINDEXENTRY *pEntries, DWORD n)
{
    ULONGLONG ullMoviType = pAvi->pRiffs[0].ullMovi + 8;
    pAvi->ullIdx1Base = ullMoviType;
    AVIINDEXENTRY aLast[16];
    DWORD nLast = 0;
    if (pAvi->nIdx1 > 16 && RiffRead(&pAvi->file, pAvi->ullIdx1 + 8 + 16ull * (pAvi->nIdx1 - 16), aLast, sizeof(aLast)))
        nLast = 16;
    DWORD nRelative = 0, nAbsolute = 0;
    for (DWORD i = 0; i < (n < 16 ? n : 16) + nLast; i++) {
        const AVIINDEXENTRY *pEntry = i < n && i < 16 ? &pEntries[i] : &aLast[i - (n < 16 ? n : 16)];
        nRelative += EntryStandsAt(pAvi, ullMoviType + pEntry->dwChunkOffset, pEntry->ckid);
        nAbsolute += EntryStandsAt(pAvi, pEntry->dwChunkOffset, pEntry->ckid);
    }
    if (nRelative || nAbsolute) {
        pAvi->fIdx1FromStart = nAbsolute > nRelative;
        pAvi->ullIdx1Base = pAvi->fIdx1FromStart ? 0 : ullMoviType;
        return;
    }
    for (DWORD i = 0; i < n; i++) {
        if (AviStreamOfId(pEntries[i].ckid) < 0) continue;
        ULONGLONG ullFirst = FirstChunkOfId(pAvi, pEntries[i].ckid);
        // Places count modulo 2^64: a base "below" the file's start is
        // taken back by the offsets.
        if (ullFirst) pAvi->ullIdx1Base = ullFirst - pEntries[i].dwChunkOffset;
        return;
    }
}

// Each stream's chunks from idx1, for the streams that have no list yet.
int ReadIdx1(AVIREAD *pAvi)
{
    AVIINDEXENTRY *pEntries = (AVIINDEXENTRY *)malloc(ENTRIES_AT_ONCE * sizeof(AVIINDEXENTRY));
    if (!pEntries) return AVIREAD_NO_MEMORY;
    ULONGLONG ullAt = pAvi->ullIdx1 + 8;
    DWORD anCount[AVI_MAX_STREAMS] = {0};
    // The first pass counts each stream's entries, so that each list is
    // made for exactly what it keeps.
    for (int nPass = 0; nPass < 2; nPass++) {
        for (DWORD i = 0; i < pAvi->nIdx1;) {
            DWORD n = pAvi->nIdx1 - i < ENTRIES_AT_ONCE ? pAvi->nIdx1 - i : ENTRIES_AT_ONCE;
            if (!RiffRead(&pAvi->file, ullAt + 16ull * i, pEntries, n * 16)) {
                free(pEntries);
                return AVIREAD_UNREADABLE;
            }
            if (i == 0 && nPass == 0) TellIdx1Base(pAvi, pEntries, n);
            ULONGLONG ullBase = pAvi->ullIdx1Base;
            for (DWORD k = 0; k < n; k++) {
                if (nPass == 0 && pEntries[k].ckid == mmioFOURCC('r', 'e', 'c', ' ')) pAvi->nIdx1Lists++;
                int iStream = AviStreamOfId(pEntries[k].ckid);
                if (iStream < 0 || iStream >= pAvi->nStreams || pAvi->aStreams[iStream].nSource != AVIINDEX_IDX1) continue;
                AVIREADSTREAM *pStream = &pAvi->aStreams[iStream];
                if (nPass == 0) {
                    anCount[iStream]++;
                    continue;
                }
                AVICHUNKREF *pChunk = &pStream->pChunks[pStream->nChunks++];
                pChunk->ullData = ullBase + pEntries[k].dwChunkOffset + 8;
                pChunk->cbData = pEntries[k].dwChunkLength;
                pChunk->ckid = pEntries[k].ckid;
                pChunk->dwFlags = (pEntries[k].dwFlags & AVIIF_KEYFRAME) ? AVICHUNK_KEY : 0;
                pChunk->dwIdx1Flags = pEntries[k].dwFlags;
            }
            i += n;
        }
        for (int s = 0; nPass == 0 && s < pAvi->nStreams; s++) {
            AVIREADSTREAM *pStream = &pAvi->aStreams[s];
            if (pStream->nSource != AVIINDEX_IDX1) continue;
            pStream->pChunks = (AVICHUNKREF *)malloc((size_t)(anCount[s] ? anCount[s] : 1) * sizeof(AVICHUNKREF));
            if (!pStream->pChunks) {
                free(pEntries);
                return AVIREAD_NO_MEMORY;
            }
        }
    }
    free(pEntries);
    return AVIREAD_OK;
}

// The "rec " lists that idx1 lists, when no stream takes its chunks from it.
int CountIdx1Lists(AVIREAD *pAvi)
{
    AVIINDEXENTRY *pEntries = (AVIINDEXENTRY *)malloc(ENTRIES_AT_ONCE * sizeof(AVIINDEXENTRY));
    if (!pEntries) return AVIREAD_NO_MEMORY;
    for (DWORD i = 0; i < pAvi->nIdx1;) {
        DWORD n = pAvi->nIdx1 - i < ENTRIES_AT_ONCE ? pAvi->nIdx1 - i : ENTRIES_AT_ONCE;
        if (!RiffRead(&pAvi->file, pAvi->ullIdx1 + 8 + 16ull * i, pEntries, n * 16)) {
            free(pEntries);
            return AVIREAD_UNREADABLE;
        }
        for (DWORD k = 0; k < n; k++) pAvi->nIdx1Lists += pEntries[k].ckid == mmioFOURCC('r', 'e', 'c', ' ');
        i += n;
    }
    free(pEntries);
    return AVIREAD_OK;
}

// A stream's chunks from its super index and the standard indexes that it
// lists; FALSE (a problem noted) when they cannot be read, the stream's list
// then left empty.
BOOL ReadOdmlStream(AVIREAD *pAvi, AVIREADSTREAM *pStream, ULONGLONG *pullBudget)
{
    ODMLINDEXHEADER super;
    if (pStream->cbIndx < sizeof(super) || !RiffRead(&pAvi->file, pStream->ullIndx, &super, sizeof(super)) ||
        super.bIndexType != ODML_INDEX_OF_INDEXES || super.wLongsPerEntry != 4)
        return FALSE;
    DWORD nSuper = (pStream->cbIndx - (DWORD)sizeof(super)) / (DWORD)sizeof(ODMLSUPERENTRY);
    if (super.nEntriesInUse < nSuper) nSuper = super.nEntriesInUse;
    ODMLSUPERENTRY *pSuper = (ODMLSUPERENTRY *)malloc((size_t)(nSuper ? nSuper : 1) * sizeof(ODMLSUPERENTRY));
    ODMLINDEXHEADER *pStd = (ODMLINDEXHEADER *)malloc((size_t)(nSuper ? nSuper : 1) * sizeof(ODMLINDEXHEADER));
    BOOL fRead = pSuper && pStd &&
                 (!nSuper || RiffRead(&pAvi->file, pStream->ullIndx + sizeof(super), pSuper, nSuper * (DWORD)sizeof(ODMLSUPERENTRY)));
    // A first pass over the standard indexes' headers counts their entries,
    // each index no more than its chunk holds.
    ULONGLONG ullTotal = 0;
    for (DWORD k = 0; fRead && k < nSuper; k++) {
        ULONGLONG ullAt = OdmlSuperOffset(&pSuper[k]);
        DWORD adw[2];
        fRead = RiffRead(&pAvi->file, ullAt, adw, 8) && RiffRead(&pAvi->file, ullAt + 8, &pStd[k], sizeof(pStd[k])) &&
                adw[1] <= pAvi->file.cbFile - ullAt - 8 && OdmlStandardEntries(&pStd[k], adw[1]);
        ullTotal += fRead ? pStd[k].nEntriesInUse : 0;
    }
    // Each entry takes 8 bytes of the file: indexes listed many times over
    // claim more chunks than the file can hold, and would have them kept.
    if (fRead && ullTotal > *pullBudget) {
        pAvi->dwProblems |= AVIPROBLEM_ODML_TOO_MANY;
        fRead = FALSE;
    }
    if (fRead) {
        *pullBudget -= ullTotal;
        pStream->pChunks = (AVICHUNKREF *)malloc((size_t)(ullTotal ? ullTotal : 1) * sizeof(AVICHUNKREF));
        fRead = pStream->pChunks != NULL;
    }
    DWORD *pdw = fRead ? (DWORD *)malloc(ENTRIES_AT_ONCE * 16) : NULL;
    fRead = fRead && pdw;
    for (DWORD k = 0; fRead && k < nSuper; k++) {
        const ODMLINDEXHEADER *pHeader = &pStd[k];
        ULONGLONG ullEntries = OdmlSuperOffset(&pSuper[k]) + 8 + sizeof(ODMLINDEXHEADER);
        DWORD wLongs = pHeader->wLongsPerEntry;
        for (DWORD i = 0; fRead && i < pHeader->nEntriesInUse;) {
            DWORD n = pHeader->nEntriesInUse - i < ENTRIES_AT_ONCE ? pHeader->nEntriesInUse - i : ENTRIES_AT_ONCE;
            fRead = RiffRead(&pAvi->file, ullEntries + 4ull * wLongs * i, pdw, 4 * wLongs * n);
            for (DWORD e = 0; fRead && e < n; e++) {
                const DWORD *pEntry = &pdw[(size_t)e * wLongs];
                AVICHUNKREF *pChunk = &pStream->pChunks[pStream->nChunks++];
                pChunk->ullData = OdmlBase(pHeader) + pEntry[0];
                pChunk->cbData = pEntry[1] & ODML_SIZEMASK;
                pChunk->ckid = pHeader->dwChunkId;
                pChunk->dwFlags = (pEntry[1] & ODML_NOT_KEYFRAME) ? 0 : AVICHUNK_KEY;
                pChunk->dwIdx1Flags = 0;
            }
            i += n;
        }
    }
    free(pdw);
    free(pSuper);
    free(pStd);
    if (!fRead) {
        free(pStream->pChunks);
        pStream->pChunks = NULL;
        pStream->nChunks = 0;
    }
    return fRead;
}

int CompareRefPlaces(const void *p1, const void *p2)
{
    ULONGLONG a = (*(const AVICHUNKREF *const *)p1)->ullData, b = (*(const AVICHUNKREF *const *)p2)->ullData;
    return a < b ? -1 : a > b ? 1 : 0;
}

// Walks the chunks of a movi list (its "rec " lists too): the streams that
// no index covers get their chunks from it; for the others, the chunks
// their index does not list are counted.
int WalkMovi(AVIREAD *pAvi, AVIPLACES *pPlaces, DWORD *pnMatched, DWORD *pnCap, ULONGLONG ullData, ULONGLONG ullEnd)
{
    RIFFCURSOR movi, rec;
    RIFFCHUNK chunk;
    RiffRangeCursor(&pAvi->file, ullData, ullEnd, 1, &movi);
    RIFFCURSOR *pCursor = &movi;
    for (;;) {
        if (!RiffNext(pCursor, &chunk)) {
            if (pCursor->fFailed) return AVIREAD_UNREADABLE;
            if (pCursor == &movi) break;
            pCursor = &movi;
            continue;
        }
        // What is no chunk (a preallocated tail of zeros) ends the list.
        if (!RiffIsChunkId(chunk.ckid)) {
            if (pCursor == &movi) break;
            pCursor = &movi;
            continue;
        }
        if (pAvi->pfnVisit && !pAvi->pfnVisit(pAvi->pVisitContext, pCursor, &chunk, pCursor == &movi)) return AVIREAD_STOPPED;
        if (pCursor == &movi && chunk.ckid == FOURCC_LIST && chunk.fccType == mmioFOURCC('r', 'e', 'c', ' ') &&
            RiffEnter(&movi, &chunk, &rec)) {
            pCursor = &rec;
            continue;
        }
        int iStream = AviStreamOfId(chunk.ckid);
        if (iStream < 0 || iStream >= pAvi->nStreams || chunk.ckid == FOURCC_LIST) continue;
        AVIREADSTREAM *pStream = &pAvi->aStreams[iStream];
        pStream->nWalked++;
        if (pStream->nSource == AVIINDEX_WALK) {
            AVICHUNKREF ref = {chunk.ullData, RiffHeld(&chunk), chunk.ckid, AVICHUNK_KEY, 0};
            if (!AddChunk(pStream, &pnCap[iStream], &ref)) return AVIREAD_NO_MEMORY;
        } else if (AviChunkAt(pPlaces, iStream, chunk.ullData)) {
            pnMatched[iStream]++;
        } else {
            pStream->nUnlisted++;
            pAvi->nUnlisted++;
        }
    }
    return AVIREAD_OK;
}

int WalkMoviLists(AVIREAD *pAvi)
{
    // The streams that are walked have no list yet, and theirs grows as the
    // walk goes: they are never looked up.
    AVIPLACES places;
    if (!AviStartPlaces(pAvi, &places)) return AVIREAD_NO_MEMORY;
    DWORD anMatched[AVI_MAX_STREAMS] = {0}, anCap[AVI_MAX_STREAMS] = {0};
    int nResult = AVIREAD_OK;
    for (int r = 0; r < pAvi->nRiffs && nResult == AVIREAD_OK; r++)
        if (pAvi->pRiffs[r].ullMovi)
            nResult = WalkMovi(pAvi, &places, anMatched, anCap, pAvi->pRiffs[r].ullMoviData, pAvi->pRiffs[r].ullMoviEnd);
    for (int s = 0; s < pAvi->nStreams; s++) {
        const AVIREADSTREAM *pStream = &pAvi->aStreams[s];
        if (pStream->nSource != AVIINDEX_WALK && pStream->nChunks > anMatched[s]) pAvi->nUnplaced += pStream->nChunks - anMatched[s];
    }
    AviFreePlaces(&places);
    return nResult;
}

}  // namespace

BOOL AviStartPlaces(const AVIREAD *pAvi, AVIPLACES *pPlaces)
{
    memset(pPlaces, 0, sizeof(*pPlaces));
    pPlaces->pAvi = pAvi;
    for (int s = 0; s < pAvi->nStreams; s++) {
        const AVIREADSTREAM *pStream = &pAvi->aStreams[s];
        DWORD i = 1;
        while (i < pStream->nChunks && pStream->pChunks[i].ullData >= pStream->pChunks[i - 1].ullData) i++;
        if (i >= pStream->nChunks) continue;
        const AVICHUNKREF **pp = (const AVICHUNKREF **)malloc((size_t)pStream->nChunks * sizeof(*pp));
        if (!pp) {
            AviFreePlaces(pPlaces);
            return FALSE;
        }
        for (i = 0; i < pStream->nChunks; i++) pp[i] = &pStream->pChunks[i];
        qsort(pp, pStream->nChunks, sizeof(*pp), CompareRefPlaces);
        pPlaces->appSorted[s] = pp;
    }
    return TRUE;
}

void AviFreePlaces(AVIPLACES *pPlaces)
{
    for (const AVICHUNKREF **&pp : pPlaces->appSorted) {
        free((void *)pp);
        pp = NULL;
    }
}

const AVICHUNKREF *AviChunkAt(AVIPLACES *pPlaces, int iStream, ULONGLONG ullData)
{
    if (iStream < 0 || iStream >= pPlaces->pAvi->nStreams) return NULL;
    const AVIREADSTREAM *pStream = &pPlaces->pAvi->aStreams[iStream];
    const AVICHUNKREF *const *pp = pPlaces->appSorted[iStream];
    DWORD n = pStream->nChunks, *pi = &pPlaces->anCursor[iStream];
#define PLACE_AT(i) (pp ? pp[i] : &pStream->pChunks[i])
    while (*pi < n && PLACE_AT(*pi)->ullData < ullData) ++*pi;
    return *pi < n && PLACE_AT(*pi)->ullData == ullData ? PLACE_AT(*pi) : NULL;
#undef PLACE_AT
}

int ReadAviHeaders(HANDLE h, AVIREAD *pAvi)
{
    memset(pAvi, 0, sizeof(*pAvi));
    if (!RiffOpenFile(&pAvi->file, h)) return pAvi->file.pbBlock ? AVIREAD_UNREADABLE : AVIREAD_NO_MEMORY;
    int nResult = FindRiffs(pAvi, TRUE);
    // Whatever a failed read made of the file, it was not read.
    return pAvi->file.fReadFailed ? AVIREAD_UNREADABLE : nResult;
}

int ReadAvi(HANDLE h, AVIREAD *pAvi) { return ReadAviVisiting(h, pAvi, NULL, NULL); }

int ReadAviVisiting(HANDLE h, AVIREAD *pAvi, AVIVISITPROC pfnVisit, void *pContext)
{
    memset(pAvi, 0, sizeof(*pAvi));
    pAvi->pfnVisit = pfnVisit;
    pAvi->pVisitContext = pContext;
    if (!RiffOpenFile(&pAvi->file, h)) return pAvi->file.pbBlock ? AVIREAD_UNREADABLE : AVIREAD_NO_MEMORY;
    // Without the memory for that, blocks do.
    if (pAvi->file.cbFile <= AVI_WHOLE_MAX) RiffSetBlock(&pAvi->file, (DWORD)pAvi->file.cbFile);
    int nResult = FindRiffs(pAvi, FALSE);
    if (pAvi->file.fReadFailed) return AVIREAD_UNREADABLE;
    if (nResult != AVIREAD_OK) return nResult;
    if (!pAvi->pRiffs[0].ullMovi) return AVIREAD_NO_MOVI;
    // Each stream from its OpenDML indexes when it has them and they can be
    // read; else from idx1; else from the walk of movi.
    ULONGLONG ullBudget = pAvi->file.cbFile / 8;
    BOOL fIdx1Used = FALSE;
    for (int s = 0; s < pAvi->nStreams; s++) {
        AVIREADSTREAM *pStream = &pAvi->aStreams[s];
        if (pStream->ullIndx) {
            if (ReadOdmlStream(pAvi, pStream, &ullBudget)) {
                pStream->nSource = AVIINDEX_ODML;
                continue;
            }
            pAvi->dwProblems |= AVIPROBLEM_ODML_UNREADABLE;
        }
        pStream->nSource = pAvi->ullIdx1 ? AVIINDEX_IDX1 : AVIINDEX_WALK;
        fIdx1Used |= pStream->nSource == AVIINDEX_IDX1;
    }
    if (fIdx1Used) nResult = ReadIdx1(pAvi);
    else if (pAvi->ullIdx1) nResult = CountIdx1Lists(pAvi);
    if (nResult == AVIREAD_OK) nResult = WalkMoviLists(pAvi);
    for (int s = 0; s < pAvi->nStreams; s++)
        if (pAvi->aStreams[s].nSource == AVIINDEX_WALK && !pAvi->aStreams[s].nChunks) pAvi->aStreams[s].nSource = AVIINDEX_NONE;
    pAvi->pfnVisit = NULL;
    return pAvi->file.fReadFailed && nResult != AVIREAD_NO_MEMORY && nResult != AVIREAD_STOPPED ? AVIREAD_UNREADABLE : nResult;
}

BOOL BeginsAsAvi(const BYTE *pb, DWORD cb)
{
    return cb >= 12 && memcmp(pb, "RIFF", 4) == 0 && memcmp(pb + 8, "AVI ", 4) == 0;
}
