// Vfwprobe's listing against the platform's codec list: the sample codec
// registered alone and behind Spoolcap.
#include "lister/listing.h"

#include "tests/samplecodec/samplecodec.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Listing, HeaderRuleAndLineFormats)
{
    CHAR sz[LISTING_LINE_MAX];
    FormatListingHeader(sz, sizeof(sz));
    EXPECT_STREQ(sz, "                          driver |  id  | codec\r\n");
    FormatListingRule(sz, sizeof(sz));
    EXPECT_EQ(std::string(sz), std::string(68, '-') + "\r\n");
    CODECENTRY entry;
    strcpy(entry.szFourcc, "SMPL");
    strcpy(entry.szDriver, "smplcodec.dll");
    strcpy(entry.szDescription, "Sample");
    FormatCodecLine(&entry, sz, sizeof(sz));
    EXPECT_STREQ(sz, "                   smplcodec.dll | SMPL | Sample\r\n");
    // A driver text longer than the column is not cut.
    std::string longDriver(40, 'd');
    strcpy(entry.szDriver, longDriver.c_str());
    FormatCodecLine(&entry, sz, sizeof(sz));
    EXPECT_EQ(std::string(sz), longDriver + " | SMPL | Sample\r\n");
}

TEST(Listing, FourccWithZeroBytesShowsBlanks)
{
    CHAR sz[5];
    FormatFourcc(mmioFOURCC('A', 'B', 0, 0), sz);
    EXPECT_STREQ(sz, "AB  ");
    FormatFourcc(0, sz);
    EXPECT_STREQ(sz, "    ");
    FormatFourcc(mmioFOURCC('c', 'v', 'i', 'd'), sz);
    EXPECT_STREQ(sz, "cvid");
}

TEST(Listing, OpenModes)
{
    EXPECT_EQ(OpenModeFromBoxes(FALSE, FALSE, FALSE), 0u);
    EXPECT_EQ(OpenModeFromBoxes(TRUE, FALSE, FALSE), (UINT)ICMODE_QUERY);
    EXPECT_EQ(OpenModeFromBoxes(FALSE, TRUE, FALSE), (UINT)ICMODE_COMPRESS);
    EXPECT_EQ(OpenModeFromBoxes(FALSE, FALSE, TRUE), (UINT)ICMODE_DECOMPRESS);
    EXPECT_EQ(OpenModeFromBoxes(TRUE, TRUE, TRUE), 7u);
}

TEST(Listing, TextsAreCutWithin255Bytes)
{
    WCHAR wsz[300];
    for (int i = 0; i < 299; i++) wsz[i] = (WCHAR)('a' + i % 26);
    wsz[299] = 0;
    CHAR sz[CODEC_TEXT_MAX + 2];
    WideToCodecText(wsz, 300, sz);
    EXPECT_EQ(strlen(sz), (size_t)CODEC_TEXT_MAX);
    // Characters of two or more bytes are not split at the limit.
    for (int i = 0; i < 299; i++) wsz[i] = 0x3042;  // hiragana A
    WideToCodecText(wsz, 300, sz);
    size_t cb = strlen(sz);
    EXPECT_LE(cb, (size_t)CODEC_TEXT_MAX);
    WCHAR wszBack[300];
    int cch = MultiByteToWideChar(CP_ACP, 0, sz, -1, wszBack, 300);
    ASSERT_GT(cch, 1);
    for (int i = 0; i < cch - 1; i++) ASSERT_EQ(wszBack[i], 0x3042);
}

// The sample codec registered under SMPL, with the test holding it loaded
// so that it can steer it.
class ListedCodec : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (pfnControl) pfnControl(SAMPLE_RESET, 0);
        for (HMODULE h : held) FreeLibrary(h);
        UnregisterVideoCodec("SMPL");
        for (const std::string &file : files) DeleteFileA(file.c_str());
    }
    void Install(const std::string &name, bool fBehindSpoolcap)
    {
        std::string sys = SystemFolder();
        if (fBehindSpoolcap) {
            ASSERT_TRUE(InstallSpoolcap(sys, name));
            files.push_back(JoinPath(sys, name));
            files.push_back(JoinPath(sys, name + ".org"));
            Hold(JoinPath(sys, name + ".org"));
        } else {
            ASSERT_TRUE(CopyBytes(BuiltModule("samplecodec"), JoinPath(sys, name)));
            files.push_back(JoinPath(sys, name));
            Hold(JoinPath(sys, name));
        }
        ASSERT_TRUE(RegisterVideoCodec("SMPL", name.c_str()));
    }
    void Hold(const std::string &path)
    {
        HMODULE h = LoadLibraryA(path.c_str());
        ASSERT_NE(h, nullptr);
        held.push_back(h);
#ifdef _WIN32
        // The driver manager loads and frees the library around each open;
        // this one stays whatever it does.
        HMODULE hPinned;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, path.c_str(), &hPinned);
#endif
        pfnControl = ProcAs<SAMPLECONTROLPROC>(GetProcAddress(h, "SampleControl"));
        ASSERT_NE(pfnControl, nullptr);
        pfnControl(SAMPLE_RESET, 0);
    }
    // The line of the SMPL codec in the listing, opened in wMode.
    std::string SampleLine(UINT wMode)
    {
        CODECENTRY entry;
        for (DWORD i = 0; DescribeCodec(i, wMode, &entry); i++) {
            if (strcmp(entry.szFourcc, "SMPL") != 0) continue;
            CHAR sz[LISTING_LINE_MAX];
            FormatCodecLine(&entry, sz, sizeof(sz));
            return sz;
        }
        return "(not listed)";
    }
    std::vector<HMODULE> held;
    std::vector<std::string> files;
    SAMPLECONTROLPROC pfnControl = NULL;
};

TEST_F(ListedCodec, BehindSpoolcapShowsTheWrappedCodecsAnswer)
{
    std::string name = UniqueName("smplcodec") + ".dll";
    Install(name, true);
    std::string driver = std::string(32 - name.size(), ' ') + name;
    EXPECT_EQ(SampleLine(ICMODE_QUERY), driver + " | SMPL | Sample lossless run-length codec\r\n");
}

TEST_F(ListedCodec, OpenModeAndFailures)
{
    std::string name = UniqueName("smplraw") + ".dll";
    Install(name, false);
    std::string driver = std::string(32 - name.size(), ' ') + name;
    EXPECT_EQ(SampleLine(0), driver + " | SMPL | Sample lossless run-length codec\r\n");
    // A codec that refuses the mode: "can't open", and the listing goes on.
    pfnControl(SAMPLE_REFUSE_MODES, 1u << ICMODE_COMPRESS);
    EXPECT_EQ(SampleLine(ICMODE_COMPRESS), "                      can't open | SMPL | can't open\r\n");
    EXPECT_NE(SampleLine(ICMODE_DECOMPRESS).find("Sample lossless"), std::string::npos);
    // No box ticked opens with mode 0.
    pfnControl(SAMPLE_REFUSE_MODES, 1u << 0);
    EXPECT_EQ(SampleLine(0), "                      can't open | SMPL | can't open\r\n");
    pfnControl(SAMPLE_REFUSE_MODES, 0);
    // A codec that opens but does not answer ICM_GETINFO: the list's texts
    // with a question mark.
    pfnControl(SAMPLE_FAIL_GETINFO, 1);
    std::string marked = name + "?";
    EXPECT_EQ(SampleLine(ICMODE_QUERY), std::string(32 - marked.size(), ' ') + marked + " | SMPL | ?\r\n");
}

}  // namespace
