// Spoolshift's commands on the reference files of a loaded AVI: detection,
// relocation (moving, copying, renaming) and deletion, and the recovery of
// a relocation that was cut short.
//
// The commands run with or without a window. What they do to the window
// (the reference list, progress texts, enabled controls, the one-message
// pump, the frame shown) goes through g_ShiftUi, which the window fills in;
// unset functions do nothing. Messages go through ShowShiftMessage.
#pragma once

#include "mover/avireader.h"

// Control ids that the commands enable and disable.
#define IDC_SHIFT_CURFILE 1003
#define IDC_SHIFT_NEWBASE 1004
#define IDC_SHIFT_BROWSEAVI 1005
#define IDC_SHIFT_CLOSE 1007
#define IDC_SHIFT_BROWSEBASE 1008
#define IDC_SHIFT_MOVE 1009
#define IDC_SHIFT_DETECT 1010
#define IDC_SHIFT_PROGRESS 1011
#define IDC_SHIFT_SIZE 1012
#define IDC_SHIFT_DELETEOLD 1013
#define IDC_SHIFT_DELETE 1014
#define IDC_SHIFT_ABORT 1015
#define IDC_SHIFT_REFLIST 1002
#define IDC_SHIFT_AVIFILE 1001
#define IDC_SHIFT_CURFRAME 1016
#define IDC_SHIFT_FRAMESCROLL 2004
#define IDC_SHIFT_SIZETEXT 2005
#define IDC_SHIFT_PREVIEW 2006
#define IDC_SHIFT_CODEC 2009
#define IDC_SHIFT_UNREADABLE 2010

typedef struct {
    DWORD dwFirstFrame;  // the first frame that names the file
    DWORD dwFrameCount;  // frames that name it
    DWORD cbNameField;   // the smallest name field of those frames
} REFFILEENTRY;

// The reference list (list box 1002) as the commands see it: unsorted,
// several items selectable.
typedef struct {
    int (*pfnGetCount)(void);
    // The item's text into psz (MAX_PATH bytes); FALSE when there is none.
    BOOL (*pfnGetText)(int i, LPSTR psz);
    BOOL (*pfnIsSelected)(int i);
    void (*pfnSetSelected)(int i, BOOL fSelected);
    // The first item equal to psz ignoring case, or -1.
    int (*pfnFindExact)(LPCSTR psz);
    // Inserts before item i (-1: at the end), keeping the top item in view;
    // the new item is not selected.
    void (*pfnInsert)(int i, LPCSTR psz);
    void (*pfnDelete)(int i);
    void (*pfnReset)(void);
    // The item with the caret, or -1.
    int (*pfnGetCaret)(void);
} REFLISTUI;

typedef struct {
    REFLISTUI list;
    void (*pfnSetItemText)(int nId, LPCSTR psz);
    void (*pfnEnableItem)(int nId, BOOL fEnable);
    // The text of an edit field (MAX_PATH bytes) and a check box.
    void (*pfnGetItemText)(int nId, LPSTR psz);
    BOOL (*pfnIsChecked)(int nId);
    void (*pfnPumpMessage)(void);
    // Repaints the window at once (after a progress text).
    void (*pfnUpdate)(void);
    void (*pfnBringToFront)(void);
    // A name was added to the list: the list's horizontal extent follows
    // the widest name of this run (0 starts a run).
    void (*pfnNoteNameWidth)(LPCSTR psz);
    void (*pfnFocus)(int nId);
    // Shows frame n in the preview.
    void (*pfnShowFrame)(DWORD n);
    // Closes the AVI and empties the window, as the close button does.
    void (*pfnResetWindow)(void);

    // The preview.
    void (*pfnShowItem)(int nId, BOOL fShow);
    // The frame scroll bar gets the range 0 to nFrames - 1 at position 0,
    // disabled when there is nothing to scroll.
    void (*pfnSetFrameScroll)(DWORD nFrames);
    // The thumb of the frame scroll bar moves to n.
    void (*pfnSetScrollPos)(DWORD n);
    // An AVI of another frame size was opened: the frame bitmap and the
    // picture's place in the preview area are made anew.
    void (*pfnPictureSizeChanged)(LONG cx, LONG cy);
    // The picture in g_pbImage (when fShown) goes into the frame bitmap,
    // which is drawn at once.
    void (*pfnShowPicture)(BOOL fShown);
    // Repaints the whole window at once, erasing its background.
    void (*pfnInvalidate)(void);
} SHIFTUI;

extern SHIFTUI g_ShiftUi;

// The window's functions, doing nothing when it has not set them.
inline void ShiftEnable(int nId, BOOL f)
{
    if (g_ShiftUi.pfnEnableItem) g_ShiftUi.pfnEnableItem(nId, f);
}
inline void ShiftSetText(int nId, LPCSTR psz)
{
    if (g_ShiftUi.pfnSetItemText) g_ShiftUi.pfnSetItemText(nId, psz);
}
extern REFFILEENTRY *g_pRefFiles;
extern DWORD g_nRefFileCap;
extern volatile LONG g_fShiftBusy;
extern volatile LONG g_fShiftAbort;
// Relocation copies (and keeps the old file unless told to delete it) even
// on the same drive.
extern BOOL g_fShiftAlwaysCopy;

// The name field of a frame: its start (into pData) and size, by the kind
// of reference that the frame is; NULL when it holds none. A field never
// reaches past the frame's cbData bytes.
BYTE *FindNameField(BYTE *pData, DWORD cbData, FOURCC fccHandler, DWORD *pcbField);

// Reads every frame and lists the reference files they name.
void DetectRefFiles(AviInfo *pInfo);

// The total size of the selected files as shown in field 1012: groups of
// three digits, leading zeros and commas blank.
void FormatSelectedSize(unsigned long long ullTotal, LPSTR psz16);
void ShowSelectedSize(AviInfo *pInfo);

// One more than the largest three-digit number after the base, 0 when none.
int NextRefNumber(LPCSTR pszFullBase);
// Copies a file in 1 MiB chunks with progress; FALSE after a reported
// failure or abort (no new file then remains).
BOOL CopyRefFile(LPCSTR pszOld, LPCSTR pszNew);
// Rewrites the name in every frame of list position k that names pszOld.
// With pnDone, the frames rewritten are counted there.
BOOL RewriteRefNames(AviInfo *pInfo, DWORD k, LPCSTR pszOld, LPCSTR pszNew, DWORD *pnDone);
void RelocateRefFiles(AviInfo *pInfo);
void DeleteRefFiles(AviInfo *pInfo);

// The note that a relocation leaves beside the AVI while it changes files
// and records: pszNote (MAX_PATH bytes) from the AVI's path.
BOOL MakeRecoveryNotePath(LPCSTR pszAviFile, LPSTR pszNote);
// Whether a relocation left its note beside the AVI.
BOOL HasRecoveryNote(LPCSTR pszAviFile);
// Finishes or rolls back a relocation that a loaded AVI's note describes,
// and says which; TRUE when there was nothing to do or it was done.
BOOL RecoverRelocation(AviInfo *pInfo);
