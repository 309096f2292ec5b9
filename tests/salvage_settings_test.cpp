// Spoolmend's settings: frame rates, numeric fields, histories, the profile
// entries, the codec list, and the settings taken from another AVI.
#include "tests/salvage_fixture.h"

#include "tests/avibuilder.h"
#include "tests/samplecodec/samplecodec.h"

#include <string.h>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using Settings = SalvageTest;
using TakeAvi = SalvageTest;

std::string Items(const FAKECOMBO &combo)
{
    std::string text;
    for (const std::string &item : combo.items) text += (text.empty() ? "" : ",") + item;
    return text;
}

}  // namespace

TEST_F(Settings, FrameRates)
{
    struct {
        const char *pszText;
        DWORD dwRate, dwScale;
        const char *pszShown;
    } aCases[] = {
        {"30000/1001", 30000, 1001, "29.970029970030"},
        {"2997/100", 2997, 100, "29.970000000000"},
        {"30000/1001.5", 300000, 10015, "29.955067398902"},
        {"25", 2500000000u, 100000000, "25.000000000000"},
        {"29.97", 2997000000u, 100000000, "29.970000000000"},
        {"42.9", 4290000000u, 100000000, "42.900000000000"},
        // Rates from 42.95 on get the largest power-of-ten scale that fits.
        {"42.95", 429500000, 10000000, "42.950000000000"},
        {"50", 500000000, 10000000, "50.000000000000"},
        {"59.94", 599400000, 10000000, "59.940000000000"},
        {"60", 600000000, 10000000, "60.000000000000"},
        {"240", 2400000000u, 10000000, "240.000000000000"},
        {"1000", 1000000000, 1000000, "1000.000000000000"},
        // No usable rate: nothing is divided by zero.
        {"", 0, 100000000, " 0.000000000000"},
        {"0", 0, 100000000, " 0.000000000000"},
        {"30/0", 3000000000u, 100000000, "30.000000000000"},
        {"1000000000/1", 100000000, 0, " 0.000000000000"},
    };
    // Texts from a settings file may hold anything: they end, with no rate.
    for (const char *pszText : {"1e308/0.5", "1e400", "99999999999", "nan", "inf/3", "-25", "1e-300"}) {
        ParseFrameRate(pszText);
        EXPECT_EQ(g_dblFps, 0.0) << pszText;
    }
    for (auto &c : aCases) {
        double dblFps = ParseFrameRate(c.pszText);
        EXPECT_EQ(g_dwRate, c.dwRate) << c.pszText;
        EXPECT_EQ(g_dwScale, c.dwScale) << c.pszText;
        EXPECT_EQ(g_ui.texts[IDC_FPS], c.pszShown) << c.pszText;
        EXPECT_EQ(dblFps, g_dblFps);
    }
}

TEST_F(Settings, NumericFieldsTakeOnlyWhatTheyAllow)
{
    struct {
        const char *pszIn;
        DWORD dwOptions;
        const char *pszOut;
        int iCaret;
    } aCases[] = {
        {"30x00/10.0.1", NUMERIC_POINT | NUMERIC_SLASH, "3000/10.01", 9},
        {"1.5/2.5", NUMERIC_POINT | NUMERIC_SLASH, "1.5/2.5", -1},
        {"1/2/3", NUMERIC_SLASH, "1/23", 3},
        {"-12-3", NUMERIC_MINUS, "-123", 3},
        {"-12", 0, "12", 0},
        {"1.2", 0, "12", 1},
        {"12.3.4", NUMERIC_POINT | NUMERIC_MINUS, "12.34", 4},
    };
    for (auto &c : aCases) {
        char sz[32];
        snprintf(sz, sizeof(sz), "%s", c.pszIn);
        int iCaret = -1;
        EXPECT_EQ(FilterNumericText(sz, c.dwOptions, &iCaret) != FALSE, c.iCaret >= 0) << c.pszIn;
        EXPECT_STREQ(sz, c.pszOut) << c.pszIn;
        EXPECT_EQ(iCaret, c.iCaret) << c.pszIn;
    }
    // On the field: the text is written back with the caret where the
    // last character went, and the rate follows.
    g_aCombo[3].edit = "30x00/10.0.1";
    OnFrameRateField(CBN_EDITCHANGE);
    EXPECT_EQ(g_aCombo[3].edit, "3000/10.01");
    EXPECT_EQ(g_aCombo[3].dwEditSel, (DWORD)MAKELONG(9, 9));
    EXPECT_STREQ(g_szFrameRate, "3000/10.01");
    EXPECT_EQ(g_dwRate, 300000u);
    EXPECT_EQ(g_dwScale, 1001u);
}

