#include "scaffold/recordnames.h"

#include <stdio.h>
#include <string.h>

UINT g_uRecordNamePage = CP_ACP;

namespace {

// Converts between two code pages through UTF-16; FALSE when a character
// is no character of the first or has none in the second, or the result
// does not fit MAX_PATH bytes.
BOOL Convert(UINT uFrom, UINT uTo, LPCSTR pszIn, LPSTR pszOut)
{
    WCHAR awsz[MAX_PATH + 1];
    int cwch = MultiByteToWideChar(uFrom, MB_ERR_INVALID_CHARS, pszIn, -1, awsz, MAX_PATH + 1);
    if (cwch <= 0) return FALSE;
    BOOL fDefault = FALSE;
    // UTF-8 takes no default character, and needs no flag to keep it exact.
    BOOL fUtf8 = uTo == CP_UTF8;
    int cb = WideCharToMultiByte(uTo, fUtf8 ? 0 : WC_NO_BEST_FIT_CHARS, awsz, cwch, pszOut, MAX_PATH, NULL,
                                 fUtf8 ? NULL : &fDefault);
    return cb > 0 && !fDefault;
}

BOOL SamePages(UINT uA, UINT uB)
{
    UINT uAcp = GetACP();
    return (uA == CP_ACP ? uAcp : uA) == (uB == CP_ACP ? uAcp : uB);
}

}  // namespace

BOOL RecordNameToFileName(LPCSTR pszRecord, LPSTR pszFile)
{
    if (SamePages(g_uRecordNamePage, CP_ACP) || Convert(g_uRecordNamePage, GetACP(), pszRecord, pszFile)) {
        if (SamePages(g_uRecordNamePage, CP_ACP)) snprintf(pszFile, MAX_PATH, "%s", pszRecord);
        return TRUE;
    }
    snprintf(pszFile, MAX_PATH, "%s", pszRecord);
    return FALSE;
}

BOOL FileNameToRecordName(LPCSTR pszFile, LPSTR pszRecord)
{
    if (SamePages(g_uRecordNamePage, CP_ACP)) return snprintf(pszRecord, MAX_PATH, "%s", pszFile) < MAX_PATH;
    return Convert(GetACP(), g_uRecordNamePage, pszFile, pszRecord);
}
