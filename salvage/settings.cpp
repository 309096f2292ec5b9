// Spoolmend's settings: the profile entries of Spoolmend.ini, the codec
// list, the width, height and frame-rate fields with their histories, and
// the frame rate's parsing.
#include "salvage/internal.h"

#include "scaffold/paths.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define SETTINGS_FILE "Spoolmend.ini"
#define SECTION_LAST "Last"
#define SECTION_LIST "List"
// History values of this many characters or more are left out.
#define HISTORY_VALUE_MAX 512
// Without a slash, a frame rate is stored over this scale, or the largest
// smaller power of ten with which the rate fits 32 bits.
#define PLAIN_RATE_SCALE 100000000.0
// Above this, numerator and denominator of a fraction are scaled down.
#define FRACTION_LIMIT 268435455.0

DWORD g_fccHandler;
BOOL g_fHasConfig;
DWORD g_fccRefHandler;
CHAR g_szFrameRate[32] = "30000/1001";
DWORD g_dwRate;
DWORD g_dwScale;
double g_dblFps;
CHAR g_szWidthHistory[HISTORY_SIZE];
CHAR g_szHeightHistory[HISTORY_SIZE];
CHAR g_szRateHistory[HISTORY_SIZE];
CHAR g_szSettingsFolder[MAX_PATH];

namespace {

// The width loaded from the settings, which the codec list is asked about
// while the field still waits for it to be applied.
LONG s_lLoadedWidth;

BOOL MakeProfilePath(LPCSTR pszFile, LPSTR pszPath)
{
    if (!pszFile) {
        LPCSTR pszFolder = g_szSettingsFolder[0] ? g_szSettingsFolder : GetProgramFolder();
        return snprintf(pszPath, MAX_PATH, "%s%s", pszFolder, SETTINGS_FILE) < MAX_PATH;
    }
    if (HasFolderPart(pszFile)) return snprintf(pszPath, MAX_PATH, "%s", pszFile) < MAX_PATH;
    CHAR szWindows[MAX_PATH + 1];
    UINT cch = GetWindowsDirectoryA(szWindows, sizeof(szWindows));
    if (cch == 0 || cch > MAX_PATH) return FALSE;
    // A root such as "C:\" already ends with its separator.
    return snprintf(pszPath, MAX_PATH, cch <= 3 ? "%s%s" : "%s\\%s", szWindows, pszFile) < MAX_PATH;
}

int IntegerWidth(DWORD dwFlags)
{
    if (dwFlags & PROFILE_32BIT) return 4;
    if (dwFlags & PROFILE_8BIT) return 1;
    if (dwFlags & PROFILE_16BIT) return 2;
    return 4;
}

void CopyInteger(void *pTarget, const void *pSource, int cb) { memcpy(pTarget, pSource, (size_t)cb); }

void StoreInteger(void *pTarget, unsigned long ulValue, int cb)
{
    if (cb == 1) *(BYTE *)pTarget = (BYTE)ulValue;
    else if (cb == 2) *(WORD *)pTarget = (WORD)ulValue;
    else *(DWORD *)pTarget = (DWORD)ulValue;
}

unsigned long LoadInteger(const void *pSource, int cb)
{
    if (cb == 1) return *(const BYTE *)pSource;
    if (cb == 2) return *(const WORD *)pSource;
    return *(const DWORD *)pSource;
}

}  // namespace

