// Spoolshift's real dialog from its real resources, driven by messages, with
// the message box and the file dialogs answered by the test. Windows only
// (under Wine with a display).
#include "mover/window.h"

#include "codec/refformat.h"
#include "mover/resource.h"
#include "scaffold/paths.h"
#include "tests/mover_fixture.h"

#include "tests/dialog_driver.h"

#include <string.h>

#include <deque>
#include <map>

namespace {

std::vector<SHOWNMESSAGE> g_boxes;
std::deque<int> g_answers;  // what the message boxes answer, in turn; IDOK after
std::string g_chosenFile;   // what the file dialogs answer; "" cancels
OPENFILENAMEA g_ofnSeen;
std::string g_initialFile, g_initialDir;

int WINAPI RecordBox(HWND, LPCSTR pszText, LPCSTR pszCaption, UINT uType)
{
    g_boxes.push_back(SHOWNMESSAGE{pszText, pszCaption, uType});
    if (g_answers.empty()) return IDOK;
    int nAnswer = g_answers.front();
    g_answers.pop_front();
    return nAnswer;
}

BOOL WINAPI ChooseFile(LPOPENFILENAMEA pofn)
{
    g_ofnSeen = *pofn;
    g_initialFile = pofn->lpstrFile;
    g_initialDir = pofn->lpstrInitialDir ? pofn->lpstrInitialDir : "";
    if (g_chosenFile.empty()) return FALSE;
    snprintf(pofn->lpstrFile, pofn->nMaxFile, "%s", g_chosenFile.c_str());
    return TRUE;
}

std::string Boxes()
{
    std::string all;
    for (const SHOWNMESSAGE &box : g_boxes) all += "[" + box.text + "] ";
    return all;
}

std::string Text(HWND hwnd) { return WindowText(hwnd); }

// Every control whose enabled state the commands change.
const int s_aControls[] = {IDC_SHIFT_CLOSE,  IDC_SHIFT_BROWSEAVI, IDC_SHIFT_REFLIST,    IDC_SHIFT_DETECT,
                           IDC_SHIFT_DELETE, IDC_SHIFT_MOVE,      IDC_SHIFT_ABORT,      IDC_SHIFT_DELETEOLD,
                           IDC_SHIFT_NEWBASE, IDC_SHIFT_BROWSEBASE, IDC_SHIFT_FRAMESCROLL};

// The enabled controls as "1007 1005 ...", in the order above.
std::string EnabledControls(HWND hDlg)
{
    std::string all;
    for (int nId : s_aControls)
        if (IsWindowEnabled(GetDlgItem(hDlg, nId))) all += (all.empty() ? "" : " ") + std::to_string(nId);
    return all;
}

// The abort button, subclassed: a WM_APP that a command's pump dispatches
// to it takes a snapshot of the enabled controls while the command runs.
WNDPROC g_pfnAbortProc;
std::string g_during;
LRESULT CALLBACK AbortSpy(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_APP) {
        g_during = EnabledControls(GetParent(hwnd));
        return 0;
    }
    return CallWindowProcA(g_pfnAbortProc, hwnd, uMsg, wParam, lParam);
}

