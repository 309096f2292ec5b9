// Spoolshift's commands on the reference files of a loaded AVI: detection,
// relocation (moving, copying, renaming) and deletion, and the recovery of
// a relocation that was cut short.
//
// Each command is an engine that runs without a window: it takes a request
// (SHIFTREQUEST) and fills a result (SHIFTRESULT) with an outcome per file,
// its message and both names, and reports progress to a callback as a step
// and counts. Spoolshift's window and spool each render those.
//
// The engines know files by identity (scaffold/filegate.h): detection
// looks at each name a record holds once and groups the records by the file
// it reaches, so that every spelling of one file is one entry, and every
// act goes through the gate on the identity detection saw.
//
// The window's commands (DetectRefFiles, RelocateRefFiles, DeleteRefFiles,
// ShowSelectedSize) drive the window through g_ShiftUi, which the window
// fills in; unset functions do nothing. Their messages go through
// ShowShiftMessage.
#pragma once

#include "mover/avireader.h"
#include "scaffold/filegate.h"

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

// --- The reference files of the loaded AVI ----------------------------------

// One reference file: a file by its identity, or, where none is there, a
// name as the system would create it. Records that name it by any spelling
// belong to it.
typedef struct {
    DWORD dwFirstFrame;  // the first frame that names the file
    DWORD dwFrameCount;  // frames that name it
    DWORD cbNameField;   // the smallest name field of those frames
    DWORD dwKinds;       // REFKIND_... of those frames
    // Where the last frame that a record of this system places in the file
    // ends (0 without such records), and where that frame begins: a
    // reference file holds them all.
    ULONGLONG ullFramesEnd;
    ULONGLONG ullLastFrame;
    DWORD iSpelling;  // its first spelling, the name shown
    DWORD nSpellings;
    DWORD dwRefusal;   // REFUSE_...: why it is not acted on (0: it may be)
    FILEFACTS facts;   // what its names reached when detection looked
} REFFILEENTRY;

// Bits of REFFILEENTRY.dwKinds.
#define REFKIND_RECORD 0x1   // records of this system name the file
#define REFKIND_FOREIGN 0x2  // frames of the two foreign kinds name it

// Bits of REFFILEENTRY.dwRefusal.
#define REFUSE_RELATIVE 0x1     // a record names it by a relative name
#define REFUSE_LINK 0x2         // the last part of a name is a link
#define REFUSE_NOT_A_FILE 0x4   // a folder, a device or something that cannot be told

// The table: g_nRefFiles entries, the capacity g_nRefFileCap (it grows by
// ten entries, more at a time once it is large, and is reused).
extern REFFILEENTRY *g_pRefFiles;
extern DWORD g_nRefFileCap;
extern DWORD g_nRefFiles;
// The last detection read every frame of the loaded AVI: only then does
// the table describe every record, and only then may files be moved or
// deleted on its say.
extern BOOL g_fRefListComplete;

// The name shown for entry k (its first spelling, as the records hold it),
// and the name by which this system reaches its file (the records' name
// converted to the process's code page, scaffold/recordnames.h).
LPCSTR RefFileName(DWORD k);
LPCSTR RefFilePath(DWORD k);
// The spellings of entry k: the first, then the next of each; NO_SPELLING ends.
#define NO_SPELLING 0xFFFFFFFFu
DWORD FirstRefSpelling(DWORD k);
DWORD NextRefSpelling(DWORD iSpelling);
LPCSTR RefSpellingText(DWORD iSpelling);
LPCSTR RefSpellingPath(DWORD iSpelling);
// The entry of the file a name of this system reaches (by its spelling, or
// by the file's identity or creation key); -1 when no record names it.
int FindRefFile(LPCSTR pszName);
// The entry of this very spelling, -1 when no record held it at detection.
int FindRefSpelling(LPCSTR pszName);
// Entry k is now the file of pszNew (as records hold it), by that name alone (after a relocation
// rewrote its records); FALSE when the table could not follow (a new
// detection is then needed).
BOOL RenameRefFile(DWORD k, LPCSTR pszNew);
// Empties the table (its memory is kept), or frees it.
void ResetRefTable(void);
void FreeRefTable(void);

