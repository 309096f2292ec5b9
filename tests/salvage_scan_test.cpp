// Spoolmend's scan, preview and writer on reference files recorded through
// Spoolcap, on damaged copies of them and on long hand-made ones.
#include "tests/salvage_fixture.h"

#include "codec/refformat.h"
#include "tests/samplecodec/samplecodec.h"

#include <string.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

// Found by the library's comparisons of vectors through argument lookup.
bool operator==(const REFFRAMEPOS &a, const REFFRAMEPOS &b)
{
    return a.dwOffset == b.dwOffset && a.dwFrameSize == b.dwFrameSize;
}

namespace {

using Scan = SalvageTest;
using Write = SalvageTest;

// The frames of a reference file as the headers chain them.
std::vector<REFFRAMEPOS> Chain(const std::vector<BYTE> &file)
{
    std::vector<REFFRAMEPOS> frames;
    for (size_t at = 0; at + 16 <= file.size();) {
        DWORD cb = Dword(file, at);
        frames.push_back(REFFRAMEPOS{(DWORD)at, cb});
        at += cb;
    }
    return frames;
}

std::vector<REFFRAMEPOS> Listed() { return std::vector<REFFRAMEPOS>(g_pRefFrames, g_pRefFrames + g_nRefFrames); }

void PutHeader(std::vector<BYTE> *pFile, size_t at, DWORD dwFrame, DWORD dwData, DWORD dwPad)
{
    const DWORD adw[] = {dwFrame, dwData, dwPad};
    memcpy(pFile->data() + at, adw, sizeof(adw));
}

// A long reference file made by hand: n frames of varying sizes.
std::vector<BYTE> LongRefFile(DWORD nFrames, std::vector<REFFRAMEPOS> *pFrames)
{
    std::vector<BYTE> file;
    for (DWORD i = 0; i < nFrames; i++) {
        DWORD cbData = 16 + (i * 7) % 50, cbPad = (16 - cbData % 16) % 16;
        REFFRAMEHEADER header;
        FillFrameHeader(&header, cbData, cbPad, 64, 48);
        pFrames->push_back(REFFRAMEPOS{(DWORD)file.size(), header.dwFrameSize});
        const BYTE *pb = reinterpret_cast<const BYTE *>(&header);
        file.insert(file.end(), pb, pb + sizeof(header));
        file.insert(file.end(), cbData + cbPad, (BYTE)i);
    }
    return file;
}

}  // namespace

TEST_F(Scan, OpeningListsTheFirstFrameAndOffersItsPictureSize)
{
    std::string ref = Record("take", 5, 64, 48);
    ASSERT_TRUE(Open(ref, false));
    EXPECT_EQ(g_nRefFrames, 1u);
    EXPECT_EQ(g_ui.title, "Spoolmend 1.04 - " + ref);
    EXPECT_EQ(g_ui.texts[IDC_NFRAMES], "1");
    EXPECT_TRUE(g_ui.visible[IDC_SCANALL]);
    EXPECT_FALSE(g_ui.visible[IDC_WRITEAVI]);
    // The picture size went into the fields and their notifications were
    // posted, width first.
    ASSERT_EQ(g_ui.posted.size(), 2u);
    EXPECT_EQ(g_ui.posted[0], std::make_pair(IDC_WIDTH, (UINT)CBN_SELENDOK));
    EXPECT_EQ(g_ui.posted[1], std::make_pair(IDC_HEIGHT, (UINT)CBN_SELENDOK));
    EXPECT_EQ(g_aCombo[1].items, std::vector<std::string>{"64"});
    EXPECT_EQ(g_aCombo[2].items, std::vector<std::string>{"48"});
    // The busy state was left, and frame 0 shown through the codec.
    EXPECT_EQ(g_fBusy, 0);
    EXPECT_TRUE(g_ui.enabled[IDC_OPEN]);
    EXPECT_FALSE(g_ui.enabled[IDC_ABORT]);
    EXPECT_EQ(g_ui.lastPicture, pictures[0]);
    EXPECT_TRUE(g_ui.shown.empty()) << OnlyMessage();
}

