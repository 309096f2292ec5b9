// Spoolmend's window (Windows only): what the program's entry and the
// window's tests see of it.
#pragma once

#include "salvage/salvage.h"

#include "scaffold/dialogapp.h"

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