TEST_F(Settings, HistoriesOfferTheirValuesOnce)
{
    char szHistory[HISTORY_SIZE] = "720|640||x|352|720|352";
    FillHistoryCombo(&g_aCombo[1].list, szHistory, 0);
    EXPECT_EQ(Items(g_aCombo[1]), "352,640|x,720");
    EXPECT_STREQ(szHistory, "720|640||x|352") << "values met before leave the history too";
    EXPECT_EQ(g_aCombo[1].iSel, 0);
    // A value used goes to the front of the history and is selected.
    EXPECT_FALSE(UpdateHistoryList(&g_aCombo[1].list, FALSE, "352", szHistory, HISTORY_LIMIT));
    EXPECT_STREQ(szHistory, "352|720|640||x");
    EXPECT_EQ(g_aCombo[1].items[(size_t)g_aCombo[1].iSel], "352");
    EXPECT_TRUE(UpdateHistoryList(&g_aCombo[1].list, FALSE, "1280", szHistory, HISTORY_LIMIT));
    EXPECT_STREQ(szHistory, "1280|352|720|640||x");
    EXPECT_EQ(Items(g_aCombo[1]), "1280,352,640|x,720");
    EXPECT_FALSE(UpdateHistoryList(&g_aCombo[1].list, FALSE, "720", szHistory, HISTORY_LIMIT));
    EXPECT_STREQ(szHistory, "720|1280|352|640||x");
    // Removing.
    EXPECT_TRUE(UpdateHistoryList(&g_aCombo[1].list, TRUE, "640|x", szHistory, HISTORY_LIMIT));
    EXPECT_EQ(Items(g_aCombo[1]), "1280,352,720");
    // Letter case does not make a new value.
    EXPECT_FALSE(UpdateHistoryList(&g_aCombo[3].list, FALSE, "A", g_szRateHistory, HISTORY_LIMIT) &&
                 UpdateHistoryList(&g_aCombo[3].list, FALSE, "a", g_szRateHistory, HISTORY_LIMIT));
    EXPECT_EQ(g_aCombo[3].items.size(), 1u);
}

TEST_F(Settings, AHistoryThatWouldGrowTooLongLosesItsOldestValues)
{
    char szHistory[HISTORY_SIZE] = "";
    // 200 values of 9 characters: 10 with the separator, so at most 102.
    for (int i = 0; i < 200; i++) {
        char sz[16];
        snprintf(sz, sizeof(sz), "%09d", 100000000 + i);
        UpdateHistoryList(&g_aCombo[1].list, FALSE, sz, szHistory, HISTORY_LIMIT);
        ASSERT_LE(strlen(szHistory), 1022u) << i;
    }
    // The newest is first, the oldest are gone from both.
    EXPECT_EQ(std::string(szHistory).substr(0, 10), "100000199|");
    size_t nValues = 1;
    for (const char *p = szHistory; *p; p++) nValues += *p == '|';
    EXPECT_EQ(g_aCombo[1].items.size(), nValues);
    EXPECT_EQ(g_aCombo[1].items.back(), "100000199");
    EXPECT_EQ(g_aCombo[1].list.pfnFind(&g_aCombo[1], -1, "100000000", TRUE), CB_ERR);
    EXPECT_GT(nValues, 90u);
    // Values of another length reach the limit at other places: each value
    // used still goes to the front, and the history never passes 1023.
    for (int i = 0; i < 300; i++) {
        char sz[16];
        snprintf(sz, sizeof(sz), "%0*d", 5 + i % 5, i);
        UpdateHistoryList(&g_aCombo[1].list, FALSE, sz, szHistory, HISTORY_LIMIT);
        ASSERT_EQ(std::string(szHistory).substr(0, strlen(sz) + 1), std::string(sz) + "|") << i;
        ASSERT_LE(strlen(szHistory), 1023u) << i;
    }
}

