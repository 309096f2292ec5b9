// Spoolshift's window: dialog 101 over the commands and the view, the two
// file dialogs, drag and drop, the frame scroll bar and the preview's
// drawing. Windows only.
#include "mover/window.h"

#include "mover/message.h"
#include "mover/resource.h"
#include "scaffold/caption.h"
#include "scaffold/paths.h"
#include "scaffold/preview.h"

#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char g_szProgramName[] = SPOOLSHIFT_NAME;

BOOL g_fShiftPage;

namespace {

HDC s_hdcMem;
HBITMAP s_hbmpFrame;
HGDIOBJ s_hbmpSaveMain;
// Where the frame bitmap is drawn, in the window's client coordinates.
RECT s_rcDraw;
// The widest name added to the list in this run of a detection.
LONG s_cxWidestName;

HWND Item(int nId) { return GetDlgItem(g_hwndMain, nId); }

// --- The reference list -------------------------------------------------------

LRESULT SendList(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return SendMessageA(Item(IDC_SHIFT_REFLIST), uMsg, wParam, lParam);
}

int ListCount(void) { return (int)SendList(LB_GETCOUNT, 0, 0); }
BOOL ListGetText(int i, LPSTR psz)
{
    LRESULT cch = SendList(LB_GETTEXTLEN, (WPARAM)i, 0);
    if (cch == LB_ERR || cch >= MAX_PATH) return FALSE;
    return SendList(LB_GETTEXT, (WPARAM)i, (LPARAM)psz) != LB_ERR;
}
BOOL ListIsSelected(int i) { return SendList(LB_GETSEL, (WPARAM)i, 0) > 0; }
void ListSetSelected(int i, BOOL f) { SendList(LB_SETSEL, (WPARAM)f, (LPARAM)i); }
void ListInsert(int i, LPCSTR psz)
{
    LRESULT nTop = SendList(LB_GETTOPINDEX, 0, 0);
    SendList(LB_INSERTSTRING, (WPARAM)i, (LPARAM)psz);
    SendList(LB_SETTOPINDEX, (WPARAM)nTop, 0);
}
void ListDelete(int i) { SendList(LB_DELETESTRING, (WPARAM)i, 0); }
void ListReset(void) { SendList(LB_RESETCONTENT, 0, 0); }
int ListGetCaret(void)
{
    if (ListCount() <= 0) return -1;
    LRESULT i = SendList(LB_GETCARETINDEX, 0, 0);
    return i == LB_ERR ? -1 : (int)i;
}

void NoteNameWidth(LPCSTR psz)
{
    if (!psz) {
        s_cxWidestName = 0;
        return;
    }
    HWND hList = Item(IDC_SHIFT_REFLIST);
    HDC hdc = GetDC(hList);
    if (!hdc) return;
    HGDIOBJ hOld = SelectObject(hdc, (HGDIOBJ)SendMessageA(hList, WM_GETFONT, 0, 0));
    SIZE size;
    if (GetTextExtentPoint32A(hdc, psz, (int)strlen(psz), &size) && size.cx > s_cxWidestName) {
        s_cxWidestName = size.cx;
        SendMessageA(hList, LB_SETHORIZONTALEXTENT, (WPARAM)size.cx, 0);
    }
    SelectObject(hdc, hOld);
    ReleaseDC(hList, hdc);
}

// --- The rest of the window as the commands see it ----------------------------

void SetItemText(int nId, LPCSTR psz)
{
    // The frame number finishes a pending repaint first, so that a long
    // command shows each number it passes.
    if (nId == IDC_SHIFT_CURFRAME) UpdateWindow(Item(nId));
    SetDlgItemTextA(g_hwndMain, nId, psz);
}
void EnableItem(int nId, BOOL f) { EnableWindow(Item(nId), f); }
void GetItemText(int nId, LPSTR psz)
{
    psz[0] = '\0';
    GetDlgItemTextA(g_hwndMain, nId, psz, MAX_PATH);
}
BOOL IsChecked(int nId) { return IsDlgButtonChecked(g_hwndMain, nId) == BST_CHECKED; }
void UpdateAll(void) { RedrawWindow(g_hwndMain, NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN); }
void BringToFront(void)
{
    SetWindowPos(g_hwndMain, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(g_hwndMain);
}
void Focus(int nId) { SetFocus(Item(nId)); }
void ShowFrameOfAvi(DWORD n) { ShowFrame(&g_AviInfo, n); }
void ResetWindow(void) { SetAviFile(NULL); }
void ShowItem(int nId, BOOL f) { ShowWindow(Item(nId), f ? SW_SHOW : SW_HIDE); }

void SetFrameScroll(DWORD nFrames)
{
    SCROLLINFO si;
    memset(&si, 0, sizeof(si));
    si.cbSize = sizeof(si);
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
    si.nMin = 0;
    si.nMax = nFrames > 0 ? (int)(nFrames - 1) : 0;
    si.nPage = 1;
    si.nPos = 0;
    SetScrollInfo(Item(IDC_SHIFT_FRAMESCROLL), SB_CTL, &si, FALSE);
}
void SetFramePos(DWORD n) { SetScrollPos(Item(IDC_SHIFT_FRAMESCROLL), SB_CTL, (int)n, TRUE); }

// The preview area in the window's client coordinates.
RECT PreviewRect(void)
{
    HWND hPreview = Item(IDC_SHIFT_PREVIEW);
    RECT rc;
    GetClientRect(hPreview, &rc);
    MapWindowPoints(hPreview, g_hwndMain, (LPPOINT)&rc, 2);
    return rc;
}

void PictureSizeChanged(LONG cx, LONG cy)
{
    HDC hdc = s_hdcMem ? GetDC(g_hwndMain) : NULL;
    if (hdc) {
        if (s_hbmpSaveMain) SelectGdiObject(s_hdcMem, s_hbmpSaveMain, "ME.hbmpSaveMain");
        if (s_hbmpFrame) DeleteGdiObject(s_hbmpFrame, "ME.hbmpFrame");
        s_hbmpSaveMain = NULL;
        s_hbmpFrame = CreateCompatibleBitmap(hdc, cx, cy);
        if (!s_hbmpFrame) ShowShiftMessage("CreateCompatibleBitmap() failed !", MB_OK | MB_ICONQUESTION);
        else s_hbmpSaveMain = SelectGdiObject(s_hdcMem, s_hbmpFrame, "ME.hbmpFrame");
        ReleaseDC(g_hwndMain, hdc);
    }
    // The picture keeps its proportions, centred inside the white frame.
    HWND hPreview = Item(IDC_SHIFT_PREVIEW);
    RECT rcArea;
    GetClientRect(hPreview, &rcArea);
    ComputePreviewLayout(cx, cy, rcArea.right - rcArea.left, rcArea.bottom - rcArea.top, &s_rcDraw);
    MapWindowPoints(hPreview, g_hwndMain, (LPPOINT)&s_rcDraw, 2);
}

// The label that the frame cannot be read, shown whether or not the
// preview can be drawn.
void ShowUnreadableLabel(void) { ShowItem(IDC_SHIFT_UNREADABLE, GetPreviewState() == PREVIEW_UNREADABLE); }

void ShowPicture(BOOL fShown)
{
    ShowUnreadableLabel();
    if (fShown && s_hbmpFrame)
        StretchDIBits(s_hdcMem, 0, 0, g_cxFrame, g_cyFrame, 0, 0, g_cxFrame, g_cyFrame, g_pbImage,
                      (const BITMAPINFO *)&g_AviInfo.biOut, DIB_RGB_COLORS, SRCCOPY);
    if (!s_hbmpFrame) return;
    HDC hdc = GetDC(g_hwndMain);
    if (!hdc) return;
    PaintFrame(hdc);
    ReleaseDC(g_hwndMain, hdc);
    // A paint waiting in the queue does not draw it a second time.
    RECT rc = PreviewRect();
    ValidateRect(g_hwndMain, &rc);
}

void InvalidateAll(void)
{
    ShowUnreadableLabel();
    InvalidateRect(g_hwndMain, NULL, TRUE);
    UpdateWindow(g_hwndMain);
}

void InstallWindow(HWND hDlg)
{
    g_hwndMain = hDlg;
    g_hwndShiftOwner = hDlg;
    g_pfnShowMessage = ShowEngineMessageBox;
    memset(&g_ShiftUi, 0, sizeof(g_ShiftUi));
    REFLISTUI &list = g_ShiftUi.list;
    list.pfnGetCount = ListCount;
    list.pfnGetText = ListGetText;
    list.pfnIsSelected = ListIsSelected;
    list.pfnSetSelected = ListSetSelected;
    list.pfnInsert = ListInsert;
    list.pfnDelete = ListDelete;
    list.pfnReset = ListReset;
    list.pfnGetCaret = ListGetCaret;
    g_ShiftUi.pfnSetItemText = SetItemText;
    g_ShiftUi.pfnEnableItem = EnableItem;
    g_ShiftUi.pfnGetItemText = GetItemText;
    g_ShiftUi.pfnIsChecked = IsChecked;
    g_ShiftUi.pfnPumpMessage = PumpMessage;
    g_ShiftUi.pfnUpdate = UpdateAll;
    g_ShiftUi.pfnBringToFront = BringToFront;
    g_ShiftUi.pfnNoteNameWidth = NoteNameWidth;
    g_ShiftUi.pfnFocus = Focus;
    g_ShiftUi.pfnShowFrame = ShowFrameOfAvi;
    g_ShiftUi.pfnResetWindow = ResetWindow;
    g_ShiftUi.pfnShowItem = ShowItem;
    g_ShiftUi.pfnSetFrameScroll = SetFrameScroll;
    g_ShiftUi.pfnSetScrollPos = SetFramePos;
    g_ShiftUi.pfnPictureSizeChanged = PictureSizeChanged;
    g_ShiftUi.pfnShowPicture = ShowPicture;
    g_ShiftUi.pfnInvalidate = InvalidateAll;
}

// --- Messages -----------------------------------------------------------------

void InitMoverDialog(HWND hDlg)
{
    AVIFileInit();
    InstallWindow(hDlg);
    CenterWindow(hDlg, NULL);
    SendMessageA(hDlg, WM_SETICON, ICON_BIG, (LPARAM)LoadIconA(g_hInstance, MAKEINTRESOURCEA(IDI_SHIFT)));
    AppendVersionToCaption(hDlg);
    HDC hdc = GetDC(hDlg);
    s_hdcMem = hdc ? CreateCompatibleDC(hdc) : NULL;
    if (hdc) ReleaseDC(hDlg, hdc);
    if (!s_hdcMem) ShowShiftMessage("GetDC() or CreateCompatibleDC() failed!", MB_OK | MB_ICONQUESTION);
    DragAcceptFiles(hDlg, TRUE);
}

// Asks for a file name in a file dialog that starts from a field's text:
// its file-name part is the initial name, the text before it less a final
// '\' the initial folder. pszFile receives the name chosen.
BOOL AskFromField(int nId, BOOL fSave, LPCSTR pszTitle, LPCSTR pszFilter, DWORD dwFlags, LPSTR pszFile)
{
    CHAR szField[MAX_PATH], szFolder[MAX_PATH];
    GetItemText(nId, szField);
    LPCSTR pszName = GetFileNamePart(szField);
    snprintf(pszFile, MAX_PATH, "%s", pszName);
    size_t cchFolder = (size_t)(pszName - szField);
    if (cchFolder > 0 && szField[cchFolder - 1] == '\\') cchFolder--;
    memcpy(szFolder, szField, cchFolder);
    szFolder[cchFolder] = '\0';
    return AskFileName(fSave, pszTitle, pszFilter, dwFlags, pszFile, MAX_PATH, szFolder);
}

void ChooseAviFile(void)
{
    CHAR szFile[MAX_PATH];
    BOOL fChosen = AskFromField(IDC_SHIFT_AVIFILE, FALSE, "AVIファイル名入力", "AVIファイル\0*.avi\0すべてのファイル\0*.*\0",
                                OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_LONGNAMES, szFile);
    // The AVI cannot change under a command that runs.
    if (fChosen && !g_fShiftBusy) SetAviFile(szFile);
}

void ChooseNewBase(void)
{
    CHAR szFile[MAX_PATH];
    // Only the name is taken; nothing is written.
    if (AskFromField(IDC_SHIFT_NEWBASE, TRUE, "新しい参照ファイル名入力", "すべてのファイル\0*.*\0",
                     OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT | OFN_LONGNAMES, szFile))
        SetDlgItemTextA(g_hwndMain, IDC_SHIFT_NEWBASE, szFile);
}

void OnCommand(int nId, UINT uCode)
{
    switch (nId) {
    case IDC_SHIFT_REFLIST:
        if (uCode == LBN_SELCHANGE) ShowSelectedSize(&g_AviInfo);
        break;
    case IDC_SHIFT_BROWSEAVI:
        if (!g_fShiftBusy) ChooseAviFile();
        break;
    case IDC_SHIFT_CLOSE:
        if (!g_fShiftBusy) SetAviFile(NULL);
        break;
    case IDC_SHIFT_BROWSEBASE: ChooseNewBase(); break;
    case IDC_SHIFT_MOVE: RelocateRefFiles(&g_AviInfo); break;
    case IDC_SHIFT_DETECT: DetectRefFiles(&g_AviInfo); break;
    case IDC_SHIFT_DELETE: DeleteRefFiles(&g_AviInfo); break;
    case IDC_SHIFT_ABORT: g_fShiftAbort = 1; break;
    }
}

void OnFrameScroll(HWND hScroll, UINT uRequest)
{
    if (g_fShiftBusy || hScroll != Item(IDC_SHIFT_FRAMESCROLL) || !g_AviInfo.hmmio) return;
    DWORD nFrame;
    if (TakeFrameScroll(hScroll, uRequest, g_nCurFrame, g_AviInfo.nFrames, g_fShiftPage, IDC_SHIFT_CURFRAME, &nFrame))
        ShowFrame(&g_AviInfo, nFrame);
}

void OnDropFiles(HWND hDlg, HDROP hDrop)
{
    DragAcceptFiles(hDlg, FALSE);
    // The whole name, however long: a cut one could name another file.
    UINT cch = DragQueryFileA(hDrop, 0, NULL, 0);
    LPSTR pszName = (LPSTR)malloc((size_t)cch + 1);
    if (pszName) DragQueryFileA(hDrop, 0, pszName, cch + 1);
    DragFinish(hDrop);
    SetWindowPos(hDlg, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(hDlg);
    if (pszName && !g_fShiftBusy) SetAviFile(pszName);
    free(pszName);
    DragAcceptFiles(hDlg, TRUE);
}

void OnClose(HWND hDlg)
{
    if (g_fShiftBusy) return;
    OpenAviView(&g_AviInfo, FALSE);
    if (s_hdcMem && s_hbmpSaveMain) SelectGdiObject(s_hdcMem, s_hbmpSaveMain, "ME.hbmpSaveMain");
    s_hbmpSaveMain = NULL;
    if (s_hbmpFrame) DeleteGdiObject(s_hbmpFrame, "ME.hbmpFrame");
    s_hbmpFrame = NULL;
    // The next window makes its bitmap whatever the frame size.
    g_cxFrame = g_cyFrame = 0;
    if (s_hdcMem) DeleteDC(s_hdcMem);
    s_hdcMem = NULL;
    FreeWorkBuffer();
    free(g_pRefFiles);
    g_pRefFiles = NULL;
    g_nRefFileCap = 0;
    DestroyWindow(hDlg);
}

}  // namespace

HBITMAP GetFrameBitmap(void) { return s_hbmpFrame; }

void PaintFrame(HDC hdc)
{
    ShowUnreadableLabel();
    if (GetPreviewState() != PREVIEW_PICTURE || !s_hbmpFrame) return;
    SetStretchBltMode(hdc, COLORONCOLOR);
    StretchBlt(hdc, s_rcDraw.left, s_rcDraw.top, s_rcDraw.right - s_rcDraw.left, s_rcDraw.bottom - s_rcDraw.top,
               s_hdcMem, 0, 0, g_cxFrame, g_cyFrame, SRCCOPY);
}

INT_PTR CALLBACK MoverDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG: InitMoverDialog(hDlg); return TRUE;
    case WM_PAINT: {
        if (!g_AviInfo.hmmio || !GetUpdateRect(hDlg, NULL, FALSE)) return FALSE;
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(hDlg, &ps);
        PaintFrame(hdc);
        EndPaint(hDlg, &ps);
        return TRUE;
    }
    case WM_CLOSE: OnClose(hDlg); return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        AVIFileExit();
        return TRUE;
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_HSCROLL: OnFrameScroll((HWND)lParam, LOWORD(wParam)); return TRUE;
    case WM_LBUTTONDOWN: g_fShiftPage = GetKeyState(VK_SHIFT) < 0; return TRUE;
    case WM_DROPFILES: OnDropFiles(hDlg, (HDROP)wParam); return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK MainDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return MoverDlgProc(hDlg, uMsg, wParam, lParam);
}
