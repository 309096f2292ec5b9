// The AVI layer: chunks held to their parents, and each stream's chunks as
// the reader finds them, checked against ffmpeg's reading of AVIs that
// ffmpeg, GStreamer and the tests' own builder wrote.
#include "avi/aviread.h"
#include "avi/aviwrite.h"
#include "avi/riff.h"
#include "scaffold/odml.h"
#include "tests/avibuilder.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

class AviLayer : public ::testing::Test {
protected:
    void SetUp() override { dir = MakeTempDir("avilayer"); }
    void TearDown() override { RemoveTree(dir); }
    std::string Path(const char *pszName) const { return JoinPath(dir, pszName); }
    std::string dir;
};

// One chunk of a stream: its data's place, its size, and for video its key
// flag.
struct PACKET {
    ULONGLONG ullPos;
    DWORD cb;
    bool fKey;
    bool operator==(const PACKET &o) const { return ullPos == o.ullPos && cb == o.cb && fKey == o.fKey; }
};
typedef std::vector<std::vector<PACKET>> STREAMPACKETS;

std::string Describe(const STREAMPACKETS &streams)
{
    std::string text;
    for (size_t s = 0; s < streams.size(); s++) {
        text += "stream " + std::to_string(s) + ": " + std::to_string(streams[s].size()) + " chunks\n";
        for (const PACKET &p : streams[s])
            text += "  " + std::to_string(p.ullPos) + " " + std::to_string(p.cb) + (p.fKey ? " K\n" : "\n");
    }
    return text;
}

// The layer's reading; key flags only for video streams.
int ReadWithLayer(const std::string &path, STREAMPACKETS *pStreams, AVIREAD *pAvi)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) return -1;
    int nResult = ReadAvi(h, pAvi);
    pStreams->assign(pAvi->nStreams, std::vector<PACKET>());
    for (int s = 0; nResult == AVIREAD_OK && s < pAvi->nStreams; s++) {
        const AVIREADSTREAM *pStream = &pAvi->aStreams[s];
        for (DWORD i = 0; i < pStream->nChunks; i++) {
            const AVICHUNKREF *pChunk = &pStream->pChunks[i];
            bool fKey = pStream->fccType == streamtypeVIDEO && (pChunk->dwFlags & AVICHUNK_KEY);
            (*pStreams)[s].push_back(PACKET{pChunk->ullData, pChunk->cbData, fKey});
        }
    }
    CloseHandle(h);
    return nResult;
}

#ifndef _WIN32
bool HasFfprobe() { return system("ffprobe -version >/dev/null 2>&1") == 0; }

// ffprobe's packets of each stream, in its order within each stream; key
// flags for the streams that fVideo marks.
STREAMPACKETS FfprobePackets(const std::string &path, const std::vector<bool> &fVideo)
{
    STREAMPACKETS streams(fVideo.size());
    std::string command =
        "ffprobe -v error -show_entries packet=stream_index,pos,size,flags -of compact=p=0 '" + path + "' 2>/dev/null";
    FILE *pPipe = popen(command.c_str(), "r");
    char ach[512];
    while (pPipe && fgets(ach, sizeof(ach), pPipe)) {
        long long iStream = -1, llPos = -1, llSize = -1;
        bool fKey = false;
        for (char *pszField = strtok(ach, "|\n"); pszField; pszField = strtok(NULL, "|\n")) {
            if (!strncmp(pszField, "stream_index=", 13)) iStream = atoll(pszField + 13);
            else if (!strncmp(pszField, "pos=", 4)) llPos = atoll(pszField + 4);
            else if (!strncmp(pszField, "size=", 5)) llSize = atoll(pszField + 5);
            else if (!strncmp(pszField, "flags=", 6)) fKey = pszField[6] == 'K';
        }
        if (iStream < 0 || iStream >= (long long)streams.size()) continue;
        streams[iStream].push_back(PACKET{(ULONGLONG)llPos, (DWORD)llSize, fVideo[iStream] && fKey});
    }
    if (pPipe) pclose(pPipe);
    return streams;
}

bool Shell(const std::string &command) { return system((command + " >/dev/null 2>&1").c_str()) == 0; }
#endif

std::vector<BYTE> Bytes(size_t cb, BYTE b) { return std::vector<BYTE>(cb, b); }

}  // namespace

