// Spoolmend's window: dialog 101 over the engine, the codec chooser that
// the save dialog gets (dialog 103), and the preview's drawing. Windows only.
#include "salvage/window.h"

#include "salvage/internal.h"
#include "scaffold/dialogapp.h"

#include <commdlg.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char g_szProgramName[] = SPOOLMEND_NAME;

CHAR g_szAviFile[MAX_PATH];
CHAR g_szRefHandlerText[CODECENTRY_SIZE];
BOOL g_fShiftPage;

namespace {

HCURSOR s_hcurArrow, s_hcurWait;
HDC s_hdcMem;
HBITMAP s_hbmpFrame;
HGDIOBJ s_hbmpSaveMain;
LONG s_lSourceWidth, s_lSourceHeight;
RECT s_rcDest;

// --- The engine's view of the window ----------------------------------------

HWND Item(int nId) { return GetDlgItem(g_hwndMain, nId); }
HWND ComboOf(void *pCtx) { return GetDlgItem(g_hwndMain, (int)(INT_PTR)pCtx); }

int ComboCount(void *pCtx) { return (int)SendMessageA(ComboOf(pCtx), CB_GETCOUNT, 0, 0); }
int ComboGetText(void *pCtx, int i, LPSTR psz, int cb)
{
    HWND h = ComboOf(pCtx);
    LRESULT cch = SendMessageA(h, CB_GETLBTEXTLEN, (WPARAM)i, 0);
    if (cch == CB_ERR) return -1;
    if (cch < cb) return (int)SendMessageA(h, CB_GETLBTEXT, (WPARAM)i, (LPARAM)psz);
    // Too long for the caller's buffer: cut to it.
    LPSTR pszWhole = (LPSTR)malloc((size_t)cch + 1);
    if (!pszWhole) return -1;
    SendMessageA(h, CB_GETLBTEXT, (WPARAM)i, (LPARAM)pszWhole);
    snprintf(psz, (size_t)cb, "%s", pszWhole);
    free(pszWhole);
    return (int)strlen(psz);
}
int ComboFind(void *pCtx, int iStart, LPCSTR psz, BOOL fExact)
{
    return (int)SendMessageA(ComboOf(pCtx), fExact ? CB_FINDSTRINGEXACT : CB_FINDSTRING, (WPARAM)iStart, (LPARAM)psz);
}
int ComboAdd(void *pCtx, LPCSTR psz) { return (int)SendMessageA(ComboOf(pCtx), CB_ADDSTRING, 0, (LPARAM)psz); }
void ComboDelete(void *pCtx, int i) { SendMessageA(ComboOf(pCtx), CB_DELETESTRING, (WPARAM)i, 0); }
void ComboReset(void *pCtx) { SendMessageA(ComboOf(pCtx), CB_RESETCONTENT, 0, 0); }
void ComboSetSel(void *pCtx, int i) { SendMessageA(ComboOf(pCtx), CB_SETCURSEL, (WPARAM)i, 0); }
int ComboGetSel(void *pCtx) { return (int)SendMessageA(ComboOf(pCtx), CB_GETCURSEL, 0, 0); }
void ComboGetEdit(void *pCtx, LPSTR psz, int cb) { GetWindowTextA(ComboOf(pCtx), psz, cb); }
void ComboSetEdit(void *pCtx, LPCSTR psz) { SetWindowTextA(ComboOf(pCtx), psz); }
DWORD ComboGetEditSel(void *pCtx) { return (DWORD)SendMessageA(ComboOf(pCtx), CB_GETEDITSEL, 0, 0); }
void ComboSetEditSel(void *pCtx, DWORD dwSel)
{
    SetFocus(ComboOf(pCtx));
    SendMessageA(ComboOf(pCtx), CB_SETEDITSEL, 0, MAKELPARAM(LOWORD(dwSel), HIWORD(dwSel)));
}

#define COMBO_OF(id)                                                                                              \
    {(void *)(INT_PTR)(id), ComboCount,   ComboGetText, ComboFind,       ComboAdd,        ComboDelete, ComboReset, \
     ComboSetSel,           ComboGetSel,  ComboGetEdit, ComboSetEdit,    ComboGetEditSel, ComboSetEditSel}
const COMBOLIST s_aCombos[] = {COMBO_OF(IDC_CODEC), COMBO_OF(IDC_WIDTH), COMBO_OF(IDC_HEIGHT),
                               COMBO_OF(IDC_FRAMERATE)};

const COMBOLIST *GetCombo(int nId)
{
    for (const COMBOLIST &combo : s_aCombos)
        if ((int)(INT_PTR)combo.pCtx == nId) return &combo;
    return NULL;
}

void SetTitle(LPCSTR psz) { SetWindowTextA(g_hwndMain, psz); }
void SetItemText(int nId, LPCSTR psz) { SetDlgItemTextA(g_hwndMain, nId, psz); }
void EnableItem(int nId, BOOL f) { EnableWindow(Item(nId), f); }
void ShowItem(int nId, BOOL f) { ShowWindow(Item(nId), f ? SW_SHOW : SW_HIDE); }
void SetWaitCursor(BOOL fWait) { SetCursor(fWait ? s_hcurWait : s_hcurArrow); }
void PostNotify(int nId, UINT uCode) { PostMessageA(g_hwndMain, WM_COMMAND, MAKEWPARAM(nId, uCode), (LPARAM)Item(nId)); }
void Invalidate(void) { InvalidateRect(g_hwndMain, NULL, TRUE); }

void SetFrameScroll(BOOL fRange, DWORD nMax, DWORD nPos)
{
    SCROLLINFO si;
    memset(&si, 0, sizeof(si));
    si.cbSize = sizeof(si);
    si.fMask = fRange ? SIF_RANGE | SIF_PAGE | SIF_POS : SIF_POS;
    si.nMin = 0;
    si.nMax = (int)nMax;
    si.nPage = 1;
    si.nPos = (int)nPos;
    SetScrollInfo(Item(IDC_FRAMESCROLL), SB_CTL, &si, TRUE);
    if (fRange) EnableWindow(Item(IDC_FRAMESCROLL), TRUE);
}

void PictureSizeChanged(LONG lWidth, LONG lHeight)
{
    HDC hdc = s_hdcMem ? GetDC(g_hwndMain) : NULL;
    if (hdc) {
        if (s_hbmpSaveMain) SelectGdiObject(s_hdcMem, s_hbmpSaveMain, "ME.hbmpSaveMain");
        s_hbmpSaveMain = NULL;
        if (s_hbmpFrame) DeleteGdiObject(s_hbmpFrame, "ME.hbmpFrame");
        s_hbmpFrame = CreateCompatibleBitmap(hdc, lWidth, lHeight);
        if (!s_hbmpFrame) ShowMendMessage("CreateCompatibleBitmap() failed !", MB_OK | MB_ICONQUESTION);
        else s_hbmpSaveMain = SelectGdiObject(s_hdcMem, s_hbmpFrame, "ME.hbmpFrame");
        ReleaseDC(g_hwndMain, hdc);
    }
    s_lSourceWidth = lWidth;
    s_lSourceHeight = lHeight;
    // The layout: the picture keeps its proportions inside the preview area.
    HWND hPreview = Item(IDC_PREVIEW);
    RECT rcArea;
    GetClientRect(hPreview, &rcArea);
    RECT rcInvalid = rcArea;
    MapWindowPoints(hPreview, g_hwndMain, (LPPOINT)&rcInvalid, 2);
    InvalidateRect(g_hwndMain, &rcInvalid, TRUE);
    ComputePreviewLayout(lWidth, lHeight, rcArea.right - rcArea.left, rcArea.bottom - rcArea.top, &s_rcDest);
    MapWindowPoints(hPreview, g_hwndMain, (LPPOINT)&s_rcDest, 2);
}

void ShowPicture(const BYTE *pbPicture)
{
    if (!s_hbmpFrame) return;
    if (pbPicture) {
        int n = StretchDIBits(s_hdcMem, 0, 0, s_lSourceWidth, s_lSourceHeight, 0, 0, g_bihRgb.biWidth,
                              g_bihRgb.biHeight, pbPicture, (const BITMAPINFO *)&g_bihRgb, DIB_RGB_COLORS, SRCCOPY);
        if (n == 0 || n == (int)GDI_ERROR) {
            RECT rc = {0, 0, s_lSourceWidth, s_lSourceHeight};
            FillRect(s_hdcMem, &rc, (HBRUSH)GetStockObject(BLACK_BRUSH));
        }
    }
    HDC hdc = GetDC(g_hwndMain);
    if (hdc) {
        PaintPreview(hdc);
        ReleaseDC(g_hwndMain, hdc);
    }
}

void InstallWindow(HWND hDlg)
{
    g_hwndMain = hDlg;
    memset(&g_SalvageUi, 0, sizeof(g_SalvageUi));
    g_SalvageUi.pfnSetTitle = SetTitle;
    g_SalvageUi.pfnSetItemText = SetItemText;
    g_SalvageUi.pfnEnableItem = EnableItem;
    g_SalvageUi.pfnShowItem = ShowItem;
    g_SalvageUi.pfnSetWaitCursor = SetWaitCursor;
    g_SalvageUi.pfnPumpMessage = PumpMessage;
    g_SalvageUi.pfnPostNotify = PostNotify;
    g_SalvageUi.pfnSetFrameScroll = SetFrameScroll;
    g_SalvageUi.pfnInvalidate = Invalidate;
    g_SalvageUi.pfnGetCombo = GetCombo;
    g_SalvageUi.pfnPictureSizeChanged = PictureSizeChanged;
    g_SalvageUi.pfnShowPicture = ShowPicture;
    g_pfnShowMendMessage = ShowEngineMessageBox;
}

// --- Commands ---------------------------------------------------------------

void InitSalvageDialog(HWND hDlg)
{
    InstallWindow(hDlg);
    CenterWindow(hDlg, NULL);
    SendMessageA(hDlg, WM_SETICON, ICON_BIG, (LPARAM)LoadIconA(g_hInstance, MAKEINTRESOURCEA(IDI_SALVAGE)));
    s_hcurArrow = LoadCursorA(NULL, IDC_ARROW);
    s_hcurWait = LoadCursorA(NULL, IDC_WAIT);
    ScanRefFile(NULL, FALSE);
    HDC hdc = GetDC(hDlg);
    s_hdcMem = hdc ? CreateCompatibleDC(hdc) : NULL;
    if (hdc) ReleaseDC(hDlg, hdc);
    if (!s_hdcMem) ShowMendMessage("GetDC() or CreateCompatibleDC() failed!", MB_OK | MB_ICONQUESTION);
    LoadSalvageSettings();
    g_bihRgb.biSize = sizeof(BITMAPINFOHEADER);
    g_bihRgb.biPlanes = 1;
    g_bihRgb.biBitCount = 24;
    g_bihRgb.biCompression = BI_RGB;
    FillCodecList();
    PostNotify(IDC_CODEC, CBN_SELENDOK);
    DragAcceptFiles(hDlg, TRUE);
    SetFocus(Item(IDC_OPEN));
}

void OpenRefFile(void)
{
    if (AskFileName(FALSE, "参照ファイル名入力", "参照ファイル\0*.0*\0すべてのファイル\0*.*\0",
                    OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_LONGNAMES, g_szRefFile,
                    sizeof(g_szRefFile), NULL))
        ScanRefFile(g_szRefFile, FALSE);
}

void PutIntoHistory(int nId, LPCSTR pszValue, LPSTR pszHistory)
{
    UpdateHistoryList(GetCombo(nId), FALSE, pszValue, pszHistory, HISTORY_LIMIT);
}

void ChooseAviFile(HWND hDlg, BOOL fWrite)
{
    if (fWrite && g_nRefFrames == 0) return;
    MakeDefaultAviName(g_szAviFile, g_szRefFile);
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof(ofn));
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hDlg;
    ofn.hInstance = g_hInstance;
    ofn.lpstrFilter = "AVIファイル\0*.avi\0すべてのファイル\0*.*\0";
    ofn.lpstrFile = g_szAviFile;
    ofn.nMaxFile = sizeof(g_szAviFile);
    ofn.lpstrDefExt = "avi";
    if (!fWrite) {
        ofn.lpstrTitle = "設定を取得するAVIファイル名入力";
        ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_LONGNAMES;
        if (g_pfnGetOpenFileName(&ofn)) TakeAviSettings(g_szAviFile);
        return;
    }
    ofn.lpstrTitle = "出力するAVIファイル名入力";
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_LONGNAMES | OFN_OVERWRITEPROMPT;
    if (g_fccHandler == 0) {
        ofn.Flags |= OFN_ENABLETEMPLATE | OFN_ENABLEHOOK;
        ofn.lpTemplateName = MAKEINTRESOURCEA(IDD_REFHANDLER);
        ofn.lpfnHook = RefHandlerHookProc;
    }
    if (!g_pfnGetSaveFileName(&ofn)) return;
    WriteSalvageAvi(g_szAviFile);
    CHAR sz[32];
    snprintf(sz, sizeof(sz), "%lu", (unsigned long)(DWORD)g_bihRgb.biWidth);
    PutIntoHistory(IDC_WIDTH, sz, g_szWidthHistory);
    snprintf(sz, sizeof(sz), "%lu", (unsigned long)(DWORD)g_bihRgb.biHeight);
    PutIntoHistory(IDC_HEIGHT, sz, g_szHeightHistory);
    snprintf(sz, sizeof(sz), "%10.8lf", g_dblFps);
    PutIntoHistory(IDC_FRAMERATE, sz, g_szRateHistory);
}