class ShiftWindow : public AviTest {
protected:
    void SetUp() override
    {
        AviTest::SetUp();
        g_boxes.clear();
        g_answers.clear();
        g_chosenFile.clear();
        g_during.clear();
        g_pfnMessageBox = RecordBox;
        g_pfnGetOpenFileName = ChooseFile;
        g_pfnGetSaveFileName = ChooseFile;
        g_hInstance = GetModuleHandleA(NULL);
        g_fShiftBusy = 0;
        g_fShiftAbort = 0;
        hDlg = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_SHIFT), NULL, MainDialogProc, 0);
        ASSERT_NE(hDlg, nullptr);
        Settle();
    }
    void TearDown() override
    {
        if (IsWindow(hDlg)) {
            g_fShiftBusy = 0;
            SendMessageA(hDlg, WM_CLOSE, 0, 0);
        }
        Settle();
        g_hwndMain = NULL;
        g_pfnMessageBox = MessageBoxA;
        AviTest::TearDown();
    }
    HWND Item(int nId) { return GetDlgItem(hDlg, nId); }
    void Click(int nId) { ClickItem(hDlg, nId); }
    // Clicks a command button with a snapshot of the enabled controls taken
    // at the command's first pump.
    void ClickWatching(int nId)
    {
        HWND hAbort = Item(IDC_SHIFT_ABORT);
        g_pfnAbortProc = (WNDPROC)SetWindowLongPtrA(hAbort, GWLP_WNDPROC, (LONG_PTR)AbortSpy);
        PostMessageA(hAbort, WM_APP, 0, 0);
        Click(nId);
        SetWindowLongPtrA(hAbort, GWLP_WNDPROC, (LONG_PTR)g_pfnAbortProc);
    }
    void PostAbort() { PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_SHIFT_ABORT, BN_CLICKED), (LPARAM)Item(IDC_SHIFT_ABORT)); }
    bool Visible(int nId) { return (GetWindowLongA(Item(nId), GWL_STYLE) & WS_VISIBLE) != 0; }
    void Scroll(UINT uRequest) { ScrollItem(hDlg, IDC_SHIFT_FRAMESCROLL, uRequest); }
    void ClickWithShift(bool fShift) { ::ClickWithShift(hDlg, fShift); }
    void Drop(const std::vector<std::string> &paths) { DropFiles(hDlg, paths); }
    std::vector<std::string> ListItems()
    {
        std::vector<std::string> items;
        int n = (int)SendMessageA(Item(IDC_SHIFT_REFLIST), LB_GETCOUNT, 0, 0);
        for (int i = 0; i < n; i++) {
            char sz[MAX_PATH];
            SendMessageA(Item(IDC_SHIFT_REFLIST), LB_GETTEXT, (WPARAM)i, (LPARAM)sz);
            items.push_back(sz);
        }
        return items;
    }
    // Selects list items as a click does: the caret on the last one, then
    // the list's notification.
    void Select(std::initializer_list<int> items)
    {
        HWND hList = Item(IDC_SHIFT_REFLIST);
        SendMessageA(hList, LB_SETSEL, FALSE, -1);
        for (int i : items) {
            SendMessageA(hList, LB_SETSEL, TRUE, i);
            SendMessageA(hList, LB_SETCARETINDEX, (WPARAM)i, FALSE);
        }
        SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_SHIFT_REFLIST, LBN_SELCHANGE), (LPARAM)hList);
        Settle();
    }
    // A record AVI naming nFiles reference files base.000 ... in turn.
    std::string RecordAvi(int nFiles, DWORD nFrames, const char *pszBase = "take")
    {
        std::vector<std::string> files;
        for (int f = 0; f < nFiles; f++) {
            char szName[64];
            snprintf(szName, sizeof(szName), "%s.%03d", pszBase, f);
            files.push_back(Path(szName));
        }
        std::string avi = Path((std::string(pszBase) + ".avi").c_str());
        std::vector<BYTE> bytes = BuildRecordAvi(files, nFrames, mmioFOURCC('S', 'M', 'P', 'L'));
        EXPECT_TRUE(WriteBytes(avi, bytes.data(), bytes.size()));
        return avi;
    }
    // Every record in the AVI's bytes on disk, by the name it holds: its
    // frame count. A record whose frame is not in its file counts under
    // "missing".
    std::map<std::string, int> RecordNames(const std::string &avi)
    {
        std::vector<BYTE> bytes = ReadBytes(avi);
        std::map<std::string, int> names;
        for (size_t at = 0; at + sizeof(REFRECORD) <= bytes.size(); at++) {
            if (memcmp(&bytes[at], REFREC_MAGIC, REFREC_MAGIC_LEN) != 0) continue;
            REFRECORD rec;
            memcpy(&rec, &bytes[at], sizeof(rec));
            rec.szFileName[sizeof(rec.szFileName) - 1] = '\0';
            std::vector<BYTE> file = ReadBytes(rec.szFileName);
            DWORD dwFrame = 0;
            if (file.size() >= (size_t)rec.dwOffset + 16) memcpy(&dwFrame, &file[rec.dwOffset], 4);
            names[dwFrame == RefRecordFrameSize(&rec) ? rec.szFileName : "missing"]++;
        }
        return names;
    }
    HWND hDlg = NULL;
};

}  // namespace

