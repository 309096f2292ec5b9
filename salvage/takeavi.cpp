// The settings taken from another AVI: its video codec, picture size and
// frame rate go into the settings fields as if typed there.
#include "salvage/internal.h"

#include "scaffold/paths.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define AVIH_SIZE 56
#define STRH_SIZE 64

namespace {

struct TAKESTATE {
    LPCSTR pszAviFile;
    HMMIO hmmio;
    DWORD cbFile;
    CHAR szRate[64];
    CHAR szMessage[MENDMESSAGE_SIZE];
    BYTE *pbFormat;
    DWORD cbFormat;
    FOURCC fccHandler;
};

BOOL Fail(TAKESTATE *pState, const MESSAGE *pMsg)
{
    FormatMendMessage(pState->szMessage, pMsg, pState->pszAviFile);
    return FALSE;
}

// Seeks to an absolute position; FALSE when the platform cannot.
BOOL SeekTo(TAKESTATE *pState, DWORD dwPos)
{
    return dwPos <= 0x7FFFFFFFu && mmioSeek(pState->hmmio, (LONG)dwPos, SEEK_SET) == (LONG)dwPos;
}

// Finds the first chunk with the id fcc (or, with fList, the list of that
// type) among the chunks from dwStart up to dwEnd, and leaves the file at
// its data (behind a list's type). Every chunk passed over must lie inside
// that range: a size from the file never sends the search backwards, round
// in 32 bits or past the file.
BOOL FindChunk(TAKESTATE *pState, DWORD dwStart, DWORD dwEnd, FOURCC fcc, BOOL fList, MMCKINFO *pck)
{
    // Positions are taken as far as the platform's seeks reach.
    if (dwEnd > 0x7FFFFFFFu) dwEnd = 0x7FFFFFFFu;
    unsigned long long qwPos = dwStart;
    while (qwPos + 8 <= dwEnd) {
        if (!SeekTo(pState, (DWORD)qwPos)) return FALSE;
        memset(pck, 0, sizeof(*pck));
        if (mmioDescend(pState->hmmio, pck, NULL, 0) != MMSYSERR_NOERROR) return FALSE;
        if (pck->dwDataOffset != qwPos + 8) return FALSE;
        // The chunk looked for may claim more than there is: its reader
        // checks what it takes. Any other must end inside the range.
        BOOL fListChunk = pck->ckid == FOURCC_LIST;
        if (fList ? (fListChunk && pck->fccType == fcc && pck->cksize >= 4) : (!fListChunk && pck->ckid == fcc))
            return SeekTo(pState, pck->dwDataOffset + (fList ? 4 : 0));
        unsigned long long qwEnd = (unsigned long long)pck->dwDataOffset + pck->cksize;
        if (qwEnd > dwEnd) return FALSE;
        qwPos = qwEnd + (qwEnd & 1);
    }
    return FALSE;
}

// The end of a chunk found by FindChunk, as far as its parent reaches.
DWORD ChunkEnd(const MMCKINFO *pck, DWORD dwParentEnd)
{
    unsigned long long qwEnd = (unsigned long long)pck->dwDataOffset + pck->cksize;
    return qwEnd < dwParentEnd ? (DWORD)qwEnd : dwParentEnd;
}

BOOL IsNoCodec(FOURCC fcc)
{
    // Uncompressed streams name "DIB " or "DIB" and a zero, or nothing.
    return fcc == mmioFOURCC('D', 'I', 'B', ' ') || fcc == mmioFOURCC('D', 'I', 'B', 0) || fcc == 0;
}

// Looks at one stream list: TRUE with the format read when it is a video
// stream with a format of at least 40 bytes. FALSE with no message when it
// is not; FALSE with a message after a failure.
BOOL ReadStreamList(TAKESTATE *pState, const MMCKINFO *pckStrl, DWORD dwEnd)
{
    DWORD dwStart = pckStrl->dwDataOffset + 4;
    MMCKINFO ck;
    if (!FindChunk(pState, dwStart, dwEnd, mmioFOURCC('s', 't', 'r', 'h'), FALSE, &ck)) return FALSE;
    DWORD adwStrh[STRH_SIZE / 4];
    memset(adwStrh, 0, sizeof(adwStrh));
    if (ck.cksize <= 8 || mmioRead(pState->hmmio, (HPSTR)adwStrh, 8) != 8 ||
        adwStrh[0] != mmioFOURCC('v', 'i', 'd', 's'))
        return FALSE;
    if (IsNoCodec(adwStrh[1])) return Fail(pState, &MSG_NO_CODEC_USED);
    // A longer stream header's surplus is not read.
    LONG cbRest = (LONG)(ck.cksize - 8 < STRH_SIZE - 8 ? ck.cksize - 8 : STRH_SIZE - 8);
    if (mmioRead(pState->hmmio, (HPSTR)&adwStrh[2], cbRest) != cbRest) return Fail(pState, &MSG_AVIS_UNREADABLE);
    DWORD dwScale = adwStrh[5], dwRate = adwStrh[6];
    if (dwScale && dwRate)
        snprintf(pState->szRate, sizeof(pState->szRate), "%lu/%lu", (unsigned long)dwRate, (unsigned long)dwScale);

    if (!FindChunk(pState, dwStart, dwEnd, mmioFOURCC('s', 't', 'r', 'f'), FALSE, &ck)) return FALSE;
    if (ck.cksize < sizeof(BITMAPINFOHEADER)) return FALSE;
    // What it asks for is at most what the file holds.
    if (ck.dwDataOffset > pState->cbFile || ck.cksize > pState->cbFile - ck.dwDataOffset)
        return Fail(pState, &MSG_STRF_UNREADABLE);
    pState->pbFormat = (BYTE *)malloc(ck.cksize);
    if (!pState->pbFormat) {
        FormatMendMessage(pState->szMessage, &MSG_NO_MEMORY);
        return FALSE;
    }
    pState->cbFormat = ck.cksize;
    if (mmioRead(pState->hmmio, (HPSTR)pState->pbFormat, (LONG)ck.cksize) != (LONG)ck.cksize)
        return Fail(pState, &MSG_STRF_UNREADABLE);
    pState->fccHandler = adwStrh[1];
    return TRUE;
}

// Finds the first video stream with a format; FALSE when there is none or
// after a failure (with its message).
BOOL FindVideoStream(TAKESTATE *pState)
{
    // The RIFF form is the file's first chunk; a form that claims more than
    // the file holds (a file cut short) is read as far as it goes.
    MMCKINFO ckRiff, ckHdrl, ck;
    memset(&ckRiff, 0, sizeof(ckRiff));
    if (!SeekTo(pState, 0) || mmioDescend(pState->hmmio, &ckRiff, NULL, 0) != MMSYSERR_NOERROR ||
        ckRiff.ckid != FOURCC_RIFF || ckRiff.fccType != mmioFOURCC('A', 'V', 'I', ' ') || ckRiff.cksize < 4)
        return Fail(pState, &MSG_NO_AVI_CHUNK);
    unsigned long long qwRiffEnd = (unsigned long long)ckRiff.dwDataOffset + ckRiff.cksize;
    DWORD dwRiffEnd = qwRiffEnd < pState->cbFile ? (DWORD)qwRiffEnd : pState->cbFile;
    if (!FindChunk(pState, ckRiff.dwDataOffset + 4, dwRiffEnd, mmioFOURCC('h', 'd', 'r', 'l'), TRUE, &ckHdrl))
        return Fail(pState, &MSG_NO_HDRL);
    DWORD dwHdrl = ckHdrl.dwDataOffset + 4, dwHdrlEnd = ChunkEnd(&ckHdrl, dwRiffEnd);
    if (!FindChunk(pState, dwHdrl, dwHdrlEnd, mmioFOURCC('a', 'v', 'i', 'h'), FALSE, &ck))
        return Fail(pState, &MSG_NO_AVIH);
    DWORD adwAvih[AVIH_SIZE / 4];
    if (ck.cksize < AVIH_SIZE || mmioRead(pState->hmmio, (HPSTR)adwAvih, AVIH_SIZE) != AVIH_SIZE)
        return Fail(pState, &MSG_AVIH_UNREADABLE);
    if (adwAvih[0]) snprintf(pState->szRate, sizeof(pState->szRate), "1000000/%lu", (unsigned long)adwAvih[0]);
    // The stream lists, one after another.
    for (DWORD dwPos = dwHdrl; FindChunk(pState, dwPos, dwHdrlEnd, mmioFOURCC('s', 't', 'r', 'l'), TRUE, &ck);) {
        MMCKINFO ckStrl = ck;
        DWORD dwStrlEnd = ChunkEnd(&ckStrl, dwHdrlEnd);
        if (ReadStreamList(pState, &ckStrl, dwStrlEnd)) return TRUE;
        if (pState->szMessage[0]) return FALSE;
        // Lists follow one another; a list that claims to reach beyond the
        // header list ends the search.
        if (dwStrlEnd >= dwHdrlEnd) break;
        dwPos = dwStrlEnd + (dwStrlEnd & 1);
    }
    return FALSE;
}

// Puts the stream's codec, picture size and rate into the fields and lets
// their handlers take them over.
BOOL TakeStream(TAKESTATE *pState)
{
    CHAR szCode[5];
    FourccText(pState->fccHandler, szCode);
    HIC hic = ICOpen(ICTYPE_VIDEO, pState->fccHandler, ICMODE_QUERY);
    if (!hic) {
        FormatMendMessage(pState->szMessage, &MSG_AVI_CODEC_CANNOT_OPEN, pState->pszAviFile, szCode);
        return FALSE;
    }
    CHAR szEntry[CODECENTRY_SIZE];
    BOOL fEntry = FormatCodecEntry(szEntry, hic, pState->fccHandler);
    ICClose(hic);
    if (!fEntry) {
        FormatMendMessage(pState->szMessage, &MSG_AVI_CODEC_NO_INFO, pState->pszAviFile, szCode);
        return FALSE;
    }
    ResetPreviewCodec();
    g_pbiCompressed = (LPBITMAPINFOHEADER)pState->pbFormat;
    g_cbCompressed = pState->cbFormat;
    pState->pbFormat = NULL;

    const COMBOLIST *pList = UiCombo(IDC_CODEC);
    if (pList) {
        int i = pList->pfnFind(pList->pCtx, -1, szEntry, FALSE);
        if (i < 0) i = pList->pfnAddItem(pList->pCtx, szEntry);
        pList->pfnSetCurSel(pList->pCtx, i);
    }
    // A top-down picture gives its height as a negative number.
    LONG lHeight = g_pbiCompressed->biHeight;
    struct {
        int nId;
        unsigned long ulValue;
    } aSizes[] = {{IDC_WIDTH, (unsigned long)(DWORD)g_pbiCompressed->biWidth},
                  {IDC_HEIGHT, (unsigned long)(DWORD)(lHeight < 0 ? -(long long)lHeight : lHeight)}};
    for (const auto &size : aSizes) {
        CHAR sz[16];
        snprintf(sz, sizeof(sz), "%lu", size.ulValue);
        const COMBOLIST *pField = UiCombo(size.nId);
        if (pField) pField->pfnSetEditText(pField->pCtx, sz);
    }
    const COMBOLIST *pRate = UiCombo(IDC_FRAMERATE);
    if (pRate) pRate->pfnSetEditText(pRate->pCtx, pState->szRate);
    UiPostNotify(IDC_FRAMERATE, CBN_EDITCHANGE);
    UiPostNotify(IDC_WIDTH, CBN_EDITCHANGE);
    UiPostNotify(IDC_HEIGHT, CBN_EDITCHANGE);
    UiPostNotify(IDC_CODEC, CBN_SELENDOK);
    return TRUE;
}

}  // namespace

