// Spoolcap's settings: eight keys in section "Spoolcap" of a private profile
// file named after the module, kept in the Windows directory.
#include "codec/spoolcap.h"

#include "scaffold/paths.h"

#include <stdio.h>
#include <string.h>

SPOOLSETTINGS g_Settings;
CHAR g_szIniFile[MAX_PATH];

BOOL DeriveIniFileName(LPCSTR pszModuleName, LPSTR pszIniFile, size_t cbIniFile)
{
    LPCSTR pszExt = GetExtensionPart(pszModuleName);
    // Replace the text after the last '.', or append ".ini" without one.
    size_t cchStem = pszExt ? (size_t)(pszExt - pszModuleName) : strlen(pszModuleName);
    int n = snprintf(pszIniFile, cbIniFile, "%.*s%sini", (int)cchStem, pszModuleName, pszExt ? "" : ".");
    return n > 0 && (size_t)n < cbIniFile;
}

namespace {

BOOL ReadSwitch(LPCSTR pszKey, LPCSTR pszIniFile)
{
    return GetPrivateProfileIntA(SPOOLCAP_SECTION, pszKey, 0, pszIniFile) != 0 ? TRUE : FALSE;
}

BOOL WriteKey(LPCSTR pszKey, LPCSTR pszValue, LPCSTR pszIniFile)
{
    return WritePrivateProfileStringA(SPOOLCAP_SECTION, pszKey, pszValue, pszIniFile);
}

}  // namespace

void ReadSettingsFile(LPCSTR pszIniFile, SPOOLSETTINGS *pSettings)
{
    GetPrivateProfileStringA(SPOOLCAP_SECTION, "BaseFile", "", pSettings->szBaseFile, sizeof(pSettings->szBaseFile),
                             pszIniFile);
    GetPrivateProfileStringA(SPOOLCAP_SECTION, "BaseFile2", "", pSettings->szBaseFile2,
                             sizeof(pSettings->szBaseFile2), pszIniFile);
    pSettings->dwPadding = GetPrivateProfileIntA(SPOOLCAP_SECTION, "Padding", 0, pszIniFile);
    pSettings->fEnabled = ReadSwitch("Enabled", pszIniFile);
    pSettings->fBiFiled = ReadSwitch("BiFiled", pszIniFile);
    pSettings->fNoCompress = ReadSwitch("NoCompress", pszIniFile);
    pSettings->fOverlapRead = ReadSwitch("OverlapRead", pszIniFile);
    pSettings->fOverlapWrite = ReadSwitch("OverlapWrite", pszIniFile);
}

BOOL WriteSettingsFile(LPCSTR pszIniFile, const SPOOLSETTINGS *pSettings)
{
    CHAR szPadding[16];
    snprintf(szPadding, sizeof(szPadding), "%d", (int)pSettings->dwPadding);
    BOOL fOk = WriteKey("BaseFile", pSettings->szBaseFile, pszIniFile);
    fOk = WriteKey("BaseFile2", pSettings->szBaseFile2, pszIniFile) && fOk;
    fOk = WriteKey("Padding", szPadding, pszIniFile) && fOk;
    fOk = WriteKey("Enabled", pSettings->fEnabled ? "1" : "0", pszIniFile) && fOk;
    fOk = WriteKey("BiFiled", pSettings->fBiFiled ? "1" : "0", pszIniFile) && fOk;
    fOk = WriteKey("NoCompress", pSettings->fNoCompress ? "1" : "0", pszIniFile) && fOk;
    fOk = WriteKey("OverlapRead", pSettings->fOverlapRead ? "1" : "0", pszIniFile) && fOk;
    fOk = WriteKey("OverlapWrite", pSettings->fOverlapWrite ? "1" : "0", pszIniFile) && fOk;
    return fOk;
}

void LoadSettings(void) { ReadSettingsFile(g_szIniFile, &g_Settings); }

void SaveSettings(void) { WriteSettingsFile(g_szIniFile, &g_Settings); }
