// spool install and uninstall: Spoolcap put in front of an installed video
// codec, and taken away again, so that a failure at any step leaves the
// codec working as before; and what the commands share with status and
// config: where the system finds a codec and what kind of module a file is.
#include "cli/install.h"

#include "cli/spool.h"
#include "codec/spoolcap.h"
#include "lister/listing.h"
#include "scaffold/paths.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace {

// No codec module comes near this; a larger file is not read whole.
const size_t MODULE_MAX = 256u << 20;

#ifdef _WIN32
const char s_szDrivers32[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
const char s_szSpoolcapModule[] = "spoolcap.dll";
#else
const char s_szDrivers32[] = "Software/Microsoft/Windows NT/CurrentVersion/Drivers32";
const char s_szSpoolcapModule[] = "spoolcap.so";
#endif

DWORD ReadLe32(const BYTE *pb) { return pb[0] | (DWORD)pb[1] << 8 | (DWORD)pb[2] << 16 | (DWORD)pb[3] << 24; }

// Copies the text and cuts blanks from both ends; FALSE when it does not fit.
BOOL CopyTrimmed(LPCSTR psz, LPSTR pszOut, size_t cbOut)
{
    while (*psz == ' ' || *psz == '\t') psz++;
    size_t cch = strlen(psz);
    while (cch && (psz[cch - 1] == ' ' || psz[cch - 1] == '\t')) cch--;
    if (cch >= cbOut) return FALSE;
    memcpy(pszOut, psz, cch);
    pszOut[cch] = 0;
    return TRUE;
}

// The system folder whose codecs this process loads. A 32-bit process on
// 64-bit Windows is given System32 and sent on to SysWOW64; the messages
// name the folder where the files are.
UINT GetProcessSystemFolder(LPSTR pszFolder, UINT cbFolder)
{
#ifdef _WIN32
    BOOL fWow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &fWow64) && fWow64) {
        UINT cch = GetSystemWow64DirectoryA(pszFolder, cbFolder);
        if (cch && cch < cbFolder) return cch;
    }
#endif
    return GetSystemDirectoryA(pszFolder, cbFolder);
}

// The FOURCC as text without the blanks that fill a short one.
void FormatFourccTrimmed(DWORD fcc, LPSTR psz5)
{
    FormatFourcc(fcc, psz5);
    for (int i = 3; i >= 0 && psz5[i] == ' '; i--) psz5[i] = 0;
}

}  // namespace

BOOL FormatPath(LPSTR pszOut, LPCSTR pszFormat, LPCSTR pszA, LPCSTR pszB)
{
    int n = snprintf(pszOut, MAX_PATH, pszFormat, pszA, pszB);
    return n > 0 && n < MAX_PATH;
}

namespace {

// The file system's protection of the system's own files, where the system
// has it.
BOOL IsProtectedFile(LPCSTR pszPath)
{
#ifdef _WIN32
    typedef BOOL(WINAPI * SFCISFILEPROTECTED)(HANDLE, LPCWSTR);
    HMODULE hSfc = LoadLibraryA("sfc.dll");
    if (!hSfc) return FALSE;
    SFCISFILEPROTECTED pfnIsProtected = ProcAs<SFCISFILEPROTECTED>(GetProcAddress(hSfc, "SfcIsFileProtected"));
    WCHAR wszPath[MAX_PATH];
    BOOL fProtected = pfnIsProtected && MultiByteToWideChar(CP_ACP, 0, pszPath, -1, wszPath, MAX_PATH) > 0 &&
                      pfnIsProtected(NULL, wszPath);
    FreeLibrary(hSfc);
    return fProtected;
#else
    (void)pszPath;
    return FALSE;
#endif
}

}  // namespace

BOOL WriteNewFile(LPCSTR pszPath, const BYTE *pb, size_t cb, DWORD *pdwError, FILEID *pId)
{
    GATEPROOF proof = {GATE_MADE, {0, 0, 0}, 0};
    HANDLE hFile = GateCreateNew(pszPath, GENERIC_WRITE, &proof.id);
    if (hFile == INVALID_HANDLE_VALUE) {
        *pdwError = GetLastError();
        return FALSE;
    }
    BOOL fOk = TRUE;
    for (size_t cbDone = 0; fOk && cbDone < cb;) {
        DWORD cbChunk = cb - cbDone > (1u << 20) ? (1u << 20) : (DWORD)(cb - cbDone), cbWritten = 0;
        fOk = WriteFile(hFile, pb + cbDone, cbChunk, &cbWritten, NULL);
        // Fewer bytes written than asked, without an error: the disk is full.
        if (fOk && cbWritten != cbChunk) {
            SetLastError(ERROR_DISK_FULL);
            fOk = FALSE;
        }
        cbDone += cbChunk;
    }
    if (fOk) fOk = FlushFileBuffers(hFile);
    if (pId) *pId = proof.id;
    *pdwError = fOk ? ERROR_SUCCESS : GetLastError();
    if (!CloseHandle(hFile)) fOk = FALSE;
    if (!fOk) GateDelete(pszPath, &proof);
    return fOk;
}

