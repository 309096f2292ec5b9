// resolve's measuring pass: what the output will take, and every record
// checked against its file, before anything is written.
#include "cli/resolve.h"
#include "scaffold/filegate.h"

#include <stdio.h>
#include <string.h>

int ResolveSlotOf(FOURCC ckid)
{
    int i = AviStreamOfId(ckid);
    return i < 0 ? RESOLVE_OTHER : i;
}

BOOL IsVideoFrame(const RESOLVE *pState, FOURCC ckid)
{
    int i = AviStreamOfId(ckid);
    BYTE c2 = (BYTE)(ckid >> 16), c3 = (BYTE)(ckid >> 24);
    return i >= 0 && i < pState->avi.nStreams && pState->avi.aStreams[i].fccType == streamtypeVIDEO && c2 == 'd' &&
           (c3 == 'c' || c3 == 'b');
}

BOOL ResolveFail(RESOLVE *pState, LPCSTR pszEnglish, LPCSTR pszJapanese, LPCSTR pszArg)
{
    if (!pState->fFailed) Complain(pszEnglish, pszJapanese, (unsigned long)pState->dwFrame, pszArg);
    pState->fFailed = TRUE;
    return FALSE;
}

LPCSTR ResolveRecordPath(RESOLVE *pState, const REFRECORD *pRec)
{
    if (MapRefPath(pRec->szFileName, pState->szLastPath)) return pState->szLastPath;
    ResolveFail(pState, "frame %lu: the reference file's name is too long: %s", "フレーム %lu: 参照ファイル名が長すぎます: %s", pRec->szFileName);
    return NULL;
}