void ConfigureCodec(HWND hDlg)
{
    HIC hic = ICOpen(ICTYPE_VIDEO, g_fccHandler, ICMODE_FASTCOMPRESS);
    if (!hic) {
        ShowMendMessage("ICOpen() failed!", MB_OK | MB_ICONQUESTION);
        return;
    }
    ICConfigure(hic, hDlg);
    ICClose(hic);
    ResetPreviewCodec();
    if (g_nRefFrames > 0) ShowRefFrame(0);
}

void OnCommand(HWND hDlg, int nId, UINT uCode)
{
    switch (nId) {
    case IDC_OPEN: OpenRefFile(); break;
    case IDC_CLOSE:
        ScanRefFile(NULL, FALSE);
        g_szRefFile[0] = '\0';
        break;
    case IDC_SCANALL:
        if (g_nRefFrames > 0) ScanRefFile(g_szRefFile, TRUE);
        break;
    case IDC_WRITEAVI: ChooseAviFile(hDlg, TRUE); break;
    case IDC_TAKEAVI: ChooseAviFile(hDlg, FALSE); break;
    case IDC_CODECCONFIG: ConfigureCodec(hDlg); break;
    case IDC_ABORT: g_fAbort = 1; break;
    case IDC_CODEC:
        if (uCode == CBN_SELENDOK) OnCodecSelected();
        break;
    case IDC_WIDTH:
    case IDC_HEIGHT: OnSizeField(nId, uCode); break;
    case IDC_FRAMERATE: OnFrameRateField(uCode); break;
    }
}

