// Spoolcap's settings: eight keys in section "Spoolcap" of a private profile
// file named after the module, kept in the Windows directory.
#include "codec/spoolcap.h"

#include "scaffold/paths.h"

#include <stdio.h>
#include <string.h>

SPOOLSETTINGS g_Settings;

BOOL DeriveIniFileName(LPCSTR pszModuleName, LPSTR pszIniFile, size_t cbIniFile)
{
    LPCSTR pszExt = GetExtensionPart(pszModuleName);
    // Replace the text after the last '.', or append ".ini" without one.
    size_t cchStem = pszExt ? (size_t)(pszExt - pszModuleName) : strlen(pszModuleName);
    int n = snprintf(pszIniFile, cbIniFile, "%.*s%sini", (int)cchStem, pszModuleName, pszExt ? "" : ".");
    return n > 0 && (size_t)n < cbIniFile;
}

namespace {

BOOL ReadSwitch(LPCSTR pszKey)
{
    return GetPrivateProfileIntA(SPOOLCAP_SECTION, pszKey, 0, g_szIniFile) != 0 ? TRUE : FALSE;
}

void WriteSwitch(LPCSTR pszKey, BOOL fValue)
{
    WritePrivateProfileStringA(SPOOLCAP_SECTION, pszKey, fValue ? "1" : "0", g_szIniFile);
}

}  // namespace

void LoadSettings(void)
{
    GetPrivateProfileStringA(SPOOLCAP_SECTION, "BaseFile", "", g_Settings.szBaseFile,
                             sizeof(g_Settings.szBaseFile), g_szIniFile);
    GetPrivateProfileStringA(SPOOLCAP_SECTION, "BaseFile2", "", g_Settings.szBaseFile2,
                             sizeof(g_Settings.szBaseFile2), g_szIniFile);
    g_Settings.dwPadding = GetPrivateProfileIntA(SPOOLCAP_SECTION, "Padding", 0, g_szIniFile);
    g_Settings.fEnabled = ReadSwitch("Enabled");
    g_Settings.fBiFiled = ReadSwitch("BiFiled");
    g_Settings.fNoCompress = ReadSwitch("NoCompress");
    g_Settings.fOverlapRead = ReadSwitch("OverlapRead");
    g_Settings.fOverlapWrite = ReadSwitch("OverlapWrite");
}

void SaveSettings(void)
{
    CHAR szPadding[16];
    snprintf(szPadding, sizeof(szPadding), "%d", (int)g_Settings.dwPadding);
    WritePrivateProfileStringA(SPOOLCAP_SECTION, "BaseFile", g_Settings.szBaseFile, g_szIniFile);
    WritePrivateProfileStringA(SPOOLCAP_SECTION, "BaseFile2", g_Settings.szBaseFile2, g_szIniFile);
    WritePrivateProfileStringA(SPOOLCAP_SECTION, "Padding", szPadding, g_szIniFile);
    WriteSwitch("Enabled", g_Settings.fEnabled);
    WriteSwitch("BiFiled", g_Settings.fBiFiled);
    WriteSwitch("NoCompress", g_Settings.fNoCompress);
    WriteSwitch("OverlapRead", g_Settings.fOverlapRead);
    WriteSwitch("OverlapWrite", g_Settings.fOverlapWrite);
}
