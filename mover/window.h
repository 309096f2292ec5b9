// Spoolshift's window (Windows only): what the program's entry and the
// window's tests see of it.
#pragma once

#include "mover/view.h"
#include "scaffold/dialogapp.h"

// Shift was held at the last left button press: pages are 60 frames.
extern BOOL g_fShiftPage;

INT_PTR CALLBACK MoverDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
// Draws the preview on a device context of the window.
void PaintFrame(HDC hdc);
// The frame bitmap (none before the first AVI, or when it could not be made).
HBITMAP GetFrameBitmap(void);
