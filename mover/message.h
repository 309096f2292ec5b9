// Spoolshift shows every message through one helper, so that a test sees the
// exact text, caption and icon.
#pragma once

#include "platform/win.h"
#include "scaffold/messages.h"

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
// Shows one of the engines' messages with its arguments, in the language
// of the messages.
int ShowShiftMessageM(UINT uType, const MESSAGE *pMsg, ...);
