// Spoolshift's view of the open AVI without a window: what opening and
// closing an AVI do to the controls, the frame shown and its number, the
// preview's state, the recovery of a relocation cut short on opening, and
// the helpers of the preview (the picture's place, the scroll steps).
#include "tests/mover_fixture.h"

#include "codec/refformat.h"
#include "mover/view.h"
#include "scaffold/paths.h"
#include "scaffold/preview.h"

#include <string.h>

#include <algorithm>
#include <map>

namespace {

struct VIEWLOG {
    std::map<int, std::string> texts;
    std::map<int, bool> enabled;
    int nFocus = 0;
    int nListResets = 0;
    std::vector<DWORD> scrollRanges;
    DWORD nScrollPos = 0;
    std::vector<std::pair<LONG, LONG>> sizes;
    std::vector<BOOL> pictures;
    int nInvalidated = 0;
};
VIEWLOG g_log;

void InstallRecorder()
{
    memset(&g_ShiftUi, 0, sizeof(g_ShiftUi));
    g_ShiftUi.list.pfnReset = []() { g_log.nListResets++; };
    g_ShiftUi.pfnSetItemText = [](int nId, LPCSTR psz) { g_log.texts[nId] = psz; };
    g_ShiftUi.pfnEnableItem = [](int nId, BOOL f) { g_log.enabled[nId] = f != FALSE; };
    g_ShiftUi.pfnFocus = [](int nId) { g_log.nFocus = nId; };
    g_ShiftUi.pfnSetFrameScroll = [](DWORD n) { g_log.scrollRanges.push_back(n); };
    g_ShiftUi.pfnSetScrollPos = [](DWORD n) { g_log.nScrollPos = n; };
    g_ShiftUi.pfnPictureSizeChanged = [](LONG cx, LONG cy) { g_log.sizes.push_back({cx, cy}); };
    g_ShiftUi.pfnShowPicture = [](BOOL f) { g_log.pictures.push_back(f); };
    g_ShiftUi.pfnInvalidate = []() { g_log.nInvalidated++; };
}

// A 24-bit clip; a negative height stores its rows from the top.
AVISPEC Clip(LONG w, LONG h, DWORD nFrames, DWORD cbFrame)
{
    AVISPEC spec;
    spec.dwTotalFrames = spec.dwLength = nFrames;
    spec.format = MakeFormat(w, h, 24, BI_RGB);
    for (DWORD i = 0; i < nFrames; i++) spec.chunks.push_back(Frame("00db", std::vector<BYTE>(cbFrame, (BYTE)i)));
    return spec;
}

class View : public AviTest {
public:
    void SetUp() override
    {
        AviTest::SetUp();
        g_log = VIEWLOG();
        InstallRecorder();
        g_cxFrame = g_cyFrame = 0;
        g_fShiftBusy = 0;
    }
    void TearDown() override
    {
        LoadAvi(&g_AviInfo, FALSE);
        memset(&g_ShiftUi, 0, sizeof(g_ShiftUi));
        AviTest::TearDown();
    }
    std::string Write(const AVISPEC &spec, const char *pszName)
    {
        std::string path = Path(pszName);
        std::vector<BYTE> bytes = BuildAvi(spec);
        EXPECT_TRUE(WriteBytes(path, bytes.data(), bytes.size()));
        return path;
    }
    void ExpectEnabled(std::initializer_list<int> on, std::initializer_list<int> off)
    {
        for (int nId : on) EXPECT_TRUE(g_log.enabled[nId]) << nId;
        for (int nId : off) EXPECT_FALSE(g_log.enabled[nId]) << nId;
    }
};

}  // namespace

