// Spoolshift's commands on reference files: the kinds of reference frames,
// detection, numbering, copying, relocation with its records, recovery of a
// relocation cut short, and deletion. Every relocation ends with a check
// that each record names an existing file holding, at its offset, a frame
// of the record's size.
#include "tests/mover_fixture.h"

#include "codec/refformat.h"
#include "mover/shift.h"

#include <string.h>

#include <map>

namespace {

struct LISTITEM {
    std::string text;
    bool fSelected;
};
std::vector<LISTITEM> g_list;
int g_iCaret = -1;
std::map<int, std::string> g_texts;
std::map<int, bool> g_enabled;
std::vector<DWORD> g_shownFrames;
std::vector<std::string> g_progress;
std::string g_newBase;
bool g_fDeleteOld;
int g_nPumps;
int g_nAbortAtPump;
int g_nResets;

void InstallListAndWindow()
{
    memset(&g_ShiftUi, 0, sizeof(g_ShiftUi));
    g_ShiftUi.list.pfnGetCount = []() { return (int)g_list.size(); };
    g_ShiftUi.list.pfnGetText = [](int i, LPSTR psz) {
        if (i < 0 || i >= (int)g_list.size()) return FALSE;
        snprintf(psz, MAX_PATH, "%s", g_list[(size_t)i].text.c_str());
        return TRUE;
    };
    g_ShiftUi.list.pfnIsSelected = [](int i) { return (BOOL)(i >= 0 && i < (int)g_list.size() && g_list[(size_t)i].fSelected); };
    g_ShiftUi.list.pfnSetSelected = [](int i, BOOL f) { g_list[(size_t)i].fSelected = f != FALSE; };
    g_ShiftUi.list.pfnInsert = [](int i, LPCSTR psz) {
        size_t at = i < 0 || i > (int)g_list.size() ? g_list.size() : (size_t)i;
        g_list.insert(g_list.begin() + (long)at, LISTITEM{psz, false});
    };
    g_ShiftUi.list.pfnDelete = [](int i) { g_list.erase(g_list.begin() + i); };
    g_ShiftUi.list.pfnReset = []() { g_list.clear(); };
    g_ShiftUi.list.pfnGetCaret = []() { return g_iCaret; };
    g_ShiftUi.pfnSetItemText = [](int nId, LPCSTR psz) {
        g_texts[nId] = psz;
        if (nId == IDC_SHIFT_PROGRESS) g_progress.push_back(psz);
    };
    g_ShiftUi.pfnEnableItem = [](int nId, BOOL f) { g_enabled[nId] = f != FALSE; };
    g_ShiftUi.pfnGetItemText = [](int, LPSTR psz) { snprintf(psz, MAX_PATH, "%s", g_newBase.c_str()); };
    g_ShiftUi.pfnIsChecked = [](int) { return (BOOL)g_fDeleteOld; };
    g_ShiftUi.pfnPumpMessage = []() {
        if (++g_nPumps == g_nAbortAtPump) g_fShiftAbort = 1;
    };
    g_ShiftUi.pfnShowFrame = [](DWORD n) { g_shownFrames.push_back(n); };
    g_ShiftUi.pfnResetWindow = []() { g_nResets++; };
}

class Shift : public AviTest {
public:
    void SetUp() override
    {
        AviTest::SetUp();
        InstallListAndWindow();
        g_list.clear();
        g_iCaret = -1;
        g_texts.clear();
        g_enabled.clear();
        g_shownFrames.clear();
        g_progress.clear();
        g_fDeleteOld = false;
        g_nPumps = 0;
        g_nAbortAtPump = 0;
        g_nResets = 0;
        g_fShiftBusy = 0;
        g_fShiftAbort = 0;
        g_newBase = Path("new");
    }
    // An AVI whose frames are records naming the reference files in turn,
    // each frame the next one of its file, and other chunks where asked.
    void MakeAvi(const std::vector<std::string> &files, DWORD nFrames, FOURCC fccHandler = mmioFOURCC('S', 'M', 'P', 'L'))
    {
        ASSERT_TRUE(LoadBytes(BuildRecordAvi(files, nFrames, fccHandler), "rec.avi"));
    }
    void Detect()
    {
        DetectRefFiles(&info);
        g_aShown.clear();
    }
    void Select(std::initializer_list<int> items)
    {
        for (int i : items) g_list[(size_t)i].fSelected = true;
    }
    // Every record names an existing file with a frame of its size at its
    // offset; returns the names, frame by frame.
    std::vector<std::string> CheckRecords()
    {
        std::vector<std::string> names;
        DWORD cbScratch = (DWORD)(g_pbWork + g_cbWork - g_pbScratch);
        for (DWORD i = 0; i < info.nFrames; i++) {
            DWORD cb = 0;
            EXPECT_TRUE(AccessFrameData(&info, g_pbScratch, cbScratch, i, FALSE, &cb));
            REFRECORD rec;
            memcpy(&rec, g_pbScratch, sizeof(rec));
            names.push_back(rec.szFileName);
            std::vector<BYTE> file = ReadBytes(rec.szFileName);
            EXPECT_FALSE(file.empty()) << "frame " << i << " names " << rec.szFileName << ", which is not there";
            if (file.size() < (size_t)rec.dwOffset + 16) continue;
            DWORD dwFrame;
            memcpy(&dwFrame, &file[rec.dwOffset], 4);
            EXPECT_EQ(dwFrame, RefRecordFrameSize(&rec)) << "frame " << i;
        }
        return names;
    }
    std::string Messages()
    {
        std::string all;
        for (const SHOWNMESSAGE &m : g_aShown) all += "[" + m.text + "]";
        return all;
    }
};

}  // namespace