BOOL RenameChecked(LPCSTR pszFrom, const FILEID *pId, LPCSTR pszTo)
{
    GATEPROOF proof = {GATE_CHECKED, *pId, 0};
    int nResult = GateRename(pszFrom, &proof, pszTo, FALSE);
    if (nResult == GATE_DONE) return TRUE;
    if (nResult == GATE_EXISTS) SetLastError(ERROR_ALREADY_EXISTS);
    else if (nResult != GATE_FAILED) SetLastError(ERROR_FILE_INVALID);
    return FALSE;
}

int DeleteOwnCopy(LPCSTR pszCopy)
{
    FILEFACTS facts;
    LookAtName(pszCopy, &facts);
    if (facts.nKind == FILEKIND_MISSING && !facts.fLink) return COPY_NONE;
    DWORD dwMachine = 0;
    BOOL fOurs = FALSE;
    GATEPROOF proof = {GATE_CHECKED, {0, 0, 0}, 0};
    if (facts.fLink || facts.nKind != FILEKIND_FILE || !ReadModuleKind(pszCopy, &dwMachine, &fOurs, &proof.id) ||
        !fOurs)
        return COPY_NOT_OURS;
    int nResult = GateDelete(pszCopy, &proof);
    if (nResult == GATE_DONE || nResult == GATE_GONE) return COPY_DELETED;
    return nResult == GATE_FAILED ? COPY_IN_USE : COPY_NOT_OURS;
}

void ComplainNoAccess(LPCSTR pszFolderFile, DWORD dwError)
{
    if (dwError == ERROR_DISK_FULL || dwError == ERROR_HANDLE_DISK_FULL)
        Complain("cannot write beside %s: the disk is full. Nothing was changed.",
                 "%s の隣に書き込めません: ディスクがいっぱいです. 何も変更していません.", pszFolderFile);
    else if (dwError == ERROR_FILE_INVALID)
        Complain("cannot go on beside %s: a file there was replaced by another while spool was working. Nothing was "
                 "changed.",
                 "%s の隣で続けられません: 作業中にそこのファイルが別のファイルに置き換えられました. 何も変更していません.",
                 pszFolderFile);
    else if (dwError == ERROR_ACCESS_DENIED)
        Complain("cannot write beside %s: run spool as an administrator. Nothing was changed.",
                 "%s の隣に書き込めません: 管理者として spool を実行してください. 何も変更していません.",
                 pszFolderFile);
    else
        Complain("cannot write beside %s (error %lu). Nothing was changed.",
                 "%s の隣に書き込めません (エラー %lu). 何も変更していません.", pszFolderFile,
                 (unsigned long)dwError);
}

