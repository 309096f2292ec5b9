// Path helpers shared by the programs and the codec driver.
//
// Paths are 8-bit texts in the multibyte code page; the searches for
// separators go character by character, so the second byte of a double-byte
// character is never taken for one.
#pragma once

#include "platform/win.h"

// The text after the last drive separator ':' (Windows only) and the last
// path separator; empty when the path ends with a separator.
LPSTR GetFileNamePart(LPCSTR pszPath);

// TRUE when a name holds a folder or a drive: a path separator of its own
// (the second byte of a double-byte character is none), '/' or a drive's
// ':' on Windows.
BOOL HasFolderPart(LPCSTR pszPath);

// TRUE when the byte at ib begins a character of the text: no second byte
// of a double-byte character.
BOOL StartsCharacter(LPCSTR psz, size_t ib);

// The text after the last '.' of the file-name part, or NULL when the file
// name has no '.'. A name ending in '.' gives the empty text.
LPSTR GetExtensionPart(LPCSTR pszPath);

// The folder of the program's executable, ending with a separator; empty when
// it cannot be had. Kept in a static buffer for the program's life.
LPCSTR GetProgramFolder(void);

// 1 to 26 for a path that begins with a drive letter and ':', else 0.
int GetDriveNumber(LPCSTR pszPath);

// TRUE when a file or folder of that path exists.
BOOL FileExists(LPCSTR pszPath);

// TRUE when two names name one file as the file system compares names: byte
// for byte on POSIX; on Windows ignoring the case of single-byte letters and
// the kind of separator, the second byte of a double-byte character always
// compared as it is.
BOOL SameFileName(LPCSTR pszA, LPCSTR pszB);

// TRUE when both paths reach one existing file (the same volume and file
// index), whatever their spelling, links or linked folders on the way.
BOOL SameFile(LPCSTR pszA, LPCSTR pszB);

// The entries of the folder that holds the file (or of the folder itself)
// reach the disk, so that a file created, renamed or deleted there stays so
// after a power loss. Windows keeps folders in its journal: nothing to do.
BOOL FlushFolderOf(LPCSTR pszPath);