void OnFrameScroll(HWND hScroll, UINT uRequest)
{
    if (g_fBusy || hScroll != Item(IDC_FRAMESCROLL)) return;
    DWORD nFrame;
    if (TakeFrameScroll(hScroll, uRequest, g_nCurFrame, g_nRefFrames, g_fShiftPage, IDC_CURFRAME, &nFrame))
        ShowRefFrame(nFrame);
}

void OnDropFiles(HWND hDlg, HDROP hDrop)
{
    if (g_fBusy) {
        DragFinish(hDrop);
        return;
    }
    DragAcceptFiles(hDlg, FALSE);
    DragQueryFileA(hDrop, 0, g_szRefFile, sizeof(g_szRefFile));
    DragFinish(hDrop);
    SetWindowPos(hDlg, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(hDlg);
    ScanRefFile(g_szRefFile, FALSE);
    DragAcceptFiles(hDlg, TRUE);
}

void OnClose(HWND hDlg)
{
    if (g_fBusy) return;
    ScanRefFile(NULL, FALSE);
    FreeSalvageBuffers();
    SaveSalvageSettings();
    if (s_hdcMem && s_hbmpSaveMain) SelectGdiObject(s_hdcMem, s_hbmpSaveMain, "ME.hbmpSaveMain");
    s_hbmpSaveMain = NULL;
    if (s_hbmpFrame) DeleteGdiObject(s_hbmpFrame, "ME.hbmpFrame");
    s_hbmpFrame = NULL;
    if (s_hdcMem) DeleteDC(s_hdcMem);
    s_hdcMem = NULL;
    DestroyWindow(hDlg);
}

}  // namespace

