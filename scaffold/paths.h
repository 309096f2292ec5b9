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
