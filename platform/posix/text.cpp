// Texts of the POSIX stand-in. The multibyte code page (CP_ACP) is UTF-8.
#include "internal.h"

#include <strings.h>

#include <string>
#include <vector>

namespace {

// Decodes one UTF-8 sequence; a malformed byte decodes as itself (so that
// nothing is lost), and *pcb receives the bytes used.
uint32_t DecodeUtf8(const unsigned char *p, size_t cbLeft, size_t *pcb)
{
    unsigned char c = p[0];
    size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || n > cbLeft) {
        *pcb = 1;
        return c;
    }
    uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1Fu) : n == 3 ? (c & 0x0Fu) : (c & 0x07u);
    for (size_t i = 1; i < n; i++) {
        if ((p[i] & 0xC0) != 0x80) {
            *pcb = 1;
            return c;
        }
        cp = (cp << 6) | (p[i] & 0x3Fu);
    }
    *pcb = n;
    return cp;
}

void EncodeUtf8(uint32_t cp, std::string *pOut)
{
    if (cp < 0x80) {
        pOut->push_back((char)cp);
    } else if (cp < 0x800) {
        pOut->push_back((char)(0xC0 | (cp >> 6)));
        pOut->push_back((char)(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        pOut->push_back((char)(0xE0 | (cp >> 12)));
        pOut->push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
        pOut->push_back((char)(0x80 | (cp & 0x3F)));
    } else {
        pOut->push_back((char)(0xF0 | (cp >> 18)));
        pOut->push_back((char)(0x80 | ((cp >> 12) & 0x3F)));
        pOut->push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
        pOut->push_back((char)(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

extern "C" int WINAPI MultiByteToWideChar(UINT, DWORD, LPCSTR lpMultiByteStr, int cbMultiByte,
                                          LPWSTR lpWideCharStr, int cchWideChar)
{
    if (lpMultiByteStr == NULL || cbMultiByte == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t cb = cbMultiByte < 0 ? strlen(lpMultiByteStr) + 1 : (size_t)cbMultiByte;
    std::vector<WCHAR> out;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(lpMultiByteStr);
    for (size_t i = 0; i < cb;) {
        size_t n;
        uint32_t cp = DecodeUtf8(p + i, cb - i, &n);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back((WCHAR)(0xD800 | (cp >> 10)));
            out.push_back((WCHAR)(0xDC00 | (cp & 0x3FF)));
        } else {
            out.push_back((WCHAR)cp);
        }
    }
    if (cchWideChar == 0) return (int)out.size();
    if ((int)out.size() > cchWideChar) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpWideCharStr, out.data(), out.size() * sizeof(WCHAR));
    return (int)out.size();
}

extern "C" int WINAPI WideCharToMultiByte(UINT, DWORD, LPCWSTR lpWideCharStr, int cchWideChar,
                                          LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR, BOOL *lpUsedDefaultChar)
{
    if (lpUsedDefaultChar) *lpUsedDefaultChar = FALSE;
    if (lpWideCharStr == NULL || cchWideChar == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t cch = 0;
    if (cchWideChar < 0) {
        while (lpWideCharStr[cch]) cch++;
        cch++;
    } else {
        cch = (size_t)cchWideChar;
    }
    std::string out;
    for (size_t i = 0; i < cch; i++) {
        uint32_t cp = lpWideCharStr[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < cch && lpWideCharStr[i + 1] >= 0xDC00 &&
            lpWideCharStr[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lpWideCharStr[i + 1] - 0xDC00u);
            i++;
        }
        EncodeUtf8(cp, &out);
    }
    if (cbMultiByte == 0) return (int)out.size();
    if ((int)out.size() > cbMultiByte) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpMultiByteStr, out.data(), out.size());
    return (int)out.size();
}

extern "C" UINT WINAPI GetACP(void) { return CP_UTF8; }

extern "C" BOOL WINAPI IsDBCSLeadByte(BYTE) { return FALSE; }

extern "C" unsigned char *_mbschr(const unsigned char *str, unsigned int c)
{
    return (unsigned char *)strchr(reinterpret_cast<const char *>(str), (int)c);
}

extern "C" unsigned char *_mbsrchr(const unsigned char *str, unsigned int c)
{
    return (unsigned char *)strrchr(reinterpret_cast<const char *>(str), (int)c);
}

extern "C" int _stricmp(const char *a, const char *b) { return strcasecmp(a, b); }

// UTF-8 continuation bytes are never ASCII letters, so the plain comparison
// is multibyte-safe.
extern "C" int _mbsicmp(const unsigned char *a, const unsigned char *b)
{
    return strcasecmp(reinterpret_cast<const char *>(a), reinterpret_cast<const char *>(b));
}

extern "C" int _strnicmp(const char *a, const char *b, size_t n) { return strncasecmp(a, b, n); }

extern "C" int lstrcmpiA(LPCSTR a, LPCSTR b) { return strcasecmp(a, b); }
