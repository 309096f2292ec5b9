// The spool command line, run in-process: each command's output and exit
// status against the expected text, on reference files and AVIs made in the
// test, and the files each command leaves.
#include "cli/spool.h"

#include "codec/refformat.h"
#include "mover/shift.h"
#include "scaffold/messages.h"
#include "scaffold/paths.h"
#include "tests/mover_fixture.h"
#include "tests/spool_fixture.h"

#include "scaffold/recordnames.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>

namespace {

// An AVI as its parts: the chunks of its movi lists (standard indexes
// apart), the idx1 of its first RIFF, each stream's super index resolved
// into the entries of its standard indexes, and the counts of its headers.
struct AVICHUNK {
    std::string id;
    std::vector<BYTE> data;
    unsigned long long ullData;  // where the data lies in the file
    int iRiff;
};
struct STDINDEXENTRY {
    unsigned long long ullData;
    DWORD cb;
    bool fKey;
};
struct AVIPARTS {
    std::vector<AVICHUNK> chunks;
    std::vector<AVIINDEXENTRY> index;
    unsigned long long ullFirstMovi = 0;  // of the first "movi" FOURCC
    std::vector<BYTE> strf;
    std::vector<std::vector<STDINDEXENTRY>> streams;  // by the super indexes
    std::vector<unsigned long long> riffSizes;
    DWORD nTotalFrames = 0;  // avih
    DWORD nGrandFrames = 0;  // dmlh
    bool fWhole = false;     // every size in bounds
};

DWORD DwordAt(const std::vector<BYTE> &bytes, size_t at)
{
    DWORD dw = 0;
    if (at + 4 <= bytes.size()) memcpy(&dw, &bytes[at], 4);
    return dw;
}

void ReadHeaderList(const std::vector<BYTE> &bytes, size_t pos, size_t end, AVIPARTS *pParts)
{
    for (size_t at = pos; at + 8 <= end;) {
        DWORD ckid = DwordAt(bytes, at), cb = DwordAt(bytes, at + 4);
        if (ckid == FOURCC_LIST && (DwordAt(bytes, at + 8) == mmioFOURCC('s', 't', 'r', 'l') ||
                                    DwordAt(bytes, at + 8) == mmioFOURCC('o', 'd', 'm', 'l'))) {
            ReadHeaderList(bytes, at + 12, at + 8 + cb, pParts);
        } else if (ckid == mmioFOURCC('a', 'v', 'i', 'h')) {
            pParts->nTotalFrames = DwordAt(bytes, at + 8 + 16);
        } else if (ckid == mmioFOURCC('d', 'm', 'l', 'h')) {
            pParts->nGrandFrames = DwordAt(bytes, at + 8);
        } else if (ckid == mmioFOURCC('s', 't', 'r', 'f') && pParts->strf.empty()) {
            pParts->strf.assign(bytes.begin() + (long)at + 8, bytes.begin() + (long)(at + 8 + cb));
        } else if (ckid == mmioFOURCC('i', 'n', 'd', 'x')) {
            // The super index: its standard indexes, each resolved.
            std::vector<STDINDEXENTRY> entries;
            DWORD nSuper = DwordAt(bytes, at + 12);
            for (DWORD k = 0; k < nSuper; k++) {
                size_t e = at + 8 + 24 + 16 * (size_t)k;
                unsigned long long ullIx = DwordAt(bytes, e) | ((unsigned long long)DwordAt(bytes, e + 4) << 32);
                size_t ix = (size_t)ullIx;
                if (ix + 32 > bytes.size() || DwordAt(bytes, ix + 8) != (2u | (1u << 24))) continue;
                DWORD n = DwordAt(bytes, ix + 12);
                unsigned long long ullBase = DwordAt(bytes, ix + 20) | ((unsigned long long)DwordAt(bytes, ix + 24) << 32);
                for (DWORD j = 0; j < n; j++) {
                    DWORD dwOffset = DwordAt(bytes, ix + 32 + 8 * (size_t)j), dwSize = DwordAt(bytes, ix + 36 + 8 * (size_t)j);
                    entries.push_back(STDINDEXENTRY{ullBase + dwOffset, dwSize & 0x7FFFFFFFu, !(dwSize & 0x80000000u)});
                }
            }
            pParts->streams.push_back(entries);
        }
        at += 8 + cb + (cb & 1);
    }
}

AVIPARTS ReadParts(const std::vector<BYTE> &bytes)
{
    AVIPARTS parts;
    int iRiff = 0;
    for (size_t riff = 0; riff + 12 <= bytes.size(); iRiff++) {
        DWORD cbRiff = DwordAt(bytes, riff + 4);
        if (DwordAt(bytes, riff) != FOURCC_RIFF || riff + 8 + cbRiff > bytes.size()) return parts;
        parts.riffSizes.push_back(8ull + cbRiff);
        for (size_t pos = riff + 12; pos + 8 <= riff + 8 + cbRiff;) {
            DWORD ckid = DwordAt(bytes, pos), cb = DwordAt(bytes, pos + 4);
            if (pos + 8 + cb > bytes.size()) return parts;
            if (ckid == FOURCC_LIST && DwordAt(bytes, pos + 8) == mmioFOURCC('m', 'o', 'v', 'i')) {
                if (!parts.ullFirstMovi) parts.ullFirstMovi = pos + 8;
                for (size_t at = pos + 12; at + 8 <= pos + 8 + cb;) {
                    DWORD cbChunk = DwordAt(bytes, at + 4);
                    AVICHUNK chunk;
                    chunk.id.assign((const char *)&bytes[at], 4);
                    chunk.data.assign(bytes.begin() + (long)at + 8, bytes.begin() + (long)(at + 8 + cbChunk));
                    chunk.ullData = at + 8;
                    chunk.iRiff = iRiff;
                    if (chunk.id.substr(0, 2) != "ix") parts.chunks.push_back(chunk);
                    at += 8 + cbChunk + (cbChunk & 1);
                }
            } else if (ckid == mmioFOURCC('i', 'd', 'x', '1')) {
                for (size_t at = pos + 8; at + 16 <= pos + 8 + cb; at += 16) {
                    AVIINDEXENTRY entry;
                    memcpy(&entry, &bytes[at], 16);
                    parts.index.push_back(entry);
                }
            } else if (ckid == FOURCC_LIST && DwordAt(bytes, pos + 8) == mmioFOURCC('h', 'd', 'r', 'l')) {
                ReadHeaderList(bytes, pos + 12, pos + 8 + cb, &parts);
            }
            pos += 8 + cb + (cb & 1);
        }
        riff += 8 + cbRiff + (cbRiff & 1);
    }
    parts.fWhole = parts.ullFirstMovi != 0;
    return parts;
}

// Every chunk of the parts is where each index says, with its flags: the
// idx1 lists those of the first RIFF, the standard indexes those of their
// streams. pfKey gives the key-frame flag of each chunk.
void ExpectIndexesAgree(const AVIPARTS &parts, const std::vector<bool> &keys)
{
    size_t nFirst = 0;
    for (const AVICHUNK &chunk : parts.chunks) nFirst += chunk.iRiff == 0 ? 1 : 0;
    ASSERT_EQ(parts.index.size(), nFirst);
    for (size_t i = 0; i < nFirst; i++) {
        EXPECT_EQ(parts.ullFirstMovi + parts.index[i].dwChunkOffset + 8, parts.chunks[i].ullData) << i;
        EXPECT_EQ(parts.index[i].dwChunkLength, parts.chunks[i].data.size()) << i;
        EXPECT_EQ(std::string((const char *)&parts.index[i].ckid, 4), parts.chunks[i].id) << i;
        EXPECT_EQ((parts.index[i].dwFlags & AVIIF_KEYFRAME) != 0, (bool)keys[i]) << i;
    }
    for (size_t s = 0; s < parts.streams.size(); s++) {
        std::vector<STDINDEXENTRY> expected;
        for (size_t i = 0; i < parts.chunks.size(); i++)
            if (parts.chunks[i].id[1] - '0' == (int)s)
                expected.push_back(STDINDEXENTRY{parts.chunks[i].ullData, (DWORD)parts.chunks[i].data.size(), (bool)keys[i]});
        ASSERT_EQ(parts.streams[s].size(), expected.size()) << "stream " << s;
        for (size_t j = 0; j < expected.size(); j++) {
            EXPECT_EQ(parts.streams[s][j].ullData, expected[j].ullData) << s << "/" << j;
            EXPECT_EQ(parts.streams[s][j].cb, expected[j].cb) << s << "/" << j;
            EXPECT_EQ(parts.streams[s][j].fKey, expected[j].fKey) << s << "/" << j;
        }
    }
}

}  // namespace

TEST_F(Spool, HelpAndUsage)
{
    RUN run = Run({});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_NE(run.err.find("spool resolve AVI -o OUT.avi"), std::string::npos) << run.err;
    run = Run({"--help"});
    EXPECT_EQ(run.nStatus, SPOOL_OK);
    EXPECT_NE(run.out.find("Exit status: 0 success, 1 problems found, 2 usage or I/O error."), std::string::npos);
    run = Run({"verify", "--help"});
    EXPECT_EQ(run.nStatus, SPOOL_OK);
    EXPECT_EQ(run.out.substr(0, 104),
              "usage: spool verify AVI [-v] [--json] [--map FROM=TO]... | spool verify -r DIR... [--jobs N] [--cross]\n\n");
    run = Run({"frobnicate"});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_EQ(run.err.substr(0, 34), "spool: unknown command: frobnicate");
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"verify"}, {"scan", "a", "b"}, {"salvage", "x.000"}, {"move", "a.avi"}, {"refs", "a.avi", "--map"},
             {"refs", "a.avi", "--map", "nothing"}, {"delete", "a.avi"}, {"resolve", "a.avi"}, {"codecs", "x"},
             {"salvage", "x.000", "-o", "y.avi", "--size", "12"}}) {
        run = Run(args);
        EXPECT_EQ(run.nStatus, SPOOL_ERROR) << args[0] << " " << args.back();
        EXPECT_NE(run.err.find("spool: " + args[0] + ": "), std::string::npos) << run.err;
    }
    // Japanese when asked for.
    SetLanguage("ja");
    run = Run({"verify"});
    EXPECT_NE(run.err.find("引数が正しくありません"), std::string::npos);
}

TEST_F(Spool, ScanListsFramesAndFindsTheDamage)
{
    std::string ref = Path("take.000");
    WriteRefFile(ref, 3, 5);
    RUN run = Run({"scan", ref});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(run.out, "<dir>/take.000: 3 frames, 176 bytes\n"
                       "     frame     offset       data    padding     picture\n"
                       "         0          0         20         12         8x8\n"
                       "         1         48         33         15         8x8\n"
                       "         2        112         46          2         8x8\n");
    EXPECT_EQ(run.err, "");
    SetLanguage("ja");
    run = Run({"scan", ref});
    EXPECT_NE(run.out.find("フレーム"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("padding"), std::string::npos) << run.out;
    SetLanguage("en");
    // Bytes after the last frame that are no frame.
    std::vector<BYTE> bytes = ReadBytes(ref);
    bytes.insert(bytes.end(), 40, 0xEE);
    ASSERT_TRUE(WriteBytes(ref, bytes.data(), bytes.size()));
    run = Run({"scan", ref, "--json"});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS);
    EXPECT_EQ(run.out, "{\"file\":\"<dir>/take.000\",\"size\":216,\"frames\":["
                       "{\"offset\":0,\"frame\":48,\"data\":20,\"padding\":12,\"width\":8,\"height\":8},"
                       "{\"offset\":48,\"frame\":64,\"data\":33,\"padding\":15,\"width\":8,\"height\":8},"
                       "{\"offset\":112,\"frame\":64,\"data\":46,\"padding\":2,\"width\":8,\"height\":8}],"
                       "\"damaged_at\":176}\n");
    EXPECT_EQ(run.err, "spool: <dir>/take.000 is not a reference file, or the header at byte 176 is damaged!\n");
    // Not a reference file at all, or none.
    WriteText(Path("text.000"), "plain text, no frames here");
    run = Run({"scan", Path("text.000")});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_EQ(run.err, "spool: <dir>/text.000 is not a reference file!\n");
    EXPECT_EQ(Run({"scan", Path("none.000")}).nStatus, SPOOL_ERROR);
}

