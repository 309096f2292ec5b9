// resolve's writing pass: the input's chunks in their order, each record's
// frame read from its reference file and stored in its place ("dc" for a
// compressed frame, "db" for a raw one), every other chunk copied as it is,
// through the layer's OpenDML writer.
#include "cli/resolve.h"
#include "scaffold/paths.h"

#include <stdio.h>
#include <string.h>

namespace {

BOOL ReadFailed(RESOLVE *pState)
{
    return ResolveFail(pState, "frame %lu: %s cannot be read", "フレーム %lu: %sが読み出せません", pState->pszAvi);
}

// Says why the writer stopped, when it did; FALSE then.
BOOL WriterGoesOn(RESOLVE *pState)
{
    int nError = pState->odml.nError;
    if (!nError && pState->out.fFailed) nError = AVIODML_WRITE;
    switch (nError) {
    case AVIODML_OK:
        return !pState->fFailed;
    case AVIODML_IDX1:
        return ResolveFail(pState, "frame %lu: the index of %s, kept aside, cannot be written or read back",
                           "フレーム %lu: 別に置いた %s のインデックスが書き込めないか, 読み戻せません", pState->pszOut);
    case AVIODML_NO_MEMORY:
        return ResolveFail(pState, "frame %lu: out of memory%s", "フレーム %lu: メモリが確保できません%s", "");
    case AVIODML_SUPER_FULL:
        return ResolveFail(pState, "frame %lu: %s needs more standard indexes than its super index holds",
                           "フレーム %lu: %s の標準インデックスがスーパーインデックスに収まりません", pState->pszOut);
    case AVIODML_MOVI_4G:
        return ResolveFail(pState, "frame %lu: a movi list of %s would pass 4 GiB", "フレーム %lu: %s のmoviリストが4GiBを超えます",
                           pState->pszOut);
    case AVIODML_RIFF_4G:
        return ResolveFail(pState, "frame %lu: a RIFF of %s would pass 4 GiB", "フレーム %lu: %s のRIFFが4GiBを超えます", pState->pszOut);
    case AVIODML_LIST_4G:
        return ResolveFail(pState, "frame %lu: a list of %s would pass 4 GiB", "フレーム %lu: %s のリストが4GiBを超えます", pState->pszOut);
    default:
        return ResolveFail(pState, "frame %lu: %s cannot be written", "フレーム %lu: %sに書き込めません", pState->pszOut);
    }
}

// Copies one chunk of the input, as far as its parent holds it; FALSE after
// a message.
BOOL CopyChunk(RESOLVE *pState, const RIFFCHUNK *pChunk)
{
    if (!AviOutCopyChunk(&pState->out, &pState->avi.file, pChunk)) return ReadFailed(pState);
    return WriterGoesOn(pState);
}

// What the first RIFF holds after its movi list but its index, as it is:
// the writer calls this before it writes the new idx1. With fCopy FALSE,
// only measured: its bytes in the output.
BOOL FirstRiffTail(RESOLVE *pState, BOOL fCopy, ULONGLONG *pcbTail)
{
    const AVIRIFF *pRiff = &pState->avi.pRiffs[0];
    RIFFCURSOR riff;
    RIFFCHUNK chunk;
    RiffRangeCursor(&pState->avi.file, pRiff->ullPos + 12, pRiff->ullEnd, 1, &riff);
    *pcbTail = 0;
    while (RiffNext(&riff, &chunk)) {
        if (chunk.ullPos <= pRiff->ullMovi || chunk.ckid == mmioFOURCC('i', 'd', 'x', '1')) continue;
        *pcbTail += RiffCopySize(&chunk);
        if (fCopy && !CopyChunk(pState, &chunk)) return FALSE;
    }
    return riff.fFailed ? ReadFailed(pState) : TRUE;
}

BOOL CopyFirstRiffTail(void *pContext)
{
    ULONGLONG cbTail = 0;
    return FirstRiffTail((RESOLVE *)pContext, TRUE, &cbTail);
}

// The header list: the input's chunks, each stream list with a super index
// of room for as many standard indexes as the stream may need, and an
// "odml" list made anew.
BOOL WriteHeaderList(RESOLVE *pState, const RIFFCURSOR *pRiff, const RIFFCHUNK *pHdrl)
{
    AVIOUT *pOut = &pState->out;
    AVIODML *pOdml = &pState->odml;
    RIFFCURSOR hdrl, strl;
    RIFFCHUNK chunk, sub;
    ULONGLONG ullList = AviOutBegin(pOut, FOURCC_LIST, mmioFOURCC('h', 'd', 'r', 'l'));
    int nStream = 0;
    BOOL fIn = RiffEnter(pRiff, pHdrl, &hdrl);
    while (fIn && RiffNext(&hdrl, &chunk)) {
        if (chunk.ckid == mmioFOURCC('a', 'v', 'i', 'h')) {
            AviOdmlNoteAvih(pOdml, pOut->ullPos + 8, (DWORD)(chunk.ullEnd - chunk.ullData));
            if (!CopyChunk(pState, &chunk)) return FALSE;
        } else if (chunk.ckid == FOURCC_LIST && chunk.fccType == mmioFOURCC('o', 'd', 'm', 'l')) {
            // Made anew below.
        } else if (chunk.ckid == FOURCC_LIST && chunk.fccType == mmioFOURCC('s', 't', 'r', 'l') && nStream < AVI_MAX_STREAMS &&
                   RiffEnter(&hdrl, &chunk, &strl)) {
            // The layer numbered the stream lists the same way.
            const AVIREADSTREAM *pIn = &pState->avi.aStreams[nStream];
            WORD nBlockAlign = 0;
            if (pIn->fccType == streamtypeAUDIO && pIn->cbStrf >= 14) memcpy(&nBlockAlign, pIn->pbStrf + 12, 2);
            AviOdmlBeginStream(pOdml, pIn->fccType, nBlockAlign);
            const BITMAPINFOHEADER *pbiRaw = &pState->abiRaw[nStream];
            BOOL fRawStream = pbiRaw->biSize != 0;
            ULONGLONG ullStrl = AviOutBegin(pOut, FOURCC_LIST, mmioFOURCC('s', 't', 'r', 'l'));
            while (RiffNext(&strl, &sub)) {
                DWORD cb = (DWORD)(sub.ullEnd - sub.ullData);
                if (sub.ckid == mmioFOURCC('s', 't', 'r', 'h') && nStream == pOdml->iVideo && !pOdml->ullVideoStrh)
                    AviOdmlNoteVideoStrh(pOdml, pOut->ullPos + 8, cb);
                if (fRawStream && sub.ckid == mmioFOURCC('s', 't', 'r', 'f')) {
                    // Raw frames: the format they are in, not the codec's.
                    AviOutChunk(pOut, sub.ckid, pbiRaw, sizeof(*pbiRaw));
                } else if (sub.ckid != mmioFOURCC('i', 'n', 'd', 'x') && sub.ckid != mmioFOURCC('J', 'U', 'N', 'K')) {
                    ULONGLONG ullCopied = pOut->ullPos;
                    if (!CopyChunk(pState, &sub)) return FALSE;
                    // Raw frames need no codec: the handler is left empty.
                    if (fRawStream && sub.ckid == mmioFOURCC('s', 't', 'r', 'h') && cb >= 8) AviOutPatchDword(pOut, ullCopied + 8 + 4, 0);
                }
            }
            if (strl.fFailed) return ReadFailed(pState);
            AviOdmlSuperIndex(pOdml, pState->anSuperCap[nStream]);
            AviOutEnd(pOut, ullStrl);
            nStream++;
        } else if (!CopyChunk(pState, &chunk)) {
            return FALSE;
        }
    }
    if (hdrl.fFailed) return ReadFailed(pState);
    AviOdmlHeaderEnd(pOdml);
    AviOutEnd(pOut, ullList);
    return WriterGoesOn(pState);
}

// Writes the frame that a record names as a chunk of its own; FALSE after a
// message.
BOOL WriteRecordFrame(RESOLVE *pState, const REFRECORD *pRec, FOURCC ckidIn, DWORD dwFlags, BOOL fListed, BOOL fKey, BOOL fTop)
{
    LPCSTR szPath = ResolveRecordPath(pState, pRec);
    if (!szPath) return FALSE;
    if (strcmp(szPath, pState->szRefFile) != 0) {
        if (pState->hRef != INVALID_HANDLE_VALUE) {
            RiffCloseFile(&pState->ref);
            CloseHandle(pState->hRef);
        }
        pState->szRefFile[0] = '\0';
        pState->hRef = CreateFileA(szPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, NULL);
        if (pState->hRef == INVALID_HANDLE_VALUE)
            return ResolveFail(pState, "frame %lu: reference file %s cannot be opened", "フレーム %lu: 参照ファイル%sがオープンできません",
                               szPath);
        if (!RiffOpenFile(&pState->ref, pState->hRef) || !RiffSetBlock(&pState->ref, RESOLVE_READ_BLOCK))
            return ResolveFail(pState, "frame %lu: the frame cannot be read from %s", "フレーム %lu: %sからフレームが読み出せません", szPath);
        // The resolved AVI would take the place of a file that the records
        // read from: by whatever name, link or linked folder it is reached.
        if (SameFile(szPath, pState->pszOut))
            return ResolveFail(pState, "frame %lu: the output %s is one of the AVI's reference files; choose another name",
                               "フレーム %lu: 出力先%sはAVIファイルの参照ファイルです. 別の名前を選んで下さい", pState->pszOut);
        snprintf(pState->szRefFile, sizeof(pState->szRefFile), "%s", szPath);
    }
    REFFRAMEHEADER header;
    BOOL fHeader = RiffRead(&pState->ref, pRec->dwOffset, &header, sizeof(header));
    if (pState->ref.fReadFailed)
        return ResolveFail(pState, "frame %lu: the frame cannot be read from %s", "フレーム %lu: %sからフレームが読み出せません", szPath);
    if (!fHeader || !FrameHeaderFits(&header, RefRecordFrameSize(pRec)))
        return ResolveFail(pState, "frame %lu: no frame of the record's size in %s", "フレーム %lu: %sにレコードのサイズのフレームがありません",
                           szPath);
    // Raw frames are all of the format that their stream is given.
    const BITMAPINFOHEADER *pbiRaw = &pState->abiRaw[AviStreamOfId(ckidIn)];
    if (RefRecordIsRaw(pRec) &&
        (header.dwDataSize != pbiRaw->biSizeImage || header.wWidth != pbiRaw->biWidth || header.wHeight != pbiRaw->biHeight))
        return ResolveFail(pState, "frame %lu: a raw frame in %s differs in size from the stream's first",
                           "フレーム %lu: %sの非圧縮フレームのサイズが最初のフレームと異なります", szPath);
    if (fTop) AviOdmlRoom(&pState->odml, header.dwDataSize, 1);
    // The stream's digits, then "dc" or "db".
    FOURCC ckid = (ckidIn & 0xFFFF) | (RefRecordIsRaw(pRec) ? mmioFOURCC(0, 0, 'd', 'b') : mmioFOURCC(0, 0, 'd', 'c'));
    ULONGLONG ullChunk = pState->out.ullPos;
    if (!AviOutCopyAsChunk(&pState->out, ckid, &pState->ref, (ULONGLONG)pRec->dwOffset + sizeof(header), header.dwDataSize))
        return ResolveFail(pState, "frame %lu: the frame cannot be read from %s", "フレーム %lu: %sからフレームが読み出せません", szPath);
    AviOdmlIndex(&pState->odml, ckid, fListed, dwFlags, fKey, ullChunk, header.dwDataSize);
    pState->nResolved++;
    return WriterGoesOn(pState);
}

// Resolves the chunks that a cursor gives; fTop for those of a movi list
// itself, whose lists are resolved one level down.
BOOL ResolveChunks(RESOLVE *pState, RIFFCURSOR *pCursor, BOOL fTop)
{
    AVIODML *pOdml = &pState->odml;
    RIFFCHUNK chunk;
    RIFFCURSOR list;
    // What is no chunk (a preallocated tail of zeros) ends the list.
    while (!pState->fFailed && RiffNext(pCursor, &chunk) && RiffIsChunkId(chunk.ckid)) {
        ShowProgress(chunk.ullPos);
        if (fTop && chunk.ckid == FOURCC_LIST && RiffEnter(pCursor, &chunk, &list)) {
            // A list of chunks ("rec "): it takes in the output what its
            // resolved frames take, measured first.
            RESOLVEMEASURE *pMeasure = &pState->measure;
            pMeasure->ullBytes = 0;
            pMeasure->nVideo = pState->nVideo;
            ULONGLONG ullChunksBefore = pMeasure->ullChunks;
            DWORD dwFrame = pState->dwFrame;
            RIFFCURSOR measured = list;
            if (!MeasureChunks(pState, &measured, FALSE, pMeasure)) return FALSE;
            pState->dwFrame = dwFrame;
            ULONGLONG nInList = pMeasure->ullChunks - ullChunksBefore + 1;
            AviOdmlRoom(pOdml, pMeasure->ullBytes > 0xFFFFFFF0ull ? 0xFFFFFFF0u : (DWORD)pMeasure->ullBytes,
                        nInList > AVIODML_STDINDEX_CAP ? AVIODML_STDINDEX_CAP : (DWORD)nInList);
            ULONGLONG ullList = AviOutBegin(&pState->out, FOURCC_LIST, chunk.fccType);
            // The index lists the list by its type when the input's did.
            ULONGLONG ullEntry = AviOdmlIndex(pOdml, chunk.fccType, pState->avi.nIdx1Lists > 0, AVIIF_LIST, TRUE, ullList, 0);
            if (!ResolveChunks(pState, &list, FALSE)) return FALSE;
            AviOdmlEndList(pOdml, ullList, ullEntry);
            if (!WriterGoesOn(pState)) return FALSE;
            continue;
        }
        DWORD cb = (DWORD)(chunk.ullEnd - chunk.ullPos - 8);
        int iStream = AviStreamOfId(chunk.ckid);
        // The flags of the index that lists the chunk, found by its place.
        const AVICHUNKREF *pRef = AviChunkAt(&pState->places, iStream, chunk.ullData);
        DWORD dwFlags = !pRef ? 0 : pRef->dwIdx1Flags ? pRef->dwIdx1Flags : (pRef->dwFlags & AVICHUNK_KEY) ? AVIIF_KEYFRAME : 0;
        BOOL fKey = !pRef || (pRef->dwFlags & AVICHUNK_KEY);
        BOOL fVideo = IsVideoFrame(pState, chunk.ckid);
        // A frame's key flag matters to players; sound is all key.
        if (!pRef && fVideo) pState->nUnlisted++;
        REFRECORD rec;
        if (fVideo) pState->dwFrame = pState->nVideo++;
        if (fVideo && cb >= sizeof(rec) && RiffRead(&pState->avi.file, chunk.ullData, &rec, sizeof(rec)) && IsRefRecord(&rec, sizeof(rec))) {
            rec.szFileName[MAX_PATH - 1] = '\0';
            if (!WriteRecordFrame(pState, &rec, chunk.ckid, dwFlags, pRef != NULL, fKey, fTop)) return FALSE;
        } else if ((chunk.ckid & 0xFFFF) == mmioFOURCC('i', 'x', 0, 0)) {
            // The input's own standard indexes are made anew.
        } else {
            if (fTop) AviOdmlRoom(pOdml, cb, 1);
            ULONGLONG ullChunk = pState->out.ullPos;
            if (!CopyChunk(pState, &chunk)) return FALSE;
            AviOdmlIndex(pOdml, chunk.ckid, pRef != NULL, dwFlags, fKey, ullChunk, cb);
        }
    }
    // A read that failed is no end of the list, and a record that could not
    // be read is no plain chunk to copy.
    if (pCursor->fFailed || pState->avi.file.fReadFailed) return ReadFailed(pState);
    return WriterGoesOn(pState);
}

}  // namespace