TEST_F(Shift, KindsOfReferenceFrames)
{
    auto Tagged = [](const char *pszTag, size_t cb) {
        std::vector<BYTE> data(cb, 0);
        memcpy(data.data(), pszTag, strlen(pszTag));
        return data;
    };
    const FOURCC fccDvrs = mmioFOURCC('d', 'v', 'r', 's');
    struct {
        const char *pszWhat;
        std::vector<BYTE> data;
        FOURCC fcc;
        int nAt;  // -1: no reference
        DWORD cbField;
    } aCases[] = {
        {"a record of 300 bytes", Tagged("Spoolcap", 300), 0, 16, 260},
        {"a record of 100 bytes, in a dvrs stream too", Tagged("Spoolcap", 100), fccDvrs, 16, 84},
        {"a record of its magic only", Tagged("Spoolcap", 8), 0, -1, 0},
        {"REF in CDVC", Tagged("REF ", 40), mmioFOURCC('C', 'D', 'V', 'C'), 16, 24},
        {"REF in another stream", Tagged("REF ", 40), mmioFOURCC('S', 'M', 'P', 'L'), -1, 0},
        {"a REF frame too short", Tagged("REF ", 16), mmioFOURCC('c', 'd', 'v', 'c'), -1, 0},
        {"anything in dvrs", std::vector<BYTE>(40, 'x'), mmioFOURCC('d', 'v', 'R', 's'), 12, 28},
        {"a dvrs frame too short", std::vector<BYTE>(12, 'x'), fccDvrs, -1, 0},
    };
    for (auto &c : aCases) {
        DWORD cbField = 0;
        BYTE *p = FindNameField(c.data.data(), (DWORD)c.data.size(), c.fcc, &cbField);
        if (c.nAt < 0) {
            EXPECT_EQ(p, nullptr) << c.pszWhat;
        } else {
            EXPECT_EQ(p, c.data.data() + c.nAt) << c.pszWhat;
            EXPECT_EQ(cbField, c.cbField) << c.pszWhat;
        }
    }
}

TEST_F(Shift, DetectionListsEachFileOnceInOrderOfFirstUse)
{
    std::vector<std::string> files;
    for (int i = 0; i < 11; i++) files.push_back(Path(("take." + std::to_string(100 + i)).c_str()));
    MakeAvi(files, 3000);
#ifdef _WIN32
    // The second frame names the first file in other letters: on Windows
    // the same file.
    DWORD cbScratch = (DWORD)(g_pbWork + g_cbWork - g_pbScratch), cb = 0;
    ASSERT_TRUE(AccessFrameData(&info, g_pbScratch, cbScratch, 11, FALSE, &cb));
    std::string upper = files[0];
    for (char &c : upper) c = (char)toupper((unsigned char)c);
    memset(g_pbScratch + 16, 0, 260);
    memcpy(g_pbScratch + 16, upper.c_str(), upper.size());
    ASSERT_TRUE(AccessFrameData(&info, g_pbScratch, cbScratch, 11, TRUE, &cb));
#endif
    DetectRefFiles(&info);
    EXPECT_TRUE(g_aShown.empty()) << Messages();
    ASSERT_EQ(g_list.size(), 11u);
    for (size_t i = 0; i < 11; i++) EXPECT_EQ(g_list[i].text, files[i]);
    EXPECT_EQ(g_nRefFileCap, 20u) << "the eleventh file grows the table by ten";
    EXPECT_EQ(g_pRefFiles[0].dwFrameCount, 273u);
    EXPECT_EQ(g_pRefFiles[3].dwFirstFrame, 3u);
    EXPECT_EQ(g_pRefFiles[0].cbNameField, 260u);
    EXPECT_EQ(info.pFrames[11].dwRef, 0u);
    EXPECT_EQ(info.pFrames[2999].dwRef, 2999u % 11);
    EXPECT_EQ(g_progress.back(), "検出   100 %");
    EXPECT_EQ(g_progress.size(), 101u) << "written only when the percentage changes, 0 to 100";
    EXPECT_TRUE(g_enabled[IDC_SHIFT_REFLIST]);
    EXPECT_TRUE(g_enabled[IDC_SHIFT_DELETE]);
    EXPECT_FALSE(g_enabled[IDC_SHIFT_ABORT]);
    EXPECT_EQ(g_fShiftBusy, 0);
    // Aborted: the list stays disabled and so does Delete.
    g_nAbortAtPump = g_nPumps + 10;
    DetectRefFiles(&info);
    EXPECT_EQ(g_list.size(), 10u);
    EXPECT_FALSE(g_enabled[IDC_SHIFT_REFLIST]);
    EXPECT_FALSE(g_enabled[IDC_SHIFT_DELETE]);
}

