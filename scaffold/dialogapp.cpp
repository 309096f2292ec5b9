#include "scaffold/dialogapp.h"

#include "scaffold/preview.h"

#include <stdio.h>
#include <string.h>

HWND g_hwndMain = NULL;
HINSTANCE g_hInstance = NULL;
MESSAGEBOXPROC g_pfnMessageBox = MessageBoxA;
FILEDIALOGPROC g_pfnGetOpenFileName = GetOpenFileNameA;
FILEDIALOGPROC g_pfnGetSaveFileName = GetSaveFileNameA;

int ShowProgramMessage(LPCSTR pszText, UINT uType)
{
    return g_pfnMessageBox(g_hwndMain, pszText, g_szProgramName, uType);
}

int ShowEngineMessageBox(LPCSTR pszText, LPCSTR, UINT uType) { return ShowProgramMessage(pszText, uType); }

BOOL AskFileName(BOOL fSave, LPCSTR pszTitle, LPCSTR pszFilter, DWORD dwFlags, LPSTR pszFile, DWORD cchFile,
                 LPCSTR pszFolder)
{
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof(ofn));
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = g_hwndMain;
    ofn.lpstrTitle = pszTitle;
    ofn.lpstrFilter = pszFilter;
    ofn.lpstrFile = pszFile;
    ofn.nMaxFile = cchFile;
    ofn.lpstrInitialDir = pszFolder;
    ofn.Flags = dwFlags;
    return (fSave ? g_pfnGetSaveFileName : g_pfnGetOpenFileName)(&ofn);
}

BOOL TakeFrameScroll(HWND hScroll, UINT uRequest, DWORD c, DWORD n, BOOL fShiftPage, int nNumberId, DWORD *pnFrame)
{
    SCROLLINFO si;
    memset(&si, 0, sizeof(si));
    si.cbSize = sizeof(si);
    si.fMask = SIF_TRACKPOS;
    if (uRequest == SB_THUMBPOSITION || uRequest == SB_THUMBTRACK) GetScrollInfo(hScroll, SB_CTL, &si);
    if (!PickScrollFrame(uRequest, c, n, fShiftPage, si.nTrackPos, pnFrame)) return FALSE;
    if (uRequest == SB_THUMBTRACK) {
        CHAR sz[16];
        snprintf(sz, sizeof(sz), "%lu", (unsigned long)*pnFrame);
        SetDlgItemTextA(g_hwndMain, nNumberId, sz);
        UpdateWindow(GetDlgItem(g_hwndMain, nNumberId));
    }
    return TRUE;
}

void CenterWindow(HWND hwnd, HWND hwndReference)
{
    RECT rcWindow, rcReference, rcDesktop;
    GetWindowRect(hwnd, &rcWindow);
    GetWindowRect(GetDesktopWindow(), &rcDesktop);
    if (hwndReference) GetWindowRect(hwndReference, &rcReference);
    else rcReference = rcDesktop;
    int w = rcWindow.right - rcWindow.left;
    int h = rcWindow.bottom - rcWindow.top;
    int x = rcReference.left + (rcReference.right - rcReference.left - w) / 2;
    int y = rcReference.top + (rcReference.bottom - rcReference.top - h) / 2;
    if (hwndReference) {
        if (x < 0) x = 0;
        else if (x + w > rcDesktop.right) x = rcDesktop.right - w;
        if (y < 0) y = 0;
        else if (y + h > rcDesktop.bottom) y = rcDesktop.bottom - h;
    }
    SetWindowPos(hwnd, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

HGDIOBJ SelectGdiObject(HDC hdc, HGDIOBJ hObject, LPCSTR)
{
    return SelectObject(hdc, hObject);
}

BOOL DeleteGdiObject(HGDIOBJ hObject, LPCSTR)
{
    return DeleteObject(hObject);
}

void PumpMessage(void)
{
    // A window filter takes the window's messages and its children's; those
    // of other windows stay queued.
    MSG msg;
    if (!g_hwndMain || !PeekMessageA(&msg, g_hwndMain, 0, 0, PM_REMOVE)) return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

int RunModelessDialog(HINSTANCE hInstance, int nCmdShow)
{
    g_hInstance = hInstance;
    HWND hwnd = CreateDialogParamA(hInstance, MAKEINTRESOURCEA(101), NULL, MainDialogProc, 0);
    if (!hwnd) {
        ShowProgramMessage("CreateDialog() failed !", MB_OK | MB_ICONERROR);
        return 0;
    }
    ShowWindow(hwnd, nCmdShow);
    UpdateWindow(hwnd);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (g_hwndMain && IsDialogMessageA(g_hwndMain, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
