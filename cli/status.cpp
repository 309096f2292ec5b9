// spool status and config: which codecs Spoolcap stands in front of, with
// its settings, and those settings changed as the settings dialog would.
#include "cli/install.h"
#include "cli/spool.h"
#include "codec/spoolcap.h"
#include "lister/listing.h"
#include "scaffold/filegate.h"
#include "scaffold/paths.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

namespace {

// What status tells of one codec's files.
typedef struct {
    int nFound;            // CODECFILES_...
    DWORD dwMachine;       // of the driver file; 0 when it is missing or no module
    BOOL fSpoolcap;        // the driver file is Spoolcap
    DWORD dwOrgMachine;    // of its ".org"; 0 when there is none
    BOOL fIniExists;
    SPOOLSETTINGS settings;
    BOOL fJournal;         // an install or uninstall cut short that could not be settled
    CHAR szLeftover[MAX_PATH];  // a copy of Spoolcap left under a temporary name, "" for none
} CODECSTATE;

void ReadCodecState(const CODECFILES *pFiles, int nFound, CODECSTATE *pState)
{
    memset(pState, 0, sizeof(*pState));
    pState->nFound = nFound;
    if (nFound != CODECFILES_OK) return;
    ReadModuleKind(pFiles->szPath, &pState->dwMachine, &pState->fSpoolcap, NULL);
    ReadModuleKind(pFiles->szOrgPath, &pState->dwOrgMachine, NULL, NULL);
    pState->fIniExists = FileExists(pFiles->szIniPath);
    ReadSettingsFile(pFiles->szIniFile, &pState->settings);
    CODECOP op;
    pState->fJournal = ReadJournal(pFiles, &op) != JOURNAL_NONE;
    for (LPCSTR pszSuffix : g_apszCopySuffixes) {
        CHAR szCopy[MAX_PATH];
        if (FormatPath(szCopy, "%s%s", pFiles->szPath, pszSuffix) && FileExists(szCopy))
            snprintf(pState->szLeftover, sizeof(pState->szLeftover), "%s", szCopy);
    }
}

// One line of what to do, for the states that need something done.
void PutAdvice(const CODECFILES *pFiles, const CODECSTATE *pState)
{
    if (pState->fJournal)
        Say(g_pOut, "      an install or uninstall was cut short and is not settled: spool repair %s\n",
            "      インストールまたはアンインストールが中断されたままです: spool repair %s\n", pFiles->szFourcc);
    if (pState->szLeftover[0])
        Say(g_pOut, "      %s is left from an earlier run: spool repair %s deletes it\n",
            "      以前の実行が残した %s があります: spool repair %s で削除します\n", pState->szLeftover, pFiles->szFourcc);
}

BYTE *KeyField(SPOOLSETTINGS *pSettings, const SETTINGKEY &key) { return (BYTE *)pSettings + key.cbOffset; }

void PutSettingsText(const SPOOLSETTINGS *pSettings)
{
    for (const SETTINGKEY &key : g_aSettingKeys) {
        const BYTE *pField = (const BYTE *)pSettings + key.cbOffset;
        if (key.nKind == SETTING_TEXT) fprintf(g_pOut, "  %s=%s\n", key.pszName, (LPCSTR)pField);
        else fprintf(g_pOut, "  %s=%lu\n", key.pszName, (unsigned long)*(const DWORD *)pField);
    }
}

void PutSettingsJson(const SPOOLSETTINGS *pSettings)
{
    LPCSTR pszSep = "";
    for (const SETTINGKEY &key : g_aSettingKeys) {
        const BYTE *pField = (const BYTE *)pSettings + key.cbOffset;
        fprintf(g_pOut, "%s\"%s\": ", pszSep, key.pszName);
        if (key.nKind == SETTING_TEXT) PutJsonString(g_pOut, (LPCSTR)pField);
        else if (key.nKind == SETTING_SWITCH) fputs(*(const BOOL *)pField ? "true" : "false", g_pOut);
        else fprintf(g_pOut, "%lu", (unsigned long)*(const DWORD *)pField);
        pszSep = ", ";
    }
}

void PutStateText(const CODECFILES *pFiles, const CODECSTATE *pState)
{
    CHAR szFourcc[5];
    FormatFourcc(pFiles->fcc, szFourcc);
    fprintf(g_pOut, "%s  %s", szFourcc, pFiles->szDriver);
    if (pState->nFound != CODECFILES_OK) {
        Say(g_pOut, "  (listed with a folder: not looked at)\n", "  (フォルダ付きで登録: 調べません)\n");
        return;
    }
    if (pState->dwMachine == 0) {
        if (pState->dwOrgMachine && !pState->fJournal)
            Say(g_pOut, "  (missing or no module; the codec's own driver is still %s: rename it to %s)\n",
                "  (ないか, モジュールではありません. コーデック本来のドライバは %s のままです: %s に名前を戻してください)\n",
                pFiles->szOrgPath, pFiles->szDriver);
        else
            Say(g_pOut, "  (missing or no module)\n", "  (ないか, モジュールではありません)\n");
        PutAdvice(pFiles, pState);
        return;
    }
    fprintf(g_pOut, " (%s)", MachineName(pState->dwMachine));
    if (!pState->fSpoolcap) {
        if (pState->dwOrgMachine)
            Say(g_pOut, "  no Spoolcap; %s is left from before an update of the codec: spool install %s --after-update\n",
                "  Spoolcap なし. コーデックの更新前から残った %s があります: spool install %s --after-update\n",
                pFiles->szOrgPath, pFiles->szFourcc);
        else
            Say(g_pOut, "  no Spoolcap\n", "  Spoolcap なし\n");
        PutAdvice(pFiles, pState);
        return;
    }
    Say(g_pOut, "  Spoolcap in front; the codec's own driver: %s%s\n", "  Spoolcap あり; コーデック本来のドライバ: %s%s\n",
        pFiles->szOrgPath, pState->dwOrgMachine ? "" : (g_fJapanese ? " (ありません!)" : " (missing!)"));
    const SPOOLSETTINGS &settings = pState->settings;
    Say(g_pOut, "      settings %s%s: reference writing %s\n", "      設定 %s%s: 参照ファイル作成 %s\n",
        pFiles->szIniPath, pState->fIniExists ? "" : (g_fJapanese ? " (ファイルなし)" : " (no file)"),
        settings.fEnabled ? (g_fJapanese ? "有効" : "on") : (g_fJapanese ? "無効" : "off"));
    fprintf(g_pOut, "      BaseFile=%s\n", settings.szBaseFile);
    if (settings.fBiFiled) fprintf(g_pOut, "      BaseFile2=%s\n", settings.szBaseFile2);
    PutAdvice(pFiles, pState);
}

void PutStateJson(const CODECFILES *pFiles, const CODECSTATE *pState)
{
    CHAR szFourcc[5];
    FormatFourcc(pFiles->fcc, szFourcc);
    fputs("{\"fourcc\": ", g_pOut);
    PutJsonString(g_pOut, szFourcc);
    fputs(", \"driver\": ", g_pOut);
    PutJsonString(g_pOut, pFiles->szDriver);
    fprintf(g_pOut, ", \"registry\": %s", pFiles->fInRegistry ? "true" : "false");
    if (pState->nFound == CODECFILES_OK) {
        fputs(", \"path\": ", g_pOut);
        PutJsonString(g_pOut, pFiles->szPath);
        fputs(", \"machine\": ", g_pOut);
        if (pState->dwMachine) PutJsonString(g_pOut, MachineName(pState->dwMachine));
        else fputs("null", g_pOut);
        fprintf(g_pOut, ", \"spoolcap\": %s", pState->fSpoolcap ? "true" : "false");
        // The states that need something done: an install or uninstall cut
        // short (spool repair), an old ".org" left by an update of the codec
        // (install --after-update), a copy left by an earlier run (repair).
        fprintf(g_pOut, ", \"interrupted\": %s, \"org_left_by_update\": %s, \"leftover\": ", pState->fJournal ? "true" : "false",
                !pState->fSpoolcap && pState->dwMachine && pState->dwOrgMachine ? "true" : "false");
        if (pState->szLeftover[0]) PutJsonString(g_pOut, pState->szLeftover);
        else fputs("null", g_pOut);
    }
    if (pState->fSpoolcap) {
        fputs(", \"wrapped\": ", g_pOut);
        PutJsonString(g_pOut, pFiles->szOrgPath);
        fprintf(g_pOut, ", \"wrapped_exists\": %s, \"settings_file\": ", pState->dwOrgMachine ? "true" : "false");
        PutJsonString(g_pOut, pFiles->szIniPath);
        fprintf(g_pOut, ", \"settings_file_exists\": %s, \"settings\": {", pState->fIniExists ? "true" : "false");
        PutSettingsJson(&pState->settings);
        fputs("}", g_pOut);
    }
    fputs("}", g_pOut);
}

// Checks one KEY=VALUE as the settings dialog would take it and applies it;
// FALSE after a message.
BOOL ApplySetting(SPOOLSETTINGS *pSettings, LPCSTR pszAssignment)
{
    LPCSTR pszEquals = strchr(pszAssignment, '=');
    const SETTINGKEY *pKey = NULL;
    for (const SETTINGKEY &key : g_aSettingKeys) {
        if (pszEquals && strlen(key.pszName) == (size_t)(pszEquals - pszAssignment) &&
            strncasecmp(key.pszName, pszAssignment, strlen(key.pszName)) == 0)
            pKey = &key;
    }
    if (!pKey) {
        Complain("%s: not KEY=VALUE with a key of BaseFile, BaseFile2, Padding, Enabled, BiFiled, NoCompress, "
                 "OverlapRead, OverlapWrite, WriteQueueMB.",
                 "%s: KEY=VALUE ではありません. KEY は BaseFile, BaseFile2, Padding, Enabled, BiFiled, NoCompress, "
                 "OverlapRead, OverlapWrite, WriteQueueMB のいずれかです.",
                 pszAssignment);
        return FALSE;
    }
    LPCSTR pszValue = pszEquals + 1;
    BYTE *pField = KeyField(pSettings, *pKey);
    if (pKey->nKind == SETTING_SWITCH) {
        if ((pszValue[0] != '0' && pszValue[0] != '1') || pszValue[1]) {
            Complain("%s must be 0 or 1, not \"%s\".", "%s は 0 か 1 です (\"%s\" は使えません).", pKey->pszName,
                     pszValue);
            return FALSE;
        }
        *(BOOL *)pField = pszValue[0] == '1';
        return TRUE;
    }
    if (pKey->nKind == SETTING_NUMBER) {
        // The file keeps a number as a signed one: what reads back is at
        // most 2147483647.
        DWORD dwMax = pKey->dwMax ? pKey->dwMax : 0x7FFFFFFF;
        size_t cch = strlen(pszValue);
        unsigned long long ull = 0;
        BOOL fOk = cch > 0 && cch <= 10;
        for (size_t i = 0; fOk && i < cch; i++) {
            fOk = pszValue[i] >= '0' && pszValue[i] <= '9';
            ull = ull * 10 + (unsigned)(pszValue[i] - '0');
        }
        if (!fOk || ull > dwMax) {
            if (pField == (BYTE *)&pSettings->dwPadding)
                Complain("Padding is a percentage from 0 to 2147483647, not \"%s\".",
                         "Padding は 0 から 2147483647 までのパーセントです (\"%s\" は使えません).", pszValue);
            else
                Complain("%s is a number of megabytes from 0 to %lu, not \"%s\".",
                         "%s は 0 から %lu までのメガバイト数です (\"%s\" は使えません).", pKey->pszName,
                         (unsigned long)dwMax, pszValue);
            return FALSE;
        }
        *(DWORD *)pField = (DWORD)ull;
        return TRUE;
    }
    // A base name: it fits the setting, its full path with ".000" fits a
    // record, and it holds nothing that would break the settings file.
    BOOL fControl = FALSE;
    for (const BYTE *p = (const BYTE *)pszValue; *p; p++) fControl = fControl || *p < 0x20 || *p == 0x7F;
    CHAR szFull[MAX_PATH];
    DWORD cchFull = pszValue[0] ? GetFullPathNameA(pszValue, sizeof(szFull), szFull, NULL) : 0;
    if (fControl || strlen(pszValue) >= MAX_PATH || (pszValue[0] && (cchFull == 0 || cchFull > MAX_PATH - 5))) {
        Complain("%s \"%s\" cannot be used: a base name's full path has at most %d characters and no control "
                 "characters.",
                 "%s \"%s\" は使えません: ベース名のフルパスは %d 文字までで, 制御文字を含みません.", pKey->pszName,
                 pszValue, MAX_PATH - 5);
        return FALSE;
    }
    // What the file would not give back as it stands: blanks or quotes
    // around the name are lost in it.
    size_t cchValue = strlen(pszValue);
    if (cchValue && (pszValue[0] == ' ' || pszValue[0] == '\t' || pszValue[0] == '"' || pszValue[0] == '\'' ||
                     pszValue[cchValue - 1] == ' ' || pszValue[cchValue - 1] == '\t' || pszValue[cchValue - 1] == '"' ||
                     pszValue[cchValue - 1] == '\'')) {
        Complain("%s \"%s\" cannot be used: blanks or quotes around a base name would be lost in the settings file.",
                 "%s \"%s\" は使えません: ベース名の前後の空白や引用符は設定ファイルで失われます.", pKey->pszName, pszValue);
        return FALSE;
    }
    // The recording program measures a relative name against its own
    // folder, not this one's.
    if (cchValue && IsRelativeName(pszValue)) {
        Complain("%s \"%s\" cannot be used: give the base name's full path (a relative one would be taken from the "
                 "recording program's folder).",
                 "%s \"%s\" は使えません: ベース名はフルパスで指定してください (相対パスは録画ソフトのフォルダーから数えられます).",
                 pKey->pszName, pszValue);
        return FALSE;
    }
    snprintf((LPSTR)pField, MAX_PATH, "%s", pszValue);
    return TRUE;
}

// Whether a base name's folder is there; with fMake, makes it and the
// folders on its way. FALSE after a message.
BOOL BaseFolderMade(LPCSTR pszKey, LPCSTR pszBase, BOOL fMake)
{
    if (!pszBase[0]) return TRUE;
    CHAR szFolder[MAX_PATH];
    if (BaseFolderThere(pszBase, szFolder)) return TRUE;
    FILEFACTS facts;
    LookAtName(szFolder, &facts);
    if (facts.nKind == FILEKIND_MISSING && fMake) {
        // Each folder on the way that is missing, from the root down.
        DWORD dwError = ERROR_SUCCESS;
        for (size_t i = 1; szFolder[0] && szFolder[i]; i++) {
            if ((szFolder[i] != '\\' && szFolder[i] != '/') || !StartsCharacter(szFolder, i)) continue;
            CHAR c = szFolder[i];
            szFolder[i] = '\0';
            LookAtName(szFolder, &facts);
            if (facts.nKind == FILEKIND_MISSING && !CreateDirectoryA(szFolder, NULL)) dwError = GetLastError();
            szFolder[i] = c;
        }
        if (!CreateDirectoryA(szFolder, NULL)) dwError = GetLastError();
        LookAtName(szFolder, &facts);
        if (facts.nKind == FILEKIND_FOLDER) return TRUE;
        Complain("%s: the folder %s cannot be made (error %lu). The settings were not changed.",
                 "%s: フォルダー %s を作成できません (エラー %lu). 設定は変更していません.", pszKey, szFolder,
                 (unsigned long)dwError);
        return FALSE;
    }
    Complain("%s: the folder %s is not there, so no recording could write its reference files. Make it, or add "
             "--mkdir. The settings were not changed.",
             "%s: フォルダー %s がないため, 録画で参照ファイルを書き込めません. フォルダーを作るか --mkdir を付けてください. "
             "設定は変更していません.",
             pszKey, szFolder);
    return FALSE;
}

// Whether the settings read back as they were written.
BOOL SameSettings(const SPOOLSETTINGS *pA, const SPOOLSETTINGS *pB)
{
    for (const SETTINGKEY &key : g_aSettingKeys) {
        const BYTE *pFieldA = (const BYTE *)pA + key.cbOffset, *pFieldB = (const BYTE *)pB + key.cbOffset;
        BOOL fSame = key.nKind == SETTING_TEXT     ? strcmp((LPCSTR)pFieldA, (LPCSTR)pFieldB) == 0
                     : key.nKind == SETTING_SWITCH ? !*(const BOOL *)pFieldA == !*(const BOOL *)pFieldB
                                                   : *(const DWORD *)pFieldA == *(const DWORD *)pFieldB;
        if (!fSame) return FALSE;
    }
    return TRUE;
}

void ComplainSettingsFile(LPCSTR pszPath, LPCSTR pszWhat, DWORD dwError)
{
    if (dwError == ERROR_SUCCESS)
        Complain("could not write %s (%s). The settings were not changed.",
                 "%s を書き込めませんでした (%s). 設定は変更していません.", pszPath, pszWhat);
    else if (dwError == ERROR_ACCESS_DENIED)
        Complain("could not write %s (%s): access denied; run spool as an administrator. The settings were not changed.",
                 "%s を書き込めませんでした (%s): アクセスが拒否されました. 管理者として spool を実行してください. 設定は変更していません.",
                 pszPath, pszWhat);
    else
        Complain("could not write %s (%s, error %lu; is the disk full?). The settings were not changed.",
                 "%s を書き込めませんでした (%s, エラー %lu. ディスクがいっぱいではありませんか). 設定は変更していません.", pszPath,
                 pszWhat, (unsigned long)dwError);
}

// Writes the settings file whole or not at all: the new settings go into a
// copy of the old file (its other sections and keys too) made beside it,
// which is read back, put on the disk and renamed over the old one; the
// file is then read back once more. FALSE after a message, the old file as
// it was.
BOOL WriteSettingsWhole(LPCSTR pszIniPath, const SPOOLSETTINGS *pSettings)
{
    CHAR szTemp[MAX_PATH];
    if (snprintf(szTemp, sizeof(szTemp), "%s.spoolcap-new", pszIniPath) >= (int)sizeof(szTemp)) {
        Complain("%s: the path is too long", "%s: パスが長すぎます", pszIniPath);
        return FALSE;
    }
    GATEPROOF proof = {GATE_MADE, {0, 0, 0}, 0};
    HANDLE h = GateCreateNew(szTemp, GENERIC_READ | GENERIC_WRITE, &proof.id);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD dwError = GetLastError();
        FILEFACTS facts;
        LookAtName(szTemp, &facts);
        if (facts.nKind != FILEKIND_MISSING || facts.fLink)
            Complain("%s is there already and is left as it is: remove it and run spool config again.",
                     "%sがすでにあるため, そのままにしました. 削除してから spool config をもう一度実行してください.", szTemp);
        else
            ComplainSettingsFile(szTemp, (g_fJapanese ? "作成" : "create"), dwError);
        return FALSE;
    }
    BYTE *pbOld = NULL;
    size_t cbOld = 0;
    DWORD cbDone = 0;
    BOOL fOk = !FileExists(pszIniPath) || ReadWholeFile(pszIniPath, &pbOld, &cbOld, NULL);
    LPCSTR pszWhat = (g_fJapanese ? "元のファイルの読み込み" : "reading the old file");
    if (fOk && cbOld) {
        pszWhat = (g_fJapanese ? "元のファイルの写し" : "copying the old file");
        fOk = WriteFile(h, pbOld, (DWORD)cbOld, &cbDone, NULL) && cbDone == cbOld;
    }
    free(pbOld);
    if (!CloseHandle(h) && fOk) fOk = FALSE, pszWhat = (g_fJapanese ? "元のファイルの写し" : "copying the old file");
    if (fOk) {
        pszWhat = (g_fJapanese ? "設定の書き込み" : "writing the settings");
        fOk = WriteSettingsFile(szTemp, pSettings);
    }
    SPOOLSETTINGS back;
    if (fOk) {
        pszWhat = (g_fJapanese ? "読み戻し" : "reading them back");
        ReadSettingsFile(szTemp, &back);
        fOk = SameSettings(&back, pSettings);
        if (!fOk) {
            pszWhat = g_fJapanese ? "書いた写しが違って読み戻されました. ディスクがいっぱいではありませんか" : "the copy read back otherwise than written; is the disk full?";
            SetLastError(ERROR_SUCCESS);
        }
    }
    if (fOk) {
        // On the disk before it takes the old file's place: the made file,
        // by its identity.
        pszWhat = (g_fJapanese ? "ディスクへの書き出し" : "putting it on the disk");
        HANDLE hFlush = INVALID_HANDLE_VALUE;
        fOk = GateOpenForWriting(szTemp, &proof, &hFlush) == GATE_DONE && FlushFileBuffers(hFlush);
        DWORD dwError = GetLastError();
        if (hFlush != INVALID_HANDLE_VALUE) CloseHandle(hFlush);
        SetLastError(dwError);
    }
    if (fOk) {
        pszWhat = (g_fJapanese ? "元のファイルとの置き換え" : "renaming it over the old file");
        fOk = GateRename(szTemp, &proof, pszIniPath, TRUE) == GATE_DONE;
        // A rename that happened though its folder could not be put on the
        // disk: the new settings are in place.
        SPOOLSETTINGS now;
        if (!fOk && !FileExists(szTemp)) {
            ReadSettingsFile(pszIniPath, &now);
            if (SameSettings(&now, pSettings)) {
                Complain("%s was written, but may not be on the disk yet.", "%s を書き込みましたが, まだディスクに書き出されていないかもしれません.",
                         pszIniPath);
                return TRUE;
            }
        }
    }
    if (!fOk) {
        DWORD dwError = GetLastError();
        GateDelete(szTemp, &proof);
        ComplainSettingsFile(pszIniPath, pszWhat, dwError);
        return FALSE;
    }
    ReadSettingsFile(pszIniPath, &back);
    if (!SameSettings(&back, pSettings)) {
        Complain("%s does not read back as it was written.", "%s が書いたとおりに読み戻せません.", pszIniPath);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int StatusCommand(int argc, char **argv)
{
    BOOL fJson = FALSE;
    for (int i = 0; i < argc; i++) {
        if (TakeOption(argc, argv, &i, "--json", NULL, NULL)) fJson = TRUE;
        else return UsageError("status", argv[i]);
    }
    if (fJson) fputs("{\"codecs\": [", g_pOut);
    ICINFO info;
    int nCodecs = 0;
    for (DWORD i = 0; memset(&info, 0, sizeof(info)), info.dwSize = sizeof(info), ICInfo(ICTYPE_VIDEO, i, &info);
         i++) {
        CODECFILES files;
        CODECSTATE state;
        int nFound = FindCodecFiles(info.fccHandler, &files);
        if (nFound == CODECFILES_UNLISTED) continue;  // a driver function, not a file
        // An install or uninstall cut short is finished or undone first.
        if (nFound == CODECFILES_OK && !fJson) SettleJournal(&files);
        ReadCodecState(&files, nFound, &state);
        if (fJson) {
            fputs(nCodecs ? ",\n  " : "\n  ", g_pOut);
            PutStateJson(&files, &state);
        } else {
            PutStateText(&files, &state);
        }
        nCodecs++;
    }
    if (fJson) fputs("\n]}\n", g_pOut);
    else if (!nCodecs) Say(g_pOut, "No video codec is installed.\n", "ビデオコーデックはインストールされていません.\n");
    return SPOOL_OK;
}

int ConfigCommand(int argc, char **argv)
{
    LPCSTR pszFourcc = NULL;
    int iFirstSetting = argc;
    BOOL fMakeFolders = FALSE;
    for (int i = 0; i < argc; i++) {
        if (TakeOption(argc, argv, &i, "--mkdir", NULL, NULL)) {
            fMakeFolders = TRUE;
            continue;
        }
        if (argv[i][0] == '-') return UsageError("config", argv[i]);
        if (!pszFourcc) pszFourcc = argv[i], iFirstSetting = i + 1;
    }
    if (!pszFourcc) return UsageError("config", "FOURCC");
    CODECFILES files;
    if (!LocateCodecFiles(pszFourcc, &files) || SettleJournal(&files) == SETTLED_STUCK) return SPOOL_ERROR;
    CODECSTATE state;
    ReadCodecState(&files, CODECFILES_OK, &state);
    SPOOLSETTINGS settings = state.settings;
    BOOL fChanged = FALSE;
    for (int i = iFirstSetting; i < argc; i++) {
        if (strcmp(argv[i], "--mkdir") == 0) continue;
        if (!ApplySetting(&settings, argv[i])) return SPOOL_ERROR;
        fChanged = TRUE;
    }
    // Reference writing needs a base name to write to, and alternation a
    // second one, as in the settings dialog.
    if (settings.fEnabled && !settings.szBaseFile[0]) {
        Complain("Enabled=1 needs a BaseFile. The settings were not changed.",
                 "Enabled=1 には BaseFile が必要です. 設定は変更していません.");
        return SPOOL_ERROR;
    }
    if (settings.fBiFiled && !settings.szBaseFile2[0]) {
        Complain("BiFiled=1 needs a BaseFile2. The settings were not changed.",
                 "BiFiled=1 には BaseFile2 が必要です. 設定は変更していません.");
        return SPOOL_ERROR;
    }
    // The folders of the base names that this command sets, where the
    // recordings will write (names kept as they were are not judged here:
    // Enabled=0 must stay possible whatever they name).
    if ((strcmp(state.settings.szBaseFile, settings.szBaseFile) != 0 &&
         !BaseFolderMade("BaseFile", settings.szBaseFile, fMakeFolders)) ||
        (strcmp(state.settings.szBaseFile2, settings.szBaseFile2) != 0 &&
         !BaseFolderMade("BaseFile2", settings.szBaseFile2, fMakeFolders)))
        return SPOOL_ERROR;
    if (fChanged && !WriteSettingsWhole(files.szIniPath, &settings)) return SPOOL_ERROR;
    Say(g_pOut, "Settings of Spoolcap for %s: %s%s\n", "%s の Spoolcap の設定: %s%s\n", pszFourcc, files.szIniPath,
        !fChanged && !state.fIniExists ? (g_fJapanese ? " (ファイルなし: 既定値)" : " (no file: defaults)")
                                                   : "");
    PutSettingsText(&settings);
    if (!state.fSpoolcap)
        Say(g_pOut, "(Spoolcap does not stand in front of %s yet: spool install %s)\n",
            "(%s の前にはまだ Spoolcap がありません: spool install %s)\n", pszFourcc, pszFourcc);
    return SPOOL_OK;
}