// Records in a row that name files whose names begin alike are told
// apart, and a record cut inside its name names what it holds.
TEST_F(Shift, DetectionTellsNamesThatBeginAlike)
{
    const std::string a = Path("take.000"), longer = Path("take.0001"), shorter = Path("take.00");
    struct {
        std::string name;
        DWORD cbCut;  // the record's bytes when cut; 0 for all of it
    } aRecords[] = {
        {a, 0}, {a, 0}, {longer, 0}, {longer, 0}, {a, 0}, {shorter, 0}, {a, (DWORD)(16 + a.size())}, {shorter, 0},
    };
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    for (const auto &r : aRecords) {
        REFRECORD rec;
        BuildRefRecord(&rec, 0, FALSE, 0, 64, r.name.c_str());
        const BYTE *p = reinterpret_cast<const BYTE *>(&rec);
        spec.chunks.push_back(Frame("00dc", std::vector<BYTE>(p, p + (r.cbCut ? r.cbCut : sizeof(rec)))));
    }
    spec.dwTotalFrames = spec.dwLength = (DWORD)spec.chunks.size();
    ASSERT_TRUE(LoadBytes(BuildAvi(spec), "rec.avi"));
    DetectRefFiles(&info);
    ASSERT_EQ(g_list.size(), 3u) << Messages();
    EXPECT_EQ(g_list[0].text, a);
    EXPECT_EQ(g_list[1].text, longer);
    EXPECT_EQ(g_list[2].text, shorter);
    EXPECT_EQ(g_pRefFiles[0].dwFrameCount, 4u);
    EXPECT_EQ(g_pRefFiles[1].dwFrameCount, 2u);
    EXPECT_EQ(g_pRefFiles[2].dwFrameCount, 2u);
    EXPECT_EQ(g_pRefFiles[0].cbNameField, (DWORD)a.size()) << "the cut record's field";
    const DWORD adwRef[] = {0, 0, 1, 1, 0, 2, 0, 2};
    for (DWORD i = 0; i < 8; i++) EXPECT_EQ(info.pFrames[i].dwRef, adwRef[i]) << "frame " << i;
}

TEST_F(Shift, FramesWithoutReferencesKeepNoFile)
{
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    spec.dwTotalFrames = spec.dwLength = 3;
    for (int i = 0; i < 3; i++) spec.chunks.push_back(Frame("00dc", std::vector<BYTE>(50, (BYTE)i)));
    ASSERT_TRUE(LoadBytes(BuildAvi(spec), "plain.avi"));
    DetectRefFiles(&info);
    EXPECT_TRUE(g_list.empty());
    EXPECT_FALSE(g_enabled[IDC_SHIFT_REFLIST]);
    EXPECT_TRUE(g_enabled[IDC_SHIFT_DELETE]);
    for (DWORD i = 0; i < 3; i++) EXPECT_EQ(info.pFrames[i].dwRef, 0xFFFFFFFFu);
}

TEST_F(Shift, SizeOfTheSelection)
{
    char sz[16];
    FormatSelectedSize(1234567, sz);
    EXPECT_STREQ(sz, "      1,234,567");
    FormatSelectedSize(0, sz);
    EXPECT_STREQ(sz, "               ");
    FormatSelectedSize(12345678901ull, sz);
    EXPECT_STREQ(sz, " 12,345,678,901");
    MakeAvi({Path("a.000"), Path("b.000")}, 10);
    Detect();
    Select({1});
    g_iCaret = 1;
    ShowSelectedSize(&info);
    std::string expected(15, ' ');
    snprintf(sz, sizeof(sz), "%lu", (unsigned long)ReadBytes(Path("b.000")).size());
    expected.replace(15 - strlen(sz), strlen(sz), sz);
    EXPECT_EQ(g_texts[IDC_SHIFT_SIZE], expected);
    EXPECT_TRUE(g_enabled[IDC_SHIFT_MOVE]);
    EXPECT_EQ(g_shownFrames.back(), 1u) << "the caret file's first frame";
    g_list[1].fSelected = false;
    ShowSelectedSize(&info);
    EXPECT_FALSE(g_enabled[IDC_SHIFT_MOVE]);
}