BOOL LoadProfileEntry(const PROFILEENTRY *pEntry)
{
    CHAR szPath[MAX_PATH];
    if (!MakeProfilePath(pEntry->pszFile, szPath)) return FALSE;
    DWORD dwFlags = pEntry->dwFlags;
    if (dwFlags & PROFILE_TEXT) {
        DWORD cb = dwFlags & PROFILE_SIZEMASK;
        if (cb == 0) return TRUE;
        // The default may be the target itself: read through a copy.
        CHAR szDefault[HISTORY_SIZE + 1];
        snprintf(szDefault, sizeof(szDefault), "%s", (LPCSTR)pEntry->pDefault);
        GetPrivateProfileStringA(pEntry->pszSection, pEntry->pszKey, szDefault, (LPSTR)pEntry->pTarget, cb, szPath);
        return TRUE;
    }
    CHAR szText[256];
    DWORD cch = GetPrivateProfileStringA(pEntry->pszSection, pEntry->pszKey, "", szText, sizeof(szText), szPath);
    if (dwFlags & PROFILE_YESNO) {
        BOOL fDefault = *(const BOOL *)pEntry->pDefault;
        BOOL fValue = fDefault ? (_stricmp(szText, "No") != 0) : (_stricmp(szText, "Yes") == 0);
        if (cch == 0) fValue = fDefault;
        *(BOOL *)pEntry->pTarget = fValue;
        return TRUE;
    }
    if (dwFlags & PROFILE_DOUBLE) {
        *(double *)pEntry->pTarget = cch ? strtod(szText, NULL) : *(const double *)pEntry->pDefault;
        return TRUE;
    }
    int cb = IntegerWidth(dwFlags);
    if (cch == 0) {
        if (pEntry->pTarget != pEntry->pDefault) CopyInteger(pEntry->pTarget, pEntry->pDefault, cb);
        return TRUE;
    }
    unsigned long ulValue = 0;
    if (dwFlags & PROFILE_HEX) ulValue = strtoul(szText, NULL, 16);
    else if (dwFlags & PROFILE_SIGNED) ulValue = (unsigned long)strtol(szText, NULL, 10);
    else ulValue = strtoul(szText, NULL, 10);
    StoreInteger(pEntry->pTarget, ulValue, cb);
    return TRUE;
}

BOOL SaveProfileEntry(const PROFILEENTRY *pEntry)
{
    CHAR szPath[MAX_PATH];
    if (!MakeProfilePath(pEntry->pszFile, szPath)) return FALSE;
    DWORD dwFlags = pEntry->dwFlags;
    CHAR szText[HISTORY_SIZE + 8];
    if (dwFlags & PROFILE_TEXT) {
        LPCSTR psz = (LPCSTR)pEntry->pTarget;
        size_t cch = strlen(psz);
        // Reading takes off one pair of quotes round a value: a quoted value
        // gets one more pair, so that it comes back as it was.
        if (cch > 2 && psz[0] == '"' && psz[cch - 1] == '"') snprintf(szText, sizeof(szText), "\"%s\"", psz);
        else snprintf(szText, sizeof(szText), "%s", psz);
    } else if (dwFlags & PROFILE_YESNO) {
        snprintf(szText, sizeof(szText), "%s", *(const BOOL *)pEntry->pTarget ? "Yes" : "No");
    } else if (dwFlags & PROFILE_DOUBLE) {
        snprintf(szText, sizeof(szText), "%lf", *(const double *)pEntry->pTarget);
    } else {
        int cb = IntegerWidth(dwFlags);
        unsigned long ulValue = LoadInteger(pEntry->pTarget, cb);
        if (dwFlags & PROFILE_HEX) {
            if (dwFlags & PROFILE_32BIT) snprintf(szText, sizeof(szText), "%lX", ulValue);
            else if (dwFlags & PROFILE_8BIT) snprintf(szText, sizeof(szText), "%02lX", ulValue);
            else if (dwFlags & PROFILE_16BIT) snprintf(szText, sizeof(szText), "%04lX", ulValue);
            else snprintf(szText, sizeof(szText), "%08lX", ulValue);
        } else if (dwFlags & PROFILE_SIGNED) {
            long lValue = cb == 1 ? (long)(signed char)ulValue : cb == 2 ? (long)(short)ulValue : (long)(LONG)ulValue;
            snprintf(szText, sizeof(szText), "%ld", lValue);
        } else {
            snprintf(szText, sizeof(szText), "%lu", ulValue);
        }
    }
    return WritePrivateProfileStringA(pEntry->pszSection, pEntry->pszKey, szText, szPath);
}

