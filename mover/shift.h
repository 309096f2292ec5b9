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
    DWORD dwKinds;       // REFKIND_... of those frames
    // Where the last frame that a record of this system places in the file
    // ends (0 without such records): a reference file holds them all.
    ULONGLONG ullFramesEnd;
} REFFILEENTRY;

// Bits of REFFILEENTRY.dwKinds.
#define REFKIND_RECORD 0x1   // records of this system name the file
#define REFKIND_FOREIGN 0x2  // frames of the two foreign kinds name it

// The reference list (list box 1002) as the commands see it: unsorted,
// several items selectable.
typedef struct {
    int (*pfnGetCount)(void);
    // The item's text into psz (MAX_PATH bytes); FALSE when there is none.
    BOOL (*pfnGetText)(int i, LPSTR psz);
    BOOL (*pfnIsSelected)(int i);
    void (*pfnSetSelected)(int i, BOOL fSelected);
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
// The last detection read every frame of the loaded AVI: only then do the
// list and the entries describe every record, and only then may files be
// moved or deleted on their say.
extern BOOL g_fRefListComplete;
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
// The first item of the reference list that names the file pszName names,
// as the file system compares names; -1 when there is none.
int FindRefListItem(LPCSTR pszName);

// The name in a name field: up to its zero or the field's end, cut to
// MAX_PATH - 1 bytes (pszName: MAX_PATH bytes).
void NameInField(const BYTE *pField, DWORD cbField, LPSTR pszName);

// Whether the files that the commands are about to move, copy or delete
// are reference files, the entries' positions in the list given:
// every file that records of this system name begins with a frame header
// that adds up and holds every frame that they place in it (else a message
// names it and FALSE returns); a file that foreign frames name, whose
// format cannot be checked, is acted on only when the user, asked with
// every such file listed, says yes. Missing files are passed over.
BOOL ConfirmOwnRefFiles(const int *aiEntries, int nEntries);
// A file that begins with a consistent frame header and is at least
// ullFramesEnd bytes long.
BOOL IsRefFileHolding(LPCSTR pszPath, ULONGLONG ullFramesEnd);
// The AVI may have its files moved or deleted: detection read every frame
// and the reader every frame of the file; else a message says why.
BOOL MayChangeRefFiles(AviInfo *pInfo);

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

// What the note says while a relocation has a file in hand.
typedef struct {
    CHAR szOld[MAX_PATH];
    CHAR szNew[MAX_PATH];
    BOOL fCopy;
    BOOL fDeleteOld;
} RELOCNOTE;
// A note is never longer than this.
#define RELOCNOTE_MAXTEXT (3 * MAX_PATH)
// What a note's bytes are.
#define RELOCNOTE_EMPTY 0    // cleared: no file in hand
#define RELOCNOTE_TORN 1     // cut short while it was written: no file touched yet
#define RELOCNOTE_WHOLE 2    // a note of a file in hand, in *pNote
#define RELOCNOTE_FOREIGN 3  // not a note that a relocation wrote
int ParseRelocationNote(const char *pText, DWORD cb, RELOCNOTE *pNote);

// The note that a relocation leaves beside the AVI while it changes files
// and records: pszNote (MAX_PATH bytes) from the AVI's path.
BOOL MakeRecoveryNotePath(LPCSTR pszAviFile, LPSTR pszNote);
// Whether a relocation left its note beside the AVI.
BOOL HasRecoveryNote(LPCSTR pszAviFile);
// Finishes or rolls back a relocation that a loaded AVI's note describes,
// and says which; TRUE when there was nothing to do or it was done. A note
// that another program holds, that names no file of the AVI's records, or
// whose recovery would lose a byte or leave a record naming a file that
// does not hold its frame is left as it is, with a message: FALSE.
BOOL RecoverRelocation(AviInfo *pInfo);
