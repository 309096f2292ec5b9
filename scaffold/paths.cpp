#include "scaffold/paths.h"

#include <string.h>

namespace {

// Moves past every occurrence of ch in turn, multibyte-aware; returns the
// text after the last one, or the text itself when there is none.
const unsigned char *SkipPast(const unsigned char *p, unsigned int ch)
{
    while (const unsigned char *pHit = _mbschr(p, ch)) p = pHit + 1;
    return p;
}

}  // namespace

LPSTR GetFileNamePart(LPCSTR pszPath)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(pszPath);
#if PATH_HAS_DRIVES
    p = SkipPast(p, ':');
#endif
    p = SkipPast(p, PATH_SEP);
    return reinterpret_cast<LPSTR>(const_cast<unsigned char *>(p));
}

BOOL HasFolderPart(LPCSTR pszPath) { return GetFileNamePart(pszPath) != pszPath || strchr(pszPath, '/') != NULL; }

BOOL StartsCharacter(LPCSTR psz, size_t ib)
{
    size_t i = 0;
    while (i < ib) i += IsDBCSLeadByte((BYTE)psz[i]) && psz[i + 1] ? 2 : 1;
    return i == ib;
}

LPSTR GetExtensionPart(LPCSTR pszPath)
{
    const unsigned char *pName = reinterpret_cast<const unsigned char *>(GetFileNamePart(pszPath));
    const unsigned char *p = SkipPast(pName, '.');
    if (p == pName) return NULL;
    return reinterpret_cast<LPSTR>(const_cast<unsigned char *>(p));
}

LPCSTR GetProgramFolder(void)
{
    static CHAR s_szFolder[MAX_PATH];
    if (s_szFolder[0]) return s_szFolder;
    CHAR szModule[MAX_PATH];
    DWORD n = GetModuleFileNameA(GetModuleHandleA(NULL), szModule, sizeof(szModule));
    if (n == 0 || n >= sizeof(szModule)) return s_szFolder;
    // A plain byte search from the end: the executable's own name is ours.
    CHAR *pSep = strrchr(szModule, PATH_SEP);
    if (!pSep) return s_szFolder;
    pSep[1] = 0;
    memcpy(s_szFolder, szModule, (size_t)(pSep - szModule) + 2);
    return s_szFolder;
}

int GetDriveNumber(LPCSTR pszPath)
{
    if (pszPath[0] == 0 || pszPath[1] != ':') return 0;
    char c = pszPath[0];
    if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') return 0;
    return c - 64;
}

BOOL FileExists(LPCSTR pszPath) { return GetFileAttributesA(pszPath) != INVALID_FILE_ATTRIBUTES; }

BOOL SameFileName(LPCSTR pszA, LPCSTR pszB)
{
#ifdef _WIN32
    const BYTE *a = reinterpret_cast<const BYTE *>(pszA);
    const BYTE *b = reinterpret_cast<const BYTE *>(pszB);
    for (;;) {
        if (IsDBCSLeadByte(*a)) {
            // A lead byte is no letter: both names have it, and the same
            // second byte.
            if (a[0] != b[0] || a[1] != b[1]) return FALSE;
            if (!a[1]) return TRUE;
            a += 2;
            b += 2;
            continue;
        }
        BYTE ca = *a >= 'A' && *a <= 'Z' ? (BYTE)(*a + 32) : *a == '/' ? (BYTE)'\\' : *a;
        BYTE cb = *b >= 'A' && *b <= 'Z' ? (BYTE)(*b + 32) : *b == '/' ? (BYTE)'\\' : *b;
        if (ca != cb) return FALSE;
        if (!ca) return TRUE;
        a++;
        b++;
    }
#else
    return strcmp(pszA, pszB) == 0;
#endif
}

namespace {

BOOL FileIdentity(LPCSTR pszPath, BY_HANDLE_FILE_INFORMATION *pInfo)
{
    HANDLE h = CreateFileA(pszPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    BOOL fOk = GetFileInformationByHandle(h, pInfo);
    CloseHandle(h);
    return fOk;
}

}  // namespace

BOOL SameFile(LPCSTR pszA, LPCSTR pszB)
{
    BY_HANDLE_FILE_INFORMATION a, b;
    return FileIdentity(pszA, &a) && FileIdentity(pszB, &b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

BOOL FlushFolderOf(LPCSTR pszPath)
{
#ifdef _WIN32
    (void)pszPath;
    return TRUE;
#else
    return SpoolFlushFolder(pszPath);
#endif
}
