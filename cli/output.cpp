// What the commands of spool share: output streams and language, the
// engines' messages in English, JSON strings, the progress bar, path
// mapping and option parsing.
#include "cli/spool.h"

#include "mover/message.h"
#include "salvage/salvage.h"
#include "scaffold/messages.h"
#include "scaffold/paths.h"
#include "scaffold/recordnames.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

FILE *g_pOut;
FILE *g_pErr;
BOOL g_fJapanese;
BOOL g_fProgressBar;
int g_nEngineMessages;

namespace {

// --- The engines' messages -------------------------------------------------

// The engines render their messages in the run's language
// (g_fEnglishMessages); they are printed a line each.
int ShowEngineMessage(LPCSTR pszText, LPCSTR, UINT uType)
{
    // No question of a window is asked here: the commands say what to do.
    UINT uButtons = uType & MB_TYPEMASK;
    if (uButtons != MB_OK) return uButtons == MB_YESNO || uButtons == MB_YESNOCANCEL ? IDNO : IDCANCEL;
    g_nEngineMessages++;
    EndProgress();
    CHAR szText[4096];
    snprintf(szText, sizeof(szText), "%s", pszText);
    // One line a message.
    for (char *p = szText; *p; p++)
        if (*p == '\n') *p = ' ';
    fprintf(g_pErr, "spool: %s\n", szText);
    return IDOK;
}

// --- The progress bar -------------------------------------------------------

LPCSTR s_pszProgressWhat;
unsigned long long s_ullTotal;
int s_nUnit;
DWORD s_dwStart;
DWORD s_dwLastDrawn;
BOOL s_fDrawn;

// --- Path maps ----------------------------------------------------------------

struct PATHMAP {
    CHAR szFrom[MAX_PATH];
    CHAR szTo[MAX_PATH];
};
#define MAX_PATHMAPS 16
PATHMAP s_aMaps[MAX_PATHMAPS];
int s_nMaps;
// The record name mapped last and the path it gave, with the maps and the
// code page it was mapped under: records name one file again and again,
// and converting a name costs more than reading its frame.
CHAR s_szLastRecord[MAX_PATH];
CHAR s_szLastMapped[MAX_PATH];
UINT s_uLastPage;
int s_nMapsChanged;  // counts the changes of the maps
int s_nLastMapsChanged = -1;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

void InitSpoolOutput(void)
{
    if (!g_pOut) g_pOut = stdout;
    if (!g_pErr) g_pErr = stderr;
    // SPOOL_LANG (ja or en) chooses the language whatever the system's.
    LPCSTR pszChoice = getenv("SPOOL_LANG");
#ifdef _WIN32
    g_fJapanese = GetACP() == 932;
    g_fProgressBar = _isatty(_fileno(g_pErr)) != 0;
#else
    LPCSTR pszLang = getenv("LC_ALL");
    if (!pszLang || !*pszLang) pszLang = getenv("LC_MESSAGES");
    if (!pszLang || !*pszLang) pszLang = getenv("LANG");
    g_fJapanese = pszLang && strncmp(pszLang, "ja", 2) == 0;
    g_fProgressBar = isatty(fileno(g_pErr)) != 0;
#endif
    if (pszChoice && *pszChoice) g_fJapanese = strncmp(pszChoice, "ja", 2) == 0;
    g_fEnglishMessages = !g_fJapanese;
    g_pfnShowMessage = ShowEngineMessage;
    g_pfnShowMendMessage = ShowEngineMessage;
    // Nothing is shown: no frame is decoded for a preview.
    g_fPreviewFrames = FALSE;
}

void Say(FILE *pFile, LPCSTR pszEnglish, LPCSTR pszJapanese, ...)
{
    va_list args;
    va_start(args, pszJapanese);
    vfprintf(pFile, g_fJapanese ? pszJapanese : pszEnglish, args);
    va_end(args);
}

void Complain(LPCSTR pszEnglish, LPCSTR pszJapanese, ...)
{
    EndProgress();
    fputs("spool: ", g_pErr);
    va_list args;
    va_start(args, pszJapanese);
    vfprintf(g_pErr, g_fJapanese ? pszJapanese : pszEnglish, args);
    va_end(args);
    fputc('\n', g_pErr);
}

void PutJsonString(FILE *pFile, LPCSTR psz)
{
    // JSON is UTF-8: texts of the system's code page are converted; bytes
    // that are no UTF-8 (names written on another system) are kept as the
    // characters of their values.
    CHAR szUtf8[4 * MAX_PATH];
#ifdef _WIN32
    WCHAR wsz[2 * MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, psz, -1, wsz, 2 * MAX_PATH) > 0 &&
        WideCharToMultiByte(CP_UTF8, 0, wsz, -1, szUtf8, sizeof(szUtf8), NULL, NULL) > 0)
        psz = szUtf8;
#else
    (void)szUtf8;
#endif
    fputc('"', pFile);
    for (const unsigned char *p = (const unsigned char *)psz; *p; p++) {
        int nFollow = *p >= 0xF0 && *p <= 0xF4 ? 3 : *p >= 0xE0 && *p <= 0xEF ? 2 : *p >= 0xC2 && *p < 0xE0 ? 1 : 0;
        // The second byte's range: no overlong form, no surrogate, nothing
        // past U+10FFFF.
        unsigned char bLow = *p == 0xE0 ? 0xA0 : *p == 0xF0 ? 0x90 : 0x80;
        unsigned char bHigh = *p == 0xED ? 0x9F : *p == 0xF4 ? 0x8F : 0xBF;
        BOOL fSequence = nFollow > 0 && p[1] >= bLow && p[1] <= bHigh;
        for (int k = 2; fSequence && k <= nFollow; k++) fSequence = (p[k] & 0xC0) == 0x80;
        if (*p == '"' || *p == '\\') {
            fprintf(pFile, "\\%c", *p);
        } else if (*p < 0x20 || (*p >= 0x80 && !fSequence)) {
            fprintf(pFile, "\\u%04x", *p);
        } else if (*p >= 0x80) {
            fwrite(p, 1, (size_t)nFollow + 1, pFile);
            p += nFollow;
        } else {
            fputc(*p, pFile);
        }
    }
    fputc('"', pFile);
}

