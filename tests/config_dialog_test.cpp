// Spoolcap's settings dialog, the real dialog from the real resources
// (linked into this test program), driven by messages. Windows only.
#include "cli/spool.h"
#include "codec/resource.h"
#include "codec/spoolcap.h"

#include "tests/samplecodec/samplecodec.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The messages the wrapped codec was sent, five arguments each.
std::vector<SAMPLECALL> g_aCalls;
BOOL g_fCodecConfigurable = TRUE;

LRESULT CALLBACK WrappedProc(DWORD_PTR dwDriverId, HDRVR hDriver, UINT uMsg, LPARAM lParam1, LPARAM lParam2)
{
    g_aCalls.push_back(SAMPLECALL{dwDriverId, hDriver, uMsg, lParam1, lParam2});
    if (uMsg == ICM_CONFIGURE) return g_fCodecConfigurable ? ICERR_OK : ICERR_UNSUPPORTED;
    return ICERR_UNSUPPORTED;
}

// The settings dialog, when it is open as the host opens it.
HWND FindSettingsDialog() { return FindWindowA("#32770", "コーデックの参照化 1.04"); }

std::string ItemText(HWND hDlg, int nId)
{
    CHAR sz[512];
    GetDlgItemTextA(hDlg, nId, sz, sizeof(sz));
    return sz;
}

class ConfigDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitCommonControls();
        g_hModule = GetModuleHandleA(NULL);
        g_pfnWrappedProc = WrappedProc;
        g_aCalls.clear();
        g_fCodecConfigurable = TRUE;
        ini = UniqueName("spdlg") + ".ini";
        snprintf(g_szIniFile, sizeof(g_szIniFile), "%s", ini.c_str());
        context = CONFIGCONTEXT{0x77, (HDRVR)0x88, ICM_CONFIGURE, 0, 0x99};
    }
    void TearDown() override
    {
        if (hDlg) DestroyWindow(hDlg);
        g_pfnWrappedProc = NULL;
        g_pfnGetSaveFileName = NULL;
        DeleteFileA(JoinPath(WindowsDir(), ini).c_str());
    }
    void WriteIni(const std::string &body) { ASSERT_TRUE(WriteText(JoinPath(WindowsDir(), ini), "[Spoolcap]\r\n" + body)); }
    std::string Saved(const char *pszKey)
    {
        CHAR sz[MAX_PATH];
        GetPrivateProfileStringA("Spoolcap", pszKey, "(missing)", sz, sizeof(sz), ini.c_str());
        return sz;
    }
    void Open()
    {
        hDlg = CreateDialogParamA(g_hModule, MAKEINTRESOURCEA(IDD_CONFIG), NULL, ConfigDialogProc, (LPARAM)&context);
        ASSERT_NE(hDlg, nullptr);
    }
    void Close()
    {
        SendMessageA(hDlg, WM_CLOSE, 0, 0);
        DestroyWindow(hDlg);
        hDlg = NULL;
    }
    void Click(int nId)
    {
        CheckDlgButton(hDlg, nId, IsDlgButtonChecked(hDlg, nId) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
        SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), (LPARAM)GetDlgItem(hDlg, nId));
    }
    BOOL Enabled(int nId) { return IsWindowEnabled(GetDlgItem(hDlg, nId)); }
    BOOL Checked(int nId) { return IsDlgButtonChecked(hDlg, nId) == BST_CHECKED; }
    std::string ini;
    CONFIGCONTEXT context;
    HWND hDlg = NULL;
};

TEST_F(ConfigDialog, CaptionEndsWithTheVersion)
{
    Open();
    CHAR sz[128];
    GetWindowTextA(hDlg, sz, sizeof(sz));
    EXPECT_STREQ(sz, "コーデックの参照化 1.04");
    EXPECT_EQ(g_pConfig, &context);
    Close();
    EXPECT_EQ(g_pConfig, nullptr);
}

