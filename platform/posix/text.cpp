// Texts of the POSIX stand-in. The multibyte code page (CP_ACP) is UTF-8;
// the other code pages are converted with iconv ("CP932", "CP1252" ...).
#include "internal.h"

#include <errno.h>
#include <iconv.h>
#include <stdio.h>
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

bool IsUtf8Page(UINT uCodePage) { return uCodePage == CP_ACP || uCodePage == CP_UTF8; }

// An iconv converter between a code page and UTF-16LE; (iconv_t)-1 for a
// code page that iconv does not know.
iconv_t OpenPage(UINT uCodePage, bool fToWide)
{
    char szPage[32];
    snprintf(szPage, sizeof(szPage), "CP%u", uCodePage);
    return fToWide ? iconv_open("UTF-16LE", szPage) : iconv_open(szPage, "UTF-16LE");
}

// Converts one piece with iconv; false when it holds a character that the
// other side has not.
bool ConvertPiece(iconv_t cd, const char *pIn, size_t cbIn, std::string *pOut)
{
    char ab[64];
    char *pInNext = const_cast<char *>(pIn);
    while (cbIn > 0) {
        char *pOutNext = ab;
        size_t cbOutLeft = sizeof(ab);
        size_t r = iconv(cd, &pInNext, &cbIn, &pOutNext, &cbOutLeft);
        pOut->append(ab, (size_t)(pOutNext - ab));
        if (r == (size_t)-1 && errno != E2BIG) {
            iconv(cd, NULL, NULL, NULL, NULL);
            return false;
        }
    }
    return true;
}

// A code page's bytes as UTF-16, a byte that is no character (or starts a
// cut one) as U+FFFD; *pfBad says there was one.
bool PageToWide(UINT uCodePage, const unsigned char *p, size_t cb, std::vector<WCHAR> *pOut, bool *pfBad)
{
    iconv_t cd = OpenPage(uCodePage, true);
    if (cd == (iconv_t)-1) return false;
    for (size_t i = 0; i < cb;) {
        // A character is one or two bytes in the double-byte code pages.
        std::string wide;
        size_t n = 1;
        if (p[i] == 0 || !ConvertPiece(cd, (const char *)p + i, 1, &wide) || wide.empty()) {
            wide.clear();
            n = i + 1 < cb && ConvertPiece(cd, (const char *)p + i, 2, &wide) && !wide.empty() ? 2 : 1;
            if (n == 1 && p[i] != 0) {
                *pfBad = true;
                wide.assign("\xFD\xFF", 2);
            } else if (p[i] == 0) {
                wide.assign("\0\0", 2);
            }
        }
        for (size_t k = 0; k + 1 < wide.size(); k += 2)
            pOut->push_back((WCHAR)((unsigned char)wide[k] | ((unsigned char)wide[k + 1] << 8)));
        i += n;
    }
    iconv_close(cd);
    return true;
}

// UTF-16 as a code page's bytes, a character it has not as '?' (*pfDefault).
bool WideToPage(UINT uCodePage, const WCHAR *pw, size_t cch, std::string *pOut, bool *pfDefault)
{
    iconv_t cd = OpenPage(uCodePage, false);
    if (cd == (iconv_t)-1) return false;
    for (size_t i = 0; i < cch;) {
        size_t n = pw[i] >= 0xD800 && pw[i] < 0xDC00 && i + 1 < cch ? 2 : 1;
        char ab[4];
        for (size_t k = 0; k < n; k++) {
            ab[2 * k] = (char)(pw[i + k] & 0xFF);
            ab[2 * k + 1] = (char)(pw[i + k] >> 8);
        }
        if (pw[i] == 0) {
            pOut->push_back('\0');
        } else if (!ConvertPiece(cd, ab, 2 * n, pOut)) {
            *pfDefault = true;
            pOut->push_back('?');
        }
        i += n;
    }
    iconv_close(cd);
    return true;
}

}  // namespace

extern "C" int WINAPI MultiByteToWideChar(UINT uCodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                          LPWSTR lpWideCharStr, int cchWideChar)
{
    if (lpMultiByteStr == NULL || cbMultiByte == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t cb = cbMultiByte < 0 ? strlen(lpMultiByteStr) + 1 : (size_t)cbMultiByte;
    std::vector<WCHAR> out;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(lpMultiByteStr);
    if (!IsUtf8Page(uCodePage)) {
        bool fBad = false;
        if (!PageToWide(uCodePage, p, cb, &out, &fBad)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if (fBad && (dwFlags & MB_ERR_INVALID_CHARS)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
        cb = 0;
    }
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

extern "C" int WINAPI WideCharToMultiByte(UINT uCodePage, DWORD, LPCWSTR lpWideCharStr, int cchWideChar,
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
    if (!IsUtf8Page(uCodePage)) {
        bool fDefault = false;
        if (!WideToPage(uCodePage, lpWideCharStr, cch, &out, &fDefault)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if (fDefault && lpUsedDefaultChar) *lpUsedDefaultChar = TRUE;
        cch = 0;
    }
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
