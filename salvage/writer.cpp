// The salvaged AVI: one video stream whose every frame is a reference record
// pointing into the scanned reference file.
//
// The AVI is written beside the chosen name under a name of its own and
// takes the chosen name only when it is complete, so that an existing file
// is replaced only by a finished AVI, and a write that fails anywhere
// leaves nothing behind and the existing file as it was. The working file
// is made new (never through a link someone put at its name) and written,
// checked and renamed through the handle that made it. Its chunks are
// written through the AVI layer's writer: each opened by a mark and closed
// by it, its size written at the close.
#include "salvage/internal.h"

#include "avi/aviread.h"
#include "avi/aviwrite.h"
#include "codec/refformat.h"
#include "scaffold/filegate.h"
#include "scaffold/paths.h"
#include "scaffold/recordnames.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>


#define AVIH_SIZE 56
#define STRH_SIZE 64
#define AVIH_TOTALFRAMES 16  // offset of dwTotalFrames in the main header
#define STRH_LENGTH 32       // offset of dwLength in the stream header
#define FORMAT_SIZE_MAX (1024u * 1024u)
// The output's buffer: the file is written in pieces of this size.
#define WRITE_BUFFER 65536u

namespace {

struct WRITESTATE {
    LPCSTR pszAviFile;   // the name chosen; the messages show it
    CHAR szTemp[MAX_PATH];
    CHAR szRecordName[MAX_PATH];  // the reference file as the records name it
    HANDLE hTemp;        // the working file, made by this write
    FILEID idTemp;
    AVIOUT out;          // written through hTemp
    BOOL fOut;
    ULONGLONG ullRiff;   // the RIFF's mark
    HIC hicRef;
    BYTE *pbFormat;
    AVIINDEXENTRY *pIndex;
    DWORD cbFormat;  // bytes of the stream format written
    CHAR szMessage[MENDMESSAGE_SIZE];
};

BOOL Fail(WRITESTATE *pState, const MESSAGE *pMsg)
{
    FormatMendMessage(pState->szMessage, pMsg, pState->pszAviFile);
    return FALSE;
}

// Opens a chunk (fccType 0) or a list ("RIFF" or "LIST" and its type); its
// mark comes back for the close.
BOOL Create(WRITESTATE *pState, ULONGLONG *pullMark, FOURCC fccId, FOURCC fccType, const MESSAGE *pszMessage)
{
    *pullMark = AviOutBegin(&pState->out, fccId, fccType);
    return pState->out.fFailed ? Fail(pState, pszMessage) : TRUE;
}

// Closes a chunk, which writes its size; a failure is a failed write of it.
BOOL Close(WRITESTATE *pState, ULONGLONG ullMark, const MESSAGE *pszMessage)
{
    return AviOutEnd(&pState->out, ullMark) ? TRUE : Fail(pState, pszMessage);
}

BOOL Write(WRITESTATE *pState, const void *pData, DWORD cb, const MESSAGE *pszMessage)
{
    AviOutPut(&pState->out, pData, cb);
    return pState->out.fFailed ? Fail(pState, pszMessage) : TRUE;
}

// The place the next byte goes to; the file's places are 31-bit.
BOOL Tell(WRITESTATE *pState, DWORD *pdwPos)
{
    if (pState->out.ullPos > 0x7FFFFFFFull) return Fail(pState, &MSG_CANNOT_SEEK);
    *pdwPos = (DWORD)pState->out.ullPos;
    return TRUE;
}

// Makes the working file in the AVI's folder: the AVI's name with ".~NN",
// or when that is too long, "~smNN.tmp" in the same folder; a name that
// anything stands at is passed over.
BOOL MakeTempFile(WRITESTATE *pState)
{
    LPCSTR pszAviFile = pState->pszAviFile;
    size_t cchFolder = (size_t)(GetFileNamePart(pszAviFile) - pszAviFile);
    for (int n = 0; n < 100; n++) {
        if (snprintf(pState->szTemp, MAX_PATH, "%s.~%02d", pszAviFile, n) >= MAX_PATH &&
            snprintf(pState->szTemp, MAX_PATH, "%.*s~sm%02d.tmp", (int)cchFolder, pszAviFile, n) >= MAX_PATH)
            break;
        pState->hTemp = GateCreateNew(pState->szTemp, GENERIC_READ | GENERIC_WRITE, &pState->idTemp);
        if (pState->hTemp != INVALID_HANDLE_VALUE) return TRUE;
        DWORD dwError = GetLastError();
        if (dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS) break;
    }
    pState->szTemp[0] = '\0';
    return FALSE;
}

// The stream format: the chosen codec's output format for the picture, or
// with the no-codec entry, that of the reference codec chosen in the save
// dialog.
BOOL WriteFormat(WRITESTATE *pState)
{
    if (g_fccHandler) {
        // The format is the preview's, had now if no frame was shown since
        // the codec was chosen.
        CHAR szMessage[MENDMESSAGE_SIZE] = "";
        if (!g_pbiCompressed) GetPreviewFormat(szMessage);
        if (!g_pbiCompressed) return Fail(pState, &MSG_WRITE_STRF);
        pState->cbFormat = g_cbCompressed;
        return Write(pState, g_pbiCompressed, g_cbCompressed, &MSG_WRITE_STRF);
    }
    pState->hicRef = ICOpen(ICTYPE_VIDEO, g_fccRefHandler, ICMODE_FASTDECOMPRESS);
    if (!pState->hicRef) {
        CHAR szCode[5];
        FourccText(g_fccRefHandler, szCode);
        FormatMendMessage(pState->szMessage, &MSG_CODEC_CANNOT_OPEN, szCode);
        return FALSE;
    }
    LRESULT lSize = ICSendMessage(pState->hicRef, ICM_COMPRESS_GET_FORMAT, (DWORD_PTR)&g_bihRgb, 0);
    if (lSize < (LRESULT)sizeof(BITMAPINFOHEADER) || (unsigned long long)lSize > FORMAT_SIZE_MAX) {
        FormatMendMessage(pState->szMessage, &MSG_PREVIEW_NO_FORMAT);
        return FALSE;
    }
    pState->pbFormat = (BYTE *)calloc(1, (size_t)lSize);
    if (!pState->pbFormat) {
        FormatMendMessage(pState->szMessage, &MSG_NO_MEMORY_LEFT);
        return FALSE;
    }
    if (ICSendMessage(pState->hicRef, ICM_COMPRESS_GET_FORMAT, (DWORD_PTR)&g_bihRgb, (DWORD_PTR)pState->pbFormat) !=
        ICERR_OK) {
        FormatMendMessage(pState->szMessage, &MSG_PREVIEW_NO_FORMAT);
        return FALSE;
    }
    pState->cbFormat = (DWORD)lSize;
    return Write(pState, pState->pbFormat, (DWORD)lSize, &MSG_WRITE_STRF);
}

// The header list; the places of the two frame counts come back for the
// patch after a shortened frame loop.
BOOL WriteHeaders(WRITESTATE *pState, DWORD *pdwAvih, DWORD *pdwStrh)
{
    ULONGLONG ckHdrl, ckAvih, ckStrl, ckStrh, ckStrf;
    double dblUs = 1000000.0 / g_dblFps + 0.5;
    DWORD adwAvih[AVIH_SIZE / 4] = {dblUs >= 4294967295.0 ? 0xFFFFFFFFu : (DWORD)dblUs,
                                    0,
                                    0,
                                    AVIF_HASINDEX,
                                    g_nRefFrames,
                                    0,
                                    1,
                                    0,
                                    (DWORD)g_bihRgb.biWidth,
                                    (DWORD)g_bihRgb.biHeight};
    BYTE abStrh[STRH_SIZE];
    memset(abStrh, 0, sizeof(abStrh));
    DWORD adwStrh[] = {mmioFOURCC('v', 'i', 'd', 's'), g_fccHandler ? g_fccHandler : g_fccRefHandler, 0};
    memcpy(abStrh, adwStrh, sizeof(adwStrh));  // type, handler, flags; priority and language 0
    DWORD adwStrhRest[] = {0, g_dwScale, g_dwRate, 0, g_nRefFrames, 0, 0xFFFFFFFFu, 0};
    memcpy(abStrh + 16, adwStrhRest, sizeof(adwStrhRest));  // the frame rectangle stays 0

    return Create(pState, &pState->ullRiff, FOURCC_RIFF, mmioFOURCC('A', 'V', 'I', ' '), &MSG_CREATE_AVI) &&
           Create(pState, &ckHdrl, FOURCC_LIST, mmioFOURCC('h', 'd', 'r', 'l'), &MSG_CREATE_HDRL) &&
           Create(pState, &ckAvih, mmioFOURCC('a', 'v', 'i', 'h'), 0, &MSG_CREATE_AVIH) &&
           Tell(pState, pdwAvih) && Write(pState, adwAvih, AVIH_SIZE, &MSG_WRITE_AVIH) &&
           Close(pState, ckAvih, &MSG_WRITE_AVIH) &&
           Create(pState, &ckStrl, FOURCC_LIST, mmioFOURCC('s', 't', 'r', 'l'), &MSG_CREATE_STRL) &&
           Create(pState, &ckStrh, mmioFOURCC('s', 't', 'r', 'h'), 0, &MSG_CREATE_STRH) &&
           Tell(pState, pdwStrh) && Write(pState, abStrh, STRH_SIZE, &MSG_WRITE_AVIS) &&
           Close(pState, ckStrh, &MSG_WRITE_AVIS) &&
           Create(pState, &ckStrf, mmioFOURCC('s', 't', 'r', 'f'), 0, &MSG_CREATE_STRF) &&
           WriteFormat(pState) && Close(pState, ckStrf, &MSG_WRITE_STRF) &&
           Close(pState, ckStrl, &MSG_WRITE_STRF) &&
           Close(pState, ckHdrl, &MSG_WRITE_STRF);
}

// Checks the closed file and writes the frame count at its two places when
// fewer frames were written than listed. The platform's buffered writes may
// report success for bytes that never reached the disk: only a file of the
// whole size that the AVI reader reads back whole, each chunk of the size
// written and each record listed where it stands, flushed, is a finished
// AVI.
BOOL FinishFile(HANDLE h, DWORD cbExpected, DWORD dwAvih, DWORD dwStrh, DWORD nFrames, BOOL fPatch, DWORD cbFormat)
{
    DWORD dwHigh = 0;
    BOOL fOk = GetFileSize(h, &dwHigh) == cbExpected && dwHigh == 0;
    AVIREAD avi;
    memset(&avi, 0, sizeof(avi));
    fOk = fOk && ReadAvi(h, &avi) == AVIREAD_OK;
    const AVIREADSTREAM *pStream = &avi.aStreams[0];
    const AVIRIFF *pRiff = fOk ? &avi.pRiffs[0] : NULL;
    fOk = fOk && avi.nRiffs == 1 && !pRiff->fCut && pRiff->ullEnd == cbExpected && avi.cbAvih == AVIH_SIZE &&
          avi.nStreams == 1 && pStream->cbStrh == STRH_SIZE && !pStream->fStrhCut && pStream->cbStrf == cbFormat &&
          !pStream->fStrfCut && pStream->nSource == AVIINDEX_IDX1 && pStream->nChunks == nFrames && pStream->nWalked == nFrames &&
          !avi.nUnlisted && !avi.nUnplaced && avi.nIdx1 == nFrames && avi.ullIdx1 == pRiff->ullMoviEnd &&
          avi.ullIdx1 + 8 + 16ull * nFrames == cbExpected;
    for (DWORD i = 0; fOk && i < nFrames; i++) fOk = pStream->pChunks[i].cbData == sizeof(REFRECORD);
    FreeAvi(&avi);
    const DWORD adwPos[] = {dwAvih + AVIH_TOTALFRAMES, dwStrh + STRH_LENGTH};
    for (DWORD dwPos : adwPos) {
        DWORD cb = 0;
        if (fOk && fPatch)
            fOk = SetFilePointer(h, (LONG)dwPos, NULL, FILE_BEGIN) == dwPos &&
                  WriteFile(h, &nFrames, sizeof(nFrames), &cb, NULL) && cb == sizeof(nFrames);
    }
    return fOk && FlushFileBuffers(h);
}

}  // namespace

