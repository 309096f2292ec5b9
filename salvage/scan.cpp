// The scan of one reference file: walks it frame by frame through the
// 16-byte headers alone and builds the frame list.
#include "salvage/internal.h"

#include "codec/refformat.h"
#include "scaffold/version.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The frame list grows by this many entries at a time.
#define FRAMELIST_STEP 1000u
// The read buffer holds this many units (a unit: the largest frame or a
// picture); with too little memory for that, one unit still serves.
#define READBUF_UNITS 5u

SALVAGEUI g_SalvageUi;

namespace {

int DefaultShowMessage(LPCSTR pszText, LPCSTR pszCaption, UINT uType)
{
    (void)uType;
    fprintf(stderr, "%s: %s\n", pszCaption, pszText);
    return IDOK;
}

}  // namespace

MENDMESSAGEPROC g_pfnShowMendMessage = DefaultShowMessage;

int ShowMendMessage(LPCSTR pszText, UINT uType)
{
    return g_pfnShowMendMessage(pszText, SPOOLMEND_NAME, uType);
}

void FormatMendMessage(LPSTR pszMessage, const MESSAGE *pMsg, ...)
{
    va_list args;
    va_start(args, pMsg);
    RenderMessageV(pszMessage, MENDMESSAGE_SIZE, pMsg, args);
    va_end(args);
}

int ShowMendMessageM(UINT uType, const MESSAGE *pMsg, ...)
{
    CHAR szText[MENDMESSAGE_SIZE];
    va_list args;
    va_start(args, pMsg);
    RenderMessageV(szText, sizeof(szText), pMsg, args);
    va_end(args);
    return ShowMendMessage(szText, uType);
}

void FourccText(DWORD fcc, LPSTR psz5)
{
    memcpy(psz5, &fcc, 4);
    psz5[4] = '\0';
}

CHAR g_szRefFile[MAX_PATH];
HANDLE g_hRefFile = INVALID_HANDLE_VALUE;
REFFRAMEPOS *g_pRefFrames;
DWORD g_nRefFrames;
DWORD g_nRefFrameCap;
DWORD g_cbMaxPayload;
BYTE *g_pbReadBuf;
DWORD g_cbReadUnit;
DWORD g_cbReadBuf;
volatile LONG g_fBusy;
volatile LONG g_fAbort;
LONG g_lPendingWidth;
LONG g_lPendingHeight;

void SetBusyState(BOOL fIdle)
{
    static const int s_aIdleControls[] = {IDC_OPEN, IDC_CLOSE, IDC_SCANALL, IDC_WRITEAVI};
    static const int s_aFields[] = {IDC_CODEC, IDC_WIDTH, IDC_HEIGHT, IDC_FRAMERATE};
    if (!fIdle) {
        if (g_SalvageUi.pfnSetWaitCursor) g_SalvageUi.pfnSetWaitCursor(TRUE);
        g_fBusy = 1;
        g_fAbort = 0;
    }
    for (int nId : s_aIdleControls) UiEnableItem(nId, fIdle);
    UiEnableItem(IDC_ABORT, !fIdle);
    UiEnableItem(IDC_TAKEAVI, fIdle);
    UiEnableItem(IDC_CODECCONFIG, fIdle && g_fHasConfig);
    for (int nId : s_aFields) UiEnableItem(nId, fIdle);
    if (fIdle) {
        if (g_SalvageUi.pfnSetWaitCursor) g_SalvageUi.pfnSetWaitCursor(FALSE);
        g_fBusy = 0;
    }
}

namespace {

void CloseRefFile(void)
{
    if (g_hRefFile != INVALID_HANDLE_VALUE) CloseHandle(g_hRefFile);
    g_hRefFile = INVALID_HANDLE_VALUE;
    free(g_pRefFrames);
    g_pRefFrames = NULL;
    g_nRefFrames = 0;
    g_nRefFrameCap = 0;
}

void SetCounter(int nId, DWORD n)
{
    CHAR sz[16];
    snprintf(sz, sizeof(sz), "%lu", (unsigned long)n);
    UiSetItemText(nId, sz);
}

}  // namespace

BOOL SeekRefFile(DWORD dwPos)
{
    LONG lHigh = 0;
    SetLastError(NO_ERROR);
    DWORD dwLow = SetFilePointer(g_hRefFile, (LONG)dwPos, &lHigh, FILE_BEGIN);
    return !(dwLow == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) && dwLow == dwPos && lHigh == 0;
}

