// The names that reference records hold, and the names of the files on
// this system.
//
// Records hold their names in the code page of the system that wrote them:
// code page 932 on the Japanese Windows they are made on. Where the
// process's own code page is another (spool on Linux, whose names are
// UTF-8), a record's name is converted to look its file up and to show it,
// and a name written into a record is converted back, refused when the
// records' code page cannot hold one of its characters.
#pragma once

#include "platform/win.h"

// The code page of the records' names; CP_ACP: the process's own.
extern UINT g_uRecordNamePage;

// A record's name as this system names the file (pszFile: MAX_PATH bytes);
// FALSE, with the bytes as they are, when a character cannot be converted.
BOOL RecordNameToFileName(LPCSTR pszRecord, LPSTR pszFile);
// A file name of this system as records hold it (pszRecord: MAX_PATH
// bytes); FALSE when the records' code page cannot hold a character of it
// or it does not fit.
BOOL FileNameToRecordName(LPCSTR pszFile, LPSTR pszRecord);