namespace {

const PROFILEENTRY s_aSettings[] = {
    {SECTION_LAST, "RefFile", g_szRefFile, g_szRefFile, NULL, PROFILE_TEXT | 0},
    {SECTION_LAST, "Handler", &g_fccHandler, &g_fccHandler, NULL, 0},
    {SECTION_LAST, "Width", &g_bihRgb.biWidth, &g_bihRgb.biWidth, NULL, 0},
    {SECTION_LAST, "Height", &g_bihRgb.biHeight, &g_bihRgb.biHeight, NULL, 0},
    {SECTION_LAST, "FrameRate", g_szFrameRate, g_szFrameRate, NULL, PROFILE_TEXT | sizeof(g_szFrameRate)},
    {SECTION_LIST, "Width", g_szWidthHistory, g_szWidthHistory, NULL, PROFILE_TEXT | (HISTORY_SIZE - 1)},
    {SECTION_LIST, "Height", g_szHeightHistory, g_szHeightHistory, NULL, PROFILE_TEXT | (HISTORY_SIZE - 1)},
    {SECTION_LIST, "FrameRate", g_szRateHistory, g_szRateHistory, NULL, PROFILE_TEXT | (HISTORY_SIZE - 1)},
};
enum { SET_REFFILE, SET_HANDLER, SET_WIDTH, SET_HEIGHT, SET_RATE, SET_WIDTHS, SET_HEIGHTS, SET_RATES };

void PutSizeIntoHistory(int nId, LONG lValue, LPSTR pszHistory)
{
    CHAR sz[16];
    snprintf(sz, sizeof(sz), "%lu", (unsigned long)(DWORD)lValue);
    const COMBOLIST *pCombo = UiCombo(nId);
    if (pCombo) UpdateHistoryList(pCombo, FALSE, sz, pszHistory, HISTORY_LIMIT);
}

void PutRateIntoHistory(void)
{
    const COMBOLIST *pCombo = UiCombo(IDC_FRAMERATE);
    if (pCombo) UpdateHistoryList(pCombo, FALSE, g_szFrameRate, g_szRateHistory, HISTORY_LIMIT);
}

}  // namespace

void LoadSalvageSettings(void)
{
    for (int i = SET_REFFILE; i <= SET_RATE; i++) LoadProfileEntry(&s_aSettings[i]);
    ParseFrameRate(g_szFrameRate);
    static const struct {
        int nSetting;
        int nId;
        LPSTR pszHistory;
        LONG *plValue;
    } s_aSizes[] = {{SET_WIDTHS, IDC_WIDTH, g_szWidthHistory, &g_bihRgb.biWidth},
                    {SET_HEIGHTS, IDC_HEIGHT, g_szHeightHistory, &g_bihRgb.biHeight}};
    for (const auto &size : s_aSizes) {
        LoadProfileEntry(&s_aSettings[size.nSetting]);
        const COMBOLIST *pCombo = UiCombo(size.nId);
        if (pCombo) FillHistoryCombo(pCombo, size.pszHistory, 0);
        PutSizeIntoHistory(size.nId, *size.plValue, size.pszHistory);
    }
    LoadProfileEntry(&s_aSettings[SET_RATES]);
    const COMBOLIST *pRates = UiCombo(IDC_FRAMERATE);
    if (pRates) FillHistoryCombo(pRates, g_szRateHistory, 0);
    PutRateIntoHistory();
    // The width handler then sees the stored width as a change and applies
    // the picture size once the message loop runs.
    s_lLoadedWidth = g_bihRgb.biWidth;
    g_bihRgb.biWidth = 0;
    UiPostNotify(IDC_WIDTH, CBN_SELENDOK);
}

void SaveSalvageSettings(void)
{
    for (int i = SET_REFFILE; i <= SET_HEIGHT; i++) SaveProfileEntry(&s_aSettings[i]);
    PutSizeIntoHistory(IDC_WIDTH, g_bihRgb.biWidth, g_szWidthHistory);
    SaveProfileEntry(&s_aSettings[SET_WIDTHS]);
    PutSizeIntoHistory(IDC_HEIGHT, g_bihRgb.biHeight, g_szHeightHistory);
    SaveProfileEntry(&s_aSettings[SET_HEIGHTS]);
    SaveProfileEntry(&s_aSettings[SET_RATE]);
    PutRateIntoHistory();
    SaveProfileEntry(&s_aSettings[SET_RATES]);
}

