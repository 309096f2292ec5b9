// Files by identity, and the one gate through which the file tools delete,
// rename and replace what the user can see.
//
// A name is only a way to a file: two names reach one file exactly when the
// system says so (the same volume and file index; on POSIX the same device
// and inode), whatever their spelling. The tools look at each name once,
// keep the identity it reached, and act on that identity: the gate opens
// the file itself (never through a link in the last part of its name),
// sees that it is still the file the checks saw and still what the caller
// proves it to be, and acts through that handle. A folder on the way that
// is swapped for a link between the look and the act changes nothing.
//
// Every AVI, reference file and note may come from someone else: the gate
// acts only on what the caller proves is its own (GATE_...).
#pragma once

#include "platform/win.h"

// A file's identity as the system tells it.
typedef struct {
    DWORD dwVolume;
    DWORD dwIndexHigh;
    DWORD dwIndexLow;
} FILEID;

BOOL SameFileId(const FILEID *pA, const FILEID *pB);
// The identity of an open file; FALSE when the system does not tell it.
BOOL FileIdOfHandle(HANDLE h, FILEID *pId);

// What a name reaches.
#define FILEKIND_MISSING 0  // nothing: the file or a folder on the way is not there
#define FILEKIND_FILE 1     // a regular file
#define FILEKIND_FOLDER 2
#define FILEKIND_DEVICE 3   // a device, a pipe or a FIFO: never opened for reading
#define FILEKIND_UNKNOWN 4  // something that cannot be opened to tell what it is

typedef struct {
    int nKind;          // FILEKIND_..., links in the last part followed
    BOOL fLink;         // the last part of the name is a link (or another reparse point)
    BOOL fRelative;     // the name does not start from a root (or a drive's root)
    FILEID id;          // with FILEKIND_FILE and FILEKIND_FOLDER
    ULONGLONG ullSize;  // with FILEKIND_FILE
} FILEFACTS;

// Looks at what a name reaches without reading from it and without
// waiting: a FIFO, a device name (COM1, AUX.000 on Windows) or a pipe is a
// FILEKIND_DEVICE.
void LookAtName(LPCSTR pszName, FILEFACTS *pFacts);
BOOL IsRelativeName(LPCSTR pszName);
// A name as the system would create the file: its full path, and on
// Windows its letters in the case the system ignores (pszKey: 2 * MAX_PATH
// bytes). Names of files that are not there are one file when their keys
// are equal.
BOOL CreationKey(LPCSTR pszName, LPSTR pszKey);
// The full path of an open file as the system resolved it, links followed
// (pszPath: MAX_PATH bytes); FALSE when it does not fit or cannot be had.
BOOL FinalPathOfHandle(HANDLE h, LPSTR pszPath);

// What the caller proves of the file it acts on.
#define GATE_REFFILE 1    // a reference file of the AVI: it begins with a frame header that adds up and
                          // holds every frame that the records place in it (ullFramesEnd bytes at least)
#define GATE_CONFIRMED 2  // the user confirmed this file (files of the foreign kinds of reference)
#define GATE_MADE 3       // this run made it (its identity kept from its making)
#define GATE_THE_AVI 4    // the AVI that the user deletes, as loaded
#define GATE_HELD 5       // a file held open by this run (a note), by the identity of its handle
#define GATE_CHECKED 6    // the file whose bytes the caller's checks read (a codec's driver), by the identity of
                          // the handle they were read through
#define GATE_WHOLE_REFFILE 7  // a reference file that no record names: frames whose headers add up run from its
                              // start to its very end

typedef struct {
    int nProof;              // GATE_...
    FILEID id;               // the identity the checks saw
    ULONGLONG ullFramesEnd;  // GATE_REFFILE
} GATEPROOF;

// What the gate did.
#define GATE_DONE 0
#define GATE_GONE 1          // nothing is there under the name
#define GATE_OTHER_FILE 2    // another file is there now than the one the checks saw
#define GATE_NOT_PROVED 3    // the file is not what the proof says (no reference file)
#define GATE_NOT_A_FILE 4    // a link, a folder, a device
#define GATE_FAILED 5        // the system refused (GetLastError says why)
#define GATE_EXISTS 6        // a rename's new name is taken
#define GATE_OTHER_DEVICE 7  // a rename's new name lies on another file system

// The size of the file open as h; FALSE when it cannot be had.
BOOL SizeOfOpenFile(HANDLE h, ULONGLONG *pullSize);

// Deletes the file the name reaches, when it is the proof's file.
int GateDelete(LPCSTR pszPath, const GATEPROOF *pProof);
// Renames it; fReplace replaces a file of the new name (the new name's own
// link, never what it points at).
int GateRename(LPCSTR pszPath, const GATEPROOF *pProof, LPCSTR pszNew, BOOL fReplace);
// Opens the proof's file for reading after the same checks (*ph: the
// handle, positioned at the start).
int GateOpenForReading(LPCSTR pszPath, const GATEPROOF *pProof, HANDLE *ph);
// The same for writing (to put what was written through another handle on
// the disk, say).
int GateOpenForWriting(LPCSTR pszPath, const GATEPROOF *pProof, HANDLE *ph);
// Makes a new file (CREATE_NEW, never through a link) and gives its
// identity; INVALID_HANDLE_VALUE when a file of that name is there or it
// cannot be made. dwFlags: further flags of the open
// (FILE_FLAG_SEQUENTIAL_SCAN for a file written from beginning to end).
HANDLE GateCreateNew(LPCSTR pszPath, DWORD dwAccess, FILEID *pId, DWORD dwFlags = 0);
// Whether an open file begins with a frame header that adds up and is at
// least ullFramesEnd bytes long.
BOOL HandleHoldsRefFrames(HANDLE h, ULONGLONG ullFramesEnd);
// The same of a file's first cb bytes (pb) and its size.
BOOL BytesBeginRefFrames(const BYTE *pb, DWORD cb, ULONGLONG ullSize, ULONGLONG ullFramesEnd);
// Whether an open file holds frames only: each header adds up, and the
// frames run from its start to its very end.
BOOL HandleHoldsOnlyRefFrames(HANDLE h);

// For the tests: called between the gate's checks and its act, with the
// name acted on.
extern void (*g_pfnGateHook)(LPCSTR pszPath);
