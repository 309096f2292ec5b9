// Driving a program's real dialog from a test, as a user and the shell
// would: the message loop's work, clicks, scroll requests, a click with
// Shift held, files dropped. Windows only.
#pragma once

#include "platform/win.h"

#include <string>
#include <vector>

// Handles everything waiting, as the message loop would (the main window's
// dialog keys included).
void Settle();
std::string WindowText(HWND hwnd);
// Sends a button's click to the dialog and settles.
void ClickItem(HWND hDlg, int nId);
// Sends a request of a scroll bar of the dialog and settles.
void ScrollItem(HWND hDlg, int nId, UINT uRequest);
// A left click on the dialog with Shift held or not.
void ClickWithShift(HWND hDlg, bool fShift);
// Drops files onto the dialog as the shell does, and settles.
void DropFiles(HWND hDlg, const std::vector<std::string> &paths);