// --- The codec list -------------------------------------------------------

BOOL FormatCodecEntry(LPSTR pszEntry, HIC hic, DWORD fccHandler)
{
    ICINFO info;
    memset(&info, 0, sizeof(info));
    info.dwSize = sizeof(info);
    if (ICGetInfo(hic, &info, sizeof(info)) == 0) return FALSE;
    const WCHAR *pwszName = info.szDescription[0] ? info.szDescription : info.szName;
    // The whole name first, then cut to 64 bytes at a character boundary:
    // a conversion into too small a buffer would fail instead of cutting.
    CHAR szName[sizeof(info.szDescription) * 2 + 1];
    int cb = WideCharToMultiByte(CP_ACP, 0, pwszName, -1, szName, sizeof(szName), NULL, NULL);
    if (cb <= 0) szName[0] = '\0';
    szName[sizeof(szName) - 1] = '\0';
    int n = 0;
    while (szName[n]) {
        int cbChar = IsDBCSLeadByte((BYTE)szName[n]) && szName[n + 1] ? 2 : 1;
        if (n + cbChar > CODECENTRY_NAMECOLS - 1) break;
        n += cbChar;
    }
    memcpy(pszEntry, szName, (size_t)n);
    BOOL fConfig = ICSendMessage(hic, ICM_CONFIGURE, (DWORD_PTR)-1, ICMF_CONFIGURE_QUERY) == ICERR_OK;
    snprintf(pszEntry + n, (size_t)(CODECENTRY_SIZE - n), "%*s%08lX,%d", CODECENTRY_NAMECOLS - n, "",
             (unsigned long)fccHandler, fConfig ? 1 : 0);
    return TRUE;
}

void ParseCodecEntry(LPCSTR pszEntry, DWORD *pfccHandler, BOOL *pfHasConfig)
{
    unsigned long ulHandler = 0;
    int nConfig = 0;
    if (strlen(pszEntry) > CODECENTRY_NAMECOLS) sscanf(pszEntry + CODECENTRY_NAMECOLS, "%08lX,%d", &ulHandler, &nConfig);
    *pfccHandler = (DWORD)ulHandler;
    if (pfHasConfig) *pfHasConfig = nConfig ? TRUE : FALSE;
}

void FillCodecList(void)
{
    const COMBOLIST *pList = UiCombo(IDC_CODEC);
    if (!pList) return;
    pList->pfnReset(pList->pCtx);
    CHAR szEntry[CODECENTRY_SIZE];
    snprintf(szEntry, sizeof(szEntry), "%-*s%08lX,%d", CODECENTRY_NAMECOLS, "無圧縮", 0ul, 0);
    pList->pfnAddItem(pList->pCtx, szEntry);
    // Codecs are asked about the picture size that is about to be applied.
    BITMAPINFOHEADER bihQuery = g_bihRgb;
    if (bihQuery.biWidth == 0) bihQuery.biWidth = s_lLoadedWidth;
    bihQuery.biSizeImage = (DWORD)bihQuery.biWidth * (DWORD)abs(bihQuery.biHeight) * 3;
    ICINFO info;
    for (DWORD i = 0; memset(&info, 0, sizeof(info)), ICInfo(ICTYPE_VIDEO, i, &info); i++) {
        HIC hic = ICOpen(ICTYPE_VIDEO, info.fccHandler, ICMODE_FASTCOMPRESS);
        if (!hic) continue;
        if (ICSendMessage(hic, ICM_COMPRESS_QUERY, (DWORD_PTR)&bihQuery, 0) == ICERR_OK &&
            FormatCodecEntry(szEntry, hic, info.fccHandler))
            pList->pfnAddItem(pList->pCtx, szEntry);
        ICClose(hic);
    }
    int iSelect = 0;
    for (int i = 1, n = pList->pfnGetCount(pList->pCtx); i < n; i++) {
        DWORD fcc = 0;
        if (pList->pfnGetItemText(pList->pCtx, i, szEntry, sizeof(szEntry)) < 0) continue;
        ParseCodecEntry(szEntry, &fcc, NULL);
        if (fcc == g_fccHandler) {
            iSelect = i;
            break;
        }
    }
    pList->pfnSetCurSel(pList->pCtx, iSelect);
}