TEST_F(Spool, RefsAndVerifyFindEveryProblem)
{
    std::string avi = RecordAvi({"a.000", "b.000"}, 10);
    RUN run = Run({"refs", avi});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    size_t cbA = ReadBytes(Path("a.000")).size(), cbB = ReadBytes(Path("b.000")).size();
    char szExpected[512];
    snprintf(szExpected, sizeof(szExpected),
             "<dir>/rec.avi: 10 frames, 2 reference files\n"
             "  frames    first           size  file\n"
             "       5        0 %14zu  <dir>/a.000\n"
             "       5        1 %14zu  <dir>/b.000\n",
             cbA, cbB);
    EXPECT_EQ(run.out, szExpected);
    run = Run({"verify", avi});
    EXPECT_EQ(run.nStatus, SPOOL_OK);
    EXPECT_EQ(run.out, "<dir>/rec.avi: 10 frames, 10 records, 10 good, 0 bad, 0 other frames\n");

    // b.000 cut inside its second frame, a.000 gone.
    std::vector<BYTE> b = ReadBytes(Path("b.000"));
    b.resize(100);
    ASSERT_TRUE(WriteBytes(Path("b.000"), b.data(), b.size()));
    ASSERT_TRUE(DeleteFileA(Path("a.000").c_str()));
    run = Run({"refs", avi, "--json"});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS);
    EXPECT_EQ(run.out, "{\"avi\":\"<dir>/rec.avi\",\"frames\":10,\"files\":["
                       "{\"name\":\"<dir>/a.000\",\"path\":\"<dir>/a.000\",\"frames\":5,\"first\":0,\"exists\":false,\"size\":null,"
                       "\"names\":[\"<dir>/a.000\"],\"refused\":null},"
                       "{\"name\":\"<dir>/b.000\",\"path\":\"<dir>/b.000\",\"frames\":5,\"first\":1,\"exists\":true,\"size\":100,"
                       "\"names\":[\"<dir>/b.000\"],\"refused\":null}]}\n");
    run = Run({"verify", avi, "-v"});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS);
    EXPECT_EQ(run.out, "frame 0: file missing: <dir>/a.000 at 0\n"
                       "frame 2: file missing: <dir>/a.000 at 48\n"
                       "frame 3: frame cut short by the file's end: <dir>/b.000 at 48\n"
                       "frame 4: file missing: <dir>/a.000 at 112\n"
                       "frame 5: no frame header at the offset: <dir>/b.000 at 112\n"
                       "frame 6: file missing: <dir>/a.000 at 176\n"
                       "frame 7: no frame header at the offset: <dir>/b.000 at 176\n"
                       "frame 8: file missing: <dir>/a.000 at 256\n"
                       "frame 9: no frame header at the offset: <dir>/b.000 at 256\n"
                       "<dir>/rec.avi: 10 frames, 10 records, 1 good, 9 bad, 0 other frames\n"
                       "  file missing: 5\n"
                       "  no frame header at the offset: 3\n"
                       "  frame cut short by the file's end: 1\n");
    run = Run({"verify", avi, "--json"});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS);
    std::string first = "{\"avi\":\"<dir>/rec.avi\",\"bad\":[{\"frame\":0,\"problem\":\"missing\",\"file\":\"<dir>/a.000\",\"offset\":0},";
    EXPECT_EQ(run.out.substr(0, first.size()), first);
    EXPECT_NE(run.out.find("{\"frame\":5,\"problem\":\"no-header\",\"file\":\"<dir>/b.000\",\"offset\":112}"), std::string::npos);
    EXPECT_NE(run.out.find("],\"frames\":10,\"records\":10,\"other\":0,\"good\":1}\n"), std::string::npos) << run.out;
    EXPECT_EQ(Run({"verify", Path("none.avi")}).nStatus, SPOOL_ERROR);

    // More files in turn than verify keeps open: each record is checked
    // against its own file, c.000 gone and e.000 cut inside its second
    // frame.
    avi = RecordAvi({"a.000", "b.000", "c.000", "d.000", "e.000", "f.000", "g.000", "h.000", "i.000", "j.000"}, 30,
                    "ten.avi");
    std::vector<BYTE> e = ReadBytes(Path("e.000"));
    e.resize(100);
    ASSERT_TRUE(WriteBytes(Path("e.000"), e.data(), e.size()));
    ASSERT_TRUE(DeleteFileA(Path("c.000").c_str()));
    run = Run({"verify", avi, "-v"});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS);
    EXPECT_EQ(run.out, "frame 2: file missing: <dir>/c.000 at 0\n"
                       "frame 12: file missing: <dir>/c.000 at 48\n"
                       "frame 14: frame cut short by the file's end: <dir>/e.000 at 48\n"
                       "frame 22: file missing: <dir>/c.000 at 112\n"
                       "frame 24: no frame header at the offset: <dir>/e.000 at 112\n"
                       "<dir>/ten.avi: 30 frames, 30 records, 25 good, 5 bad, 0 other frames\n"
                       "  file missing: 3\n"
                       "  no frame header at the offset: 1\n"
                       "  frame cut short by the file's end: 1\n");
}

// A record whose offset is past what playback reads (2^31 and more) is not
// good, even where the file holds a frame header there.
TEST_F(Spool, VerifyRefusesOffsetsThatPlaybackCannotReach)
{
    std::vector<FRAMEPLACE> places = WriteRefFile(Path("far.000"), 1, 1);
    std::vector<BYTE> frame = ReadBytes(Path("far.000"));
    const DWORD dwFar = 0x80000000u;
    HANDLE h = CreateFileA(Path("far.000").c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LONG lHigh = 0;
    SetFilePointer(h, (LONG)dwFar, &lHigh, FILE_BEGIN);
    DWORD cb = 0;
    EXPECT_TRUE(WriteFile(h, frame.data(), (DWORD)frame.size(), &cb, NULL));
    CloseHandle(h);
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    spec.dwTotalFrames = spec.dwLength = 2;
    spec.chunks.push_back(Frame("00dc", RecordBytes(Path("far.000"), places[0])));
    spec.chunks.push_back(Frame("00dc", RecordBytes(Path("far.000"), FRAMEPLACE{dwFar, places[0].dwFrameSize})));
    std::vector<BYTE> bytes = BuildAvi(spec);
    std::string avi = Path("far.avi");
    ASSERT_TRUE(WriteBytes(avi, bytes.data(), bytes.size()));
    RUN run = Run({"verify", avi, "-v"});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS);
    EXPECT_EQ(run.out, "frame 1: no frame header at the offset: <dir>/far.000 at 2147483648\n"
                       "<dir>/far.avi: 2 frames, 2 records, 1 good, 1 bad, 0 other frames\n"
                       "  no frame header at the offset: 1\n");
    DeleteFileA(Path("far.000").c_str());
}

TEST_F(Spool, PathsOfAnotherMachineAreMapped)
{
    // Records written on Windows name "D:\rec\..."; here the files lie in
    // the test's folder.
    std::vector<FRAMEPLACE> places = WriteRefFile(Path("take.000"), 2, 3);
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    spec.dwTotalFrames = spec.dwLength = 2;
    for (const FRAMEPLACE &place : places) spec.chunks.push_back(Frame("00dc", RecordBytes("D:\\Rec\\take.000", place)));
    std::vector<BYTE> bytes = BuildAvi(spec);
    std::string avi = Path("win.avi");
    ASSERT_TRUE(WriteBytes(avi, bytes.data(), bytes.size()));
    EXPECT_EQ(Run({"verify", avi}).nStatus, SPOOL_PROBLEMS);
    RUN run = Run({"verify", avi, "--map", "d:/rec/=" + dir});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.out << run.err;
    run = Run({"refs", avi, "--map=D:\\rec=" + dir});
    EXPECT_EQ(run.nStatus, SPOOL_OK);
    EXPECT_NE(run.out.find("  D:/Rec/take.000 -> <dir>/take.000\n"), std::string::npos) << run.out;
    // Only whole folder names match.
    CHAR sz[MAX_PATH];
    ClearPathMaps();
    ASSERT_TRUE(AddPathMap("D:\\rec=/mnt/rec"));
    ASSERT_TRUE(MapRefPath("D:\\recordings\\a.000", sz));
    EXPECT_STREQ(sz, "D:\\recordings\\a.000");
    ASSERT_TRUE(MapRefPath("d:\\REC\\sub\\a.000", sz));
#ifdef _WIN32
    EXPECT_STREQ(sz, "/mnt/rec\\sub\\a.000") << "the mapped folder as given, the rest the platform's";
#else
    EXPECT_STREQ(sz, "/mnt/rec/sub/a.000");
#endif
    EXPECT_FALSE(AddPathMap("=x"));
    EXPECT_FALSE(AddPathMap("x="));
#ifdef _WIN32
    // Under code page 932, "表" (0x95 0x5C) ends in the byte of '\': it is
    // no separator to drop from a map, and its bytes are matched as they
    // are, not as letters.
    ASSERT_EQ(GetACP(), 932u);
    ClearPathMaps();
    ASSERT_TRUE(AddPathMap("D:\\\x95\x5C=C:\\to"));
    ASSERT_TRUE(MapRefPath("D:\\\x95\x5C\\a.000", sz));
    EXPECT_STREQ(sz, "C:\\to\\a.000");
    // Two characters whose second bytes are one letter in either case
    // (0x83 0x41 and 0x83 0x61) are two characters.
    ClearPathMaps();
    ASSERT_TRUE(AddPathMap("D:\\\x83\x41=C:\\to"));
    ASSERT_TRUE(MapRefPath("D:\\\x83\x61\\a.000", sz));
    EXPECT_STREQ(sz, "D:\\\x83\x61\\a.000");
    ASSERT_TRUE(MapRefPath("D:\\\x83\x41\\a.000", sz));
    EXPECT_STREQ(sz, "C:\\to\\a.000");
#endif
    ClearPathMaps();
}

TEST_F(Spool, MoveCopyAndDelete)
{
    std::string avi = RecordAvi({"a.000", "b.000", "c.000"}, 30);
    // One file by its name, moved to a new base.
    RUN run = Run({"move", avi, "--base", Path("new"), Path("b.000")});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(run.out, "<dir>/b.000 -> <dir>/new.000\n");
    EXPECT_FALSE(FileExists(Path("b.000").c_str()));
    EXPECT_EQ(Run({"verify", avi}).nStatus, SPOOL_OK);
    // The rest copied: the old files stay, or go with --delete-after.
    run = Run({"move", avi, "--base", Path("copy"), "--copy", Path("a.000")});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(run.out, "<dir>/a.000 -> <dir>/copy.000\n");
    EXPECT_TRUE(FileExists(Path("a.000").c_str()));
    run = Run({"move", avi, "--base", Path("copy"), "--copy", "--delete-after", Path("c.000")});
    EXPECT_EQ(run.out, "<dir>/c.000 -> <dir>/copy.001\n");
    EXPECT_FALSE(FileExists(Path("c.000").c_str()));
    run = Run({"refs", avi});
    EXPECT_NE(run.out.find("<dir>/copy.000\n"), std::string::npos);
    EXPECT_NE(run.out.find("<dir>/new.000\n"), std::string::npos);
    EXPECT_NE(run.out.find("<dir>/copy.001\n"), std::string::npos);
    EXPECT_EQ(Run({"verify", avi}).nStatus, SPOOL_OK);
    // A file the AVI does not use, and a base past 999.
    run = Run({"move", avi, "--base", Path("x"), Path("a.000")});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_EQ(run.err, "spool: move: the AVI does not use <dir>/a.000\n");
    WriteText(Path("full.999"), "");
    run = Run({"move", avi, "--base", Path("full")});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_EQ(run.err, "spool: The numbers of the new base name <dir>/full would pass 999!\n");
    EXPECT_EQ(Run({"verify", avi}).nStatus, SPOOL_OK);

    // Deleting one file, then everything only with --yes.
    run = Run({"delete", avi, Path("copy.001")});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_FALSE(FileExists(Path("copy.001").c_str()));
    EXPECT_TRUE(FileExists(avi.c_str()));
    run = Run({"delete", avi, "--all"});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_TRUE(FileExists(Path("new.000").c_str()));
    run = Run({"delete", avi, "--all", "--yes"});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(run.out, "deleted 2 reference files and <dir>/rec.avi\n") << "copy.001 was gone already";
    EXPECT_FALSE(FileExists(avi.c_str()));
    EXPECT_FALSE(FileExists(Path("new.000").c_str()));
    EXPECT_FALSE(FileExists(Path("copy.000").c_str()));
}

// verify reports a relocation cut short and leaves it; recover finishes it.
TEST_F(Spool, VerifyReportsAndRecoverFinishesAnInterruptedRelocation)
{
    std::string avi = RecordAvi({"old.000"}, 4);
    std::string note = avi + ".relocating";
    WriteRelocationNote(avi, Path("old.000"), Path("new.000"), 0, 0);
    ASSERT_TRUE(MoveFileA(Path("old.000").c_str(), Path("new.000").c_str()));
    RUN run = Run({"verify", avi});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS) << run.err;
    EXPECT_NE(run.err.find("spool recover"), std::string::npos) << run.err;
    EXPECT_TRUE(FileExists(note.c_str())) << "verify never acts on a note";
    run = Run({"recover", avi});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(run.err, "spool: The interrupted relocation of reference file <dir>/old.000 to <dir>/new.000 was finished.\n");
    EXPECT_FALSE(FileExists(note.c_str()));
    EXPECT_EQ(Run({"verify", avi}).nStatus, SPOOL_OK);
    run = Run({"recover", avi});
    EXPECT_EQ(run.nStatus, SPOOL_OK);
    EXPECT_EQ(run.out, "<dir>/rec.avi: no relocation was cut short\n");
}

