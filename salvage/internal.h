// What the engine's parts share among themselves: calls of the window's
// functions that do nothing when the window has not set them, and the
// messages with a path.
#pragma once

#include "salvage/salvage.h"
#include "scaffold/messages.h"

inline void UiSetTitle(LPCSTR psz) { if (g_SalvageUi.pfnSetTitle) g_SalvageUi.pfnSetTitle(psz); }
inline void UiSetItemText(int nId, LPCSTR psz)
{
    if (g_SalvageUi.pfnSetItemText) g_SalvageUi.pfnSetItemText(nId, psz);
}
inline void UiEnableItem(int nId, BOOL f) { if (g_SalvageUi.pfnEnableItem) g_SalvageUi.pfnEnableItem(nId, f); }
inline void UiShowItem(int nId, BOOL f) { if (g_SalvageUi.pfnShowItem) g_SalvageUi.pfnShowItem(nId, f); }
inline void UiPumpMessage(void) { if (g_SalvageUi.pfnPumpMessage) g_SalvageUi.pfnPumpMessage(); }
inline void UiPostNotify(int nId, UINT uCode)
{
    if (g_SalvageUi.pfnPostNotify) g_SalvageUi.pfnPostNotify(nId, uCode);
}
inline void UiInvalidate(void) { if (g_SalvageUi.pfnInvalidate) g_SalvageUi.pfnInvalidate(); }
inline const COMBOLIST *UiCombo(int nId) { return g_SalvageUi.pfnGetCombo ? g_SalvageUi.pfnGetCombo(nId) : NULL; }
inline void UiSetFrameScroll(BOOL fRange, DWORD nMax, DWORD nPos)
{
    if (g_SalvageUi.pfnSetFrameScroll) g_SalvageUi.pfnSetFrameScroll(fRange, nMax, nPos);
}

// Renders one of the engines' messages with its arguments, in the language
// of the messages, into a message buffer of MENDMESSAGE_SIZE bytes.
void FormatMendMessage(LPSTR pszMessage, const MESSAGE *pMsg, ...);
// Shows one of the engines' messages with its arguments.
int ShowMendMessageM(UINT uType, const MESSAGE *pMsg, ...);

// The text of a four-character code, for messages.
void FourccText(DWORD fcc, LPSTR psz5);

// Opens the preview's decompressor if none is open (FALSE when it cannot be)
// and asks it for the compressed format if none is held; a failure of that
// leaves its message in pszMessage (MENDMESSAGE_SIZE bytes).
BOOL GetPreviewFormat(LPSTR pszMessage);

// Seeks the open reference file to an absolute 32-bit position (positions
// of 2 GB and more included).
BOOL SeekRefFile(DWORD dwPos);