TEST_F(ShiftWindow, StartsEmptyWithTheVersionInItsTitle)
{
    EXPECT_EQ(Text(hDlg), "Spoolshift 1.04");
    EXPECT_EQ(EnabledControls(hDlg), "1005 1013 1004 1008");
    EXPECT_FALSE(Visible(IDC_SHIFT_UNREADABLE));
    EXPECT_NE(SendMessageA(hDlg, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_EQ(Text(Item(IDC_SHIFT_AVIFILE)), "");
    EXPECT_TRUE(g_boxes.empty()) << Boxes();
    // The icon the program does not load is among its resources too.
    EXPECT_NE(LoadIconA(g_hInstance, MAKEINTRESOURCEA(203)), nullptr);
}

TEST_F(ShiftWindow, DropDetectSelectAndScroll)
{
    std::string avi = RecordAvi(3, 300);
    // Several files dropped: only the first opens.
    Drop({avi, Path("take.000")});
    EXPECT_EQ(Text(Item(IDC_SHIFT_AVIFILE)), avi);
    EXPECT_EQ(Text(Item(IDC_SHIFT_NEWBASE)), Path("take"));
    EXPECT_EQ(Text(Item(IDC_SHIFT_SIZETEXT)), "Size:  8x  8 Length:300");
    EXPECT_EQ(Text(Item(IDC_SHIFT_CURFRAME)), "0");
    EXPECT_EQ(EnabledControls(hDlg), "1007 1005 1010 1013 1004 1008 2004");
    // No Spoolcap here to read the records' frames: the label says so.
    EXPECT_TRUE(Visible(IDC_SHIFT_UNREADABLE));

    ClickWatching(IDC_SHIFT_DETECT);
    EXPECT_EQ(g_during, "1015 1013 1004 1008 2004") << "while detecting";
    EXPECT_EQ(ListItems(), (std::vector<std::string>{Path("take.000"), Path("take.001"), Path("take.002")}));
    EXPECT_EQ(Text(Item(IDC_SHIFT_PROGRESS)), "検出   100 %");
    EXPECT_EQ(EnabledControls(hDlg), "1007 1005 1002 1010 1014 1013 1004 1008 2004") << "Move waits for a selection";
    EXPECT_GT(SendMessageA(Item(IDC_SHIFT_REFLIST), LB_GETHORIZONTALEXTENT, 0, 0), 0);

    // Selecting shows the total size and the first frame of the file under
    // the caret.
    Select({0, 2});
    size_t cbTotal = ReadBytes(Path("take.000")).size() + ReadBytes(Path("take.002")).size();
    CHAR szSize[16];
    FormatSelectedSize(cbTotal, szSize);
    EXPECT_EQ(Text(Item(IDC_SHIFT_SIZE)), szSize);
    EXPECT_EQ(Text(Item(IDC_SHIFT_CURFRAME)), "2");
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_SHIFT_MOVE)));

    // The scroll bar: lines, pages of 30, of 60 with Shift at the last click.
    Scroll(SB_LINERIGHT);
    EXPECT_EQ(g_nCurFrame, 3u);
    Scroll(SB_PAGERIGHT);
    EXPECT_EQ(g_nCurFrame, 33u);
    ClickWithShift(true);
    Scroll(SB_PAGERIGHT);
    EXPECT_EQ(g_nCurFrame, 93u);
    ClickWithShift(false);
    Scroll(SB_PAGELEFT);
    EXPECT_EQ(g_nCurFrame, 63u);
    EXPECT_EQ(Text(Item(IDC_SHIFT_CURFRAME)), "63");
    EXPECT_EQ(GetScrollPos(Item(IDC_SHIFT_FRAMESCROLL), SB_CTL), 63);
    // Pages step from the frame shown; the thumb goes where it is dragged,
    // its number shown at once.
    SetScrollPos(Item(IDC_SHIFT_FRAMESCROLL), SB_CTL, 290, FALSE);
    Scroll(SB_PAGERIGHT);
    EXPECT_EQ(g_nCurFrame, 93u);
    SetScrollPos(Item(IDC_SHIFT_FRAMESCROLL), SB_CTL, 120, FALSE);
    Scroll(SB_THUMBTRACK);
    EXPECT_EQ(g_nCurFrame, 120u);
    EXPECT_EQ(Text(Item(IDC_SHIFT_CURFRAME)), "120");
    SetScrollPos(Item(IDC_SHIFT_FRAMESCROLL), SB_CTL, 290, FALSE);
    Scroll(SB_THUMBPOSITION);
    EXPECT_EQ(g_nCurFrame, 290u);
    Scroll(SB_PAGERIGHT);
    EXPECT_EQ(g_nCurFrame, 299u) << "a page from n - 10 ends at the last frame";
    Scroll(SB_PAGERIGHT);
    EXPECT_EQ(g_nCurFrame, 299u);

    // While busy: drops, Close, closing the window and the scroll bar do
    // nothing; Abort is honoured. Drops are taken again afterwards.
    g_fShiftBusy = 1;
    std::string other = RecordAvi(1, 4, "other");
    Drop({other});
    Click(IDC_SHIFT_CLOSE);
    SendMessageA(hDlg, WM_CLOSE, 0, 0);
    Scroll(SB_LINELEFT);
    g_chosenFile = other;
    Click(IDC_SHIFT_BROWSEAVI);
    g_chosenFile.clear();
    Click(IDC_SHIFT_ABORT);
    EXPECT_EQ(g_fShiftAbort, 1);
    g_fShiftBusy = 0;
    g_fShiftAbort = 0;
    ASSERT_TRUE(IsWindow(hDlg));
    EXPECT_EQ(Text(Item(IDC_SHIFT_AVIFILE)), avi);
    EXPECT_EQ(g_nCurFrame, 299u);
    EXPECT_TRUE(GetWindowLongA(hDlg, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) << "drops are taken again";
    Drop({other});
    EXPECT_EQ(Text(Item(IDC_SHIFT_AVIFILE)), other);
    EXPECT_TRUE(ListItems().empty());

    // Closing the AVI: the window as at the start.
    Click(IDC_SHIFT_CLOSE);
    EXPECT_EQ(Text(Item(IDC_SHIFT_AVIFILE)), "");
    EXPECT_EQ(Text(Item(IDC_SHIFT_SIZETEXT)), "");
    EXPECT_EQ(EnabledControls(hDlg), "1005 1013 1004 1008");
    EXPECT_FALSE(Visible(IDC_SHIFT_UNREADABLE));
    EXPECT_TRUE(g_boxes.empty()) << Boxes();
}