TEST_F(ConfigDialog, NoBaseNameMeansNoReferenceWriting)
{
    WriteIni("Enabled=1\r\nBaseFile=\r\n");
    Open();
    EXPECT_FALSE(Checked(IDC_ENABLED));
    EXPECT_FALSE(Enabled(IDC_ENABLED));
    Close();
    EXPECT_EQ(Saved("Enabled"), "0");
}

TEST_F(ConfigDialog, TypingABaseNameEnablesTheSwitchAtOnce)
{
    Open();
    SetDlgItemTextA(hDlg, IDC_BASEFILE, "C:\\cap\\take");
    EXPECT_TRUE(Enabled(IDC_ENABLED));
    // The setting follows the field while the dialog is open.
    EXPECT_STREQ(g_Settings.szBaseFile, "C:\\cap\\take");
    SetDlgItemTextA(hDlg, IDC_BASEFILE, "");
    EXPECT_FALSE(Enabled(IDC_ENABLED));
    SetDlgItemTextA(hDlg, IDC_BASEFILE, "C:\\cap\\x");
    Click(IDC_ENABLED);
    Close();
    EXPECT_EQ(Saved("BaseFile"), "C:\\cap\\x");
    EXPECT_EQ(Saved("Enabled"), "1");
}

TEST_F(ConfigDialog, SecondSeriesFollowsItsSwitch)
{
    WriteIni("BaseFile=C:\\a\r\nEnabled=1\r\n");
    Open();
    EXPECT_FALSE(Enabled(IDC_BASEFILE2));
    EXPECT_FALSE(Enabled(IDC_BROWSE2));
    Click(IDC_BIFILED);
    EXPECT_TRUE(Enabled(IDC_BASEFILE2));
    EXPECT_TRUE(Enabled(IDC_BROWSE2));
    EXPECT_TRUE(g_Settings.fBiFiled);
    // Closed with the second base name empty: no alternation.
    Close();
    EXPECT_EQ(Saved("BiFiled"), "0");
    EXPECT_EQ(Saved("Enabled"), "1");
}

TEST_F(ConfigDialog, PaddingBeyondTheSpinRange)
{
    WriteIni("Padding=30\r\n");
    Open();
    EXPECT_EQ(ItemText(hDlg, IDC_PADDING), "30");
    SetDlgItemTextA(hDlg, IDC_PADDING, "250");
    Close();
    EXPECT_EQ(Saved("Padding"), "250");
    // Read back, the field shows it whole.
    Open();
    EXPECT_EQ(ItemText(hDlg, IDC_PADDING), "250");
    SetDlgItemTextA(hDlg, IDC_PADDING, "");
    Close();
    EXPECT_EQ(Saved("Padding"), "0");
}

TEST_F(ConfigDialog, SwitchesOpenAndSaveAsTheFileSays)
{
    WriteIni("BaseFile=C:\\a\r\nBaseFile2=C:\\b\r\nEnabled=1\r\nBiFiled=1\r\nNoCompress=1\r\nOverlapRead=0\r\n"
             "OverlapWrite=1\r\n");
    Open();
    EXPECT_TRUE(Checked(IDC_ENABLED));
    EXPECT_TRUE(Checked(IDC_BIFILED));
    EXPECT_TRUE(Checked(IDC_NOCOMPRESS));
    EXPECT_FALSE(Checked(IDC_OVERLAPREAD));
    EXPECT_TRUE(Checked(IDC_OVERLAPWRITE));
    EXPECT_TRUE(Enabled(IDC_BASEFILE2));
    Click(IDC_OVERLAPREAD);
    Click(IDC_NOCOMPRESS);
    Close();
    EXPECT_EQ(Saved("BaseFile2"), "C:\\b");
    EXPECT_EQ(Saved("BiFiled"), "1");
    EXPECT_EQ(Saved("NoCompress"), "0");
    EXPECT_EQ(Saved("OverlapRead"), "1");
    EXPECT_EQ(Saved("OverlapWrite"), "1");
}

