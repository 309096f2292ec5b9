// Vfwprobe's real dialog from its real resources, driven by messages, and
// the dialog program helpers. Windows only (under Wine with a display).
#include "lister/listing.h"
#include "lister/resource.h"
#include "scaffold/dialogapp.h"

#include "tests/samplecodec/samplecodec.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string WindowText(HWND hwnd)
{
    int cch = GetWindowTextLengthA(hwnd);
    std::string text((size_t)cch + 1, '\0');
    GetWindowTextA(hwnd, &text[0], cch + 1);
    text.resize((size_t)cch);
    return text;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

class ProbeDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        hDlg = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_VFWPROBE), NULL, MainDialogProc, 0);
        ASSERT_NE(hDlg, nullptr);
        hTable = GetDlgItem(hDlg, IDC_TABLE);
    }
    void TearDown() override
    {
        if (hDlg) DestroyWindow(hDlg);
        // The dialog posts the quit message when it goes; take it out.
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        }
        g_hwndMain = NULL;
        if (pfnControl) pfnControl(SAMPLE_RESET, 0);
        if (hSample) FreeLibrary(hSample);
        UnregisterVideoCodec("SMPL");
        for (const std::string &file : files) DeleteFileA(file.c_str());
    }
    void InstallSample(const std::string &name)
    {
        std::string sys = SystemFolder();
        ASSERT_TRUE(InstallSpoolcap(sys, name));
        files.push_back(JoinPath(sys, name));
        files.push_back(JoinPath(sys, name + ".org"));
        hSample = LoadLibraryA(JoinPath(sys, name + ".org").c_str());
        ASSERT_NE(hSample, nullptr);
        pfnControl = ProcAs<SAMPLECONTROLPROC>(GetProcAddress(hSample, "SampleControl"));
        ASSERT_TRUE(RegisterVideoCodec("SMPL", name.c_str()));
    }
    void Get() { SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_GET, BN_CLICKED), (LPARAM)GetDlgItem(hDlg, IDC_GET)); }
    void Tick(int nId)
    {
        CheckDlgButton(hDlg, nId, BST_CHECKED);
        SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), (LPARAM)GetDlgItem(hDlg, nId));
    }
    // The margins of the table: left, right and bottom.
    void Margins(int *pnLeft, int *pnRight, int *pnBottom)
    {
        RECT rc, rcClient;
        GetWindowRect(hTable, &rc);
        POINT tl = {rc.left, rc.top}, br = {rc.right, rc.bottom};
        ScreenToClient(hDlg, &tl);
        ScreenToClient(hDlg, &br);
        GetClientRect(hDlg, &rcClient);
        *pnLeft = tl.x;
        *pnRight = rcClient.right - br.x;
        *pnBottom = rcClient.bottom - br.y;
    }
    HWND hDlg = NULL;
    HWND hTable = NULL;
    HMODULE hSample = NULL;
    SAMPLECONTROLPROC pfnControl = NULL;
    std::vector<std::string> files;
};

TEST_F(ProbeDialog, OpensWithVersionAndNoBoxTicked)
{
    EXPECT_EQ(WindowText(hDlg), "Vfwprobe 1.04");
    EXPECT_EQ(g_hwndMain, hDlg);
    for (int nId : {IDC_QUERY, IDC_COMPRESS, IDC_DECOMPRESS})
        EXPECT_EQ(IsDlgButtonChecked(hDlg, nId), (UINT)BST_UNCHECKED);
    EXPECT_EQ(WindowText(hTable), "");
}

TEST_F(ProbeDialog, TableLinesAndGetTwice)
{
    std::string name = UniqueName("smplcodec") + ".dll";
    InstallSample(name);
    Get();
    std::string first = WindowText(hTable);
    std::vector<std::string> lines = Lines(first);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "                          driver |  id  | codec");
    EXPECT_EQ(lines[1], std::string(68, '-'));
    std::string expected = std::string(32 - name.size(), ' ') + name + " | SMPL | Sample lossless run-length codec";
    int nFound = 0;
    for (size_t i = 2; i < lines.size(); i++) {
        // Every codec line has the table's shape.
        EXPECT_EQ(lines[i].substr(32, 3), " | ") << lines[i];
        EXPECT_EQ(lines[i].substr(39, 3), " | ") << lines[i];
        if (lines[i] == expected) nFound++;
    }
    EXPECT_EQ(nFound, 1) << first;
    // A second Get replaces the table.
    Get();
    EXPECT_EQ(WindowText(hTable), first);
}