TEST_F(ShiftWindow, PreviewOfAPicture)
{
    // A 64 x 48 picture, left half blue, right half red, rows from the bottom.
    AVISPEC spec;
    spec.dwTotalFrames = spec.dwLength = 2;
    spec.format = MakeFormat(64, 48, 24, BI_RGB);
    std::vector<BYTE> picture(64 * 48 * 3);
    for (size_t i = 0; i < picture.size(); i += 3) {
        bool fLeft = (i / 3) % 64 < 32;
        picture[i] = fLeft ? 255 : 0;
        picture[i + 2] = fLeft ? 0 : 255;
    }
    spec.chunks.push_back(Frame("00db", picture));
    spec.chunks.push_back(Frame("00db", picture));
    std::string avi = Path("picture.avi");
    std::vector<BYTE> bytes = BuildAvi(spec);
    ASSERT_TRUE(WriteBytes(avi, bytes.data(), bytes.size()));
    ShowWindow(hDlg, SW_SHOW);
    Settle();
    Drop({avi});
    // On the window: blue left of the preview area's centre, red right of
    // it; the white frame around the picture stays.
    RECT rc;
    GetWindowRect(Item(IDC_SHIFT_PREVIEW), &rc);
    MapWindowPoints(NULL, hDlg, (LPPOINT)&rc, 2);
    int yMid = (rc.top + rc.bottom) / 2, xMid = (rc.left + rc.right) / 2;
    HDC hdcWindow = GetDC(hDlg);
    EXPECT_EQ(GetPixel(hdcWindow, xMid - 10, yMid), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(hdcWindow, xMid + 10, yMid), RGB(255, 0, 0));
    EXPECT_NE(GetPixel(hdcWindow, xMid, rc.top + 1), RGB(255, 0, 0)) << "above the picture";
    ReleaseDC(hDlg, hdcWindow);
    EXPECT_FALSE(Visible(IDC_SHIFT_UNREADABLE));
    HBITMAP hbmp = GetFrameBitmap();
    ASSERT_NE(hbmp, nullptr);
    BITMAP bm;
    ASSERT_TRUE(GetObjectA(hbmp, sizeof(bm), &bm));
    EXPECT_EQ(bm.bmWidth, 64);
    EXPECT_EQ(bm.bmHeight, 48);
    // The bitmap holds the frame unscaled.
    BITMAPINFOHEADER bih;
    memset(&bih, 0, sizeof(bih));
    bih.biSize = sizeof(bih);
    bih.biWidth = 64;
    bih.biHeight = 48;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biCompression = BI_RGB;
    std::vector<BYTE> got(64 * 48 * 3);
    HDC hdc = GetDC(hDlg);
    ASSERT_EQ(GetDIBits(hdc, hbmp, 0, 48, got.data(), (BITMAPINFO *)&bih, DIB_RGB_COLORS), 48);
    ReleaseDC(hDlg, hdc);
    EXPECT_EQ(got[0], 255);
    EXPECT_EQ(got[2], 0);
    EXPECT_EQ(got[63 * 3 + 2], 255);
    // Another AVI of the same size keeps the bitmap.
    std::string copy = Path("same.avi");
    ASSERT_TRUE(WriteBytes(copy, bytes.data(), bytes.size()));
    Drop({copy});
    EXPECT_EQ(GetFrameBitmap(), hbmp);
    EXPECT_TRUE(g_boxes.empty()) << Boxes();
}

