// Putting Spoolcap in front of an installed video codec and taking it away
// again: where the system finds a codec's driver, what kind of module a file
// is, and the check through the system that the codec still answers as it
// did.
#pragma once

#include "platform/win.h"
#include "scaffold/filegate.h"

#include <stddef.h>

// One codec's files, as the system of this process finds them.
typedef struct {
    DWORD fcc;                   // the codec's FOURCC
    CHAR szFourcc[5];            // as the user wrote it
    CHAR szDriver[MAX_PATH];     // the driver's file name as the system lists it
    BOOL fInRegistry;            // listed in the registry (else in system.ini)
    CHAR szPath[MAX_PATH];       // the driver in this process's system folder
    CHAR szOrgPath[MAX_PATH];    // the same with ".org" appended
    CHAR szIniFile[MAX_PATH];    // Spoolcap's settings file, a bare name
    CHAR szIniPath[MAX_PATH];    // the same in the Windows folder
} CODECFILES;

// What the system answers for a codec, compared before and after a change.
typedef struct {
    ICINFO info;
    BOOL fWrapped;  // the module of the codec's name with ".org" appended was loaded
} CODECANSWER;

// The driver the system loads for a video codec: the value vidc.FOURCC
// under Drivers32 in this process's registry view, else the key of the
// [drivers32] section of system.ini. FALSE when neither lists it.
BOOL FindCodecDriver(DWORD fcc, LPSTR pszDriver, size_t cbDriver, BOOL *pfInRegistry);

// Fills the files of a codec: CODECFILES_OK, or why not.
#define CODECFILES_OK 0
#define CODECFILES_UNLISTED 1  // the system lists no such codec
#define CODECFILES_FOLDER 2    // its driver is listed with a folder
#define CODECFILES_TOO_LONG 3  // a path does not fit
int FindCodecFiles(DWORD fcc, CODECFILES *pFiles);
// Fills the files of the codec named by the text; FALSE after a message
// that says why not (no such codec, a driver given with a folder, names
// that do not fit).
BOOL LocateCodecFiles(LPCSTR pszFourcc, CODECFILES *pFiles);

// The machine of a module's image, as a PE header gives it (0x014C for x86,
// 0x8664 for x86-64); ELF images of the native build map to the same
// values. 0 when the bytes are no module.
DWORD GetImageMachine(const BYTE *pb, size_t cb);
// The machine's name for messages ("x86", "x64"...).
LPCSTR MachineName(DWORD dwMachine);
// TRUE when the image is a Spoolcap module.
BOOL IsSpoolcapImage(const BYTE *pb, size_t cb);

// A file's bytes in a new buffer (free() it); FALSE when it cannot be read
// or is larger than any codec module. pId (may be NULL) gets the identity
// of the file read.
BOOL ReadWholeFile(LPCSTR pszPath, BYTE **ppb, size_t *pcb, FILEID *pId);
// The machine of a module file (0 when it is no module) and whether it is
// Spoolcap (pfSpoolcap may be NULL), and the identity of the file read (pId
// may be NULL); FALSE when it cannot be read.
BOOL ReadModuleKind(LPCSTR pszPath, DWORD *pdwMachine, BOOL *pfSpoolcap, FILEID *pId);
// Renames the file that the checks read, by the identity they saw (never
// over another file); FALSE with the system's error, ERROR_FILE_INVALID
// when the name reaches another file now.
BOOL RenameChecked(LPCSTR pszFrom, const FILEID *pId, LPCSTR pszTo);
// A copy of Spoolcap that an earlier run left under a temporary name goes,
// when its bytes are Spoolcap's, by the identity of the file read.
#define COPY_NONE 0      // nothing under the name
#define COPY_DELETED 1
#define COPY_NOT_OURS 2  // not a copy of Spoolcap (or it cannot be read): left
#define COPY_IN_USE 3    // a program has it loaded: left
int DeleteOwnCopy(LPCSTR pszCopy);

// Opens the codec through the system, by its FOURCC, and takes its answer
// to ICM_GETINFO and whether its ".org" module is loaded; FALSE when it does
// not open. Replaceable by the tests.
extern BOOL (*g_pfnAskCodec)(const CODECFILES *pFiles, CODECANSWER *pAnswer);
BOOL AskCodec(const CODECFILES *pFiles, CODECANSWER *pAnswer);
// TRUE when two answers describe one codec (the driver's name aside).
BOOL SameCodecInfo(const ICINFO *pA, const ICINFO *pB);