TEST_F(Settings, ProfileEntriesOfEveryKindComeBackAsTheyWere)
{
    char szQuoted[64] = "\"quoted text\"";
    char szPlain[64] = "plain";
    BOOL fYes = TRUE, fNo = FALSE;
    double dbl = 29.97;
    DWORD dwHex = 0xCAFEF00D, dwUnsigned = 4000000000u;
    LONG lSigned = -12345;
    BYTE bHex = 0xA5;
    WORD wHex = 0x0BEE;
    PROFILEENTRY aEntries[] = {
        {"T", "Quoted", szQuoted, szQuoted, NULL, PROFILE_TEXT | sizeof(szQuoted)},
        {"T", "Plain", szPlain, szPlain, NULL, PROFILE_TEXT | sizeof(szPlain)},
        {"T", "Yes", &fYes, &fYes, NULL, PROFILE_YESNO},
        {"T", "No", &fNo, &fNo, NULL, PROFILE_YESNO},
        {"T", "Double", &dbl, &dbl, NULL, PROFILE_DOUBLE},
        {"T", "Hex", &dwHex, &dwHex, NULL, PROFILE_HEX},
        {"T", "Hex8", &bHex, &bHex, NULL, PROFILE_HEX | PROFILE_8BIT},
        {"T", "Hex16", &wHex, &wHex, NULL, PROFILE_HEX | PROFILE_16BIT},
        {"T", "Signed", &lSigned, &lSigned, NULL, PROFILE_SIGNED},
        {"T", "Unsigned", &dwUnsigned, &dwUnsigned, NULL, 0},
    };
    for (const PROFILEENTRY &e : aEntries) ASSERT_TRUE(SaveProfileEntry(&e)) << e.pszKey;
    std::string ini = ReadText(Path("Spoolmend.ini"));
    for (const char *pszLine : {"Quoted=\"\"quoted text\"\"", "Yes=Yes", "No=No", "Double=29.970000", "Hex=CAFEF00D",
                                "Hex8=A5", "Hex16=0BEE", "Signed=-12345", "Unsigned=4000000000"})
        EXPECT_NE(ini.find(pszLine), std::string::npos) << pszLine << " in\n" << ini;
    szQuoted[0] = szPlain[0] = '\0';
    fYes = FALSE;
    fNo = TRUE;
    dbl = 0;
    dwHex = dwUnsigned = 0;
    lSigned = 0;
    bHex = 0;
    wHex = 0;
    for (const PROFILEENTRY &e : aEntries) ASSERT_TRUE(LoadProfileEntry(&e)) << e.pszKey;
    EXPECT_STREQ(szQuoted, "\"quoted text\"");
    EXPECT_STREQ(szPlain, "plain");
    EXPECT_TRUE(fYes);
    EXPECT_FALSE(fNo);
    EXPECT_DOUBLE_EQ(dbl, 29.97);
    EXPECT_EQ(dwHex, 0xCAFEF00Du);
    EXPECT_EQ(bHex, 0xA5);
    EXPECT_EQ(wHex, 0x0BEE);
    EXPECT_EQ(lSigned, -12345);
    EXPECT_EQ(dwUnsigned, 4000000000u);
    // Missing keys keep the default; a yes/no default decides how other
    // texts read.
    DWORD dwDefault = 77, dwTarget = 1;
    BOOL fDefaultTrue = TRUE, fTarget = FALSE;
    PROFILEENTRY missing = {"T", "Missing", &dwDefault, &dwTarget, NULL, 0};
    LoadProfileEntry(&missing);
    EXPECT_EQ(dwTarget, 77u);
    WriteText(Path("Spoolmend.ini"), "[T]\r\nMaybe=maybe\r\n");
    PROFILEENTRY maybe = {"T", "Maybe", &fDefaultTrue, &fTarget, NULL, PROFILE_YESNO};
    LoadProfileEntry(&maybe);
    EXPECT_TRUE(fTarget);
    BOOL fDefaultFalse = FALSE;
    maybe.pDefault = &fDefaultFalse;
    LoadProfileEntry(&maybe);
    EXPECT_FALSE(fTarget);
}

