// Spoolmend's real dialog from its real resources, driven by messages, with
// the message box and the file dialogs answered by the test. Windows only
// (under Wine with a display).
#include "salvage/window.h"
#include "codec/refformat.h"
#include "scaffold/dialogapp.h"

#include "tests/salvage_fixture.h"
#include "tests/samplecodec/samplecodec.h"

#include "tests/dialog_driver.h"

#include <string.h>

namespace {

std::vector<SHOWN> g_boxes;
std::string g_chosenFile;                 // what the file dialog stand-ins answer
std::vector<std::string> g_chooserItems;  // what dialog 103 offered
std::string g_chooserPick;                // the entry to pick in it ("" keeps its choice)
DWORD g_dwDialogFlags;

int WINAPI RecordBox(HWND, LPCSTR pszText, LPCSTR pszCaption, UINT uType)
{
    g_boxes.push_back(SHOWN{pszText, pszCaption, uType});
    return IDOK;
}

BOOL WINAPI ChooseFile(LPOPENFILENAMEA pofn)
{
    g_dwDialogFlags = pofn->Flags;
    if (g_chosenFile.empty()) return FALSE;
    if (pofn->Flags & OFN_ENABLETEMPLATE) {
        // The save dialog's own child: the codec chooser from the program's
        // template, driven by its hook, ended as the dialog would end it.
        HWND hChild = CreateDialogParamA(pofn->hInstance, pofn->lpTemplateName, g_hwndMain, (DLGPROC)pofn->lpfnHook,
                                         (LPARAM)pofn);
        EXPECT_NE(hChild, nullptr);
        if (!hChild) return FALSE;
        HWND hList = GetDlgItem(hChild, IDC_CODEC);
        g_chooserItems.clear();
        int n = (int)SendMessageA(hList, CB_GETCOUNT, 0, 0);
        for (int i = 0; i < n; i++) {
            char sz[CODECENTRY_SIZE];
            SendMessageA(hList, CB_GETLBTEXT, (WPARAM)i, (LPARAM)sz);
            g_chooserItems.push_back(sz);
        }
        if (!g_chooserPick.empty())
            SendMessageA(hList, CB_SETCURSEL, SendMessageA(hList, CB_FINDSTRING, (WPARAM)-1, (LPARAM)g_chooserPick.c_str()),
                         0);
        DestroyWindow(hChild);
    }
    snprintf(pofn->lpstrFile, pofn->nMaxFile, "%s", g_chosenFile.c_str());
    return TRUE;
}

std::string Boxes()
{
    std::string all;
    for (const SHOWN &box : g_boxes) all += "[" + box.text + "] ";
    return all;
}

std::string Text(HWND hwnd) { return WindowText(hwnd); }

class Window : public SalvageTest {
protected:
    void SetUp() override
    {
        SalvageTest::SetUp();
        g_boxes.clear();
        g_chosenFile.clear();
        g_chooserPick.clear();
        g_szAviFile[0] = '\0';
        g_pfnMessageBox = RecordBox;
        g_pfnGetOpenFileName = ChooseFile;
        g_pfnGetSaveFileName = ChooseFile;
        g_hInstance = GetModuleHandleA(NULL);
        g_fccHandler = 0;
        hDlg = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_SALVAGE), NULL, MainDialogProc, 0);
        ASSERT_NE(hDlg, nullptr);
        Settle();
    }
    void TearDown() override
    {
        if (IsWindow(hDlg)) {
            g_fBusy = 0;
            SendMessageA(hDlg, WM_CLOSE, 0, 0);
        }
        Settle();
        g_hwndMain = NULL;
        g_pfnMessageBox = MessageBoxA;
        SalvageTest::TearDown();
    }
    HWND Item(int nId) { return GetDlgItem(hDlg, nId); }
    void Click(int nId) { ClickItem(hDlg, nId); }
    bool Enabled(int nId) { return IsWindowEnabled(Item(nId)) != FALSE; }
    bool Visible(int nId) { return (GetWindowLongA(Item(nId), GWL_STYLE) & WS_VISIBLE) != 0; }
    void Scroll(UINT uRequest) { ScrollItem(hDlg, IDC_FRAMESCROLL, uRequest); }
    void ClickWithShift(bool fShift) { ::ClickWithShift(hDlg, fShift); }
    void Drop(const std::vector<std::string> &paths) { DropFiles(hDlg, paths); }
    void ChooseCodec(const char *pszPrefix)
    {
        HWND hList = Item(IDC_CODEC);
        SendMessageA(hList, CB_SETCURSEL, SendMessageA(hList, CB_FINDSTRING, (WPARAM)-1, (LPARAM)pszPrefix), 0);
        SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_CODEC, CBN_SELENDOK), (LPARAM)hList);
        Settle();
    }
    void TypeInto(int nId, const char *pszText)
    {
        SetWindowTextA(Item(nId), pszText);
        SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(nId, CBN_EDITCHANGE), (LPARAM)Item(nId));
        Settle();
    }
    HWND hDlg = NULL;
};

}  // namespace