// The dialog does not show the write queue: saving leaves the key as the
// file has it, even a value the codec would not take.
TEST_F(ConfigDialog, KeepsTheWriteQueueAsTheFileHasIt)
{
    for (const char *pszValue : {"300", "lots"}) {
        SCOPED_TRACE(pszValue);
        WriteIni(std::string("Enabled=1\r\nWriteQueueMB=") + pszValue + "\r\n");
        Open();
        Click(IDC_OVERLAPWRITE);
        Close();
        EXPECT_EQ(Saved("OverlapWrite"), "1");
        EXPECT_EQ(Saved("WriteQueueMB"), pszValue);
    }
}

TEST_F(ConfigDialog, WrappedCodecsOwnDialog)
{
    g_fCodecConfigurable = FALSE;
    Open();
    EXPECT_FALSE(Enabled(IDC_CODECCONFIG));
    // Asked as a host asks, with the instance that opened the dialog: a
    // codec may keep its state behind its driver id.
    ASSERT_EQ(g_aCalls.size(), 1u);
    EXPECT_EQ(g_aCalls[0].dwDriverId, (DWORD_PTR)0x77);
    EXPECT_EQ(g_aCalls[0].hDriver, (HDRVR)0x88);
    EXPECT_EQ(g_aCalls[0].lParam1, (LPARAM)-1);
    EXPECT_EQ(g_aCalls[0].lParam2, (LPARAM)ICMF_CONFIGURE_QUERY);
    Close();

    g_fCodecConfigurable = TRUE;
    g_aCalls.clear();
    Open();
    EXPECT_TRUE(Enabled(IDC_CODECCONFIG));
    SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_CODECCONFIG, BN_CLICKED), 0);
    ASSERT_EQ(g_aCalls.size(), 2u);
    EXPECT_EQ(g_aCalls[1].dwDriverId, (DWORD_PTR)0x77);
    EXPECT_EQ(g_aCalls[1].hDriver, (HDRVR)0x88);
    EXPECT_EQ(g_aCalls[1].uMsg, (UINT)ICM_CONFIGURE);
    EXPECT_EQ(g_aCalls[1].lParam1, (LPARAM)hDlg);
    EXPECT_EQ(g_aCalls[1].lParam2, (LPARAM)0x99);
    Close();
}

OPENFILENAMEA g_LastOfn;
std::string g_LastInitialDir, g_LastFile, g_LastTitle;

BOOL WINAPI ChooseName(LPOPENFILENAMEA pofn)
{
    g_LastOfn = *pofn;
    g_LastInitialDir = pofn->lpstrInitialDir ? pofn->lpstrInitialDir : "(none)";
    g_LastFile = pofn->lpstrFile;
    g_LastTitle = pofn->lpstrTitle;
    snprintf(pofn->lpstrFile, pofn->nMaxFile, "D:\\new\\base");
    return TRUE;
}

BOOL WINAPI CancelChoice(LPOPENFILENAMEA) { return FALSE; }

TEST_F(ConfigDialog, BrowsingForABaseName)
{
    WriteIni("BaseFile=C:\\cap\\take\r\nBaseFile2=name\r\nBiFiled=1\r\n");
    g_pfnGetSaveFileName = ChooseName;
    Open();
    SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED), 0);
    EXPECT_EQ(g_LastFile, "C:\\cap\\take");
    EXPECT_EQ(g_LastInitialDir, "C:\\cap");
    EXPECT_EQ(g_LastTitle, "参照ファイルベース名入力");
    EXPECT_EQ(g_LastOfn.Flags, (DWORD)(OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_LONGNAMES));
    EXPECT_EQ(0, memcmp(g_LastOfn.lpstrFilter, "すべてのファイル\0*.*\0\0", sizeof("すべてのファイル\0*.*\0")));
    EXPECT_EQ(g_LastOfn.nMaxFile, (DWORD)MAX_PATH);
    EXPECT_EQ(ItemText(hDlg, IDC_BASEFILE), "D:\\new\\base");
    EXPECT_STREQ(g_Settings.szBaseFile, "D:\\new\\base");

    SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_BROWSE2, BN_CLICKED), 0);
    EXPECT_EQ(g_LastTitle, "2番目の参照ファイルベース名入力");
    EXPECT_EQ(g_LastInitialDir, "");
    EXPECT_STREQ(g_Settings.szBaseFile2, "D:\\new\\base");

    // A cancelled choice changes nothing.
    SetDlgItemTextA(hDlg, IDC_BASEFILE, "kept");
    g_pfnGetSaveFileName = CancelChoice;
    SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED), 0);
    EXPECT_EQ(ItemText(hDlg, IDC_BASEFILE), "kept");
    Close();
}

