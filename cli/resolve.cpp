// spool resolve: a self-contained AVI from one whose frames are reference
// records. Each record's frame is read from its reference file and stored in
// its place ("dc" for a compressed frame, "db" for a raw one); every other
// chunk is copied as it is, and the index is rebuilt with the flags of the
// original. The work streams: memory stays the same whatever the length.
#include "cli/spool.h"

#include "codec/refformat.h"

#include <stdlib.h>
#include <string.h>

#define OUT_BUFFER (1024u * 1024)
#define COPY_PIECE (1024u * 1024)
// Beyond this a classic AVI is not read by every player.
#define RESOLVE_LIMIT 0x40000000ull

namespace {

struct OUTFILE {
    HANDLE h;
    BYTE *pb;
    DWORD cb;                  // bytes waiting in pb
    unsigned long long ullPos; // the file's length with them
    BOOL fFailed;
};

BOOL FlushOut(OUTFILE *pOut)
{
    if (pOut->cb && !pOut->fFailed) {
        DWORD cbDone = 0;
        if (!WriteFile(pOut->h, pOut->pb, pOut->cb, &cbDone, NULL) || cbDone != pOut->cb) pOut->fFailed = TRUE;
    }
    pOut->cb = 0;
    return !pOut->fFailed;
}

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

BOOL SeekFile(HANDLE h, unsigned long long ullPos)
{
    LONG lHigh = (LONG)(ullPos >> 32);
    DWORD dwLow = SetFilePointer(h, (LONG)(DWORD)ullPos, &lHigh, FILE_BEGIN);
    return !(dwLow == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

// Writes a DWORD at an earlier place of the output.
void PatchDword(OUTFILE *pOut, unsigned long long ullAt, DWORD dw)
{
    if (!FlushOut(pOut)) return;
    DWORD cbDone = 0;
    if (!SeekFile(pOut->h, ullAt) || !WriteFile(pOut->h, &dw, sizeof(dw), &cbDone, NULL) || cbDone != sizeof(dw) ||
        !SeekFile(pOut->h, pOut->ullPos))
        pOut->fFailed = TRUE;
}

BOOL ReadAt(HANDLE h, unsigned long long ullPos, void *pData, DWORD cb)
{
    DWORD cbDone = 0;
    return SeekFile(h, ullPos) && ReadFile(h, pData, cb, &cbDone, NULL) && cbDone == cb;
}

struct RESOLVE {
    LPCSTR pszAvi;
    HANDLE hIn;
    unsigned long long ullInSize;
    OUTFILE out;
    // The input's index, read in step with the chunks of its movi list.
    unsigned long long ullIdx1;  // its data's place, 0 when there is none
    DWORD nIdx1;                 // its entries
    DWORD iIdx1;                 // the next entry to look at
    AVIINDEXENTRY entry;         // that entry, when iIdx1 < nIdx1
    unsigned long long ullIndexBase;  // what its offsets count from
    // The output's index, kept in a file of its own until movi is done.
    OUTFILE index;
    CHAR szIndexFile[MAX_PATH];
    DWORD nIndexed;
    unsigned long long ullOutMovi;  // the output's "movi" FOURCC
    // The reference file read last.
    CHAR szRefFile[MAX_PATH];
    HANDLE hRef;
    BYTE *pbCopy;
    DWORD cbLargestChunk;
    DWORD nResolved;
    DWORD nVideo;       // video chunks seen
    DWORD dwFrame;      // the one being written, for the messages
    LPCSTR pszOut;
    FOURCC fccVideoDigits;  // "00" of the video stream's chunk ids, in the low word
    BOOL fFailed;
};

void NextIndexEntry(RESOLVE *pState)
{
    if (pState->iIdx1 >= pState->nIdx1) return;
    if (!ReadAt(pState->hIn, pState->ullIdx1 + 16ull * pState->iIdx1, &pState->entry, sizeof(pState->entry)))
        pState->nIdx1 = pState->iIdx1;
}

// The input index's flags for a chunk at ullPos of the input with that id;
// FALSE when the index does not list it.
BOOL TakeIndexFlags(RESOLVE *pState, unsigned long long ullPos, FOURCC ckid, DWORD *pdwFlags)
{
    while (pState->iIdx1 < pState->nIdx1) {
        unsigned long long ullAt = pState->ullIndexBase + pState->entry.dwChunkOffset;
        if (ullAt > ullPos) return FALSE;
        pState->iIdx1++;
        BOOL fThis = ullAt == ullPos && pState->entry.ckid == ckid;
        DWORD dwFlags = pState->entry.dwFlags;
        NextIndexEntry(pState);
        if (fThis) {
            *pdwFlags = dwFlags;
            return TRUE;
        }
    }
    return FALSE;
}

void AddIndexEntry(RESOLVE *pState, FOURCC ckid, DWORD dwFlags, unsigned long long ullChunk, DWORD cb)
{
    AVIINDEXENTRY entry;
    entry.ckid = ckid;
    entry.dwFlags = dwFlags;
    entry.dwChunkOffset = (DWORD)(ullChunk - pState->ullOutMovi);
    entry.dwChunkLength = cb;
    Put(&pState->index, &entry, sizeof(entry));
    pState->nIndexed++;
}

BOOL Fail(RESOLVE *pState, LPCSTR pszEnglish, LPCSTR pszJapanese, LPCSTR pszArg)
{
    if (!pState->fFailed) Complain(pszEnglish, pszJapanese, (unsigned long)pState->dwFrame, pszArg);
    pState->fFailed = TRUE;
    return FALSE;
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
BOOL WriteRecordFrame(RESOLVE *pState, const REFRECORD *pRec, FOURCC ckidIn, DWORD dwFlags, BOOL fIndexed)
{
    CHAR szPath[MAX_PATH];
    if (!MapRefPath(pRec->szFileName, szPath))
        return Fail(pState, "frame %lu: the reference file's name is too long: %s",
                    "フレーム %lu: 参照ファイル名が長すぎます: %s", pRec->szFileName);
    if (strcmp(szPath, pState->szRefFile) != 0) {
        if (pState->hRef != INVALID_HANDLE_VALUE) CloseHandle(pState->hRef);
        pState->hRef = CreateFileA(szPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, NULL);
        pState->szRefFile[0] = '\0';
        if (pState->hRef == INVALID_HANDLE_VALUE)
            return Fail(pState, "frame %lu: reference file %s cannot be opened", "フレーム %lu: 参照ファイル%sがオープンできません",
                        szPath);
        snprintf(pState->szRefFile, sizeof(pState->szRefFile), "%s", szPath);
    }
    REFFRAMEHEADER header;
    if (!ReadAt(pState->hRef, pRec->dwOffset, &header, sizeof(header)) ||
        (unsigned long long)header.dwDataSize + header.dwPadSize + sizeof(header) != header.dwFrameSize ||
        header.dwFrameSize != RefRecordFrameSize(pRec))
        return Fail(pState, "frame %lu: no frame of the record's size in %s", "フレーム %lu: %sにレコードのサイズのフレームがありません",
                    szPath);
    // The stream's digits, then "dc" or "db".
    FOURCC ckid = (ckidIn & 0xFFFF) | (RefRecordIsRaw(pRec) ? mmioFOURCC(0, 0, 'd', 'b') : mmioFOURCC(0, 0, 'd', 'c'));
    unsigned long long ullChunk = pState->out.ullPos;
    PutDword(&pState->out, ckid);
    PutDword(&pState->out, header.dwDataSize);
    if (!CopyBytes(pState, pState->hRef, (unsigned long long)pRec->dwOffset + sizeof(header), header.dwDataSize))
        return Fail(pState, "frame %lu: the frame cannot be read from %s", "フレーム %lu: %sからフレームが読み出せません", szPath);
    if (header.dwDataSize & 1) Put(&pState->out, "", 1);
    if (fIndexed) AddIndexEntry(pState, ckid, dwFlags, ullChunk, header.dwDataSize);
    if (header.dwDataSize > pState->cbLargestChunk) pState->cbLargestChunk = header.dwDataSize;
    pState->nResolved++;
    return TRUE;
}

BOOL IsVideoChunk(const RESOLVE *pState, FOURCC ckid)
{
    BYTE c = (BYTE)(ckid >> 16), d = (BYTE)(ckid >> 24);
    return (ckid & 0xFFFF) == (pState->fccVideoDigits & 0xFFFF) && c == 'd' && (d == 'c' || d == 'b');
}

// Resolves the chunks of a list's data from ullPos to ullEnd of the input.
BOOL ResolveChunks(RESOLVE *pState, unsigned long long ullPos, unsigned long long ullEnd)
{
    while (ullPos + 8 <= ullEnd && !pState->fFailed) {
        DWORD adw[3];
        if (!ReadAt(pState->hIn, ullPos, adw, 8)) break;
        FOURCC ckid = adw[0];
        DWORD cb = adw[1];
        unsigned long long ullData = ullPos + 8;
        // A chunk that claims more than its list holds is taken as far as
        // it goes.
        if (ullData + cb > ullEnd) cb = (DWORD)(ullEnd - ullData);
        DWORD dwFlags = 0;
        ShowProgress(ullPos);
        if (ckid == FOURCC_LIST && cb >= 4) {
            // A list of chunks ("rec "): its children one by one. The index
            // lists it by its type.
            if (!ReadAt(pState->hIn, ullData, &adw[2], 4)) break;
            BOOL fIndexed = TakeIndexFlags(pState, ullPos, adw[2], &dwFlags);
            unsigned long long ullList = pState->out.ullPos;
            PutDword(&pState->out, FOURCC_LIST);
            PutDword(&pState->out, 0);
            PutDword(&pState->out, adw[2]);
            unsigned long long ullEntry = pState->index.ullPos;
            if (fIndexed) AddIndexEntry(pState, adw[2], dwFlags, ullList, 0);
            ResolveChunks(pState, ullData + 4, ullData + cb);
            PatchDword(&pState->out, ullList + 4, (DWORD)(pState->out.ullPos - ullList - 8));
            // The list's entry gets the list's size.
            if (fIndexed) PatchDword(&pState->index, ullEntry + 12, (DWORD)(pState->out.ullPos - ullList - 8));
        } else {
            BOOL fIndexed = TakeIndexFlags(pState, ullPos, ckid, &dwFlags);
            BOOL fVideo = IsVideoChunk(pState, ckid);
            REFRECORD rec;
            if (fVideo) pState->dwFrame = pState->nVideo++;
            if (fVideo && cb >= sizeof(rec) && ReadAt(pState->hIn, ullData, &rec, sizeof(rec)) &&
                IsRefRecord(&rec, sizeof(rec))) {
                rec.szFileName[MAX_PATH - 1] = '\0';
                if (!WriteRecordFrame(pState, &rec, ckid, dwFlags, fIndexed)) return FALSE;
            } else {
                unsigned long long ullChunk = pState->out.ullPos;
                PutDword(&pState->out, ckid);
                PutDword(&pState->out, cb);
                if (!CopyBytes(pState, pState->hIn, ullData, cb))
                    return Fail(pState, "frame %lu: %s cannot be read", "フレーム %lu: %sが読み出せません", pState->pszAvi);
                if (cb & 1) Put(&pState->out, "", 1);
                if (fIndexed) AddIndexEntry(pState, ckid, dwFlags, ullChunk, cb);
                if (cb > pState->cbLargestChunk) pState->cbLargestChunk = cb;
            }
        }
        if (pState->out.ullPos > RESOLVE_LIMIT)
            return Fail(pState, "frame %lu: %s would pass 1 GiB, and larger AVIs are not written yet",
                        "フレーム %lu: %s が1GiBを超えます (未対応)", pState->pszOut);
        ullPos = ullData + cb + (cb & 1);
    }
    return !pState->fFailed && !pState->out.fFailed;
}

// The list of the given type among the chunks from ullPos to ullEnd; its
// place and data size.
BOOL FindTopChunk(HANDLE h, unsigned long long ullPos, unsigned long long ullEnd, FOURCC ckid, FOURCC fccType,
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
    state.hRef = INVALID_HANDLE_VALUE;
    state.out.h = state.index.h = INVALID_HANDLE_VALUE;
    state.hIn = CreateFileA(pszAvi, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (state.hIn == INVALID_HANDLE_VALUE) {
        Complain("%s cannot be opened", "%sがオープンできません", pszAvi);
        return SPOOL_ERROR;
    }
    DWORD dwHigh = 0;
    DWORD dwLow = GetFileSize(state.hIn, &dwHigh);
    state.ullInSize = ((unsigned long long)dwHigh << 32) | dwLow;

    int nStatus = SPOOL_ERROR;
    CHAR szTemp[MAX_PATH] = "";
    DWORD adwRiff[3] = {0, 0, 0};
    unsigned long long ullHdrl = 0, ullMovi = 0, ullAvih = 0, ullStrl = 0;
    DWORD cbHdrl = 0, cbMovi = 0, cbChunk = 0;
    BOOL fRiff = ReadAt(state.hIn, 0, adwRiff, 12) && adwRiff[0] == FOURCC_RIFF &&
                 adwRiff[2] == mmioFOURCC('A', 'V', 'I', ' ');
    // A form that claims more than the file holds is read as far as it goes.
    unsigned long long ullRiffEnd = 8ull + adwRiff[1] < state.ullInSize ? 8ull + adwRiff[1] : state.ullInSize;
    if (!fRiff) {
        Complain("%s is not an AVI", "%sはAVIファイルではありません", pszAvi);
    } else if (!FindTopChunk(state.hIn, 12, ullRiffEnd, FOURCC_LIST, mmioFOURCC('h', 'd', 'r', 'l'), &ullHdrl, &cbHdrl) ||
               !FindTopChunk(state.hIn, 12, ullRiffEnd, FOURCC_LIST, mmioFOURCC('m', 'o', 'v', 'i'), &ullMovi, &cbMovi)) {
        Complain("%s has no header list or no movi list", "%sにhdrlまたはmoviリストがありません", pszAvi);
    } else if (snprintf(szTemp, sizeof(szTemp), "%s.part", pszOut) >= (int)sizeof(szTemp) ||
               snprintf(state.szIndexFile, sizeof(state.szIndexFile), "%s.idx.part", pszOut) >=
                   (int)sizeof(state.szIndexFile)) {
        Complain("%s: the path is too long", "%s: パスが長すぎます", pszOut);
    } else {
        // The video stream: the first "vids" stream header, and its number.
        unsigned long long ullHdrlEnd = ullHdrl + 8 + cbHdrl;
        FindTopChunk(state.hIn, ullHdrl + 12, ullHdrlEnd, mmioFOURCC('a', 'v', 'i', 'h'), 0, &ullAvih, &cbChunk);
        int iStream = 0;
        unsigned long long ullPos = ullHdrl + 12, ullVideoStrh = 0;
        for (; FindTopChunk(state.hIn, ullPos, ullHdrlEnd, FOURCC_LIST, mmioFOURCC('s', 't', 'r', 'l'), &ullStrl, &cbChunk);
             iStream++) {
            DWORD adwStrh[2];
            unsigned long long ullStrh;
            DWORD cbStrh;
            if (FindTopChunk(state.hIn, ullStrl + 12, ullStrl + 8 + cbChunk, mmioFOURCC('s', 't', 'r', 'h'), 0, &ullStrh,
                             &cbStrh) &&
                cbStrh >= 8 && ReadAt(state.hIn, ullStrh + 8, adwStrh, 8) && adwStrh[0] == streamtypeVIDEO) {
                ullVideoStrh = ullStrh;
                break;
            }
            ullPos = ullStrl + 8 + cbChunk + (cbChunk & 1);
        }
        state.fccVideoDigits = mmioFOURCC('0' + iStream / 10, '0' + iStream % 10, 0, 0);
        // The index, whose offsets count from "movi" or from the file's start.
        unsigned long long ullIdx1 = 0;
        DWORD cbIdx1 = 0;
        if (FindTopChunk(state.hIn, 12, ullRiffEnd, mmioFOURCC('i', 'd', 'x', '1'), 0, &ullIdx1, &cbIdx1)) {
            state.ullIdx1 = ullIdx1 + 8;
            unsigned long long ullHeld = state.ullInSize > state.ullIdx1 ? state.ullInSize - state.ullIdx1 : 0;
            state.nIdx1 = (DWORD)((cbIdx1 < ullHeld ? cbIdx1 : ullHeld) / 16);
            NextIndexEntry(&state);
            state.ullIndexBase = state.nIdx1 && state.entry.dwChunkOffset >= ullMovi + 8 ? 0 : ullMovi + 8;
        }
        state.pbCopy = (BYTE *)malloc(COPY_PIECE);
        state.out.pb = (BYTE *)malloc(OUT_BUFFER);
        state.index.pb = (BYTE *)malloc(OUT_BUFFER);
        state.out.h = CreateFileA(szTemp, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        state.index.h =
            CreateFileA(state.szIndexFile, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (!state.pbCopy || !state.out.pb || !state.index.pb) {
            Complain("out of memory", "メモリが確保できません");
        } else if (state.out.h == INVALID_HANDLE_VALUE || state.index.h == INVALID_HANDLE_VALUE) {
            Complain("%s cannot be created", "%sが作成できません", szTemp);
        } else {
            // RIFF, everything before movi as it is, movi resolved, what
            // follows it but the old index, the new index.
            PutDword(&state.out, FOURCC_RIFF);
            PutDword(&state.out, 0);
            PutDword(&state.out, mmioFOURCC('A', 'V', 'I', ' '));
            unsigned long long ullOutHdrl = state.out.ullPos;
            CopyBytes(&state, state.hIn, 12, (DWORD)(ullMovi - 12));
            PutDword(&state.out, FOURCC_LIST);
            PutDword(&state.out, 0);
            state.ullOutMovi = state.out.ullPos;
            PutDword(&state.out, mmioFOURCC('m', 'o', 'v', 'i'));
            unsigned long long ullMoviEnd = ullMovi + 8 + cbMovi < ullRiffEnd ? ullMovi + 8 + cbMovi : ullRiffEnd;
            BeginProgress("resolve", ullMoviEnd, TRUE);
            if (ResolveChunks(&state, ullMovi + 12, ullMoviEnd)) {
                EndProgress();
                PatchDword(&state.out, state.ullOutMovi - 4, (DWORD)(state.out.ullPos - state.ullOutMovi));
                unsigned long long ullAfter = ullMovi + 8 + cbMovi + (cbMovi & 1);
                while (ullAfter + 8 <= ullRiffEnd && !state.fFailed) {
                    DWORD adw[2];
                    if (!ReadAt(state.hIn, ullAfter, adw, 8)) break;
                    DWORD cbCopy = adw[1];
                    if (ullAfter + 8 + cbCopy > ullRiffEnd) cbCopy = (DWORD)(ullRiffEnd - ullAfter - 8);
                    if (adw[0] != mmioFOURCC('i', 'd', 'x', '1')) {
                        Put(&state.out, adw, 8);
                        CopyBytes(&state, state.hIn, ullAfter + 8, cbCopy);
                        if (cbCopy & 1) Put(&state.out, "", 1);
                    }
                    ullAfter += 8ull + adw[1] + (adw[1] & 1);
                }
                FlushOut(&state.index);
                PutDword(&state.out, mmioFOURCC('i', 'd', 'x', '1'));
                PutDword(&state.out, state.nIndexed * 16);
                if (!state.index.fFailed && SeekFile(state.index.h, 0))
                    CopyBytes(&state, state.index.h, 0, state.nIndexed * 16);
                PatchDword(&state.out, 4, (DWORD)(state.out.ullPos - 8));
                // The buffers that players are told to have: the largest chunk.
                if (ullAvih) PatchDword(&state.out, ullOutHdrl + (ullAvih - 12) + 8 + 28, state.cbLargestChunk);
                if (ullVideoStrh) PatchDword(&state.out, ullOutHdrl + (ullVideoStrh - 12) + 8 + 36, state.cbLargestChunk);
                BOOL fWritten = FlushOut(&state.out) && FlushFileBuffers(state.out.h) && !state.fFailed;
                CloseHandle(state.out.h);
                state.out.h = INVALID_HANDLE_VALUE;
                if (!fWritten) {
                    Complain("%s cannot be written", "%sに書き込めません", szTemp);
                } else if (!MoveFileExA(szTemp, pszOut, MOVEFILE_REPLACE_EXISTING)) {
                    Complain("%s cannot be created", "%sが作成できません", pszOut);
                } else {
                    Say(g_pOut, "%s: %lu frames resolved\n", "%s: %lu フレームを解決しました\n", pszOut,
                        (unsigned long)state.nResolved);
                    nStatus = SPOOL_OK;
                }
            } else if (!state.fFailed) {
                Complain("%s cannot be written", "%sに書き込めません", szTemp);
            }
        }
    }
    EndProgress();
    if (state.out.h != INVALID_HANDLE_VALUE) CloseHandle(state.out.h);
    if (state.index.h != INVALID_HANDLE_VALUE) CloseHandle(state.index.h);
    if (state.hRef != INVALID_HANDLE_VALUE) CloseHandle(state.hRef);
    CloseHandle(state.hIn);
    if (state.szIndexFile[0]) DeleteFileA(state.szIndexFile);
    if (nStatus != SPOOL_OK && szTemp[0]) DeleteFileA(szTemp);
    free(state.pbCopy);
    free(state.out.pb);
    free(state.index.pb);
    return nStatus;
}