// Chunks whose sizes claim more than their parent holds are held to it,
// words are padded, and lists nest only so deep.
TEST(Riff, ChunksAreHeldToTheirParents)
{
    std::string dir = MakeTempDir("riff");
    std::string path = JoinPath(dir, "chunks.bin");
    // RIFF "TEST" { "aaaa" 3 bytes (padded), LIST "list" { "bbbb" claims 100 } , "cccc" }
    std::vector<BYTE> file;
    auto Dword = [&file](DWORD dw) {
        for (int i = 0; i < 4; i++) file.push_back((BYTE)(dw >> (8 * i)));
    };
    Dword(FOURCC_RIFF), Dword(4 + 12 + 24 + 10), Dword(mmioFOURCC('T', 'E', 'S', 'T'));
    Dword(mmioFOURCC('a', 'a', 'a', 'a')), Dword(3), file.insert(file.end(), {1, 2, 3, 0});
    Dword(FOURCC_LIST), Dword(4 + 8 + 4), Dword(mmioFOURCC('l', 'i', 's', 't'));
    Dword(mmioFOURCC('b', 'b', 'b', 'b')), Dword(100), Dword(7);
    Dword(mmioFOURCC('c', 'c', 'c', 'c')), Dword(2), file.insert(file.end(), {9, 9});
    ASSERT_TRUE(WriteBytes(path, file.data(), file.size()));

    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    RIFFFILE riff;
    ASSERT_TRUE(RiffOpenFile(&riff, h));
    RIFFCURSOR top, form, list;
    RIFFCHUNK chunk;
    RiffTopCursor(&riff, &top);
    ASSERT_TRUE(RiffNext(&top, &chunk));
    EXPECT_EQ(chunk.fccType, mmioFOURCC('T', 'E', 'S', 'T'));
    EXPECT_EQ(chunk.ullData, 12u);
    EXPECT_FALSE(chunk.fCut);
    ASSERT_TRUE(RiffEnter(&top, &chunk, &form));
    EXPECT_FALSE(RiffNext(&top, &chunk)) << "one form";

    struct {
        FOURCC ckid, fccType;
        ULONGLONG ullPos, ullData, ullEnd;
        BOOL fCut;
    } aExpected[] = {
        {mmioFOURCC('a', 'a', 'a', 'a'), 0, 12, 20, 23, FALSE},
        {FOURCC_LIST, mmioFOURCC('l', 'i', 's', 't'), 24, 36, 48, FALSE},
        {mmioFOURCC('c', 'c', 'c', 'c'), 0, 48, 56, 58, FALSE},
    };
    for (const auto &e : aExpected) {
        ASSERT_TRUE(RiffNext(&form, &chunk));
        EXPECT_EQ(chunk.ckid, e.ckid);
        EXPECT_EQ(chunk.fccType, e.fccType);
        EXPECT_EQ(chunk.ullPos, e.ullPos);
        EXPECT_EQ(chunk.ullData, e.ullData);
        EXPECT_EQ(chunk.ullEnd, e.ullEnd);
        EXPECT_EQ(chunk.fCut, e.fCut);
        if (chunk.ckid == FOURCC_LIST) {
            ASSERT_TRUE(RiffEnter(&form, &chunk, &list));
            RIFFCHUNK inner;
            ASSERT_TRUE(RiffNext(&list, &inner));
            EXPECT_EQ(inner.ckid, mmioFOURCC('b', 'b', 'b', 'b'));
            EXPECT_TRUE(inner.fCut) << "claims 100 bytes of a list of 4";
            EXPECT_EQ(inner.ullEnd, 48u);
            EXPECT_EQ(RiffHeld(&inner), 4u);
            EXPECT_FALSE(RiffNext(&list, &inner));
        }
    }
    EXPECT_FALSE(RiffNext(&form, &chunk));
    // A chunk that is no list cannot be entered, nor lists beyond the depth.
    RIFFCHUNK plain = {mmioFOURCC('a', 'a', 'a', 'a'), 0, 12, 3, 20, 23, FALSE};
    EXPECT_FALSE(RiffEnter(&form, &plain, &list));
    RIFFCURSOR deep = form;
    deep.nDepth = RIFF_MAX_DEPTH;
    RIFFCHUNK listChunk = {FOURCC_LIST, mmioFOURCC('l', 'i', 's', 't'), 24, 16, 36, 48, FALSE};
    EXPECT_FALSE(RiffEnter(&deep, &listChunk, &list));
    // Reads past the file's end fail, whatever the place.
    BYTE ab[16];
    EXPECT_FALSE(RiffRead(&riff, file.size() - 2, ab, 4));
    EXPECT_FALSE(RiffRead(&riff, 0xFFFFFFFFFFFFFFF0ull, ab, 16));
    EXPECT_TRUE(RiffRead(&riff, file.size() - 4, ab, 4));
    // No bytes at the very end (the data of an empty last chunk) are read
    // and are no failure, whether the block holds the end or not.
    for (int i = 0; i < 2; i++) {
        if (i) RiffForget(&riff);
        EXPECT_TRUE(RiffRead(&riff, file.size(), ab, 0)) << i;
        EXPECT_FALSE(riff.fReadFailed) << i;
    }
    RiffCloseFile(&riff);
    CloseHandle(h);
    RemoveTree(dir);
}

// A block that holds the whole file is read from the file's start, at the
// first read wherever it falls, and serves every read after it; a file cut
// short since it was opened fails the reads past its new end.
TEST(Riff, AWholeFileBlockIsReadFromTheStart)
{
    std::string dir = MakeTempDir("riffwhole");
    std::string path = JoinPath(dir, "bytes.bin");
    const DWORD cbFile = 3 * RIFF_BLOCK;
    std::vector<BYTE> file(cbFile);
    for (DWORD i = 0; i < cbFile; i++) file[i] = (BYTE)(i * 13 + (i >> 12));
    for (bool fCut : {false, true}) {
        SCOPED_TRACE(fCut ? "cut short" : "whole");
        ASSERT_TRUE(WriteBytes(path, file.data(), file.size()));
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        RIFFFILE riff;
        ASSERT_TRUE(RiffOpenFile(&riff, h));
        ASSERT_TRUE(RiffSetBlock(&riff, cbFile));
        if (fCut) {
            HANDLE hCut = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_NE(hCut, INVALID_HANDLE_VALUE);
            ASSERT_NE(SetFilePointer(hCut, RIFF_BLOCK, NULL, FILE_BEGIN), INVALID_SET_FILE_POINTER);
            ASSERT_TRUE(SetEndOfFile(hCut));
            CloseHandle(hCut);
        }
        BYTE ab[64];
        const ULONGLONG aullAt[] = {2 * RIFF_BLOCK + 5, 100, RIFF_BLOCK - 10, cbFile - sizeof(ab)};
        for (ULONGLONG ullAt : aullAt) {
            bool fThere = !fCut || ullAt + sizeof(ab) <= RIFF_BLOCK;
            EXPECT_EQ(RiffRead(&riff, ullAt, ab, sizeof(ab)) != FALSE, fThere) << ullAt;
            if (fThere) {
                EXPECT_EQ(memcmp(ab, file.data() + ullAt, sizeof(ab)), 0) << ullAt;
                EXPECT_EQ(riff.ullBlock, 0u) << ullAt;
            }
        }
        EXPECT_EQ(riff.fReadFailed != FALSE, fCut);
        if (!fCut) {
            // Read once: a file cut short after it is still read from memory.
            HANDLE hCut = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_NE(hCut, INVALID_HANDLE_VALUE);
            ASSERT_NE(SetFilePointer(hCut, 10, NULL, FILE_BEGIN), INVALID_SET_FILE_POINTER);
            ASSERT_TRUE(SetEndOfFile(hCut));
            CloseHandle(hCut);
            EXPECT_TRUE(RiffRead(&riff, cbFile - sizeof(ab), ab, sizeof(ab)));
            EXPECT_EQ(memcmp(ab, file.data() + cbFile - sizeof(ab), sizeof(ab)), 0);
        }
        RiffCloseFile(&riff);
        CloseHandle(h);
    }
    RemoveTree(dir);
}