namespace {

// The file's size as far as 32-bit offsets reach.
BOOL GetRefFileSize(DWORD *pdwSize)
{
    DWORD dwHigh = 0;
    SetLastError(NO_ERROR);
    DWORD dwLow = GetFileSize(g_hRefFile, &dwHigh);
    if (dwLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return FALSE;
    *pdwSize = dwHigh ? 0xFFFFFFFFu : dwLow;
    return TRUE;
}

// The picture size of the first frame goes into the width and height
// fields, as if chosen there.
void OfferPictureSize(const REFFRAMEHEADER *pHeader)
{
    static const struct {
        int nId;
        LPSTR pszHistory;
    } s_aFields[] = {{IDC_WIDTH, g_szWidthHistory}, {IDC_HEIGHT, g_szHeightHistory}};
    int aValue[2] = {abs((int)pHeader->wWidth), abs((int)pHeader->wHeight)};
    // A size that differs is applied by the fields' handlers, width and
    // height together, and the file is opened again at that size.
    if (aValue[0] != g_bihRgb.biWidth || aValue[1] != g_bihRgb.biHeight) {
        g_lPendingWidth = aValue[0];
        g_lPendingHeight = aValue[1];
    }
    for (int i = 0; i < 2; i++) {
        CHAR sz[16];
        snprintf(sz, sizeof(sz), "%d", aValue[i]);
        const COMBOLIST *pCombo = UiCombo(s_aFields[i].nId);
        if (pCombo) UpdateHistoryList(pCombo, FALSE, sz, s_aFields[i].pszHistory, HISTORY_LIMIT);
        UiPostNotify(s_aFields[i].nId, CBN_SELENDOK);
    }
}

// Allocates the read buffer for the listed frames and the picture size.
BOOL AllocateReadBuffer(void)
{
    // A unit holds a whole frame, or a header and a whole picture: a raw
    // frame is drawn from behind its header.
    unsigned long long cbUnit = (unsigned long long)g_cbMaxPayload + sizeof(REFFRAMEHEADER);
    // A raw frame is drawn from the buffer as a picture with rows padded to
    // 4 bytes.
    unsigned long long cbRow = ((unsigned long long)(DWORD)g_bihRgb.biWidth * 3 + 3) & ~3ull;
    unsigned long long cbPicture = cbRow * (DWORD)abs(g_bihRgb.biHeight) + sizeof(REFFRAMEHEADER);
    if (cbPicture > cbUnit) cbUnit = cbPicture;
    if (cbUnit > 0xFFFFFFFFull) return FALSE;
    g_cbReadUnit = (DWORD)cbUnit;
    static const unsigned s_anUnits[] = {READBUF_UNITS, 1};
    for (unsigned nUnits : s_anUnits) {
        unsigned long long cb = cbUnit * nUnits;
        if (cb > 0xFFFFFFFFull || cb > (unsigned long long)(size_t)-1) continue;
        g_pbReadBuf = (BYTE *)calloc(1, (size_t)cb);
        if (g_pbReadBuf) {
            g_cbReadBuf = (DWORD)cb;
            return TRUE;
        }
    }
    return FALSE;
}

}  // namespace

BOOL ScanRefFile(LPCSTR pszFile, BOOL fContinue)
{
    CHAR szMessage[MENDMESSAGE_SIZE] = "";
    BOOL fResult = TRUE;
    BOOL fAborted = FALSE;

    SetBusyState(FALSE);
    ResetPreviewCodec();
    free(g_pbReadBuf);
    g_pbReadBuf = NULL;
    g_cbReadBuf = 0;

    DWORD dwPos = 0;
    g_lPendingWidth = g_lPendingHeight = 0;
    if (!fContinue) {
        CloseRefFile();
        UiSetTitle(SPOOLMEND_NAME " " PRODUCT_VERSION);
        UiSetItemText(IDC_CURFRAME, "");
        UiSetItemText(IDC_NFRAMES, "");
        UiInvalidate();
        if (!pszFile) {
            SetBusyState(TRUE);
            return TRUE;
        }
        g_hRefFile = CreateFileA(pszFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, NULL);
        if (g_hRefFile == INVALID_HANDLE_VALUE) FormatMendMessage(szMessage, &MSG_CANNOT_OPEN, pszFile);
        g_cbMaxPayload = 0;
        g_nRefFrameCap = 0;
    } else if (g_hRefFile == INVALID_HANDLE_VALUE || g_nRefFrames == 0) {
        // Continuing is offered only with a frame listed.
        SetBusyState(TRUE);
        return FALSE;
    } else {
        const REFFRAMEPOS *pLast = &g_pRefFrames[g_nRefFrames - 1];
        dwPos = pLast->dwOffset + pLast->dwFrameSize;
        if (!SeekRefFile(dwPos)) FormatMendMessage(szMessage, &MSG_CANNOT_SEEK, pszFile);
    }

    DWORD dwFileSize = 0;
    if (!szMessage[0] && !GetRefFileSize(&dwFileSize)) FormatMendMessage(szMessage, &MSG_CANNOT_SEEK, pszFile);

    while (!szMessage[0]) {
        if (g_fAbort) {
            fAborted = TRUE;
            break;
        }
        if (!fContinue && g_nRefFrames >= 1) break;
        // A continued scan that starts at the end of the file has nothing
        // more to list.
        if (g_nRefFrames > 0 && dwPos >= dwFileSize) break;
        if (g_nRefFrames == g_nRefFrameCap) {
            unsigned long long nCap = (unsigned long long)g_nRefFrameCap + FRAMELIST_STEP;
            void *pGrown = nCap * sizeof(REFFRAMEPOS) <= (size_t)-1
                               ? realloc(g_pRefFrames, (size_t)(nCap * sizeof(REFFRAMEPOS)))
                               : NULL;
            if (!pGrown || nCap > 0xFFFFFFFFull) {
                FormatMendMessage(szMessage, &MSG_NO_MEMORY);
                break;
            }
            g_pRefFrames = (REFFRAMEPOS *)pGrown;
            g_nRefFrameCap = (DWORD)nCap;
        }
        REFFRAMEHEADER header;
        DWORD cbRead = 0;
        BOOL fRead = ReadFile(g_hRefFile, &header, sizeof(header), &cbRead, NULL);
        if (!fRead || cbRead != sizeof(header)) {
            // Meeting the end of the file counts as a failed read.
            if (fRead) SetLastError(ERROR_HANDLE_EOF);
            FormatMendMessage(szMessage, &MSG_REF_UNREADABLE, pszFile, (unsigned long)GetLastError());
            break;
        }
        if (!FrameHeaderAddsUp(&header)) {
            if (g_nRefFrames == 0)
                FormatMendMessage(szMessage, &MSG_NOT_A_REF_FILE, pszFile);
            else
                FormatMendMessage(szMessage, &MSG_REF_DAMAGED, pszFile,
                                  (unsigned)dwPos);
            break;
        }
        // A frame is listed only when it is whole: one that runs past the
        // end of the file (or past 32-bit offsets) is not.
        unsigned long long qwEnd = (unsigned long long)dwPos + header.dwFrameSize;
        if (qwEnd > dwFileSize) break;
        DWORD dwPayload = header.dwDataSize + header.dwPadSize;
        if (dwPayload > g_cbMaxPayload) g_cbMaxPayload = dwPayload;
        g_pRefFrames[g_nRefFrames].dwOffset = dwPos;
        g_pRefFrames[g_nRefFrames].dwFrameSize = header.dwFrameSize;
        g_nRefFrames++;
        SetCounter(IDC_NFRAMES, g_nRefFrames);
        if (!fContinue && header.wWidth != 0 && header.wHeight != 0) OfferPictureSize(&header);
        dwPos = (DWORD)qwEnd;
        if (qwEnd == dwFileSize) break;
        if (!SeekRefFile(dwPos)) {
            FormatMendMessage(szMessage, &MSG_CANNOT_SEEK, pszFile);
            break;
        }
        if (fContinue) UiPumpMessage();
    }
    if (szMessage[0]) fResult = FALSE;

    if (g_nRefFrames > 0) {
        if (!AllocateReadBuffer()) {
            // The first message found is the one shown.
            if (!szMessage[0]) FormatMendMessage(szMessage, &MSG_NO_MEMORY);
            fResult = FALSE;
        } else {
            SetCounter(IDC_NFRAMES, g_nRefFrames);
            CHAR szTitle[MAX_PATH + 32];
            snprintf(szTitle, sizeof(szTitle), SPOOLMEND_NAME " %s - %s", PRODUCT_VERSION, pszFile);
            UiSetTitle(szTitle);
            BOOL fScanned = fContinue && !fAborted;
            UiShowItem(IDC_SCANALL, !fScanned);
            UiShowItem(IDC_WRITEAVI, fScanned);
        }
    }
    if (szMessage[0]) ShowMendMessage(szMessage, MB_OK | MB_ICONSTOP);
    if (g_nRefFrames > 0) {
        UiSetFrameScroll(TRUE, g_nRefFrames - 1, 0);
        // At the wrong size the codec could only fail or draw garbage: the
        // frame is shown once the picture size is applied.
        if (!g_lPendingWidth) ShowRefFrame(0);
    } else {
        ScanRefFile(NULL, FALSE);
    }
    SetBusyState(TRUE);
    return fResult;
}