TEST_F(ShiftWindow, MoveWithANewBaseAndTheFileDialogs)
{
    std::string avi = RecordAvi(2, 120);
    // The AVI chosen in the open dialog, which starts in the field's folder.
    g_chosenFile = avi;
    Click(IDC_SHIFT_BROWSEAVI);
    EXPECT_EQ(Text(Item(IDC_SHIFT_AVIFILE)), avi);
    EXPECT_STREQ(g_ofnSeen.lpstrTitle, "AVIファイル名入力");
    EXPECT_EQ(g_ofnSeen.Flags, (DWORD)(OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_LONGNAMES));
    EXPECT_EQ(std::string(g_ofnSeen.lpstrFilter, 40), std::string("AVIファイル\0*.avi\0すべてのファイル\0*.*\0\0", 40));
    EXPECT_EQ(g_initialFile, "") << "an empty field: no name, no folder";
    EXPECT_EQ(g_initialDir, "");
    // Opened again, the dialog starts at the open AVI.
    g_chosenFile = "";
    Click(IDC_SHIFT_BROWSEAVI);
    EXPECT_EQ(g_initialFile, "take.avi");
    EXPECT_EQ(g_initialDir + "\\take.avi", avi);
    EXPECT_EQ(Text(Item(IDC_SHIFT_AVIFILE)), avi) << "cancelled: nothing changes";
    // The new base from the save dialog, which asks before overwriting and
    // writes nothing; it starts from the default base's folder and name.
    std::string newBase = Path("renamed");
    g_chosenFile = newBase;
    Click(IDC_SHIFT_BROWSEBASE);
    EXPECT_EQ(g_initialFile, "take");
    EXPECT_EQ(g_initialDir + "\\take", Path("take"));
    EXPECT_TRUE(g_ofnSeen.Flags & OFN_OVERWRITEPROMPT);
    EXPECT_STREQ(g_ofnSeen.lpstrTitle, "新しい参照ファイル名入力");
    EXPECT_EQ(std::string(g_ofnSeen.lpstrFilter, 22), std::string("すべてのファイル\0*.*\0\0", 22));
    EXPECT_EQ(Text(Item(IDC_SHIFT_NEWBASE)), newBase);
    EXPECT_FALSE(FileExists(newBase.c_str()));
    // A cancelled dialog changes nothing.
    g_chosenFile = "";
    Click(IDC_SHIFT_BROWSEBASE);
    EXPECT_EQ(Text(Item(IDC_SHIFT_NEWBASE)), newBase);

    Click(IDC_SHIFT_DETECT);
    Select({1});
    ClickWatching(IDC_SHIFT_MOVE);
    EXPECT_EQ(g_during, "1002 1015 1013") << "while moving: the list stays usable";
    EXPECT_TRUE(g_boxes.empty()) << Boxes();
    EXPECT_EQ(ListItems(), (std::vector<std::string>{Path("take.000"), newBase + ".000"}));
    EXPECT_FALSE(FileExists(Path("take.001").c_str()));
    std::map<std::string, int> names = RecordNames(avi);
    EXPECT_EQ(names[Path("take.000")], 60);
    EXPECT_EQ(names[newBase + ".000"], 60);
    EXPECT_EQ(names.size(), 2u);
    EXPECT_EQ(EnabledControls(hDlg), "1007 1005 1002 1010 1014 1013 1004 1008 2004");
    EXPECT_EQ(GetFocus(), Item(IDC_SHIFT_CLOSE));
}