TEST_F(Spool, ResolveStoresEveryFrameInPlaceOfItsRecord)
{
    // Records of two files between audio chunks, one frame not a key frame,
    // one an ordinary frame.
    std::vector<FRAMEPLACE> a = WriteRefFile(Path("a.000"), 3, 0x11);
    std::vector<FRAMEPLACE> r = WriteRefFile(Path("r.000"), 2, 0x22);
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler, Bytes({1, 2, 3, 4}));
    spec.fAudioStream = true;
    spec.dwTotalFrames = spec.dwLength = 5;
    spec.chunks.push_back(Frame("00dc", RecordBytes(Path("a.000"), a[0])));
    spec.chunks.push_back(Frame("01wb", std::vector<BYTE>(7, 0x77)));
    spec.chunks.push_back(Frame("00dc", RecordBytes(Path("a.000"), a[1]), 0));
    spec.chunks.push_back(Frame("00dc", RecordBytes(Path("r.000"), r[0])));
    spec.chunks.push_back(Frame("00dc", std::vector<BYTE>(5, 0x55)));  // an ordinary frame
    spec.chunks.push_back(Frame("00dc", RecordBytes(Path("a.000"), a[2])));
    std::vector<BYTE> in = BuildAvi(spec);
    std::string avi = Path("rec.avi"), out = Path("out.avi");
    ASSERT_TRUE(WriteBytes(avi, in.data(), in.size()));
    RUN run = Run({"resolve", avi, "-o", out});
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(run.out, "<dir>/out.avi: 4 frames resolved\n");
    AVIPARTS parts = ReadParts(ReadBytes(out));
    ASSERT_TRUE(parts.fWhole);
    EXPECT_EQ(parts.strf, spec.format) << "the stream's format as it was";
    ASSERT_EQ(parts.chunks.size(), 6u);
    std::vector<BYTE> fileA = ReadBytes(Path("a.000")), fileR = ReadBytes(Path("r.000"));
    auto DataOf = [](const std::vector<BYTE> &file, const FRAMEPLACE &place) {
        DWORD cbData = DwordAt(file, place.dwOffset + 4);
        return std::vector<BYTE>(file.begin() + place.dwOffset + 16, file.begin() + place.dwOffset + 16 + cbData);
    };
    EXPECT_EQ(parts.chunks[0].id, "00dc");
    EXPECT_EQ(parts.chunks[0].data, DataOf(fileA, a[0]));
    EXPECT_EQ(parts.chunks[1].id, "01wb");
    EXPECT_EQ(parts.chunks[1].data, std::vector<BYTE>(7, 0x77));
    EXPECT_EQ(parts.chunks[2].data, DataOf(fileA, a[1]));
    EXPECT_EQ(parts.chunks[3].id, "00dc");
    EXPECT_EQ(parts.chunks[3].data, DataOf(fileR, r[0]));
    EXPECT_EQ(parts.chunks[4].data, std::vector<BYTE>(5, 0x55));
    EXPECT_EQ(parts.chunks[5].data, DataOf(fileA, a[2]));
    // The indexes: every chunk, at its new place, with its flags.
    ASSERT_EQ(parts.streams.size(), 2u);
    ExpectIndexesAgree(parts, {true, true, false, true, true, true});
    EXPECT_EQ(parts.nTotalFrames, 5u);
    EXPECT_EQ(parts.nGrandFrames, 5u);
    EXPECT_EQ(parts.riffSizes.size(), 1u);

    // A frame that is not there: nothing is written.
    ASSERT_TRUE(DeleteFileA(Path("r.000").c_str()));
    ASSERT_TRUE(DeleteFileA(out.c_str()));
    run = Run({"resolve", avi, "-o", out});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_EQ(run.err, "spool: frame 2: reference file <dir>/r.000 cannot be opened\n");
    EXPECT_FALSE(FileExists(out.c_str()));
    EXPECT_FALSE(FileExists((out + ".part").c_str()));
    // The same frames in "rec " lists: the frame is still told by its number.
    for (size_t i = 0; i < spec.chunks.size(); i++) spec.chunks[i].fInRecList = true, spec.chunks[i].fRecListStart = i % 2 == 0;
    in = BuildAvi(spec);
    ASSERT_TRUE(WriteBytes(avi, in.data(), in.size()));
    run = Run({"resolve", avi, "-o", out});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_EQ(run.err, "spool: frame 2: reference file <dir>/r.000 cannot be opened\n");
    EXPECT_FALSE(FileExists(out.c_str()));
}

TEST_F(Spool, ResolveLeavesFilesThatAreNotItsOwn)
{
    WriteRefFile(Path("take.000"), 4, 3);
    std::string avi = RecordAvi({"take.000"}, 4);
    std::vector<BYTE> aviBytes = ReadBytes(avi);
    std::string out = Path("out.avi");
    const std::string userText = "a file of the user's";
    const struct {
        const char *pszWhat;
        std::string output;
        std::string usersFile;  // made before the run; empty: none
        const char *pszSaid;
    } aCases[] = {
        {"a file named as the output's working file", out, out + ".part", "is there already and is left as it is"},
        {"a file named as the index's working file", out, out + ".idx.part", "is there already and is left as it is"},
        {"the AVI itself as the output", avi, "", "is the AVI being resolved"},
        {"the AVI by another spelling", Path(".") + "/rec.avi", "", "is the AVI being resolved"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        if (!c.usersFile.empty()) {
            ASSERT_TRUE(WriteText(c.usersFile, userText));
        }
        RUN run = Run({"resolve", avi, "-o", c.output});
        EXPECT_EQ(run.nStatus, SPOOL_ERROR);
        EXPECT_NE(run.err.find(c.pszSaid), std::string::npos) << run.err;
        EXPECT_EQ(ReadBytes(avi), aviBytes);
        if (!c.usersFile.empty()) {
            EXPECT_EQ(ReadText(c.usersFile), userText);
        }
        EXPECT_FALSE(FileExists(out.c_str()));
        if (!c.usersFile.empty()) DeleteFileA(c.usersFile.c_str());
    }
    // Without them the same run goes through and leaves no working file.
    ASSERT_EQ(Run({"resolve", avi, "-o", out}).nStatus, SPOOL_OK);
    EXPECT_EQ(ListFolder(dir, "*.part").size(), 0u);
}

TEST_F(Spool, SalvageWithTheFormatOfAnotherAvi)
{
    std::string ref = Path("take.000");
    std::vector<FRAMEPLACE> places = WriteRefFile(ref, 4, 9);
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler, Bytes({9, 8, 7, 6, 5}));
    spec.dwTotalFrames = spec.dwLength = 1;
    spec.chunks.push_back(Frame("00dc", std::vector<BYTE>(10, 1)));
    std::vector<BYTE> bytes = BuildAvi(spec);
    ASSERT_TRUE(WriteBytes(Path("model.avi"), bytes.data(), bytes.size()));
    RUN run = Run({"salvage", ref, "-o", Path("out.avi"), "--from", Path("model.avi"), "--rate", "25"});
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(run.out, "<dir>/out.avi: 4 frames of <dir>/take.000\n");
    AVIPARTS parts = ReadParts(ReadBytes(Path("out.avi")));
    ASSERT_TRUE(parts.fWhole);
    EXPECT_EQ(parts.strf, spec.format) << "the format chunk exactly";
    ASSERT_EQ(parts.chunks.size(), 4u);
    for (size_t i = 0; i < 4; i++) {
        REFRECORD rec;
        ASSERT_EQ(parts.chunks[i].data.size(), sizeof(rec));
        memcpy(&rec, parts.chunks[i].data.data(), sizeof(rec));
        EXPECT_EQ(rec.dwOffset, places[i].dwOffset);
        EXPECT_EQ(RefRecordFrameSize(&rec), places[i].dwFrameSize);
    }
    // Then the salvaged AVI checks out and resolves.
    EXPECT_EQ(Run({"verify", Path("out.avi")}).nStatus, SPOOL_OK);
    EXPECT_EQ(Run({"resolve", Path("out.avi"), "-o", Path("whole.avi")}).nStatus, SPOOL_OK);
    // Another size than the model's: the main header and the format chunk
    // tell the same size, the rest of the format as it was.
    run = Run({"salvage", ref, "-o", Path("sized.avi"), "--from", Path("model.avi"), "--size", "16x12"});
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    std::vector<BYTE> sized = ReadBytes(Path("sized.avi"));
    parts = ReadParts(sized);
    ASSERT_EQ(parts.strf.size(), spec.format.size());
    BITMAPINFOHEADER bih;
    memcpy(&bih, parts.strf.data(), sizeof(bih));
    EXPECT_EQ(bih.biWidth, 16);
    EXPECT_EQ(bih.biHeight, 12);
    EXPECT_EQ(bih.biSizeImage, 16u * 12 * 3);
    EXPECT_EQ(std::vector<BYTE>(parts.strf.begin() + 40, parts.strf.end()), Bytes({9, 8, 7, 6, 5}));
    for (size_t at = 0; at + 8 <= sized.size(); at++) {
        if (memcmp(&sized[at], "avih", 4) != 0) continue;
        EXPECT_EQ(DwordAt(sized, at + 8 + 32), 16u);
        EXPECT_EQ(DwordAt(sized, at + 8 + 36), 12u);
        break;
    }
    // Without a codec, raw codec or model there is no format to give.
    run = Run({"salvage", ref, "-o", Path("none.avi")});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_EQ(run.err, "spool: give --codec, --raw or --from\n");
}

// Every message of the engines has its Japanese and its English text, with
// the same conversions in the same order, so that one list of arguments
// renders either; the English is English.
TEST(SpoolTexts, EveryEngineMessageHasBothTexts)
{
    auto Conversions = [](LPCSTR psz) {
        std::string conversions;
        for (const char *p = psz; *p; p++) {
            if (*p != '%') continue;
            if (p[1] == '%') {
                p++;
                continue;
            }
            const char *pEnd = p + 1;
            while (*pEnd && !isalpha((unsigned char)*pEnd)) pEnd++;
            while (*pEnd == 'l') pEnd++;
            conversions += std::string(p, (size_t)(pEnd - p + 1)) + " ";
        }
        return conversions;
    };
    ASSERT_GT(g_nMessages, 90u);
    for (size_t i = 0; i < g_nMessages; i++) {
        const MESSAGE *pMsg = g_apMessages[i];
        SCOPED_TRACE(pMsg->pszEnglish);
        ASSERT_NE(pMsg->pszJapanese, nullptr);
        ASSERT_NE(pMsg->pszEnglish, nullptr);
        EXPECT_NE(pMsg->pszJapanese[0], 0);
        EXPECT_EQ(Conversions(pMsg->pszJapanese), Conversions(pMsg->pszEnglish));
        for (const char *p = pMsg->pszEnglish; *p; p++) EXPECT_LT((unsigned char)*p, 0x80) << "English only";
        for (size_t k = 0; k < i; k++) EXPECT_NE(g_apMessages[k], pMsg) << "listed once";
    }
    // Rendered in the language chosen, with the same arguments.
    CHAR sz[256];
    g_fEnglishMessages = FALSE;
    RenderMessage(sz, sizeof(sz), &MSG_BOTH_NOT_FOUND, "C:\\a.000", "D:\\b.000");
    EXPECT_STREQ(sz, "参照ファイルC:\\a.000とD:\\b.000が見つかりません!");
    g_fEnglishMessages = TRUE;
    RenderMessage(sz, sizeof(sz), &MSG_BOTH_NOT_FOUND, "C:\\a.000", "D:\\b.000");
    EXPECT_STREQ(sz, "Neither reference file C:\\a.000 nor D:\\b.000 is there!");
    RenderMessage(sz, sizeof(sz), &MSG_REF_UNREADABLE, "x.000", 0x26ul);
    EXPECT_STREQ(sz, "x.000 cannot be read! (00000026)");
    g_fEnglishMessages = FALSE;
}

// In English the command line says nothing in Japanese, also where an
// engine's message is nested in another.
TEST_F(Spool, EnglishOutputHasNoJapanese)
{
    std::string avi = RecordAvi({"take.000"}, 5);
    std::vector<BYTE> broken = ReadBytes(avi);
    broken.resize(broken.size() / 2);
    ASSERT_TRUE(WriteBytes(Path("broken.avi"), broken.data(), broken.size()));
    ASSERT_TRUE(WriteText(Path("not.avi"), "no AVI at all"));
    const std::vector<std::vector<std::string>> commands = {
        {"refs", Path("broken.avi")},
        {"verify", Path("not.avi")},
        {"move", Path("missing.avi"), "--base", Path("x")},
        {"salvage", Path("take.000"), "-o", Path("out.avi"), "--from", Path("not.avi")},
        {"scan", Path("not.avi")},
    };
    for (const auto &command : commands) {
        RUN run = Run(command);
        EXPECT_NE(run.nStatus, SPOOL_OK) << command[0];
        EXPECT_NE(run.err, "") << command[0];
        for (char c : run.err + run.out) EXPECT_LT((unsigned char)c, 0x80) << command[0] << ": " << run.err;
    }
}