void OnCodecSelected(void)
{
    const COMBOLIST *pList = UiCombo(IDC_CODEC);
    CHAR szEntry[CODECENTRY_SIZE] = "";
    if (pList) {
        int i = pList->pfnGetCurSel(pList->pCtx);
        if (i >= 0) pList->pfnGetItemText(pList->pCtx, i, szEntry, sizeof(szEntry));
    }
    ParseCodecEntry(szEntry, &g_fccHandler, &g_fHasConfig);
    UiEnableItem(IDC_CODECCONFIG, g_fHasConfig);
    ResetPreviewCodec();
    if (g_nRefFrames > 0) ShowRefFrame(0);
}

// --- Histories ------------------------------------------------------------

namespace {

// The end of the history value that begins at p: the separating "|" or the
// end of the text. A doubled "|" belongs to the value.
LPCSTR HistoryValueEnd(LPCSTR p)
{
    while (*p) {
        if (IsDBCSLeadByte((BYTE)*p) && p[1]) {
            p += 2;
        } else if (*p == '|') {
            if (p[1] != '|') break;
            p += 2;
        } else {
            p++;
        }
    }
    return p;
}

// The value with each "|" doubled (fDouble) or each doubled "|" single;
// FALSE when it does not fit cb bytes.
BOOL ConvertHistoryValue(LPCSTR pszFrom, size_t cchFrom, LPSTR pszTo, size_t cb, BOOL fDouble)
{
    size_t n = 0;
    for (size_t i = 0; i < cchFrom; i++) {
        BOOL fLead = IsDBCSLeadByte((BYTE)pszFrom[i]) && i + 1 < cchFrom;
        if (n + 2 >= cb) return FALSE;
        pszTo[n++] = pszFrom[i];
        if (fLead) {
            pszTo[n++] = pszFrom[++i];
        } else if (pszFrom[i] == '|') {
            if (fDouble) pszTo[n++] = '|';
            else if (i + 1 < cchFrom && pszFrom[i + 1] == '|') i++;
        }
    }
    pszTo[n] = '\0';
    return TRUE;
}

// Removes the value [pBegin, pEnd) and its separator from the history.
void RemoveHistoryValue(LPSTR pszHistory, LPSTR pBegin, LPSTR pEnd)
{
    if (*pEnd == '|') pEnd++;
    else if (pBegin > pszHistory) pBegin--;  // the last value takes the separator before it
    memmove(pBegin, pEnd, strlen(pEnd) + 1);
}

// The place of a whole value in the history, compared ignoring case.
LPSTR FindHistoryValue(LPSTR pszHistory, LPCSTR pszValue, LPSTR *ppEnd)
{
    size_t cch = strlen(pszValue);
    for (LPSTR p = pszHistory; *p;) {
        LPSTR pEnd = (LPSTR)HistoryValueEnd(p);
        if ((size_t)(pEnd - p) == cch && _strnicmp(p, pszValue, cch) == 0) {
            *ppEnd = pEnd;
            return p;
        }
        if (!*pEnd) break;
        p = pEnd + 1;
    }
    return NULL;
}

void RemoveTrailingSeparator(LPSTR pszHistory)
{
    for (LPSTR p = pszHistory; *p;) {
        LPSTR pEnd = (LPSTR)HistoryValueEnd(p);
        if (!*pEnd) break;
        if (!pEnd[1]) {
            *pEnd = '\0';
            break;
        }
        p = pEnd + 1;
    }
}

}  // namespace