TEST_F(Settings, StartWithoutAFileAndCloseAndStartAgain)
{
    g_bihRgb.biWidth = 720;
    g_bihRgb.biHeight = 480;
    LoadSalvageSettings();
    EXPECT_STREQ(g_szFrameRate, "30000/1001");
    EXPECT_EQ(g_dwRate, 30000u);
    EXPECT_EQ(g_dwScale, 1001u);
    EXPECT_EQ(g_ui.texts[IDC_FPS], "29.970029970030");
    EXPECT_EQ(Items(g_aCombo[1]), "720");
    EXPECT_EQ(Items(g_aCombo[2]), "480");
    EXPECT_EQ(Items(g_aCombo[3]), "30000/1001");
    // The width waits for the posted notification to be applied.
    EXPECT_EQ(g_bihRgb.biWidth, 0);
    ASSERT_EQ(g_ui.posted.size(), 1u);
    EXPECT_EQ(g_ui.posted[0], std::make_pair(IDC_WIDTH, (UINT)CBN_SELENDOK));
    OnSizeField(IDC_WIDTH, CBN_SELENDOK);
    EXPECT_EQ(g_bihRgb.biWidth, 720);
    ASSERT_NE(g_pbRgb, nullptr) << "the picture size was applied";
    EXPECT_EQ(g_cbRgb, 1095168u);
    // A stored codec that is not installed selects "無圧縮".
    g_fccHandler = mmioFOURCC('G', 'O', 'N', 'E');
    FillCodecList();
    ASSERT_GE(g_aCombo[0].items.size(), 2u);
    EXPECT_EQ(g_aCombo[0].iSel, 0);
    EXPECT_EQ(g_aCombo[0].items[0], std::string("無圧縮") + std::string(65 - strlen("無圧縮"), ' ') + "00000000,0");
    // The sample codec's entry: its description padded to column 65, its
    // code and whether it has a configuration dialog.
    std::string sample = "Sample lossless run-length codec";
    int iSample = g_aCombo[0].list.pfnFind(&g_aCombo[0], -1, sample.c_str(), FALSE);
    ASSERT_GE(iSample, 1);
    EXPECT_EQ(g_aCombo[0].items[(size_t)iSample], sample + std::string(65 - sample.size(), ' ') + "4C504D53,0");
    g_fccHandler = SAMPLE_FOURCC;
    FillCodecList();
    EXPECT_EQ(g_aCombo[0].iSel, g_aCombo[0].list.pfnFind(&g_aCombo[0], -1, sample.c_str(), FALSE));
    OnCodecSelected();
    EXPECT_EQ(g_fccHandler, SAMPLE_FOURCC);
    EXPECT_FALSE(g_fHasConfig);

    // Typed sizes: below 16 kept but not applied; nonsense put back.
    g_aCombo[2].edit = "12";
    OnSizeField(IDC_HEIGHT, CBN_EDITCHANGE);
    EXPECT_EQ(g_bihRgb.biHeight, 12);
    EXPECT_EQ(g_cbRgb, 1095168u) << "not applied";
    g_aCombo[2].edit = "120";
    g_aCombo[2].dwEditSel = MAKELONG(3, 3);
    OnSizeField(IDC_HEIGHT, CBN_EDITCHANGE);
    EXPECT_EQ(g_bihRgb.biHeight, 120);
    EXPECT_EQ(g_cbRgb, 736u * 128 * 3);
    EXPECT_EQ(g_aCombo[2].dwEditSel, (DWORD)MAKELONG(3, 3));
    g_aCombo[2].edit = "abc";
    OnSizeField(IDC_HEIGHT, CBN_EDITCHANGE);
    EXPECT_EQ(g_aCombo[2].edit, "120");
    snprintf(g_szFrameRate, sizeof(g_szFrameRate), "\"25\"");
    snprintf(g_szRefFile, sizeof(g_szRefFile), "%s", "somewhere.000");

    SaveSalvageSettings();
    std::string ini = ReadText(Path("Spoolmend.ini"));
    for (const char *pszLine : {"RefFile=somewhere.000", "Handler=1280331091", "Width=720", "Height=120",
                                "FrameRate=\"\"25\"\""})
        EXPECT_NE(ini.find(pszLine), std::string::npos) << pszLine << " in\n" << ini;
    EXPECT_NE(ini.find("[List]\r\nWidth=720"), std::string::npos) << ini;

    // The next start takes everything back but the reference file.
    g_szRefFile[0] = '\0';
    g_fccHandler = 0;
    g_bihRgb.biWidth = 1;
    g_bihRgb.biHeight = 1;
    snprintf(g_szFrameRate, sizeof(g_szFrameRate), "1");
    for (int i = 0; i < 4; i++) InitFakeCombo(&g_aCombo[i], i != 0);
    LoadSalvageSettings();
    EXPECT_STREQ(g_szRefFile, "");
    EXPECT_EQ(g_fccHandler, SAMPLE_FOURCC);
    EXPECT_EQ(g_bihRgb.biHeight, 120);
    EXPECT_STREQ(g_szFrameRate, "\"25\"");
    EXPECT_EQ(Items(g_aCombo[2]), "120,480");
}