TEST_F(ProbeDialog, ChosenModeReachesTheCodec)
{
    std::string name = UniqueName("smplcodec") + ".dll";
    InstallSample(name);
    pfnControl(SAMPLE_REFUSE_MODES, 1u << ICMODE_COMPRESS);
    Tick(IDC_COMPRESS);
    Get();
    EXPECT_NE(WindowText(hTable).find("                      can't open | SMPL | can't open\r\n"), std::string::npos);
}

TEST_F(ProbeDialog, ResizingKeepsEqualMargins)
{
    int nLeft, nRight, nBottom;
    for (int nRound = 0; nRound < 2; nRound++) {
        RECT rc;
        GetWindowRect(hDlg, &rc);
        MoveWindow(hDlg, rc.left, rc.top, rc.right - rc.left + 120 + 40 * nRound, rc.bottom - rc.top + 90, TRUE);
        Margins(&nLeft, &nRight, &nBottom);
        EXPECT_EQ(nRight, nLeft);
        EXPECT_EQ(nBottom, nLeft);
        // Before and after a listing.
        Get();
    }
    RECT rc;
    GetWindowRect(hDlg, &rc);
    MoveWindow(hDlg, rc.left, rc.top, rc.right - rc.left - 50, rc.bottom - rc.top - 30, TRUE);
    Margins(&nLeft, &nRight, &nBottom);
    EXPECT_EQ(nRight, nLeft);
    EXPECT_EQ(nBottom, nLeft);
}

// ---------------------------------------------------------------------------
// Program helpers

std::vector<std::string> g_aMessages;
UINT g_uLastType = 0;

int WINAPI RecordMessage(HWND, LPCSTR pszText, LPCSTR pszCaption, UINT uType)
{
    g_aMessages.push_back(std::string(pszCaption) + ": " + pszText);
    g_uLastType = uType;
    return IDOK;
}

TEST(DialogApp, RunModelessDialogFailsWithoutTheDialog)
{
    // A module without dialog 101.
    HMODULE hNoDialog = LoadLibraryA(BuiltModule("nodriver").c_str());
    ASSERT_NE(hNoDialog, nullptr);
    g_aMessages.clear();
    g_pfnMessageBox = RecordMessage;
    EXPECT_EQ(RunModelessDialog(hNoDialog, SW_SHOWNORMAL), 0);
    g_pfnMessageBox = MessageBoxA;
    EXPECT_EQ(g_aMessages, std::vector<std::string>({"Vfwprobe: CreateDialog() failed !"}));
    EXPECT_EQ(g_uLastType & MB_ICONMASK, (UINT)MB_ICONERROR);
    FreeLibrary(hNoDialog);
}

TEST(DialogApp, RunModelessDialogEndsWithTheQuitCode)
{
    // The dialog closes itself from within the loop: its destruction posts
    // the quit message, whose code the loop returns.
    HWND hwndPoster = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    struct Closer {
        static void CALLBACK Tick(HWND hwnd, UINT, UINT_PTR idTimer, DWORD)
        {
            KillTimer(hwnd, idTimer);
            if (g_hwndMain) SendMessageA(g_hwndMain, WM_CLOSE, 0, 0);
        }
    };
    SetTimer(hwndPoster, 2, 50, Closer::Tick);
    EXPECT_EQ(RunModelessDialog(GetModuleHandleA(NULL), SW_HIDE), 0);
    EXPECT_EQ(g_hInstance, GetModuleHandleA(NULL));
    DestroyWindow(hwndPoster);
    g_hwndMain = NULL;
}

