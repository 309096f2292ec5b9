// Spoolmend's fuzz target's inputs, replayed: the corpus that the fuzzer
// kept (tests/fuzz-corpus-salvage) goes through the scan, the preview, the
// writer and the settings from another AVI, under the sanitizers.
#include "fuzz/salvage_input.h"
#include "salvage/salvage.h"

#include "tests/testutil.h"

#include <gtest/gtest.h>

TEST(SalvageCorpus, EveryInputEndsInAMessageOrAnAvi)
{
    std::string corpus = JoinPath(TestDataFolder(), "salvage-corpus");
    std::vector<std::string> names = ListFolder(corpus);
    ASSERT_GE(names.size(), 20u) << "the corpus is copied beside the tests";
    std::string dir = MakeTempDir("spmendcorpus");
    size_t nListing = 0;
    for (const std::string &name : names) {
        std::vector<BYTE> bytes = ReadBytes(JoinPath(corpus, name));
        if (RunSalvageInput(bytes.data(), bytes.size(), dir) > 0) nListing++;
    }
    // The corpus reaches both the frames of reference files and refusals.
    EXPECT_GT(nListing, 0u);
    EXPECT_LT(nListing, names.size());
    ScanRefFile(NULL, FALSE);
    FreeSalvageBuffers();
    RemoveTree(dir);
}