TEST_F(View, OpeningAnAviAndClosingIt)
{
    std::string path = Write(Clip(64, 48, 3, 64 * 48 * 3), "take.avi");
    g_log.texts[IDC_SHIFT_PROGRESS] = "検出   100 %";
    g_log.texts[IDC_SHIFT_SIZE] = "1,234";
    ASSERT_TRUE(SetAviFile(path.c_str()));
    EXPECT_EQ(g_log.texts[IDC_SHIFT_SIZETEXT], "Size: 64x 48 Length:3") << "sizes padded to three characters";
    EXPECT_EQ(g_log.texts[IDC_SHIFT_CODEC], g_AviInfo.szCodecName);
    EXPECT_EQ(g_log.texts[IDC_SHIFT_CURFRAME], "0");
    EXPECT_EQ(g_log.texts[IDC_SHIFT_AVIFILE], path);
    EXPECT_EQ(g_log.texts[IDC_SHIFT_NEWBASE], Path("take"));
    EXPECT_EQ(g_log.texts[IDC_SHIFT_PROGRESS], "");
    EXPECT_EQ(g_log.texts[IDC_SHIFT_SIZE], "");
    EXPECT_EQ(g_log.nListResets, 1);
    ExpectEnabled({IDC_SHIFT_FRAMESCROLL, IDC_SHIFT_CLOSE, IDC_SHIFT_DETECT, IDC_SHIFT_BROWSEAVI, IDC_SHIFT_BROWSEBASE},
                  {IDC_SHIFT_REFLIST, IDC_SHIFT_DELETE, IDC_SHIFT_MOVE});
    EXPECT_EQ(g_log.nFocus, IDC_SHIFT_DETECT);
    ASSERT_EQ(g_log.scrollRanges, std::vector<DWORD>{3});
    ASSERT_EQ(g_log.sizes.size(), 1u);
    EXPECT_EQ(g_log.sizes[0].first, 64);
    EXPECT_EQ(g_log.sizes[0].second, 48);
    EXPECT_EQ(g_log.pictures, std::vector<BOOL>{TRUE});
    EXPECT_EQ(GetPreviewState(), PREVIEW_PICTURE);
    EXPECT_GE(g_log.nInvalidated, 1);
    EXPECT_TRUE(g_aShown.empty());

    // A second AVI of the same size keeps the bitmap; one of another size
    // gets a new one.
    std::string same = Write(Clip(64, 48, 2, 64 * 48 * 3), "same.avi");
    ASSERT_TRUE(SetAviFile(same.c_str()));
    EXPECT_EQ(g_log.sizes.size(), 1u);
    std::string other = Write(Clip(32, 48, 2, 32 * 48 * 3), "other.avi");
    ASSERT_TRUE(SetAviFile(other.c_str()));
    ASSERT_EQ(g_log.sizes.size(), 2u);
    EXPECT_EQ(g_log.sizes[1].first, 32);
    EXPECT_EQ(g_log.sizes[1].second, 48);

    // Closing: the window as at the start, the AVI released.
    EXPECT_FALSE(SetAviFile(NULL));
    EXPECT_EQ(g_AviInfo.hmmio, nullptr);
    EXPECT_EQ(g_log.texts[IDC_SHIFT_AVIFILE], "");
    EXPECT_EQ(g_log.texts[IDC_SHIFT_SIZETEXT], "");
    EXPECT_EQ(g_log.texts[IDC_SHIFT_CURFRAME], "");
    EXPECT_EQ(g_log.texts[IDC_SHIFT_CODEC], "");
    ExpectEnabled({IDC_SHIFT_BROWSEAVI, IDC_SHIFT_BROWSEBASE},
                  {IDC_SHIFT_FRAMESCROLL, IDC_SHIFT_CLOSE, IDC_SHIFT_DETECT, IDC_SHIFT_REFLIST, IDC_SHIFT_DELETE,
                   IDC_SHIFT_MOVE});
    EXPECT_EQ(g_log.nFocus, IDC_SHIFT_BROWSEAVI);
    EXPECT_EQ(GetPreviewState(), PREVIEW_EMPTY);
    EXPECT_TRUE(g_aShown.empty());
}