namespace {

// Opens the AVI and finds its first video stream with a format; the stream
// library's handle is closed again. FALSE after a failure (the message in
// the state).
BOOL OpenVideoStream(TAKESTATE *pState, LPCSTR pszAviFile)
{
    memset(pState, 0, sizeof(*pState));
    pState->pszAviFile = pszAviFile;
    // The file's size, for what its chunks may ask.
    HANDLE hFile = CreateFileA(pszAviFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile != INVALID_HANDLE_VALUE) {
        DWORD dwHigh = 0;
        DWORD dwLow = GetFileSize(hFile, &dwHigh);
        pState->cbFile = (dwHigh || dwLow == INVALID_FILE_SIZE) ? 0xFFFFFFFFu : dwLow;
        CloseHandle(hFile);
        pState->hmmio = mmioOpenA((LPSTR)pszAviFile, NULL, MMIO_READ | MMIO_ALLOCBUF | MMIO_DENYNONE);
    }
    if (!pState->hmmio) return Fail(pState, &MSG_CANNOT_OPEN);
    return FindVideoStream(pState);
}

void ShowNotTaken(const TAKESTATE *pState)
{
    CHAR szText[MENDMESSAGE_SIZE + 64];
    RenderMessage(szText, sizeof(szText), &MSG_SETTINGS_NOT_TAKEN, pState->szMessage);
    ShowMendMessage(szText, MB_OK | MB_ICONQUESTION);
}

}  // namespace