// The name field of a frame: its start (into pData) and size, by the kind
// of reference that the frame is; NULL when it holds none. A field never
// reaches past the frame's cbData bytes.
const BYTE *FindNameField(const BYTE *pData, DWORD cbData, FOURCC fccHandler, DWORD *pcbField);
inline BYTE *FindNameField(BYTE *pData, DWORD cbData, FOURCC fccHandler, DWORD *pcbField)
{
    return (BYTE *)FindNameField((const BYTE *)pData, cbData, fccHandler, pcbField);
}
// The name in a name field: up to its zero or the field's end, cut to
// MAX_PATH - 1 bytes (pszName: MAX_PATH bytes).
void NameInField(const BYTE *pField, DWORD cbField, LPSTR pszName);

// --- Requests and results -----------------------------------------------------

// Steps of the progress callback.
#define STEP_DETECT 0   // frames read, of all
#define STEP_COPY 1     // bytes copied, of the file's
#define STEP_REWRITE 2  // records of the file rewritten, of its records

// What became of a file, or of the command (iFile -1).
#define OUTCOME_MOVED 1        // renamed or copied away, its records name the new file
#define OUTCOME_COPIED 2       // copied, the old file kept, its records name the copy
#define OUTCOME_DELETED 3
#define OUTCOME_REFUSED 4      // a check said no: nothing was done
#define OUTCOME_FAILED 5       // the system failed an operation (what was done is undone where it can be)
#define OUTCOME_ABORTED 6
#define OUTCOME_FINISHED 7     // a relocation cut short was finished
#define OUTCOME_ROLLED_BACK 8  // a relocation cut short was rolled back
#define OUTCOME_KEPT 9         // a file was left where it is for the user to decide on

typedef struct {
    int nOutcome;          // OUTCOME_...
    int iFile;             // the file's entry; -1 for the command, the AVI or a note
    const MESSAGE *pMsg;   // what the window shows (NULL: nothing); its arguments are szA and szB
    UINT uIcon;            // the window's icon for it (MB_ICON..., 0 for none)
    CHAR szA[MAX_PATH];    // the file's name (the old one), or the AVI's
    CHAR szB[MAX_PATH];    // the new name
} SHIFTOUTCOME;

typedef struct {
    // What to act on: entries of the table, in list order.
    const DWORD *piFiles;
    DWORD nFiles;
    CHAR szNewBase[MAX_PATH];  // relocation: the new base as given (made a full path)
    BOOL fCopy;                // relocation: copy even where a rename would do
    BOOL fDeleteOld;           // relocation: delete each old file after its copy
    BOOL fAll;                 // deletion: every file of the table, then the AVI
    // The caller's side; any may be NULL.
    void *pv;
    void (*pfnProgress)(void *pv, int nStep, ULONGLONG ullDone, ULONGLONG ullTotal);
    void (*pfnFound)(void *pv, DWORD k);        // detection: entry k was added
    void (*pfnFileStarts)(void *pv, DWORD k);   // relocation: file k is in hand
    // Relocation: file k is done with; the records of its entry name pszListed.
    void (*pfnFileEnds)(void *pv, DWORD k, LPCSTR pszListed);
    void (*pfnOutcome)(void *pv, const SHIFTOUTCOME *pOutcome);  // each outcome as it comes
    BOOL (*pfnStillWanted)(void *pv, DWORD k);  // relocation: whether file k is still to go
    // Whether to act on files whose format cannot be checked (each named,
    // a line each); without it, no.
    BOOL (*pfnConfirmForeign)(void *pv, LPCSTR pszFiles);
    // Deletion of everything: whether to delete too the files that other
    // AVIs name (each named, with such an AVI, a line each); without it,
    // they are kept.
    BOOL (*pfnConfirmShared)(void *pv, LPCSTR pszFiles);
    volatile LONG *pfAbort;
} SHIFTREQUEST;