TEST_F(Scan, AFileOfAnotherPictureSizeIsShownOnceItsSizeIsApplied)
{
    std::string ref = Record("take", 2, 64, 48);
    ASSERT_TRUE(ApplyPictureSize(720, 480));
    snprintf(g_szRefFile, sizeof(g_szRefFile), "%s", ref.c_str());
    ASSERT_TRUE(ScanRefFile(g_szRefFile, FALSE));
    EXPECT_EQ(g_ui.nPictures + g_ui.nFailedPictures, 0) << "nothing is decoded at the wrong size";
    // The window then handles the posted notifications: the size is
    // applied whole at the first, and the file opened again.
    std::vector<std::pair<int, UINT>> posted = g_ui.posted;
    g_ui.posted.clear();
    for (auto &p : posted) OnSizeField(p.first, p.second);
    EXPECT_EQ(g_bihRgb.biWidth, 64);
    EXPECT_EQ(g_bihRgb.biHeight, 48);
    EXPECT_EQ(g_nRefFrames, 1u);
    EXPECT_EQ(g_ui.lastPicture, pictures[0]);
    EXPECT_EQ(g_ui.nFailedPictures, 0);
    EXPECT_TRUE(g_ui.shown.empty()) << OnlyMessage();
    // Typed sizes still apply one field at a time.
    g_aCombo[1].edit = "32";
    OnSizeField(IDC_WIDTH, CBN_EDITCHANGE);
    EXPECT_EQ(g_bihRgb.biWidth, 32);
    EXPECT_EQ(g_bihRgb.biHeight, 48);
}

TEST_F(Scan, WholeScanListsEveryFrameAndEndsQuietlyAtTheEnd)
{
    std::string ref = Record("take", 7, 64, 48);
    ASSERT_TRUE(Open(ref));
    EXPECT_EQ(Listed(), Chain(ReadBytes(ref)));
    EXPECT_EQ(g_nRefFrames, 7u) << "the last frame ends exactly at the end of the file and is listed";
    EXPECT_FALSE(g_ui.visible[IDC_SCANALL]);
    EXPECT_TRUE(g_ui.visible[IDC_WRITEAVI]);
    EXPECT_EQ(g_ui.nScrollMax, 6u);
    // Continuing at the end of the file lists nothing more, silently.
    EXPECT_TRUE(ScanRefFile(g_szRefFile, TRUE));
    EXPECT_EQ(g_nRefFrames, 7u);
    EXPECT_TRUE(g_ui.shown.empty()) << OnlyMessage();
    // Every frame decodes to its picture.
    for (DWORD n = 0; n < 7; n++) {
        ASSERT_TRUE(ShowRefFrame(n));
        EXPECT_EQ(g_ui.lastPicture, pictures[n]) << n;
        EXPECT_EQ(g_ui.texts[IDC_CURFRAME], std::to_string(n));
        EXPECT_EQ(g_ui.nScrollPos, n);
    }
}

TEST_F(Scan, AFileOfOneFrameListsIt)
{
    ASSERT_TRUE(Open(Record("one", 1, 32, 16)));
    EXPECT_EQ(g_nRefFrames, 1u);
    EXPECT_TRUE(g_ui.visible[IDC_WRITEAVI]);
    EXPECT_TRUE(g_ui.shown.empty()) << OnlyMessage();
}