TEST_F(Settings, DefaultAviNames)
{
    struct {
        const char *pszRef, *pszAvi;
    } aCases[] = {
        {"take.000", "take.avi"},
        {"take", "take.avi"},
        {"take.12345", "take.avi"},
#ifdef _WIN32
        {"D:\\rec\\take.000", "D:\\rec\\take.avi"},
        {"dir.v2\\take", "dir.v2\\take.avi"},
#else
        {"dir.v2/take", "dir.v2/take.avi"},
#endif
        {"", ""},
    };
    for (auto &c : aCases) {
        char szAvi[MAX_PATH] = "";
        MakeDefaultAviName(szAvi, c.pszRef);
        EXPECT_STREQ(szAvi, c.pszAvi) << c.pszRef;
    }
    char szKept[MAX_PATH] = "other.avi";
    MakeDefaultAviName(szKept, "take.000");
    EXPECT_STREQ(szKept, "other.avi");
}

// --- Settings from another AVI ----------------------------------------------

namespace {

// An AVI with one video stream of the handler, format, rates.
std::vector<BYTE> VideoAvi(FOURCC fccHandler, DWORD dwRate, DWORD dwScale, DWORD dwMicroSec,
                           const std::vector<BYTE> &format)
{
    AVISPEC spec;
    spec.fccHandler = fccHandler;
    spec.format = format;
    spec.dwTotalFrames = spec.dwLength = 1;
    spec.chunks.push_back(Frame("00dc", std::vector<BYTE>(8, 1)));
    std::vector<BYTE> bytes = BuildAvi(spec);
    // The builder's rates, then ours.
    for (size_t at = 0; at + 8 < bytes.size(); at++) {
        if (memcmp(&bytes[at], "avih", 4) == 0) memcpy(&bytes[at + 8], &dwMicroSec, 4);
        if (memcmp(&bytes[at], "strh", 4) == 0) {
            memcpy(&bytes[at + 8 + 20], &dwScale, 4);
            memcpy(&bytes[at + 8 + 24], &dwRate, 4);
            break;
        }
    }
    return bytes;
}

}  // namespace

TEST_F(TakeAvi, CodecSizeAndRateGoIntoTheFields)
{
    std::vector<BYTE> format = MakeFormat(320, -240, 24, SAMPLE_FOURCC, std::vector<BYTE>(6, 9));
    std::vector<BYTE> avi = VideoAvi(SAMPLE_FOURCC, 30000, 1001, 33367, format);
    ASSERT_TRUE(WriteBytes(Path("other.avi"), avi.data(), avi.size()));
    FillCodecList();
    size_t nCodecs = g_aCombo[0].items.size();
    ASSERT_TRUE(TakeAviSettings(Path("other.avi").c_str()));
    EXPECT_TRUE(g_ui.shown.empty()) << OnlyMessage();
    EXPECT_EQ(g_aCombo[1].edit, "320");
    EXPECT_EQ(g_aCombo[2].edit, "240") << "a top-down picture's height";
    EXPECT_EQ(g_aCombo[3].edit, "30000/1001");
    std::vector<std::pair<int, UINT>> posted = {{IDC_FRAMERATE, CBN_EDITCHANGE},
                                                {IDC_WIDTH, CBN_EDITCHANGE},
                                                {IDC_HEIGHT, CBN_EDITCHANGE},
                                                {IDC_CODEC, CBN_SELENDOK}};
    EXPECT_EQ(g_ui.posted, posted);
    EXPECT_EQ(g_aCombo[0].items.size(), nCodecs) << "the codec was in the list already";
    ASSERT_GE(g_aCombo[0].iSel, 1);
    EXPECT_EQ(g_aCombo[0].items[(size_t)g_aCombo[0].iSel].substr(0, 32), "Sample lossless run-length codec");
    ASSERT_EQ(g_cbCompressed, format.size());
    EXPECT_EQ(memcmp(g_pbiCompressed, format.data(), format.size()), 0);
    // The window then handles the notifications as if typed.
    OnFrameRateField(CBN_EDITCHANGE);
    OnSizeField(IDC_WIDTH, CBN_EDITCHANGE);
    OnSizeField(IDC_HEIGHT, CBN_EDITCHANGE);
    OnCodecSelected();
    EXPECT_EQ(g_dwRate, 30000u);
    EXPECT_EQ(g_bihRgb.biWidth, 320);
    EXPECT_EQ(g_bihRgb.biHeight, 240);
    EXPECT_EQ(g_fccHandler, SAMPLE_FOURCC);
}

