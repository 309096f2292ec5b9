#include "scaffold/filegate.h"

#include "codec/refformat.h"
#include "scaffold/paths.h"

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void (*g_pfnGateHook)(LPCSTR pszPath);

BOOL SameFileId(const FILEID *pA, const FILEID *pB)
{
    return pA->dwVolume == pB->dwVolume && pA->dwIndexHigh == pB->dwIndexHigh && pA->dwIndexLow == pB->dwIndexLow;
}

BOOL FileIdOfHandle(HANDLE h, FILEID *pId)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return FALSE;
    pId->dwVolume = info.dwVolumeSerialNumber;
    pId->dwIndexHigh = info.nFileIndexHigh;
    pId->dwIndexLow = info.nFileIndexLow;
    return TRUE;
}

BOOL IsRelativeName(LPCSTR pszName)
{
#ifdef _WIN32
    // "C:\..." and "\\server\share\..." (with "\\?\" and "\\.\") start
    // from a root; "C:take", "\take" and "take" from a current folder.
    BOOL fSep0 = pszName[0] == '\\' || pszName[0] == '/';
    BOOL fSep1 = fSep0 && (pszName[1] == '\\' || pszName[1] == '/');
    BOOL fDrive = ((pszName[0] >= 'A' && pszName[0] <= 'Z') || (pszName[0] >= 'a' && pszName[0] <= 'z')) &&
                  pszName[1] == ':' && (pszName[2] == '\\' || pszName[2] == '/');
    return !(fSep1 || fDrive);
#else
    return pszName[0] != '/';
#endif
}

namespace {

// The full path, or FALSE when it does not fit.
BOOL FullPath(LPCSTR pszName, LPSTR pszFull)
{
    DWORD cch = GetFullPathNameA(pszName, MAX_PATH, pszFull, NULL);
    return cch > 0 && cch < MAX_PATH;
}

#ifdef _WIN32
// Device names (COM1, AUX.000, NUL ...) come back from the system as
// "\\.\NAME": they are no files.
BOOL IsDevicePath(LPCSTR pszFull) { return strncmp(pszFull, "\\\\.\\", 4) == 0; }
#endif

// What an open handle is.
void FactsOfHandle(HANDLE h, FILEFACTS *pFacts)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK) {
        pFacts->nKind = FILEKIND_DEVICE;
    } else if (!GetFileInformationByHandle(h, &info)) {
        pFacts->nKind = FILEKIND_UNKNOWN;
    } else {
        pFacts->id.dwVolume = info.dwVolumeSerialNumber;
        pFacts->id.dwIndexHigh = info.nFileIndexHigh;
        pFacts->id.dwIndexLow = info.nFileIndexLow;
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) pFacts->nKind = FILEKIND_FOLDER;
        else pFacts->nKind = FILEKIND_FILE;
        pFacts->ullSize = ((ULONGLONG)info.nFileSizeHigh << 32) | info.nFileSizeLow;
        if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) pFacts->fLink = TRUE;
    }
}

const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens a name to see what it is: no data, no waiting.
HANDLE OpenToLook(LPCSTR pszName, BOOL fFollow)
{
    return CreateFileA(pszName, FILE_READ_ATTRIBUTES, SHARE_ALL, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | (fFollow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), NULL);
}

int KindOfFailedOpen(DWORD dwError)
{
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND || dwError == ERROR_INVALID_NAME
               ? FILEKIND_MISSING
               : FILEKIND_UNKNOWN;
}

}  // namespace