HWND MakePopup(int w, int h)
{
    return CreateWindowA("STATIC", "", WS_POPUP, 0, 0, w, h, NULL, NULL, NULL, NULL);
}

TEST(DialogApp, CenterWindow)
{
    RECT rcDesk;
    GetWindowRect(GetDesktopWindow(), &rcDesk);
    int nDeskW = rcDesk.right - rcDesk.left, nDeskH = rcDesk.bottom - rcDesk.top;
    HWND hwnd = MakePopup(101, 51);
    RECT rc;
    // On the desktop: truncating division.
    CenterWindow(hwnd, NULL);
    GetWindowRect(hwnd, &rc);
    EXPECT_EQ(rc.left, rcDesk.left + (nDeskW - 101) / 2);
    EXPECT_EQ(rc.top, rcDesk.top + (nDeskH - 51) / 2);
    // On a reference window near the edge: kept inside the desktop.
    HWND hwndRef = MakePopup(60, 40);
    SetWindowPos(hwndRef, NULL, nDeskW - 30, -10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    CenterWindow(hwnd, hwndRef);
    GetWindowRect(hwnd, &rc);
    EXPECT_EQ(rc.right, rcDesk.right);
    EXPECT_EQ(rc.top, 0);
    SetWindowPos(hwndRef, NULL, -50, nDeskH - 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    CenterWindow(hwnd, hwndRef);
    GetWindowRect(hwnd, &rc);
    EXPECT_EQ(rc.left, 0);
    EXPECT_EQ(rc.bottom, rcDesk.bottom);
    // Without a reference there is no clamping: a window larger than the
    // desktop gets a negative position.
    HWND hwndBig = MakePopup(nDeskW + 200, nDeskH + 100);
    CenterWindow(hwndBig, NULL);
    GetWindowRect(hwndBig, &rc);
    EXPECT_EQ(rc.left, -100);
    EXPECT_EQ(rc.top, -50);
    // The size stays.
    EXPECT_EQ(rc.right - rc.left, nDeskW + 200);
    DestroyWindow(hwndBig);
    DestroyWindow(hwndRef);
    DestroyWindow(hwnd);
}

TEST(DialogApp, PumpMessageTakesOnlyTheMainWindowsMessages)
{
    HWND hwndMain = MakePopup(10, 10);
    HWND hwndChild = CreateWindowA("STATIC", "", WS_CHILD, 0, 0, 5, 5, hwndMain, NULL, NULL, NULL);
    HWND hwndOther = MakePopup(10, 10);
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
    }
    g_hwndMain = hwndMain;
    // An empty queue: back at once.
    PumpMessage();
    const UINT WM_TEST = WM_APP + 7;
    PostMessageA(hwndOther, WM_TEST, 1, 0);
    PostMessageA(hwndChild, WM_TEST, 2, 0);
    PostMessageA(hwndMain, WM_TEST, 3, 0);
    PumpMessage();  // the child's
    PumpMessage();  // the main window's
    PumpMessage();  // nothing more of ours
    EXPECT_TRUE(PeekMessageA(&msg, NULL, WM_TEST, WM_TEST, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, hwndOther);
    EXPECT_FALSE(PeekMessageA(&msg, NULL, WM_TEST, WM_TEST, PM_REMOVE));
    g_hwndMain = NULL;
    DestroyWindow(hwndOther);
    DestroyWindow(hwndMain);
}

TEST(DialogApp, GdiObjectWrappers)
{
    HDC hdc = CreateCompatibleDC(NULL);
    HBITMAP hbmp = CreateCompatibleBitmap(hdc, 4, 4);
    HGDIOBJ hOld = SelectGdiObject(hdc, hbmp, "ME.hbmpFrame");
    EXPECT_NE(hOld, nullptr);
    EXPECT_EQ(SelectGdiObject(hdc, hOld, "ME.hbmpFrame"), (HGDIOBJ)hbmp);
    EXPECT_TRUE(DeleteGdiObject(hbmp, "ME.hbmpFrame"));
    DeleteDC(hdc);
}

}  // namespace
