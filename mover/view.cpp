#include "mover/view.h"

#include "mover/message.h"
#include "scaffold/paths.h"

#include <stdio.h>
#include <string.h>

AviInfo g_AviInfo;
LONG g_cxFrame, g_cyFrame;
BOOL g_fFrameShown;
DWORD g_nCurFrame;

PREVIEWSTATE GetPreviewState(void)
{
    if (!g_AviInfo.hmmio || g_AviInfo.nFrames == 0) return PREVIEW_EMPTY;
    return g_fFrameShown ? PREVIEW_PICTURE : PREVIEW_UNREADABLE;
}

void MakeDefaultBaseName(LPCSTR pszAviFile, LPSTR pszBase)
{
    snprintf(pszBase, MAX_PATH, "%s", pszAviFile);
    LPSTR pszExt = GetExtensionPart(pszBase);
    if (pszExt) pszExt[-1] = '\0';
}

BOOL ShowFrame(AviInfo *pInfo, DWORD n)
{
    BOOL fShown = DecodeFrame(pInfo, n);
    g_nCurFrame = n;
    CHAR sz[16];
    snprintf(sz, sizeof(sz), "%lu", (unsigned long)n);
    ShiftSetText(IDC_SHIFT_CURFRAME, sz);
    if (g_ShiftUi.pfnSetScrollPos) g_ShiftUi.pfnSetScrollPos(n);
    g_fFrameShown = fShown;
    if (g_ShiftUi.pfnShowPicture) g_ShiftUi.pfnShowPicture(fShown);
    return fShown;
}

BOOL OpenAviView(AviInfo *pInfo, BOOL fOpen)
{
    ShiftSetText(IDC_SHIFT_SIZETEXT, "");
    ShiftSetText(IDC_SHIFT_CURFRAME, "");
    ShiftSetText(IDC_SHIFT_CODEC, "");
    BOOL fOk = LoadAvi(pInfo, fOpen);
    g_fFrameShown = FALSE;
    g_nCurFrame = 0;
    if (fOk && fOpen) {
        CHAR sz[80];
        snprintf(sz, sizeof(sz), "Size:%3ldx%3ld Length:%lu", (long)pInfo->biOut.biWidth, (long)pInfo->biOut.biHeight,
                 (unsigned long)pInfo->nFrames);
        ShiftSetText(IDC_SHIFT_SIZETEXT, sz);
        ShiftSetText(IDC_SHIFT_CODEC, pInfo->szCodecName);
        if (pInfo->biOut.biWidth != g_cxFrame || pInfo->biOut.biHeight != g_cyFrame) {
            // The bitmap and the picture's place are kept while the frame
            // size stays the same.
            g_cxFrame = pInfo->biOut.biWidth;
            g_cyFrame = pInfo->biOut.biHeight;
            if (g_ShiftUi.pfnPictureSizeChanged) g_ShiftUi.pfnPictureSizeChanged(g_cxFrame, g_cyFrame);
        }
        if (g_ShiftUi.pfnSetFrameScroll) g_ShiftUi.pfnSetFrameScroll(pInfo->nFrames);
        // An AVI without frames shows an empty preview, not the label that
        // a frame cannot be read.
        if (pInfo->nFrames > 0) ShowFrame(pInfo, 0);
    }
    if (g_ShiftUi.pfnInvalidate) g_ShiftUi.pfnInvalidate();
    return fOk && fOpen;
}

BOOL SetAviFile(LPCSTR pszPath)
{
    LPCSTR pszText = pszPath ? pszPath : "";
    ShiftSetText(IDC_SHIFT_PROGRESS, "");
    ShiftSetText(IDC_SHIFT_SIZE, "");
    ShiftSetText(IDC_SHIFT_AVIFILE, pszText);
    if (g_ShiftUi.list.pfnReset) g_ShiftUi.list.pfnReset();
    static const int s_aOff[] = {IDC_SHIFT_FRAMESCROLL, IDC_SHIFT_REFLIST, IDC_SHIFT_DETECT,
                                 IDC_SHIFT_DELETE,      IDC_SHIFT_MOVE,    IDC_SHIFT_CLOSE};
    for (int nId : s_aOff) ShiftEnable(nId, FALSE);
    ShiftEnable(IDC_SHIFT_BROWSEBASE, TRUE);
    ShiftEnable(IDC_SHIFT_BROWSEAVI, TRUE);
    if (g_ShiftUi.pfnFocus) g_ShiftUi.pfnFocus(IDC_SHIFT_BROWSEAVI);

    if (strlen(pszText) >= MAX_PATH) {
        // A cut name could be another file's.
        OpenAviView(&g_AviInfo, FALSE);
        ShiftSetText(IDC_SHIFT_AVIFILE, "");
        ShowShiftMessageM(MB_OK | MB_ICONQUESTION, &MSG_AVI_CANNOT_OPEN, pszText);
        return FALSE;
    }
    memcpy(g_AviInfo.szAviFile, pszText, strlen(pszText) + 1);
    if (!OpenAviView(&g_AviInfo, pszPath != NULL)) {
        if (pszPath) {
            OpenAviView(&g_AviInfo, FALSE);
            ShiftSetText(IDC_SHIFT_AVIFILE, "");
        }
        return FALSE;
    }
    // A relocation cut short is finished or rolled back, when the user says
    // so, before anything else is done with the AVI; the frame shown is
    // then read again.
    BOOL fRecovered = TRUE;
    if (HasRecoveryNote(&g_AviInfo)) {
        fRecovered = OfferRecovery(&g_AviInfo);
        if (g_AviInfo.nFrames > 0) ShowFrame(&g_AviInfo, 0);
    }
    if (g_AviInfo.nFrames > 0) ShiftEnable(IDC_SHIFT_FRAMESCROLL, TRUE);
    ShiftEnable(IDC_SHIFT_CLOSE, TRUE);
    CHAR szBase[MAX_PATH];
    MakeDefaultBaseName(g_AviInfo.szAviFile, szBase);
    ShiftSetText(IDC_SHIFT_NEWBASE, szBase);
    if (!fRecovered) {
        // The note stays for the next opening, and no command may start a
        // relocation of its own over it: the AVI can only be looked at.
        if (g_ShiftUi.pfnFocus) g_ShiftUi.pfnFocus(IDC_SHIFT_CLOSE);
        return TRUE;
    }
    ShiftEnable(IDC_SHIFT_DETECT, TRUE);
    if (g_ShiftUi.pfnFocus) g_ShiftUi.pfnFocus(IDC_SHIFT_DETECT);
    return TRUE;
}