// JSON strings are valid UTF-8 whatever the name holds: what is no UTF-8
// (a name of another code page, an overlong form, a surrogate, a code point
// past U+10FFFF) is escaped byte by byte.
TEST(SpoolTexts, JsonStringsAreValidUtf8)
{
#ifndef _WIN32
    const struct {
        const char *pszIn;
        const char *pszJson;
    } cases[] = {
        {"plain \"q\" \\ \n", "\"plain \\\"q\\\" \\\\ \\u000a\""},
        {"\xE6\x97\xA5\xE6\x9C\xAC", "\"\xE6\x97\xA5\xE6\x9C\xAC\""},
        {"D:\\\xE0\x80\x83\x65", "\"D:\\\\\\u00e0\\u0080\\u0083e\""},
        {"\xC0\xAF", "\"\\u00c0\\u00af\""},
        {"\xED\xA0\x80", "\"\\u00ed\\u00a0\\u0080\""},
        {"\xF4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},
        {"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", "\"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\""},
        {"\xE2\x82", "\"\\u00e2\\u0082\""},
    };
    for (const auto &c : cases) {
        FILE *pFile = tmpfile();
        ASSERT_NE(pFile, nullptr);
        PutJsonString(pFile, c.pszIn);
        EXPECT_EQ(ReadBack(pFile), c.pszJson) << c.pszIn;
    }
#endif
}

TEST_F(Spool, CodecsListsTheInstalledCodecs)
{
    std::string name = UniqueName("spcodecs") + ".dll";
    std::string library = JoinPath(SystemFolder(), name);
    ASSERT_TRUE(CopyBytes(BuiltModule("samplecodec"), library));
    ASSERT_TRUE(RegisterVideoCodec("SMPL", name.c_str()));
    RUN run = Run({"codecs"});
    UnregisterVideoCodec("SMPL");
    DeleteFileA(library.c_str());
    EXPECT_EQ(run.nStatus, SPOOL_OK);
    EXPECT_EQ(run.out.substr(0, 48), "                          driver |  id  | codec\n");
    char szLine[256];
    snprintf(szLine, sizeof(szLine), "%32s | SMPL | Sample lossless run-length codec\n", name.c_str());
    EXPECT_NE(run.out.find(szLine), std::string::npos) << run.out;
}

namespace {

// A reference file of raw pictures of w x h, 24 bits, each different; their
// places and bytes.
std::vector<FRAMEPLACE> WritePictureFile(const std::string &path, DWORD n, LONG w, LONG h,
                                         std::vector<std::vector<BYTE>> *pPictures)
{
    std::vector<BYTE> file;
    std::vector<FRAMEPLACE> places;
    DWORD cbPicture = (DWORD)(w * 3 * h);
    for (DWORD i = 0; i < n; i++) {
        std::vector<BYTE> picture(cbPicture);
        for (DWORD k = 0; k < cbPicture; k++) picture[k] = (BYTE)(i * 7 + k * 13 + (k / 3) * (i & 3));
        REFFRAMEHEADER header;
        FillFrameHeader(&header, cbPicture, ComputePadding(cbPicture, 0), w, h);
        places.push_back(FRAMEPLACE{(DWORD)file.size(), header.dwFrameSize});
        const BYTE *p = reinterpret_cast<const BYTE *>(&header);
        file.insert(file.end(), p, p + sizeof(header));
        file.insert(file.end(), picture.begin(), picture.end());
        file.insert(file.end(), header.dwPadSize, 0);
        pPictures->push_back(picture);
    }
    WriteBytes(path, file.data(), file.size());
    return places;
}

void SetRiffLimit(const char *pszLimit)
{
#ifdef _WIN32
    _putenv((std::string("SPOOL_RIFF_LIMIT=") + (pszLimit ? pszLimit : "")).c_str());
#else
    if (pszLimit) setenv("SPOOL_RIFF_LIMIT", pszLimit, 1);
    else unsetenv("SPOOL_RIFF_LIMIT");
#endif
}

// Resolves IN into a new OUT under a RIFF limit of cbLimit bytes: the run,
// and OUT's parts, read whole, no RIFF over the limit.
void ResolveUnderRiffLimit(Spool *pTest, const std::string &in, const std::string &out, unsigned cbLimit, RUN *pRun,
                           AVIPARTS *pParts)
{
    SetRiffLimit(std::to_string(cbLimit).c_str());
    DeleteFileA(out.c_str());
    *pRun = pTest->Run({"resolve", in, "-o", out});
    SetRiffLimit(NULL);
    ASSERT_EQ(pRun->nStatus, SPOOL_OK) << pRun->err;
    *pParts = ReadParts(ReadBytes(out));
    ASSERT_TRUE(pParts->fWhole);
    for (size_t i = 0; i < pParts->riffSizes.size(); i++) EXPECT_LE(pParts->riffSizes[i], cbLimit) << "RIFF " << i;
}

// A reference file of raw frames: each frame's data of cbData bytes, filled
// with its number, under a header giving the picture's size.
std::vector<FRAMEPLACE> WriteRawRefFile(const std::string &path, const std::vector<DWORD> &sizes, LONG lWidth, LONG lHeight)
{
    std::vector<BYTE> file;
    std::vector<FRAMEPLACE> frames;
    for (size_t i = 0; i < sizes.size(); i++) {
        REFFRAMEHEADER header;
        FillFrameHeader(&header, sizes[i], ComputePadding(sizes[i], 0), lWidth, lHeight);
        frames.push_back(FRAMEPLACE{(DWORD)file.size(), header.dwFrameSize});
        const BYTE *p = reinterpret_cast<const BYTE *>(&header);
        file.insert(file.end(), p, p + sizeof(header));
        for (DWORD k = 0; k < sizes[i]; k++) file.push_back((BYTE)(i * 40 + k % 7));
        file.insert(file.end(), header.dwPadSize, 0);
    }
    WriteBytes(path, file.data(), file.size());
    return frames;
}
std::vector<BYTE> RawRecordBytes(const std::string &name, const FRAMEPLACE &frame)
{
    std::vector<BYTE> rec = RecordBytes(name, frame);
    rec[15] |= 0x80;  // the raw flag
    return rec;
}
#ifndef _WIN32
// What a shell command writes to its output.
std::string PipeText(const std::string &command)
{
    FILE *pPipe = popen(command.c_str(), "r");
    std::string text;
    char ach[512];
    while (pPipe && fgets(ach, sizeof(ach), pPipe)) text += ach;
    if (pPipe) pclose(pPipe);
    return text;
}

// ffmpeg's decoding of the AVI's video as rows from the top, or nothing
// when there is no ffmpeg here. Extra arguments go before the output's.
bool HasFfmpeg() { return system("ffmpeg -version >/dev/null 2>&1") == 0; }
std::vector<BYTE> FfmpegFrames(const std::string &avi, const std::string &extra = "")
{
    std::string command = "ffmpeg -v error -i '" + avi + "' " + extra + " -f rawvideo -pix_fmt bgr24 - 2>/dev/null";
    FILE *pPipe = popen(command.c_str(), "r");
    std::vector<BYTE> bytes;
    if (!pPipe) return bytes;
    BYTE ab[65536];
    size_t cb;
    while ((cb = fread(ab, 1, sizeof(ab), pPipe)) > 0) bytes.insert(bytes.end(), ab, ab + cb);
    pclose(pPipe);
    return bytes;
}
std::string Ffprobe(const std::string &avi, const std::string &entries)
{
    return PipeText("ffprobe -v error -count_packets -select_streams v:0 -show_entries " + entries +
                    " -of default=nw=1:nk=1 '" + avi + "' 2>&1");
}
// Every packet of both streams as ffmpeg reads it, with its stream, times,
// size and checksum; nothing when there is no ffmpeg here.
std::string PacketsOf(const std::string &avi)
{
    return PipeText("ffmpeg -v error -i '" + avi + "' -map 0 -c copy -f framemd5 - 2>/dev/null | grep -v '^#'");
}

// The handler of the first stream header of an AVI's bytes.
DWORD FirstStrhHandler(const std::vector<BYTE> &avi)
{
    static const char s_achStrh[] = "strh";
    auto it = std::search(avi.begin(), avi.end(), s_achStrh, s_achStrh + 4);
    return it == avi.end() || avi.end() - it < 16 ? 0xFFFFFFFFu : DwordAt(avi, (size_t)(it - avi.begin()) + 12);
}

// Records of raw frames (Spoolcap's NoCompress) resolve into a stream of
// the frames' own format, RGB of the depth their size tells, with no codec
// named; a stream that mixes them with compressed frames, or whose size
// fits no depth, is refused and nothing is written.
TEST_F(Spool, ResolveGivesRawFramesTheFormatTheyAreIn)
{
    struct {
        const char *pszName;
        LONG lWidth, lHeight;
        DWORD cbData;
        WORD wBits;  // 0 when refused
    } aCases[] = {
        {"24-bit", 8, 8, 192, 24},
        {"32-bit", 8, 8, 256, 32},
        {"16-bit", 8, 8, 128, 16},
        {"24-bit with padded rows, top-down", 3, -2, 24, 24},
        {"8-bit (no palette is kept)", 8, 8, 64, 0},
        {"a size of no picture", 8, 8, 100, 0},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        std::vector<FRAMEPLACE> r = WriteRawRefFile(Path("r.000"), {c.cbData, c.cbData, c.cbData}, c.lWidth, c.lHeight);
        AVISPEC spec;
        spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
        spec.format = MakeFormat(c.lWidth, c.lHeight, 24, spec.fccHandler, Bytes({1, 2, 3, 4}));
        spec.dwTotalFrames = spec.dwLength = 3;
        for (const FRAMEPLACE &place : r) spec.chunks.push_back(Frame("00db", RawRecordBytes(Path("r.000"), place)));
        std::vector<BYTE> in = BuildAvi(spec);
        ASSERT_TRUE(WriteBytes(Path("rec.avi"), in.data(), in.size()));
        RUN run = Run({"resolve", Path("rec.avi"), "-o", Path("out.avi")});
        if (!c.wBits) {
            EXPECT_EQ(run.nStatus, SPOOL_ERROR);
            EXPECT_NE(run.err.find("the raw frames' format cannot be told"), std::string::npos) << run.err;
            EXPECT_FALSE(FileExists(Path("out.avi").c_str()));
            continue;
        }
        ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
        std::vector<BYTE> out = ReadBytes(Path("out.avi"));
        AVIPARTS parts = ReadParts(out);
        ASSERT_TRUE(parts.fWhole);
        ASSERT_EQ(parts.strf.size(), sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER bi;
        memcpy(&bi, parts.strf.data(), sizeof(bi));
        EXPECT_EQ(bi.biSize, sizeof(bi));
        EXPECT_EQ(bi.biWidth, c.lWidth);
        EXPECT_EQ(bi.biHeight, c.lHeight);
        EXPECT_EQ(bi.biPlanes, 1);
        EXPECT_EQ(bi.biBitCount, c.wBits);
        EXPECT_EQ(bi.biCompression, (DWORD)BI_RGB);
        EXPECT_EQ(bi.biSizeImage, c.cbData);
        EXPECT_EQ(FirstStrhHandler(out), 0u) << "no codec is named";
        ASSERT_EQ(parts.chunks.size(), 3u);
        std::vector<BYTE> file = ReadBytes(Path("r.000"));
        for (size_t i = 0; i < 3; i++) {
            EXPECT_EQ(parts.chunks[i].id, "00db");
            EXPECT_EQ(parts.chunks[i].data, std::vector<BYTE>(file.begin() + r[i].dwOffset + 16,
                                                               file.begin() + r[i].dwOffset + 16 + c.cbData));
        }
        // ffmpeg takes it for raw video of that size and decodes each frame.
        if (HasFfmpeg() && c.wBits == 24) {
            EXPECT_EQ(Ffprobe(Path("out.avi"), "stream=codec_name,width,height"),
                      "rawvideo\n" + std::to_string(c.lWidth) + "\n" + std::to_string(labs(c.lHeight)) + "\n");
            EXPECT_EQ(FfmpegFrames(Path("out.avi")).size(), 3u * c.lWidth * 3 * labs(c.lHeight));
        }
        DeleteFileA(Path("out.avi").c_str());
    }

    // Streams that no one format describes.
    std::vector<FRAMEPLACE> r = WriteRawRefFile(Path("r.000"), {192, 192, 300}, 8, 8);
    std::vector<FRAMEPLACE> a = WriteRefFile(Path("a.000"), 1, 0x11);
    struct {
        const char *pszName;
        std::vector<std::pair<const char *, std::vector<BYTE>>> frames;
        const char *pszError;
    } aMixed[] = {
        {"a raw and a compressed record",
         {{"00db", RawRecordBytes(Path("r.000"), r[0])}, {"00dc", RecordBytes(Path("a.000"), a[0])}},
         "mixes records of raw frames with compressed frames"},
        {"a raw record and a compressed frame",
         {{"00dc", std::vector<BYTE>(9, 0x55)}, {"00db", RawRecordBytes(Path("r.000"), r[0])}},
         "mixes records of raw frames with compressed frames"},
        {"raw frames of two sizes",
         {{"00db", RawRecordBytes(Path("r.000"), r[0])}, {"00db", RawRecordBytes(Path("r.000"), r[1])},
          {"00db", RawRecordBytes(Path("r.000"), r[2])}},
         "frame 2: a raw frame in <dir>/r.000 differs in size from the stream's first"},
    };
    for (const auto &c : aMixed) {
        SCOPED_TRACE(c.pszName);
        AVISPEC spec;
        spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
        spec.format = MakeFormat(8, 8, 24, spec.fccHandler, Bytes({1, 2, 3, 4}));
        spec.dwTotalFrames = spec.dwLength = (DWORD)c.frames.size();
        for (const auto &frame : c.frames) spec.chunks.push_back(Frame(frame.first, frame.second));
        std::vector<BYTE> in = BuildAvi(spec);
        ASSERT_TRUE(WriteBytes(Path("rec.avi"), in.data(), in.size()));
        RUN run = Run({"resolve", Path("rec.avi"), "-o", Path("out.avi")});
        EXPECT_EQ(run.nStatus, SPOOL_ERROR);
        EXPECT_NE(run.err.find(c.pszError), std::string::npos) << run.err;
        EXPECT_FALSE(FileExists(Path("out.avi").c_str()));
        EXPECT_FALSE(FileExists(Path("out.avi.part").c_str()));
    }
}

// The bytes of the video and the sound as GStreamer's demuxer gives them,
// one stream after the other; nothing when there is no GStreamer here.
std::vector<BYTE> GstreamerStreams(const std::string &avi, const std::string &dir)
{
    std::string video = JoinPath(dir, "gst-video.bin"), sound = JoinPath(dir, "gst-sound.bin");
    std::string command = "gst-launch-1.0 -q filesrc location='" + avi + "' ! avidemux name=d d.video_0 ! queue ! filesink location='" +
                          video + "' d.audio_0 ! queue ! filesink location='" + sound + "' >/dev/null 2>&1";
    std::vector<BYTE> bytes;
    if (system(command.c_str()) != 0) return bytes;
    bytes = ReadBytes(video);
    std::vector<BYTE> more = ReadBytes(sound);
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

// The test tool that turns a plain recording into one of records: each
// video chunk's data goes into a reference file as Spoolcap writes it, the
// chunk holds a record naming it, the index follows the chunks to their new
// places; everything else stays byte for byte.
std::vector<BYTE> RecordsFromPlain(const std::vector<BYTE> &plain, const std::string &ref)
{
    auto Dw = [&](size_t at) { return DwordAt(plain, at); };
    size_t movi = 0, idx1 = 0;
    for (size_t at = 12; at + 12 <= plain.size();) {
        if (Dw(at) == FOURCC_LIST && Dw(at + 8) == mmioFOURCC('m', 'o', 'v', 'i')) movi = at;
        if (Dw(at) == mmioFOURCC('i', 'd', 'x', '1')) idx1 = at;
        at += 8 + Dw(at + 4) + (Dw(at + 4) & 1);
    }
    std::vector<BYTE> out(plain.begin(), plain.begin() + (long)movi + 12), file;
    std::map<DWORD, std::pair<DWORD, DWORD>> moved;  // old offset from "movi": new offset, new size
    for (size_t at = movi + 12; at + 8 <= movi + 8 + Dw(movi + 4);) {
        DWORD ckid = Dw(at), cb = Dw(at + 4);
        std::vector<BYTE> data(plain.begin() + (long)at + 8, plain.begin() + (long)(at + 8 + cb));
        if ((ckid & 0xFFFF) == mmioFOURCC('0', '0', 0, 0) && ((ckid >> 16) & 0xFF) == 'd') {
            REFFRAMEHEADER header;
            FillFrameHeader(&header, cb, ComputePadding(cb, 0), 32, 24);
            REFRECORD rec;
            BuildRefRecord(&rec, 0, FALSE, (DWORD)file.size(), header.dwFrameSize, ref.c_str());
            file.insert(file.end(), (BYTE *)&header, (BYTE *)&header + sizeof(header));
            file.insert(file.end(), data.begin(), data.end());
            file.resize(file.size() + header.dwPadSize);
            data.assign((BYTE *)&rec, (BYTE *)&rec + sizeof(rec));
        }
        moved[(DWORD)(at - movi - 8)] = std::make_pair((DWORD)(out.size() - movi - 8), (DWORD)data.size());
        DWORD adw[2] = {ckid, (DWORD)data.size()};
        out.insert(out.end(), (BYTE *)adw, (BYTE *)adw + 8);
        out.insert(out.end(), data.begin(), data.end());
        if (data.size() & 1) out.push_back(0);
        at += 8 + cb + (cb & 1);
    }
    DWORD cbMovi = (DWORD)(out.size() - movi - 8);
    memcpy(&out[movi + 4], &cbMovi, 4);
    out.insert(out.end(), plain.begin() + (long)idx1, plain.begin() + (long)idx1 + 8);
    // Offsets count from "movi" or (GStreamer's) from the file's start.
    DWORD dwBase = moved.count(Dw(idx1 + 16)) ? 0 : (DWORD)(movi + 8);
    for (size_t at = idx1 + 8; at + 16 <= idx1 + 8 + Dw(idx1 + 4); at += 16) {
        AVIINDEXENTRY entry;
        memcpy(&entry, &plain[at], 16);
        const std::pair<DWORD, DWORD> &place = moved[entry.dwChunkOffset - dwBase];
        entry.dwChunkOffset = place.first + dwBase;
        entry.dwChunkLength = place.second;
        out.insert(out.end(), (BYTE *)&entry, (BYTE *)&entry + 16);
    }
    for (size_t at = idx1 + 8 + Dw(idx1 + 4); at < plain.size(); at++) out.push_back(plain[at]);
    DWORD cbRiff = (DWORD)out.size() - 8;
    memcpy(&out[4], &cbRiff, 4);
    EXPECT_TRUE(WriteBytes(ref, file.data(), file.size()));
    return out;
}

// A bottom-up picture as ffmpeg gives it: rows from the top.
std::vector<BYTE> TopDown(const std::vector<BYTE> &picture, LONG w, LONG h)
{
    std::vector<BYTE> rows(picture.size());
    for (LONG r = 0; r < h; r++) memcpy(&rows[(size_t)r * w * 3], &picture[(size_t)(h - 1 - r) * w * 3], (size_t)w * 3);
    return rows;
}
#endif

}  // namespace

TEST_F(Spool, ResolveWritesWhileItReadsAndReportsAFailedWriteWhereverItComes)
{
    // Frames of 192 KiB: the output passes through its buffer many times.
    std::vector<std::vector<BYTE>> pictures;
    std::vector<FRAMEPLACE> places = WritePictureFile(Path("pic.000"), 24, 256, 256, &pictures);
    AVISPEC spec;
    spec.format = MakeFormat(256, 256, 24, BI_RGB);
    spec.dwTotalFrames = spec.dwLength = 24;
    for (DWORD i = 0; i < 24; i++) spec.chunks.push_back(Frame("00dc", RecordBytes(Path("pic.000"), places[i])));
    std::vector<BYTE> in = BuildAvi(spec);
    ASSERT_TRUE(WriteBytes(Path("big.avi"), in.data(), in.size()));
    std::string out = Path("out.avi");
#ifndef _WIN32
    SpoolArmFault(SPOOLFAULT_WRITE, 0);
#endif
    RUN run = Run({"resolve", Path("big.avi"), "-o", out});
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    AVIPARTS parts = ReadParts(ReadBytes(out));
    ASSERT_TRUE(parts.fWhole);
    ASSERT_EQ(parts.chunks.size(), 24u);
    for (size_t i = 0; i < 24; i++) EXPECT_EQ(parts.chunks[i].data, pictures[i]) << "frame " << i;
#ifndef _WIN32
    unsigned nWrites = SpoolFaultCalls(SPOOLFAULT_WRITE);
    ASSERT_GT(nWrites, 4u);
    ASSERT_TRUE(DeleteFileA(out.c_str()));
    for (unsigned nCall = 1; nCall <= nWrites; nCall++) {
        SpoolArmFault(SPOOLFAULT_WRITE, nCall);
        run = Run({"resolve", Path("big.avi"), "-o", out});
        SpoolArmFault(SPOOLFAULT_WRITE, 0);
        EXPECT_EQ(run.nStatus, SPOOL_ERROR) << "write " << nCall;
        EXPECT_NE(run.err.find("cannot be written"), std::string::npos) << "write " << nCall << ": " << run.err;
        EXPECT_FALSE(FileExists(out.c_str())) << "write " << nCall;
        EXPECT_FALSE(FileExists((out + ".part").c_str())) << "write " << nCall;
    }
#endif
}

#ifndef _WIN32
// A read that fails, of the AVI or of a reference file, wherever it comes,
// ends the resolve with a message and no output: it is never taken for the
// end of a list, with a shorter AVI reported as resolved.
TEST_F(Spool, ResolveReportsAFailedReadWhereverItComes)
{
    // More records than one read of the AVI holds: past the size that is
    // read whole at once.
    const DWORD nFrames = 62000;
    std::vector<FRAMEPLACE> places = WriteRefFile(Path("take.000"), nFrames, 2);
    AVISPEC spec;
    spec.format = MakeFormat(8, 8, 24, mmioFOURCC('S', 'M', 'P', 'L'));
    spec.dwTotalFrames = spec.dwLength = nFrames;
    for (DWORD i = 0; i < nFrames; i++) spec.chunks.push_back(Frame("00dc", RecordBytes(Path("take.000"), places[i])));
    std::vector<BYTE> in = BuildAvi(spec);
    ASSERT_GT(in.size(), 16u * 1024 * 1024);
    ASSERT_TRUE(WriteBytes(Path("in.avi"), in.data(), in.size()));
    std::string out = Path("out.avi");
    SpoolArmFault(SPOOLFAULT_READ, 0);
    RUN run = Run({"resolve", Path("in.avi"), "-o", out});
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    unsigned nReads = SpoolFaultCalls(SPOOLFAULT_READ);
    ASSERT_GT(nReads, 100u);
    ASSERT_TRUE(DeleteFileA(out.c_str()));
    // The first reads and the last, and every 20th between.
    for (unsigned nCall = 1; nCall <= nReads; nCall += nCall < 8 || nCall + 8 >= nReads ? 1 : 20) {
        SpoolArmFault(SPOOLFAULT_READ, nCall);
        run = Run({"resolve", Path("in.avi"), "-o", out});
        SpoolArmFault(SPOOLFAULT_READ, 0);
        EXPECT_EQ(run.nStatus, SPOOL_ERROR) << "read " << nCall << ": " << run.out;
        EXPECT_NE(run.err.find("read"), std::string::npos) << "read " << nCall << ": " << run.err;
        EXPECT_FALSE(FileExists(out.c_str())) << "read " << nCall;
        EXPECT_FALSE(FileExists((out + ".part").c_str())) << "read " << nCall;
        DeleteFileA(out.c_str());
    }
}
#endif

TEST_F(Spool, LongResolvedAvisSpanSeveralRiffsWithTheirIndexes)
{
    // 300 frames of 8 x 8 with an audio chunk after every seventh and every
    // fifth frame not a key frame, resolved into RIFFs of at most 16 KiB.
    std::vector<std::vector<BYTE>> pictures;
    std::vector<FRAMEPLACE> places = WritePictureFile(Path("pic.000"), 300, 8, 8, &pictures);
    AVISPEC spec;
    spec.format = MakeFormat(8, 8, 24, BI_RGB);
    spec.fAudioStream = true;
    spec.dwTotalFrames = spec.dwLength = 300;
    std::vector<bool> keys;
    for (DWORD i = 0; i < 300; i++) {
        bool fKey = i % 5 != 4;
        spec.chunks.push_back(Frame("00dc", RecordBytes(Path("pic.000"), places[i]), fKey ? AVIIF_KEYFRAME : 0));
        keys.push_back(fKey);
        if (i % 7 == 6) {
            spec.chunks.push_back(Frame("01wb", std::vector<BYTE>(30 + i % 3, (BYTE)i)));
            keys.push_back(true);
        }
    }
    std::vector<BYTE> in = BuildAvi(spec);
    ASSERT_TRUE(WriteBytes(Path("long.avi"), in.data(), in.size()));
    RUN run;
    AVIPARTS parts;
    ResolveUnderRiffLimit(this, Path("long.avi"), Path("out.avi"), 16384, &run, &parts);
    if (HasFatalFailure()) return;
    EXPECT_GT(parts.riffSizes.size(), 3u);
    ASSERT_EQ(parts.chunks.size(), keys.size());
    for (size_t i = 0, n = 0; i < parts.chunks.size(); i++) {
        if (parts.chunks[i].id != "00dc") continue;
        EXPECT_EQ(parts.chunks[i].data, pictures[n]) << "frame " << n;
        n++;
    }
    ASSERT_EQ(parts.streams.size(), 2u);
    ExpectIndexesAgree(parts, keys);
    EXPECT_EQ(parts.nGrandFrames, 300u);
    DWORD nFirst = 0;
    for (const AVICHUNK &chunk : parts.chunks) nFirst += chunk.iRiff == 0 && chunk.id == "00dc" ? 1 : 0;
    EXPECT_EQ(parts.nTotalFrames, nFirst) << "the first RIFF's frames";

#ifndef _WIN32
    // A player of OpenDML AVIs reads every frame of the video alone.
    if (!HasFfmpeg()) GTEST_SKIP() << "no ffmpeg here";
    spec.fAudioStream = false;
    spec.chunks.erase(std::remove_if(spec.chunks.begin(), spec.chunks.end(),
                                     [](const AVIFRAME &frame) { return frame.id == "01wb"; }),
                      spec.chunks.end());
    for (AVIFRAME &frame : spec.chunks) frame.dwIndexFlags = AVIIF_KEYFRAME;
    in = BuildAvi(spec);
    ASSERT_TRUE(WriteBytes(Path("video.avi"), in.data(), in.size()));
    SetRiffLimit("16384");
    ASSERT_EQ(Run({"resolve", Path("video.avi"), "-o", Path("video-out.avi")}).nStatus, SPOOL_OK);
    SetRiffLimit(NULL);
    std::vector<BYTE> decoded = FfmpegFrames(Path("video-out.avi"));
    ASSERT_EQ(decoded.size(), 300u * 192);
    for (size_t n = 0; n < 300; n++)
        EXPECT_EQ(std::vector<BYTE>(decoded.begin() + (long)(n * 192), decoded.begin() + (long)((n + 1) * 192)),
                  TopDown(pictures[n], 8, 8))
            << "frame " << n;
#endif
}

#ifndef _WIN32
// Recordings with sound that ffmpeg wrote (testsrc and sine), turned into
// records: every command sees every frame, a move leaves no record naming
// the old file, and the resolved AVI holds ffmpeg's packets of both streams.
TEST_F(Spool, FfmpegRecordingsWithSoundAsRecords)
{
    if (!HasFfmpeg()) GTEST_SKIP() << "no ffmpeg here";
    for (const char *pszName : {"ff-mjpeg-audio.avi", "ff-bgr24-audio.avi"}) {
        SCOPED_TRACE(pszName);
        std::string plain = JoinPath(TestDataFolder(), pszName), ref = Path("take.000"), avi = Path("rec.avi");
        std::vector<BYTE> bytes = RecordsFromPlain(ReadBytes(plain), ref);
        ASSERT_TRUE(WriteBytes(avi, bytes.data(), bytes.size()));
        RUN run = Run({"refs", avi});
        EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
        EXPECT_NE(run.out.find(": 4 frames, 1 reference files"), std::string::npos) << run.out;
        run = Run({"verify", avi});
        EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
        EXPECT_NE(run.out.find("4 records, 4 good"), std::string::npos) << run.out;
        run = Run({"move", avi, "--base", Path("moved")});
        EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
        EXPECT_FALSE(FileExists(ref.c_str()));
        EXPECT_EQ(Run({"verify", avi}).nStatus, SPOOL_OK);
        run = Run({"resolve", avi, "-o", Path("resolved.avi")});
        EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
        EXPECT_EQ(run.err, "");
        std::string packets = PacketsOf(plain);
        EXPECT_GT(std::count(packets.begin(), packets.end(), '\n'), 10);
        EXPECT_EQ(PacketsOf(Path("resolved.avi")), packets);
        // GStreamer reads the same bytes of both streams.
        if (system("gst-launch-1.0 --version >/dev/null 2>&1") == 0) {
            std::vector<BYTE> streams = GstreamerStreams(plain, dir);
            EXPECT_GT(streams.size(), 1000u);
            EXPECT_TRUE(GstreamerStreams(Path("resolved.avi"), dir) == streams);
        }
        for (const std::string &name : ListFolder(dir)) DeleteFileA(Path(name.c_str()).c_str());
    }
}

// Each stream's packets as ffprobe reads them: size and key flag, in order.
std::string PacketFlagsOf(const std::string &avi)
{
    return PipeText("ffprobe -v error -show_entries packet=stream_index,size,flags -of compact=p=0 '" + avi + "' 2>/dev/null");
}

// Recordings of other codecs and sound as ffmpeg writes them (delta frames,
// B-frames, MP3) and as mencoder and GStreamer write them, turned into
// records and resolved: the resolved AVI gives
// the same packets of every stream as the recording, with the same key
// flags, as ffmpeg and ffprobe read them.
TEST_F(Spool, RecordingsOfEveryKindResolveToTheirOwnPackets)
{
    if (!HasFfmpeg()) GTEST_SKIP() << "no ffmpeg here";
    const std::string ffmpeg = "ffmpeg -v error -y -f lavfi -i testsrc=s=64x48:r=25 ";
    const std::string sine = "-f lavfi -i sine=r=8000 ";
    struct {
        const char *pszName;
        std::string command;
        bool fDelta;
    } aCorpus[] = {
        {"MPEG-4 with delta frames and PCM", ffmpeg + sine + "-t 3 -c:v mpeg4 -g 7 -c:a pcm_s16le", true},
        {"MPEG-4 with B-frames", ffmpeg + "-t 3 -c:v mpeg4 -g 12 -bf 2", true},
        {"MJPEG and MP3", ffmpeg + sine + "-t 3 -c:v mjpeg -c:a libmp3lame", false},
        // mencoder re-encodes a file of ffmpeg's (SRC).
        {"mencoder, MPEG-4 with delta frames and PCM",
         ffmpeg + sine + "-t 3 -c:v mjpeg -c:a pcm_s16le SRC && mencoder -really-quiet SRC -ovc lavc -lavcopts vcodec=mpeg4:keyint=7 -oac pcm -o",
         true},
        // GStreamer's writer: the file named by "OUT".
        {"GStreamer, MJPEG and PCM",
         "gst-launch-1.0 -q avimux name=m ! filesink location=OUT videotestsrc num-buffers=60 ! video/x-raw,width=64,height=48 ! "
         "jpegenc ! m. audiotestsrc num-buffers=30 ! audioconvert ! m.",
         false},
    };
    int nDone = 0;
    for (const auto &c : aCorpus) {
        SCOPED_TRACE(c.pszName);
        std::string plain = Path("plain.avi"), avi = Path("rec.avi"), out = Path("resolved.avi");
        std::string command = c.command;
        size_t at = command.find("=OUT ");
        if (at != std::string::npos) command.replace(at + 1, 3, "'" + plain + "'");
        else command += " '" + plain + "'";
        for (at = command.find("SRC"); at != std::string::npos; at = command.find("SRC"))
            command.replace(at, 3, "'" + Path("source.avi") + "'");
        if (system((command + " >/dev/null 2>&1").c_str()) != 0) {
            printf("skipped: %s\n", c.pszName);
            continue;
        }
        std::vector<BYTE> bytes = RecordsFromPlain(ReadBytes(plain), Path("take.000"));
        ASSERT_TRUE(WriteBytes(avi, bytes.data(), bytes.size()));
        EXPECT_EQ(Run({"verify", avi}).nStatus, SPOOL_OK);
        RUN run = Run({"resolve", avi, "-o", out});
        EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
        EXPECT_EQ(run.err, "");
        std::string packets = PacketsOf(plain), flags = PacketFlagsOf(plain);
        EXPECT_GT(std::count(packets.begin(), packets.end(), '\n'), 40);
        if (c.fDelta) {
            EXPECT_NE(flags.find("flags=__"), std::string::npos) << "delta frames among them";
        }
        EXPECT_EQ(PacketsOf(out), packets);
        EXPECT_EQ(PacketFlagsOf(out), flags);
        for (const std::string &name : ListFolder(dir)) DeleteFileA(Path(name.c_str()).c_str());
        nDone++;
    }
    EXPECT_GE(nDone, 3);
}

TEST_F(Spool, AnAviOverOneGibibyteIsWrittenAsOpenDml)
{
    if (!HasFfmpeg()) GTEST_SKIP() << "no ffmpeg here";
    // 20,000 frames of 160 x 120 (1.07 GiB), made fast: the records name
    // three pictures, the first and last frames their own.
    const LONG w = 160, h = 120;
    const DWORD nFrames = 20000;
    std::vector<std::vector<BYTE>> pictures;
    std::vector<FRAMEPLACE> places = WritePictureFile(Path("pic.000"), 3, w, h, &pictures);
    AVISPEC spec;
    spec.format = MakeFormat(w, h, 24, BI_RGB);
    spec.dwTotalFrames = spec.dwLength = nFrames;
    for (DWORD i = 0; i < nFrames; i++) {
        size_t k = i == 0 ? 0 : i == nFrames - 1 ? 2 : 1;
        spec.chunks.push_back(Frame("00dc", RecordBytes(Path("pic.000"), places[k])));
    }
    std::vector<BYTE> in = BuildAvi(spec);
    ASSERT_TRUE(WriteBytes(Path("big.avi"), in.data(), in.size()));
    RUN run = Run({"resolve", Path("big.avi"), "-o", Path("big-out.avi")});
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    // Two RIFFs, the first at most 1 GiB.
    FILE *pFile = fopen(Path("big-out.avi").c_str(), "rb");
    ASSERT_NE(pFile, nullptr);
    DWORD adwFirst[3] = {0, 0, 0}, adwSecond[3] = {0, 0, 0};
    EXPECT_EQ(fread(adwFirst, 4, 3, pFile), 3u);
    unsigned long long ullSecond = 8ull + adwFirst[1] + (adwFirst[1] & 1);
    EXPECT_EQ(fseeko(pFile, (off_t)ullSecond, SEEK_SET), 0);
    EXPECT_EQ(fread(adwSecond, 4, 3, pFile), 3u);
    EXPECT_EQ(fseeko(pFile, 0, SEEK_END), 0);
    unsigned long long ullSize = (unsigned long long)ftello(pFile);
    fclose(pFile);
    EXPECT_GT(ullSize, 0x40000000ull);
    EXPECT_LE(ullSecond, 0x40000000ull);
    EXPECT_EQ(adwSecond[0], (DWORD)FOURCC_RIFF);
    EXPECT_EQ(adwSecond[2], mmioFOURCC('A', 'V', 'I', 'X'));
    EXPECT_EQ(ullSecond + 8 + adwSecond[1], ullSize);
    EXPECT_EQ(Ffprobe(Path("big-out.avi"), "stream=nb_read_packets"), "20000\n");
    std::vector<BYTE> first = FfmpegFrames(Path("big-out.avi"), "-frames:v 1");
    EXPECT_EQ(first, TopDown(pictures[0], w, h));
    std::vector<BYTE> last = FfmpegFrames(Path("big-out.avi"), "-vf select='eq(n\\,19999)' -vsync 0");
    EXPECT_EQ(last, TopDown(pictures[2], w, h));
}
#endif

// Records in a second video stream are resolved as the first stream's are,
// raw ones under that stream's own format; none is left in the output.
TEST_F(Spool, ResolveResolvesTheRecordsOfEveryVideoStream)
{
    std::vector<std::vector<BYTE>> pictures;
    std::vector<FRAMEPLACE> places = WritePictureFile(Path("pic.000"), 4, 8, 8, &pictures);
    std::vector<FRAMEPLACE> raw = WriteRawRefFile(Path("raw.000"), {192, 192, 192, 192}, 8, 8);
    for (bool fRaw : {false, true}) {
        SCOPED_TRACE(fRaw ? "raw records in the second stream" : "records in the second stream");
        AVISPEC spec;
        spec.format = MakeFormat(8, 8, 24, BI_RGB);
        spec.fAudioStream = true;  // made a second video stream below
        spec.dwTotalFrames = spec.dwLength = 4;
        for (size_t k = 0; k < 4; k++) {
            spec.chunks.push_back(Frame("00dc", pictures[k]));
            spec.chunks.push_back(
                Frame("01dc", fRaw ? RawRecordBytes(Path("raw.000"), raw[k]) : RecordBytes(Path("pic.000"), places[k])));
        }
        std::vector<BYTE> in = BuildAvi(spec);
        static const char s_achAuds[] = "auds";
        auto it = std::search(in.begin(), in.end(), s_achAuds, s_achAuds + 4);
        ASSERT_NE(it, in.end());
        memcpy(&*it, "vids", 4);
        ASSERT_TRUE(WriteBytes(Path("two.avi"), in.data(), in.size()));
        // Spoolshift reads one video stream: the other's records are not
        // seen, so nothing is moved and verify says so.
        RUN verify = Run({"verify", Path("two.avi")});
        EXPECT_EQ(verify.nStatus, SPOOL_PROBLEMS);
        EXPECT_NE(verify.err.find("second video stream"), std::string::npos) << verify.err;
        EXPECT_NE(Run({"move", Path("two.avi"), "--base", Path("moved")}).nStatus, SPOOL_OK);
        EXPECT_TRUE(FileExists(Path("pic.000").c_str()));
        DeleteFileA(Path("two-out.avi").c_str());
        RUN run = Run({"resolve", Path("two.avi"), "-o", Path("two-out.avi")});
        ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
        EXPECT_EQ(run.out, "<dir>/two-out.avi: 4 frames resolved\n");
        AVIPARTS parts = ReadParts(ReadBytes(Path("two-out.avi")));
        ASSERT_EQ(parts.streams.size(), 2u);
        ASSERT_EQ(parts.streams[1].size(), 4u);
        std::vector<BYTE> out = ReadBytes(Path("two-out.avi"));
        for (size_t k = 0; k < 4; k++) {
            const STDINDEXENTRY &chunk = parts.streams[1][k];
            ASSERT_EQ(chunk.cb, 192u) << k;
            std::vector<BYTE> data(out.begin() + (long)chunk.ullData, out.begin() + (long)(chunk.ullData + 192)), expected;
            for (DWORD b = 0; b < 192; b++) expected.push_back((BYTE)(k * 40 + b % 7));
            EXPECT_EQ(data, fRaw ? expected : pictures[k]) << k;
        }
        // The second stream's format: its raw frames', or as it was.
        static const char s_achStrf[] = "strf";
        auto strf = std::search(out.begin(), out.end(), s_achStrf, s_achStrf + 4);
        ASSERT_NE(strf, out.end());
        strf = std::search(strf + 4, out.end(), s_achStrf, s_achStrf + 4);
        ASSERT_NE(strf, out.end());
        size_t at = (size_t)(strf - out.begin());
        EXPECT_EQ(DwordAt(out, at + 4), fRaw ? 40u : 16u);
        if (fRaw) {
            EXPECT_EQ(DwordAt(out, at + 8 + 16), (DWORD)BI_RGB);
            EXPECT_EQ(DwordAt(out, at + 8 + 12) >> 16, 24u) << "24 bits";
        }
    }
}

TEST_F(Spool, ResolveReadsTheIndexesAndListsOfEveryWriter)
{
    // Frames behind a filler that the index leaves out, inside "rec " lists,
    // with a palette change; the index counting from "movi" and from the
    // file's start.
    std::vector<std::vector<BYTE>> pictures;
    std::vector<FRAMEPLACE> places = WritePictureFile(Path("pic.000"), 4, 8, 8, &pictures);
    for (bool fAbsolute : {false, true}) {
        AVISPEC spec;
        spec.format = MakeFormat(8, 8, 24, BI_RGB);
        spec.dwTotalFrames = spec.dwLength = 4;
        spec.fAbsoluteIndex = fAbsolute;
        AVIFRAME junk = Frame("JUNK", std::vector<BYTE>(400, 0));
        junk.fIndexed = false;
        spec.chunks.push_back(junk);
        spec.chunks.push_back(Frame("00dc", RecordBytes(Path("pic.000"), places[0])));
        spec.chunks.push_back(Frame("00pc", std::vector<BYTE>(8, 3), 0));
        spec.chunks.push_back(Frame("00dc", RecordBytes(Path("pic.000"), places[1]), 0));
        // What a writer puts after the index: kept in the first RIFF.
        const char achInfo[] = "LIST\x10\0\0\0INFOISFT\x04\0\0\0tail";
        spec.afterIdx1.assign(achInfo, achInfo + 24);
        for (size_t k = 2; k < 4; k++) {
            AVIFRAME frame = Frame("00dc", RecordBytes(Path("pic.000"), places[k]));
            frame.fInRecList = true;
            spec.chunks.push_back(frame);
        }
        std::vector<BYTE> in = BuildAvi(spec);
        ASSERT_TRUE(WriteBytes(Path("in.avi"), in.data(), in.size()));
        RUN run = Run({"resolve", Path("in.avi"), "-o", Path("out.avi")});
        ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
        AVIPARTS parts = ReadParts(ReadBytes(Path("out.avi")));
        ASSERT_TRUE(parts.fWhole);
        // JUNK, two frames with the palette change between, the list, the
        // two frames in it.
        std::vector<std::string> ids;
        for (const AVICHUNK &chunk : parts.chunks) ids.push_back(chunk.id);
        EXPECT_EQ(ids, (std::vector<std::string>{"JUNK", "00dc", "00pc", "00dc", "LIST"})) << fAbsolute;
        // The idx1 keeps the flags of the chunks it listed, at their new places.
        ASSERT_EQ(parts.index.size(), 5u) << fAbsolute;
        EXPECT_EQ(parts.index[0].dwFlags, (DWORD)AVIIF_KEYFRAME);
        EXPECT_EQ(parts.index[2].dwFlags, 0u);
        EXPECT_EQ(parts.index[0].dwChunkOffset + parts.ullFirstMovi + 8, parts.chunks[1].ullData);
        EXPECT_EQ(parts.index[4].dwChunkLength, 192u) << "the frames in the list are listed one by one";
        // The frames' standard index: four frames, the palette change not.
        ASSERT_EQ(parts.streams.size(), 1u);
        ASSERT_EQ(parts.streams[0].size(), 4u);
        EXPECT_FALSE(parts.streams[0][1].fKey);
        EXPECT_EQ(parts.nGrandFrames, 4u);
        std::vector<BYTE> out = ReadBytes(Path("out.avi"));
        auto tail = std::search(out.begin(), out.end(), achInfo, achInfo + 24);
        EXPECT_TRUE(tail != out.end() && (size_t)(tail - out.begin()) + 24 <= parts.riffSizes[0])
            << "the chunk after the index is in the first RIFF";
        for (size_t k = 0; k < 4; k++)
            EXPECT_EQ(std::vector<BYTE>(out.begin() + (long)parts.streams[0][k].ullData,
                                        out.begin() + (long)(parts.streams[0][k].ullData + 192)),
                      pictures[k])
                << k;
    }

    // An index out of the order of the chunks is read by place: each frame
    // keeps its own flag. An entry that names no chunk is reported, and the
    // output is still written.
    AVISPEC spec;
    spec.format = MakeFormat(8, 8, 24, BI_RGB);
    spec.dwTotalFrames = spec.dwLength = 2;
    spec.chunks.push_back(Frame("00dc", RecordBytes(Path("pic.000"), places[0])));
    spec.chunks.push_back(Frame("00dc", RecordBytes(Path("pic.000"), places[1]), 0));
    std::vector<BYTE> in = BuildAvi(spec);
    size_t idx1 = in.size() - 32;
    ASSERT_EQ(DwordAt(in, idx1 - 8), mmioFOURCC('i', 'd', 'x', '1'));
    struct {
        const char *pszCase;
        bool fSwap;
        DWORD dwSecondOffset;  // 0: as built
        int nStatus;
        const char *pszSaid;
    } aCases[] = {
        {"entries swapped", true, 0, SPOOL_OK, ""},
        {"an entry naming no chunk", false, 2, SPOOL_PROBLEMS, "matched no chunk at the place they name"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszCase);
        std::vector<BYTE> bytes = in;
        if (c.dwSecondOffset) memcpy(&bytes[idx1 + 16 + 8], &c.dwSecondOffset, 4);
        if (c.fSwap) std::swap_ranges(bytes.begin() + (long)idx1, bytes.begin() + (long)idx1 + 16, bytes.begin() + (long)idx1 + 16);
        ASSERT_TRUE(WriteBytes(Path("odd.avi"), bytes.data(), bytes.size()));
        DeleteFileA(Path("odd-out.avi").c_str());
        RUN run = Run({"resolve", Path("odd.avi"), "-o", Path("odd-out.avi")});
        EXPECT_EQ(run.nStatus, c.nStatus) << run.err;
        if (*c.pszSaid) EXPECT_NE(run.err.find(c.pszSaid), std::string::npos) << run.err;
        else EXPECT_EQ(run.err, "");
        AVIPARTS parts = ReadParts(ReadBytes(Path("odd-out.avi")));
        ASSERT_TRUE(parts.fWhole);
        ASSERT_EQ(parts.streams.size(), 1u);
        ASSERT_EQ(parts.streams[0].size(), 2u);
        EXPECT_TRUE(parts.streams[0][0].fKey);
        EXPECT_EQ(parts.streams[0][1].fKey, !c.fSwap) << "the second frame: listed as a delta frame, or by no entry";
    }

    // An AVIX RIFF goes on the recording: its movi list's frames are
    // resolved after the first RIFF's.
    in = BuildAvi(spec);
    std::vector<BYTE> avix = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', 'X', 'L', 'I', 'S', 'T', 0, 0, 0, 0, 'm', 'o', 'v', 'i'};
    std::vector<BYTE> frame = RecordBytes(Path("pic.000"), places[2]);
    DWORD adwChunk[2] = {mmioFOURCC('0', '0', 'd', 'c'), (DWORD)frame.size()};
    avix.insert(avix.end(), (BYTE *)adwChunk, (BYTE *)adwChunk + 8);
    avix.insert(avix.end(), frame.begin(), frame.end());
    DWORD cbList = (DWORD)avix.size() - 20, cbRiff = (DWORD)avix.size() - 8;
    memcpy(&avix[16], &cbList, 4);
    memcpy(&avix[4], &cbRiff, 4);
    in.insert(in.end(), avix.begin(), avix.end());
    ASSERT_TRUE(WriteBytes(Path("avix.avi"), in.data(), in.size()));
    RUN run = Run({"resolve", Path("avix.avi"), "-o", Path("avix-out.avi")});
    EXPECT_EQ(run.out, "<dir>/avix-out.avi: 3 frames resolved\n");
    // No index lists that frame: its key flag is not known, and that is said.
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS);
    EXPECT_NE(run.err.find("1 frames of <dir>/avix.avi are listed by no index"), std::string::npos) << run.err;
}

// A resolved AVI of a video stream and a sound stream, a chunk of each for
// every picture: each frame's bytes are its picture's, with the key flag
// that fKey gives it, and each sound chunk begins with its number.
void CheckFramesAndSound(const AVIPARTS &parts, const std::vector<BYTE> &out, const std::vector<std::vector<BYTE>> &pictures,
                         bool (*fKey)(size_t))
{
    ASSERT_EQ(parts.streams.size(), 2u);
    ASSERT_EQ(parts.streams[0].size(), pictures.size());
    ASSERT_EQ(parts.streams[1].size(), pictures.size());
    for (size_t k = 0; k < pictures.size(); k++) {
        const STDINDEXENTRY &frame = parts.streams[0][k];
        EXPECT_EQ(frame.fKey, fKey(k)) << k;
        ASSERT_LE(frame.ullData + pictures[k].size(), out.size()) << k;
        EXPECT_EQ(std::vector<BYTE>(out.begin() + (long)frame.ullData, out.begin() + (long)(frame.ullData + pictures[k].size())),
                  pictures[k])
            << k;
        EXPECT_EQ(out[parts.streams[1][k].ullData], (BYTE)k) << k;
    }
}

// Capture programs keep a frame and its sound in "rec " lists and list the
// index's entries as they please: one stream after another, counting from
// the file's start or from "movi", the lists themselves too. Each chunk's
// entry is found by where it points, every RIFF stays within the limit as
// the resolved frames measure it, and no entry is reported lost.
TEST_F(Spool, ResolveFindsEachEntryWhereverTheIndexListsIt)
{
    std::vector<std::vector<BYTE>> pictures;
    std::vector<FRAMEPLACE> places = WritePictureFile(Path("pic.000"), 60, 32, 32, &pictures);
    for (int nCase = 0; nCase < 8; nCase++) [&]() {
        bool fAbsolute = (nCase & 1) != 0, fByStream = (nCase & 2) != 0, fRec = (nCase & 4) != 0;
        SCOPED_TRACE(std::string(fAbsolute ? "absolute" : "relative") + (fByStream ? ", by stream" : ", interleaved") +
                     (fRec ? ", rec lists" : ""));
        AVISPEC spec;
        spec.format = MakeFormat(32, 32, 24, BI_RGB);
        spec.fAudioStream = true;
        spec.dwTotalFrames = spec.dwLength = 60;
        spec.fAbsoluteIndex = fAbsolute;
        spec.fIndexByStream = fByStream;
        spec.fIndexRecLists = fRec;
        // A filler after the index, which the first RIFF keeps within the
        // limit too.
        spec.afterIdx1 = {'J', 'U', 'N', 'K', 0xB8, 0x0B, 0, 0};
        spec.afterIdx1.resize(8 + 3000, 0);
        for (DWORD i = 0; i < 60; i++) {
            AVIFRAME video = Frame("00dc", RecordBytes(Path("pic.000"), places[i]), i % 5 == 4 ? 0 : AVIIF_KEYFRAME);
            AVIFRAME audio = Frame("01wb", std::vector<BYTE>(30, (BYTE)i));
            video.fInRecList = video.fRecListStart = audio.fInRecList = fRec;
            spec.chunks.push_back(video);
            spec.chunks.push_back(audio);
        }
        std::vector<BYTE> in = BuildAvi(spec);
        ASSERT_TRUE(WriteBytes(Path("in.avi"), in.data(), in.size()));
        RUN run;
        AVIPARTS parts;
        ResolveUnderRiffLimit(this, Path("in.avi"), Path("out.avi"), 16384, &run, &parts);
        if (HasFatalFailure()) return;
        EXPECT_EQ(run.err, "");
        EXPECT_GT(parts.riffSizes.size(), 8u);
        EXPECT_EQ(parts.nGrandFrames, 60u);
        CheckFramesAndSound(parts, ReadBytes(Path("out.avi")), pictures, [](size_t k) { return k % 5 != 4; });
        // The first RIFF's idx1 lists each of its frames and sound chunks.
        size_t nVideo = 0, nAudio = 0;
        for (const AVIINDEXENTRY &entry : parts.index) {
            nVideo += entry.ckid == mmioFOURCC('0', '0', 'd', 'c') ? 1 : 0;
            nAudio += entry.ckid == mmioFOURCC('0', '1', 'w', 'b') ? 1 : 0;
        }
        size_t nVideoFirst = 0, nAudioFirst = 0;
        for (size_t k = 0; k < 60; k++) {
            nVideoFirst += parts.streams[0][k].ullData < parts.riffSizes[0] ? 1 : 0;
            nAudioFirst += parts.streams[1][k].ullData < parts.riffSizes[0] ? 1 : 0;
        }
        EXPECT_EQ(nVideo, nVideoFirst);
        EXPECT_EQ(nAudio, nAudioFirst);
        EXPECT_GT(nAudio, 0u);
    }();
}

// "rec " lists of many chunks: each RIFF keeps room for the index entries
// of every chunk of the list that it takes, and stays within its limit.
TEST_F(Spool, ListsOfManyChunksStayWithinTheRiffLimit)
{
    std::vector<std::vector<BYTE>> pictures;
    std::vector<FRAMEPLACE> places = WritePictureFile(Path("pic.000"), 30, 4, 4, &pictures);
    AVISPEC spec;
    spec.format = MakeFormat(4, 4, 24, BI_RGB);
    spec.fAudioStream = true;
    spec.fIndexRecLists = true;
    spec.dwTotalFrames = spec.dwLength = 30;
    for (DWORD i = 0; i < 30; i++) {
        AVIFRAME video = Frame("00dc", RecordBytes(Path("pic.000"), places[i]));
        video.fInRecList = video.fRecListStart = true;
        spec.chunks.push_back(video);
        for (int k = 0; k < 60; k++) {
            AVIFRAME audio = Frame("01wb", std::vector<BYTE>(4, (BYTE)i));
            audio.fInRecList = true;
            spec.chunks.push_back(audio);
        }
    }
    std::vector<BYTE> in = BuildAvi(spec);
    ASSERT_TRUE(WriteBytes(Path("lists.avi"), in.data(), in.size()));
    // Limits a little apart, so that some RIFF ends just short of one.
    for (unsigned cbLimit = 6144; cbLimit <= 9216; cbLimit += 128) {
        RUN run;
        AVIPARTS parts;
        ResolveUnderRiffLimit(this, Path("lists.avi"), Path("lists-out.avi"), cbLimit, &run, &parts);
        if (HasFatalFailure()) return;
        EXPECT_GT(parts.riffSizes.size(), 3u);
        ASSERT_EQ(parts.streams.size(), 2u);
        EXPECT_EQ(parts.streams[0].size(), 30u);
        EXPECT_EQ(parts.streams[1].size(), 1800u);
    }
}

// An OpenDML recording of several RIFFs: every frame of every RIFF is
// resolved, with its key flag from the standard index that lists it.
// Whether a writer puts the standard index of an AVIX RIFF inside its movi
// list or after it, each frame keeps its key flag.
TEST_F(Spool, ResolveReadsEveryRiffOfAnOpenDmlRecording)
{
    std::vector<std::vector<BYTE>> pictures;
    std::vector<FRAMEPLACE> places = WritePictureFile(Path("pic.000"), 90, 16, 16, &pictures);
    for (bool fAfter : {false, true}) {
        SCOPED_TRACE(fAfter ? "standard indexes after movi" : "standard indexes in movi");
        AVISPEC spec;
        spec.format = MakeFormat(16, 16, 24, BI_RGB);
        spec.fAudioStream = true;
        spec.dwTotalFrames = spec.dwLength = 90;
        for (DWORD i = 0; i < 90; i++) {
            spec.chunks.push_back(Frame("00dc", RecordBytes(Path("pic.000"), places[i]), i % 4 == 2 ? 0 : AVIIF_KEYFRAME));
            spec.chunks.push_back(Frame("01wb", std::vector<BYTE>(20, (BYTE)i)));
        }
        spec.cbRiffLimit = 6000;
        spec.fStdIndexAfterMovi = fAfter;
        std::vector<BYTE> in = BuildAvi(spec);
        ASSERT_TRUE(WriteBytes(Path("odml.avi"), in.data(), in.size()));
        EXPECT_EQ(Run({"verify", Path("odml.avi")}).nStatus, SPOOL_OK);
        DeleteFileA(Path("out.avi").c_str());
        RUN run = Run({"resolve", Path("odml.avi"), "-o", Path("out.avi")});
        ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
        EXPECT_EQ(run.out, "<dir>/out.avi: 90 frames resolved\n");
        AVIPARTS parts = ReadParts(ReadBytes(Path("out.avi")));
        ASSERT_TRUE(parts.fWhole);
        EXPECT_EQ(parts.nGrandFrames, 90u);
        CheckFramesAndSound(parts, ReadBytes(Path("out.avi")), pictures, [](size_t k) { return k % 4 != 2; });
    }
}

#ifndef _WIN32
unsigned long long ReadSize(const std::string &path)
{
    unsigned long long ullSize = 0;
    return GetPathSize(path.c_str(), &ullSize) ? ullSize : 0;
}

// An OpenDML recording past 4 GiB (its last RIFF behind gigabytes of filler,
// in a sparse file): its records there are seen, checked, moved and resolved.
TEST_F(Spool, AnOpenDmlRecordingPast4GibIsReadWhole)
{
    std::vector<FRAMEPLACE> places = WriteRefFile(Path("take.000"), 60, 3);
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    spec.dwTotalFrames = spec.dwLength = 60;
    for (DWORD i = 0; i < 60; i++) spec.chunks.push_back(Frame("00dc", RecordBytes(Path("take.000"), places[i])));
    spec.cbRiffLimit = 30 * 284;
    std::vector<BYTE> bytes = BuildAvi(spec);
    // The second RIFF behind two fillers.
    std::string avi = Path("big.avi");
    ASSERT_TRUE(WriteAviWithFiller(avi, bytes, 0xB0000000ull, 2));
    ASSERT_GT(ReadSize(avi), 0x100000000ull);

    RUN run = Run({"refs", avi});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_NE(run.out.find("60 frames"), std::string::npos) << run.out;
    EXPECT_EQ(Run({"verify", avi}).nStatus, SPOOL_OK);
    run = Run({"move", avi, "--base", Path("far")});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_FALSE(FileExists(Path("take.000").c_str()));
    run = Run({"verify", avi});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    run = Run({"resolve", avi, "-o", Path("out.avi")});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(run.out, "<dir>/out.avi: 60 frames resolved\n");
    DeleteFileA(avi.c_str());
}

// Records that claim frames their files cannot hold (here a gibibyte each in
// a file that is not there) are found before the output is made: no header
// sized from their claims is written.
TEST_F(Spool, ResolveChecksTheRecordsBeforeTheOutputGrows)
{
    AVISPEC spec;
    spec.format = MakeFormat(8, 8, 24, BI_RGB);
    spec.fAudioStream = true;
    spec.dwTotalFrames = spec.dwLength = 5000;
    FRAMEPLACE huge = {0, 0x3FFFFFF0};
    WriteRefFile(Path("small.000"), 2, 1);
    for (DWORD i = 0; i < 5000; i++)
        spec.chunks.push_back(Frame("00dc", RecordBytes(Path(i < 4000 ? "small.000" : "missing.000"), huge)));
    std::vector<BYTE> in = BuildAvi(spec);
    ASSERT_TRUE(WriteBytes(Path("claims.avi"), in.data(), in.size()));
    SpoolTraceFiles(TRUE);
    RUN run = Run({"resolve", Path("claims.avi"), "-o", Path("out.avi")});
    std::string trace = SpoolFileTrace();
    SpoolTraceFiles(FALSE);
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_EQ(run.err, "spool: frame 0: no frame of the record's size in <dir>/small.000\n");
    EXPECT_EQ(trace.find("create"), std::string::npos) << trace;
    EXPECT_FALSE(FileExists(Path("out.avi").c_str()));
}
#endif

TEST_F(Spool, ResolveOfLargeFramesHasRoomForEveryIndex)
{
    // Frames far larger than their records, in RIFFs that hold one each:
    // the super index is sized from the frames, not from the input.
    std::vector<std::vector<BYTE>> pictures;
    std::vector<FRAMEPLACE> places = WritePictureFile(Path("pic.000"), 120, 100, 80, &pictures);
    AVISPEC spec;
    spec.format = MakeFormat(100, 80, 24, BI_RGB);
    spec.dwTotalFrames = spec.dwLength = 120;
    for (const FRAMEPLACE &place : places) spec.chunks.push_back(Frame("00dc", RecordBytes(Path("pic.000"), place)));
    std::vector<BYTE> in = BuildAvi(spec);
    ASSERT_TRUE(WriteBytes(Path("in.avi"), in.data(), in.size()));
    // Each frame is larger than the limit: a RIFF of its own.
    SetRiffLimit("16384");
    RUN run = Run({"resolve", Path("in.avi"), "-o", Path("out.avi")});
    SetRiffLimit(NULL);
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    AVIPARTS parts = ReadParts(ReadBytes(Path("out.avi")));
    EXPECT_GE(parts.riffSizes.size(), 119u);
    ASSERT_EQ(parts.streams.size(), 1u);
    ASSERT_EQ(parts.streams[0].size(), 120u);
    EXPECT_EQ(parts.nGrandFrames, 120u);
}

TEST_F(Spool, DamageIsAProblemNotASuccess)
{
    // A reference file damaged after its third frame: the AVI of the three
    // is written, with status 1.
    std::string ref = Path("take.000");
    WriteRefFile(ref, 3, 5);
    std::vector<BYTE> bytes = ReadBytes(ref);
    bytes.insert(bytes.end(), 40, 0xEE);
    ASSERT_TRUE(WriteBytes(ref, bytes.data(), bytes.size()));
    AVISPEC model;
    model.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    model.format = MakeFormat(8, 8, 24, model.fccHandler);
    model.dwTotalFrames = model.dwLength = 1;
    model.chunks.push_back(Frame("00dc", std::vector<BYTE>(10, 1)));
    std::vector<BYTE> in = BuildAvi(model);
    ASSERT_TRUE(WriteBytes(Path("model.avi"), in.data(), in.size()));
    RUN run = Run({"salvage", ref, "-o", Path("out.avi"), "--from", Path("model.avi")});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS) << run.err;
    EXPECT_EQ(run.out, "<dir>/out.avi: 3 frames of <dir>/take.000\n");
    EXPECT_EQ(ReadParts(ReadBytes(Path("out.avi"))).chunks.size(), 3u);

    // An index that lists fewer frames than the header says: verify says so.
    std::vector<FRAMEPLACE> four = WriteRefFile(Path("a.000"), 4, 1);
    AVISPEC shortfall;
    shortfall.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    shortfall.format = MakeFormat(8, 8, 24, shortfall.fccHandler);
    shortfall.dwTotalFrames = shortfall.dwLength = 6;
    for (const FRAMEPLACE &place : four) shortfall.chunks.push_back(Frame("00dc", RecordBytes(Path("a.000"), place)));
    std::vector<BYTE> avibytes = BuildAvi(shortfall);
    std::string avi = Path("shortfall.avi");
    ASSERT_TRUE(WriteBytes(avi, avibytes.data(), avibytes.size()));
    run = Run({"verify", avi});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS) << run.out << run.err;

    // A name of another system's code page stays valid JSON.
    std::vector<FRAMEPLACE> places = WriteRefFile(Path("a.000"), 1, 1);
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    spec.dwTotalFrames = spec.dwLength = 1;
    spec.chunks.push_back(Frame("00dc", RecordBytes("D:\\\x83\x65\x83\x58\x83\x67\\a.000", places[0])));
    in = BuildAvi(spec);
    ASSERT_TRUE(WriteBytes(Path("sjis.avi"), in.data(), in.size()));
    run = Run({"refs", Path("sjis.avi"), "--json"});
    // Records hold code page 932: the name comes out in UTF-8, on Windows
    // of that code page and elsewhere alike.
    EXPECT_NE(run.out.find("\"name\":\"D:/\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88/a.000\""), std::string::npos) << run.out;
}