void FillHistoryCombo(const COMBOLIST *pCombo, LPSTR pszHistory, int iSelect)
{
    pCombo->pfnReset(pCombo->pCtx);
    if (!pszHistory[0]) return;
    for (LPSTR p = pszHistory; *p;) {
        LPSTR pEnd = (LPSTR)HistoryValueEnd(p);
        CHAR szValue[HISTORY_SIZE];
        ConvertHistoryValue(p, (size_t)(pEnd - p), szValue, sizeof(szValue), FALSE);
        if (!szValue[0] || pCombo->pfnFind(pCombo->pCtx, -1, szValue, TRUE) >= 0) {
            // A value met before (or an empty one) is dropped from the
            // history as well; the next value moves up to p.
            BOOL fLast = !*pEnd;
            RemoveHistoryValue(pszHistory, p, pEnd);
            if (fLast) break;
            continue;
        }
        pCombo->pfnAddItem(pCombo->pCtx, szValue);
        if (!*pEnd) break;
        p = pEnd + 1;
    }
    if (iSelect >= 0) pCombo->pfnSetCurSel(pCombo->pCtx, iSelect);
}

BOOL UpdateHistoryList(const COMBOLIST *pCombo, BOOL fRemove, LPCSTR pszValue, LPSTR pszHistory, int nLimit)
{
    BOOL fChanged = FALSE;
    if (pszValue) {
        int i = pCombo->pfnFind(pCombo->pCtx, -1, pszValue, TRUE);
        if (fRemove) {
            if (i >= 0) {
                pCombo->pfnDeleteItem(pCombo->pCtx, i);
                fChanged = TRUE;
            }
        } else if (i < 0) {
            pCombo->pfnAddItem(pCombo->pCtx, pszValue);
            fChanged = TRUE;
        }
    }
    CHAR szValueDoubled[HISTORY_SIZE * 2] = "";
    if (pszValue) ConvertHistoryValue(pszValue, strlen(pszValue), szValueDoubled, sizeof(szValueDoubled), TRUE);

    for (int k = 0; k < pCombo->pfnGetCount(pCombo->pCtx); k++) {
        CHAR szItem[HISTORY_SIZE * 2];
        CHAR szDoubled[HISTORY_VALUE_MAX + 1];
        int cchItem = pCombo->pfnGetItemText(pCombo->pCtx, k, szItem, sizeof(szItem));
        if (cchItem < 0 || cchItem >= HISTORY_VALUE_MAX) continue;
        if (!ConvertHistoryValue(szItem, (size_t)cchItem, szDoubled, sizeof(szDoubled), TRUE)) continue;
        size_t cch = strlen(szDoubled);
        if (cch >= HISTORY_VALUE_MAX) continue;
        LPSTR pEnd = NULL;
        LPSTR pFound = FindHistoryValue(pszHistory, szDoubled, &pEnd);
        if (pFound) {
            if (pszValue && _stricmp(szDoubled, szValueDoubled) == 0 && pFound != pszHistory) {
                // The value just used goes to the front.
                RemoveHistoryValue(pszHistory, pFound, pEnd);
                size_t cchHistory = strlen(pszHistory);
                memmove(pszHistory + cch + 1, pszHistory, cchHistory + 1);
                memcpy(pszHistory, szDoubled, cch);
                pszHistory[cch] = cchHistory ? '|' : '\0';
            }
            continue;
        }
        if ((int)cch >= nLimit) continue;
        // Make room by dropping the oldest values, from the drop-down too.
        while (pszHistory[0] && (int)(strlen(pszHistory) + cch) > nLimit - 2) {
            LPSTR pLast = pszHistory;
            for (LPSTR p = pszHistory;;) {
                LPSTR pValueEnd = (LPSTR)HistoryValueEnd(p);
                if (!*pValueEnd) break;
                p = pValueEnd + 1;
                pLast = p;
            }
            CHAR szDropped[HISTORY_SIZE];
            ConvertHistoryValue(pLast, strlen(pLast), szDropped, sizeof(szDropped), FALSE);
            RemoveHistoryValue(pszHistory, pLast, pLast + strlen(pLast));
            int iDropped = pCombo->pfnFind(pCombo->pCtx, -1, szDropped, TRUE);
            if (iDropped >= 0 && iDropped != k) {
                pCombo->pfnDeleteItem(pCombo->pCtx, iDropped);
                if (iDropped < k) k--;
            }
        }
        size_t cchHistory = strlen(pszHistory);
        if ((int)(cchHistory + cch + 1) > nLimit) continue;
        memmove(pszHistory + cch + 1, pszHistory, cchHistory + 1);
        memcpy(pszHistory, szDoubled, cch);
        pszHistory[cch] = cchHistory ? '|' : '\0';
    }
    RemoveTrailingSeparator(pszHistory);
    if (pszValue) {
        int i = pCombo->pfnFind(pCombo->pCtx, -1, pszValue, TRUE);
        if (i >= 0) pCombo->pfnSetCurSel(pCombo->pCtx, i);
    }
    return fChanged;
}