TEST_F(ConfigDialog, HexFilterOfTheLogMask)
{
    Open();
    HWND hMask = GetDlgItem(hDlg, IDC_LOGMASK);
    // Typed text goes through the filter at once.
    SetWindowTextA(hMask, "12G4");
    EXPECT_EQ(ItemText(hDlg, IDC_LOGMASK), "124");
    DWORD dwStart = 0, dwEnd = 0;
    SendMessageA(hMask, EM_GETSEL, (WPARAM)&dwStart, (LPARAM)&dwEnd);
    EXPECT_EQ(dwStart, 2u);
    EXPECT_EQ(dwEnd, 2u);
    // Lower-case letters are turned to capitals by the field itself.
    SetWindowTextA(hMask, "1a2b");
    EXPECT_EQ(ItemText(hDlg, IDC_LOGMASK), "1A2B");
    // Too long: cut to 8, the caret where the selection began.
    SetWindowTextA(hMask, "12345678");
    SendMessageA(hMask, EM_SETSEL, 3, 3);
    SendMessageA(hMask, EM_REPLACESEL, FALSE, (LPARAM)"9");
    EXPECT_EQ(ItemText(hDlg, IDC_LOGMASK), "12394567");
    SendMessageA(hMask, EM_GETSEL, (WPARAM)&dwStart, (LPARAM)&dwEnd);
    EXPECT_EQ(dwStart, 4u);
    // The count that remains, and a refused length.
    SetWindowTextA(hMask, "ABC");
    EXPECT_EQ(FilterHexEdit(hDlg, IDC_LOGMASK, 8), 3);
    EXPECT_EQ(FilterHexEdit(hDlg, IDC_LOGMASK, 30), -1);
    // The log mask is neither read nor saved.
    Close();
    EXPECT_EQ(Saved("LogMask"), "(missing)");
}

TEST_F(ConfigDialog, OpenedByTheHostThroughConfigure)
{
    // The real path: ICM_CONFIGURE shows the dialog modally; a helper thread
    // closes it once it is there.
    WriteIni("BaseFile=C:\\m\r\nPadding=7\r\n");
    struct Closer {
        static DWORD WINAPI Run(LPVOID)
        {
            for (int i = 0; i < 500; i++) {
                HWND hwnd = FindSettingsDialog();
                if (hwnd) {
                    SetDlgItemTextA(hwnd, IDC_PADDING, "42");
                    PostMessageA(hwnd, WM_CLOSE, 0, 0);
                    return 0;
                }
                Sleep(10);
            }
            return 1;
        }
    };
    HANDLE hThread = CreateThread(NULL, 0, Closer::Run, NULL, 0, NULL);
    EXPECT_EQ(DriverProc(0x77, NULL, ICM_CONFIGURE, 0, 0), ICERR_OK);
    WaitForSingleObject(hThread, 10000);
    DWORD dwExit = 9;
    GetExitCodeThread(hThread, &dwExit);
    CloseHandle(hThread);
    EXPECT_EQ(dwExit, 0u);
    EXPECT_EQ(Saved("Padding"), "42");
    EXPECT_EQ(Saved("BaseFile"), "C:\\m");
    EXPECT_EQ(g_pConfig, nullptr);
}

