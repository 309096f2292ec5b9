// Private profile (INI) files of the POSIX stand-in.
//
// The file format and look-up rules are the platform's: a name without a
// folder lies in the Windows directory; sections "[name]" and lines
// "key=value" with CR LF line ends; section and key names compare without
// regard to letter case; blanks around names and values are ignored, and a
// value enclosed in a pair of equal quotes loses them when read. Writing
// edits the file line by line, keeping everything else in it: a changed key
// keeps its place, a new key goes after the last key of its section and a new
// section goes at the end of the file.
#include "internal.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex &ProfileLock()
{
    static std::mutex *pLock = new std::mutex;
    return *pLock;
}

std::string ProfilePath(LPCSTR lpFileName)
{
    if (strchr(lpFileName, '/')) return lpFileName;
    char szDir[4096];
    UINT n = GetWindowsDirectoryA(szDir, sizeof(szDir));
    if (n == 0 || n >= sizeof(szDir)) return lpFileName;
    return std::string(szDir) + "/" + lpFileName;
}

std::vector<std::string> ReadLines(const std::string &path, bool *pfExists)
{
    std::vector<std::string> lines;
    FILE *pFile = fopen(path.c_str(), "rb");
    if (pfExists) *pfExists = pFile != NULL;
    if (!pFile) return lines;
    std::string content;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), pFile)) > 0) content.append(buf, n);
    fclose(pFile);
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

bool WriteLines(const std::string &path, const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines) text += line + "\r\n";
    // A fault of the tests: half the text, and success.
    if (ProfileCutHere()) text.resize(text.size() / 2);
    FILE *pFile = fopen(path.c_str(), "wb");
    if (!pFile) return false;
    bool fOk = fwrite(text.data(), 1, text.size(), pFile) == text.size();
    if (fclose(pFile) != 0) fOk = false;
    return fOk;
}

std::string Trim(const std::string &s)
{
    size_t b = 0;
    size_t e = s.size();
    while (b < e && isspace((unsigned char)s[b])) b++;
    while (e > b && isspace((unsigned char)s[e - 1])) e--;
    return s.substr(b, e - b);
}

bool SameName(const std::string &a, const char *b) { return strcasecmp(a.c_str(), b) == 0; }

// A line's role: a section header (name in *pName), a key (name and value),
// or neither (blank or comment).
enum LINEKIND { LINE_OTHER, LINE_SECTION, LINE_KEY };

LINEKIND ParseLine(const std::string &raw, std::string *pName, std::string *pValue)
{
    std::string line = Trim(raw);
    if (line.empty() || line[0] == ';') return LINE_OTHER;
    if (line[0] == '[') {
        size_t close = line.find(']');
        *pName = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        return LINE_SECTION;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
        *pName = line;
        pValue->clear();
    } else {
        *pName = Trim(line.substr(0, eq));
        *pValue = Trim(line.substr(eq + 1));
    }
    return LINE_KEY;
}

// Copies a text into the caller's buffer with truncation; returns the count
// of characters copied without the terminator.
DWORD CopyOut(const std::string &text, LPSTR lpBuffer, DWORD nSize)
{
    if (nSize == 0) return 0;
    size_t n = text.size() < nSize - 1 ? text.size() : nSize - 1;
    memcpy(lpBuffer, text.data(), n);
    lpBuffer[n] = 0;
    return (DWORD)n;
}

// Copies a list of names, each terminated, with a final terminator; a list
// that does not fit is cut and ends in two terminators, and nSize - 2 is
// returned.
DWORD CopyList(const std::vector<std::string> &names, LPSTR lpBuffer, DWORD nSize)
{
    if (nSize == 0) return 0;
    if (nSize == 1) {
        lpBuffer[0] = 0;
        return 0;
    }
    DWORD pos = 0;
    for (const std::string &name : names) {
        if (pos + name.size() + 1 > nSize - 1) {
            size_t room = nSize - 2 - pos;
            memcpy(lpBuffer + pos, name.data(), room);
            lpBuffer[nSize - 2] = 0;
            lpBuffer[nSize - 1] = 0;
            return nSize - 2;
        }
        memcpy(lpBuffer + pos, name.c_str(), name.size() + 1);
        pos += (DWORD)name.size() + 1;
    }
    lpBuffer[pos] = 0;
    return pos;
}

std::string Unquote(const std::string &value)
{
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

}  // namespace

