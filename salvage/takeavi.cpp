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

BOOL Fail(TAKESTATE *pState, LPCSTR pszFormat)
{
    FormatMendMessage(pState->szMessage, pszFormat, pState->pszAviFile);
    return FALSE;
}

BOOL Leave(TAKESTATE *pState, MMCKINFO *pck, LPCSTR pszFormat)
{
    if (mmioAscend(pState->hmmio, pck, 0) != MMSYSERR_NOERROR) return Fail(pState, pszFormat);
    return TRUE;
}

BOOL IsNoCodec(FOURCC fcc)
{
    // Uncompressed streams name "DIB " or "DIB" and a zero, or nothing.
    return fcc == mmioFOURCC('D', 'I', 'B', ' ') || fcc == mmioFOURCC('D', 'I', 'B', 0) || fcc == 0;
}

// Looks at one stream list: TRUE with the format read when it is a video
// stream with a format of at least 40 bytes. FALSE with no message when it
// is not; FALSE with a message after a failure.
BOOL ReadStreamList(TAKESTATE *pState, MMCKINFO *pckStrl)
{
    MMCKINFO ck;
    memset(&ck, 0, sizeof(ck));
    ck.ckid = mmioFOURCC('s', 't', 'r', 'h');
    if (mmioDescend(pState->hmmio, &ck, pckStrl, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return FALSE;
    DWORD adwStrh[STRH_SIZE / 4];
    memset(adwStrh, 0, sizeof(adwStrh));
    if (ck.cksize <= 8 || mmioRead(pState->hmmio, (HPSTR)adwStrh, 8) != 8 ||
        adwStrh[0] != mmioFOURCC('v', 'i', 'd', 's')) {
        Leave(pState, &ck, "%s(strh)のアセンドに失敗しました!");
        return FALSE;
    }
    if (IsNoCodec(adwStrh[1])) return Fail(pState, "%sにはコーデックが使用されていません!");
    // A longer stream header's surplus is not read.
    LONG cbRest = (LONG)(ck.cksize - 8 < STRH_SIZE - 8 ? ck.cksize - 8 : STRH_SIZE - 8);
    if (mmioRead(pState->hmmio, (HPSTR)&adwStrh[2], cbRest) != cbRest) return Fail(pState, "%s(avis)が読み出せません!");
    DWORD dwScale = adwStrh[5], dwRate = adwStrh[6];
    if (dwScale && dwRate)
        snprintf(pState->szRate, sizeof(pState->szRate), "%lu/%lu", (unsigned long)dwRate, (unsigned long)dwScale);
    if (!Leave(pState, &ck, "%s(strh)のアセンドに失敗しました!")) return FALSE;

    memset(&ck, 0, sizeof(ck));
    ck.ckid = mmioFOURCC('s', 't', 'r', 'f');
    if (mmioDescend(pState->hmmio, &ck, pckStrl, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return FALSE;
    if (ck.cksize < sizeof(BITMAPINFOHEADER)) {
        Leave(pState, &ck, "%s(strh)のアセンドに失敗しました!");
        return FALSE;
    }
    // The chunk says how large it is; only what the file can hold is asked
    // for.
    if (ck.dwDataOffset > pState->cbFile || ck.cksize > pState->cbFile - ck.dwDataOffset)
        return Fail(pState, "%s(strf)が読み出せません!");
    pState->pbFormat = (BYTE *)malloc(ck.cksize);
    if (!pState->pbFormat) {
        FormatMendMessage(pState->szMessage, "メモリが確保できません!");
        return FALSE;
    }
    pState->cbFormat = ck.cksize;
    if (mmioRead(pState->hmmio, (HPSTR)pState->pbFormat, (LONG)ck.cksize) != (LONG)ck.cksize)
        return Fail(pState, "%s(strf)が読み出せません!");
    pState->fccHandler = adwStrh[1];
    return TRUE;
}

// Finds the first video stream with a format; FALSE when there is none or
// after a failure (with its message).
BOOL FindVideoStream(TAKESTATE *pState)
{
    MMCKINFO ckRiff, ckHdrl, ck;
    memset(&ckRiff, 0, sizeof(ckRiff));
    ckRiff.fccType = mmioFOURCC('A', 'V', 'I', ' ');
    if (mmioDescend(pState->hmmio, &ckRiff, NULL, MMIO_FINDRIFF) != MMSYSERR_NOERROR)
        return Fail(pState, "%sにAVIチャンクがありません!");
    memset(&ckHdrl, 0, sizeof(ckHdrl));
    ckHdrl.fccType = mmioFOURCC('h', 'd', 'r', 'l');
    if (mmioDescend(pState->hmmio, &ckHdrl, &ckRiff, MMIO_FINDLIST) != MMSYSERR_NOERROR)
        return Fail(pState, "%sにList/hdrlチャンクがありません!");
    memset(&ck, 0, sizeof(ck));
    ck.ckid = mmioFOURCC('a', 'v', 'i', 'h');
    if (mmioDescend(pState->hmmio, &ck, &ckHdrl, MMIO_FINDCHUNK) != MMSYSERR_NOERROR)
        return Fail(pState, "%sにavihチャンクがありません!");
    DWORD adwAvih[AVIH_SIZE / 4];
    if (mmioRead(pState->hmmio, (HPSTR)adwAvih, AVIH_SIZE) != AVIH_SIZE)
        return Fail(pState, "%s のavihチャンクが読み出せん!");
    if (adwAvih[0]) snprintf(pState->szRate, sizeof(pState->szRate), "1000000/%lu", (unsigned long)adwAvih[0]);
    if (!Leave(pState, &ck, "%s(strh)のアセンドに失敗しました!")) return FALSE;
    for (;;) {
        MMCKINFO ckStrl;
        memset(&ckStrl, 0, sizeof(ckStrl));
        ckStrl.fccType = mmioFOURCC('s', 't', 'r', 'l');
        if (mmioDescend(pState->hmmio, &ckStrl, &ckHdrl, MMIO_FINDLIST) != MMSYSERR_NOERROR) break;
        if (ReadStreamList(pState, &ckStrl)) return TRUE;
        if (pState->szMessage[0]) return FALSE;
        if (!Leave(pState, &ckStrl, "%s(LIST)のアセンドに失敗しました!")) return FALSE;
    }
    Leave(pState, &ckHdrl, "%s(LIST/hdrl)のアセンドに失敗しました!");
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
        FormatMendMessage(pState->szMessage, "%sのビデオコーデック%sがオープンできません!", pState->pszAviFile, szCode);
        return FALSE;
    }
    CHAR szEntry[CODECENTRY_SIZE];
    BOOL fEntry = FormatCodecEntry(szEntry, hic, pState->fccHandler);
    ICClose(hic);
    if (!fEntry) {
        FormatMendMessage(pState->szMessage, "%sのビデオコーデック%sの情報が取得できません!", pState->pszAviFile, szCode);
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

BOOL TakeAviSettings(LPCSTR pszAviFile)
{
    TAKESTATE state;
    memset(&state, 0, sizeof(state));
    state.pszAviFile = pszAviFile;
    BOOL fTaken = FALSE;
    state.hmmio = mmioOpenA((LPSTR)pszAviFile, NULL, MMIO_READ | MMIO_ALLOCBUF | MMIO_DENYNONE);
    if (!state.hmmio) {
        Fail(&state, "%sがオープンできません!");
    } else {
        LONG lEnd = mmioSeek(state.hmmio, 0, SEEK_END);
        state.cbFile = lEnd > 0 ? (DWORD)lEnd : 0;
        if (mmioSeek(state.hmmio, 0, SEEK_SET) != 0) Fail(&state, "%sがオープンできません!");
        else if (FindVideoStream(&state)) fTaken = TakeStream(&state);
        mmioClose(state.hmmio, 0);
    }
    free(state.pbFormat);
    if (!fTaken) {
        CHAR szText[MENDMESSAGE_SIZE + 64];
        snprintf(szText, sizeof(szText), "%s\nコーデックの設定が取得できませんでした.", state.szMessage);
        ShowMendMessage(szText, MB_OK | MB_ICONQUESTION);
    }
    return fTaken;
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
