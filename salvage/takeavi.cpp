// The settings taken from another AVI: its video codec, picture size and
// frame rate go into the settings fields as if typed there. The AVI's
// header list is read through the AVI layer.
#include "salvage/internal.h"

#include "avi/aviread.h"

#include "scaffold/paths.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define AVIH_SIZE 56
#define STRH_SIZE 64

namespace {

struct TAKESTATE {
    LPCSTR pszAviFile;
    HANDLE hFile;
    AVIREAD avi;
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

BOOL IsNoCodec(FOURCC fcc)
{
    // Uncompressed streams name "DIB " or "DIB" and a zero, or nothing.
    return fcc == mmioFOURCC('D', 'I', 'B', ' ') || fcc == mmioFOURCC('D', 'I', 'B', 0) || fcc == 0;
}

// Looks at one stream: TRUE with the format taken when it is a video stream
// with a format of at least 40 bytes. FALSE with no message when it is not;
// FALSE with a message after a failure.
BOOL ReadStream(TAKESTATE *pState, const AVIREADSTREAM *pStream)
{
    if (pStream->cbStrh <= 8 || pStream->fccType != streamtypeVIDEO) return FALSE;
    if (IsNoCodec(pStream->fccHandler)) return Fail(pState, &MSG_NO_CODEC_USED);
    // A header that the file cuts short of its 64 bytes cannot be read; a
    // longer header's surplus is not read.
    if (pStream->fStrhCut && pStream->cbStrh < STRH_SIZE) return Fail(pState, &MSG_AVIS_UNREADABLE);
    DWORD dwScale = pStream->adwStrh[5], dwRate = pStream->adwStrh[6];
    if (dwScale && dwRate)
        snprintf(pState->szRate, sizeof(pState->szRate), "%lu/%lu", (unsigned long)dwRate, (unsigned long)dwScale);
    if (!pStream->pbStrf || pStream->cbStrf < sizeof(BITMAPINFOHEADER)) return FALSE;
    if (pStream->fStrfCut) return Fail(pState, &MSG_STRF_UNREADABLE);
    pState->pbFormat = (BYTE *)malloc(pStream->cbStrf);
    if (!pState->pbFormat) {
        FormatMendMessage(pState->szMessage, &MSG_NO_MEMORY);
        return FALSE;
    }
    memcpy(pState->pbFormat, pStream->pbStrf, pStream->cbStrf);
    pState->cbFormat = pStream->cbStrf;
    pState->fccHandler = pStream->fccHandler;
    return TRUE;
}

// Finds the first video stream with a format in the header list as the AVI
// layer read it; FALSE when there is none or after a failure (with its
// message).
BOOL FindVideoStream(TAKESTATE *pState)
{
    switch (ReadAviHeaders(pState->hFile, &pState->avi)) {
    case AVIREAD_OK:
        break;
    case AVIREAD_NO_HDRL:
        return Fail(pState, pState->avi.ullHdrl ? &MSG_NO_AVIH : &MSG_NO_HDRL);
    case AVIREAD_NO_MEMORY:
        FormatMendMessage(pState->szMessage, &MSG_NO_MEMORY);
        return FALSE;
    case AVIREAD_UNREADABLE:
        return Fail(pState, &MSG_CANNOT_OPEN);
    default:
        return Fail(pState, &MSG_NO_AVI_CHUNK);
    }
    const AVIREAD *pAvi = &pState->avi;
    if (pAvi->cbAvih < AVIH_SIZE) return Fail(pState, &MSG_AVIH_UNREADABLE);
    if (pAvi->adwAvih[0]) snprintf(pState->szRate, sizeof(pState->szRate), "1000000/%lu", (unsigned long)pAvi->adwAvih[0]);
    for (int i = 0; i < pAvi->nStreams; i++) {
        if (ReadStream(pState, &pAvi->aStreams[i])) return TRUE;
        if (pState->szMessage[0]) return FALSE;
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

// Opens the AVI and finds its first video stream with a format. FALSE
// after a failure (the message in the state).
BOOL OpenVideoStream(TAKESTATE *pState, LPCSTR pszAviFile)
{
    memset(pState, 0, sizeof(*pState));
    pState->pszAviFile = pszAviFile;
    pState->hFile = CreateFileA(pszAviFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (pState->hFile == INVALID_HANDLE_VALUE) return Fail(pState, &MSG_CANNOT_OPEN);
    return FindVideoStream(pState);
}

// Closes the file and releases what the layer kept.
void CloseVideoStream(TAKESTATE *pState)
{
    FreeAvi(&pState->avi);
    if (pState->hFile != INVALID_HANDLE_VALUE) CloseHandle(pState->hFile);
    pState->hFile = INVALID_HANDLE_VALUE;
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
    CloseVideoStream(&state);
    free(state.pbFormat);
    if (!fTaken) ShowNotTaken(&state);
    return fTaken;
}

BOOL ReadAviVideoStream(LPCSTR pszAviFile, DWORD *pfccHandler, LPSTR pszRate, LPBITMAPINFOHEADER *ppbiFormat,
                        DWORD *pcbFormat)
{
    TAKESTATE state;
    BOOL fTaken = OpenVideoStream(&state, pszAviFile);
    CloseVideoStream(&state);
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