namespace {

// A file that a crashed run of ours left under the temporary name may go;
// anything else there is not ours.
BOOL ClearOwnLeftover(LPCSTR pszTemp)
{
    int nCopy = DeleteOwnCopy(pszTemp);
    if (nCopy == COPY_NONE || nCopy == COPY_DELETED) return TRUE;
    if (nCopy == COPY_NOT_OURS) {
        Complain("%s is in the way and is not a copy of Spoolcap; move it away first. Nothing was changed.",
                 "%s があり, Spoolcap の複写ではありません. 先に移してください. 何も変更していません.", pszTemp);
        return FALSE;
    }
    // A copy of an earlier run that a program still has loaded.
    SayCopyInUse(pszTemp);
    Complain("%s is still in the way. Nothing was changed.", "%s がまだ残っています. 何も変更していません.", pszTemp);
    return FALSE;
}

// A FOURCC as the user writes it for a codec: letters, digits, '_' and '-',
// as FOURCCs have them; nothing that would mean something else in a
// registry value's or a profile key's name.
BOOL IsCodecFourccText(LPCSTR pszText)
{
    for (LPCSTR p = pszText; *p; p++)
        if (!((*p >= '0' && *p <= '9') || (*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || *p == '_' ||
              *p == '-'))
            return FALSE;
    return TRUE;
}

// The state that a failed rollback leaves, said so that the user can mend it
// by hand.
void ComplainStranded(const CODECFILES *pFiles, LPCSTR pszTemp)
{
    Complain("could not restore the codec: put %s back as %s and delete %s by hand.",
             "コーデックを元に戻せませんでした: %s を %s に戻し, %s を手で削除してください.", pFiles->szOrgPath,
             pFiles->szPath, pszTemp);
}

// Reads the codec's driver and Spoolcap, and refuses what cannot be
// installed. *ppbSpoolcap holds Spoolcap's bytes when it succeeds.
BOOL CheckInstallable(const CODECFILES *pFiles, LPCSTR pszSpoolcap, BOOL fAfterUpdate, BYTE **ppbSpoolcap,
                      size_t *pcbSpoolcap, FILEID *pidDriver)
{
    DWORD dwCodec = 0;
    BOOL fSpoolcap = FALSE;
    if (!FileExists(pszSpoolcap)) {
        Complain("Spoolcap's module %s is not there (give it with --dll). Nothing was changed.",
                 "Spoolcap のモジュール %s がありません (--dll で指定してください). 何も変更していません.", pszSpoolcap);
        return FALSE;
    }
    if (!ReadWholeFile(pszSpoolcap, ppbSpoolcap, pcbSpoolcap, NULL) || !IsSpoolcapImage(*ppbSpoolcap, *pcbSpoolcap)) {
        Complain("%s is not a Spoolcap module (give it with --dll). Nothing was changed.",
                 "%s は Spoolcap のモジュールではありません (--dll で指定してください). 何も変更していません.",
                 pszSpoolcap);
        return FALSE;
    }
    if (!ReadModuleKind(pFiles->szPath, &dwCodec, &fSpoolcap, pidDriver)) {
        Complain("the codec %s is listed with %s, which cannot be read. Nothing was changed.",
                 "コーデック %s のドライバ %s を読めません. 何も変更していません.", pFiles->szFourcc,
                 pFiles->szPath);
        return FALSE;
    }
    DWORD dwSpoolcap = GetImageMachine(*ppbSpoolcap, *pcbSpoolcap);
    if (!fSpoolcap && FileExists(pFiles->szOrgPath)) {
        // The codec was updated over Spoolcap: its new driver has the name,
        // the old one is still the ".org".
        if (!fAfterUpdate) {
            Complain("%s is not Spoolcap, but %s is there, left from before an update of the codec: spool install %s "
                     "--after-update moves it aside and installs. Nothing was changed.",
                     "%s は Spoolcap ではありませんが, コーデックの更新前から残った %s があります: spool install %s "
                     "--after-update でそれを別名に移してインストールします. 何も変更していません.",
                     pFiles->szPath, pFiles->szOrgPath, pFiles->szFourcc);
            return FALSE;
        }
        // Moved aside by the caller, once every check has passed.
    }
    if (fSpoolcap) {
        Complain("Spoolcap already stands in front of %s (%s is Spoolcap). Nothing was changed.",
                 "%s の前にはすでに Spoolcap があります (%s は Spoolcap です). 何も変更していません.", pFiles->szFourcc,
                 pFiles->szPath);
        return FALSE;
    }
    if (dwCodec == 0) {
        Complain("%s is not a module. Nothing was changed.", "%s はモジュールではありません. 何も変更していません.",
                 pFiles->szPath);
        return FALSE;
    }
    if (dwCodec != dwSpoolcap) {
        Complain("%s is a %s module and %s a %s one: install the Spoolcap of the codec's width. Nothing was changed.",
                 "%s は %s 用, %s は %s 用です: コーデックと同じビット数 (32 ビットか 64 ビット) の Spoolcap を使ってください. 何も変更していません.",
                 pFiles->szPath, MachineName(dwCodec), pszSpoolcap, MachineName(dwSpoolcap));
        return FALSE;
    }
    if (IsProtectedFile(pFiles->szPath)) {
        Complain("%s is protected by the system and cannot be replaced. Nothing was changed.",
                 "%s はシステムに保護されているため置き換えられません. 何も変更していません.", pFiles->szPath);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

BOOL BaseFolderThere(LPCSTR pszBase, LPSTR pszFolder)
{
    snprintf(pszFolder, MAX_PATH, "%s", pszBase);
    // The name is the text after the last separator of either kind ('/' is
    // never the second byte of a character).
    LPSTR pszName = GetFileNamePart(pszFolder), pszSlash = strrchr(pszFolder, '/');
    if (pszSlash && pszSlash + 1 > pszName) pszName = pszSlash + 1;
    // A root ("/", "C:\\") keeps its separator.
    BOOL fRoot = pszName - 1 == pszFolder || (pszName - 2 >= pszFolder && pszName[-2] == ':');
    if (pszName > pszFolder) pszName[fRoot ? 0 : -1] = '\0';
    FILEFACTS facts;
    LookAtName(pszFolder, &facts);
    return !pszBase[0] || facts.nKind == FILEKIND_FOLDER;
}

void WriteFirstSettings(const CODECFILES *pFiles)
{
    if (FileExists(pFiles->szIniPath)) {
        SPOOLSETTINGS settings;
        ReadSettingsFile(pFiles->szIniFile, &settings);
        Say(g_pOut, "Settings: %s (kept as it was)%s\n", "設定: %s (そのまま)%s\n", pFiles->szIniPath,
            !settings.fEnabled ? "." : g_fJapanese ? ": 参照ファイル作成は有効です." : ": reference writing is ON.");
        if (settings.fEnabled) {
            fprintf(g_pOut, "  BaseFile=%s\n", settings.szBaseFile);
            if (settings.fBiFiled) fprintf(g_pOut, "  BaseFile2=%s\n", settings.szBaseFile2);
        }
        return;
    }
    SPOOLSETTINGS settings;
    memset(&settings, 0, sizeof(settings));
    if (WriteSettingsFile(pFiles->szIniFile, &settings))
        Say(g_pOut, "Settings: %s, reference writing off (spool config %s Enabled=1 BaseFile=... turns it on).\n",
            "設定: %s, 参照ファイル作成は無効 (spool config %s Enabled=1 BaseFile=... で有効にします).\n",
            pFiles->szIniPath, pFiles->szFourcc);
    else
        Complain("could not write %s; Spoolcap reads no settings and writes no references until it is written.",
                 "%s を書き込めませんでした. 書き込むまで Spoolcap は参照ファイルを作成しません.", pFiles->szIniPath);
}

namespace {

// Settings kept from an earlier install that turn reference writing on
// must name folders that are there: else every recording fails at its
// first frame. FALSE after a message, unless the user keeps them anyway.
BOOL SettingsStillServe(const CODECFILES *pFiles, BOOL fKeepSettings)
{
    if (!FileExists(pFiles->szIniPath)) return TRUE;
    SPOOLSETTINGS settings;
    ReadSettingsFile(pFiles->szIniFile, &settings);
    if (!settings.fEnabled || fKeepSettings) return TRUE;
    LPCSTR apszBases[2] = {settings.szBaseFile, settings.fBiFiled ? settings.szBaseFile2 : ""};
    for (LPCSTR pszBase : apszBases) {
        CHAR szFolder[MAX_PATH];
        if (BaseFolderThere(pszBase, szFolder)) continue;
        Complain("%s turns reference writing on (Enabled=1) with the base name %s, whose folder %s is not there: every "
                 "recording would fail. spool config %s BaseFile=... names another (Enabled=0 turns it off), or "
                 "--keep-settings installs anyway. Nothing was changed.",
                 "%s は参照ファイル作成を有効 (Enabled=1) にしていますが, ベース名 %s のフォルダー %s がありません. "
                 "このままでは録画がすべて失敗します. spool config %s BaseFile=... で別の名前を指定するか (Enabled=0 で無効), "
                 "--keep-settings でそのままインストールしてください. 何も変更していません.",
                 pFiles->szIniPath, pszBase, szFolder, pFiles->szFourcc);
        return FALSE;
    }
    return TRUE;
}

// Moves a ".org" left from before an update of the codec aside under a
// dated name; FALSE after a message.
BOOL MoveOrgAside(const CODECFILES *pFiles, LPSTR pszAside, FILEID *pidOrg)
{
    DWORD dwMachine = 0;
    if (!ReadModuleKind(pFiles->szOrgPath, &dwMachine, NULL, pidOrg)) {
        ComplainNoAccess(pFiles->szPath, GetLastError());
        pszAside[0] = '\0';
        return FALSE;
    }
    CHAR szStamp[32];
    time_t tNow = time(NULL);
    if (!strftime(szStamp, sizeof(szStamp), ".%Y%m%d-%H%M%S", localtime(&tNow))) szStamp[0] = '\0';
    // A name of its own: the stamp, and a number after it when that is
    // taken (never over another file).
    BOOL fMoved = FALSE;
    DWORD dwError = ERROR_FILE_EXISTS;
    for (int n = 1; n < 100 && !fMoved && dwError == ERROR_FILE_EXISTS; n++) {
        CHAR szNumber[16] = "";
        if (n > 1) snprintf(szNumber, sizeof(szNumber), "-%d", n);
        CHAR szStamped[48];
        snprintf(szStamped, sizeof(szStamped), "%s%s", szStamp, szNumber);
        if (!FormatPath(pszAside, "%s%s", pFiles->szOrgPath, szStamped)) break;
        fMoved = RenameChecked(pFiles->szOrgPath, pidOrg, pszAside);
        dwError = fMoved ? ERROR_SUCCESS : GetLastError();
        if (dwError == ERROR_ALREADY_EXISTS) dwError = ERROR_FILE_EXISTS;
    }
    if (!fMoved) {
        ComplainNoAccess(pFiles->szPath, dwError);
        pszAside[0] = '\0';
        return FALSE;
    }
    Say(g_pOut, "%s, the codec's driver from before its update, was moved aside as %s.\n",
        "%s (更新前のコーデックのドライバ) を %s に移しました.\n", pFiles->szOrgPath, pszAside);
    return TRUE;
}

// Puts it back when the install does not go on.
void PutOrgBack(const CODECFILES *pFiles, LPCSTR pszAside, const FILEID *pidOrg)
{
    if (RenameChecked(pszAside, pidOrg, pFiles->szOrgPath))
        Say(g_pOut, "%s was put back as %s.\n", "%s を %s に戻しました.\n", pszAside, pFiles->szOrgPath);
    else
        Complain("%s could not be put back as %s.", "%s を %s に戻せませんでした.", pszAside, pFiles->szOrgPath);
}

// The command's arguments: the FOURCC and, for install, --dll.
BOOL TakeInstallArguments(LPCSTR pszCommand, int argc, char **argv, LPCSTR *ppszFourcc, LPCSTR *ppszDll,
                          BOOL *pfAfterUpdate, BOOL *pfKeepSettings)
{
    *ppszFourcc = NULL;
    for (int i = 0; i < argc; i++) {
        LPCSTR pszValue = NULL;
        if (ppszDll && TakeOption(argc, argv, &i, "--dll", NULL, &pszValue)) {
            if (!pszValue) return UsageError(pszCommand, argv[i]), FALSE;
            *ppszDll = pszValue;
        } else if (pfAfterUpdate && TakeOption(argc, argv, &i, "--after-update", NULL, NULL)) {
            *pfAfterUpdate = TRUE;
        } else if (pfKeepSettings && TakeOption(argc, argv, &i, "--keep-settings", NULL, NULL)) {
            *pfKeepSettings = TRUE;
        } else if (argv[i][0] != '-' && !*ppszFourcc) {
            *ppszFourcc = argv[i];
        } else {
            return UsageError(pszCommand, argv[i]), FALSE;
        }
    }
    if (!*ppszFourcc) return UsageError(pszCommand, "FOURCC"), FALSE;
#ifndef _WIN32
    // Natively the system folder is the stand-in's: only one that the user
    // names is acted on.
    const char *pszWindir = getenv("WINDIR");
    if (!pszWindir || !pszWindir[0]) {
        Complain("%s works on Windows; here only with WINDIR naming a Windows folder.",
                 "%s は Windows 用です. ここでは WINDIR で Windows フォルダを指定したときだけ動きます.", pszCommand);
        return FALSE;
    }
#endif
    return TRUE;
}

}  // namespace

const LPCSTR g_apszCopySuffixes[2] = {".spoolcap-new", ".spoolcap-old"};

BOOL (*g_pfnAskCodec)(const CODECFILES *pFiles, CODECANSWER *pAnswer) = AskCodec;

BOOL FindCodecDriver(DWORD fcc, LPSTR pszDriver, size_t cbDriver, BOOL *pfInRegistry)
{
    CHAR szFourcc[5], szKey[16];
    FormatFourccTrimmed(fcc, szFourcc);
    snprintf(szKey, sizeof(szKey), "vidc.%s", szFourcc);
    CHAR szValue[MAX_PATH] = "";
    *pfInRegistry = FALSE;
    HKEY hKey = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, s_szDrivers32, 0, KEY_QUERY_VALUE, &hKey) == ERROR_SUCCESS) {
        DWORD dwType = 0, cbValue = sizeof(szValue) - 1;
        if (RegQueryValueExA(hKey, szKey, NULL, &dwType, (LPBYTE)szValue, &cbValue) == ERROR_SUCCESS &&
            (dwType == REG_SZ || dwType == REG_EXPAND_SZ)) {
            szValue[cbValue < sizeof(szValue) ? cbValue : sizeof(szValue) - 1] = 0;
            *pfInRegistry = szValue[0] != 0;
        } else {
            szValue[0] = 0;
        }
        RegCloseKey(hKey);
    }
    if (!*pfInRegistry) GetPrivateProfileStringA("drivers32", szKey, "", szValue, sizeof(szValue), "system.ini");
    return szValue[0] != 0 && CopyTrimmed(szValue, pszDriver, cbDriver) && pszDriver[0] != 0;
}

int FindCodecFiles(DWORD fcc, CODECFILES *pFiles)
{
    memset(pFiles, 0, sizeof(*pFiles));
    pFiles->fcc = fcc;
    FormatFourccTrimmed(fcc, pFiles->szFourcc);
    if (!FindCodecDriver(fcc, pFiles->szDriver, sizeof(pFiles->szDriver), &pFiles->fInRegistry))
        return CODECFILES_UNLISTED;
    // A driver listed with a folder lies outside the system folder, where
    // the codec's ".org" would not be found as the codec is.
    if (HasFolderPart(pFiles->szDriver)) return CODECFILES_FOLDER;
    CHAR szSystem[MAX_PATH], szWindows[MAX_PATH];
    UINT cchSystem = GetProcessSystemFolder(szSystem, sizeof(szSystem));
    UINT cchWindows = GetWindowsDirectoryA(szWindows, sizeof(szWindows));
    BOOL fOk = cchSystem && cchSystem < sizeof(szSystem) && cchWindows && cchWindows < sizeof(szWindows) &&
               FormatPath(pFiles->szPath, "%s" PATH_SEP_STR "%s", szSystem, pFiles->szDriver) &&
               FormatPath(pFiles->szOrgPath, "%s%s", pFiles->szPath, ".org") &&
               DeriveIniFileName(pFiles->szDriver, pFiles->szIniFile, sizeof(pFiles->szIniFile)) &&
               FormatPath(pFiles->szIniPath, "%s" PATH_SEP_STR "%s", szWindows, pFiles->szIniFile);
    return fOk ? CODECFILES_OK : CODECFILES_TOO_LONG;
}

BOOL LocateCodecFiles(LPCSTR pszFourcc, CODECFILES *pFiles)
{
    DWORD fcc = 0;
    if (!IsCodecFourccText(pszFourcc) || !ParseFourcc(pszFourcc, &fcc)) {
        Complain("%s is not a FOURCC: one to four letters or digits.",
                 "%s は FOURCC ではありません: 1 から 4 文字の英数字です.", pszFourcc);
        return FALSE;
    }
    switch (FindCodecFiles(fcc, pFiles)) {
    case CODECFILES_OK: snprintf(pFiles->szFourcc, sizeof(pFiles->szFourcc), "%s", pszFourcc); return TRUE;
    case CODECFILES_UNLISTED:
        Complain("no video codec %s is installed (spool status lists them). Nothing was changed.",
                 "ビデオコーデック %s はインストールされていません (spool status で一覧できます). 何も変更していません.",
                 pszFourcc);
        return FALSE;
    case CODECFILES_FOLDER:
        Complain("the codec %s is listed as %s, with a folder; Spoolcap goes only in front of codecs of the system "
                 "folder. Nothing was changed.",
                 "コーデック %s はフォルダ付きの %s として登録されています. Spoolcap はシステムフォルダのコーデックの前に"
                 "だけ置けます. 何も変更していません.",
                 pszFourcc, pFiles->szDriver);
        return FALSE;
    default: Complain("the path of %s is too long.", "%s のパスが長すぎます.", pFiles->szDriver); return FALSE;
    }
}

DWORD GetImageMachine(const BYTE *pb, size_t cb)
{
    if (cb >= 0x40 && pb[0] == 'M' && pb[1] == 'Z') {
        DWORD dwPe = ReadLe32(pb + 0x3C);
        if (dwPe > cb - 6 || memcmp(pb + dwPe, "PE\0\0", 4) != 0) return 0;
        return pb[dwPe + 4] | (DWORD)pb[dwPe + 5] << 8;
    }
    if (cb >= 20 && memcmp(pb, "\x7f" "ELF", 4) == 0) {
        // e_machine, in the file's byte order.
        DWORD dwElf = pb[5] == 2 ? (DWORD)pb[18] << 8 | pb[19] : pb[18] | (DWORD)pb[19] << 8;
        if (dwElf == 3) return 0x014C;
        if (dwElf == 62) return 0x8664;
        if (dwElf == 183) return 0xAA64;
        return 0x10000 | dwElf;
    }
    return 0;
}

LPCSTR MachineName(DWORD dwMachine)
{
    switch (dwMachine) {
    case 0: return g_fJapanese ? "モジュールでないファイル" : "no module";
    case 0x014C: return "x86";
    case 0x8664: return "x64";
    case 0xAA64: return "ARM64";
    default: return g_fJapanese ? "別の機種" : "another machine";
    }
}

BOOL IsSpoolcapImage(const BYTE *pb, size_t cb)
{
    static const char s_szHead[] = SPOOLCAP_MARK_HEAD;
    static const char s_szTail[] = SPOOLCAP_MARK_TAIL;
    const size_t cchHead = sizeof(s_szHead) - 1, cchMark = cchHead + sizeof(s_szTail) - 1;
    if (GetImageMachine(pb, cb) == 0 || cb < cchMark) return FALSE;
    for (const BYTE *p = pb; (p = (const BYTE *)memchr(p, s_szHead[0], (size_t)(pb + cb - cchMark + 1 - p)));
         p++)
        if (memcmp(p, s_szHead, cchHead) == 0 && memcmp(p + cchHead, s_szTail, cchMark - cchHead) == 0) return TRUE;
    return FALSE;
}

BOOL ReadWholeFile(LPCSTR pszPath, BYTE **ppb, size_t *pcb, FILEID *pId)
{
    *ppb = NULL;
    *pcb = 0;
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) return FALSE;
    DWORD dwHigh = 0;
    DWORD cb = GetFileSize(hFile, &dwHigh);
    BYTE *pb = (cb == INVALID_FILE_SIZE || dwHigh || cb > MODULE_MAX) ? NULL : (BYTE *)malloc(cb ? cb : 1);
    DWORD cbRead = 0;
    BOOL fOk = pb && (cb == 0 || (ReadFile(hFile, pb, cb, &cbRead, NULL) && cbRead == cb)) &&
               (!pId || FileIdOfHandle(hFile, pId));
    CloseHandle(hFile);
    if (!fOk) {
        free(pb);
        return FALSE;
    }
    *ppb = pb;
    *pcb = cb;
    return TRUE;
}

BOOL ReadModuleKind(LPCSTR pszPath, DWORD *pdwMachine, BOOL *pfSpoolcap, FILEID *pId)
{
    BYTE *pb = NULL;
    size_t cb = 0;
    if (!ReadWholeFile(pszPath, &pb, &cb, pId)) return FALSE;
    *pdwMachine = GetImageMachine(pb, cb);
    if (pfSpoolcap) *pfSpoolcap = IsSpoolcapImage(pb, cb);
    free(pb);
    return TRUE;
}

BOOL SameCodecInfo(const ICINFO *pA, const ICINFO *pB)
{
    return pA->fccType == pB->fccType && pA->fccHandler == pB->fccHandler && pA->dwFlags == pB->dwFlags &&
           pA->dwVersion == pB->dwVersion && pA->dwVersionICM == pB->dwVersionICM &&
           memcmp(pA->szName, pB->szName, sizeof(pA->szName)) == 0 &&
           memcmp(pA->szDescription, pB->szDescription, sizeof(pA->szDescription)) == 0;
}

BOOL AskCodec(const CODECFILES *pFiles, CODECANSWER *pAnswer)
{
    memset(pAnswer, 0, sizeof(*pAnswer));
    HIC hic = ICOpen(ICTYPE_VIDEO, pFiles->fcc, ICMODE_QUERY);
    if (!hic) return FALSE;
    pAnswer->info.dwSize = sizeof(pAnswer->info);
    BOOL fOk = ICGetInfo(hic, &pAnswer->info, sizeof(pAnswer->info)) != 0;
    CHAR szOrg[MAX_PATH + 8];
    snprintf(szOrg, sizeof(szOrg), "%s.org", pFiles->szDriver);
    pAnswer->fWrapped = GetModuleHandleA(szOrg) != NULL;
    ICClose(hic);
    return fOk;
}

int InstallCommand(int argc, char **argv)
{
    LPCSTR pszFourcc = NULL, pszDll = NULL;
    BOOL fAfterUpdate = FALSE, fKeepSettings = FALSE;
    if (!TakeInstallArguments("install", argc, argv, &pszFourcc, &pszDll, &fAfterUpdate, &fKeepSettings))
        return SPOOL_ERROR;
    CHAR szSpoolcap[MAX_PATH];
    if (pszDll) {
        snprintf(szSpoolcap, sizeof(szSpoolcap), "%s", pszDll);
    } else if (!FormatPath(szSpoolcap, "%s%s", GetProgramFolder(), s_szSpoolcapModule)) {
        Complain("Spoolcap's module is not found: give it with --dll.", "Spoolcap のモジュールが見つかりません: --dll で指定してください.");
        return SPOOL_ERROR;
    }
    CODECFILES files;
    if (!LocateCodecFiles(pszFourcc, &files) || SettleJournal(&files) == SETTLED_STUCK) return SPOOL_ERROR;
    BYTE *pbSpoolcap = NULL;
    size_t cbSpoolcap = 0;
    CODECANSWER before, after;
    CHAR szTemp[MAX_PATH];
    FILEID idDriver = {0, 0, 0}, idOrg = {0, 0, 0};
    BOOL fOk = SettingsStillServe(&files, fKeepSettings) &&
               CheckInstallable(&files, szSpoolcap, fAfterUpdate, &pbSpoolcap, &cbSpoolcap, &idDriver) &&
               FormatPath(szTemp, "%s%s", files.szPath, g_apszCopySuffixes[0]) && ClearOwnLeftover(szTemp);
    if (fOk && !g_pfnAskCodec(&files, &before)) {
        Complain("the codec %s does not open now; Spoolcap could not be checked in front of it. Nothing was changed.",
                 "コーデック %s が開けないため, Spoolcap を前に置いて確かめられません. 何も変更していません.",
                 pszFourcc);
        fOk = FALSE;
    }
    DWORD dwError = ERROR_SUCCESS, dwMachine = fOk ? GetImageMachine(pbSpoolcap, cbSpoolcap) : 0;
    FILEID idCopy = {0, 0, 0};
    // After an update of the codec, its old driver goes aside under a dated
    // name (the user's, never deleted), and comes back if nothing follows.
    CHAR szAside[MAX_PATH] = "";
    if (fOk && fAfterUpdate && FileExists(files.szOrgPath)) fOk = MoveOrgAside(&files, szAside, &idOrg);
    // 1. Spoolcap beside the codec under a name of its own, then the
    // journal that names it and the codec's driver.
    if (fOk && !WriteNewFile(szTemp, pbSpoolcap, cbSpoolcap, &dwError, &idCopy)) {
        ComplainNoAccess(files.szPath, dwError);
        fOk = FALSE;
    }
    free(pbSpoolcap);
    GATEPROOF copyProof = {GATE_MADE, idCopy, 0};
    CODECOP op;
    if (fOk && (!PlanCodecOp(&files, JOURNAL_INSTALL, &idCopy, &idDriver, &op) || !WriteJournal(&files, &op))) {
        GateDelete(szTemp, &copyProof);
        fOk = FALSE;
    }
    if (!fOk) {
        if (szAside[0]) PutOrgBack(&files, szAside, &idOrg);
        return SPOOL_ERROR;
    }
    if (!InstallStepReached(1)) return SPOOL_ERROR;
    // 2. The codec's driver (the file the checks read) keeps its bytes under
    // ".org"; 3. Spoolcap takes the codec's name.
    int nDone = 0, nRun = DoRenames(&op, &nDone);
    if (nRun == OP_KILLED) return SPOOL_ERROR;
    dwError = GetLastError();
    // The system now opens the codec through Spoolcap: it must answer as
    // the codec did, with the codec loaded behind it.
    if (nRun != OP_DONE || !g_pfnAskCodec(&files, &after) || !after.fWrapped ||
        !SameCodecInfo(&before.info, &after.info)) {
        if (!UndoRenames(&op, nDone)) {
            ComplainStranded(&files, szTemp);
            return SPOOL_ERROR;
        }
        GateDelete(szTemp, &copyProof);
        RemoveJournal(&files);
        if (szAside[0]) PutOrgBack(&files, szAside, &idOrg);
        if (nRun != OP_DONE) {
            ComplainNoAccess(files.szPath, dwError);
            return SPOOL_ERROR;
        }
        Complain("through Spoolcap the codec %s did not answer as before; the codec was restored as it was.",
                 "Spoolcap を通したコーデック %s の応答が以前と違いました. コーデックを元に戻しました.", pszFourcc);
        // The system loaded no ".org": it opened another module than the
        // file in the system folder (a built-in codec of Wine, say).
        if (!after.fWrapped)
            Complain("the system did not load %s through Spoolcap: it may use a built-in codec of its own for %s "
                     "(under Wine, WINEDLLOVERRIDES=%s=n,b loads the file instead).",
                     "システムは Spoolcap を通して %s を読み込みませんでした. %s には組み込みのコーデックが使われているかもしれません "
                     "(Wine では WINEDLLOVERRIDES=%s=n,b でファイルのほうを読み込みます).",
                     files.szOrgPath, files.szDriver, files.szDriver);
        return SPOOL_ERROR;
    }
    RemoveJournal(&files);
    Say(g_pOut, "Spoolcap (%s) now stands in front of %s: %s; the codec's own driver is %s.\n",
        "Spoolcap (%s) を %s の前に置きました: %s. コーデック本来のドライバは %s です.\n",
        MachineName(dwMachine), pszFourcc, files.szPath, files.szOrgPath);
    WriteFirstSettings(&files);
    return SPOOL_OK;
}

int UninstallCommand(int argc, char **argv)
{
    LPCSTR pszFourcc = NULL;
    if (!TakeInstallArguments("uninstall", argc, argv, &pszFourcc, NULL, NULL, NULL)) return SPOOL_ERROR;
    CODECFILES files;
    if (!LocateCodecFiles(pszFourcc, &files) || SettleJournal(&files) == SETTLED_STUCK) return SPOOL_ERROR;
    DWORD dwMachine = 0, dwOrgMachine = 0;
    BOOL fSpoolcap = FALSE;
    // The identities of the files whose bytes were judged: Spoolcap's, which
    // its copy keeps under the temporary name, and the codec's driver's.
    FILEID idSpoolcap = {0, 0, 0}, idOrg = {0, 0, 0};
    ReadModuleKind(files.szPath, &dwMachine, &fSpoolcap, &idSpoolcap);
    ReadModuleKind(files.szOrgPath, &dwOrgMachine, NULL, &idOrg);
    if (!fSpoolcap) {
        Complain("Spoolcap does not stand in front of %s: %s is not Spoolcap. Nothing was changed.",
                 "%s の前に Spoolcap はありません: %s は Spoolcap ではありません. 何も変更していません.", pszFourcc,
                 files.szPath);
        return SPOOL_ERROR;
    }
    if (dwOrgMachine == 0) {
        Complain("the codec's own driver %s is missing or not a module; it cannot be put back. Nothing was changed.",
                 "コーデック本来のドライバ %s がないか, モジュールではありません. 戻せません. 何も変更していません.",
                 files.szOrgPath);
        return SPOOL_ERROR;
    }
    CODECOP op;
    if (!PlanCodecOp(&files, JOURNAL_UNINSTALL, &idSpoolcap, &idOrg, &op) || !ClearOwnLeftover(op.szCopy))
        return SPOOL_ERROR;
    LPCSTR pszTemp = op.szCopy;
    GATEPROOF copyProof = {GATE_CHECKED, idSpoolcap, 0};
    CODECANSWER before, after;
    BOOL fAnswered = g_pfnAskCodec(&files, &before);
    if (!WriteJournal(&files, &op)) return SPOOL_ERROR;
    if (!InstallStepReached(1)) return SPOOL_ERROR;
    // 2. Spoolcap steps aside; 3. the codec's driver takes its name back.
    int nDone = 0, nRun = DoRenames(&op, &nDone);
    if (nRun == OP_KILLED) return SPOOL_ERROR;
    DWORD dwError = GetLastError();
    // The codec opens by itself and answers as it did through Spoolcap.
    if (nRun != OP_DONE || !g_pfnAskCodec(&files, &after) || after.fWrapped ||
        (fAnswered && !SameCodecInfo(&before.info, &after.info))) {
        if (!UndoRenames(&op, nDone)) {
            ComplainStranded(&files, pszTemp);
            return SPOOL_ERROR;
        }
        RemoveJournal(&files);
        if (nRun != OP_DONE) ComplainNoAccess(files.szPath, dwError);
        else
            Complain("without Spoolcap the codec %s did not answer as before; Spoolcap was put back in front of it.",
                     "Spoolcap を外したコーデック %s の応答が以前と違いました. Spoolcap を元に戻しました.", pszFourcc);
        return SPOOL_ERROR;
    }
    // Spoolcap's copy goes, by its identity. A program that still has it
    // loaded keeps it until the program ends.
    int nDeleted = GateDelete(pszTemp, &copyProof);
    if (nDeleted == GATE_FAILED) SayCopyInUse(pszTemp);
    RemoveJournal(&files);
    Say(g_pOut, "Spoolcap no longer stands in front of %s: %s is the codec's own driver again. %s was kept.\n",
        "%s の前から Spoolcap を外しました: %s はコーデック本来のドライバに戻りました. %s は残しました.\n", pszFourcc,
        files.szPath, files.szIniPath);
    return SPOOL_OK;
}

int RepairCommand(int argc, char **argv)
{
    LPCSTR pszFourcc = NULL;
    if (!TakeInstallArguments("repair", argc, argv, &pszFourcc, NULL, NULL, NULL)) return SPOOL_ERROR;
    CODECFILES files;
    if (!LocateCodecFiles(pszFourcc, &files)) return SPOOL_ERROR;
    int nSettled = SettleJournal(&files);
    if (nSettled == SETTLED_STUCK) return SPOOL_ERROR;
    // Copies of Spoolcap under the temporary names that a run killed before
    // its journal was written left behind.
    BOOL fLeftover = FALSE;
    for (LPCSTR pszSuffix : g_apszCopySuffixes) {
        CHAR szCopy[MAX_PATH];
        if (!FormatPath(szCopy, "%s%s", files.szPath, pszSuffix)) continue;
        int nCopy = DeleteOwnCopy(szCopy);
        if (nCopy == COPY_NONE) continue;
        fLeftover = TRUE;
        if (nCopy == COPY_NOT_OURS)
            Complain("%s is not a copy of Spoolcap; it was left as it is.", "%s は Spoolcap の複写ではないため, そのままにしました.",
                     szCopy);
        else if (nCopy == COPY_DELETED)
            Say(g_pOut, "%s, a copy of Spoolcap left by an earlier run, was deleted.\n",
                "%s (以前の実行が残した Spoolcap の複写) を削除しました.\n", szCopy);
        else
            SayCopyInUse(szCopy);
    }
    if (nSettled == SETTLED_NOTHING && !fLeftover)
        Say(g_pOut, "Nothing of an install or uninstall in front of %s was left to repair.\n",
            "%s の前でのインストールやアンインストールに, 修復するものはありませんでした.\n", pszFourcc);
    return SPOOL_OK;
}