void BeginProgress(LPCSTR pszWhat, unsigned long long ullTotal, int nUnit)
{
    s_pszProgressWhat = pszWhat;
    s_ullTotal = ullTotal;
    s_nUnit = nUnit;
    s_dwStart = GetTickCount();
    s_dwLastDrawn = 0;
    s_fDrawn = FALSE;
}

void ShowProgress(unsigned long long ullDone)
{
    if (!g_fProgressBar || !s_pszProgressWhat) return;
    DWORD dwNow = GetTickCount();
    DWORD dwElapsed = dwNow - s_dwStart;
    // Short steps draw nothing; a long one is redrawn five times a second.
    if (dwElapsed < 500 || (s_fDrawn && dwNow - s_dwLastDrawn < 200)) return;
    s_dwLastDrawn = dwNow;
    s_fDrawn = TRUE;
    unsigned nPercent = s_ullTotal ? (unsigned)(100 * (ullDone > s_ullTotal ? s_ullTotal : ullDone) / s_ullTotal) : 100;
    double dblRate = (double)ullDone * 1000.0 / (double)dwElapsed;
    CHAR szRate[32];
    if (s_nUnit == PROGRESS_BYTES) snprintf(szRate, sizeof(szRate), "%.1f MB/s", dblRate / 1e6);
    else if (s_nUnit == PROGRESS_PERCENT) snprintf(szRate, sizeof(szRate), g_fJapanese ? "%.1f %%/秒" : "%.1f %%/s", dblRate);
    else snprintf(szRate, sizeof(szRate), g_fJapanese ? "%.0f フレーム/秒" : "%.0f frames/s", dblRate);
    unsigned long ulLeft = dblRate > 0 && ullDone < s_ullTotal ? (unsigned long)((double)(s_ullTotal - ullDone) / dblRate) : 0;
    CHAR szBar[32];
    int nFilled = (int)(nPercent * 20 / 100);
    for (int i = 0; i < 20; i++) szBar[i] = i < nFilled ? '#' : '.';
    szBar[20] = '\0';
    fprintf(g_pErr, g_fJapanese ? "\r%s [%s] %3u%% %s 残り %lu:%02lu " : "\r%s [%s] %3u%% %s %lu:%02lu left ",
            s_pszProgressWhat, szBar, nPercent, szRate, ulLeft / 60, ulLeft % 60);
    fflush(g_pErr);
}

void EndProgress(void)
{
    if (s_fDrawn) fputc('\n', g_pErr);
    s_fDrawn = FALSE;
    s_pszProgressWhat = NULL;
}

BOOL AddPathMap(LPCSTR pszRule)
{
    LPCSTR pszEquals = strchr(pszRule, '=');
    if (!pszEquals || pszEquals == pszRule || !pszEquals[1] || s_nMaps == MAX_PATHMAPS) return FALSE;
    size_t cchFrom = (size_t)(pszEquals - pszRule);
    if (cchFrom >= MAX_PATH || strlen(pszEquals + 1) >= MAX_PATH) return FALSE;
    PATHMAP *pMap = &s_aMaps[s_nMaps++];
    s_nMapsChanged++;
    memcpy(pMap->szFrom, pszRule, cchFrom);
    pMap->szFrom[cchFrom] = '\0';
    snprintf(pMap->szTo, sizeof(pMap->szTo), "%s", pszEquals + 1);
    // A final separator of either side does not count.
    LPSTR apsz[] = {pMap->szFrom, pMap->szTo};
    for (LPSTR psz : apsz) {
        size_t cch = strlen(psz);
        while (cch > 1 && IsSeparator(psz[cch - 1]) && StartsCharacter(psz, cch - 1)) psz[--cch] = '\0';
    }
    return TRUE;
}