TEST_F(View, FramesThatCannotBeReadAndAviWithoutFrames)
{
    // A long AVI of dropped frames: its size text.
    ASSERT_TRUE(SetAviFile(Write(Clip(352, 240, 1000, 0), "long.avi").c_str()));
    EXPECT_EQ(g_log.texts[IDC_SHIFT_SIZETEXT], "Size:352x240 Length:1000");

    // Rows from the top: a short frame cannot be shown. Its number and the
    // thumb still move to it; the next readable frame hides the label.
    AVISPEC spec = Clip(4, -2, 3, 4 * 2 * 3);
    spec.chunks[1].data.resize(5);
    ASSERT_TRUE(SetAviFile(Write(spec, "topdown.avi").c_str()));
    EXPECT_EQ(GetPreviewState(), PREVIEW_PICTURE);
    EXPECT_FALSE(ShowFrame(&g_AviInfo, 1));
    EXPECT_EQ(g_nCurFrame, 1u);
    EXPECT_EQ(g_log.texts[IDC_SHIFT_CURFRAME], "1");
    EXPECT_EQ(g_log.nScrollPos, 1u);
    EXPECT_EQ(g_log.pictures.back(), FALSE);
    EXPECT_EQ(GetPreviewState(), PREVIEW_UNREADABLE);
    EXPECT_TRUE(ShowFrame(&g_AviInfo, 2));
    EXPECT_EQ(GetPreviewState(), PREVIEW_PICTURE);
    EXPECT_TRUE(g_aShown.empty());

    // No frames in the index (a chunk that it does not list): an empty
    // preview, nothing decoded, nothing to scroll.
    g_log.pictures.clear();
    AVISPEC none = Clip(4, 2, 1, 24);
    none.chunks[0].fIndexed = false;
    none.dwTotalFrames = none.dwLength = 0;
    ASSERT_TRUE(SetAviFile(Write(none, "empty.avi").c_str()));
    EXPECT_EQ(g_AviInfo.nFrames, 0u);
    EXPECT_EQ(g_log.texts[IDC_SHIFT_SIZETEXT], "Size:  4x  2 Length:0");
    EXPECT_TRUE(g_log.pictures.empty());
    EXPECT_EQ(GetPreviewState(), PREVIEW_EMPTY);
    EXPECT_FALSE(g_log.enabled[IDC_SHIFT_FRAMESCROLL]);
    ExpectEnabled({IDC_SHIFT_CLOSE, IDC_SHIFT_DETECT}, {});
    EXPECT_TRUE(g_aShown.empty());
}

TEST_F(View, AviThatCannotBeOpened)
{
    std::string path = Path("text.avi");
    WriteText(path, "not an avi at all, only text");
    EXPECT_FALSE(SetAviFile(path.c_str()));
    ASSERT_EQ(g_aShown.size(), 1u);
    EXPECT_EQ(g_aShown[0].caption, "Spoolshift");
    EXPECT_EQ(g_log.texts[IDC_SHIFT_AVIFILE], "");
    EXPECT_FALSE(g_log.enabled[IDC_SHIFT_CLOSE]);
    EXPECT_FALSE(g_log.enabled[IDC_SHIFT_DETECT]);
    EXPECT_EQ(g_log.texts.count(IDC_SHIFT_NEWBASE), 0u);
    EXPECT_EQ(GetPreviewState(), PREVIEW_EMPTY);

    // The longest name that a path buffer holds opens; one character more
    // is refused, not cut to the name of that very AVI.
    g_aShown.clear();
    std::string folder = Path(std::string(120, 'd').c_str());
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
    std::string longest = JoinPath(folder, "a.avi");
    longest.insert(longest.size() - 5, std::string(MAX_PATH - 1 - longest.size(), 'n'));
    ASSERT_EQ(longest.size(), (size_t)MAX_PATH - 1);
    AVISPEC one = Clip(4, 2, 1, 24);
    std::vector<BYTE> bytes = BuildAvi(one);
    ASSERT_TRUE(WriteBytes(longest, bytes.data(), bytes.size()));
    ASSERT_TRUE(SetAviFile(longest.c_str()));
    EXPECT_EQ(g_log.texts[IDC_SHIFT_NEWBASE], longest.substr(0, longest.size() - 4));
    EXPECT_TRUE(g_aShown.empty());
#ifndef _WIN32
    // Here the longer name can be a file too: it is still refused.
    ASSERT_TRUE(WriteBytes(longest + "x", bytes.data(), bytes.size()));
#endif
    EXPECT_FALSE(SetAviFile((longest + "x").c_str()));
    EXPECT_EQ(g_aShown.size(), 1u);
    EXPECT_EQ(g_AviInfo.hmmio, nullptr);
    EXPECT_EQ(g_log.texts[IDC_SHIFT_AVIFILE], "");
    EXPECT_FALSE(g_log.enabled[IDC_SHIFT_DETECT]);
}