BOOL TakeAviSettings(LPCSTR pszAviFile)
{
    TAKESTATE state;
    BOOL fTaken = OpenVideoStream(&state, pszAviFile) && TakeStream(&state);
    if (state.hmmio) mmioClose(state.hmmio, 0);
    free(state.pbFormat);
    if (!fTaken) ShowNotTaken(&state);
    return fTaken;
}

BOOL ReadAviVideoStream(LPCSTR pszAviFile, DWORD *pfccHandler, LPSTR pszRate, LPBITMAPINFOHEADER *ppbiFormat,
                        DWORD *pcbFormat)
{
    TAKESTATE state;
    BOOL fTaken = OpenVideoStream(&state, pszAviFile);
    if (state.hmmio) mmioClose(state.hmmio, 0);
    if (!fTaken) {
        free(state.pbFormat);
        ShowNotTaken(&state);
        return FALSE;
    }
    *pfccHandler = state.fccHandler;
    snprintf(pszRate, 64, "%s", state.szRate);
    *ppbiFormat = (LPBITMAPINFOHEADER)state.pbFormat;
    *pcbFormat = state.cbFormat;
    return TRUE;
}

void MakeDefaultAviName(LPSTR pszAviFile, LPCSTR pszRefFile)
{
    if (pszAviFile[0]) return;
    snprintf(pszAviFile, MAX_PATH, "%s", pszRefFile);
    if (!pszAviFile[0]) return;
    LPSTR pszExtension = GetExtensionPart(pszAviFile);
    if (pszExtension) {
        // Also cuts a longer extension to these three letters.
        snprintf(pszExtension, (size_t)(MAX_PATH - (pszExtension - pszAviFile)), "avi");
    } else {
        size_t cch = strlen(pszAviFile);
        if (cch + 4 < MAX_PATH) memcpy(pszAviFile + cch, ".avi", 5);
    }
}