volatile LONG g_fStopWatching = 0;
volatile LONG g_nDialogsSeen = 0;

// Closes every settings dialog that appears, counting them, until told to stop.
DWORD WINAPI WatchForDialogs(LPVOID)
{
    while (!g_fStopWatching) {
        if (HWND hwnd = FindSettingsDialog()) {
            InterlockedIncrement(&g_nDialogsSeen);
            PostMessageA(hwnd, WM_CLOSE, 0, 0);
        }
        Sleep(5);
    }
    return 0;
}

// The host's query whether a dialog exists opens none, whether its -1 came
// at the full width of lParam1, at 32 bits of it (a 64-bit host built with
// DWORD parameters), or as the query flag; nor is it passed on.
TEST_F(ConfigDialog, QueryInEitherWidthOrByItsFlagOpensNoDialog)
{
    g_fStopWatching = 0;
    g_nDialogsSeen = 0;
    HANDLE hThread = CreateThread(NULL, 0, WatchForDialogs, NULL, 0, NULL);
    ASSERT_NE(hThread, nullptr);
    const LPARAM alQuery[][2] = {
        {(LPARAM)-1, 0}, {(LPARAM)(DWORD)0xFFFFFFFFu, 0}, {0, ICMF_CONFIGURE_QUERY}, {(LPARAM)-1, ICMODE_COMPRESS}};
    for (const auto &query : alQuery) EXPECT_EQ(DriverProc(0x77, NULL, ICM_CONFIGURE, query[0], query[1]), ICERR_OK);
    InterlockedExchange(&g_fStopWatching, 1);
    WaitForSingleObject(hThread, 10000);
    CloseHandle(hThread);
    EXPECT_EQ(g_nDialogsSeen, 0);
    EXPECT_TRUE(g_aCalls.empty());
    EXPECT_EQ(g_pConfig, nullptr);
}

}  // namespace

namespace {

// What spool config sets is what the dialog shows when it opens next, and
// what it refuses leaves the dialog as it was.
TEST_F(ConfigDialog, ShowsWhatSpoolConfigSet)
{
    // A codec registered under a name whose settings file is this test's.
    std::string driver = ini.substr(0, ini.size() - 4) + ".dll";
    ASSERT_TRUE(RegisterVideoCodec("SDLG", driver.c_str()));
    auto Config = [](std::vector<std::string> args) {
        args.insert(args.begin(), {"spool", "config", "SDLG"});
        std::vector<char *> argv;
        for (std::string &arg : args) argv.push_back(&arg[0]);
        g_pOut = tmpfile();
        g_pErr = tmpfile();
        int nStatus = SpoolMain((int)argv.size(), argv.data());
        fclose(g_pOut);
        fclose(g_pErr);
        g_pOut = g_pErr = NULL;
        return nStatus;
    };
    // Base names in a folder that is there, as config asks.
    std::string base = JoinPath(WindowsDir(), "take"), base2 = JoinPath(WindowsDir(), "take2");
    EXPECT_EQ(Config({"BaseFile=" + base, "BaseFile2=" + base2, "BiFiled=1", "Padding=250", "Enabled=1", "OverlapRead=1"}),
              SPOOL_OK);
    EXPECT_EQ(Config({"Padding=x", "NoCompress=1"}), SPOOL_ERROR);
    Open();
    EXPECT_EQ(ItemText(hDlg, IDC_BASEFILE), base);
    EXPECT_EQ(ItemText(hDlg, IDC_BASEFILE2), base2);
    EXPECT_EQ(ItemText(hDlg, IDC_PADDING), "250");
    EXPECT_TRUE(Checked(IDC_ENABLED) && Checked(IDC_BIFILED) && Checked(IDC_OVERLAPREAD));
    EXPECT_FALSE(Checked(IDC_NOCOMPRESS) || Checked(IDC_OVERLAPWRITE));
    EXPECT_TRUE(Enabled(IDC_BASEFILE2));
    Close();
    UnregisterVideoCodec("SDLG");
}

}  // namespace