namespace {

int g_nRecoveryAnswer;
int AnswerRecovery(LPCSTR pszText, LPCSTR pszCaption, UINT uType)
{
    g_aShown.push_back(SHOWNMESSAGE{pszText, pszCaption, uType});
    return (uType & MB_TYPEMASK) == MB_YESNO ? g_nRecoveryAnswer : IDOK;
}

}  // namespace

TEST_F(View, OpeningFinishesARelocationCutShortWhenTheUserSaysSo)
{
    // The AVI's record names old.000, whose frame is already under the new
    // name: the move happened, the records were not yet rewritten.
    std::string oldFile = Path("old.000"), newFile = Path("new.000");
    std::vector<FRAMEPLACE> places = WriteRefFile(oldFile, 1, 7);
    AVISPEC spec;
    spec.dwTotalFrames = spec.dwLength = 1;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    spec.chunks.push_back(Frame("00dc", RecordBytes(oldFile, places[0])));
    std::string avi = Write(spec, "rec.avi");
    std::string note = avi + ".relocating";
    WriteRelocationNote(avi, oldFile, newFile, 0, 0);
    ASSERT_TRUE(MoveFileA(oldFile.c_str(), newFile.c_str()));
    g_pfnShowMessage = AnswerRecovery;

    // Asked, the user says no: the AVI is for looking only, the note stays.
    g_nRecoveryAnswer = IDNO;
    ASSERT_TRUE(SetAviFile(avi.c_str()));
    ASSERT_EQ(g_aShown.size(), 1u);
    EXPECT_EQ(g_aShown[0].uType, (UINT)(MB_YESNO | MB_ICONQUESTION));
    EXPECT_NE(g_aShown[0].text.find("中断されています"), std::string::npos) << g_aShown[0].text;
    EXPECT_TRUE(FileExists(note.c_str()));
    EXPECT_FALSE(g_log.enabled[IDC_SHIFT_DETECT]);

    // Yes: finished.
    g_aShown.clear();
    g_nRecoveryAnswer = IDYES;
    ASSERT_TRUE(SetAviFile(avi.c_str()));
    EXPECT_FALSE(FileExists(note.c_str()));
    ASSERT_EQ(g_aShown.size(), 2u);
    EXPECT_NE(g_aShown[1].text.find("完了しました"), std::string::npos) << g_aShown[1].text;
    std::vector<BYTE> bytes = ReadBytes(avi);
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), newFile.begin(), newFile.end()), bytes.end());
    EXPECT_EQ(std::search(bytes.begin(), bytes.end(), oldFile.begin(), oldFile.end()), bytes.end());
    // The window is ready as after any opening.
    EXPECT_TRUE(g_log.enabled[IDC_SHIFT_DETECT]);
    EXPECT_EQ(g_log.texts[IDC_SHIFT_NEWBASE], Path("rec"));
}

TEST_F(View, ARecoveryThatFailsLeavesTheAviToBeLookedAtOnly)
{
    // Neither file of the note is there: nothing can be finished or rolled
    // back. The note stays, and no command may start a relocation over it.
    std::vector<FRAMEPLACE> places = WriteRefFile(Path("gone.000"), 1, 7);
    AVISPEC spec;
    spec.dwTotalFrames = spec.dwLength = 1;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    spec.chunks.push_back(Frame("00dc", RecordBytes(Path("gone.000"), places[0])));
    std::string avi = Write(spec, "rec.avi");
    std::string note = avi + ".relocating";
    WriteRelocationNote(avi, Path("gone.000"), Path("lost.000"), 0, 0);
    ASSERT_TRUE(MoveFileA(Path("gone.000").c_str(), Path("kept.000").c_str()));
    g_pfnShowMessage = AnswerRecovery;
    g_nRecoveryAnswer = IDYES;
    ASSERT_TRUE(SetAviFile(avi.c_str()));
    ASSERT_EQ(g_aShown.size(), 2u);
    EXPECT_NE(g_aShown[1].text.find("見つかりません"), std::string::npos) << g_aShown[1].text;
    EXPECT_TRUE(FileExists(note.c_str()));
    EXPECT_FALSE(g_log.enabled[IDC_SHIFT_DETECT]);
    EXPECT_TRUE(g_log.enabled[IDC_SHIFT_CLOSE]);
    EXPECT_EQ(g_log.nFocus, IDC_SHIFT_CLOSE);
}