TEST_F(Window, StartsWithTheStoredSettingsApplied)
{
    EXPECT_EQ(Text(hDlg), "Spoolmend 1.04");
    EXPECT_TRUE(Visible(IDC_SCANALL));
    EXPECT_FALSE(Visible(IDC_WRITEAVI));
    EXPECT_FALSE(Enabled(IDC_ABORT));
    EXPECT_FALSE(Enabled(IDC_CODECCONFIG));
    EXPECT_FALSE(Enabled(IDC_FRAMESCROLL));
    EXPECT_TRUE(Enabled(IDC_OPEN));
    EXPECT_EQ(Text(Item(IDC_WIDTH)), "720");
    EXPECT_EQ(Text(Item(IDC_HEIGHT)), "480");
    EXPECT_EQ(Text(Item(IDC_FRAMERATE)), "30000/1001");
    EXPECT_EQ(Text(Item(IDC_FPS)), "29.970029970030");
    // The posted notification applied the stored picture size.
    EXPECT_EQ(g_bihRgb.biWidth, 720);
    EXPECT_EQ(g_cbRgb, 1095168u);
    EXPECT_EQ(Text(Item(IDC_CODEC)).substr(0, 6), "無圧縮") << "nothing stored: no codec";
    EXPECT_GE(SendMessageA(Item(IDC_CODEC), CB_FINDSTRING, (WPARAM)-1, (LPARAM)"Sample lossless"), 1);
    EXPECT_TRUE(g_boxes.empty()) << Boxes();
}

TEST_F(Window, DropScanScrollAndCloseAFile)
{
    std::string ref = Record("take", 70, 64, 48);
    ChooseCodec("Sample lossless");
    EXPECT_EQ(g_fccHandler, SAMPLE_FOURCC);
    // Several files dropped: only the first opens; the picture size comes
    // from its first frame.
    Drop({ref, Path("other.000")});
    EXPECT_EQ(Text(hDlg), "Spoolmend 1.04 - " + ref);
    EXPECT_STREQ(g_szRefFile, ref.c_str());
    EXPECT_EQ(g_bihRgb.biWidth, 64);
    EXPECT_EQ(g_bihRgb.biHeight, 48);
    EXPECT_EQ(Text(Item(IDC_WIDTH)), "64");
    EXPECT_EQ(g_nRefFrames, 1u);
    EXPECT_EQ(Text(Item(IDC_NFRAMES)), "1");
    EXPECT_EQ(Text(Item(IDC_CURFRAME)), "0");
    Click(IDC_SCANALL);
    EXPECT_EQ(g_nRefFrames, 70u);
    EXPECT_EQ(Text(Item(IDC_NFRAMES)), "70");
    EXPECT_FALSE(Visible(IDC_SCANALL));
    EXPECT_TRUE(Visible(IDC_WRITEAVI));
    EXPECT_TRUE(Enabled(IDC_FRAMESCROLL));
    // Scrolling: lines, pages of 30, and of 60 with Shift held at the last
    // click; the end clamps.
    Scroll(SB_LINERIGHT);
    EXPECT_EQ(g_nCurFrame, 1u);
    Scroll(SB_LINELEFT);
    Scroll(SB_LINELEFT);
    EXPECT_EQ(g_nCurFrame, 0u);
    Scroll(SB_PAGERIGHT);
    EXPECT_EQ(g_nCurFrame, 30u);
    ClickWithShift(true);
    Scroll(SB_PAGELEFT);
    EXPECT_EQ(g_nCurFrame, 0u) << "60 back from 30, clamped";
    Scroll(SB_PAGERIGHT);
    EXPECT_EQ(g_nCurFrame, 60u);
    Scroll(SB_PAGERIGHT);
    EXPECT_EQ(g_nCurFrame, 69u);
    ClickWithShift(false);
    Scroll(SB_PAGELEFT);
    EXPECT_EQ(g_nCurFrame, 39u);
    EXPECT_EQ(Text(Item(IDC_CURFRAME)), "39");
    EXPECT_EQ(GetScrollPos(Item(IDC_FRAMESCROLL), SB_CTL), 39);
    EXPECT_TRUE(g_boxes.empty()) << Boxes();
    // A drop while busy is ignored.
    g_fBusy = 1;
    Drop({Path("other.000")});
    g_fBusy = 0;
    EXPECT_STREQ(g_szRefFile, ref.c_str());
    // Closing the file empties the window.
    Click(IDC_CLOSE);
    EXPECT_EQ(g_nRefFrames, 0u);
    EXPECT_STREQ(g_szRefFile, "");
    EXPECT_EQ(Text(hDlg), "Spoolmend 1.04");
    EXPECT_EQ(Text(Item(IDC_NFRAMES)), "");
}