TEST_F(Scan, FilesThatAreNoReferenceFilesLeaveNothingOpen)
{
    struct {
        const char *pszName;
        std::vector<BYTE> bytes;
        const char *pszMessage;
    } aCases[] = {
        {"empty.000", {}, "<ref>が読み出せません!(00000026)"},
        {"short.000", std::vector<BYTE>(10, 0), "<ref>が読み出せません!(00000026)"},
        {"text.000", std::vector<BYTE>(100, 'x'), "<ref>は参照ファイルではありません!"},
    };
    for (auto &c : aCases) {
        g_ui.shown.clear();
        WriteBytes(Path(c.pszName), c.bytes.data(), c.bytes.size());
        EXPECT_FALSE(Open(Path(c.pszName), false)) << c.pszName;
        EXPECT_EQ(OnlyMessage(), c.pszMessage) << c.pszName;
        ASSERT_FALSE(g_ui.shown.empty());
        EXPECT_EQ(g_ui.shown[0].caption, "Spoolmend");
        EXPECT_EQ(g_ui.shown[0].uType, (UINT)(MB_OK | MB_ICONSTOP));
        EXPECT_EQ(g_hRefFile, INVALID_HANDLE_VALUE) << c.pszName;
        EXPECT_EQ(g_nRefFrames, 0u);
        EXPECT_EQ(g_ui.title, "Spoolmend 1.04");
        EXPECT_EQ(g_ui.texts[IDC_NFRAMES], "");
    }
    // A first frame that runs past the end is closed without a message.
    std::vector<BYTE> cut = ReadBytes(Record("cut", 1, 32, 16));
    cut.resize(cut.size() - 1);
    WriteBytes(Path("cut.001"), cut.data(), cut.size());
    g_ui.shown.clear();
    EXPECT_TRUE(Open(Path("cut.001"), false));
    EXPECT_EQ(g_nRefFrames, 0u);
    EXPECT_EQ(g_hRefFile, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(g_ui.shown.empty()) << OnlyMessage();
    // A missing file cannot be opened.
    EXPECT_FALSE(Open(Path("none.000"), false));
    EXPECT_EQ(OnlyMessage(), "<ref>がオープンできません!");
}

TEST_F(Scan, DamagedHeadersKeepTheFramesBeforeThem)
{
    std::vector<BYTE> good = ReadBytes(Record("take", 6, 64, 48));
    std::vector<REFFRAMEPOS> frames = Chain(good);
    ASSERT_EQ(frames.size(), 6u);
    size_t at = frames[3].dwOffset;
    struct {
        const char *pszWhat;
        DWORD dwFrame, dwData, dwPad;
    } aCases[] = {
        {"sizes that do not add up", frames[3].dwFrameSize + 16, frames[3].dwFrameSize - 16, 0},
        {"data and padding wrap round", 0x20, 0xFFFFFFF0u, 0x20},
        {"frame size below its header", 8, 0xFFFFFFF0u, 8},
        {"zero sizes", 0, 0, 0},
        {"a frame too large for a record", 0x40000010u, 0x40000000u, 0},
    };
    for (auto &c : aCases) {
        std::vector<BYTE> bad = good;
        PutHeader(&bad, at, c.dwFrame, c.dwData, c.dwPad);
        ASSERT_TRUE(WriteBytes(Path("bad.000"), bad.data(), bad.size()));
        g_ui.shown.clear();
        EXPECT_FALSE(Open(Path("bad.000"))) << c.pszWhat;
        EXPECT_EQ(OnlyMessage(), "<ref>は参照ファイルではないか、\nバイト位置" + std::to_string(at) + "のヘッダが破損しています!")
            << c.pszWhat;
        EXPECT_EQ(Listed(), std::vector<REFFRAMEPOS>(frames.begin(), frames.begin() + 3)) << c.pszWhat;
        // The AVI output is offered for the frames before the damage.
        EXPECT_TRUE(g_ui.visible[IDC_WRITEAVI]) << c.pszWhat;
    }
}

TEST_F(Scan, TheEndOfTheFileInsideAFrame)
{
    std::vector<BYTE> good = ReadBytes(Record("take", 4, 64, 48));
    std::vector<REFFRAMEPOS> frames = Chain(good);
    // Ten bytes of a further header: a failed read, the frames stay.
    std::vector<BYTE> bytes = good;
    bytes.insert(bytes.end(), 10, 0);
    WriteBytes(Path("tail.000"), bytes.data(), bytes.size());
    EXPECT_FALSE(Open(Path("tail.000")));
    EXPECT_EQ(OnlyMessage(), "<ref>が読み出せません!(00000026)");
    EXPECT_EQ(Listed(), frames);
    // The last frame cut short: not listed, no message.
    bytes = good;
    bytes.resize(bytes.size() - 5);
    WriteBytes(Path("cut.000"), bytes.data(), bytes.size());
    g_ui.shown.clear();
    EXPECT_TRUE(Open(Path("cut.000")));
    EXPECT_TRUE(g_ui.shown.empty()) << OnlyMessage();
    EXPECT_EQ(Listed(), std::vector<REFFRAMEPOS>(frames.begin(), frames.begin() + 3));
    EXPECT_EQ(g_ui.texts[IDC_NFRAMES], "3");
}

TEST_F(Scan, AbortKeepsWhatWasFoundAndContinuingGoesOnAfterIt)
{
    std::vector<REFFRAMEPOS> frames;
    std::vector<BYTE> file = LongRefFile(2500, &frames);
    ASSERT_TRUE(WriteBytes(Path("long.000"), file.data(), file.size()));
    g_fccHandler = 0;
    ASSERT_TRUE(Open(Path("long.000"), false));
    EXPECT_FALSE(g_ui.enabled[IDC_ABORT]);
    // Frames smaller than the picture: a unit still holds a header and a
    // whole picture, for a raw frame drawn from behind its header.
    EXPECT_GE(g_cbReadUnit, 16u + 64 * 3 * 48);
    g_ui.onPump = [](int nPumps) {
        // The loop runs busy: only abort is offered.
        EXPECT_TRUE(g_ui.enabled[IDC_ABORT]);
        EXPECT_FALSE(g_ui.enabled[IDC_OPEN]);
        EXPECT_FALSE(g_ui.enabled[IDC_WIDTH]);
        if (nPumps == 1200) g_fAbort = 1;
    };
    EXPECT_TRUE(ScanRefFile(g_szRefFile, TRUE));
    EXPECT_EQ(g_nRefFrames, 1201u);
    EXPECT_TRUE(g_ui.visible[IDC_SCANALL]);
    EXPECT_FALSE(g_ui.visible[IDC_WRITEAVI]);
    g_ui.onPump = nullptr;
    EXPECT_TRUE(ScanRefFile(g_szRefFile, TRUE));
    EXPECT_EQ(Listed(), frames) << "a scan of the whole file lists every frame once, in order";
    EXPECT_GE(g_nRefFrameCap, 2500u);
    EXPECT_EQ(g_nRefFrameCap % 1000, 0u);
    EXPECT_TRUE(g_ui.visible[IDC_WRITEAVI]);
    EXPECT_TRUE(g_ui.shown.empty()) << OnlyMessage();
}

TEST_F(Scan, PictureSizeOfTheHeader)
{
    std::vector<REFFRAMEPOS> frames;
    std::vector<BYTE> file = LongRefFile(2, &frames);
    struct {
        SHORT wWidth, wHeight;
        std::vector<std::string> widths, heights;
    } aCases[] = {
        {64, -48, {"64"}, {"48"}},  // a top-down picture
        {0, 48, {}, {}},            // an unknown size leaves the fields alone
        {64, 0, {}, {}},
    };
    for (auto &c : aCases) {
        memcpy(&file[12], &c.wWidth, 2);
        memcpy(&file[14], &c.wHeight, 2);
        WriteBytes(Path("size.000"), file.data(), file.size());
        for (int i = 1; i < 3; i++) InitFakeCombo(&g_aCombo[i], true);
        g_ui.posted.clear();
        ASSERT_TRUE(Open(Path("size.000"), false));
        EXPECT_EQ(g_aCombo[1].items, c.widths);
        EXPECT_EQ(g_aCombo[2].items, c.heights);
        EXPECT_EQ(g_ui.posted.size(), c.widths.size() * 2);
    }
}

TEST_F(Scan, PreviewOfRawFramesAndOfACodecThatCannotBeOpened)
{
    std::string ref = Record("raw", 3, 30, 20, true);
    g_fccHandler = 0;
    ASSERT_TRUE(Open(ref));
    EXPECT_TRUE(g_ui.shown.empty()) << OnlyMessage();
    ASSERT_TRUE(ShowRefFrame(2));
    EXPECT_EQ(g_ui.lastPicture, pictures[2]) << "a raw frame is the picture itself";
    EXPECT_FALSE(ShowRefFrame(3));
    EXPECT_EQ(OnlyMessage(), "フレームNoが不正です!");
    // A codec that is not installed: one message per step, the frame
    // number still moves.
    g_ui.shown.clear();
    g_fccHandler = mmioFOURCC('N', 'O', 'N', 'E');
    ResetPreviewCodec();
    int nFailed = g_ui.nFailedPictures;
    EXPECT_FALSE(ShowRefFrame(1));
    EXPECT_EQ(OnlyMessage(), "コーデックがオープンできません!");
    EXPECT_EQ(g_nCurFrame, 1u);
    EXPECT_EQ(g_ui.nFailedPictures, nFailed + 1);
    EXPECT_FALSE(ShowRefFrame(2));
    EXPECT_EQ(g_ui.shown.size(), 2u);
    // Without a file.
    ScanRefFile(NULL, FALSE);
    g_ui.shown.clear();
    EXPECT_FALSE(ShowRefFrame(0));
    EXPECT_EQ(OnlyMessage(), "参照ファイルはオープンされていません!");
}

TEST_F(Scan, ASizeStoredButNotAppliedIsNeverDecodedInto)
{
    ASSERT_TRUE(Open(Record("take", 3, 64, 48)));
    g_aCombo[2].edit = "12";
    OnSizeField(IDC_HEIGHT, CBN_EDITCHANGE);
    EXPECT_EQ(g_bihRgb.biHeight, 12);
    EXPECT_FALSE(ShowRefFrame(1));
    EXPECT_EQ(OnlyMessage(), "フレームが伸張できません!");
    g_fccHandler = 0;
    g_ui.shown.clear();
    EXPECT_FALSE(ShowRefFrame(1)) << "nor drawn raw";
    EXPECT_EQ(g_nCurFrame, 1u);
}

TEST_F(Scan, PictureSizeResources)
{
    ASSERT_TRUE(ApplyPictureSize(720, 480));
    EXPECT_EQ(g_cbRgb, 1095168u);
    EXPECT_EQ(g_bihRgb.biSizeImage, 1036800u);
    EXPECT_EQ(g_pbRgb[0], 0x55);
    EXPECT_EQ(g_pbRgb[1036799], 0x55);
    ASSERT_TRUE(ApplyPictureSize(64, 32));
    EXPECT_EQ(g_cbRgb, 80u * 48 * 3) << "a multiple of 16 still gets 16 more";
    RECT rc;
    ComputePreviewLayout(720, 480, 200, 150, &rc);
    EXPECT_EQ(rc.left, 2);
    EXPECT_EQ(rc.top, 10);
    EXPECT_EQ(rc.right - rc.left, 196);
    EXPECT_EQ(rc.bottom - rc.top, 130);
    ComputePreviewLayout(100, 400, 200, 150, &rc);  // a tall picture
    EXPECT_EQ(rc.top, 2);
    EXPECT_EQ(rc.bottom - rc.top, 146);
    EXPECT_EQ(rc.right - rc.left, 36);
    EXPECT_EQ(rc.left, 2 + (196 - 36) / 2);
    // Changing the size after a whole scan lists only the first frame.
    std::string ref = Record("take", 3, 64, 48);
    ASSERT_TRUE(Open(ref));
    EXPECT_EQ(g_nRefFrames, 3u);
    ASSERT_TRUE(ApplyPictureSize(32, 24));
    EXPECT_EQ(g_nRefFrames, 1u);
    EXPECT_TRUE(g_ui.visible[IDC_SCANALL]);
    // A size whose buffer cannot be had is reported and leaves no file open.
    g_ui.shown.clear();
    EXPECT_FALSE(ApplyPictureSize(0x7FFFFFFF, 0x7FFFFFFF));
    EXPECT_EQ(OnlyMessage(), "メモリが確保できません(4294967295)!");
    EXPECT_EQ(g_pbRgb, nullptr);
    EXPECT_EQ(g_hRefFile, INVALID_HANDLE_VALUE);
}

// --- The writer -------------------------------------------------------------

namespace {

struct AVILAYOUT {
    std::vector<BYTE> bytes;
    DWORD cbFormat = 0;
    size_t atAvih = 0, atStrh = 0, atStrf = 0, atMovi = 0, atIdx1 = 0;
};

// Walks the salvaged AVI's fixed layout, checking every chunk's id and size.
AVILAYOUT Layout(const std::string &path)
{
    AVILAYOUT l;
    l.bytes = ReadBytes(path);
    const std::vector<BYTE> &b = l.bytes;
    auto Id = [&](size_t at) { return std::string(b.begin() + (long)at, b.begin() + (long)at + 4); };
    EXPECT_GE(b.size(), 200u);
    if (b.size() < 200) return l;
    EXPECT_EQ(Id(0), "RIFF");
    EXPECT_EQ(Dword(b, 4), b.size() - 8);
    EXPECT_EQ(Id(8), "AVI ");
    EXPECT_EQ(Id(12), "LIST");
    EXPECT_EQ(Id(20), "hdrl");
    EXPECT_EQ(Id(24), "avih");
    EXPECT_EQ(Dword(b, 28), 56u);
    l.atAvih = 32;
    EXPECT_EQ(Id(88), "LIST");
    EXPECT_EQ(Id(96), "strl");
    EXPECT_EQ(Id(100), "strh");
    EXPECT_EQ(Dword(b, 104), 64u);
    l.atStrh = 108;
    EXPECT_EQ(Id(172), "strf");
    l.cbFormat = Dword(b, 176);
    l.atStrf = 180;
    size_t atStrfEnd = 180 + l.cbFormat + (l.cbFormat & 1);
    EXPECT_EQ(Dword(b, 92), atStrfEnd - 96) << "strl";
    EXPECT_EQ(Dword(b, 16), atStrfEnd - 20) << "hdrl";
    EXPECT_EQ(Id(atStrfEnd), "LIST");
    EXPECT_EQ(Id(atStrfEnd + 8), "movi");
    l.atMovi = atStrfEnd;
    l.atIdx1 = atStrfEnd + 8 + Dword(b, atStrfEnd + 4);
    EXPECT_EQ(Id(l.atIdx1), "idx1");
    EXPECT_EQ(l.atIdx1 + 8 + Dword(b, l.atIdx1 + 4), b.size());
    return l;
}

REFRECORD RecordAt(const AVILAYOUT &l, size_t atChunk)
{
    REFRECORD rec;
    memset(&rec, 0, sizeof(rec));
    if (atChunk + 8 + sizeof(rec) <= l.bytes.size()) memcpy(&rec, &l.bytes[atChunk + 8], sizeof(rec));
    return rec;
}

// Checks every frame chunk, its index entry and its record against the list.
void CheckFrames(const AVILAYOUT &l, DWORD nFrames, bool fRaw)
{
    ASSERT_EQ(Dword(l.bytes, l.atIdx1 + 4), nFrames * 16);
    EXPECT_EQ(Dword(l.bytes, l.atAvih + 16), nFrames) << "dwTotalFrames";
    EXPECT_EQ(Dword(l.bytes, l.atStrh + 32), nFrames) << "dwLength";
    for (DWORD i = 0; i < nFrames; i++) {
        size_t atEntry = l.atIdx1 + 8 + 16 * (size_t)i;
        DWORD dwChunk = Dword(l.bytes, atEntry + 8);
        ASSERT_EQ(dwChunk, l.atMovi + 12 + 284 * (size_t)i) << i;
        EXPECT_EQ(Dword(l.bytes, atEntry), mmioFOURCC('0', '0', 'd', 'b'));
        EXPECT_EQ(Dword(l.bytes, atEntry + 4), (DWORD)AVIIF_KEYFRAME);
        EXPECT_EQ(Dword(l.bytes, atEntry + 12), 276u);
        EXPECT_EQ(Dword(l.bytes, dwChunk), mmioFOURCC('0', '0', 'd', 'b'));
        EXPECT_EQ(Dword(l.bytes, dwChunk + 4), 276u);
        REFRECORD rec = RecordAt(l, dwChunk);
        EXPECT_EQ(memcmp(rec.achMagic, "Spoolcap", 8), 0);
        EXPECT_EQ(rec.dwOffset, g_pRefFrames[i].dwOffset) << i;
        EXPECT_EQ(rec.dwSizeFlags, g_pRefFrames[i].dwFrameSize | (fRaw ? REFREC_RAW : 0)) << i;
        EXPECT_STREQ(rec.szFileName, g_szRefFile);
        size_t cch = strlen(rec.szFileName);
        for (size_t k = cch; k < sizeof(rec.szFileName); k++) ASSERT_EQ(rec.szFileName[k], 0) << "zero-filled";
    }
}

}  // namespace

TEST_F(Write, TheLayoutByteForByteWithACodec)
{
    ASSERT_TRUE(Open(Record("take", 5, 64, 48)));
    ASSERT_NE(g_pbiCompressed, nullptr);
    ASSERT_TRUE(ShowRefFrame(3));
    // What the codec reports for the picture, asked afresh.
    HIC hic = ICOpen(ICTYPE_VIDEO, SAMPLE_FOURCC, ICMODE_COMPRESS);
    ASSERT_NE(hic, nullptr);
    std::vector<BYTE> fresh((size_t)ICSendMessage(hic, ICM_COMPRESS_GET_FORMAT, (DWORD_PTR)&g_bihRgb, 0));
    ASSERT_GE(fresh.size(), sizeof(BITMAPINFOHEADER));
    ASSERT_EQ(ICSendMessage(hic, ICM_COMPRESS_GET_FORMAT, (DWORD_PTR)&g_bihRgb, (DWORD_PTR)fresh.data()), ICERR_OK);
    ICClose(hic);
    std::string avi = Path("take.avi");
    ASSERT_TRUE(WriteSalvageAvi(avi.c_str()));
    EXPECT_TRUE(g_ui.shown.empty()) << OnlyMessage();
    AVILAYOUT l = Layout(avi);
    const std::vector<BYTE> &b = l.bytes;
    // The main header.
    const DWORD adwAvih[] = {33367, 0, 0, 0x10, 5, 0, 1, 0, 64, 48, 0, 0, 0, 0};
    for (size_t i = 0; i < 14; i++) EXPECT_EQ(Dword(b, l.atAvih + 4 * i), adwAvih[i]) << "avih field " << i;
    // The stream header in its 64-byte form.
    const DWORD adwStrh[] = {mmioFOURCC('v', 'i', 'd', 's'), SAMPLE_FOURCC, 0, 0, 0, 1001, 30000, 0, 5, 0,
                             0xFFFFFFFFu, 0, 0, 0, 0, 0};
    for (size_t i = 0; i < 16; i++) EXPECT_EQ(Dword(b, l.atStrh + 4 * i), adwStrh[i]) << "strh field " << i;
    // The format is the codec's for 24-bit input, and the first frame
    // chunk lies at 180 + n + 12.
    ASSERT_EQ(l.cbFormat, fresh.size());
    EXPECT_EQ(std::vector<BYTE>(b.begin() + (long)l.atStrf, b.begin() + (long)(l.atStrf + l.cbFormat)), fresh)
        << "the stream's format is the codec's answer, whatever frames were shown";
    EXPECT_EQ(l.cbFormat % 2, 0u);
    EXPECT_EQ(l.atMovi + 12, 180 + l.cbFormat + 12);
    CheckFrames(l, 5, false);
    // No file of ours stays beside it.
    EXPECT_EQ(ListFolder(dir, "take.avi*"), std::vector<std::string>{"take.avi"});
}

TEST_F(Write, RawRecordsNameTheReferenceCodecOfTheSaveDialog)
{
    g_fccHandler = 0;
    ASSERT_TRUE(Open(Record("raw", 4, 32, 16, true)));
    EXPECT_TRUE(g_ui.shown.empty()) << OnlyMessage();
    g_fccRefHandler = SAMPLE_FOURCC;
    snprintf(g_szFrameRate, sizeof(g_szFrameRate), "25");
    ParseFrameRate(g_szFrameRate);
    std::string avi = Path("raw.avi");
    ASSERT_TRUE(WriteSalvageAvi(avi.c_str()));
    AVILAYOUT l = Layout(avi);
    EXPECT_EQ(Dword(l.bytes, l.atAvih), 40000u);
    EXPECT_EQ(Dword(l.bytes, l.atStrh + 4), SAMPLE_FOURCC);
    EXPECT_EQ(Dword(l.bytes, l.atStrh + 20), 100000000u);
    EXPECT_EQ(Dword(l.bytes, l.atStrh + 24), 2500000000u);
    // The format is what the reference codec answers for the picture.
    EXPECT_EQ(Dword(l.bytes, l.atStrf + 16), SAMPLE_FOURCC) << "biCompression";
    EXPECT_EQ(Dword(l.bytes, l.atStrf + 4), 32u);
    CheckFrames(l, 4, true);
    // A reference codec that is not installed: nothing is written.
    g_fccRefHandler = mmioFOURCC('N', 'O', 'N', 'E');
    EXPECT_FALSE(WriteSalvageAvi(Path("none.avi").c_str()));
    EXPECT_EQ(OnlyMessage(), "コーデックNONEがオープンできません!");
    EXPECT_EQ(ListFolder(dir, "none*"), std::vector<std::string>{});
}

TEST_F(Write, AbortAfterKFramesGivesAnAviOfKFrames)
{
    ASSERT_TRUE(Open(Record("take", 9, 64, 48)));
    g_ui.onPump = [](int nPumps) {
        EXPECT_FALSE(g_ui.enabled[IDC_WRITEAVI]);
        if (nPumps == 4) g_fAbort = 1;
    };
    g_ui.nPumps = 0;
    std::string avi = Path("abort.avi");
    ASSERT_TRUE(WriteSalvageAvi(avi.c_str()));
    AVILAYOUT l = Layout(avi);
    CheckFrames(l, 4, false);
    EXPECT_EQ(g_fBusy, 0);
    EXPECT_TRUE(g_ui.shown.empty()) << OnlyMessage();
}

TEST_F(Write, ThousandsOfFramesOfALongFile)
{
    std::vector<REFFRAMEPOS> frames;
    std::vector<BYTE> file = LongRefFile(20000, &frames);
    ASSERT_TRUE(WriteBytes(Path("long.000"), file.data(), file.size()));
    g_fccHandler = 0;
    g_fccRefHandler = SAMPLE_FOURCC;
    ASSERT_TRUE(Open(Path("long.000")));
    ASSERT_EQ(g_nRefFrames, 20000u);
    std::string avi = Path("long.avi");
    ASSERT_TRUE(WriteSalvageAvi(avi.c_str()));
    CheckFrames(Layout(avi), 20000, true);
}

TEST_F(Write, AnExistingFileIsReplacedOnlyByAFinishedAvi)
{
    ASSERT_TRUE(Open(Record("take", 3, 64, 48)));
    std::string avi = Path("keep.avi");
    ASSERT_TRUE(WriteText(avi, "the user's file"));
    // Failures before the first frame leave the old file and nothing else.
    g_fccHandler = 0;
    g_fccRefHandler = mmioFOURCC('N', 'O', 'N', 'E');
    EXPECT_FALSE(WriteSalvageAvi(avi.c_str()));
    snprintf(g_szFrameRate, sizeof(g_szFrameRate), "0");
    ParseFrameRate(g_szFrameRate);
    g_fccRefHandler = SAMPLE_FOURCC;
    g_ui.shown.clear();
    EXPECT_FALSE(WriteSalvageAvi(avi.c_str()));
    EXPECT_EQ(OnlyMessage(), "フレームレート「0」ではAVIファイルを出力できません!");
    snprintf(g_szFrameRate, sizeof(g_szFrameRate), "%s", "");
    ParseFrameRate(g_szFrameRate);
    EXPECT_FALSE(WriteSalvageAvi(avi.c_str()));
    EXPECT_EQ(ReadText(avi), "the user's file");
    EXPECT_EQ(ListFolder(dir, "keep*"), std::vector<std::string>{"keep.avi"});
    // The reference file itself is never the output.
    g_ui.shown.clear();
    snprintf(g_szFrameRate, sizeof(g_szFrameRate), "30");
    ParseFrameRate(g_szFrameRate);
    std::vector<BYTE> ref = ReadBytes(g_szRefFile);
    EXPECT_FALSE(WriteSalvageAvi(g_szRefFile));
    EXPECT_EQ(OnlyMessage(), "<ref>は参照ファイルです!\n別の名前を選んで下さい.");
    EXPECT_EQ(ReadBytes(g_szRefFile), ref);
    // A finished AVI replaces it.
    ASSERT_TRUE(WriteSalvageAvi(avi.c_str()));
    CheckFrames(Layout(avi), 3, true);
    EXPECT_EQ(ListFolder(dir, "keep*"), std::vector<std::string>{"keep.avi"});
}

#ifndef _WIN32
TEST_F(Write, AFullDiskLeavesTheOldFileAndNoPartialOne)
{
    std::vector<REFFRAMEPOS> frames;
    std::vector<BYTE> file = LongRefFile(3000, &frames);
    ASSERT_TRUE(WriteBytes(Path("long.000"), file.data(), file.size()));
    g_fccHandler = 0;
    g_fccRefHandler = SAMPLE_FOURCC;
    ASSERT_TRUE(Open(Path("long.000")));
    std::string avi = Path("out.avi");
    ASSERT_TRUE(WriteText(avi, "old"));
    {
        // Room for part of the frames only: files may not grow beyond
        // 200000 bytes, and a write past that fails instead of ending the
        // process.
        struct rlimit old, limit;
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        limit = old;
        limit.rlim_cur = 200000;
        void (*pfnOld)(int) = signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        EXPECT_FALSE(WriteSalvageAvi(avi.c_str()));
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, pfnOld);
    }
    EXPECT_NE(OnlyMessage().find("書き込みに失敗しました!"), std::string::npos) << OnlyMessage();
    EXPECT_EQ(ReadText(avi), "old");
    EXPECT_EQ(ListFolder(dir, "out*"), std::vector<std::string>{"out.avi"});
}

