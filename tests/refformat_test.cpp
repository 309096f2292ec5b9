#include "codec/refformat.h"

#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(RefRecord, LayoutByteByByte)
{
    REFRECORD rec;
    memset(&rec, 0xCC, sizeof(rec));
    BuildRefRecord(&rec, 1, TRUE, 0x01020304, 0x00ABCDEF, "ab");
    const BYTE *p = reinterpret_cast<const BYTE *>(&rec);
    const BYTE abExpected[24] = {'S', 'p', 'o', 'o', 'l', 'c', 'a', 'p',   // magic
                                 0x04, 0x03, 0x02, 0x01,                   // offset
                                 0xEF, 0xCD, 0xAB, 0xC0,                   // size | SECOND | RAW
                                 'a', 'b', 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, memcmp(p, abExpected, sizeof(abExpected)));
    // Everything after the name's terminator is NUL.
    for (size_t i = 18; i < sizeof(rec); i++) ASSERT_EQ(p[i], 0) << "byte " << i;
}

TEST(RefRecord, FlagsAndFieldsReadBack)
{
    REFRECORD rec;
    BuildRefRecord(&rec, 0, FALSE, 7, 2016, "x");
    EXPECT_EQ(RefRecordFrameSize(&rec), 2016u);
    EXPECT_EQ(RefRecordSequence(&rec), 0);
    EXPECT_FALSE(RefRecordIsRaw(&rec));
    BuildRefRecord(&rec, 1, TRUE, 7, REFREC_SIZEMASK, "x");
    EXPECT_EQ(RefRecordFrameSize(&rec), REFREC_SIZEMASK);
    EXPECT_EQ(RefRecordSequence(&rec), 1);
    EXPECT_TRUE(RefRecordIsRaw(&rec));
    EXPECT_EQ(rec.dwSizeFlags, 0xFFFFFFFFu);
}

TEST(RefRecord, LongPathIsCutAndTerminated)
{
    std::string longName(400, 'n');
    REFRECORD rec;
    BuildRefRecord(&rec, 0, FALSE, 0, 16, longName.c_str());
    EXPECT_EQ(strlen(rec.szFileName), (size_t)MAX_PATH - 1);
}

TEST(RefRecord, RecognisedByExactMagicOnly)
{
    EXPECT_TRUE(IsRefRecord("Spoolcap", 8));
    EXPECT_TRUE(IsRefRecord("Spoolcap and more", 17));
    EXPECT_FALSE(IsRefRecord("SPOOLCAP", 8));
    EXPECT_FALSE(IsRefRecord("spoolcap", 8));
    EXPECT_FALSE(IsRefRecord("Spoolca", 7));  // too short to hold the magic
    EXPECT_FALSE(IsRefRecord(NULL, 276));
}

TEST(FrameHeader, LayoutAndLimits)
{
    REFFRAMEHEADER hdr;
    ASSERT_TRUE(FillFrameHeader(&hdr, 1000, 1000, 0x12345, -2));
    const BYTE *p = reinterpret_cast<const BYTE *>(&hdr);
    const BYTE abExpected[16] = {0xE0, 0x07, 0, 0,   // 2016
                                 0xE8, 0x03, 0, 0,   // 1000
                                 0xE8, 0x03, 0, 0,   // 1000
                                 0x45, 0x23,         // low 16 bits of the width
                                 0xFE, 0xFF};        // -2
    EXPECT_EQ(0, memcmp(p, abExpected, 16));
    // A frame of 2^30 bytes or more cannot be represented in a record.
    EXPECT_TRUE(FillFrameHeader(&hdr, REFFRAME_LIMIT - 17, 0, 1, 1));
    EXPECT_FALSE(FillFrameHeader(&hdr, REFFRAME_LIMIT - 16, 0, 1, 1));
    EXPECT_FALSE(FillFrameHeader(&hdr, 0xFFFFFFF0u, 0x100, 1, 1));
}

// The one check by which every reader takes a header read from a file.
TEST(FrameHeader, AddsUpOnlyWhenItsSizesMakeItsFrame)
{
    struct {
        const char *pszName;
        DWORD dwFrameSize, dwDataSize, dwPadSize, cbRecord;
        BOOL fAddsUp, fFits;
    } aCases[] = {
        {"header, data and padding", 16 + 100 + 12, 100, 12, 128, TRUE, TRUE},
        {"an empty frame", 16, 0, 0, 16, TRUE, TRUE},
        {"another size than the record's", 128, 100, 12, 144, TRUE, FALSE},
        {"one byte short", 127, 100, 12, 127, FALSE, FALSE},
        {"no room for the header", 8, 0, 0, 8, FALSE, FALSE},
        {"data and padding wrap round", 0x20, 0xFFFFFFF0u, 0x20, 0x20, FALSE, FALSE},
        {"data alone wraps round", 0x10, 0xFFFFFFF0u, 0, 0x10, FALSE, FALSE},
        {"the largest a record holds", REFFRAME_LIMIT - 1, REFFRAME_LIMIT - 17, 0, REFFRAME_LIMIT - 1, TRUE, TRUE},
        {"beyond what a record holds", REFFRAME_LIMIT, REFFRAME_LIMIT - 16, 0, REFFRAME_LIMIT, FALSE, FALSE},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        REFFRAMEHEADER header = {c.dwFrameSize, c.dwDataSize, c.dwPadSize, 8, 8};
        EXPECT_EQ(FrameHeaderAddsUp(&header), c.fAddsUp);
        EXPECT_EQ(FrameHeaderFits(&header, c.cbRecord), c.fFits);
    }
}