// Bytes written through the file are what later reads give, wherever the
// write falls against the bytes read ahead: inside them, across either of
// their ends, or past them; and when the block holds the whole file.
TEST(Riff, ReadsAfterAWriteSeeIt)
{
    std::string dir = MakeTempDir("riffwrite");
    std::string path = JoinPath(dir, "bytes.bin");
    const DWORD cbFile = 3 * RIFF_BLOCK;
    std::vector<BYTE> file(cbFile);
    for (DWORD i = 0; i < cbFile; i++) file[i] = (BYTE)(i * 7);
    ASSERT_TRUE(WriteBytes(path, file.data(), file.size()));
    const ULONGLONG ullBlock = 1000;  // where the first read puts the block
    struct {
        const char *pszWhere;
        ULONGLONG ullAt;
        DWORD cb;
    } aCases[] = {
        {"inside", ullBlock + 100, 300},
        {"over its start", ullBlock - 50, 100},
        {"over its end", ullBlock + RIFF_BLOCK - 50, 100},
        {"around it", ullBlock - 10, RIFF_BLOCK + 20},
        {"past it", ullBlock + RIFF_BLOCK + 10, 40},
    };
    for (bool fWhole : {false, true}) {
        for (const auto &c : aCases) {
            SCOPED_TRACE(std::string(c.pszWhere) + (fWhole ? ", the whole file in the block" : ""));
            ASSERT_TRUE(WriteBytes(path, file.data(), file.size()));
            HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            RIFFFILE riff;
            ASSERT_TRUE(RiffOpenFile(&riff, h));
            if (fWhole) {
                ASSERT_TRUE(RiffSetBlock(&riff, cbFile));
            }
            BYTE ab[16];
            ASSERT_TRUE(RiffRead(&riff, ullBlock, ab, sizeof(ab)));
            std::vector<BYTE> written(c.cb, 0xA5);
            ASSERT_TRUE(RiffWrite(&riff, c.ullAt, written.data(), c.cb));
            std::vector<BYTE> expected = file;
            std::copy(written.begin(), written.end(), expected.begin() + (size_t)c.ullAt);
            // Read back in small pieces, as the block serves them.
            for (ULONGLONG ull = ullBlock; ull + 256 <= ullBlock + RIFF_BLOCK + 256; ull += 256) {
                BYTE abRead[256];
                ASSERT_TRUE(RiffRead(&riff, ull, abRead, sizeof(abRead)));
                ASSERT_EQ(0, memcmp(abRead, expected.data() + ull, sizeof(abRead))) << "at " << ull;
            }
            RiffCloseFile(&riff);
            CloseHandle(h);
        }
    }
    RemoveTree(dir);
}

// Layouts that the builder writes: each stream's chunks from the index that
// covers it, and the chunks that no index lists counted.
TEST_F(AviLayer, EachStreamsChunksFromItsIndex)
{
    struct {
        const char *pszName;
        void (*pfnBend)(AVISPEC *);
        int nSource;
        ULONGLONG nUnlisted, nUnplaced;
    } aCases[] = {
        {"idx1 from movi", [](AVISPEC *) {}, AVIINDEX_IDX1, 0, 0},
        {"idx1 from the file's start", [](AVISPEC *p) { p->fAbsoluteIndex = true; }, AVIINDEX_IDX1, 0, 0},
        {"idx1 stream by stream", [](AVISPEC *p) { p->fIndexByStream = true; }, AVIINDEX_IDX1, 0, 0},
        {"rec lists, listed in idx1 too", [](AVISPEC *p) {
             p->fIndexRecLists = true;
             for (size_t i = 0; i < p->chunks.size(); i++) p->chunks[i].fInRecList = true, p->chunks[i].fRecListStart = i % 2 == 0;
         }, AVIINDEX_IDX1, 0, 0},
        {"a frame that idx1 leaves out", [](AVISPEC *p) { p->chunks[4].fIndexed = false; }, AVIINDEX_IDX1, 1, 0},
        {"no idx1", [](AVISPEC *p) { p->fIdx1 = false; }, AVIINDEX_WALK, 0, 0},
        {"an entry naming no chunk", [](AVISPEC *p) {
             std::vector<BYTE> entry = {'0', '0', 'd', 'c', 0x10, 0, 0, 0, 0xF0, 0xFF, 0, 0, 4, 0, 0, 0};
             p->extraIndex.push_back(entry);
         }, AVIINDEX_IDX1, 0, 1},
        {"OpenDML, standard indexes in movi", [](AVISPEC *p) { p->cbRiffLimit = 200; }, AVIINDEX_ODML, 0, 0},
        {"OpenDML, standard indexes after movi", [](AVISPEC *p) {
             p->cbRiffLimit = 200;
             p->fStdIndexAfterMovi = true;
         }, AVIINDEX_ODML, 0, 0},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        AVISPEC spec;
        spec.fccHandler = mmioFOURCC('M', 'J', 'P', 'G');
        spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
        spec.fAudioStream = true;
        for (int i = 0; i < 12; i++) {
            spec.chunks.push_back(Frame("00dc", Bytes(20 + 7 * i, (BYTE)i), i % 4 == 0 ? AVIIF_KEYFRAME : 0));
            if (i % 3 == 0) spec.chunks.push_back(Frame("01wb", Bytes(16, 0x77)));
        }
        spec.dwTotalFrames = spec.dwLength = 12;
        c.pfnBend(&spec);
        std::vector<DWORD> positions;
        std::vector<BYTE> bytes = BuildAvi(spec, &positions);
        std::string path = Path("built.avi");
        ASSERT_TRUE(WriteBytes(path, bytes.data(), bytes.size()));
        STREAMPACKETS streams;
        AVIREAD avi;
        ASSERT_EQ(ReadWithLayer(path, &streams, &avi), AVIREAD_OK);
        EXPECT_EQ(avi.nStreams, 2);
        EXPECT_EQ(avi.aStreams[0].nSource, c.nSource);
        // OpenDML's indexes cover the video alone here: the sound past the
        // first RIFF is in no index.
        ULONGLONG nSound = 4, nUnlisted = c.nSource == AVIINDEX_ODML ? nSound - avi.aStreams[1].nChunks : c.nUnlisted;
        EXPECT_EQ(avi.nUnlisted, nUnlisted);
        EXPECT_EQ(avi.nUnplaced, c.nUnplaced);
        // What the builder put where, less what the index leaves out.
        STREAMPACKETS expected(2);
        size_t iChunk = 0;
        for (const AVIFRAME &frame : spec.chunks) {
            DWORD dwPos = positions[iChunk++];
            bool fListed = frame.fIndexed || c.nSource != AVIINDEX_IDX1;
            bool fVideo = frame.id == "00dc";
            // Without an index every chunk is taken for a key frame.
            bool fKey = fVideo && (c.nSource == AVIINDEX_WALK || (frame.dwIndexFlags & AVIIF_KEYFRAME));
            // OpenDML's indexes cover the video alone; the sound comes from idx1.
            if (fListed) expected[fVideo ? 0 : 1].push_back(PACKET{dwPos + 8ull, (DWORD)frame.data.size(), fKey});
        }
        if (c.nSource == AVIINDEX_ODML) {
            EXPECT_EQ(avi.aStreams[1].nSource, AVIINDEX_IDX1);
            EXPECT_GT(avi.nRiffs, 2);
            // idx1 lists the first RIFF's sound alone.
            expected[1].resize(avi.aStreams[1].nChunks);
        }
        if (c.nUnplaced) {
            // The entry naming no chunk is read as it stands.
            ASSERT_EQ(streams[0].size(), expected[0].size() + 1);
            streams[0].pop_back();
        }
        EXPECT_EQ(Describe(streams), Describe(expected));
        FreeAvi(&avi);
    }
}