TEST_F(Shift, NumbersAfterTheBase)
{
    std::string base = Path("cap");
    EXPECT_EQ(NextRefNumber(base.c_str()), 0);
    for (const char *pszName : {"cap.007", "cap.1000", "cap.txt", "cap.ab1", "cap.0001", "capx.009"})
        WriteText(Path(pszName), "x");
    EXPECT_EQ(NextRefNumber(base.c_str()), 8);
}

TEST_F(Shift, MovingRewritesEveryRecordOfTheSelectedFiles)
{
    std::vector<std::string> files = {Path("take.000"), Path("take.001"), Path("take.002")};
    MakeAvi(files, 1200);
    Detect();
    Select({0, 2});
    CreateDirectoryA(Path("there").c_str(), NULL);
    g_newBase = JoinPath(Path("there"), "cap");
    RelocateRefFiles(&info);
    EXPECT_TRUE(g_aShown.empty()) << Messages();
    ASSERT_EQ(g_list.size(), 3u);
    EXPECT_EQ(g_list[0].text, JoinPath(Path("there"), "cap.000"));
    EXPECT_EQ(g_list[1].text, files[1]);
    EXPECT_EQ(g_list[2].text, JoinPath(Path("there"), "cap.001"));
    EXPECT_FALSE(g_list[0].fSelected);
    std::vector<std::string> names = CheckRecords();
    EXPECT_EQ(names[0], JoinPath(Path("there"), "cap.000"));
    EXPECT_EQ(names[1], files[1]);
    EXPECT_EQ(names[1199], JoinPath(Path("there"), "cap.001"));
    EXPECT_EQ(ReadBytes(files[0]).size(), 0u) << "moved away";
    EXPECT_FALSE(ReadBytes(files[1]).empty());
    EXPECT_EQ(ListFolder(dir, "*.relocating"), std::vector<std::string>{}) << "no note stays";
    EXPECT_EQ(g_progress.back(), "書換   100 %");
    EXPECT_EQ(g_fShiftBusy, 0);
    EXPECT_TRUE(g_enabled[IDC_SHIFT_CLOSE]);
    EXPECT_FALSE(g_enabled[IDC_SHIFT_MOVE]);
    EXPECT_FALSE(g_enabled[IDC_SHIFT_ABORT]);
}

// The selection may change while a relocation runs: a file deselected
// before its turn stays where it is.
TEST_F(Shift, AFileDeselectedWhileTheRelocationRunsStays)
{
    std::vector<std::string> files = {Path("take.000"), Path("take.001")};
    MakeAvi(files, 400);
    Detect();
    Select({0, 1});
    CreateDirectoryA(Path("there").c_str(), NULL);
    g_newBase = JoinPath(Path("there"), "cap");
    // The user deselects the second file while the first is rewritten.
    static std::string s_first, s_second;
    s_first = files[0];
    s_second = files[1];
    g_ShiftUi.pfnPumpMessage = []() {
        if (g_texts[IDC_SHIFT_CURFILE] != s_first) return;
        for (LISTITEM &item : g_list)
            if (item.text == s_second) item.fSelected = false;
    };
    RelocateRefFiles(&info);
    EXPECT_TRUE(g_aShown.empty()) << Messages();
    std::vector<std::string> names = CheckRecords();
    EXPECT_EQ(names[0], JoinPath(Path("there"), "cap.000"));
    EXPECT_EQ(names[1], files[1]);
    EXPECT_FALSE(ReadBytes(files[1]).empty());
}

TEST_F(Shift, ARecordOfTheSameFileWithAnotherNameIsLeftAlone)
{
    MakeAvi({Path("take.000")}, 4);
    Detect();
    // After detection, frame 2 comes to name another file.
    DWORD cbScratch = (DWORD)(g_pbWork + g_cbWork - g_pbScratch), cb = 0;
    ASSERT_TRUE(AccessFrameData(&info, g_pbScratch, cbScratch, 2, FALSE, &cb));
    std::string other = Path("other.000");
    CopyBytes(Path("take.000"), other);
    memset(g_pbScratch + 16, 0, 260);
    memcpy(g_pbScratch + 16, other.c_str(), other.size());
    ASSERT_TRUE(AccessFrameData(&info, g_pbScratch, cbScratch, 2, TRUE, &cb));
    Select({0});
    RelocateRefFiles(&info);
    std::vector<std::string> names = CheckRecords();
    EXPECT_EQ(names[0], Path("new.000"));
    EXPECT_EQ(names[2], other);
}

