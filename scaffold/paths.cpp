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