// Files that are no AVI, or lack a part that every AVI has.
TEST_F(AviLayer, RefusesWhatIsNoAvi)
{
    struct {
        const char *pszName;
        void (*pfnBend)(AVISPEC *);
        int nResult;
    } aCases[] = {
        {"no header list", [](AVISPEC *p) { p->fHdrl = false; }, AVIREAD_NO_HDRL},
        {"no main header", [](AVISPEC *p) { p->fAvih = false; }, AVIREAD_NO_HDRL},
        {"no movi", [](AVISPEC *p) { p->fMovi = false; }, AVIREAD_NO_MOVI},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        AVISPEC spec;
        spec.format = MakeFormat(8, 8, 24, 0);
        spec.chunks.push_back(Frame("00db", Bytes(192, 1)));
        c.pfnBend(&spec);
        std::vector<BYTE> bytes = BuildAvi(spec);
        ASSERT_TRUE(WriteBytes(Path("x.avi"), bytes.data(), bytes.size()));
        STREAMPACKETS streams;
        AVIREAD avi;
        EXPECT_EQ(ReadWithLayer(Path("x.avi"), &streams, &avi), c.nResult);
        FreeAvi(&avi);
    }
    const char achWave[] = "RIFF\x04\0\0\0WAVE";
    ASSERT_TRUE(WriteBytes(Path("w.avi"), achWave, 12));
    STREAMPACKETS streams;
    AVIREAD avi;
    EXPECT_EQ(ReadWithLayer(Path("w.avi"), &streams, &avi), AVIREAD_NOT_AVI);
    FreeAvi(&avi);
}

// A super index that lists one standard index thousands of times claims
// more chunks than the file can hold: nothing of it is kept.
TEST_F(AviLayer, IndexesThatClaimMoreThanTheFileHolds)
{
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('M', 'J', 'P', 'G');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    for (int i = 0; i < 300; i++) spec.chunks.push_back(Frame("00dc", Bytes(30, (BYTE)i)));
    spec.dwTotalFrames = spec.dwLength = 300;
    spec.cbRiffLimit = 200;
    std::vector<BYTE> bytes = BuildAvi(spec);
    std::string path = Path("bomb.avi");
    ASSERT_GE(AppendIndexBomb(&bytes, 50000), 20u);
    ASSERT_TRUE(WriteBytes(path, bytes.data(), bytes.size()));
    STREAMPACKETS streams;
    AVIREAD avi;
    ASSERT_EQ(ReadWithLayer(path, &streams, &avi), AVIREAD_OK);
    EXPECT_TRUE(avi.dwProblems & AVIPROBLEM_ODML_TOO_MANY);
    EXPECT_NE(avi.aStreams[0].nSource, AVIINDEX_ODML);
    EXPECT_LE(avi.aStreams[0].nChunks, bytes.size() / 8);
    FreeAvi(&avi);
}