namespace {

// A record's frame: its file there and large enough, and for the first raw
// frame, its header for the format; FALSE after a message.
BOOL MeasureRecord(RESOLVE *pState, REFRECORD *pRec, FOURCC ckid, RESOLVEMEASURE *pMeasure, ULONGLONG *pullResolved)
{
    pRec->szFileName[MAX_PATH - 1] = '\0';
    LPCSTR szPath = ResolveRecordPath(pState, pRec);
    if (!szPath) return FALSE;
    if (strcmp(szPath, pMeasure->szFile) != 0) {
        snprintf(pMeasure->szFile, sizeof(pMeasure->szFile), "%s", szPath);
        // A regular file: a device or a FIFO of that name is never opened
        // for reading.
        FILEFACTS facts;
        LookAtName(szPath, &facts);
        pMeasure->fFileThere = facts.nKind == FILEKIND_FILE;
        pMeasure->ullFileSize = facts.ullSize;
    }
    if (!pMeasure->fFileThere)
        return ResolveFail(pState, "frame %lu: reference file %s cannot be opened", "フレーム %lu: 参照ファイル%sがオープンできません", szPath);
    *pullResolved = RefRecordFrameSize(pRec);
    if ((ULONGLONG)pRec->dwOffset + *pullResolved > pMeasure->ullFileSize)
        return ResolveFail(pState, "frame %lu: no frame of the record's size in %s", "フレーム %lu: %sにレコードのサイズのフレームがありません",
                           szPath);
    int iStream = AviStreamOfId(ckid);
    if (!RefRecordIsRaw(pRec)) {
        pMeasure->anCoded[iStream]++;
    } else if (pMeasure->anRaw[iStream]++ == 0) {
        REFFRAMEHEADER *pRawHeader = &pMeasure->aRawHeaders[iStream];
        HANDLE hRef = CreateFileA(szPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
        RIFFFILE ref;
        BOOL fHeader = hRef != INVALID_HANDLE_VALUE && RiffOpenFile(&ref, hRef) &&
                       RiffRead(&ref, pRec->dwOffset, pRawHeader, sizeof(*pRawHeader)) &&
                       FrameHeaderFits(pRawHeader, RefRecordFrameSize(pRec));
        BOOL fReadFailed = hRef != INVALID_HANDLE_VALUE && ref.fReadFailed;
        if (hRef != INVALID_HANDLE_VALUE) {
            RiffCloseFile(&ref);
            CloseHandle(hRef);
        }
        if (fReadFailed)
            return ResolveFail(pState, "frame %lu: the frame cannot be read from %s", "フレーム %lu: %sからフレームが読み出せません", szPath);
        if (!fHeader)
            return ResolveFail(pState, "frame %lu: no frame of the record's size in %s",
                               "フレーム %lu: %sにレコードのサイズのフレームがありません", szPath);
    }
    return TRUE;
}

}  // namespace

namespace {

// One chunk: what it takes once resolved, and the record it holds checked.
// A list at the top is entered when fEnter (the caller's walk does not go
// into it); FALSE after a message.
BOOL MeasureChunk(RESOLVE *pState, const RIFFCURSOR *pCursor, const RIFFCHUNK *pChunk, BOOL fTop, BOOL fEnter,
                  RESOLVEMEASURE *pMeasure)
{
    DWORD cb = (DWORD)(pChunk->ullEnd - pChunk->ullPos - 8);
    pMeasure->ullChunks++;
    pMeasure->aullChunks[ResolveSlotOf(pChunk->ckid)]++;
    ULONGLONG ullResolved = cb;
    BOOL fFrame = IsVideoFrame(pState, pChunk->ckid);
    REFRECORD rec;
    RIFFCURSOR list;
    if (fFrame) pState->dwFrame = pMeasure->nVideo++;
    if (fTop && pChunk->ckid == FOURCC_LIST && RiffEnter(pCursor, pChunk, &list)) {
        if (fEnter && !MeasureChunks(pState, &list, FALSE, pMeasure)) return FALSE;
        ullResolved = 4;
    } else if (fFrame && cb >= sizeof(REFRECORD) && RiffRead(&pState->avi.file, pChunk->ullData, &rec, sizeof(rec)) &&
               IsRefRecord(&rec, sizeof(rec))) {
        if (!MeasureRecord(pState, &rec, pChunk->ckid, pMeasure, &ullResolved)) return FALSE;
    } else if (fFrame && cb) {
        pMeasure->aullPlain[AviStreamOfId(pChunk->ckid)]++;
    }
    pMeasure->ullBytes += 8 + ullResolved + 1;
    // A record that could not be read is no plain chunk.
    if (pState->avi.file.fReadFailed)
        return ResolveFail(pState, "frame %lu: %s cannot be read", "フレーム %lu: %sが読み出せません", pState->pszAvi);
    return TRUE;
}

// The layer's walk of the input's movi lists, measured as it goes: it
// enters "rec " lists itself, and no other list.
BOOL MeasureVisit(void *pContext, const RIFFCURSOR *pCursor, const RIFFCHUNK *pChunk, BOOL fTop)
{
    RESOLVE *pState = (RESOLVE *)pContext;
    BOOL fEnter = pChunk->fccType != mmioFOURCC('r', 'e', 'c', ' ');
    return MeasureChunk(pState, pCursor, pChunk, fTop, fEnter, &pState->measure);
}

}  // namespace

BOOL MeasureChunks(RESOLVE *pState, RIFFCURSOR *pCursor, BOOL fTop, RESOLVEMEASURE *pMeasure)
{
    RIFFCHUNK chunk;
    // What is no chunk (a preallocated tail of zeros) ends the list, as it
    // does for the writing pass.
    while (RiffNext(pCursor, &chunk) && RiffIsChunkId(chunk.ckid))
        if (!MeasureChunk(pState, pCursor, &chunk, fTop, TRUE, pMeasure)) return FALSE;
    // A read that failed is no end of the list.
    if (pCursor->fFailed)
        return ResolveFail(pState, "frame %lu: %s cannot be read", "フレーム %lu: %sが読み出せません", pState->pszAvi);
    return TRUE;
}

int ReadAndMeasure(RESOLVE *pState, HANDLE hIn)
{
    int nRead = ReadAviVisiting(hIn, &pState->avi, MeasureVisit, pState);
    pState->dwFrame = 0;
    return nRead;
}

// The format of each stream's raw frames that the records name, from the
// first one's header: uncompressed RGB, its depth told by the data's size
// (rows of whole DWORDs). FALSE after a message when a stream mixes raw
// frames with compressed ones, which no one format can describe, or when
// the size fits no depth (RLE and palette input carry what the header does
// not hold).
BOOL TakeRawFormat(RESOLVE *pState)
{
    const RESOLVEMEASURE *pMeasure = &pState->measure;
    for (int s = 0; s < pState->avi.nStreams; s++) {
        if (!pMeasure->anRaw[s]) continue;
        if (pMeasure->anCoded[s] || pMeasure->aullPlain[s]) {
            Complain("%s: the stream mixes records of raw frames with compressed frames; no one format describes it, so it cannot be resolved",
                     "%s: ストリームに非圧縮フレームのレコードと圧縮フレームが混在しているため, 一つの形式で表せず解決できません",
                     pState->pszAvi);
            return FALSE;
        }
        const REFFRAMEHEADER *pHeader = &pMeasure->aRawHeaders[s];
        LONG lWidth = pHeader->wWidth, lHeight = pHeader->wHeight;
        static const WORD s_awBits[] = {24, 32, 16};
        BITMAPINFOHEADER *pbi = &pState->abiRaw[s];
        for (WORD wBits : s_awBits) {
            ULONGLONG cbRow = ((ULONGLONG)lWidth * wBits + 31) / 32 * 4;
            if (lWidth > 0 && lHeight != 0 && cbRow * (lHeight < 0 ? -lHeight : lHeight) == pHeader->dwDataSize) {
                pbi->biSize = sizeof(*pbi);
                pbi->biWidth = lWidth;
                pbi->biHeight = lHeight;
                pbi->biPlanes = 1;
                pbi->biBitCount = wBits;
                pbi->biCompression = BI_RGB;
                pbi->biSizeImage = pHeader->dwDataSize;
                break;
            }
        }
        if (!pbi->biSize) {
            Complain("%s: the raw frames' format cannot be told: %lu bytes are no 16-, 24- or 32-bit RGB picture of %ld by %ld",
                     "%s: 非圧縮フレームの形式が分かりません: %lu バイトは %ld × %ld の16, 24, 32ビットRGB画像ではありません", pState->pszAvi,
                     (unsigned long)pHeader->dwDataSize, (long)lWidth, (long)lHeight);
            return FALSE;
        }
    }
    return TRUE;
}

// Room in each super index: a standard index for each RIFF the stream has
// chunks in (two RIFFs in a row hold more than the limit), and for each one
// that fills up.
void SizeSuperIndexes(RESOLVE *pState)
{
    const RESOLVEMEASURE *pMeasure = &pState->measure;
    ULONGLONG ullRiffs = 2 * (pMeasure->ullBytes + 32 * pMeasure->ullChunks + pState->avi.file.cbFile) / pState->ullRiffLimit + 1;
    for (int i = 0; i < AVI_MAX_STREAMS; i++) {
        ULONGLONG ullChunks = pMeasure->aullChunks[i];
        ULONGLONG ullSuper = 16 + (ullRiffs < ullChunks + 1 ? ullRiffs : ullChunks + 1) + ullChunks / AVIODML_STDINDEX_CAP;
        pState->anSuperCap[i] = ullSuper > (1u << 22) ? (1u << 22) : (DWORD)ullSuper;
    }
}