TEST(Padding, Table)
{
    struct {
        DWORD dwData, dwPercent, dwPad;
    } const aCases[] = {
        {100, 0, 12},   {96, 0, 0},       {1000, 10, 104}, {1000, 100, 1000}, {0, 0, 0},
        {1, 0, 15},     {15, 250, 33},    {16, 250, 32},   {230400, 0, 0},
        // The product wraps at 2^32: 0x02000000 * 200 = 0x190000000 -> 0x90000000.
        {0x02000000, 200, 0x90000000u / 100 & ~15u},
    };
    for (const auto &c : aCases) {
        DWORD dwPad = ComputePadding(c.dwData, c.dwPercent);
        EXPECT_EQ(dwPad, c.dwPad) << c.dwData << " at " << c.dwPercent << "%";
        EXPECT_EQ((c.dwData + dwPad) % 16, 0u);
    }
}

class RefNumbering : public ::testing::Test {
protected:
    void SetUp() override { dir = MakeTempDir("refnum"); ASSERT_FALSE(dir.empty()); }
    void TearDown() override { RemoveTree(dir); }
    void Touch(const char *pszName) { ASSERT_TRUE(WriteText(JoinPath(dir, pszName), "x")); }
    std::string dir;
};

TEST_F(RefNumbering, FirstFileIsZero)
{
    EXPECT_EQ(NextRefFileNumber(JoinPath(dir, "take").c_str()), 0);
    CHAR szName[MAX_PATH];
    HANDLE h = CreateNextRefFile(JoinPath(dir, "take").c_str(), szName);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(std::string(szName), JoinPath(dir, "take.000"));
}

TEST_F(RefNumbering, GapsAreNotFilledAndOtherNamesDoNotCount)
{
    for (const char *psz : {"take.000", "take.007", "take.old", "take.0001", "take.12", "take", "takes.050",
                            "other.900", "take.1a2"})
        Touch(psz);
    EXPECT_EQ(NextRefFileNumber(JoinPath(dir, "take").c_str()), 8);
    CHAR szName[MAX_PATH];
    HANDLE h = CreateNextRefFile(JoinPath(dir, "take").c_str(), szName);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(std::string(szName), JoinPath(dir, "take.008"));
}

TEST_F(RefNumbering, LongerNumbersAloneDoNotCount)
{
    // Four digits whose first three would read as a number: the series is
    // still empty.
    Touch("take.0005");
    Touch("take.9990");
    EXPECT_EQ(NextRefFileNumber(JoinPath(dir, "take").c_str()), 0);
}

TEST_F(RefNumbering, DeletedTopFreesItsNumber)
{
    Touch("take.000");
    Touch("take.001");
    ASSERT_TRUE(DeleteFileA(JoinPath(dir, "take.001").c_str()));
    EXPECT_EQ(NextRefFileNumber(JoinPath(dir, "take").c_str()), 1);
}

TEST_F(RefNumbering, FullSeriesIsRefusedAndNothingReplaced)
{
    Touch("take.999");
    CHAR szName[MAX_PATH];
    EXPECT_EQ(CreateNextRefFile(JoinPath(dir, "take").c_str(), szName), INVALID_HANDLE_VALUE);
    EXPECT_EQ(ListFolder(dir), std::vector<std::string>({"take.999"}));
    EXPECT_EQ(ReadText(JoinPath(dir, "take.999")), "x");
}

TEST_F(RefNumbering, RelativeBaseBecomesFullPath)
{
    CHAR szCwd[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(sizeof(szCwd), szCwd), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    CHAR szName[MAX_PATH];
    HANDLE h = CreateNextRefFile("rel", szName);
    SetCurrentDirectoryA(szCwd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    CHAR szFull[MAX_PATH];
    GetFullPathNameA(JoinPath(dir, "rel.000").c_str(), sizeof(szFull), szFull, NULL);
    EXPECT_EQ(std::string(szName), std::string(szFull));
}

TEST_F(RefNumbering, RefusedBaseNames)
{
    CHAR szName[MAX_PATH];
    EXPECT_EQ(CreateNextRefFile("", szName), INVALID_HANDLE_VALUE);
    // A missing folder: the file cannot be made.
    EXPECT_EQ(CreateNextRefFile(JoinPath(JoinPath(dir, "missing"), "take").c_str(), szName), INVALID_HANDLE_VALUE);
    // A full path of 256 characters leaves no room for the number.
    std::string base = JoinPath(dir, "");
    base += std::string(256 - base.size(), 'b');
    ASSERT_EQ(base.size(), 256u);
    EXPECT_EQ(CreateNextRefFile(base.c_str(), szName), INVALID_HANDLE_VALUE);
    base.pop_back();
    HANDLE h = CreateNextRefFile(base.c_str(), szName);
    if (h != INVALID_HANDLE_VALUE) {
        // 255 characters fit when the file system takes the name.
        CloseHandle(h);
        EXPECT_EQ(strlen(szName), 259u);
    }
}

TEST_F(RefNumbering, NewFileIsSharedForReadingOnly)
{
    CHAR szName[MAX_PATH];
    HANDLE h = CreateNextRefFile(JoinPath(dir, "take").c_str(), szName);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    HANDLE hRead = CreateFileA(szName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(hRead, INVALID_HANDLE_VALUE);
    HANDLE hWrite = CreateFileA(szName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(hWrite, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    if (hRead != INVALID_HANDLE_VALUE) CloseHandle(hRead);
    if (hWrite != INVALID_HANDLE_VALUE) CloseHandle(hWrite);
    CloseHandle(h);
}

}  // namespace
