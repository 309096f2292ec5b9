#include "codec/spoolcap.h"

#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        name = UniqueName("spset") + ".ini";
        snprintf(g_szIniFile, sizeof(g_szIniFile), "%s", name.c_str());
        path = JoinPath(WindowsDir(), name);
        memset(&g_Settings, 0x5A, sizeof(g_Settings));
    }
    void TearDown() override { DeleteFileA(path.c_str()); }
    std::string name, path;
};

TEST_F(Settings, MissingFileGivesDefaults)
{
    LoadSettings();
    EXPECT_STREQ(g_Settings.szBaseFile, "");
    EXPECT_STREQ(g_Settings.szBaseFile2, "");
    EXPECT_EQ(g_Settings.dwPadding, 0u);
    EXPECT_FALSE(g_Settings.fEnabled);
    EXPECT_FALSE(g_Settings.fBiFiled);
    EXPECT_FALSE(g_Settings.fNoCompress);
    EXPECT_FALSE(g_Settings.fOverlapRead);
    EXPECT_FALSE(g_Settings.fOverlapWrite);
}

TEST_F(Settings, SaveWritesEveryKeyInOrder)
{
    LoadSettings();
    strcpy(g_Settings.szBaseFile, "base one");
    strcpy(g_Settings.szBaseFile2, "");
    g_Settings.dwPadding = 250;
    g_Settings.fEnabled = TRUE;
    g_Settings.fNoCompress = TRUE;
    g_Settings.fOverlapWrite = TRUE;
    SaveSettings();
    // Wine's profile writer puts a blank line before each section.
    std::string text = ReadText(path);
    while (text.compare(0, 2, "\r\n") == 0) text.erase(0, 2);
    EXPECT_EQ(text,
              "[Spoolcap]\r\nBaseFile=base one\r\nBaseFile2=\r\nPadding=250\r\nEnabled=1\r\nBiFiled=0\r\n"
              "NoCompress=1\r\nOverlapRead=0\r\nOverlapWrite=1\r\n");
}

TEST_F(Settings, RoundTrip)
{
    LoadSettings();
    std::string longBase(259, 'q');
    strcpy(g_Settings.szBaseFile, longBase.c_str());
    strcpy(g_Settings.szBaseFile2, "second");
    g_Settings.dwPadding = 100;
    g_Settings.fBiFiled = TRUE;
    g_Settings.fOverlapRead = TRUE;
    SPOOLSETTINGS saved = g_Settings;
    SaveSettings();
    memset(&g_Settings, 0, sizeof(g_Settings));
    LoadSettings();
    EXPECT_STREQ(g_Settings.szBaseFile, saved.szBaseFile);
    EXPECT_STREQ(g_Settings.szBaseFile2, "second");
    EXPECT_EQ(g_Settings.dwPadding, 100u);
    EXPECT_EQ(g_Settings.fEnabled, FALSE);
    EXPECT_EQ(g_Settings.fBiFiled, TRUE);
    EXPECT_EQ(g_Settings.fNoCompress, FALSE);
    EXPECT_EQ(g_Settings.fOverlapRead, TRUE);
    EXPECT_EQ(g_Settings.fOverlapWrite, FALSE);
}

TEST_F(Settings, SwitchesAreZeroOrOneAndKeysAnyCase)
{
    ASSERT_TRUE(WriteText(path, "[spoolcap]\r\nenabled=7\r\nBIFILED=-1\r\nNoCompress=0\r\nPadding=0x20\r\n"
                                "OverlapRead=yes\r\nBaseFile= spaced \r\n"));
    LoadSettings();
    EXPECT_EQ(g_Settings.fEnabled, TRUE);
    EXPECT_EQ(g_Settings.fBiFiled, TRUE);
    EXPECT_EQ(g_Settings.fNoCompress, FALSE);
    EXPECT_EQ(g_Settings.fOverlapRead, FALSE);  // not a number
    EXPECT_EQ(g_Settings.dwPadding, 0x20u);
    EXPECT_STREQ(g_Settings.szBaseFile, "spaced");
}

// The write queue's megabytes stay within 0 to 2048, whatever the file says.
TEST_F(Settings, WriteQueueIsKeptWithinItsRange)
{
    const struct {
        const char *pszValue;
        DWORD dwMB;
    } aCases[] = {{"256", 256}, {"2048", 2048}, {"2049", 2048}, {"-5", 0}, {"many", 0}, {"", 0}};
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszValue);
        ASSERT_TRUE(WriteText(path, std::string("[Spoolcap]\r\nWriteQueueMB=") + c.pszValue + "\r\n"));
        LoadSettings();
        EXPECT_EQ(g_Settings.dwWriteQueueMB, c.dwMB);
    }
}

TEST_F(Settings, OverlongBaseNameIsCut)
{
    ASSERT_TRUE(WriteText(path, "[Spoolcap]\r\nBaseFile=" + std::string(400, 'x') + "\r\n"));
    LoadSettings();
    EXPECT_EQ(strlen(g_Settings.szBaseFile), 259u);
}

TEST(HexFilter, KeepsOnlyHexDigits)
{
    struct {
        const char *pszIn, *pszOut;
        int nRemovedAt;
    } const aCases[] = {
        {"12G4", "124", 2},   {"ABCDEF09", "ABCDEF09", -1}, {"xyz", "", 0},
        {"a1", "1", 0},       {"1 2-3", "123", 2},          {"", "", -1},
    };
    for (const auto &c : aCases) {
        char sz[32];
        strcpy(sz, c.pszIn);
        int nRemovedAt = 99;
        EXPECT_EQ(FilterHexText(sz, &nRemovedAt), (int)strlen(c.pszOut)) << c.pszIn;
        EXPECT_STREQ(sz, c.pszOut);
        EXPECT_EQ(nRemovedAt, c.nRemovedAt) << c.pszIn;
    }
#ifdef _WIN32
    // A double-byte character goes whole: its second byte ('A' here) is not
    // kept as a digit.
    char sz[16] = "1\x83\x41" "2";
    int nRemovedAt;
    EXPECT_EQ(FilterHexText(sz, &nRemovedAt), 2);
    EXPECT_STREQ(sz, "12");
#endif
}

TEST(SettingsFileName, DerivedFromModuleName)
{
    CHAR szIni[MAX_PATH];
    ASSERT_TRUE(DeriveIniFileName("xyzcodec.dll", szIni, sizeof(szIni)));
    EXPECT_STREQ(szIni, "xyzcodec.ini");
    ASSERT_TRUE(DeriveIniFileName("abc", szIni, sizeof(szIni)));
    EXPECT_STREQ(szIni, "abc.ini");
    ASSERT_TRUE(DeriveIniFileName("a.b.c", szIni, sizeof(szIni)));
    EXPECT_STREQ(szIni, "a.b.ini");
    ASSERT_TRUE(DeriveIniFileName("abc.", szIni, sizeof(szIni)));
    EXPECT_STREQ(szIni, "abc.ini");
    EXPECT_FALSE(DeriveIniFileName(std::string(300, 'l').c_str(), szIni, sizeof(szIni)));
}

}  // namespace