BOOL WriteAviOfRecords(const SALVAGEWRITE *pReq, SALVAGEWRITTEN *pRes)
{
    LPCSTR pszAviFile = pReq->pszAviFile;
    WRITESTATE state;
    memset(&state, 0, sizeof(state));
    state.pszAviFile = pszAviFile;
    state.hTemp = INVALID_HANDLE_VALUE;
    memset(pRes, 0, sizeof(*pRes));

    DWORD nWritten = 0;
    BOOL fResult = FALSE;
    DWORD dwAvih = 0, dwStrh = 0;
    if (g_nRefFrames == 0 || g_hRefFile == INVALID_HANDLE_VALUE) {
        FormatMendMessage(state.szMessage, &MSG_NO_REF_OPEN);
    } else if (!g_dwRate || !g_dwScale || !(g_dblFps > 0.0)) {
        // A rate of 0 would give an AVI without a frame duration.
        FormatMendMessage(state.szMessage, &MSG_RATE_GIVES_NO_AVI, g_szFrameRate);
    } else if (SameFile(pszAviFile, g_szRefFile)) {
        // By whatever name, link or linked folder the reference file is reached.
        Fail(&state, &MSG_OUTPUT_IS_REF);
    } else if (!FileNameToRecordName(g_szRefFile, state.szRecordName)) {
        // The records name the file in their own code page.
        FormatMendMessage(state.szMessage, &MSG_NAME_NOT_IN_RECORDS, g_szRefFile);
    } else if (!MakeTempFile(&state)) {
        Fail(&state, &MSG_CANNOT_OPEN);
    } else if (!AviOutOpen(&state.out, state.hTemp, WRITE_BUFFER, FALSE)) {
        FormatMendMessage(state.szMessage, &MSG_NO_MEMORY);
    } else {
        state.fOut = TRUE;
    }
    ULONGLONG ckMovi = 0;
    if (state.fOut && WriteHeaders(&state, &dwAvih, &dwStrh) &&
        Create(&state, &ckMovi, FOURCC_LIST, mmioFOURCC('m', 'o', 'v', 'i'), &MSG_CREATE_MOVI)) {
        state.pIndex = (AVIINDEXENTRY *)calloc(g_nRefFrames, sizeof(AVIINDEXENTRY));
        if (!state.pIndex) FormatMendMessage(state.szMessage, &MSG_NO_MEMORY);
    }
    BOOL fLoopFailed = FALSE;
    if (state.pIndex) {
        REFRECORD rec;
        BuildRefRecord(&rec, 0, g_fccHandler == 0, 0, 0, state.szRecordName);
        for (DWORD i = 0; i < g_nRefFrames && !(pReq->pfAbort && *pReq->pfAbort); i++) {
            rec.dwOffset = g_pRefFrames[i].dwOffset;
            rec.dwSizeFlags = (rec.dwSizeFlags & ~REFREC_SIZEMASK) | (g_pRefFrames[i].dwFrameSize & REFREC_SIZEMASK);
            AVIINDEXENTRY *pEntry = &state.pIndex[i];
            ULONGLONG ck = 0;
            pEntry->ckid = mmioFOURCC('0', '0', 'd', 'b');
            pEntry->dwChunkLength = sizeof(rec);
            fLoopFailed = !Tell(&state, &pEntry->dwChunkOffset) ||
                          !Create(&state, &ck, pEntry->ckid, 0, &MSG_CREATE_00DB) ||
                          !Write(&state, &rec, sizeof(rec), &MSG_WRITE_00DB) ||
                          !Close(&state, ck, &MSG_WRITE_00DB);
            if (fLoopFailed) break;
            pEntry->dwFlags = AVIIF_KEYFRAME;
            nWritten++;
            if (pReq->pfnProgress) pReq->pfnProgress(pReq->pv, nWritten, g_nRefFrames);
        }
    }
    // A failed write inside the loop ends the command: the AVI is not
    // finished, and the file of the chosen name stays as it was. (Stopped
    // by the user, the frames so far make a complete AVI.)
    if (nWritten > 0 && !fLoopFailed) {
        ULONGLONG ckIdx1 = 0;
        BOOL fOk = Close(&state, ckMovi, &MSG_WRITE_00DB) &&
                   Create(&state, &ckIdx1, mmioFOURCC('i', 'd', 'x', '1'), 0, &MSG_CREATE_IDX1) &&
                   Write(&state, state.pIndex, nWritten * (DWORD)sizeof(AVIINDEXENTRY), &MSG_WRITE_IDX1) &&
                   Close(&state, ckIdx1, &MSG_WRITE_IDX1) &&
                   Close(&state, state.ullRiff, &MSG_WRITE_IDX1);
        ULONGLONG ullEnd = state.out.ullPos;
        // The buffer's last bytes are written now: a failure there is a
        // failed write.
        BOOL fDrained = AviOutDrain(&state.out);
        AviOutClose(&state.out);
        state.fOut = FALSE;
        if (fOk && (!fDrained || ullEnd > 0x7FFFFFFFull ||
                    !FinishFile(state.hTemp, (DWORD)ullEnd, dwAvih, dwStrh, nWritten, nWritten < g_nRefFrames,
                                state.cbFormat)))
            fOk = Fail(&state, &MSG_WRITE_IDX1);
        if (!CloseHandle(state.hTemp)) fOk = fOk && Fail(&state, &MSG_WRITE_IDX1);
        state.hTemp = INVALID_HANDLE_VALUE;
        // The finished file takes the chosen name, replacing what is there
        // (a link there is replaced itself, never what it leads to).
        GATEPROOF made = {GATE_MADE, state.idTemp, 0};
        if (fOk && GateRename(state.szTemp, &made, pszAviFile, TRUE) != GATE_DONE) fOk = Fail(&state, &MSG_CANNOT_OPEN);
        fResult = fOk;
    }

    if (state.fOut) AviOutClose(&state.out);
    if (state.hTemp != INVALID_HANDLE_VALUE) CloseHandle(state.hTemp);
    if (!fResult && state.szTemp[0]) {
        GATEPROOF made = {GATE_MADE, state.idTemp, 0};
        GateDelete(state.szTemp, &made);
    }
    if (state.hicRef) ICClose(state.hicRef);
    free(state.pbFormat);
    free(state.pIndex);
    memcpy(pRes->szMessage, state.szMessage, sizeof(pRes->szMessage));
    pRes->nWritten = fResult ? nWritten : 0;
    pRes->fWritten = fResult;
    return fResult;
}

namespace {

void PumpAtEachFrame(void *, DWORD, DWORD) { UiPumpMessage(); }

}  // namespace

BOOL WriteSalvageAvi(LPCSTR pszAviFile)
{
    SetBusyState(FALSE);
    SALVAGEWRITE req;
    memset(&req, 0, sizeof(req));
    req.pszAviFile = pszAviFile;
    req.pfnProgress = PumpAtEachFrame;
    req.pfAbort = &g_fAbort;
    SALVAGEWRITTEN res;
    BOOL fWritten = WriteAviOfRecords(&req, &res);
    if (res.szMessage[0]) ShowMendMessage(res.szMessage, MB_OK | MB_ICONQUESTION);
    SetBusyState(TRUE);
    return fWritten;
}