void LookAtName(LPCSTR pszName, FILEFACTS *pFacts)
{
    memset(pFacts, 0, sizeof(*pFacts));
    pFacts->fRelative = IsRelativeName(pszName);
    CHAR szFull[MAX_PATH];
    if (!pszName[0] || !FullPath(pszName, szFull)) {
        pFacts->nKind = FILEKIND_UNKNOWN;
        return;
    }
#ifdef _WIN32
    if (IsDevicePath(szFull)) {
        pFacts->nKind = FILEKIND_DEVICE;
        return;
    }
#endif
    HANDLE h = OpenToLook(pszName, FALSE);
    if (h == INVALID_HANDLE_VALUE) {
        pFacts->nKind = KindOfFailedOpen(GetLastError());
        return;
    }
    FactsOfHandle(h, pFacts);
    CloseHandle(h);
    if (!pFacts->fLink) return;
    // A link: what it reaches is the file that the name reaches.
    h = OpenToLook(pszName, TRUE);
    if (h == INVALID_HANDLE_VALUE) {
        pFacts->nKind = KindOfFailedOpen(GetLastError());
        memset(&pFacts->id, 0, sizeof(pFacts->id));
        pFacts->ullSize = 0;
        return;
    }
    FactsOfHandle(h, pFacts);
    pFacts->fLink = TRUE;
    CloseHandle(h);
}

BOOL CreationKey(LPCSTR pszName, LPSTR pszKey)
{
    CHAR szFull[MAX_PATH];
    if (!FullPath(pszName, szFull)) return FALSE;
#ifdef _WIN32
    // "\\?\C:\x" is "C:\x", "\\?\UNC\server\x" is "\\server\x"; the system
    // compares the rest ignoring case by its own table, beyond ASCII too.
    LPCSTR psz = szFull;
    CHAR szUnc[MAX_PATH];
    if (strncmp(psz, "\\\\?\\UNC\\", 8) == 0) {
        snprintf(szUnc, sizeof(szUnc), "\\\\%s", psz + 8);
        psz = szUnc;
    } else if (strncmp(psz, "\\\\?\\", 4) == 0) {
        psz += 4;
    }
    WCHAR awsz[MAX_PATH], awszUpper[MAX_PATH];
    int cwch = MultiByteToWideChar(CP_ACP, 0, psz, -1, awsz, MAX_PATH);
    if (cwch <= 0) return FALSE;
    for (WCHAR *p = awsz; *p; p++)
        if (*p == '/') *p = '\\';
    int cwchUpper = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, awsz, cwch, awszUpper, MAX_PATH);
    if (cwchUpper <= 0) return FALSE;
    return WideCharToMultiByte(CP_UTF8, 0, awszUpper, cwchUpper, pszKey, 2 * MAX_PATH, NULL, NULL) > 0;
#else
    memcpy(pszKey, szFull, strlen(szFull) + 1);
    return TRUE;
#endif
}

