// Spoolcap's settings: keys in section "Spoolcap" of a private profile file
// named after the module, kept in the Windows directory.
#include "codec/spoolcap.h"

#include "scaffold/paths.h"

#include <stddef.h>
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

static_assert(sizeof(((SPOOLSETTINGS *)0)->szBaseFile) == MAX_PATH &&
                  sizeof(((SPOOLSETTINGS *)0)->szBaseFile2) == MAX_PATH,
              "a text setting is read into MAX_PATH bytes");
const SETTINGKEY g_aSettingKeys[SETTING_KEYS] = {
    {"BaseFile", SETTING_TEXT, offsetof(SPOOLSETTINGS, szBaseFile), 0},
    {"BaseFile2", SETTING_TEXT, offsetof(SPOOLSETTINGS, szBaseFile2), 0},
    {"Padding", SETTING_NUMBER, offsetof(SPOOLSETTINGS, dwPadding), 0},
    {"Enabled", SETTING_SWITCH, offsetof(SPOOLSETTINGS, fEnabled), 1},
    {"BiFiled", SETTING_SWITCH, offsetof(SPOOLSETTINGS, fBiFiled), 1},
    {"NoCompress", SETTING_SWITCH, offsetof(SPOOLSETTINGS, fNoCompress), 1},
    {"OverlapRead", SETTING_SWITCH, offsetof(SPOOLSETTINGS, fOverlapRead), 1},
    {"OverlapWrite", SETTING_SWITCH, offsetof(SPOOLSETTINGS, fOverlapWrite), 1},
    {"WriteQueueMB", SETTING_NUMBER, offsetof(SPOOLSETTINGS, dwWriteQueueMB), WRITEQUEUE_MAX_MB},
};

void ReadSettingsFile(LPCSTR pszIniFile, SPOOLSETTINGS *pSettings)
{
    for (const SETTINGKEY &key : g_aSettingKeys) {
        BYTE *pField = (BYTE *)pSettings + key.cbOffset;
        if (key.nKind == SETTING_TEXT)
            GetPrivateProfileStringA(SPOOLCAP_SECTION, key.pszName, "", (LPSTR)pField, MAX_PATH, pszIniFile);
        else if (key.nKind == SETTING_NUMBER && key.dwMax == 0)
            *(DWORD *)pField = GetPrivateProfileIntA(SPOOLCAP_SECTION, key.pszName, 0, pszIniFile);
        else if (key.nKind == SETTING_NUMBER) {
            // A number with a range is kept within it: a negative one as 0.
            INT n = (INT)GetPrivateProfileIntA(SPOOLCAP_SECTION, key.pszName, 0, pszIniFile);
            *(DWORD *)pField = n < 0 ? 0 : (DWORD)n > key.dwMax ? key.dwMax : (DWORD)n;
        }
        else  // any value other than 0 turns a switch on
            *(BOOL *)pField = GetPrivateProfileIntA(SPOOLCAP_SECTION, key.pszName, 0, pszIniFile) != 0 ? TRUE : FALSE;
    }
}

namespace {

BOOL WriteSettingKeys(LPCSTR pszIniFile, const SPOOLSETTINGS *pSettings, int nKeys)
{
    BOOL fOk = TRUE;
    for (int i = 0; i < nKeys; i++) {
        const SETTINGKEY &key = g_aSettingKeys[i];
        const BYTE *pField = (const BYTE *)pSettings + key.cbOffset;
        CHAR szNumber[16];
        LPCSTR pszValue = szNumber;
        if (key.nKind == SETTING_TEXT) pszValue = (LPCSTR)pField;
        else if (key.nKind == SETTING_SWITCH) pszValue = *(const BOOL *)pField ? "1" : "0";
        else snprintf(szNumber, sizeof(szNumber), "%d", (int)*(const DWORD *)pField);
        fOk = WritePrivateProfileStringA(SPOOLCAP_SECTION, key.pszName, pszValue, pszIniFile) && fOk;
    }
    return fOk;
}

}  // namespace

BOOL WriteSettingsFile(LPCSTR pszIniFile, const SPOOLSETTINGS *pSettings)
{
    return WriteSettingKeys(pszIniFile, pSettings, SETTING_KEYS);
}

void LoadSettings(void) { ReadSettingsFile(g_szIniFile, &g_Settings); }

// The dialog's keys only: what it does not show stays as the file has it.
void SaveSettings(void) { WriteSettingKeys(g_szIniFile, &g_Settings, SETTING_DIALOG_KEYS); }