TEST_F(ShiftWindow, AbortDuringDetectionAndDuringACopy)
{
    std::string avi = RecordAvi(3, 90);
    Drop({avi});
    PostAbort();
    Click(IDC_SHIFT_DETECT);
    EXPECT_LT(ListItems().size(), 3u);
    EXPECT_EQ(EnabledControls(hDlg), "1007 1005 1010 1013 1004 1008 2004") << "neither the list nor Delete after an abort";
    Click(IDC_SHIFT_DETECT);
    ASSERT_EQ(ListItems().size(), 3u);

    // A file of several copy steps, copied to another drive: the abort is
    // taken between two steps, the partial copy removed, the records kept.
    std::vector<BYTE> big(3 * 1024 * 1024 + 100, 0x5A);
    std::vector<BYTE> head = ReadBytes(Path("take.000"));
    memcpy(big.data(), head.data(), head.size());
    ASSERT_TRUE(WriteBytes(Path("take.000"), big.data(), big.size()));
    std::string other = "Z:\\tmp\\" + UniqueName("spshiftd");
    ASSERT_TRUE(CreateDirectoryA(other.c_str(), NULL));
    SetWindowTextA(Item(IDC_SHIFT_NEWBASE), (other + "\\moved").c_str());
    Select({0});
    PostAbort();
    Click(IDC_SHIFT_MOVE);
    EXPECT_FALSE(FileExists((other + "\\moved.000").c_str()));
    EXPECT_EQ(ReadBytes(Path("take.000")).size(), big.size());
    std::map<std::string, int> names = RecordNames(avi);
    EXPECT_EQ(names[Path("take.000")], 30);
    EXPECT_EQ(names.count("missing"), 0u);
    EXPECT_EQ(ListItems()[0], Path("take.000"));
    // Without the abort the copy goes through, the old file stays.
    g_boxes.clear();
    Select({0});
    Click(IDC_SHIFT_MOVE);
    EXPECT_TRUE(g_boxes.empty()) << Boxes();
    EXPECT_EQ(ReadBytes(other + "\\moved.000"), big);
    EXPECT_TRUE(FileExists(Path("take.000").c_str()));
    EXPECT_EQ(RecordNames(avi)[other + "\\moved.000"], 30);
    RemoveTree(other);
}