// Records hold their names in code page 932 whatever system reads them: a
// mapped name is compared and looked up as this system writes names, and a
// name written into the records is written back in code page 932, or
// refused when that code page cannot hold it.
TEST_F(Spool, NamesOfCodePage932AreReadAndWrittenAsTheSystemNamesFiles)
{
    // D:\録画\a.000 as Japanese Windows writes it; the file here is
    // <dir>/録画/a.000 (in this system's own code page).
    const std::string record = "D:\\\x98\x5e\x89\xe6\\a.000";
    CreateDirectoryA(Path("録画").c_str(), NULL);
    std::vector<FRAMEPLACE> places = WriteRefFile(JoinPath(Path("録画"), "a.000"), 2, 1);
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    spec.dwTotalFrames = spec.dwLength = 2;
    for (const FRAMEPLACE &place : places) spec.chunks.push_back(Frame("00dc", RecordBytes(record, place)));
    std::vector<BYTE> bytes = BuildAvi(spec);
    std::string avi = Path("rec.avi");
    ASSERT_TRUE(WriteBytes(avi, bytes.data(), bytes.size()));
    for (const std::string &rule : {"D:\\録画=" + Path("録画"), "D:=" + dir}) {
        RUN run = Run({"verify", avi, "--map", rule});
        EXPECT_EQ(run.nStatus, SPOOL_OK) << rule << run.out << run.err;
        EXPECT_EQ(run.out, "<dir>/rec.avi: 2 frames, 2 records, 2 good, 0 bad, 0 other frames\n") << rule;
    }
    // Records naming the file here, in code page 932.
    std::string here = JoinPath(Path("録画"), "a.000");
    CHAR szRecordHere[MAX_PATH];
    UINT uPage = g_uRecordNamePage;
    g_uRecordNamePage = GetACP() == 932 ? CP_ACP : 932;
    ASSERT_TRUE(FileNameToRecordName(here.c_str(), szRecordHere));
    g_uRecordNamePage = uPage;
    spec.chunks.clear();
    for (const FRAMEPLACE &place : places) spec.chunks.push_back(Frame("00dc", RecordBytes(szRecordHere, place)));
    bytes = BuildAvi(spec);
    ASSERT_TRUE(WriteBytes(avi, bytes.data(), bytes.size()));
    RUN run = Run({"refs", avi});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.out << run.err;
    EXPECT_NE(run.out.find("<dir>/録画/a.000"), std::string::npos) << run.out;
    CreateDirectoryA(Path("新").c_str(), NULL);
    run = Run({"move", avi, "--base", JoinPath(Path("新"), "cap")});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(run.out, "<dir>/録画/a.000 -> <dir>/新/cap.000\n");
    EXPECT_EQ(Run({"verify", avi}).nStatus, SPOOL_OK);
    // The records hold the new name in code page 932.
    std::string moved = JoinPath(Path("新"), "cap.000");
    CHAR szRecordMoved[MAX_PATH];
    g_uRecordNamePage = GetACP() == 932 ? CP_ACP : 932;
    ASSERT_TRUE(FileNameToRecordName(moved.c_str(), szRecordMoved));
    g_uRecordNamePage = uPage;
    bytes = ReadBytes(avi);
    const BYTE *pbMoved = reinterpret_cast<const BYTE *>(szRecordMoved);
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), pbMoved, pbMoved + strlen(szRecordMoved)), bytes.end());
#ifndef _WIN32
    // A name that code page 932 cannot hold is refused, nothing changed.
    std::vector<BYTE> before = ReadBytes(avi);
    CreateDirectoryA(Path("café").c_str(), NULL);
    run = Run({"move", avi, "--base", JoinPath(Path("café"), "cap")});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_NE(run.err.find("holds a character that the records' code page cannot hold"), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(avi), before);
    EXPECT_TRUE(ReadBytes(moved).size() > 0);
    // Records of another code page are read as it says.
    run = Run({"refs", avi, "--names", "65001"});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS) << "code page 932's bytes are no UTF-8 name of the file";
    EXPECT_EQ(Run({"refs", avi, "--names", "nonsense"}).nStatus, SPOOL_ERROR);