BOOL WriteResolved(RESOLVE *pState)
{
    AVIODML *pOdml = &pState->odml;
    AviOdmlStart(pOdml, &pState->out, &pState->idx1, pState->ullRiffLimit);
    pOdml->pfnFirstRiffTail = CopyFirstRiffTail;
    pOdml->pContext = pState;
    if (!FirstRiffTail(pState, FALSE, &pOdml->cbFirstRiffTail)) return FALSE;
    // What stands before movi in the first RIFF: the header list made anew,
    // the rest as it is.
    const AVIRIFF *pFirst = &pState->avi.pRiffs[0];
    RIFFCURSOR riff;
    RIFFCHUNK chunk;
    RiffRangeCursor(&pState->avi.file, pFirst->ullPos + 12, pFirst->ullEnd, 1, &riff);
    while (RiffNext(&riff, &chunk) && chunk.ullPos < pFirst->ullMovi) {
        BOOL fDone = chunk.ullPos == pState->avi.ullHdrl ? WriteHeaderList(pState, &riff, &chunk) : CopyChunk(pState, &chunk);
        if (!fDone) return FALSE;
    }
    if (riff.fFailed) return ReadFailed(pState);
    if (!AviStartPlaces(&pState->avi, &pState->places))
        return ResolveFail(pState, "frame %lu: out of memory%s", "フレーム %lu: メモリが確保できません%s", "");
    AviOdmlStartMovi(pOdml);
    BeginProgress("resolve", pState->avi.file.cbFile, PROGRESS_BYTES);
    for (int r = 0; r < pState->avi.nRiffs; r++) {
        const AVIRIFF *pRiff = &pState->avi.pRiffs[r];
        if (!pRiff->ullMovi) continue;
        RIFFCURSOR movi;
        RiffRangeCursor(&pState->avi.file, pRiff->ullMoviData, pRiff->ullMoviEnd, 2, &movi);
        if (!ResolveChunks(pState, &movi, TRUE)) return FALSE;
    }
    EndProgress();
    if (pState->avi.file.fReadFailed) return ReadFailed(pState);
    AviOdmlFinish(pOdml);
    return WriterGoesOn(pState);
}