// A path from a format of two texts; FALSE when it does not fit MAX_PATH.
BOOL FormatPath(LPSTR pszOut, LPCSTR pszFormat, LPCSTR pszA, LPCSTR pszB);
// Writes the bytes to a new file and puts them on the disk; no file remains
// when it fails. *pdwError is the system's error; pId (may be NULL) gets
// the new file's identity.
BOOL WriteNewFile(LPCSTR pszPath, const BYTE *pb, size_t cb, DWORD *pdwError, FILEID *pId);
// Says that nothing could be written beside the file: as an administrator
// for access denied, else with the system's error.
void ComplainNoAccess(LPCSTR pszFolderFile, DWORD dwError);

// Whether the folder of a base name is there (an empty name needs none);
// pszFolder (MAX_PATH bytes) gets the folder.
BOOL BaseFolderThere(LPCSTR pszBase, LPSTR pszFolder);
// Writes the settings file with reference writing off, unless there is one,
// and says which (and the base names when it turns reference writing on).
void WriteFirstSettings(const CODECFILES *pFiles);

// The journal of an install or an uninstall beside the codec's driver
// (journal.cpp).
#define JOURNAL_NONE 0
#define JOURNAL_INSTALL 1
#define JOURNAL_UNINSTALL 2
#define JOURNAL_BAD 3  // there, but no journal this system wrote
#define JOURNAL_BUSY 4  // held by a run that is working now

// An install or an uninstall as one list of renames, each of the file of
// an identity from one name to another; its undo is the rename back. The
// steps that a kill may come between:
//   install    1. Spoolcap written as NAME.spoolcap-new; the journal
//              2. NAME (the codec's driver) renamed NAME.org
//              3. NAME.spoolcap-new (Spoolcap) renamed NAME
//   uninstall  1. the journal
//              2. NAME (Spoolcap) renamed NAME.spoolcap-old
//              3. NAME.org (the codec's driver) renamed NAME
//              then NAME.spoolcap-old deleted
#define FIRST_RENAME_STEP 2
typedef struct {
    CHAR szFrom[MAX_PATH];
    CHAR szTo[MAX_PATH];
    FILEID id;
} CODECRENAME;

typedef struct {
    int nOp;                 // JOURNAL_INSTALL or JOURNAL_UNINSTALL
    CHAR szCopy[MAX_PATH];   // Spoolcap's copy under its temporary name
    FILEID idSpoolcap;       // Spoolcap's identity: the copy made, or Spoolcap in front
    FILEID idDriver;         // the codec's own driver's
    CODECRENAME aRenames[2];
} CODECOP;

// The operation's list for the codec's files; FALSE when a name does not fit.
BOOL PlanCodecOp(const CODECFILES *pFiles, int nOp, const FILEID *pidSpoolcap, const FILEID *pidDriver,
                 CODECOP *pOp);
// Does the renames in order, each followed by its step's hook: OP_DONE, or
// OP_FAILED with *pnDone renames done and GetLastError the failure's
// (those done are left for the caller to undo), or OP_KILLED when the
// tests' hook stopped the run there.
#define OP_DONE 0
#define OP_FAILED 1
#define OP_KILLED 2
int DoRenames(const CODECOP *pOp, int *pnDone);
// Undoes the first nDone renames, the last first; FALSE when one fails.
BOOL UndoRenames(const CODECOP *pOp, int nDone);

// Before the first rename: the operation and the identities its renames
// move; FALSE after a message.
BOOL WriteJournal(const CODECFILES *pFiles, const CODECOP *pOp);
void RemoveJournal(const CODECFILES *pFiles);
// JOURNAL_..., with the operation's list as the journal gives it.
int ReadJournal(const CODECFILES *pFiles, CODECOP *pOp);
// Finishes or undoes an interrupted operation from where the identities it
// names are now, saying which; SETTLED_STUCK after a message that says what
// to do by hand.
#define SETTLED_NOTHING 0
#define SETTLED_UNDONE 1
#define SETTLED_FINISHED 2
#define SETTLED_STUCK 3
int SettleJournal(const CODECFILES *pFiles);
// Says that a copy of Spoolcap is held by a running program, and has it
// deleted at the next restart where the system can.
void SayCopyInUse(LPCSTR pszCopy);
// Called by install and uninstall after each step (1 to 3); FALSE stops the
// command there as a kill would (the tests' stand-in for one). NULL: none.
extern BOOL (*g_pfnInstallStep)(int nStep);
// The names with which install and uninstall move Spoolcap's copy aside.
extern const LPCSTR g_apszCopySuffixes[2];
BOOL InstallStepReached(int nStep);