TEST_F(Window, AbortDuringAScanAndDuringAWrite)
{
    std::string ref = Record("take", 40, 32, 16);
    g_chosenFile = ref;
    ChooseCodec("Sample lossless");
    Click(IDC_OPEN);
    ASSERT_EQ(g_nRefFrames, 1u);
    // The abort waits in the queue; the scan's pump dispatches it.
    PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_CLICKED), (LPARAM)Item(IDC_ABORT));
    Click(IDC_SCANALL);
    EXPECT_GT(g_nRefFrames, 1u);
    EXPECT_LT(g_nRefFrames, 40u);
    EXPECT_TRUE(Visible(IDC_SCANALL));
    EXPECT_FALSE(Enabled(IDC_ABORT));
    Click(IDC_SCANALL);
    ASSERT_EQ(g_nRefFrames, 40u);
    // The same during the write: an AVI of the frames written so far.
    g_chosenFile = Path("abort.avi");
    PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_CLICKED), (LPARAM)Item(IDC_ABORT));
    Click(IDC_WRITEAVI);
    std::vector<BYTE> avi = ReadBytes(Path("abort.avi"));
    ASSERT_GT(avi.size(), 200u);
    DWORD nWritten = Dword(avi, 32 + 16);
    EXPECT_GE(nWritten, 1u);
    EXPECT_LT(nWritten, 40u);
    EXPECT_TRUE(g_boxes.empty()) << Boxes();
    // Closing the window while busy does nothing.
    g_fBusy = 1;
    SendMessageA(hDlg, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(hDlg));
    g_fBusy = 0;
}