// Names are compared as the file system compares them. On Windows a record
// naming the file in other letters names the same file and is rewritten
// with the others; on POSIX "TAKE.000" is a file of its own, listed apart
// and left named.
TEST_F(Shift, RecordsNamingTheFileInOtherLettersAreOneFileWhereTheSystemSaysSo)
{
    MakeAvi({Path("take.000")}, 6);
    DWORD cbScratch = (DWORD)(g_pbWork + g_cbWork - g_pbScratch), cb = 0;
    ASSERT_TRUE(AccessFrameData(&info, g_pbScratch, cbScratch, 4, FALSE, &cb));
    std::string upper = Path("TAKE.000");
    memset(g_pbScratch + 16, 0, 260);
    memcpy(g_pbScratch + 16, upper.c_str(), upper.size());
    ASSERT_TRUE(AccessFrameData(&info, g_pbScratch, cbScratch, 4, TRUE, &cb));
#ifdef _WIN32
    const size_t nFiles = 1;
#else
    const size_t nFiles = 2;
    std::vector<BYTE> bytes = ReadBytes(Path("take.000"));
    ASSERT_TRUE(WriteBytes(upper, bytes.data(), bytes.size()));
#endif
    Detect();
    ASSERT_EQ(g_list.size(), nFiles);
    Select({0});
    RelocateRefFiles(&info);
    std::vector<std::string> names = CheckRecords();
    for (size_t i = 0; i < names.size(); i++)
        EXPECT_EQ(names[i], nFiles == 2 && i == 4 ? upper : Path("new.000")) << "frame " << i;
}

TEST_F(Shift, ANewNameMustFitTheShortestRecord)
{
    // A record of 100 bytes holds a name field of 84: a base of 80
    // characters with ".000" and its zero does not fit.
    std::vector<FRAMEPLACE> places = WriteRefFile(Path("take.000"), 2, 1);
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    spec.dwTotalFrames = spec.dwLength = 2;
    std::vector<BYTE> full = RecordBytes(Path("take.000"), places[0]);
    std::vector<BYTE> shortRecord = RecordBytes(Path("take.000"), places[1]);
    shortRecord.resize(100);
    spec.chunks.push_back(Frame("00dc", full));
    spec.chunks.push_back(Frame("00dc", shortRecord));
    ASSERT_TRUE(LoadBytes(BuildAvi(spec), "rec.avi"));
    Detect();
    ASSERT_EQ(g_list.size(), 1u);
    EXPECT_EQ(g_pRefFiles[0].cbNameField, 84u);
    Select({0});
    std::string base = Path("");
    if (base.size() < 80) {
        g_newBase = base + std::string(80 - base.size(), 'n');
        RelocateRefFiles(&info);
        EXPECT_EQ(Messages(), "[参照ファイル" + Path("take.000") + "の新しい名前が長すぎます!]");
    }
}

TEST_F(Shift, ANewNameMustFitTheRecords)
{
    MakeAvi({Path("take.000")}, 2);
    Detect();
    Select({0});
    // 255 characters and ".000" fill the 260-byte field with its zero.
    std::string base = Path("");
    base += std::string(255 - base.size(), 'n');
    g_newBase = base + "n";
    RelocateRefFiles(&info);
    EXPECT_EQ(Messages(), "[参照ファイル" + Path("take.000") + "の新しい名前が長すぎます!]");
    EXPECT_TRUE(g_list[0].fSelected) << "the file is untouched";
    g_aShown.clear();
    g_newBase = base;
    RelocateRefFiles(&info);
    EXPECT_TRUE(g_aShown.empty()) << Messages();
    EXPECT_EQ(CheckRecords()[0], base + ".000");
}

TEST_F(Shift, TheSeriesEndsAt999)
{
    MakeAvi({Path("take.000")}, 2);
    Detect();
    Select({0});
    WriteText(Path("new.999"), "x");
    RelocateRefFiles(&info);
    EXPECT_EQ(Messages(), "[新しい参照ファイルベース名" + Path("new") + "の番号が999を超えます!]");
    EXPECT_EQ(CheckRecords()[0], Path("take.000"));
    EXPECT_EQ(g_list[0].text, Path("take.000"));
}

TEST_F(Shift, AMissingFileEndsTheCommand)
{
    MakeAvi({Path("take.000"), Path("take.001")}, 4);
    Detect();
    Select({0, 1});
    DeleteFileA(Path("take.000").c_str());
    RelocateRefFiles(&info);
    EXPECT_EQ(Messages(), "[参照ファイル" + Path("take.000") + "が見つかりません!]");
    EXPECT_TRUE(g_list[1].fSelected);
    EXPECT_FALSE(ReadBytes(Path("take.001")).empty());
}

