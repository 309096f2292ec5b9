// Spoolshift's view of the open AVI: opening and closing it for the window,
// and the frame shown in the preview with its number. The drawing itself
// goes through g_ShiftUi.
#pragma once

#include "mover/shift.h"

// The window's AVI.
extern AviInfo g_AviInfo;
// The frame size that the preview bitmap was made for; 0 before the first AVI.
extern LONG g_cxFrame, g_cyFrame;
// The last ShowFrame produced a picture.
extern BOOL g_fFrameShown;
// The frame passed to the last ShowFrame; the scroll bar steps from it.
extern DWORD g_nCurFrame;

// What the preview area shows.
enum PREVIEWSTATE {
    PREVIEW_EMPTY,       // no AVI, or an AVI without frames
    PREVIEW_UNREADABLE,  // the label that the frame cannot be read
    PREVIEW_PICTURE      // the frame bitmap
};
PREVIEWSTATE GetPreviewState(void);

// The new base name offered for an AVI: its path without the extension of
// the file-name part (pszBase: MAX_PATH bytes).
void MakeDefaultBaseName(LPCSTR pszAviFile, LPSTR pszBase);

// Makes pszPath the window's AVI, or with NULL returns the window to its
// state without one; TRUE when an AVI was opened. For an AVI that a
// relocation left its recovery note beside, the user is asked whether to
// recover it first; without, the AVI is opened for looking only.
BOOL SetAviFile(LPCSTR pszPath);
// Loads (fOpen) or unloads the AVI of pInfo->szAviFile and sets up or
// clears the preview; TRUE exactly when it was asked to load and did.
BOOL OpenAviView(AviInfo *pInfo, BOOL fOpen);
// Decodes frame n, shows its number, moves the scroll bar to it and draws
// it; TRUE when it was decoded.
BOOL ShowFrame(AviInfo *pInfo, DWORD n);