TEST_F(Window, WriteWithACodecAndWithTheCodecChooser)
{
    std::string ref = Record("take", 5, 32, 16);
    ChooseCodec("Sample lossless");
    Drop({ref});
    Click(IDC_SCANALL);
    // The default name is the reference file's with ".avi".
    g_chosenFile = "";
    Click(IDC_WRITEAVI);
    EXPECT_STREQ(g_szAviFile, Path("take.avi").c_str());
    EXPECT_FALSE(g_dwDialogFlags & OFN_ENABLETEMPLATE) << "with a codec chosen: no chooser";
    EXPECT_TRUE(g_dwDialogFlags & OFN_OVERWRITEPROMPT);
    g_chosenFile = Path("with.avi");
    Click(IDC_WRITEAVI);
    std::vector<BYTE> avi = ReadBytes(Path("with.avi"));
    ASSERT_GT(avi.size(), 200u);
    EXPECT_EQ(Dword(avi, 108 + 4), SAMPLE_FOURCC);
    // The width, height and rate went to the front of their histories.
    EXPECT_EQ(std::string(g_szWidthHistory).substr(0, 3), "32|");
    EXPECT_EQ(std::string(g_szRateHistory).substr(0, 12), "29.97002997|");

    // With "無圧縮" the save dialog offers every codec but that entry.
    Click(IDC_CLOSE);
    ChooseCodec("無圧縮");
    Drop({Record("raw", 3, 32, 16, true)});
    Click(IDC_SCANALL);
    ASSERT_EQ(g_nRefFrames, 3u);
    EXPECT_TRUE(g_boxes.empty()) << Boxes();
    g_chosenFile = Path("raw.avi");
    g_chooserPick = "Sample lossless";
    Click(IDC_WRITEAVI);
    EXPECT_TRUE(g_dwDialogFlags & OFN_ENABLETEMPLATE);
    EXPECT_EQ(g_chooserItems.size(), (size_t)SendMessageA(Item(IDC_CODEC), CB_GETCOUNT, 0, 0) - 1);
    EXPECT_EQ(g_fccRefHandler, SAMPLE_FOURCC);
    avi = ReadBytes(Path("raw.avi"));
    ASSERT_GT(avi.size(), 200u);
    EXPECT_EQ(Dword(avi, 108 + 4), SAMPLE_FOURCC) << "the stream names the codec chosen in the chooser";
    REFRECORD rec;
    memcpy(&rec, &avi[Dword(avi, avi.size() - 16 * 3 + 8) + 8], sizeof(rec));
    EXPECT_EQ(rec.dwSizeFlags & 0x80000000u, 0x80000000u) << "raw records";
    // The next time the chooser starts on the entry chosen before.
    g_chooserPick = "";
    g_chosenFile = Path("raw2.avi");
    Click(IDC_WRITEAVI);
    EXPECT_EQ(g_fccRefHandler, SAMPLE_FOURCC);
    EXPECT_TRUE(g_boxes.empty()) << Boxes();
}

TEST_F(Window, SettingsFromAnotherAviAndClosing)
{
    std::string ref = Record("take", 3, 32, 16);
    ChooseCodec("Sample lossless");
    Drop({ref});
    Click(IDC_SCANALL);
    g_chosenFile = Path("first.avi");
    Click(IDC_WRITEAVI);
    // Another run's settings: a different size and rate, then taken back
    // from the AVI just written.
    // A typed width gives way to the open file's own.
    TypeInto(IDC_WIDTH, "48");
    EXPECT_EQ(g_bihRgb.biWidth, 32);
    EXPECT_TRUE(g_boxes.empty()) << Boxes();
    Click(IDC_CLOSE);
    TypeInto(IDC_WIDTH, "48");
    EXPECT_EQ(g_bihRgb.biWidth, 48);
    TypeInto(IDC_FRAMERATE, "12x.5");
    EXPECT_EQ(Text(Item(IDC_FRAMERATE)), "12.5");
    EXPECT_EQ(g_dwRate, 1250000000u);
    ChooseCodec("無圧縮");
    g_chosenFile = Path("first.avi");
    Click(IDC_TAKEAVI);
    EXPECT_TRUE(g_boxes.empty()) << Boxes();
    EXPECT_EQ(g_fccHandler, SAMPLE_FOURCC);
    EXPECT_EQ(g_bihRgb.biWidth, 32);
    EXPECT_EQ(Text(Item(IDC_FRAMERATE)), "30000/1001");
    EXPECT_EQ(g_dwRate, 30000u);
    EXPECT_STREQ(g_szAviFile, Path("first.avi").c_str()) << "the next default name";
    // A file that gives nothing: one box with the closing sentence.
    WriteText(Path("text.avi"), "not an avi");
    g_chosenFile = Path("text.avi");
    Click(IDC_TAKEAVI);
    ASSERT_EQ(g_boxes.size(), 1u) << Boxes();
    EXPECT_EQ(g_boxes[0].caption, "Spoolmend");
    EXPECT_NE(g_boxes[0].text.find("コーデックの設定が取得できませんでした."), std::string::npos);
    // Closing saves the settings.
    SendMessageA(hDlg, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hDlg));
    std::string ini = ReadText(Path("Spoolmend.ini"));
    EXPECT_NE(ini.find("Handler=1280331091"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Width=32"), std::string::npos) << ini;
}
