// The decompression fuzz target's inputs, replayed: the corpus that the
// fuzzer grew runs again without a crash or a sanitizer report, and
// well-formed inputs decode every record.
#include "fuzz/decompress_input.h"

#include "codec/spoolcap.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

namespace {

class DecompressCorpus : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = MakeTempDir("spdfz");
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override { RemoveTree(dir); }
    std::string dir;
};

std::vector<BYTE> Frames(DWORD cbData, int n, std::vector<DECOMPRESSRECORD> *pRecords, DWORD dwFlags, BYTE bFile,
                         WORD cbChunk)
{
    std::vector<BYTE> file;
    for (int i = 0; i < n; i++) {
        REFFRAMEHEADER header;
        FillFrameHeader(&header, cbData, 0, 8, 4);
        pRecords->push_back({(DWORD)file.size(), header.dwFrameSize | dwFlags, bFile, cbChunk});
        const BYTE *p = reinterpret_cast<const BYTE *>(&header);
        file.insert(file.end(), p, p + sizeof(header));
        file.insert(file.end(), cbData, (BYTE)i);
    }
    return file;
}

TEST_F(DecompressCorpus, WellFormedInputsDecodeEveryRecord)
{
    // 8 x 4 pixels of 24 bits; compressed frames in file 0, raw in file 1.
    for (BYTE bSwitches = 0; bSwitches < 4; bSwitches++) {
        std::vector<DECOMPRESSRECORD> records;
        std::vector<BYTE> file0 = Frames(50, 5, &records, 0, 0, 276);
        std::vector<BYTE> file1 = Frames(96, 5, &records, REFREC_RAW | REFREC_SECOND, 1, 300);
        std::vector<BYTE> input = BuildDecompressInput(bSwitches, 7, 3, 2, file0, file1, records);
        EXPECT_EQ(RunDecompressInput(input.data(), input.size(), dir), 10) << (int)bSwitches;
        // A raw frame larger than the picture, a missing file, a name
        // without its end: none decodes; a short chunk is the wrapped
        // codec's own data.
        std::vector<DECOMPRESSRECORD> bad = {{0, 112 | REFREC_RAW, 1, 276}, {0, 66, 0, 100}, {0, 66, 2, 276},
                                             {0, 66, 3, 276}};
        std::vector<BYTE> big = Frames(200, 1, &records, 0, 0, 276);
        input = BuildDecompressInput(bSwitches, 7, 3, 2, file0, big, bad);
        EXPECT_EQ(RunDecompressInput(input.data(), input.size(), dir), 1) << (int)bSwitches;
    }
}

TEST_F(DecompressCorpus, EveryInputRunsToItsEnd)
{
    std::string corpus = JoinPath(TestDataFolder(), "decompress-corpus");
    std::vector<std::string> names = ListFolder(corpus);
    ASSERT_GE(names.size(), 16u);
    int nDecoded = 0;
    for (const std::string &name : names) {
        std::vector<BYTE> input = ReadBytes(JoinPath(corpus, name));
        nDecoded += RunDecompressInput(input.data(), input.size(), dir);
    }
    EXPECT_GT(nDecoded, 0);
}

}  // namespace