void ClearPathMaps(void)
{
    s_nMaps = 0;
    s_nMapsChanged++;
}

BOOL GetPathSize(LPCSTR pszPath, unsigned long long *pullSize)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(pszPath, &found);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    FindClose(h);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return FALSE;
    *pullSize = ((unsigned long long)found.nFileSizeHigh << 32) | found.nFileSizeLow;
    return TRUE;
}


void ShownRecordName(LPCSTR pszRecord, LPSTR pszOut) { RecordNameToFileName(pszRecord, pszOut); }

namespace {

BOOL MapRefPathAnew(LPCSTR pszRecord, LPSTR pszOut)
{
    // The record's name as this system writes names; the maps are written
    // so too.
    CHAR szStored[MAX_PATH];
    RecordNameToFileName(pszRecord, szStored);
    LPCSTR pszStored = szStored;
    for (int i = 0; i < s_nMaps; i++) {
        const PATHMAP *pMap = &s_aMaps[i];
        size_t cchFrom = strlen(pMap->szFrom);
        bool fSame = true;
        for (size_t k = 0; k < cchFrom && fSame; k++) {
            char a = pszStored[k], b = pMap->szFrom[k];
            if (IsDBCSLeadByte((BYTE)a)) {
                // A double-byte character: both bytes as they are.
                fSame = a == b && k + 1 < cchFrom && pszStored[k + 1] == pMap->szFrom[k + 1];
                k++;
                continue;
            }
            fSame = a != '\0' && (tolower((unsigned char)a) == tolower((unsigned char)b) ||
                                  (IsSeparator(a) && IsSeparator(b)));
        }
        // The prefix ends at a separator of the stored name.
        if (!fSame || (pszStored[cchFrom] && !IsSeparator(pszStored[cchFrom]))) continue;
        if (snprintf(pszOut, MAX_PATH, "%s%s", pMap->szTo, pszStored + cchFrom) >= MAX_PATH) return FALSE;
        for (LPSTR p = pszOut + strlen(pMap->szTo); *p; p++)
#ifdef _WIN32
            if (*p == '/') *p = '\\';
#else
            if (*p == '\\') *p = '/';
#endif
        return TRUE;
    }
    return snprintf(pszOut, MAX_PATH, "%s", pszStored) < MAX_PATH;
}

}  // namespace

BOOL MapRefPath(LPCSTR pszRecord, LPSTR pszOut)
{
    if (s_nLastMapsChanged == s_nMapsChanged && s_uLastPage == g_uRecordNamePage && strcmp(pszRecord, s_szLastRecord) == 0) {
        memcpy(pszOut, s_szLastMapped, strlen(s_szLastMapped) + 1);
        return TRUE;
    }
    if (!MapRefPathAnew(pszRecord, pszOut)) return FALSE;
    if (snprintf(s_szLastRecord, sizeof(s_szLastRecord), "%s", pszRecord) < (int)sizeof(s_szLastRecord)) {
        memcpy(s_szLastMapped, pszOut, strlen(pszOut) + 1);
        s_uLastPage = g_uRecordNamePage;
        s_nLastMapsChanged = s_nMapsChanged;
    } else {
        s_nLastMapsChanged = -1;
    }
    return TRUE;
}

BOOL TakeOption(int argc, char **argv, int *pi, LPCSTR pszLong, LPCSTR pszShort, LPCSTR *ppszValue)
{
    LPCSTR pszArg = argv[*pi];
    size_t cchLong = strlen(pszLong);
    BOOL fLong = strncmp(pszArg, pszLong, cchLong) == 0 && (pszArg[cchLong] == '\0' || pszArg[cchLong] == '=');
    BOOL fShort = pszShort && strcmp(pszArg, pszShort) == 0;
    if (!fLong && !fShort) return FALSE;
    if (!ppszValue) return fShort || pszArg[cchLong] == '\0';
    if (fLong && pszArg[cchLong] == '=') {
        *ppszValue = pszArg + cchLong + 1;
    } else if (*pi + 1 < argc) {
        *ppszValue = argv[++*pi];
    } else {
        *ppszValue = NULL;
    }
    return TRUE;
}

BOOL ParseFourcc(LPCSTR psz, DWORD *pfcc)
{
    size_t cch = strlen(psz);
    if (cch == 0 || cch > 4) return FALSE;
    CHAR sz[4] = {' ', ' ', ' ', ' '};
    memcpy(sz, psz, cch);
    *pfcc = mmioFOURCC(sz[0], sz[1], sz[2], sz[3]);
    return TRUE;
}

int UsageError(LPCSTR pszCommand, LPCSTR pszArgument)
{
    Complain("%s: unexpected or incomplete argument: %s (see spool %s --help)",
             "%s: 引数が正しくありません: %s (spool %s --help を参照)", pszCommand, pszArgument, pszCommand);
    return SPOOL_ERROR;
}