#endif
}

TEST_F(Spool, SalvageWithAnInstalledCodecOrRawFrames)
{
    std::string name = UniqueName("spsalv") + ".dll";
    std::string library = JoinPath(SystemFolder(), name);
    ASSERT_TRUE(CopyBytes(BuiltModule("samplecodec"), library));
    ASSERT_TRUE(RegisterVideoCodec("SMPL", name.c_str()));
    std::string ref = Path("take.000");
    WriteRefFile(ref, 5, 2);
    // The codec's own format for the picture of the first frame (8 x 8).
    RUN run = Run({"salvage", ref, "-o", Path("codec.avi"), "--codec", "SMPL"});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    AVIPARTS parts = ReadParts(ReadBytes(Path("codec.avi")));
    ASSERT_GE(parts.strf.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER bih;
    memcpy(&bih, parts.strf.data(), sizeof(bih));
    EXPECT_EQ(bih.biCompression, mmioFOURCC('S', 'M', 'P', 'L'));
    EXPECT_EQ(bih.biWidth, 8);
    ASSERT_EQ(parts.chunks.size(), 5u);
    REFRECORD rec;
    memcpy(&rec, parts.chunks[0].data.data(), sizeof(rec));
    EXPECT_FALSE(RefRecordIsRaw(&rec));
    // Raw frames of another size, the codec named for the stream.
    run = Run({"salvage", ref, "-o", Path("raw.avi"), "--raw", "SMPL", "--size", "16x4", "--rate", "30000/1001"});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    parts = ReadParts(ReadBytes(Path("raw.avi")));
    ASSERT_EQ(parts.chunks.size(), 5u);
    memcpy(&rec, parts.chunks[0].data.data(), sizeof(rec));
    EXPECT_TRUE(RefRecordIsRaw(&rec));
    memcpy(&bih, parts.strf.data(), sizeof(bih));
    EXPECT_EQ(bih.biWidth, 16);
    EXPECT_EQ(bih.biHeight, 4);
    UnregisterVideoCodec("SMPL");
    DeleteFileA(library.c_str());
    // No codec of that name: nothing written.
    run = Run({"salvage", ref, "-o", Path("none.avi"), "--codec", "NONE"});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_FALSE(FileExists(Path("none.avi").c_str()));
}

TEST(SpoolProgress, PercentRateAndTimeLeft)
{
    g_pErr = tmpfile();
    g_fJapanese = FALSE;
    g_fProgressBar = TRUE;
    BeginProgress("resolve", 4000000, PROGRESS_BYTES);
    ShowProgress(1000000);  // too early to draw
    Sleep(600);
    ShowProgress(1000000);
    EndProgress();
    g_fProgressBar = FALSE;
    std::string text = ReadBack(g_pErr);
    g_pErr = NULL;
    // "\rresolve [#####...............]  25% 1.6 MB/s 0:01 left \n"
    EXPECT_EQ(text.substr(0, 37), "\rresolve [#####...............]  25% ") << text;
    EXPECT_NE(text.find(" MB/s "), std::string::npos) << text;
    EXPECT_NE(text.find(" left \n"), std::string::npos) << text;
    EXPECT_EQ(text.find("\r", 1), std::string::npos) << "drawn once";
}
