// The helpers that run each of the dialog programs: the program entry with
// its message loop, a one-message pump for long operations, window
// centring, drawing-object wrappers, and the one helper through which a
// program shows its messages. Windows only.
#pragma once

#include "platform/win.h"

#include <commdlg.h>

// Set by each program: its name (the caption of its messages) and the
// procedure of its main dialog, resource 101.
extern const char g_szProgramName[];
INT_PTR CALLBACK MainDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

// The main dialog (set by the dialog procedure when it is initialised) and
// the program's instance.
extern HWND g_hwndMain;
extern HINSTANCE g_hInstance;

// The message box behind ShowProgramMessage; tests put a recorder here.
typedef int(WINAPI *MESSAGEBOXPROC)(HWND, LPCSTR, LPCSTR, UINT);
extern MESSAGEBOXPROC g_pfnMessageBox;

// The file dialogs; tests answer them through these.
typedef BOOL(WINAPI *FILEDIALOGPROC)(LPOPENFILENAMEA pofn);
extern FILEDIALOGPROC g_pfnGetOpenFileName;
extern FILEDIALOGPROC g_pfnGetSaveFileName;

// Asks for a file name in the open dialog (fSave FALSE) or the save dialog;
// pszFile (cchFile bytes) holds the initial name and receives the chosen
// one. pszFolder, the initial folder, may be NULL. FALSE when cancelled.
BOOL AskFileName(BOOL fSave, LPCSTR pszTitle, LPCSTR pszFilter, DWORD dwFlags, LPSTR pszFile, DWORD cchFile,
                 LPCSTR pszFolder);

// Turns a request of the frame scroll bar hScroll into the frame to show,
// from frame c of n (see PickScrollFrame); while the thumb is dragged its
// number goes into the main window's item nNumberId at once. FALSE when the
// request does not move.
BOOL TakeFrameScroll(HWND hScroll, UINT uRequest, DWORD c, DWORD n, BOOL fShiftPage, int nNumberId, DWORD *pnFrame);

// Shows one message: the program's name as caption, the main window as owner.
int ShowProgramMessage(LPCSTR pszText, UINT uType);
// The same for an engine that names its caption (the program's own).
int ShowEngineMessageBox(LPCSTR pszText, LPCSTR pszCaption, UINT uType);

// Centres a window on a reference window (or the desktop); with a reference
// window the result is kept inside the desktop.
void CenterWindow(HWND hwnd, HWND hwndReference);

// SelectObject and DeleteObject; the label names the object for diagnostics.
HGDIOBJ SelectGdiObject(HDC hdc, HGDIOBJ hObject, LPCSTR pszLabel);
BOOL DeleteGdiObject(HGDIOBJ hObject, LPCSTR pszLabel);

// Dispatches at most one waiting message of the main window or its children;
// never waits.
void PumpMessage(void);

// Creates the main dialog, shows it and runs the message loop until the quit
// message; returns its code, or 0 when the dialog cannot be created.
int RunModelessDialog(HINSTANCE hInstance, int nCmdShow);