// --- Frame rate and numeric fields ----------------------------------------

namespace {

// The value of a number that floating point arithmetic left a hair off a
// whole number, else the value itself.
double NearWhole(double x)
{
    double r = floor(x + 0.5);
    return fabs(x - r) <= 1e-9 * (fabs(x) > 1.0 ? fabs(x) : 1.0) ? r : x;
}

BOOL HasFraction(double x) { return NearWhole(x) != floor(NearWhole(x)); }

double ParseDecimal(LPCSTR psz)
{
    // Rates and scales beyond 32 bits mean nothing; they are taken as no
    // rate rather than carried into arithmetic that never ends.
    double d = strtod(psz, NULL);
    return (isfinite(d) && d > 0.0 && d < 1e10) ? d : 0.0;
}

}  // namespace

double ParseFrameRate(LPCSTR pszText)
{
    double dblNum = ParseDecimal(pszText);
    LPCSTR pszSlash = strchr(pszText, '/');
    double dblDen = pszSlash ? ParseDecimal(pszSlash + 1) : 0.0;
    g_dwRate = 0;
    g_dwScale = 0;
    if (dblDen == 0.0) {
        // The largest power-of-ten scale with which the rate still fits 32
        // bits: 25 is 2500000000/100000000, 60 is 600000000/10000000.
        for (double dblScale = PLAIN_RATE_SCALE; dblScale >= 1.0; dblScale /= 10.0) {
            double dblRate = floor(NearWhole(dblNum * dblScale));
            if (dblRate < 4294967296.0) {
                g_dwRate = (DWORD)dblRate;
                g_dwScale = (DWORD)dblScale;
                break;
            }
        }
    } else {
        for (int n = 0; n < 32 && (HasFraction(dblNum) || HasFraction(dblDen)); n++) {
            dblNum *= 10.0;
            dblDen *= 10.0;
        }
        dblNum = NearWhole(dblNum);
        dblDen = NearWhole(dblDen);
        while (dblNum >= FRACTION_LIMIT || dblDen >= FRACTION_LIMIT) {
            dblNum *= 0.1;
            dblDen *= 0.1;
        }
        g_dwRate = (DWORD)floor(NearWhole(dblNum));
        g_dwScale = (DWORD)floor(NearWhole(dblDen));
    }
    g_dblFps = (g_dwRate && g_dwScale) ? (double)g_dwRate / (double)g_dwScale : 0.0;
    CHAR sz[64];
    snprintf(sz, sizeof(sz), "%15.12lf", g_dblFps);
    UiSetItemText(IDC_FPS, sz);
    return g_dblFps;
}

BOOL FilterNumericText(LPSTR pszText, DWORD dwOptions, int *piCaret)
{
    BOOL fPoint = (dwOptions & NUMERIC_POINT) ? TRUE : FALSE;
    BOOL fSlash = (dwOptions & NUMERIC_SLASH) ? TRUE : FALSE;
    BOOL fRemoved = FALSE;
    int n = 0;
    for (int i = 0; pszText[i]; i++) {
        char c = pszText[i];
        BOOL fKeep = FALSE;
        if (c >= '0' && c <= '9') {
            fKeep = TRUE;
        } else if (c == '-' && n == 0 && (dwOptions & NUMERIC_MINUS)) {
            fKeep = TRUE;
        } else if (c == '.' && fPoint) {
            fKeep = TRUE;
            fPoint = FALSE;
        } else if (c == '/' && fSlash) {
            fKeep = TRUE;
            fSlash = FALSE;
            fPoint = (dwOptions & NUMERIC_POINT) ? TRUE : FALSE;
        }
        if (fKeep) {
            pszText[n++] = c;
        } else {
            fRemoved = TRUE;
            if (piCaret) *piCaret = n;
        }
    }
    pszText[n] = '\0';
    return fRemoved;
}