#ifndef _WIN32
// AVIs that ffmpeg and GStreamer wrote, and the builder's OpenDML layouts:
// each stream's chunks as the layer reads them are ffmpeg's packets, by
// place, size and key flag.
TEST_F(AviLayer, ReadsEveryStreamAsFfmpegDoes)
{
    if (!HasFfprobe()) GTEST_SKIP() << "no ffprobe here";
    const std::string ffmpeg = "ffmpeg -v error -y -f lavfi -i testsrc=s=64x48:r=25 ";
    const std::string sine = "-f lavfi -i sine=r=8000 ";
    // ffmpeg gives a PCM chunk of more than 2048 bytes as several packets
    // (mencoder writes such chunks): for those writers the pieces of one
    // chunk, which follow one another in the file, are taken together.
    struct {
        const char *pszName;
        std::string command;  // writes the file named by the last word
        bool fSplitsSound;
    } aCorpus[] = {
        {"ffmpeg, MJPEG and PCM", ffmpeg + sine + "-t 3 -c:v mjpeg -c:a pcm_s16le", false},
        {"ffmpeg, MPEG-4 with delta frames and PCM", ffmpeg + sine + "-t 3 -c:v mpeg4 -g 7 -c:a pcm_s16le", false},
        {"ffmpeg, MPEG-4 with B-frames", ffmpeg + "-t 3 -c:v mpeg4 -g 12 -bf 2", false},
        {"ffmpeg, raw BGR24", ffmpeg + "-t 2 -c:v rawvideo -pix_fmt bgr24", false},
        {"ffmpeg, MP3 sound", ffmpeg + sine + "-t 3 -c:v mjpeg -c:a libmp3lame", false},
        {"ffmpeg, OpenDML past 1 GiB",
         "ffmpeg -v error -y -f lavfi -i color=c=blue:s=640x480:r=25 " + sine +
             "-frames:v 1250 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -shortest", false},
        // mencoder re-encodes a file of ffmpeg's (SRC): MPEG-4 with delta
        // frames, an INFO list and a filler before movi; and past 1 GiB,
        // where it writes OpenDML.
        {"mencoder, MPEG-4 with delta frames and PCM",
         ffmpeg + sine + "-t 3 -c:v mjpeg -c:a pcm_s16le SRC && mencoder -really-quiet SRC -ovc lavc -lavcopts vcodec=mpeg4:keyint=7 -oac pcm -o",
         true},
        {"mencoder, OpenDML past 1 GiB",
         "ffmpeg -v error -y -f lavfi -i color=c=blue:s=640x480:r=25 " + sine +
             "-frames:v 1250 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -shortest SRC && mencoder -really-quiet SRC -ovc copy -oac copy -o",
         true},
        {"GStreamer, MJPEG", "gst-launch-1.0 -q videotestsrc num-buffers=40 ! video/x-raw,width=64,height=48 ! jpegenc ! avimux ! filesink location=", false},
        {"GStreamer, MJPEG and PCM",
         "gst-launch-1.0 -q avimux name=m ! filesink location=OUT videotestsrc num-buffers=40 ! video/x-raw,width=64,height=48 ! jpegenc ! m. audiotestsrc num-buffers=20 ! audioconvert ! m.", false},
    };
    int nRead = 0;
    for (const auto &c : aCorpus) {
        SCOPED_TRACE(c.pszName);
        std::string path = Path("corpus.avi");
        DeleteFileA(path.c_str());
        std::string command = c.command, source = Path("source.avi");
        size_t at = command.find("=OUT ");
        if (at != std::string::npos) command.replace(at + 1, 3, "'" + path + "'");
        else if (command.back() == '=') command += "'" + path + "'";
        else command += " '" + path + "'";
        for (at = command.find("SRC"); at != std::string::npos; at = command.find("SRC")) command.replace(at, 3, "'" + source + "'");
        bool fWritten = Shell(command);
        DeleteFileA(source.c_str());
        if (!fWritten) {
            // A writer or an encoder that this machine lacks.
            printf("skipped: %s\n", c.pszName);
            continue;
        }
        STREAMPACKETS streams;
        AVIREAD avi;
        ASSERT_EQ(ReadWithLayer(path, &streams, &avi), AVIREAD_OK);
        std::vector<bool> fVideo;
        for (int s = 0; s < avi.nStreams; s++) fVideo.push_back(avi.aStreams[s].fccType == streamtypeVIDEO);
        EXPECT_EQ(avi.nUnlisted, 0u);
        EXPECT_EQ(avi.nUnplaced, 0u);
        // ffmpeg gives no packet for an empty chunk (a frame that repeats
        // the one before): the layer lists it, and it is left out here.
        for (std::vector<PACKET> &packets : streams)
            packets.erase(std::remove_if(packets.begin(), packets.end(), [](const PACKET &p) { return p.cb == 0; }),
                          packets.end());
        STREAMPACKETS probed = FfprobePackets(path, fVideo);
        for (size_t k = 0; c.fSplitsSound && k < probed.size(); k++) {
            if (fVideo[k]) continue;
            std::vector<PACKET> whole;
            for (const PACKET &p : probed[k]) {
                if (!whole.empty() && whole.back().ullPos + whole.back().cb == p.ullPos) whole.back().cb += p.cb;
                else whole.push_back(p);
            }
            probed[k] = whole;
        }
        EXPECT_EQ(Describe(streams), Describe(probed));
        if (strstr(c.pszName, "OpenDML")) {
            EXPECT_GE(avi.nRiffs, 2);
        }
        FreeAvi(&avi);
        DeleteFileA(path.c_str());
        nRead++;
    }
    EXPECT_GE(nRead, 4);
}