typedef struct {
    SHIFTOUTCOME *pOutcomes;
    int nOutcomes;
    int nCap;
    BOOL fComplete;    // detection read every frame
    DWORD nFramesRead; // detection: the frames it read (where it stopped)
    BOOL fAborted;
    BOOL fAviDeleted;  // deletion of everything: the AVI is gone
    BOOL fNoteStays;   // a relocation's note stays beside the AVI
    BOOL fForeignDeclined;  // files of a format that cannot be checked were not confirmed
} SHIFTRESULT;

void InitShiftRequest(SHIFTREQUEST *pReq);
void InitShiftResult(SHIFTRESULT *pRes);
void FreeShiftResult(SHIFTRESULT *pRes);
// The outcome's message with its arguments, in the messages' language.
void RenderOutcome(LPSTR psz, size_t cb, const SHIFTOUTCOME *pOutcome);
// Outcomes of a kind in a result.
int CountOutcomes(const SHIFTRESULT *pRes, int nOutcome);

// --- The engines ----------------------------------------------------------------

// Reads every frame and makes the table of the files they name. FALSE when
// it did not reach the last frame.
BOOL RunDetection(AviInfo *pInfo, const SHIFTREQUEST *pReq, SHIFTRESULT *pRes);
// The loaded AVI's reference files that other AVIs name: the folders of the
// files and of the AVI are searched (not below them) for AVIs, told by their
// contents, whose records name one of them by its identity. afShared
// (g_nRefFiles entries) marks them; pfnFound (may be NULL) is told each file
// and AVI. An AVI, a file or a folder that cannot be read may name any of
// them: every file is marked, with it. The count of files marked, or
// FINDSHARED_FAILED when memory ran out.
#define FINDSHARED_FAILED ((DWORD)-1)
typedef void (*PFNSHAREDWITH)(void *pv, DWORD k, LPCSTR pszOtherAvi);
DWORD FindSharedRefFiles(const AviInfo *pInfo, BOOL *afShared, PFNSHAREDWITH pfnFound, void *pv);
// Gives each file of the request the next number after the new base,
// renamed on its file system or copied to another, and rewrites every
// record that names it by any spelling. Every file is checked before the
// first is touched; a relocation cut short leaves its note.
BOOL RunRelocation(AviInfo *pInfo, const SHIFTREQUEST *pReq, SHIFTRESULT *pRes);
// Deletes the request's files, or with fAll the AVI and then every file of
// the table. Every file is checked before the first goes.
BOOL RunDeletion(AviInfo *pInfo, const SHIFTREQUEST *pReq, SHIFTRESULT *pRes);

// What RunRecovery found and did.
#define RECOVER_NOTHING 0  // no note
#define RECOVER_DONE 1     // the relocation was finished or rolled back (or the note touched nothing)
#define RECOVER_STAYS 2    // the note stays, nothing was changed; the outcome says why
// Finishes or rolls back the relocation that a loaded AVI's note describes.
int RunRecovery(AviInfo *pInfo, const SHIFTREQUEST *pReq, SHIFTRESULT *pRes);

// Whether the files that the commands are about to act on may be: checks of
// the AVI (every frame seen, no note, a detection of every frame), then of
// each file (a regular file named by full paths, no link; a reference file
// for records of this system; the user's yes for the foreign kinds). FALSE
// with the refusals in the result.
BOOL MayActOnRefFiles(AviInfo *pInfo, const SHIFTREQUEST *pReq, SHIFTRESULT *pRes);
// The proof that entry k is a reference file of the AVI (or a file the user
// confirmed).
void RefFileProof(DWORD k, GATEPROOF *pProof);
// Adds an outcome to a result and tells the caller; NULL when memory ran
// out to keep it (it was told all the same).
SHIFTOUTCOME *AddOutcome(const SHIFTREQUEST *pReq, SHIFTRESULT *pRes, int nOutcome, int iFile, const MESSAGE *pMsg,
                         UINT uIcon, LPCSTR pszA, LPCSTR pszB);

