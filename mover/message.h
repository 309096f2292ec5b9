// Spoolshift shows every message through one helper, so that a test sees the
// exact text, caption and icon.
#pragma once

#include "platform/win.h"

#define SPOOLSHIFT_NAME "Spoolshift"

typedef int (*SHOWMESSAGEPROC)(LPCSTR pszText, LPCSTR pszCaption, UINT uType);

// The function behind ShowShiftMessage: a message box owned by the main
// window on Windows, the error stream elsewhere; tests put a recorder here.
extern SHOWMESSAGEPROC g_pfnShowMessage;
#ifdef _WIN32
extern HWND g_hwndShiftOwner;
#endif

// Shows one message with the caption "Spoolshift".
int ShowShiftMessage(LPCSTR pszText, UINT uType);
// The same with one "%s" in the text filled in.
int ShowShiftMessagePath(LPCSTR pszFormat, LPCSTR pszPath, UINT uType);