// The builder's OpenDML layouts, which no writer here makes: standard
// indexes before and after their movi lists, many AVIX RIFFs, and RIFFs
// past 4 GiB in a sparse file; ffmpeg reads the same chunks.
TEST_F(AviLayer, ReadsOpenDmlLayoutsAsFfmpegDoes)
{
    if (!HasFfprobe()) GTEST_SKIP() << "no ffprobe here";
    struct {
        const char *pszName;
        DWORD cbRiffLimit;
        bool fAfterMovi;
        int nFillers;
    } aCases[] = {
        {"standard indexes in movi", 600, false, 0},
        {"standard indexes after movi", 600, true, 0},
        {"many AVIX RIFFs", 150, true, 0},
        {"past 4 GiB", 600, false, 2},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        AVISPEC spec;
        // A codec that ffmpeg does not know: its key flags are the index's
        // (it takes every frame of an intra-only codec for a key frame).
        spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
        spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
        for (int i = 0; i < 60; i++)
            spec.chunks.push_back(Frame("00dc", Bytes(40 + (i * 37) % 90, (BYTE)i), i % 5 == 0 ? AVIIF_KEYFRAME : 0));
        spec.dwTotalFrames = spec.dwLength = 60;
        spec.cbRiffLimit = c.cbRiffLimit;
        spec.fStdIndexAfterMovi = c.fAfterMovi;
        std::string path = Path("odml.avi");
        std::vector<BYTE> bytes = BuildAvi(spec);
        if (c.nFillers) ASSERT_TRUE(WriteAviWithFiller(path, bytes, 0xB0000000ull, c.nFillers));
        else ASSERT_TRUE(WriteBytes(path, bytes.data(), bytes.size()));
        STREAMPACKETS streams;
        AVIREAD avi;
        ASSERT_EQ(ReadWithLayer(path, &streams, &avi), AVIREAD_OK);
        EXPECT_EQ(avi.aStreams[0].nSource, AVIINDEX_ODML);
        EXPECT_GE(avi.nRiffs, 3);
        ASSERT_EQ(streams[0].size(), 60u);
        if (c.nFillers) {
            EXPECT_GT(streams[0].back().ullPos, 0x100000000ull);
        }
        EXPECT_EQ(avi.nUnlisted, 0u);
        EXPECT_EQ(avi.nUnplaced, 0u);
        EXPECT_EQ(Describe(streams), Describe(FfprobePackets(path, {true})));
        FreeAvi(&avi);
        DeleteFileA(path.c_str());
    }
}
#endif