// Copies made by a relocation (copy asked for) reach the disk whole or not
// at all; an abort during a copy leaves nothing of it.
TEST_F(Shift, CopiesReachTheDiskWholeOrNotAtAll)
{
    // A reference file of 3 MiB and a bit, in frames of 1 MiB.
    std::vector<BYTE> big(3 * 1024 * 1024 + 5 * 16);
    for (size_t i = 0; i < big.size(); i++) big[i] = (BYTE)(i * 7);
    const DWORD cbFrame = 1024 * 1024 + 16;
    for (DWORD at = 0; at + cbFrame <= big.size(); at += cbFrame) {
        REFFRAMEHEADER header = {cbFrame, cbFrame - 16, 0, 8, 8};
        memcpy(&big[at], &header, sizeof(header));
    }
    WriteBytes(Path("big.000"), big.data(), big.size());
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    spec.dwTotalFrames = spec.dwLength = 3;
    for (DWORD i = 0; i < 3; i++) spec.chunks.push_back(Frame("00dc", RecordBytes(Path("big.000"), {i * cbFrame, cbFrame})));
    ASSERT_TRUE(LoadBytes(BuildAvi(spec), "rec.avi"));
    struct {
        const char *pszWhat;
        int nAbortAt;  // the pump at which abort is pressed, 0 for none
    } aCases[] = {{"aborted after the second chunk", 2}, {"whole", 0}};
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        Detect();
        g_progress.clear();
        Select({0});
        g_nPumps = 0;
        g_nAbortAtPump = c.nAbortAt;
        g_fShiftAbort = 0;
        SHIFTREQUEST req;
        InitShiftRequest(&req);
        DWORD k = 0;
        req.piFiles = &k;
        req.nFiles = 1;
        snprintf(req.szNewBase, sizeof(req.szNewBase), "%s", Path("copy").c_str());
        req.fCopy = TRUE;
        req.pfAbort = &g_fShiftAbort;
        req.pfnProgress = [](void *, int nStep, ULONGLONG ullDone, ULONGLONG ullTotal) {
            if (nStep == STEP_COPY) g_progress.push_back(std::to_string(ullDone) + "/" + std::to_string(ullTotal));
            if (++g_nPumps == g_nAbortAtPump) g_fShiftAbort = 1;
        };
        SHIFTRESULT res;
        InitShiftResult(&res);
        BOOL fOk = RunRelocation(&info, &req, &res);
        if (c.nAbortAt) {
            EXPECT_FALSE(fOk);
            ASSERT_EQ(res.nOutcomes, 1);
            EXPECT_EQ(res.pOutcomes[0].nOutcome, OUTCOME_ABORTED);
            EXPECT_EQ(res.pOutcomes[0].pMsg, &MSG_COPY_ABORTED);
            EXPECT_EQ(res.pOutcomes[0].uIcon, 0u);
            EXPECT_EQ(ListFolder(dir, "copy*"), std::vector<std::string>{}) << "nothing of the copy stays";
            EXPECT_EQ(CheckRecords()[0], Path("big.000"));
        } else {
            EXPECT_TRUE(fOk);
            EXPECT_EQ(ReadBytes(Path("copy.000")), big);
            EXPECT_EQ(g_progress.back(), std::to_string(big.size()) + "/" + std::to_string(big.size()));
            EXPECT_EQ(CountOutcomes(&res, OUTCOME_COPIED), 1) << "the old file is kept";
            EXPECT_EQ(ReadBytes(Path("big.000")), big);
            EXPECT_EQ(CheckRecords()[2], Path("copy.000"));
        }
        EXPECT_EQ(ListFolder(dir, "*.relocating"), std::vector<std::string>{});
        FreeShiftResult(&res);
    }
}