// A write that fails, or (on a platform whose buffered writes swallow a full
// disk's errors) every write from one on that is lost without an error:
// wherever it happens, in the headers, among the frames or in the index,
// nothing replaces the file of the chosen name and nothing is left beside it.
TEST_F(Write, AFailedOrLostWriteNeverReplacesAFile)
{
    std::vector<REFFRAMEPOS> frames;
    std::vector<BYTE> file = LongRefFile(2000, &frames);
    ASSERT_TRUE(WriteBytes(Path("long.000"), file.data(), file.size()));
    g_fccHandler = 0;
    g_fccRefHandler = SAMPLE_FOURCC;
    ASSERT_TRUE(Open(Path("long.000")));
    std::string avi = Path("out.avi");
    SpoolArmFault(SPOOLFAULT_WRITE_LOST, 0);
    ASSERT_TRUE(WriteSalvageAvi(avi.c_str()));
    unsigned nWrites = SpoolFaultCalls(SPOOLFAULT_WRITE_LOST);
    ASSERT_GT(nWrites, 3u);
    // Early on, midway, and each of the last writes: the chunk sizes that
    // closing the chunks writes back come last.
    std::vector<unsigned> aFrom = {2u, nWrites / 2};
    for (unsigned n = nWrites > 12 ? nWrites - 12 : 1; n < nWrites; n++) aFrom.push_back(n);
    for (unsigned n = 1; n < nWrites; n += nWrites / 40 + 1) aFrom.push_back(n);
    for (int nFault : {SPOOLFAULT_WRITE_LOST, SPOOLFAULT_WRITE}) {
        for (unsigned n : aFrom) {
            ASSERT_TRUE(WriteText(avi, "old"));
            g_ui.shown.clear();
            SpoolArmFault(nFault, n);
            EXPECT_FALSE(WriteSalvageAvi(avi.c_str())) << "fault " << nFault << " at write " << n;
            SpoolArmFault(nFault, 0);
            EXPECT_EQ(ReadText(avi), "old") << nFault << " " << n;
            EXPECT_EQ(ListFolder(dir, "out*"), std::vector<std::string>{"out.avi"}) << nFault << " " << n;
            EXPECT_EQ(g_ui.shown.size(), 1u) << nFault << " " << n;
        }
    }
}
#endif