// The writer's marks close chunks and lists with their sizes and pad odd
// data, whether the bytes to patch are still in the buffer or written out
// already, with or without the writer thread; copies come whole.
TEST_F(AviLayer, WriterMarksGiveEverySizeWhereverItsBytesAre)
{
    std::string from = Path("from.bin");
    const BYTE abFrom[] = {'a', 'b', 'c', 'd', 'e', 'f', 'g'};
    ASSERT_TRUE(WriteBytes(from, abFrom, sizeof(abFrom)));
    // RIFF TEST { odd1(3) pad, LIST lst { even(4, patched), copy(5 from
    // the file at 1) pad }, zero(0) }
    std::vector<BYTE> expected;
    auto Put = [&](const char *psz, size_t cb) { expected.insert(expected.end(), psz, psz + cb); };
    auto Dword = [&](DWORD dw) { expected.insert(expected.end(), (BYTE *)&dw, (BYTE *)&dw + 4); };
    Put("RIFF", 4), Dword(4 + 12 + (12 + 12 + 14) + 8), Put("TEST", 4);
    Put("odd1", 4), Dword(3), Put("xyz\0", 4);
    Put("LIST", 4), Dword(4 + 12 + 14), Put("lst ", 4);
    Put("even", 4), Dword(4), Dword(0x12345678);
    Put("copy", 4), Dword(5), Put("bcdef\0", 6);
    Put("zero", 4), Dword(0);
    for (DWORD cbBuffer : {(DWORD)5, (DWORD)16, (DWORD)64, (DWORD)AVIOUT_BUFFER}) {
        for (BOOL fThread : {FALSE, TRUE}) {
            SCOPED_TRACE("buffer " + std::to_string(cbBuffer) + (fThread ? ", thread" : ""));
            std::string out = Path("out.bin");
            DeleteFileA(out.c_str());
            HANDLE h = CreateFileA(out.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
            HANDLE hFrom = CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            ASSERT_NE(hFrom, INVALID_HANDLE_VALUE);
            RIFFFILE file;
            ASSERT_TRUE(RiffOpenFile(&file, hFrom));
            AVIOUT o;
            ASSERT_TRUE(AviOutOpen(&o, h, cbBuffer, fThread));
            ULONGLONG ullRiff = AviOutBegin(&o, FOURCC_RIFF, mmioFOURCC('T', 'E', 'S', 'T'));
            ULONGLONG ullOdd = AviOutBegin(&o, mmioFOURCC('o', 'd', 'd', '1'), 0);
            AviOutPut(&o, "xyz", 3);
            EXPECT_TRUE(AviOutEnd(&o, ullOdd));
            ULONGLONG ullList = AviOutBegin(&o, FOURCC_LIST, mmioFOURCC('l', 's', 't', ' '));
            ULONGLONG ullEven = AviOutBegin(&o, mmioFOURCC('e', 'v', 'e', 'n'), 0);
            AviOutDword(&o, 0);
            EXPECT_TRUE(AviOutEnd(&o, ullEven));
            AviOutDword(&o, mmioFOURCC('c', 'o', 'p', 'y'));
            AviOutDword(&o, 5);
            EXPECT_TRUE(AviOutCopy(&o, &file, 1, 5));
            AviOutPut(&o, "", 1);
            AviOutPatchDword(&o, ullEven + 8, 0x12345678);
            EXPECT_TRUE(AviOutEnd(&o, ullList));
            AviOutChunk(&o, mmioFOURCC('z', 'e', 'r', 'o'), NULL, 0);
            EXPECT_TRUE(AviOutEnd(&o, ullRiff));
            EXPECT_FALSE(AviOutCopy(&o, &file, 5, 5)) << "past the file's end";
            EXPECT_TRUE(AviOutDrain(&o));
            EXPECT_EQ(o.ullPos, expected.size());
            AviOutClose(&o);
            RiffCloseFile(&file);
            CloseHandle(hFrom);
            CloseHandle(h);
            EXPECT_EQ(ReadBytes(out), expected);
        }
    }
}

// An OpenDML AVI from the writer reads back through the reader: each
// stream's chunks with their flags from the indexes, over several RIFFs,
// the first RIFF's idx1 and the whole count of frames.
TEST_F(AviLayer, WriterOpenDmlReadsBack)
{
    std::string out = Path("odml.avi"), idx1 = Path("odml.idx");
    HANDLE h = CreateFileA(out.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    HANDLE hIdx1 = CreateFileA(idx1.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_NE(hIdx1, INVALID_HANDLE_VALUE);
    AVIOUT o, oIdx1;
    ASSERT_TRUE(AviOutOpen(&o, h, AVIOUT_BUFFER, TRUE));
    ASSERT_TRUE(AviOutOpen(&oIdx1, hIdx1, 4096, FALSE));
    AVIODML odml;
    AviOdmlStart(&odml, &o, &oIdx1, 4096);
    ULONGLONG ullHdrl = AviOutBegin(&o, FOURCC_LIST, mmioFOURCC('h', 'd', 'r', 'l'));
    ULONGLONG ullAvih = AviOutBegin(&o, mmioFOURCC('a', 'v', 'i', 'h'), 0);
    AviOdmlNoteAvih(&odml, o.ullPos, 56);
    AviOutZeros(&o, 56);
    AviOutEnd(&o, ullAvih);
    const FOURCC afccTypes[] = {streamtypeVIDEO, streamtypeAUDIO};
    for (int s = 0; s < 2; s++) {
        ULONGLONG ullStrl = AviOutBegin(&o, FOURCC_LIST, mmioFOURCC('s', 't', 'r', 'l'));
        AviOdmlBeginStream(&odml, afccTypes[s], s ? 2 : 0);
        DWORD adwStrh[16] = {afccTypes[s]};
        AviOutChunk(&o, mmioFOURCC('s', 't', 'r', 'h'), adwStrh, sizeof(adwStrh));
        AviOdmlSuperIndex(&odml, 64);
        AviOutEnd(&o, ullStrl);
    }
    AviOdmlHeaderEnd(&odml);
    AviOutEnd(&o, ullHdrl);
    AviOdmlStartMovi(&odml);
    const int nFrames = 100;
    for (int i = 0; i < nFrames; i++) {
        std::vector<BYTE> frame(100 + i, (BYTE)i);
        AviOdmlRoom(&odml, (DWORD)frame.size(), 1);
        ULONGLONG ullAt = o.ullPos;
        AviOutChunk(&o, mmioFOURCC('0', '0', 'd', 'c'), frame.data(), (DWORD)frame.size());
        BOOL fKey = i % 3 == 0;
        AviOdmlIndex(&odml, mmioFOURCC('0', '0', 'd', 'c'), TRUE, fKey ? AVIIF_KEYFRAME : 0, fKey, ullAt, (DWORD)frame.size());
        AviOdmlRoom(&odml, 20, 1);
        ullAt = o.ullPos;
        AviOutChunk(&o, mmioFOURCC('0', '1', 'w', 'b'), frame.data(), 20);
        AviOdmlIndex(&odml, mmioFOURCC('0', '1', 'w', 'b'), TRUE, AVIIF_KEYFRAME, TRUE, ullAt, 20);
    }
    AviOdmlFinish(&odml);
    EXPECT_EQ(odml.nError, AVIODML_OK);
    EXPECT_TRUE(AviOutDrain(&o));
    AviOutClose(&o);
    AviOutClose(&oIdx1);
    AviOdmlFree(&odml);
    CloseHandle(h);
    CloseHandle(hIdx1);

    STREAMPACKETS streams;
    AVIREAD avi;
    ASSERT_EQ(ReadWithLayer(out, &streams, &avi), AVIREAD_OK);
    EXPECT_GT(avi.nRiffs, 3);
    EXPECT_NE(avi.ullIdx1, 0u);
    EXPECT_TRUE(avi.fDmlh);
    EXPECT_EQ(avi.nDmlhFrames, (DWORD)nFrames);
    EXPECT_EQ(avi.nUnlisted, 0u);
    EXPECT_EQ(avi.nUnplaced, 0u);
    ASSERT_EQ(avi.nStreams, 2);
    EXPECT_EQ(avi.aStreams[0].nSource, AVIINDEX_ODML);
    ASSERT_EQ(streams[0].size(), (size_t)nFrames);
    ASSERT_EQ(streams[1].size(), (size_t)nFrames);
    std::vector<BYTE> bytes = ReadBytes(out);
    for (int i = 0; i < nFrames; i++) {
        EXPECT_EQ(streams[0][i].cb, (DWORD)(100 + i)) << i;
        EXPECT_EQ(streams[0][i].fKey, i % 3 == 0) << i;
        EXPECT_EQ(bytes[streams[0][i].ullPos], (BYTE)i) << i;
        EXPECT_EQ(bytes[streams[0][i].ullPos - 8], '0') << i;
        EXPECT_EQ(streams[1][i].cb, 20u) << i;
    }
    for (int r = 0; r < avi.nRiffs; r++) EXPECT_LE(avi.pRiffs[r].ullEnd - avi.pRiffs[r].ullPos, 4096u) << r;
    // The main header counts the first RIFF's frames, as idx1 lists them.
    DWORD nFirst = 0;
    for (int i = 0; i < nFrames; i++) nFirst += streams[0][i].ullPos < avi.pRiffs[0].ullEnd ? 1 : 0;
    EXPECT_EQ(avi.adwAvih[4], nFirst);
    EXPECT_EQ(avi.nIdx1, 2 * nFirst);
    FreeAvi(&avi);
}

// The "rec " lists that idx1 lists are counted, whichever index the streams'
// chunks come from (resolve lists its own lists only when the input did).
TEST_F(AviLayer, CountsTheListsThatIdx1Lists)
{
    for (DWORD cbRiffLimit : {0u, 2000u}) {
        SCOPED_TRACE(cbRiffLimit ? "OpenDML" : "idx1");
        AVISPEC spec;
        spec.dwTotalFrames = spec.dwLength = 20;
        spec.cbRiffLimit = cbRiffLimit;
        spec.fIndexRecLists = true;
        for (int i = 0; i < 20; i++) {
            AVIFRAME frame = Frame("00dc", Bytes(100, (BYTE)i));
            frame.fInRecList = frame.fRecListStart = true;
            spec.chunks.push_back(frame);
        }
        std::vector<BYTE> bytes = BuildAvi(spec);
        std::string path = Path("rec.avi");
        ASSERT_TRUE(WriteBytes(path, bytes.data(), bytes.size()));
        STREAMPACKETS streams;
        AVIREAD avi;
        ASSERT_EQ(ReadWithLayer(path, &streams, &avi), AVIREAD_OK);
        EXPECT_EQ(avi.aStreams[0].nSource, cbRiffLimit ? AVIINDEX_ODML : AVIINDEX_IDX1);
        DWORD nFirst = 0;
        for (const PACKET &p : streams[0]) nFirst += p.ullPos < avi.pRiffs[0].ullEnd;
        EXPECT_GT(nFirst, 0u);
        EXPECT_EQ(avi.nIdx1Lists, nFirst);
        FreeAvi(&avi);
    }
}

// Chunks of one size, as far apart as movi is from the file's start
// (Spoolmend's AVIs of records with some format sizes): an idx1 entry fits
// both readings of its offset but at the ends. Counted from the file's
// start or from movi, with the first chunk left out or the entries out of
// order, each entry is read as naming the chunk it was written for.
TEST_F(AviLayer, Idx1ThatBothReadingsAlmostFit)
{
    struct {
        const char *pszCase;
        bool fAbsolute, fFirstUnlisted, fFirstTwoSwapped;
    } aCases[] = {
        {"from the file's start", true, false, false},
        {"from the file's start, 20 chunks", true, false, false},
        {"from movi, the first chunk left out", false, true, false},
        {"from movi, the first two entries swapped", false, false, true},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszCase);
        int nChunks = strstr(c.pszCase, "20") ? 20 : 6;
        AVISPEC spec;
        spec.dwTotalFrames = spec.dwLength = (DWORD)nChunks;
        spec.fAbsoluteIndex = c.fAbsolute;
        for (int i = 0; i < nChunks; i++) spec.chunks.push_back(Frame("00db", Bytes(100, (BYTE)i), i % 3 == 2 ? 0 : AVIIF_KEYFRAME));
        if (c.fFirstUnlisted) spec.chunks[0].fIndexed = false;
        std::vector<DWORD> positions;
        BuildAvi(spec, &positions);
        // Chunks as long as the place of "movi": each one's start is the
        // next one's place counted from movi.
        DWORD cbStride = positions[0] - 4;
        for (AVIFRAME &frame : spec.chunks) frame.data.assign(cbStride - 8, frame.data[0]);
        std::vector<BYTE> bytes = BuildAvi(spec, &positions);
        ASSERT_EQ(positions[1] - positions[0], cbStride);
        std::vector<size_t> listed;
        for (int i = c.fFirstUnlisted ? 1 : 0; i < nChunks; i++) listed.push_back((size_t)i);
        if (c.fFirstTwoSwapped) {
            size_t idx1 = bytes.size() - 8 - 16 * listed.size();
            ASSERT_EQ(memcmp(&bytes[idx1], "idx1", 4), 0);
            std::swap_ranges(bytes.begin() + (long)idx1 + 8, bytes.begin() + (long)idx1 + 24, bytes.begin() + (long)idx1 + 24);
            std::swap(listed[0], listed[1]);
        }
        std::string path = Path("stride.avi");
        ASSERT_TRUE(WriteBytes(path, bytes.data(), bytes.size()));
        STREAMPACKETS streams;
        AVIREAD avi;
        ASSERT_EQ(ReadWithLayer(path, &streams, &avi), AVIREAD_OK);
        EXPECT_EQ(avi.fIdx1FromStart, (BOOL)c.fAbsolute);
        EXPECT_EQ(avi.nUnplaced, 0u);
        EXPECT_EQ(avi.nUnlisted, c.fFirstUnlisted ? 1u : 0u);
        ASSERT_EQ(streams[0].size(), listed.size());
        for (size_t k = 0; k < listed.size(); k++) {
            EXPECT_EQ(streams[0][k].ullPos, positions[listed[k]] + 8ull) << k;
            EXPECT_EQ(streams[0][k].fKey, listed[k] % 3 != 2) << k;
        }
        FreeAvi(&avi);
    }
}

#ifndef _WIN32
// A recording in a file that its writer made larger than it needed (a tail
// of zeros, 3 GB here, sparse): the zeros are no chunks, and the reading
// stops where they begin instead of stepping through them 8 bytes at a time.
TEST_F(AviLayer, AZeroTailIsNoChunks)
{
    for (bool fInMovi : {false, true}) {
        SCOPED_TRACE(fInMovi ? "movi claims the tail" : "after the RIFF");
        AVISPEC spec;
        spec.dwTotalFrames = spec.dwLength = 5;
        spec.fIdx1 = false;
        for (int i = 0; i < 5; i++) spec.chunks.push_back(Frame("00dc", Bytes(100, (BYTE)i)));
        std::vector<DWORD> positions;
        std::vector<BYTE> bytes = BuildAvi(spec, &positions);
        if (fInMovi) {
            // movi, and the RIFF, claim the 3 GB.
            DWORD cbHuge = 0xC0000000u - 8;
            memcpy(&bytes[4], &cbHuge, 4);
            DWORD cbMovi = 0xC0000000u - (positions[0] - 4) - 4;
            memcpy(&bytes[positions[0] - 8], &cbMovi, 4);
        }
        std::string path = Path("long.avi");
        ASSERT_TRUE(WriteBytes(path, bytes.data(), bytes.size()));
        ASSERT_EQ(truncate(path.c_str(), 3LL << 30), 0);
        STREAMPACKETS streams;
        AVIREAD avi;
        ASSERT_EQ(ReadWithLayer(path, &streams, &avi), AVIREAD_OK);
        EXPECT_EQ(avi.nRiffs, 1);
        EXPECT_EQ(avi.aStreams[0].nSource, AVIINDEX_WALK);
        ASSERT_EQ(streams[0].size(), 5u);
        for (size_t i = 0; i < 5; i++) EXPECT_EQ(streams[0][i].ullPos, positions[i] + 8ull) << i;
        FreeAvi(&avi);
        DeleteFileA(path.c_str());
    }
}
#endif