BOOL FinalPathOfHandle(HANDLE h, LPSTR pszPath)
{
    CHAR szFinal[2 * MAX_PATH];
    DWORD cch = GetFinalPathNameByHandleA(h, szFinal, sizeof(szFinal), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (cch == 0 || cch >= sizeof(szFinal)) return FALSE;
    LPCSTR psz = szFinal;
    CHAR szUnc[2 * MAX_PATH];
#ifdef _WIN32
    if (strncmp(psz, "\\\\?\\UNC\\", 8) == 0) {
        snprintf(szUnc, sizeof(szUnc), "\\\\%s", psz + 8);
        psz = szUnc;
    } else if (strncmp(psz, "\\\\?\\", 4) == 0) {
        psz += 4;
    }
#else
    (void)szUnc;
#endif
    size_t cb = strlen(psz) + 1;
    if (cb > MAX_PATH) return FALSE;
    memcpy(pszPath, psz, cb);
    return TRUE;
}

BOOL SizeOfOpenFile(HANDLE h, ULONGLONG *pullSize)
{
    DWORD dwHigh = 0;
    DWORD dwLow = GetFileSize(h, &dwHigh);
    if (dwLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return FALSE;
    *pullSize = ((ULONGLONG)dwHigh << 32) | dwLow;
    return TRUE;
}

BOOL BytesBeginRefFrames(const BYTE *pb, DWORD cb, ULONGLONG ullSize, ULONGLONG ullFramesEnd)
{
    REFFRAMEHEADER header;
    if (cb < sizeof(header)) return FALSE;
    memcpy(&header, pb, sizeof(header));
    return FrameHeaderAddsUp(&header) && header.dwFrameSize <= ullSize && ullFramesEnd <= ullSize;
}

BOOL HandleHoldsRefFrames(HANDLE h, ULONGLONG ullFramesEnd)
{
    ULONGLONG ullSize = 0;
    if (!SizeOfOpenFile(h, &ullSize)) return FALSE;
    BYTE ab[sizeof(REFFRAMEHEADER)];
    DWORD cb = 0;
    BOOL fRead = SetFilePointer(h, 0, NULL, FILE_BEGIN) == 0 && ReadFile(h, ab, sizeof(ab), &cb, NULL);
    SetFilePointer(h, 0, NULL, FILE_BEGIN);
    return fRead && BytesBeginRefFrames(ab, cb, ullSize, ullFramesEnd);
}

BOOL HandleHoldsOnlyRefFrames(HANDLE h)
{
    ULONGLONG ullSize = 0, ullAt = 0;
    if (!SizeOfOpenFile(h, &ullSize)) return FALSE;
    BOOL fOk = ullSize > 0;
    while (fOk && ullAt < ullSize) {
        REFFRAMEHEADER header;
        DWORD cb = 0;
        LONG lHigh = (LONG)(ullAt >> 32);
        fOk = SetFilePointer(h, (LONG)(DWORD)ullAt, &lHigh, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
              ReadFile(h, &header, sizeof(header), &cb, NULL) && cb == sizeof(header) && FrameHeaderAddsUp(&header) &&
              header.dwFrameSize <= ullSize - ullAt;
        if (fOk) ullAt += header.dwFrameSize;
    }
    SetFilePointer(h, 0, NULL, FILE_BEGIN);
    return fOk && ullAt == ullSize;
}

namespace {

// Opens the file of a name for acting on it: the file itself, never through
// a link in the last part of the name, checked against the proof. With
// GATE_DONE *ph is the handle.
int GateOpen(LPCSTR pszPath, const GATEPROOF *pProof, DWORD dwAccess, HANDLE *ph)
{
    *ph = INVALID_HANDLE_VALUE;
    CHAR szFull[MAX_PATH];
    if (!FullPath(pszPath, szFull)) return GATE_GONE;
#ifdef _WIN32
    if (IsDevicePath(szFull)) return GATE_NOT_A_FILE;
#endif
    // A reference file is read for its proof.
    if (pProof->nProof == GATE_REFFILE || pProof->nProof == GATE_WHOLE_REFFILE) dwAccess |= GENERIC_READ;
    HANDLE h = CreateFileA(pszPath, dwAccess | FILE_READ_ATTRIBUTES, SHARE_ALL, NULL, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD dwError = GetLastError();
        if (KindOfFailedOpen(dwError) == FILEKIND_MISSING) return GATE_GONE;
        // A link whose own entry cannot be opened for data.
        if (dwError == ERROR_CANT_RESOLVE_FILENAME) return GATE_NOT_A_FILE;
        SetLastError(dwError);
        return GATE_FAILED;
    }
    FILEFACTS facts;
    memset(&facts, 0, sizeof(facts));
    FactsOfHandle(h, &facts);
    int nResult = GATE_DONE;
    if (facts.nKind != FILEKIND_FILE || facts.fLink) nResult = GATE_NOT_A_FILE;
    else if (!SameFileId(&facts.id, &pProof->id)) nResult = GATE_OTHER_FILE;
    else if (pProof->nProof == GATE_REFFILE && !HandleHoldsRefFrames(h, pProof->ullFramesEnd)) nResult = GATE_NOT_PROVED;
    else if (pProof->nProof == GATE_WHOLE_REFFILE && !HandleHoldsOnlyRefFrames(h)) nResult = GATE_NOT_PROVED;
    if (nResult != GATE_DONE) {
        CloseHandle(h);
        return nResult;
    }
    if (g_pfnGateHook) g_pfnGateHook(pszPath);
    // The name still reaches the file: a folder on the way swapped since
    // the open (for a link elsewhere, say) makes the act stop here.
    FILEFACTS now;
    LookAtName(pszPath, &now);
    if (now.nKind != FILEKIND_FILE || now.fLink || !SameFileId(&now.id, &pProof->id)) {
        CloseHandle(h);
        return GATE_OTHER_FILE;
    }
    *ph = h;
    return GATE_DONE;
}

// The result of a failed act on a handle.
int GateFailure(void)
{
    DWORD dwError = GetLastError();
    if (dwError == ERROR_NOT_SAME_DEVICE) return GATE_OTHER_DEVICE;
    if (dwError == ERROR_ALREADY_EXISTS || dwError == ERROR_FILE_EXISTS) return GATE_EXISTS;
    // The entry no longer holds the file of the handle.
    if (dwError == ERROR_FILE_NOT_FOUND) return GATE_OTHER_FILE;
    SetLastError(dwError);
    return GATE_FAILED;
}

}  // namespace

int GateDelete(LPCSTR pszPath, const GATEPROOF *pProof)
{
    HANDLE h;
    int nResult = GateOpen(pszPath, pProof, DELETE, &h);
    if (nResult != GATE_DONE) return nResult;
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    BOOL fSet = SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof(disposition));
    if (!fSet) nResult = GateFailure();
    DWORD dwError = GetLastError();
    // The file goes when its last handle closes.
    CloseHandle(h);
    if (!fSet) {
        SetLastError(dwError);
        return nResult;
    }
    // The folder's entries reach the disk.
    return FlushFolderOf(pszPath) ? GATE_DONE : GATE_FAILED;
}

int GateRename(LPCSTR pszPath, const GATEPROOF *pProof, LPCSTR pszNew, BOOL fReplace)
{
    CHAR szNew[MAX_PATH];
    if (!FullPath(pszNew, szNew)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return GATE_FAILED;
    }
    // The system's own form of the full path: "\??\C:\...".
    WCHAR awszNew[MAX_PATH + 8];
    awszNew[0] = '\\';
    awszNew[1] = awszNew[2] = '?';
    awszNew[3] = '\\';
    int cwch = MultiByteToWideChar(CP_ACP, 0, szNew, -1, awszNew + 4, MAX_PATH + 4);
    if (cwch <= 0) {
        SetLastError(ERROR_INVALID_NAME);
        return GATE_FAILED;
    }
    cwch += 4 - 1;  // without the terminator
    DWORD cbInfo = (DWORD)(offsetof(FILE_RENAME_INFO, FileName) + (size_t)(cwch + 1) * sizeof(WCHAR));
    FILE_RENAME_INFO *pInfo = (FILE_RENAME_INFO *)calloc(1, cbInfo);
    if (!pInfo) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return GATE_FAILED;
    }
    pInfo->ReplaceIfExists = fReplace ? TRUE : FALSE;
    pInfo->RootDirectory = NULL;
    pInfo->FileNameLength = (DWORD)cwch * sizeof(WCHAR);
    memcpy(pInfo->FileName, awszNew, (size_t)(cwch + 1) * sizeof(WCHAR));
    HANDLE h;
    int nResult = GateOpen(pszPath, pProof, DELETE, &h);
    if (nResult == GATE_DONE && !SetFileInformationByHandle(h, FileRenameInfo, pInfo, cbInfo)) nResult = GateFailure();
    DWORD dwError = GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    free(pInfo);
    if (nResult != GATE_DONE) {
        SetLastError(dwError);
        return nResult;
    }
    return FlushFolderOf(szNew) && FlushFolderOf(pszPath) ? GATE_DONE : GATE_FAILED;
}

int GateOpenForReading(LPCSTR pszPath, const GATEPROOF *pProof, HANDLE *ph)
{
    return GateOpen(pszPath, pProof, GENERIC_READ, ph);
}

int GateOpenForWriting(LPCSTR pszPath, const GATEPROOF *pProof, HANDLE *ph)
{
    return GateOpen(pszPath, pProof, GENERIC_READ | GENERIC_WRITE, ph);
}

HANDLE GateCreateNew(LPCSTR pszPath, DWORD dwAccess, FILEID *pId, DWORD dwFlags)
{
    HANDLE h = CreateFileA(pszPath, dwAccess, 0, NULL, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | dwFlags, NULL);
    if (h == INVALID_HANDLE_VALUE) return h;
    if (!FileIdOfHandle(h, pId)) {
        // A file that cannot say what it is cannot be proved ours later.
        DWORD dwError = GetLastError();
        CloseHandle(h);
        SetLastError(dwError);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}