// One more than the largest three-digit number after the base, 0 when none.
int NextRefNumber(LPCSTR pszFullBase);
// Rewrites the name in every frame of entry k that still holds one of the
// entry's spellings (a frame changed since detection is left alone) to
// pszNew. *pnDone counts the frames rewritten; FALSE after a frame failed
// (its outcome added).
BOOL RewriteRefNames(AviInfo *pInfo, DWORD k, LPCSTR pszNew, const SHIFTREQUEST *pReq, SHIFTRESULT *pRes, DWORD *pnDone);

// --- The recovery note ------------------------------------------------------------

// What the note says while a relocation has a file in hand: each file's
// name, and what the old file was when the note was written (its identity,
// size and a digest of its first and last frame headers); the new file's
// identity once a copy has made it.
typedef struct {
    CHAR szOld[MAX_PATH];
    CHAR szNew[MAX_PATH];
    BOOL fCopy;
    BOOL fDeleteOld;
    FILEID idOld;
    ULONGLONG ullOldSize;
    ULONGLONG ullOldDigest;
    ULONGLONG ullLastFrame;  // where the digest's last frame header lies
    BOOL fNewMade;
    FILEID idNew;
} RELOCNOTE;
// A note is never longer than this: names are escaped, each byte three
// characters at most.
#define RELOCNOTE_MAXTEXT (6 * MAX_PATH + 512)
// What a note's bytes are.
#define RELOCNOTE_EMPTY 0    // cleared: no file in hand
#define RELOCNOTE_TORN 1     // cut short while it was written: no record touched since it was whole
#define RELOCNOTE_WHOLE 2    // a note of a file in hand, in *pNote
#define RELOCNOTE_FOREIGN 3  // not a note that a relocation of this version wrote
int ParseRelocationNote(const char *pText, DWORD cb, RELOCNOTE *pNote);
// The note's text (psz: RELOCNOTE_MAXTEXT bytes); its length.
int FormatRelocationNote(const RELOCNOTE *pNote, LPSTR psz);
// Puts a note's text in the held note, or clears it (nothing in hand), and
// sees it reach the disk.
BOOL PutRelocationNote(HANDLE hNote, const RELOCNOTE *pNote);
BOOL ClearRelocationNote(HANDLE hNote);
// The digest of a file's first frame header and of the 16 bytes at
// ullLastFrame (or its last 16 bytes when that is 0).
BOOL DigestOfFile(HANDLE h, ULONGLONG ullLastFrame, ULONGLONG *pullDigest);

// The note that a relocation leaves beside the AVI (beside the file that
// the AVI's name reaches, whatever link or spelling it was opened by):
// pszNote (MAX_PATH bytes).
BOOL MakeRecoveryNotePath(const AviInfo *pInfo, LPSTR pszNote);
// Whether a relocation left its note beside the loaded AVI.
BOOL HasRecoveryNote(const AviInfo *pInfo);

// --- The window's commands --------------------------------------------------------

// The reference list (list box 1002) as the commands see it: unsorted,
// several items selectable. Its items are the table's entries, in order.
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
extern volatile LONG g_fShiftBusy;
extern volatile LONG g_fShiftAbort;

// Button 1010: reads every frame and lists the reference files they name.
void DetectRefFiles(AviInfo *pInfo);
// Button 1009: relocates the selected files under the base of field 1004.
void RelocateRefFiles(AviInfo *pInfo);
// Button 1014: asks, then deletes the selected files or everything.
void DeleteRefFiles(AviInfo *pInfo);
// The total size of the selected files as shown in field 1012: groups of
// three digits, leading zeros and commas blank.
void FormatSelectedSize(unsigned long long ullTotal, LPSTR psz16);
void ShowSelectedSize(AviInfo *pInfo);
// Asks whether to recover the note beside the window's AVI, and does;
// TRUE when the AVI may be worked on (no note stays).
BOOL OfferRecovery(AviInfo *pInfo);