extern "C" DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                                 LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName)
{
    if (lpReturnedString == NULL || nSize == 0) return 0;
    std::lock_guard<std::mutex> lock(ProfileLock());
    std::vector<std::string> lines = ReadLines(ProfilePath(lpFileName ? lpFileName : "win.ini"), NULL);
    std::string name, value;
    if (lpAppName == NULL) {
        std::vector<std::string> sections;
        for (const std::string &line : lines)
            if (ParseLine(line, &name, &value) == LINE_SECTION) sections.push_back(name);
        return CopyList(sections, lpReturnedString, nSize);
    }
    bool fInSection = false;
    std::vector<std::string> keys;
    for (const std::string &line : lines) {
        LINEKIND kind = ParseLine(line, &name, &value);
        if (kind == LINE_SECTION) {
            fInSection = SameName(name, lpAppName);
        } else if (kind == LINE_KEY && fInSection) {
            if (lpKeyName == NULL) keys.push_back(name);
            else if (SameName(name, lpKeyName)) return CopyOut(Unquote(value), lpReturnedString, nSize);
        }
    }
    if (lpKeyName == NULL) return CopyList(keys, lpReturnedString, nSize);
    // The default loses its trailing blanks.
    std::string def = lpDefault ? lpDefault : "";
    while (!def.empty() && def.back() == ' ') def.pop_back();
    return CopyOut(def, lpReturnedString, nSize);
}

extern "C" UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault,
                                             LPCSTR lpFileName)
{
    char szValue[64];
    if (GetPrivateProfileStringA(lpAppName, lpKeyName, "", szValue, sizeof(szValue), lpFileName) == 0)
        return (UINT)nDefault;
    // Leading blanks, an optional sign, then digits up to the first other
    // character; "0x" introduces hexadecimal digits.
    const char *p = szValue;
    while (*p == ' ' || *p == '\t') p++;
    bool fNegative = false;
    if (*p == '-' || *p == '+') fNegative = *p++ == '-';
    unsigned nBase = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        nBase = 16;
        p += 2;
    }
    uint32_t nValue = 0;
    for (;; p++) {
        unsigned digit;
        if (*p >= '0' && *p <= '9') digit = (unsigned)(*p - '0');
        else if (nBase == 16 && isxdigit((unsigned char)*p)) digit = (unsigned)(tolower(*p) - 'a' + 10);
        else break;
        nValue = nValue * nBase + digit;
    }
    return fNegative ? (UINT)(0u - nValue) : (UINT)nValue;
}

extern "C" DWORD WINAPI GetPrivateProfileSectionA(LPCSTR lpAppName, LPSTR lpReturnedString, DWORD nSize,
                                                  LPCSTR lpFileName)
{
    if (lpReturnedString == NULL || nSize == 0 || lpAppName == NULL) return 0;
    std::lock_guard<std::mutex> lock(ProfileLock());
    std::vector<std::string> lines = ReadLines(ProfilePath(lpFileName ? lpFileName : "win.ini"), NULL);
    std::vector<std::string> entries;
    bool fInSection = false;
    std::string name, value;
    for (const std::string &line : lines) {
        LINEKIND kind = ParseLine(line, &name, &value);
        if (kind == LINE_SECTION) fInSection = SameName(name, lpAppName);
        else if (kind == LINE_KEY && fInSection) entries.push_back(name + "=" + value);
    }
    return CopyList(entries, lpReturnedString, nSize);
}

extern "C" BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                                  LPCSTR lpFileName)
{
    if (lpAppName == NULL || lpFileName == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(ProfileLock());
    std::string path = ProfilePath(lpFileName);
    bool fExists = false;
    std::vector<std::string> lines = ReadLines(path, &fExists);

    // Locate the section: its header line and the line after its last key.
    long iHeader = -1;
    long iEnd = -1;
    long iKey = -1;
    std::string name, value;
    for (size_t i = 0; i < lines.size(); i++) {
        LINEKIND kind = ParseLine(lines[i], &name, &value);
        if (kind == LINE_SECTION) {
            if (iHeader >= 0) break;
            if (SameName(name, lpAppName)) {
                iHeader = (long)i;
                iEnd = (long)i + 1;
            }
        } else if (iHeader >= 0 && kind == LINE_KEY) {
            iEnd = (long)i + 1;
            if (lpKeyName && iKey < 0 && SameName(name, lpKeyName)) iKey = (long)i;
        }
    }

    if (lpKeyName == NULL) {
        // Remove the whole section.
        if (iHeader < 0) return TRUE;
        lines.erase(lines.begin() + iHeader, lines.begin() + iEnd);
    } else if (lpString == NULL) {
        // Remove the key.
        if (iKey < 0) return TRUE;
        lines.erase(lines.begin() + iKey);
    } else {
        std::string entry = std::string(lpKeyName) + "=" + lpString;
        if (iKey >= 0) {
            // The key keeps the name it has in the file.
            ParseLine(lines[(size_t)iKey], &name, &value);
            lines[(size_t)iKey] = name + "=" + lpString;
        } else if (iHeader >= 0) {
            lines.insert(lines.begin() + iEnd, entry);
        } else {
            while (!lines.empty() && Trim(lines.back()).empty()) lines.pop_back();
            if (!lines.empty()) lines.push_back("");
            lines.push_back(std::string("[") + lpAppName + "]");
            lines.push_back(entry);
        }
    }
    if (!WriteLines(path, lines)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}