// Deleting everything asks about the files that another AVI beside them
// names too: No keeps them, and the AVI goes.
TEST_F(ShiftWindow, DeleteAllAsksAboutFilesThatAnotherAviNames)
{
    std::string avi = RecordAvi(2, 20);
    std::vector<BYTE> bytes = ReadBytes(avi);
    ASSERT_TRUE(WriteBytes(Path("salvaged.avi"), bytes.data(), bytes.size()));
    Drop({avi});
    Click(IDC_SHIFT_DETECT);
    g_answers = {IDOK, IDNO};
    Click(IDC_SHIFT_DELETE);
    ASSERT_EQ(g_boxes.size(), 2u) << Boxes();
    EXPECT_EQ(g_boxes[1].uType, (UINT)(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
    EXPECT_NE(g_boxes[1].text.find(Path("take.000") + " (" + Path("salvaged.avi") + ")\n"), std::string::npos)
        << g_boxes[1].text;
    EXPECT_FALSE(FileExists(avi.c_str()));
    EXPECT_TRUE(FileExists(Path("take.000").c_str()) && FileExists(Path("take.001").c_str()));
    // Yes deletes them too.
    g_boxes.clear();
    ASSERT_TRUE(WriteBytes(avi, bytes.data(), bytes.size()));
    Drop({avi});
    Click(IDC_SHIFT_DETECT);
    g_answers = {IDOK, IDYES};
    Click(IDC_SHIFT_DELETE);
    EXPECT_FALSE(FileExists(Path("take.000").c_str()) || FileExists(Path("take.001").c_str())) << Boxes();
}

TEST_F(ShiftWindow, DeleteQuestionsAnsweredCancelNoAndYes)
{
    std::string avi = RecordAvi(3, 30);
    Drop({avi});
    Click(IDC_SHIFT_DETECT);
    Select({1});
    // Cancel: nothing happens.
    g_answers = {IDCANCEL};
    Click(IDC_SHIFT_DELETE);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].uType, (UINT)(MB_YESNOCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(g_boxes[0].caption, "Spoolshift");
    EXPECT_TRUE(FileExists(Path("take.001").c_str()));
    // No: only the selected file goes.
    g_answers = {IDNO};
    Click(IDC_SHIFT_DELETE);
    EXPECT_FALSE(FileExists(Path("take.001").c_str()));
    EXPECT_TRUE(FileExists(Path("take.000").c_str()));
    EXPECT_TRUE(FileExists(avi.c_str()));
    EXPECT_EQ(Text(Item(IDC_SHIFT_AVIFILE)), avi);
    EXPECT_EQ(EnabledControls(hDlg), "1007 1005 1002 1010 1014 1009 1013 1004 1008 2004")
        << "Move stays enabled, with nothing selected";
    EXPECT_EQ(GetFocus(), Item(IDC_SHIFT_CLOSE));
    // Yes: every file and the AVI; the window is emptied.
    Select({0});
    g_answers = {IDYES};
    Click(IDC_SHIFT_DELETE);
    EXPECT_FALSE(FileExists(Path("take.000").c_str()));
    EXPECT_FALSE(FileExists(Path("take.002").c_str()));
    EXPECT_FALSE(FileExists(avi.c_str()));
    EXPECT_EQ(Text(Item(IDC_SHIFT_AVIFILE)), "");
    EXPECT_EQ(EnabledControls(hDlg), "1005 1013 1004 1008");
    EXPECT_EQ(g_boxes.size(), 3u) << Boxes();
}