void PaintPreview(HDC hdc)
{
    if (!s_hdcMem || !s_hbmpFrame) return;
    SetStretchBltMode(hdc, COLORONCOLOR);
    StretchBlt(hdc, s_rcDest.left, s_rcDest.top, s_rcDest.right - s_rcDest.left, s_rcDest.bottom - s_rcDest.top,
               s_hdcMem, 0, 0, s_lSourceWidth, s_lSourceHeight, SRCCOPY);
}

UINT_PTR CALLBACK RefHandlerHookProc(HWND hDlg, UINT uMsg, WPARAM, LPARAM)
{
    switch (uMsg) {
    case WM_INITDIALOG: {
        HWND hList = GetDlgItem(hDlg, IDC_CODEC);
        HWND hMain = Item(IDC_CODEC);
        int n = (int)SendMessageA(hMain, CB_GETCOUNT, 0, 0);
        for (int i = 1; i < n; i++) {
            CHAR szEntry[CODECENTRY_SIZE];
            if (ComboGetText((void *)(INT_PTR)IDC_CODEC, i, szEntry, sizeof(szEntry)) >= 0)
                SendMessageA(hList, CB_ADDSTRING, 0, (LPARAM)szEntry);
        }
        SendMessageA(hList, CB_SETCURSEL, 0, 0);
        if (g_szRefHandlerText[0]) {
            int i = (int)SendMessageA(hList, CB_FINDSTRING, 0, (LPARAM)g_szRefHandlerText);
            if (i != CB_ERR) SendMessageA(hList, CB_SETCURSEL, (WPARAM)i, 0);
        }
        return TRUE;
    }
    case WM_ERASEBKGND: return TRUE;
    case WM_DESTROY:
        GetDlgItemTextA(hDlg, IDC_CODEC, g_szRefHandlerText, sizeof(g_szRefHandlerText));
        ParseCodecEntry(g_szRefHandlerText, &g_fccRefHandler, NULL);
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK SalvageDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG: InitSalvageDialog(hDlg); return FALSE;  // the focus was set
    case WM_COMMAND: OnCommand(hDlg, LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_HSCROLL: OnFrameScroll((HWND)lParam, LOWORD(wParam)); return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(hDlg, &ps);
        if (g_nRefFrames > 0 && !IsRectEmpty(&ps.rcPaint)) PaintPreview(hdc);
        EndPaint(hDlg, &ps);
        return TRUE;
    }
    case WM_LBUTTONDOWN: g_fShiftPage = GetKeyState(VK_SHIFT) < 0; return TRUE;
    case WM_SETCURSOR:
        if (!g_fBusy) return FALSE;
        // The wait cursor stays while a long command runs.
        SetCursor(s_hcurWait);
        SetWindowLongPtrA(hDlg, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_DROPFILES: OnDropFiles(hDlg, (HDROP)wParam); return TRUE;
    case WM_CLOSE: OnClose(hDlg); return TRUE;
    case WM_DESTROY: PostQuitMessage(0); return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK MainDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return SalvageDlgProc(hDlg, uMsg, wParam, lParam);
}