TEST_F(TakeAvi, RateFromTheMainHeaderOrNone)
{
    std::vector<BYTE> format = MakeFormat(64, 48, 24, SAMPLE_FOURCC);
    std::vector<BYTE> avi = VideoAvi(SAMPLE_FOURCC, 0, 1, 33367, format);
    ASSERT_TRUE(WriteBytes(Path("a.avi"), avi.data(), avi.size()));
    ASSERT_TRUE(TakeAviSettings(Path("a.avi").c_str()));
    EXPECT_EQ(g_aCombo[3].edit, "1000000/33367");
    avi = VideoAvi(SAMPLE_FOURCC, 0, 0, 0, format);
    ASSERT_TRUE(WriteBytes(Path("b.avi"), avi.data(), avi.size()));
    ASSERT_TRUE(TakeAviSettings(Path("b.avi").c_str()));
    EXPECT_EQ(g_aCombo[3].edit, "");
    OnFrameRateField(CBN_EDITCHANGE);
    EXPECT_EQ(g_dblFps, 0.0);
}

TEST_F(TakeAvi, FilesThatGiveNoSettings)
{
    const std::string closing = "\nコーデックの設定が取得できませんでした.";
    std::vector<BYTE> format = MakeFormat(64, 48, 24, SAMPLE_FOURCC);
    std::vector<BYTE> noFormat = VideoAvi(SAMPLE_FOURCC, 25, 1, 40000, format);
    // A stream list without "strf": rename the chunk.
    for (size_t at = 0; at + 4 < noFormat.size(); at++)
        if (memcmp(&noFormat[at], "strf", 4) == 0) memcpy(&noFormat[at], "strx", 4);
    std::vector<BYTE> shortFormat = VideoAvi(SAMPLE_FOURCC, 25, 1, 40000, std::vector<BYTE>(format.begin(), format.begin() + 36));
    std::vector<BYTE> hugeFormat = VideoAvi(SAMPLE_FOURCC, 25, 1, 40000, format);
    for (size_t at = 0; at + 8 < hugeFormat.size(); at++) {
        if (memcmp(&hugeFormat[at], "strf", 4) == 0) {
            DWORD cb = 0x7FFFFF00u;
            memcpy(&hugeFormat[at + 4], &cb, 4);
        }
    }
    // Sizes that wrap round in 32 bits: a stream list, and another chunk
    // in the header list.
    std::vector<BYTE> wrappingList = VideoAvi(SAMPLE_FOURCC, 25, 1, 40000, format);
    std::vector<BYTE> wrappingChunk = wrappingList;
    for (size_t at = 0; at + 12 < wrappingList.size(); at++) {
        DWORD cbHuge = 0xFFFFFFF8u;
        if (memcmp(&wrappingList[at], "LIST", 4) == 0 && memcmp(&wrappingList[at + 8], "strl", 4) == 0)
            memcpy(&wrappingList[at + 4], &cbHuge, 4);
        if (memcmp(&wrappingChunk[at], "avih", 4) == 0) {
            memcpy(&wrappingChunk[at], "JUNK", 4);
            memcpy(&wrappingChunk[at + 4], &cbHuge, 4);
        }
    }
    struct {
        const char *pszName;
        std::vector<BYTE> bytes;
        std::string message;
    } aCases[] = {
        {"wrappingchunk.avi", wrappingChunk, "<dir>wrappingchunk.aviにavihチャンクがありません!"},
        {"dib.avi", VideoAvi(mmioFOURCC('D', 'I', 'B', ' '), 25, 1, 40000, format), "<dir>dib.aviにはコーデックが使用されていません!"},
        {"nocodec.avi", VideoAvi(mmioFOURCC('G', 'O', 'N', 'E'), 25, 1, 40000, format),
         "<dir>nocodec.aviのビデオコーデックGONEがオープンできません!"},
        {"noformat.avi", noFormat, ""},
        {"shortformat.avi", shortFormat, ""},
        {"hugeformat.avi", hugeFormat, "<dir>hugeformat.avi(strf)が読み出せません!"},
        {"text.avi", std::vector<BYTE>(100, 'x'), "<dir>text.aviにAVIチャンクがありません!"},
    };
    // A stream list that claims more than its header list is read as far
    // as that goes; its stream is there to take.
    ASSERT_TRUE(WriteBytes(Path("wrappinglist.avi"), wrappingList.data(), wrappingList.size()));
    EXPECT_TRUE(TakeAviSettings(Path("wrappinglist.avi").c_str())) << OnlyMessage();
    for (auto &c : aCases) {
        ASSERT_TRUE(WriteBytes(Path(c.pszName), c.bytes.data(), c.bytes.size()));
        g_ui.shown.clear();
        g_ui.posted.clear();
        EXPECT_FALSE(TakeAviSettings(Path(c.pszName).c_str())) << c.pszName;
        EXPECT_EQ(OnlyMessage(), c.message + closing) << c.pszName;
        EXPECT_TRUE(g_ui.posted.empty()) << c.pszName;
        if (!g_ui.shown.empty()) {
            EXPECT_EQ(g_ui.shown[0].uType, (UINT)(MB_OK | MB_ICONQUESTION));
        }
    }
    g_ui.shown.clear();
    EXPECT_FALSE(TakeAviSettings(Path("missing.avi").c_str()));
    EXPECT_EQ(OnlyMessage(), "<dir>missing.aviがオープンできません!" + closing);
}

