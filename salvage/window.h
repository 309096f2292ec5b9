// Spoolmend's window (Windows only): what the program's entry and the
// window's tests see of it.
#pragma once

#include "salvage/salvage.h"

#include <commdlg.h>

// The file dialogs; tests answer them through these.
typedef BOOL(WINAPI *FILEDIALOGPROC)(LPOPENFILENAMEA pofn);
extern FILEDIALOGPROC g_pfnGetOpenFileName;
extern FILEDIALOGPROC g_pfnGetSaveFileName;

// The AVI file chosen last (written, or settings taken from it).
extern CHAR g_szAviFile[MAX_PATH];
// The entry of the codec chooser chosen last in this run.
extern CHAR g_szRefHandlerText[CODECENTRY_SIZE];
// Shift was held at the last left button press: pages are 60 frames.
extern BOOL g_fShiftPage;

INT_PTR CALLBACK SalvageDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
UINT_PTR CALLBACK RefHandlerHookProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
// Stretches the frame bitmap into the preview's place.
void PaintPreview(HDC hdc);