TEST(PreviewHelpers, DefaultBaseName)
{
    CHAR sz[MAX_PATH];
#ifndef _WIN32
    MakeDefaultBaseName("/cap/take.avi", sz);
    EXPECT_STREQ(sz, "/cap/take");
    MakeDefaultBaseName("/cap.d/take", sz);
    EXPECT_STREQ(sz, "/cap.d/take") << "a '.' in a folder does not count";
    MakeDefaultBaseName("/cap/take.x.avi", sz);
    EXPECT_STREQ(sz, "/cap/take.x");
#else
    MakeDefaultBaseName("C:\\cap\\take.avi", sz);
    EXPECT_STREQ(sz, "C:\\cap\\take");
    MakeDefaultBaseName("C:\\cap.d\\take", sz);
    EXPECT_STREQ(sz, "C:\\cap.d\\take");
    MakeDefaultBaseName("C:take", sz);
    EXPECT_STREQ(sz, "C:take");
#endif
}

TEST(PreviewHelpers, PictureFitAndScrollSteps)
{
    // 320 x 240 in a 234 x 196 area: wider than the area, so full width,
    // centred from top to bottom, inside the 2-pixel margin.
    RECT rc;
    ComputePreviewLayout(320, 240, 234, 196, &rc);
    EXPECT_EQ(rc.left, 2);
    EXPECT_EQ(rc.right - rc.left, 230);
    EXPECT_EQ(rc.bottom - rc.top, 172);
    EXPECT_EQ(rc.top, 2 + 10);
    // Equal aspects take the whole height (where the width may lose its
    // rounding).
    ComputePreviewLayout(7, 7, 65, 65, &rc);
    EXPECT_EQ(rc.bottom - rc.top, 61);

    DWORD n = 0;
    EXPECT_FALSE(PickScrollFrame(SB_LINELEFT, 0, 100, FALSE, 0, &n));
    EXPECT_TRUE(PickScrollFrame(SB_LINELEFT, 1, 100, FALSE, 0, &n) && n == 0);
    EXPECT_FALSE(PickScrollFrame(SB_LINERIGHT, 99, 100, FALSE, 0, &n));
    EXPECT_TRUE(PickScrollFrame(SB_LINERIGHT, 98, 100, FALSE, 0, &n) && n == 99);
    EXPECT_TRUE(PickScrollFrame(SB_PAGERIGHT, 90, 100, FALSE, 0, &n) && n == 99) << "n - 10 goes to n - 1";
    EXPECT_TRUE(PickScrollFrame(SB_PAGERIGHT, 10, 100, FALSE, 0, &n) && n == 40);
    EXPECT_TRUE(PickScrollFrame(SB_PAGERIGHT, 10, 100, TRUE, 0, &n) && n == 70);
    EXPECT_TRUE(PickScrollFrame(SB_PAGELEFT, 70, 100, TRUE, 0, &n) && n == 10);
    EXPECT_TRUE(PickScrollFrame(SB_PAGELEFT, 20, 100, FALSE, 0, &n) && n == 0);
    EXPECT_FALSE(PickScrollFrame(SB_PAGELEFT, 0, 100, FALSE, 0, &n));
    EXPECT_TRUE(PickScrollFrame(SB_THUMBTRACK, 0, 100, FALSE, 500, &n) && n == 99);
    EXPECT_TRUE(PickScrollFrame(SB_THUMBPOSITION, 50, 100, FALSE, -3, &n) && n == 0);
    EXPECT_TRUE(PickScrollFrame(SB_THUMBPOSITION, 50, 100, FALSE, 42, &n) && n == 42);
    EXPECT_FALSE(PickScrollFrame(SB_THUMBTRACK, 0, 0, FALSE, 0, &n)) << "no frames";
    EXPECT_FALSE(PickScrollFrame(SB_LINERIGHT, 0, 1, FALSE, 0, &n));
}