TEST_F(Shift, ARelocationCutShortIsFinishedOrRolledBack)
{
    std::vector<std::string> files = {Path("take.000")};
    MakeAvi(files, 40);
    std::string note = Path("rec.avi.relocating");
    std::string moved = Path("new.000");
    auto Note = [&](int nCopy, int nDeleteOld) { WriteRelocationNote(Path("rec.avi"), files[0], moved, nCopy, nDeleteOld); };
    // Killed after the move, before any record was rewritten: finished.
    Note(0, 0);
    ASSERT_TRUE(MoveFileA(files[0].c_str(), moved.c_str()));
    ASSERT_EQ(RecoverForTest(&info), RECOVER_DONE) << Messages();
    EXPECT_NE(Messages().find("移動を完了しました."), std::string::npos) << Messages();
    for (const std::string &name : CheckRecords()) EXPECT_EQ(name, moved);
    EXPECT_EQ(ListFolder(dir, "*.relocating"), std::vector<std::string>{});
    // Killed before the move: rolled back, whatever records were rewritten.
    g_aShown.clear();
    std::string back = Path("back.000");
    files[0] = moved;
    moved = back;
    Note(0, 0);
    ASSERT_EQ(RecoverForTest(&info), RECOVER_DONE) << Messages();
    EXPECT_NE(Messages().find("元に戻しました."), std::string::npos) << Messages();
    for (const std::string &name : CheckRecords()) EXPECT_EQ(name, files[0]);
    // A copy cut short: rolled back; the partial copy is the user's to
    // delete, never deleted on a note's say.
    g_aShown.clear();
    std::vector<BYTE> whole = ReadBytes(files[0]);
    WriteBytes(moved, whole.data(), whole.size() / 2);
    Note(1, 1);
    ASSERT_EQ(RecoverForTest(&info), RECOVER_DONE) << Messages();
    EXPECT_NE(Messages().find("途中のコピー" + moved + "は残しました"), std::string::npos) << Messages();
    EXPECT_EQ(ReadBytes(moved).size(), whole.size() / 2);
    for (const std::string &name : CheckRecords()) EXPECT_EQ(name, files[0]);
    // A whole copy, half of the records rewritten: finished, the old file
    // deleted as asked.
    g_aShown.clear();
    WriteBytes(moved, whole.data(), whole.size());
    Detect();
    Note(1, 1);
    DWORD cbScratch = (DWORD)(g_pbWork + g_cbWork - g_pbScratch);
    for (DWORD i = 0; i < 20; i++) {
        DWORD cb = 0;
        ASSERT_TRUE(AccessFrameData(&info, g_pbScratch, cbScratch, i, FALSE, &cb));
        memset(g_pbScratch + 16, 0, 260);
        memcpy(g_pbScratch + 16, moved.c_str(), moved.size());
        ASSERT_TRUE(AccessFrameData(&info, g_pbScratch, cbScratch, i, TRUE, &cb));
    }
    ASSERT_EQ(RecoverForTest(&info), RECOVER_DONE) << Messages();
    for (const std::string &name : CheckRecords()) EXPECT_EQ(name, moved);
    EXPECT_TRUE(ReadBytes(files[0]).empty()) << "the old file went after the records";
    EXPECT_EQ(ListFolder(dir, "*.relocating"), std::vector<std::string>{});
    // Killed after every record named the copy, before the old file went:
    // no record names the old file any more, so nothing proves it the
    // AVI's; it is kept, and the user told.
    g_aShown.clear();
    std::vector<BYTE> copied = ReadBytes(moved);
    std::string again = Path("again.000");
    ASSERT_TRUE(WriteBytes(again, copied.data(), copied.size()));
    WriteRelocationNote(Path("rec.avi"), moved, again, 1, 1);
    Detect();
    Select({0});
    std::string base = g_newBase;
    for (DWORD i = 0; i < 40; i++) {
        DWORD cb = 0;
        ASSERT_TRUE(AccessFrameData(&info, g_pbScratch, cbScratch, i, FALSE, &cb));
        memset(g_pbScratch + 16, 0, 260);
        memcpy(g_pbScratch + 16, again.c_str(), again.size());
        ASSERT_TRUE(AccessFrameData(&info, g_pbScratch, cbScratch, i, TRUE, &cb));
    }
    ASSERT_EQ(RecoverForTest(&info), RECOVER_DONE) << Messages();
    EXPECT_NE(Messages().find("古い参照ファイル" + moved + "は残しました"), std::string::npos) << Messages();
    EXPECT_EQ(ReadBytes(moved), copied);
    for (const std::string &name : CheckRecords()) EXPECT_EQ(name, again);
    // A note cut short in its writing touched nothing: it is dropped.
    WriteText(note, "Spoolshift relocation 2\nold=");
    EXPECT_EQ(RecoverForTest(&info), RECOVER_DONE);
    EXPECT_EQ(ListFolder(dir, "*.relocating"), std::vector<std::string>{});
}

namespace {

int g_nAnswer;
int Answer(LPCSTR pszText, LPCSTR pszCaption, UINT uType)
{
    g_aShown.push_back(SHOWNMESSAGE{pszText, pszCaption, uType});
    return g_nAnswer;
}

}  // namespace