LONG FilterNumericEdit(int nId, DWORD dwOptions, double *pdblValue)
{
    CHAR szText[32] = "";
    const COMBOLIST *pField = UiCombo(nId);
    if (pField) pField->pfnGetEditText(pField->pCtx, szText, sizeof(szText));
    int iCaret = 0;
    if (FilterNumericText(szText, dwOptions, &iCaret) && pField) {
        pField->pfnSetEditText(pField->pCtx, szText);
        pField->pfnSetEditSel(pField->pCtx, MAKELONG(iCaret, iCaret));
    }
    if (pdblValue) *pdblValue = strtod(szText, NULL);
    return strtol(szText, NULL, 10);
}

// --- The fields -----------------------------------------------------------

void OnSizeField(int nId, UINT uCode)
{
    if (uCode != CBN_SELENDOK && uCode != CBN_EDITCHANGE) return;
    const COMBOLIST *pField = UiCombo(nId);
    if (!pField) return;
    DWORD dwSel = 0;
    if (uCode == CBN_EDITCHANGE) dwSel = pField->pfnGetEditSel(pField->pCtx);
    CHAR szText[HISTORY_VALUE_MAX] = "";
    int iSel = uCode == CBN_SELENDOK ? pField->pfnGetCurSel(pField->pCtx) : -1;
    if (iSel < 0 || pField->pfnGetItemText(pField->pCtx, iSel, szText, sizeof(szText)) < 0)
        pField->pfnGetEditText(pField->pCtx, szText, sizeof(szText));
    LONG *plStored = nId == IDC_WIDTH ? &g_bihRgb.biWidth : &g_bihRgb.biHeight;
    long lValue = strtol(szText, NULL, 10);
    if (lValue <= 0) {
        CHAR sz[16];
        snprintf(sz, sizeof(sz), "%lu", (unsigned long)(DWORD)*plStored);
        pField->pfnSetEditText(pField->pCtx, sz);
        return;
    }
    if (lValue > 0x7FFFFFFFL) lValue = 0x7FFFFFFFL;
    if ((LONG)lValue == *plStored) return;
    *plStored = (LONG)lValue;
    // Sizes below 16 are kept but not applied: typing 1, 12, 120 applies
    // the size only at 120.
    if (lValue < 16) return;
    ApplyPictureSize(g_bihRgb.biWidth, g_bihRgb.biHeight);
    if (uCode == CBN_EDITCHANGE) pField->pfnSetEditSel(pField->pCtx, dwSel);
    // Reopened at a size its header does not give, the file's own size is
    // about to be applied: the frame is shown then.
    if (g_nRefFrames > 0 && !g_lPendingWidth) ShowRefFrame(0);
}

void OnFrameRateField(UINT uCode)
{
    if (uCode != CBN_SELENDOK && uCode != CBN_EDITCHANGE) return;
    const COMBOLIST *pField = UiCombo(IDC_FRAMERATE);
    if (!pField) return;
    int iSel = uCode == CBN_SELENDOK ? pField->pfnGetCurSel(pField->pCtx) : -1;
    CHAR szText[HISTORY_SIZE * 2] = "";
    if (iSel >= 0 && pField->pfnGetItemText(pField->pCtx, iSel, szText, sizeof(szText)) >= 0) {
        // At most 31 characters of the item are taken.
        memcpy(g_szFrameRate, szText, sizeof(g_szFrameRate) - 1);
        g_szFrameRate[sizeof(g_szFrameRate) - 1] = '\0';
    } else {
        FilterNumericEdit(IDC_FRAMERATE, NUMERIC_COMBO | NUMERIC_POINT | NUMERIC_SLASH, NULL);
        pField->pfnGetEditText(pField->pCtx, g_szFrameRate, sizeof(g_szFrameRate));
    }
    ParseFrameRate(g_szFrameRate);
}