TEST_F(TakeAvi, AviFilesWrittenByFfmpeg)
{
    const std::string closing = "\nコーデックの設定が取得できませんでした.";
    std::string data = TestDataFolder();
    // Uncompressed: no codec to take.
    EXPECT_FALSE(TakeAviSettings(JoinPath(data, "ff-bgr24.avi").c_str()));
    ASSERT_EQ(g_ui.shown.size(), 1u);
    EXPECT_NE(g_ui.shown[0].text.find("にはコーデックが使用されていません!" + closing), std::string::npos);
    // Motion JPEG, with the sample codec listed under its code: the codec's
    // entry is added to the list, size and rate taken.
    std::string name = UniqueName("mendmjpg") + ".dll";
    ASSERT_TRUE(CopyBytes(BuiltModule("samplecodec"), JoinPath(SystemFolder(), name)));
    ASSERT_TRUE(RegisterVideoCodec("MJPG", name.c_str()));
    g_aCombo[0].items = {"無圧縮"};
    ASSERT_TRUE(TakeAviSettings(JoinPath(data, "ff-mjpeg-audio.avi").c_str()));
    UnregisterVideoCodec("MJPG");
    DeleteFileA(JoinPath(SystemFolder(), name).c_str());
    ASSERT_EQ(g_aCombo[0].items.size(), 2u);
    EXPECT_EQ(g_aCombo[0].iSel, 1);
    EXPECT_EQ(g_aCombo[0].items[1].substr(65), "47504A4D,0");
    EXPECT_EQ(g_aCombo[1].edit, "32");
    EXPECT_EQ(g_aCombo[2].edit, "24");
    EXPECT_EQ(g_aCombo[3].edit, "5/1");
}

#ifndef _WIN32
TEST_F(TakeAvi, AnAviOfMoreThanTwoGigabytes)
{
    // A long recording: the header list at the start, 3 GB in all (a
    // sparse file).
    std::vector<BYTE> format = MakeFormat(64, 48, 24, SAMPLE_FOURCC);
    std::vector<BYTE> avi = VideoAvi(SAMPLE_FOURCC, 25, 1, 40000, format);
    ASSERT_TRUE(WriteBytes(Path("long.avi"), avi.data(), avi.size()));
    ASSERT_EQ(truncate(Path("long.avi").c_str(), 3LL << 30), 0);
    EXPECT_TRUE(TakeAviSettings(Path("long.avi").c_str())) << OnlyMessage();
    EXPECT_EQ(g_aCombo[1].edit, "64");
    DeleteFileA(Path("long.avi").c_str());
}
#endif