TEST_F(Shift, DeletingSelectedOrAllFiles)
{
    std::vector<std::string> files;
    for (int i = 0; i < 5; i++) files.push_back(Path(("take.00" + std::to_string(i)).c_str()));
    MakeAvi(files, 10);
    Detect();
    g_pfnShowMessage = Answer;
    Select({1, 3});
    // Cancel changes nothing.
    g_nAnswer = IDCANCEL;
    g_enabled.clear();
    DeleteRefFiles(&info);
    ASSERT_EQ(g_aShown.size(), 1u);
    EXPECT_EQ(g_aShown[0].text, "すべての参照ファイルとAVIファイル" + Path("rec.avi") +
                                    "を削除しますか(Y), 選択された参照ファイルのみを削除しますか(N)?");
    EXPECT_EQ(g_aShown[0].uType, (UINT)(MB_YESNOCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(ListFolder(dir, "take.*").size(), 5u);
    EXPECT_TRUE(g_enabled.empty()) << "no control changed";
    // No: the selected files only; their items stay, deselected.
    g_nAnswer = IDNO;
    DeleteFileA(files[0].c_str());  // already gone: skipped without a message
    g_aShown.clear();
    DeleteRefFiles(&info);
    EXPECT_EQ(g_aShown.size(), 1u) << Messages();
    EXPECT_EQ(ListFolder(dir, "take.*"), (std::vector<std::string>{"take.002", "take.004"}));
    EXPECT_EQ(g_list.size(), 5u);
    EXPECT_FALSE(g_list[1].fSelected);
    EXPECT_FALSE(g_list[3].fSelected);
    EXPECT_EQ(g_texts[IDC_SHIFT_SIZE], std::string(15, ' '));
    EXPECT_TRUE(g_enabled[IDC_SHIFT_MOVE]) << "Move stays enabled with nothing selected";
    EXPECT_TRUE(g_enabled[IDC_SHIFT_CLOSE]);
    // Yes: every listed file, then the AVI, and the window is emptied.
    Select({2});
    g_nAnswer = IDYES;
    DeleteRefFiles(&info);
    EXPECT_EQ(ListFolder(dir, "take.*"), std::vector<std::string>{});
    EXPECT_EQ(ListFolder(dir, "rec.avi"), std::vector<std::string>{});
    EXPECT_EQ(g_nResets, 1);
}

TEST_F(Shift, DeletingTheAviOfAnEmptyList)
{
    // An AVI whose frames name no file: detection leaves the list empty.
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    spec.dwTotalFrames = spec.dwLength = 2;
    for (int i = 0; i < 2; i++) spec.chunks.push_back(Frame("00dc", std::vector<BYTE>(40, 0x11)));
    ASSERT_TRUE(LoadBytes(BuildAvi(spec), "rec.avi"));
    ASSERT_TRUE(WriteBytes(Path("take.000"), "x", 1));
    Detect();
    ASSERT_TRUE(g_list.empty());
    g_pfnShowMessage = Answer;
    g_nAnswer = IDOK;
    DeleteRefFiles(&info);
    ASSERT_EQ(g_aShown.size(), 1u);
    EXPECT_EQ(g_aShown[0].text, "AVIファイル" + Path("rec.avi") + "を削除しますか?");
    EXPECT_EQ(ListFolder(dir, "rec.avi"), std::vector<std::string>{});
    EXPECT_FALSE(ReadBytes(Path("take.000")).empty()) << "no file was listed";
    EXPECT_EQ(g_nResets, 1);
}

// Detection that did not reach the last frame, by an unreadable frame or an
// abort, leaves the files to look at only: the selection enables no Move,
// Delete stays disabled, and the commands themselves refuse.
TEST_F(Shift, DetectionCutShortLeavesNothingToMoveOrDelete)
{
    for (bool fAbort : {false, true}) {
        SCOPED_TRACE(fAbort ? "aborted" : "an unreadable frame");
        LoadAvi(&info, FALSE);
        MakeAvi({Path("take.000"), Path("take.001")}, 10);
        std::vector<BYTE> avi = ReadBytes(Path("rec.avi"));
        if (!fAbort) {
            // Frame 5's index entry claims more than the file holds.
            info.pFrames[5].dwChunkLen = 0x100000;
        } else {
            g_nAbortAtPump = g_nPumps + 7;
        }
        DetectRefFiles(&info);
        EXPECT_FALSE(g_fRefListComplete);
        EXPECT_FALSE(g_enabled[IDC_SHIFT_DELETE]);
        g_nAbortAtPump = 0;
        Select({0, 1});
        ShowSelectedSize(&info);
        EXPECT_FALSE(g_enabled[IDC_SHIFT_MOVE]);
        g_aShown.clear();
        g_pfnShowMessage = Answer;
        g_nAnswer = IDNO;
        RelocateRefFiles(&info);
        DeleteRefFiles(&info);
        ASSERT_EQ(g_aShown.size(), 3u) << "a refusal, the question, a refusal: " << Messages();
        EXPECT_NE(g_aShown[2].text.find("移動も削除もできません!"), std::string::npos);
        EXPECT_EQ(ReadBytes(Path("rec.avi")), avi);
        EXPECT_EQ(ListFolder(dir, "take.*"), (std::vector<std::string>{"take.000", "take.001"}));
        EXPECT_EQ(ListFolder(dir, "new.*"), std::vector<std::string>{});
    }
}
