// Loading AVIs built byte by byte and written by ffmpeg.
#include "tests/mover_fixture.h"

#include <string.h>

#include <algorithm>

namespace {

class AviReader : public AviTest {};

// A 24-bit uncompressed picture of w x h with a value per frame.
std::vector<BYTE> Picture24(LONG w, LONG h, int nValue)
{
    DWORD cbStride = ((DWORD)w * 3 + 3) & ~3u;
    return std::vector<BYTE>(cbStride * (DWORD)h, (BYTE)nValue);
}

AVISPEC Uncompressed(int nFrames, bool fAudio = false)
{
    AVISPEC spec;
    spec.dwTotalFrames = (DWORD)nFrames;
    spec.dwLength = (DWORD)nFrames;
    spec.format = MakeFormat(4, 2, 24, BI_RGB, {}, 32);
    spec.fAudioStream = fAudio;
    for (int i = 0; i < nFrames; i++) {
        if (fAudio) spec.chunks.push_back(Frame("01wb", std::vector<BYTE>(10 + i, 0x11), 0));
        spec.chunks.push_back(Frame("00db", Picture24(4, 2, 10 * i)));
    }
    return spec;
}

TEST_F(AviReader, UncompressedWithoutAudio)
{
    std::vector<DWORD> positions;
    ASSERT_TRUE(LoadBytes(BuildAvi(Uncompressed(3), &positions)));
    EXPECT_TRUE(g_aShown.empty());
    EXPECT_EQ(info.nFrames, 3u);
    EXPECT_EQ(info.nAudio, 0u);
    EXPECT_EQ(info.fNoAudio, 1);
    EXPECT_EQ(info.fAllKey, 1);
    EXPECT_EQ(info.fccType, (FOURCC)streamtypeVIDEO);
    EXPECT_EQ(info.fccHandler, 0u);
    EXPECT_STREQ(info.szCodecName, "無圧縮24bit");
    EXPECT_EQ(info.hic, nullptr);
    EXPECT_EQ(info.pStream, nullptr);
    EXPECT_TRUE(g_fCodecReady);
    for (DWORD i = 0; i < 3; i++) {
        EXPECT_EQ(info.pFrames[i].ullChunkPos, positions[i]);
        EXPECT_EQ(info.pFrames[i].dwChunkLen, 24u);
        EXPECT_EQ(info.pFrames[i].dwRef, 0xFFFFFFFFu);
    }
    EXPECT_EQ(info.biOut.biBitCount, 24);
    EXPECT_EQ(info.biOut.biSizeImage, 24u);
    EXPECT_EQ(info.biOut.biWidth, 4);
    EXPECT_EQ(info.biOut.biHeight, 2);
    // The work buffer: three regions, the last at least 1 MiB.
    EXPECT_GE(g_cbWork, 0x100000u + 64);
    EXPECT_EQ(g_pbImage, g_pbWork);
    EXPECT_GE(g_pbWork + g_cbWork - g_pbScratch, 0x100000);
}

TEST_F(AviReader, RelativeAndAbsoluteIndexGiveTheSamePositions)
{
    AVISPEC spec = Uncompressed(3, true);
    std::vector<DWORD> positions;
    ASSERT_TRUE(LoadBytes(BuildAvi(spec, &positions), "rel.avi"));
    std::vector<FRAMEENTRY> relative(info.pFrames, info.pFrames + info.nFrames);
    std::vector<AUDIOENTRY> audio(info.pAudio, info.pAudio + info.nAudio);
    spec.fAbsoluteIndex = true;
    ASSERT_TRUE(LoadBytes(BuildAvi(spec), "abs.avi"));
    ASSERT_EQ(info.nFrames, 3u);
    ASSERT_EQ(info.nAudio, 3u);
    for (DWORD i = 0; i < 3; i++) {
        EXPECT_EQ(info.pFrames[i].ullChunkPos, relative[i].ullChunkPos);
        EXPECT_EQ(info.pFrames[i].ullChunkPos, positions[2 * i + 1]);
        EXPECT_EQ(info.pAudio[i].dwChunkPos, audio[i].dwChunkPos);
        EXPECT_EQ(info.pAudio[i].dwChunkPos, positions[2 * i]);
        EXPECT_EQ(info.pAudio[i].dwChunkLen, 10 + i);
    }
    EXPECT_EQ(info.fNoAudio, 0);
}

TEST_F(AviReader, FirstVideoChunkBehindAudioAndFiller)
{
    AVISPEC spec = Uncompressed(2);
    spec.chunks.insert(spec.chunks.begin(), Frame("JUNK", std::vector<BYTE>(7, 0), 0));
    spec.chunks.insert(spec.chunks.begin(), Frame("01wb", std::vector<BYTE>(5, 0), 0));
    spec.chunks[0].fIndexed = false;
    spec.chunks[1].fIndexed = false;
    std::vector<DWORD> positions;
    ASSERT_TRUE(LoadBytes(BuildAvi(spec, &positions)));
    EXPECT_EQ(info.pFrames[0].ullChunkPos, positions[2]);
    EXPECT_EQ(info.pFrames[1].ullChunkPos, positions[3]);
}

TEST_F(AviReader, VideoInRecordListsOrOfAnotherStreamNumber)
{
    // Frames in "rec " lists, as capture programs keep them with their
    // sound, are frames like any other.
    AVISPEC spec = Uncompressed(2);
    for (AVIFRAME &frame : spec.chunks) frame.fInRecList = frame.fRecListStart = true;
    std::vector<DWORD> positions;
    ASSERT_TRUE(LoadBytes(BuildAvi(spec, &positions)));
    EXPECT_TRUE(g_aShown.empty());
    ASSERT_EQ(info.nFrames, 2u);
    for (DWORD n = 0; n < 2; n++) EXPECT_EQ(info.pFrames[n].ullChunkPos, positions[n]);
    LoadAvi(&info, FALSE);
    // Video of a stream that the headers do not have is not found.
    spec = Uncompressed(2);
    for (AVIFRAME &frame : spec.chunks) frame.id = "02db";
    EXPECT_FALSE(LoadBytes(BuildAvi(spec)));
    EXPECT_EQ(OnlyMessage(), "<path> はDIBチャンクがありません!");
    EXPECT_EQ(g_aShown[0].caption, "Spoolshift");
    EXPECT_EQ(g_aShown[0].uType & MB_ICONMASK, (UINT)MB_ICONQUESTION);
    EXPECT_EQ(info.hmmio, nullptr);
}

// An OpenDML AVI is read through its video stream's super index and the
// standard indexes of every RIFF: each frame at its place, its key flag
// from there, every frame read.
TEST_F(AviReader, OpenDmlIsReadThroughItsIndexesInEveryRiff)
{
    AVISPEC spec = Uncompressed(30, true);
    for (size_t i = 0; i < spec.chunks.size(); i++)
        if (spec.chunks[i].id == "00db" && i % 7 == 3) spec.chunks[i].dwIndexFlags = 0;
    spec.cbRiffLimit = 200;
    std::vector<DWORD> positions;
    std::vector<BYTE> bytes = BuildAvi(spec, &positions);
    ASSERT_TRUE(LoadBytes(bytes));
    EXPECT_TRUE(g_aShown.empty()) << OnlyMessage();
    size_t nRiffs = 0;
    for (size_t at = 0; at + 12 <= bytes.size(); at++) nRiffs += memcmp(&bytes[at], "RIFFxxxxAVIX", 4) == 0 && memcmp(&bytes[at + 8], "AVIX", 4) == 0;
    EXPECT_GE(nRiffs, 3u);
    ASSERT_EQ(info.nFrames, 30u);
    EXPECT_EQ(info.dwUnseen, 0u);
    EXPECT_EQ(info.fAllKey, 0);
    DWORD cbScratch = (DWORD)(g_pbWork + g_cbWork - g_pbScratch);
    for (DWORD n = 0, i = 0; i < spec.chunks.size(); i++) {
        if (spec.chunks[i].id != "00db") continue;
        EXPECT_EQ(info.pFrames[n].ullChunkPos, positions[i]) << n;
        EXPECT_EQ((info.pFrames[n].dwChunkLen & FRAME_NOTKEY) != 0, spec.chunks[i].dwIndexFlags == 0) << n;
        DWORD cb = 0;
        ASSERT_TRUE(AccessFrameData(&info, g_pbScratch, cbScratch, n, FALSE, &cb));
        EXPECT_EQ(std::vector<BYTE>(g_pbScratch, g_pbScratch + cb), spec.chunks[i].data) << n;
        n++;
    }
    // Without its indexes the RIFFs after the first are not read: that is
    // said, for the commands to refuse.
    LoadAvi(&info, FALSE);
    for (size_t at = 0; at + 8 <= bytes.size(); at++)
        if (memcmp(&bytes[at], "indx", 4) == 0) memcpy(&bytes[at], "JUNK", 4);
    ASSERT_TRUE(LoadBytes(bytes));
    EXPECT_EQ(info.dwUnseen & (UNSEEN_MORE_RIFFS | UNSEEN_ODML_FRAMES), (DWORD)(UNSEEN_MORE_RIFFS | UNSEEN_ODML_FRAMES));
}

// A super index that lists one large standard index over and over claims
// more frames than its file can hold: the AVI is refused before any of
// them is read or kept, the work bounded by the file's own size.
TEST_F(AviReader, ASuperIndexThatClaimsMoreThanItsFileHoldsIsRefused)
{
    AVISPEC spec = Uncompressed(300, true);
    spec.cbRiffLimit = 200;
    std::vector<BYTE> bytes = BuildAvi(spec);
    // One standard index of 50,000 entries at the end of the file, which
    // every entry of the video stream's super index lists.
    ASSERT_GE(AppendIndexBomb(&bytes, 50000), 20u);
    EXPECT_FALSE(LoadBytes(bytes));
    EXPECT_EQ(OnlyMessage(), "<path>のOpenDMLインデックスが読み出せません!");
}

TEST_F(AviReader, StreamOneWithAudioAsStreamZero)
{
    AVISPEC spec = Uncompressed(2);
    spec.fAudioStream = true;
    spec.fAudioFirst = true;
    spec.chunks.clear();
    for (int i = 0; i < 2; i++) {
        spec.chunks.push_back(Frame("00wb", std::vector<BYTE>(4, 0), 0));
        spec.chunks.push_back(Frame("01dc", Picture24(4, 2, i)));
    }
    ASSERT_TRUE(LoadBytes(BuildAvi(spec)));
    EXPECT_EQ(info.nFrames, 2u);
    EXPECT_EQ(info.nAudio, 2u);
    EXPECT_EQ(info.pFrames[0].dwChunkLen, 24u | FRAME_DC);
}

// The index's entries are kept by their ids, however many the header says
// there are: every video entry, every audio entry of an audio stream. A
// shortfall against the header is reported and marks the AVI as not read
// whole; a surplus is reported only.
TEST_F(AviReader, EntriesAreKeptByTheirIdsWhateverTheHeaderSays)
{
    struct {
        const char *pszWhat;
        DWORD nHeader, nVideo, nAudio;
        bool fAudioStream;
        const char *pszReport;
        DWORD dwUnseen;
    } cases[] = {
        {"shortfall", 5, 3, 4, true, "<path> の\nフレームのインデックス数がヘッダのフレーム数に2足りませんでした!",
         UNSEEN_INDEX_SHORT},
        {"surplus", 2, 3, 1, true, "<path> の\nフレームのインデックス数がヘッダのフレーム数より1余分でした!", 0},
        {"no audio stream", 4, 2, 1, false, "<path> の\nフレームのインデックス数がヘッダのフレーム数に2足りませんでした!",
         UNSEEN_INDEX_SHORT},
        {"as the header says", 3, 3, 2, true, "", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pszWhat);
        LoadAvi(&info, FALSE);
        g_aShown.clear();
        AVISPEC spec = Uncompressed(c.nVideo, c.fAudioStream);
        spec.chunks.erase(std::remove_if(spec.chunks.begin(), spec.chunks.end(),
                                         [](const AVIFRAME &f) { return f.id == "01wb"; }),
                          spec.chunks.end());
        for (DWORD i = 0; i < c.nAudio; i++) spec.chunks.push_back(Frame("01wb", std::vector<BYTE>(3, 0), 0));
        // Palette changes and entries past the index's end are no frames.
        spec.chunks.insert(spec.chunks.begin() + 1, Frame("00pc", std::vector<BYTE>(8, 0), 0));
        DWORD adwFake[4] = {mmioFOURCC('0', '0', 'd', 'b'), AVIIF_KEYFRAME, 4, 24};
        spec.afterIdx1.assign(reinterpret_cast<BYTE *>(adwFake), reinterpret_cast<BYTE *>(adwFake) + 16);
        spec.dwTotalFrames = spec.dwLength = c.nHeader;
        ASSERT_TRUE(LoadBytes(BuildAvi(spec)));
        EXPECT_EQ(info.nFrames, c.nVideo);
        EXPECT_EQ(info.nAudio, c.fAudioStream ? c.nAudio : 0u);
        EXPECT_EQ(info.dwUnseen, c.dwUnseen);
        if (*c.pszReport) {
            EXPECT_EQ(OnlyMessage(), c.pszReport);
            EXPECT_EQ(g_aShown[0].uType, (UINT)MB_OK);
        } else {
            EXPECT_TRUE(g_aShown.empty());
        }
    }
}

TEST_F(AviReader, KeyFrameFlags)
{
    AVISPEC spec = Uncompressed(4);
    spec.chunks[1].dwIndexFlags = 0;
    spec.chunks[2].data.clear();  // a dropped frame, not a key frame either
    spec.chunks[2].dwIndexFlags = 0;
    ASSERT_TRUE(LoadBytes(BuildAvi(spec)));
    EXPECT_EQ(info.fAllKey, 0);
    EXPECT_EQ(info.pFrames[0].dwChunkLen, 24u);
    EXPECT_EQ(info.pFrames[1].dwChunkLen, 24u | FRAME_NOTKEY);
    EXPECT_EQ(info.pFrames[2].dwChunkLen, 0u);
    // Only the dropped frame lacks the flag: every frame still counts as key.
    spec.chunks[1].dwIndexFlags = AVIIF_KEYFRAME;
    ASSERT_TRUE(LoadBytes(BuildAvi(spec), "b.avi"));
    EXPECT_EQ(info.fAllKey, 1);
}

TEST_F(AviReader, CodecTexts)
{
    struct {
        FOURCC fccHandler;
        WORD wBits;
        DWORD dwCompression;
        const char *pszText;
        FOURCC fccResult;
    } const aCases[] = {
        {mmioFOURCC('D', 'I', 'B', ' '), 8, BI_RLE8, "無圧縮8bit-RLE8", mmioFOURCC('D', 'I', 'B', ' ')},
        {mmioFOURCC('D', 'I', 'B', 0), 4, BI_RLE4, "無圧縮4bit-RLE4", mmioFOURCC('D', 'I', 'B', 0)},
        {0, 16, BI_BITFIELDS, "無圧縮16bit-BitField", 0},
        {0, 32, BI_RGB, "無圧縮32bit", 0},
        {0, 24, mmioFOURCC('X', 'Y', 'Z', 'W'), "XYZW(開けません)", mmioFOURCC('X', 'Y', 'Z', 'W')},
        {mmioFOURCC('a', 'b', 0, 'd'), 24, BI_RGB, "ab d(開けません)", mmioFOURCC('a', 'b', 0, 'd')},
    };
    int n = 0;
    for (const auto &c : aCases) {
        AVISPEC spec = Uncompressed(1);
        spec.fccHandler = c.fccHandler;
        spec.format = MakeFormat(4, 2, c.wBits, c.dwCompression, std::vector<BYTE>(64, 0));
        std::string name = "codec" + std::to_string(n++) + ".avi";
        ASSERT_TRUE(LoadBytes(BuildAvi(spec), name.c_str())) << c.pszText;
        EXPECT_STREQ(info.szCodecName, c.pszText);
        EXPECT_EQ(info.fccHandler, c.fccResult);
        // A codec that cannot be opened keeps every frame from being shown.
        EXPECT_EQ(!!g_fCodecReady, strstr(c.pszText, "(") == NULL) << c.pszText;
    }
}

TEST_F(AviReader, LongerStreamHeaderIsReadInPart)
{
    AVISPEC spec = Uncompressed(2);
    spec.cbStrhExtra = 600;
    spec.dwTotalFrames = 9;  // the stream header's count wins
    ASSERT_TRUE(LoadBytes(BuildAvi(spec)));
    EXPECT_EQ(info.nFrames, 2u);
    EXPECT_TRUE(g_aShown.empty());
}

TEST_F(AviReader, TopDownFormatGivesAPositiveOutputHeight)
{
    AVISPEC spec = Uncompressed(1);
    spec.format = MakeFormat(4, -2, 24, BI_RGB);
    ASSERT_TRUE(LoadBytes(BuildAvi(spec)));
    EXPECT_EQ(info.biOut.biHeight, 2);
    EXPECT_EQ(info.biOut.biSizeImage, 24u);
}

TEST_F(AviReader, StructuralFailures)
{
    struct {
        const char *pszWhat;
        AVISPEC spec;
        const char *pszMessage;
    } aCases[] = {
        {"no hdrl", Uncompressed(1), "<path> にList/hdrlチャンクがありません!"},
        {"no avih", Uncompressed(1), "<path> にavihチャンクがありません!"},
        {"no movi", Uncompressed(1), "<path> にList/moviチャンクがありません!"},
        {"no idx1", Uncompressed(1), "<path> にidx1チャンクがありません!"},
        {"no video format", Uncompressed(1, true),
         "<path> のvidsチャンクからドライバID/ビデオフォーマット取得が失敗しました!"},
        {"neither stream", Uncompressed(1),
         "<path> のvidsチャンクからドライバID/ビデオフォーマット取得が失敗しました!\n"
         "<path> のaudsチャンクからウェーブフォーマット取得が失敗しました!"},
        {"short format", Uncompressed(1),
         "<path> のvidsチャンクからドライバID/ビデオフォーマット取得が失敗しました!\n"
         "<path> のaudsチャンクからウェーブフォーマット取得が失敗しました!"},
    };
    aCases[0].spec.fHdrl = false;
    aCases[1].spec.fAvih = false;
    aCases[2].spec.fMovi = false;
    aCases[3].spec.fIdx1 = false;
    aCases[4].spec.format.clear();
    aCases[5].spec.fVideoStream = false;
    aCases[6].spec.format.resize(39);
    int n = 0;
    for (const auto &c : aCases) {
        g_aShown.clear();
        std::string name = "bad" + std::to_string(n++) + ".avi";
        EXPECT_FALSE(LoadBytes(BuildAvi(c.spec), name.c_str())) << c.pszWhat;
        EXPECT_EQ(OnlyMessage(), c.pszMessage) << c.pszWhat;
        EXPECT_EQ(info.hmmio, nullptr);
        EXPECT_EQ(info.pFrames, nullptr);
    }
    g_aShown.clear();
    EXPECT_FALSE(LoadBytes(Bytes({'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}), "wave.avi"));
    EXPECT_EQ(OnlyMessage(), "<path> にAVIチャンクがありません!");
    g_aShown.clear();
    snprintf(info.szAviFile, sizeof(info.szAviFile), "%s", Path("missing.avi").c_str());
    EXPECT_FALSE(LoadAvi(&info, TRUE));
    EXPECT_EQ(OnlyMessage(), "<path> がオープンできません!");
}

TEST_F(AviReader, ShortIndexReadFails)
{
    // The file ends in the middle of the index.
    std::vector<BYTE> bytes = BuildAvi(Uncompressed(3));
    bytes.resize(bytes.size() - 20);
    EXPECT_FALSE(LoadBytes(bytes));
    ASSERT_EQ(g_aShown.size(), 2u);
    EXPECT_NE(g_aShown[0].text.find("足りませんでした!"), std::string::npos);
    EXPECT_EQ(g_aShown[1].text, std::string(info.szAviFile) + " のidx1チャンクが読み出せん!");
}

// Headers and an index chunk that claim far more than the file holds: the
// tables are made for what the file holds, not for what they claim.
TEST_F(AviReader, IndexLongerThanTheFileAsksForNoMoreThanItHolds)
{
    AVISPEC spec = Uncompressed(2);
    spec.dwTotalFrames = spec.dwLength = 0x10000000;
    std::vector<BYTE> bytes = BuildAvi(spec);
    // The index chunk's size says almost 4 GiB.
    for (size_t i = 0; i + 8 <= bytes.size(); i++) {
        if (memcmp(&bytes[i], "idx1", 4) == 0) {
            DWORD cbClaimed = 0xFFFFFFF0u;
            memcpy(&bytes[i + 4], &cbClaimed, 4);
        }
    }
    LoadBytes(bytes);
    EXPECT_LE((size_t)info.nAudio * 16, bytes.size());
    LoadAvi(&info, FALSE);
}

TEST_F(AviReader, UnloadKeepsCountsAndWorkBuffer)
{
    ASSERT_TRUE(LoadBytes(BuildAvi(Uncompressed(3))));
    BYTE *pbWork = g_pbWork;
    EXPECT_TRUE(LoadAvi(&info, FALSE));
    EXPECT_EQ(info.hmmio, nullptr);
    EXPECT_EQ(info.pFrames, nullptr);
    EXPECT_EQ(info.nFrames, 3u);
    EXPECT_EQ(g_pbWork, pbWork);
}

TEST_F(AviReader, FilesWrittenByFfmpeg)
{
    std::string data = TestDataFolder();
    struct {
        const char *pszFile;
        const char *pszCodec;
    } const aCases[] = {
        {"ff-bgr24.avi", "無圧縮24bit"},   {"ff-bgr24-audio.avi", "無圧縮24bit"},
        {"ff-rgb555.avi", "無圧縮16bit"},  {"ff-pal8.avi", "無圧縮8bit"},
        {"ff-mjpeg.avi", "MJPG(開けません)"}, {"ff-mjpeg-audio.avi", "MJPG(開けません)"},
    };
    for (const auto &c : aCases) {
        g_aShown.clear();
        ASSERT_TRUE(LoadFile(JoinPath(data, c.pszFile))) << c.pszFile << ": " << OnlyMessage();
        EXPECT_EQ(info.nFrames, 4u) << c.pszFile;
        EXPECT_STREQ(info.szCodecName, c.pszCodec) << c.pszFile;
        EXPECT_EQ(info.fNoAudio, strstr(c.pszFile, "audio") ? 0 : 1) << c.pszFile;
        EXPECT_EQ(info.fAllKey, 1) << c.pszFile;
        EXPECT_EQ(info.biOut.biWidth, 32);
        EXPECT_EQ(info.biOut.biHeight, 24);
        // Each chunk position holds a video chunk of the indexed length.
        std::vector<BYTE> file = ReadBytes(JoinPath(data, c.pszFile));
        for (DWORD i = 0; i < info.nFrames; i++) {
            ULONGLONG dwPos = info.pFrames[i].ullChunkPos;
            ASSERT_LE((size_t)dwPos + 8, file.size());
            EXPECT_EQ(memcmp(&file[dwPos], "00d", 3), 0) << c.pszFile << " frame " << i;
            DWORD cbChunk;
            memcpy(&cbChunk, &file[dwPos + 4], 4);
            EXPECT_EQ(cbChunk, info.pFrames[i].dwChunkLen & FRAME_LENMASK);
        }
        if (!info.fNoAudio) {
            EXPECT_GT(info.nAudio, 0u) << c.pszFile;
        }
    }
}

}  // namespace
