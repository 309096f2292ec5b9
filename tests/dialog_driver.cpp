#include "tests/dialog_driver.h"

#include "scaffold/dialogapp.h"

#include <shellapi.h>
#include <shlobj.h>
#include <string.h>

void Settle()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        if (!g_hwndMain || !IsDialogMessageA(g_hwndMain, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

std::string WindowText(HWND hwnd)
{
    char sz[1024] = "";
    GetWindowTextA(hwnd, sz, sizeof(sz));
    return sz;
}

void ClickItem(HWND hDlg, int nId)
{
    SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), (LPARAM)GetDlgItem(hDlg, nId));
    Settle();
}

void ScrollItem(HWND hDlg, int nId, UINT uRequest)
{
    SendMessageA(hDlg, WM_HSCROLL, MAKEWPARAM(uRequest, 0), (LPARAM)GetDlgItem(hDlg, nId));
    Settle();
}

void ClickWithShift(HWND hDlg, bool fShift)
{
    BYTE abKeys[256];
    GetKeyboardState(abKeys);
    abKeys[VK_SHIFT] = fShift ? 0x80 : 0;
    SetKeyboardState(abKeys);
    SendMessageA(hDlg, WM_LBUTTONDOWN, fShift ? MK_SHIFT : 0, MAKELPARAM(5, 5));
    abKeys[VK_SHIFT] = 0;
    SetKeyboardState(abKeys);
}

void DropFiles(HWND hDlg, const std::vector<std::string> &paths)
{
    size_t cb = sizeof(DROPFILES) + 1;
    for (const std::string &path : paths) cb += path.size() + 1;
    HGLOBAL hDrop = GlobalAlloc(GHND, cb);
    DROPFILES *pDrop = (DROPFILES *)GlobalLock(hDrop);
    pDrop->pFiles = sizeof(DROPFILES);
    char *p = (char *)(pDrop + 1);
    for (const std::string &path : paths) {
        memcpy(p, path.c_str(), path.size() + 1);
        p += path.size() + 1;
    }
    GlobalUnlock(hDrop);
    SendMessageA(hDlg, WM_DROPFILES, (WPARAM)hDrop, 0);
    Settle();
}
