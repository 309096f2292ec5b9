// spool install, uninstall, status and config against codecs registered
// with the system: the sample codec under a name of its own in the system
// folder, opened by a FOURCC of its own.
#include "cli/install.h"
#include "codec/refformat.h"
#include "codec/spoolcap.h"
#include "tests/dibheader.h"
#include "tests/spool_fixture.h"

#include <map>

#ifdef _WIN32
// The faults are the stand-in's; under Wine only the check is made to fail.
#define SPOOLFAULT_MOVE 0
#define SPOOLFAULT_CREATE 1
#endif

namespace {

// This test program, which carries what install looks for in two halves.
std::string SelfPath()
{
    char sz[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, sz, sizeof(sz));
    return std::string(sz, n < sizeof(sz) ? n : 0);
}

class Install : public Spool {
protected:
    void SetUp() override
    {
        Spool::SetUp();
        sys = SystemFolder();
        name = UniqueName("spi") + TEST_MODULE_SUFFIX;
        // A FOURCC of this test's own: the system may remember codecs by it.
        static int s_nTest;
        snprintf(szFourcc, sizeof(szFourcc), "SI%02u", (unsigned)(++s_nTest % 100));
        ASSERT_TRUE(CopyBytes(BuiltModule("samplecodec"), JoinPath(sys, name)));
        ASSERT_TRUE(RegisterVideoCodec(szFourcc, name.c_str()));
        std::string stem = name.substr(0, name.rfind('.'));
        ini = JoinPath(WindowsDir(), stem + ".ini");
        spoolcap = BuiltModule("spoolcap");
    }
    void TearDown() override
    {
        g_pfnAskCodec = AskCodec;
#ifndef _WIN32
        SpoolArmFault(SPOOLFAULT_CREATE, 0);
        SpoolArmFault(SPOOLFAULT_MOVE, 0);
#endif
        UnregisterVideoCodec(szFourcc);
        for (const char *pszSuffix : {"", ".org", ".spoolcap-new", ".spoolcap-old"})
            DeleteFileA(JoinPath(sys, name + pszSuffix).c_str());
        DeleteFileA(ini.c_str());
        Spool::TearDown();
    }
    // Every file that install and uninstall may touch, with its bytes.
    std::map<std::string, std::vector<BYTE>> Snapshot()
    {
        std::map<std::string, std::vector<BYTE>> files;
        for (const char *pszSuffix : {"", ".org", ".spoolcap-new", ".spoolcap-old"}) {
            std::string path = JoinPath(sys, name + pszSuffix);
            if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) files[path] = ReadBytes(path);
        }
        if (GetFileAttributesA(ini.c_str()) != INVALID_FILE_ATTRIBUTES) files[ini] = ReadBytes(ini);
        return files;
    }
    RUN InstallIt() { return Run({"install", szFourcc, "--dll", spoolcap}); }
    // Compresses one picture through the codec as a host would: the size of
    // what the host stores, and whether the picture decompresses from it.
    DWORD RecordOneFrame(bool *pfRoundTrip)
    {
        DWORD fcc = 0;
        EXPECT_TRUE(ParseFourcc(szFourcc, &fcc));
        HIC hic = ICOpen(ICTYPE_VIDEO, fcc, ICMODE_COMPRESS | ICMODE_DECOMPRESS);
        if (!hic) return 0;
        BITMAPINFOHEADER bihIn = MakeDibHeader(16, 8, 24, BI_RGB, DibStride(16, 24) * 8);
        std::vector<BYTE> picture(bihIn.biSizeImage);
        for (size_t i = 0; i < picture.size(); i++) picture[i] = (BYTE)(i * 7 / 5);
        BITMAPINFOHEADER bihOut;
        memset(&bihOut, 0, sizeof(bihOut));
        ICCompressGetFormat(hic, (LPBITMAPINFO)&bihIn, (LPBITMAPINFO)&bihOut);
        std::vector<BYTE> out(ICCompressGetSize(hic, (LPBITMAPINFO)&bihIn, (LPBITMAPINFO)&bihOut) + 4096);
        DWORD dwFlags = 0, ckid = 0;
        EXPECT_EQ(ICCompressBegin(hic, (LPBITMAPINFO)&bihIn, (LPBITMAPINFO)&bihOut), ICERR_OK);
        EXPECT_EQ(ICCompress(hic, ICCOMPRESS_KEYFRAME, &bihOut, out.data(), &bihIn, picture.data(), &ckid, &dwFlags,
                             0, 0, 0, NULL, NULL),
                  (DWORD)ICERR_OK);
        ICCompressEnd(hic);
        DWORD cbStored = bihOut.biSizeImage;
        std::vector<BYTE> back(picture.size());
        BITMAPINFOHEADER bihBack = bihIn;
        *pfRoundTrip = ICDecompressBegin(hic, (LPBITMAPINFO)&bihOut, (LPBITMAPINFO)&bihBack) == ICERR_OK &&
                       ICDecompress(hic, 0, &bihOut, out.data(), &bihBack, back.data()) == ICERR_OK &&
                       back == picture;
        ICDecompressEnd(hic);
        ICClose(hic);
        return cbStored;
    }
    std::string sys, name, ini, spoolcap;
    char szFourcc[5];
};

TEST_F(Install, RecordsThroughSpoolcapUntilUninstalledAndLeavesTheCodecAsItWas)
{
    std::vector<BYTE> codec = ReadBytes(JoinPath(sys, name));
    RUN run = InstallIt();
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(ReadBytes(JoinPath(sys, name + ".org")), codec);
    EXPECT_EQ(ReadBytes(JoinPath(sys, name)), ReadBytes(spoolcap));
    // Reference writing starts off: the host still gets ordinary frames.
    SPOOLSETTINGS settings;
    ReadSettingsFile(ini.c_str(), &settings);
    EXPECT_FALSE(settings.fEnabled);
    bool fRoundTrip = false;
    DWORD cbPlain = RecordOneFrame(&fRoundTrip);
    EXPECT_NE(cbPlain, (DWORD)sizeof(REFRECORD));
    EXPECT_TRUE(fRoundTrip);

    run = Run({"status"});
    EXPECT_NE(run.out.find(std::string(szFourcc) + "  " + name), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Spoolcap in front"), std::string::npos) << run.out;
    run = Run({"config", szFourcc, "Enabled=1", "basefile=" + Path("take")});
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    // The host now stores records; the frames go to the reference file and
    // play back from it.
    EXPECT_EQ(RecordOneFrame(&fRoundTrip), (DWORD)sizeof(REFRECORD));
    EXPECT_TRUE(fRoundTrip);
    EXPECT_NE(GetFileAttributesA(Path("take.000").c_str()), INVALID_FILE_ATTRIBUTES);
    run = Run({"status", "--json"});
    EXPECT_NE(run.out.find("\"spoolcap\": true"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"Enabled\": true"), std::string::npos) << run.out;

    run = Run({"uninstall", szFourcc});
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(ReadBytes(JoinPath(sys, name)), codec);
    EXPECT_EQ(GetFileAttributesA(JoinPath(sys, name + ".org").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(RecordOneFrame(&fRoundTrip), cbPlain);
    EXPECT_TRUE(fRoundTrip);
    // The user's settings stay for a later install.
    ReadSettingsFile(ini.c_str(), &settings);
    EXPECT_TRUE(settings.fEnabled);
    EXPECT_NE(Run({"status"}).out.find(name + " (" + MachineName(GetImageMachine(codec.data(), codec.size())) +
                                       ")  no Spoolcap"),
              std::string::npos);
}

// A driver whose name has a double-byte character ending in the byte of
// '\\' ("表示", 0x95 0x5C 0x8E 0xA6 in code page 932) is a plain file of the
// system folder: installed, told and uninstalled as any other.
TEST_F(Install, DriverNamesWhoseCharactersEndInTheByteOfABackslash)
{
    // Files are renamed by their handles, whose new names go through the
    // wide characters of the system's code page: these bytes are names only
    // where that page is 932.
    if (GetACP() != 932) GTEST_SKIP() << "names in code page 932 need a system whose code page is 932";
    std::string japanese = "\x95\x5C\x8E\xA6" + name;
    ASSERT_TRUE(MoveFileA(JoinPath(sys, name).c_str(), JoinPath(sys, japanese).c_str()));
    name = japanese;
    ini = JoinPath(WindowsDir(), name.substr(0, name.rfind('.')) + ".ini");
    ASSERT_TRUE(RegisterVideoCodec(szFourcc, name.c_str()));
    std::vector<BYTE> codec = ReadBytes(JoinPath(sys, name));
    RUN run = InstallIt();
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(ReadBytes(JoinPath(sys, name + ".org")), codec);
    run = Run({"status"});
    EXPECT_NE(run.out.find(Clean(std::string(szFourcc) + "  " + name)), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Spoolcap in front"), std::string::npos) << run.out;
    run = Run({"uninstall", szFourcc});
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(ReadBytes(JoinPath(sys, name)), codec);
}

// An install or uninstall killed after any of its steps leaves a journal;
// the next command on the codec (status, repair, or the command again)
// brings the codec's files to the state before or after, byte for byte,
// and the codec opens and records.
int g_nDieAtStep;
BOOL DieAtStep(int nStep) { return nStep != g_nDieAtStep; }
BOOL AskCodecUnwrapped(const CODECFILES *pFiles, CODECANSWER *pAnswer);

TEST_F(Install, AKillAfterAnyStepIsFinishedOrUndoneByTheNextCommand)
{
    std::string journal = JoinPath(sys, name + ".spoolcap-journal");
    struct {
        const char *pszOp;
        int nStep;
        const char *pszSettle;  // the next command
        bool fAfter;            // it ends in the state after the operation
    } aCases[] = {
        {"install", 1, "status", false},   {"install", 2, "repair", false},   {"install", 3, "status", true},
        {"install", 2, "install", false},  {"uninstall", 1, "repair", false}, {"uninstall", 2, "status", false},
        {"uninstall", 3, "status", true},  {"uninstall", 2, "uninstall", false},
    };
    // The settings file that the first install writes stays: made once here.
    ASSERT_EQ(InstallIt().nStatus, SPOOL_OK);
    ASSERT_EQ(Run({"uninstall", szFourcc}).nStatus, SPOOL_OK);
    for (const auto &c : aCases) {
        SCOPED_TRACE(std::string(c.pszOp) + " killed after step " + std::to_string(c.nStep) + ", then " + c.pszSettle);
        bool fInstall = strcmp(c.pszOp, "install") == 0;
        if (!fInstall) {
            ASSERT_EQ(InstallIt().nStatus, SPOOL_OK);
        }
        auto before = Snapshot();
        // The state after, from the operation run through, then undone.
        RUN run = fInstall ? InstallIt() : Run({"uninstall", szFourcc});
        ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
        auto after = Snapshot();
        ASSERT_EQ(Run(fInstall ? std::vector<std::string>{"uninstall", szFourcc}
                               : std::vector<std::string>{"install", szFourcc, "--dll", spoolcap})
                      .nStatus,
                  SPOOL_OK);
        ASSERT_TRUE(Snapshot() == before);

        g_nDieAtStep = c.nStep;
        g_pfnInstallStep = DieAtStep;
        run = fInstall ? InstallIt() : Run({"uninstall", szFourcc});
        g_pfnInstallStep = NULL;
        EXPECT_EQ(run.nStatus, SPOOL_ERROR);
        EXPECT_NE(GetFileAttributesA(journal.c_str()), INVALID_FILE_ATTRIBUTES);
        std::vector<std::string> next = {c.pszSettle, szFourcc};
        if (strcmp(c.pszSettle, "install") == 0) next = {"install", szFourcc, "--dll", spoolcap};
        if (strcmp(c.pszSettle, "status") == 0) next = {"status"};
        run = Run(next);
        EXPECT_NE(run.out.find(std::string("an interrupted ") + c.pszOp + (c.fAfter ? " was finished" : " was undone")),
                  std::string::npos)
            << run.out << run.err;
        EXPECT_EQ(GetFileAttributesA(journal.c_str()), INVALID_FILE_ATTRIBUTES);
        // The command run again after an undo did its work: the state after.
        bool fAfter = c.fAfter || strcmp(c.pszSettle, c.pszOp) == 0;
        EXPECT_TRUE(Snapshot() == (fAfter ? after : before));
        bool fRoundTrip = false;
        EXPECT_GT(RecordOneFrame(&fRoundTrip), 0u);
        EXPECT_TRUE(fRoundTrip);
        // Back to the codec alone for the next case.
        if (Snapshot() != before || fInstall == fAfter) Run({"uninstall", szFourcc});
    }
}

// A first install killed after its last rename is finished with its
// settings written, as one that ran through; a journal whose files are in no
// state of its steps (the ".org" gone) is left for the user, said so.
TEST_F(Install, AFinishedInstallHasItsSettingsAndAStrangeStateIsLeftAlone)
{
    std::string journal = JoinPath(sys, name + ".spoolcap-journal");
    ASSERT_EQ(GetFileAttributesA(ini.c_str()), INVALID_FILE_ATTRIBUTES);
    g_nDieAtStep = 3;
    g_pfnInstallStep = DieAtStep;
    EXPECT_EQ(InstallIt().nStatus, SPOOL_ERROR);
    g_pfnInstallStep = NULL;
    EXPECT_NE(Run({"status"}).out.find("was finished"), std::string::npos);
    SPOOLSETTINGS settings;
    settings.fEnabled = TRUE;
    ReadSettingsFile(ini.c_str(), &settings);
    EXPECT_NE(GetFileAttributesA(ini.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(settings.fEnabled);
    ASSERT_EQ(Run({"uninstall", szFourcc}).nStatus, SPOOL_OK);

    g_pfnInstallStep = DieAtStep;
    EXPECT_EQ(InstallIt().nStatus, SPOOL_ERROR);
    g_pfnInstallStep = NULL;
    std::vector<BYTE> codec = ReadBytes(JoinPath(sys, name + ".org"));
    ASSERT_TRUE(DeleteFileA(JoinPath(sys, name + ".org").c_str()));
    RUN run = Run({"repair", szFourcc});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_NE(run.err.find("could not be settled"), std::string::npos) << run.err;
    EXPECT_NE(GetFileAttributesA(journal.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(Run({"status"}).out.find("spool repair " + std::string(szFourcc)), std::string::npos);
    // Mended by hand as the message says.
    ASSERT_TRUE(WriteBytes(JoinPath(sys, name), codec.data(), codec.size()));
    ASSERT_TRUE(DeleteFileA(journal.c_str()));

    // A journal that a working run holds is no run cut short: left alone.
    auto before = Snapshot();
    g_nDieAtStep = 2;
    g_pfnInstallStep = DieAtStep;
    EXPECT_EQ(InstallIt().nStatus, SPOOL_ERROR);
    g_pfnInstallStep = NULL;
    auto killed = Snapshot();
    HANDLE hHeld = CreateFileA(journal.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    run = Run({"repair", szFourcc});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_NE(run.err.find("another run of spool"), std::string::npos) << run.err;
    EXPECT_TRUE(Snapshot() == killed);
    CloseHandle(hHeld);
    EXPECT_NE(Run({"repair", szFourcc}).out.find("was undone"), std::string::npos);
    EXPECT_TRUE(Snapshot() == before);

    // An install whose renames all happened, but through which the system
    // does not load the codec's own driver, is undone.
    g_nDieAtStep = 3;
    g_pfnInstallStep = DieAtStep;
    EXPECT_EQ(InstallIt().nStatus, SPOOL_ERROR);
    g_pfnInstallStep = NULL;
    g_pfnAskCodec = AskCodecUnwrapped;
    run = Run({"repair", szFourcc});
    g_pfnAskCodec = AskCodec;
    EXPECT_NE(run.out.find("an interrupted install was undone"), std::string::npos) << run.out << run.err;
    EXPECT_TRUE(Snapshot() == before);
}

// A run killed while it deleted Spoolcap's copy (an install undoing
// itself, an uninstall ending) leaves a journal whose copy is gone: the
// renames are still told by where the codec's driver is, and settled. A
// journal whose driver is gone is no state of its steps: left for the
// user, said so.
TEST_F(Install, AJournalWhoseCopyIsGoneIsSettledByWhereTheDriverIs)
{
    struct {
        const char *pszOp;
        int nStep;              // killed after it
        const char *pszGone;    // then this file goes
        const char *pszOutcome; // NULL: left for the user
    } aCases[] = {
        {"install", 1, ".spoolcap-new", "undone"},     // the copy went before the driver moved
        {"install", 2, ".spoolcap-new", "undone"},     // the driver is put back as it was
        {"uninstall", 3, ".spoolcap-old", "finished"}, // the copy went last
        {"install", 2, ".org", NULL},
    };
    // The settings file that the first install writes stays: made once here.
    ASSERT_EQ(InstallIt().nStatus, SPOOL_OK);
    ASSERT_EQ(Run({"uninstall", szFourcc}).nStatus, SPOOL_OK);
    auto plain = Snapshot();
    std::vector<BYTE> codec = ReadBytes(JoinPath(sys, name));
    std::string journal = JoinPath(sys, name + ".spoolcap-journal");
    for (const auto &c : aCases) {
        SCOPED_TRACE(std::string(c.pszOp) + " killed after step " + std::to_string(c.nStep) + ", then " + c.pszGone +
                     " gone");
        bool fInstall = strcmp(c.pszOp, "install") == 0;
        if (!fInstall) {
            ASSERT_EQ(InstallIt().nStatus, SPOOL_OK);
        }
        g_nDieAtStep = c.nStep;
        g_pfnInstallStep = DieAtStep;
        RUN run = fInstall ? InstallIt() : Run({"uninstall", szFourcc});
        g_pfnInstallStep = NULL;
        ASSERT_EQ(run.nStatus, SPOOL_ERROR);
        ASSERT_TRUE(DeleteFileA(JoinPath(sys, name + c.pszGone).c_str()));
        run = Run({"repair", szFourcc});
        if (!c.pszOutcome) {
            EXPECT_EQ(run.nStatus, SPOOL_ERROR);
            EXPECT_NE(run.err.find("could not be settled"), std::string::npos) << run.err;
            EXPECT_NE(GetFileAttributesA(journal.c_str()), INVALID_FILE_ATTRIBUTES);
            // Mended by hand.
            for (const char *pszSuffix : {".spoolcap-journal", ".spoolcap-new"})
                DeleteFileA(JoinPath(sys, name + pszSuffix).c_str());
            ASSERT_TRUE(WriteBytes(JoinPath(sys, name), codec.data(), codec.size()));
            continue;
        }
        EXPECT_NE(run.out.find(std::string("an interrupted ") + c.pszOp + " was " + c.pszOutcome), std::string::npos)
            << run.out << run.err;
        EXPECT_TRUE(Snapshot() == plain);
    }
}

// Settings kept from an earlier install that turn reference writing on are
// shown when installing again, and refused while their folder is gone.
TEST_F(Install, KeptSettingsThatWriteReferencesAreShownAndCheckedOnInstall)
{
    ASSERT_EQ(InstallIt().nStatus, SPOOL_OK);
    std::string folder = Path("recs"), base = JoinPath(folder, "take");
    ASSERT_EQ(Run({"config", szFourcc, "--mkdir", "BaseFile=" + base, "Enabled=1"}).nStatus, SPOOL_OK);
    ASSERT_EQ(Run({"uninstall", szFourcc}).nStatus, SPOOL_OK);
    RUN run = InstallIt();
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_NE(run.out.find("reference writing is ON.\n  BaseFile=" + Clean(base) + "\n"), std::string::npos) << run.out;
    ASSERT_EQ(Run({"uninstall", szFourcc}).nStatus, SPOOL_OK);
    ASSERT_TRUE(RemoveDirectoryA(folder.c_str()));
    auto before = Snapshot();
    run = InstallIt();
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_NE(run.err.find("whose folder " + Clean(folder) + " is not there"), std::string::npos) << run.err;
    EXPECT_TRUE(Snapshot() == before);
    run = Run({"install", szFourcc, "--dll", spoolcap, "--keep-settings"});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
}

// A codec updated over Spoolcap (its new driver under the name, the old
// ".org" still there), and a copy of Spoolcap left by a run killed before
// its journal: status says what to do, and that does it.
TEST_F(Install, StatesAfterACodecUpdateAndLeftoversAreToldAndMended)
{
    ASSERT_EQ(InstallIt().nStatus, SPOOL_OK);
    std::vector<BYTE> updated = ReadBytes(BuiltModule("samplecodec"));
    updated.push_back(0x5A);  // another build of the codec
    ASSERT_TRUE(WriteBytes(JoinPath(sys, name), updated.data(), updated.size()));
    RUN run = Run({"status"});
    EXPECT_NE(run.out.find("left from before an update of the codec: spool install " + std::string(szFourcc) +
                           " --after-update"),
              std::string::npos)
        << run.out;
    run = Run({"status", "--json"});
    EXPECT_NE(run.out.find("\"interrupted\": false, \"org_left_by_update\": true, \"leftover\": null"), std::string::npos)
        << run.out;
    EXPECT_EQ(InstallIt().nStatus, SPOOL_ERROR);
    run = Run({"install", szFourcc, "--dll", spoolcap, "--after-update"});
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_NE(run.out.find("was moved aside as"), std::string::npos) << run.out;
    EXPECT_EQ(ReadBytes(JoinPath(sys, name + ".org")), updated);
    EXPECT_EQ(ReadBytes(JoinPath(sys, name)), ReadBytes(spoolcap));

    // An install after an update that does not go through puts the old
    // driver back where it was.
    ASSERT_EQ(Run({"uninstall", szFourcc}).nStatus, SPOOL_OK);
    ASSERT_TRUE(CopyBytes(BuiltModule("samplecodec"), JoinPath(sys, name + ".org")));
    std::vector<BYTE> org = ReadBytes(JoinPath(sys, name + ".org"));
    g_pfnAskCodec = AskCodecUnwrapped;
    run = Run({"install", szFourcc, "--dll", spoolcap, "--after-update"});
    g_pfnAskCodec = AskCodec;
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_NE(run.out.find("was put back as"), std::string::npos) << run.out << run.err;
    EXPECT_EQ(ReadBytes(JoinPath(sys, name + ".org")), org);
    ASSERT_TRUE(DeleteFileA(JoinPath(sys, name + ".org").c_str()));
    ASSERT_EQ(InstallIt().nStatus, SPOOL_OK);

    std::string leftover = JoinPath(sys, name + ".spoolcap-old");
    ASSERT_TRUE(CopyBytes(spoolcap, leftover));
    run = Run({"status"});
    EXPECT_NE(run.out.find(Clean(leftover) + " is left from an earlier run: spool repair " + szFourcc), std::string::npos)
        << run.out;
    run = Run({"status", "--json"});
    EXPECT_NE(run.out.find("\"org_left_by_update\": false, \"leftover\": \"" + Clean(leftover)), std::string::npos) << run.out;
    run = Run({"repair", szFourcc});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(GetFileAttributesA(leftover.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(Run({"repair", szFourcc}).out.find("Nothing"), std::string::npos);
    ASSERT_EQ(Run({"uninstall", szFourcc}).nStatus, SPOOL_OK);
    // The driver from before the update, moved aside, is the user's.
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA(JoinPath(sys, name + ".org.*").c_str(), &fd);
    ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
    FindClose(hFind);
    DeleteFileA(JoinPath(sys, fd.cFileName).c_str());
}

TEST_F(Install, RefusalsChangeNothing)
{
    std::vector<BYTE> pe32(0x200, 0);
    pe32[0] = 'M', pe32[1] = 'Z', pe32[0x3C] = 0x80;
    memcpy(&pe32[0x80], "PE\0\0\x4c\x01", 6);
    std::vector<BYTE> pe64 = pe32;
    pe64[0x84] = 0x64, pe64[0x85] = 0x86;
    std::vector<BYTE> samplecodec = ReadBytes(BuiltModule("samplecodec"));
    bool fCodecIs32 = GetImageMachine(samplecodec.data(), samplecodec.size()) == 0x014C;
    const struct {
        const char *pszWhat;
        std::vector<BYTE> codec;  // the codec's driver; empty: the sample codec
        bool fOrgExists;
        bool fDllIsCodec;          // --dll names the codec, not Spoolcap
        const char *pszFourcc;     // NULL: the registered one
        const char *pszSaid;
    } aCases[] = {
        {"unknown FOURCC", {}, false, false, "ZZ9Q", "no video codec ZZ9Q is installed"},
        {"not a FOURCC", {}, false, false, "LONGER", "is not a FOURCC"},
        {"a FOURCC that is a profile comment", {}, false, false, ";x", "is not a FOURCC"},
        {"a driver of the other width", fCodecIs32 ? pe64 : pe32, false, false, NULL, "install the Spoolcap of the"},
        {"a driver that is no module", std::vector<BYTE>(100, 'x'), false, false, NULL, "is not a module"},
        {"a .org beside the driver", {}, true, false, NULL, "--after-update moves it aside"},
        {"Spoolcap as the driver", ReadBytes(spoolcap), false, false, NULL, "is Spoolcap"},
        {"--dll names no Spoolcap", {}, false, true, NULL, "is not a Spoolcap module"},
        {"--dll names the program that looks for Spoolcap", {}, false, false, NULL, "is not a Spoolcap module"},
        {"--dll names a file that is missing", {}, false, false, NULL, "is not there"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        if (!c.codec.empty()) ASSERT_TRUE(WriteBytes(JoinPath(sys, name), c.codec.data(), c.codec.size()));
        else ASSERT_TRUE(WriteBytes(JoinPath(sys, name), samplecodec.data(), samplecodec.size()));
        if (c.fOrgExists) {
            ASSERT_TRUE(CopyBytes(BuiltModule("samplecodec"), JoinPath(sys, name + ".org")));
        }
        auto before = Snapshot();
        std::string dll = c.fDllIsCodec ? BuiltModule("samplecodec") : spoolcap;
        if (strstr(c.pszWhat, "looks for")) dll = SelfPath();
        if (strstr(c.pszWhat, "missing")) dll = Path("none" TEST_MODULE_SUFFIX);
        RUN run = Run({"install", c.pszFourcc ? c.pszFourcc : szFourcc, "--dll", dll});
        EXPECT_EQ(run.nStatus, SPOOL_ERROR);
        EXPECT_NE(run.err.find(c.pszSaid), std::string::npos) << run.err;
        EXPECT_TRUE(Snapshot() == before);
        DeleteFileA(JoinPath(sys, name + ".org").c_str());
    }
    // A second install of a codec that Spoolcap stands in front of.
    ASSERT_TRUE(WriteBytes(JoinPath(sys, name), samplecodec.data(), samplecodec.size()));
    ASSERT_EQ(InstallIt().nStatus, SPOOL_OK);
    auto installed = Snapshot();
    RUN run = InstallIt();
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_NE(run.err.find("already stands in front"), std::string::npos) << run.err;
    EXPECT_TRUE(Snapshot() == installed);
    // Uninstalling what is not Spoolcap, or without the codec's own driver.
    ASSERT_EQ(Run({"uninstall", szFourcc}).nStatus, SPOOL_OK);
    auto plain = Snapshot();
    EXPECT_NE(Run({"uninstall", szFourcc}).err.find("is not Spoolcap"), std::string::npos);
    ASSERT_TRUE(CopyBytes(spoolcap, JoinPath(sys, name)));
    plain = Snapshot();
    EXPECT_NE(Run({"uninstall", szFourcc}).err.find("cannot be put back"), std::string::npos);
    EXPECT_TRUE(Snapshot() == plain);
}

// A codec that does not answer through Spoolcap as it did without it.
BOOL AskCodecChanged(const CODECFILES *pFiles, CODECANSWER *pAnswer)
{
    static int s_nCalls;
    BOOL fOk = AskCodec(pFiles, pAnswer);
    if (++s_nCalls % 2 == 0) pAnswer->info.dwVersion ^= 1;
    return fOk;
}

// The system opening a module of its own for the codec, not the file that
// install put in front (Wine's built-in codecs).
BOOL AskCodecUnwrapped(const CODECFILES *pFiles, CODECANSWER *pAnswer)
{
    BOOL fOk = AskCodec(pFiles, pAnswer);
    pAnswer->fWrapped = FALSE;
    return fOk;
}

TEST_F(Install, ACodecThatTheSystemLoadsFromElsewhereIsSaidSo)
{
    auto before = Snapshot();
    g_pfnAskCodec = AskCodecUnwrapped;
    RUN run = InstallIt();
    g_pfnAskCodec = AskCodec;
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_NE(run.err.find("did not answer as before"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("WINEDLLOVERRIDES=" + name + "=n,b"), std::string::npos) << run.err;
    EXPECT_TRUE(Snapshot() == before);
}

TEST_F(Install, AFailureAtEachStepLeavesTheCodecWorkingAsBefore)
{
    bool fRoundTrip = false;
    DWORD cbPlain = RecordOneFrame(&fRoundTrip);
    ASSERT_TRUE(fRoundTrip);
    struct STEP {
        const char *pszWhat;
        int nFault;  // SPOOLFAULT_..., or -1 for the check through the system
        unsigned nCall;
    };
    const STEP aSteps[] = {
        {"copying Spoolcap beside the codec", SPOOLFAULT_CREATE, 1},
        {"renaming the codec to .org", SPOOLFAULT_MOVE, 1},
        {"renaming the copy to the codec's name", SPOOLFAULT_MOVE, 2},
        {"the codec answering otherwise", -1, 0},
    };
    for (bool fUninstall : {false, true}) {
        for (const STEP &step : aSteps) {
            if (fUninstall && step.nFault == SPOOLFAULT_CREATE) continue;  // uninstall makes no file
            SCOPED_TRACE(std::string(fUninstall ? "uninstall: " : "install: ") + step.pszWhat);
#ifdef _WIN32
            if (step.nFault >= 0) continue;  // the platform's faults are the stand-in's
#else
            if (step.nFault >= 0) SpoolArmFault(step.nFault, step.nCall);
#endif
            if (step.nFault < 0) g_pfnAskCodec = AskCodecChanged;
            auto before = Snapshot();
            RUN run = fUninstall ? Run({"uninstall", szFourcc}) : InstallIt();
#ifndef _WIN32
            SpoolArmFault(SPOOLFAULT_CREATE, 0);
            SpoolArmFault(SPOOLFAULT_MOVE, 0);
#endif
            g_pfnAskCodec = AskCodec;
            EXPECT_EQ(run.nStatus, SPOOL_ERROR) << run.out;
            EXPECT_NE(run.err.find(step.nFault < 0 ? "did not answer as before" : "Nothing was changed"),
                      std::string::npos)
                << run.err;
            EXPECT_TRUE(Snapshot() == before);
            EXPECT_EQ(RecordOneFrame(&fRoundTrip), cbPlain);
            EXPECT_TRUE(fRoundTrip);
        }
        if (!fUninstall) {
            ASSERT_EQ(InstallIt().nStatus, SPOOL_OK);
        }
    }
}

// A file put under a name between the checks that read it and the step
// that renames it is another file: never moved, and the codec is left as
// it was around it.
std::string g_strSwapPath;
int g_nSwapAtStep;
BOOL SwapAtStep(int nStep)
{
    if (nStep == g_nSwapAtStep) {
        std::string stranger = g_strSwapPath + ".stranger";
        std::vector<BYTE> bytes(4096, 0x5A);
        WriteBytes(stranger, bytes.data(), bytes.size());
        MoveFileExA(stranger.c_str(), g_strSwapPath.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    return TRUE;
}

TEST_F(Install, AFileSwappedInUnderANameThatWasCheckedIsNeverMoved)
{
    struct {
        bool fUninstall;
        int nStep;            // swapped after this step
        const char *pszSuffix;  // under the codec's name with this suffix
    } aCases[] = {
        {false, 1, ""},        // the codec's driver, before it becomes the .org
        {true, 1, ""},         // Spoolcap, before it steps aside
        {true, 2, ".org"},     // the codec's driver, before it takes its name back
    };
    std::vector<BYTE> codec = ReadBytes(JoinPath(sys, name));
    for (const auto &c : aCases) {
        SCOPED_TRACE(std::string(c.fUninstall ? "uninstall" : "install") + ", swapped after step " +
                     std::to_string(c.nStep) + " under " + name + c.pszSuffix);
        if (c.fUninstall) {
            ASSERT_EQ(InstallIt().nStatus, SPOOL_OK);
        }
        auto before = Snapshot();
        g_strSwapPath = JoinPath(sys, name + c.pszSuffix);
        g_nSwapAtStep = c.nStep;
        g_pfnInstallStep = SwapAtStep;
        RUN run = c.fUninstall ? Run({"uninstall", szFourcc}) : InstallIt();
        g_pfnInstallStep = NULL;
        EXPECT_EQ(run.nStatus, SPOOL_ERROR);
        EXPECT_NE(run.err.find("was replaced by another"), std::string::npos) << run.err;
        // The stranger stays under its name; everything else is as before.
        auto now = Snapshot();
        EXPECT_EQ(now[g_strSwapPath], std::vector<BYTE>(4096, 0x5A));
        before.erase(g_strSwapPath);
        now.erase(g_strSwapPath);
        EXPECT_TRUE(now == before);
        EXPECT_EQ(GetFileAttributesA(JoinPath(sys, name + ".spoolcap-journal").c_str()), INVALID_FILE_ATTRIBUTES);
        // The codec's own bytes back under their names for the next case.
        for (const char *pszSuffix : {"", ".org"}) DeleteFileA(JoinPath(sys, name + pszSuffix).c_str());
        ASSERT_TRUE(WriteBytes(JoinPath(sys, name), codec.data(), codec.size()));
    }
}

TEST_F(Install, ConfigTakesWhatTheSettingsDialogTakesAndRefusesTheRest)
{
    std::string longName(MAX_PATH - 4, 'a');
    const struct {
        std::vector<std::string> args;
        const char *pszSaid;  // NULL: taken
    } aCases[] = {
        {{"--mkdir", "BaseFile=" + JoinPath(JoinPath(Path("made"), "deeper"), "take")}, NULL},
#ifdef _WIN32
        {{"BaseFile=C:\\take"}, NULL},  // a base name at a root
#else
        {{"BaseFile=/take"}, NULL},
#endif
        {{"BaseFile=" + Path("rec"), "Padding=250", "Enabled=1", "overlapwrite=1"}, NULL},
        {{"BaseFile=" + JoinPath(Path("gone"), "take")}, "is not there"},
        {{"BaseFile=take"}, "give the base name's full path"},
        {{"BaseFile=" + Path("rec") + " "}, "blanks or quotes"},
        {{"BaseFile=\"" + Path("rec") + "\""}, "blanks or quotes"},
        {{"BiFiled=1", "BaseFile2=" + Path("rec2")}, NULL},
        {{"Padding=2147483647"}, NULL},
        {{"Padding=2147483648"}, "Padding is a percentage"},
        {{"Padding=-1"}, "Padding is a percentage"},
        {{"Padding="}, "Padding is a percentage"},
        {{"WriteQueueMB=256"}, NULL},
        {{"WriteQueueMB=2049"}, "WriteQueueMB is a number of megabytes from 0 to 2048"},
        {{"WriteQueueMB=-1"}, "WriteQueueMB is a number of megabytes"},
        {{"Enabled=yes"}, "must be 0 or 1"},
        {{"Volume=3"}, "not KEY=VALUE"},
        {{"BaseFile"}, "not KEY=VALUE"},
        {{"BaseFile=" + longName}, "cannot be used"},
        {{"BaseFile=a\nb"}, "cannot be used"},
        {{"BaseFile=", "Enabled=1"}, "needs a BaseFile"},
        {{"BaseFile2="}, "needs a BaseFile2"},
        {{"--json"}, "unexpected or incomplete argument"},
    };
    SPOOLSETTINGS expected;
    memset(&expected, 0, sizeof(expected));
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<std::string> args = {"config", szFourcc};
        args.insert(args.end(), c.args.begin(), c.args.end());
        auto before = Snapshot();
        RUN run = Run(args);
        EXPECT_EQ(run.nStatus, c.pszSaid ? SPOOL_ERROR : SPOOL_OK) << run.err;
        if (c.pszSaid) {
            EXPECT_NE(run.err.find(c.pszSaid), std::string::npos) << run.err;
            EXPECT_TRUE(Snapshot() == before);
        }
    }
    EXPECT_EQ(GetFileAttributesA(JoinPath(Path("made"), "deeper").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA((ini + ".spoolcap-new").c_str()), INVALID_FILE_ATTRIBUTES);
    // What the dialog then reads.
    SPOOLSETTINGS settings;
    ReadSettingsFile(ini.c_str(), &settings);
    EXPECT_EQ(std::string(settings.szBaseFile), Path("rec"));
    EXPECT_EQ(std::string(settings.szBaseFile2), Path("rec2"));
    EXPECT_EQ(settings.dwPadding, 2147483647u);
    EXPECT_EQ(settings.dwWriteQueueMB, 256u);
    EXPECT_TRUE(settings.fEnabled && settings.fBiFiled && settings.fOverlapWrite);
    EXPECT_FALSE(settings.fNoCompress || settings.fOverlapRead);
    RUN run = Run({"config", szFourcc});
    EXPECT_NE(run.out.find("  Padding=2147483647\n  Enabled=1\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  WriteQueueMB=256\n"), std::string::npos) << run.out;
}

#ifdef _WIN32
// An argument with a character that the code page cannot hold reaches the
// program as another text ('é' as 'e'): refused by its number, before any
// command runs. Characters of the page pass.
TEST(Arguments, ACharacterThatTheCodePageCannotHoldIsRefused)
{
    ASSERT_EQ(GetACP(), 932u);
    struct {
        const wchar_t *pwszLine;
        int iBad;  // the argument refused, 0 for none
    } aCases[] = {
        {L"spool.exe config MRLE BaseFile=C:\\caf\u00e9\\take", 3},
        {L"spool.exe verify \"C:\\a b\\\U0001F3A5.avi\"", 2},
        {L"spool.exe config MRLE BaseFile=C:\\\u9332\u753b\\\u8868\u793a", 0},
        {L"spool.exe verify \"C:\\a b\\x.avi\" --map D:=E:", 0},
        {L"\"C:\\caf\u00e9\\spool.exe\" status", 0},  // the program's own name is no argument
    };
    for (const auto &c : aCases) {
        g_pErr = tmpfile();
        BOOL fFit = ArgumentsFitCodePage(c.pwszLine);
        std::string err(4096, '\0');
        rewind(g_pErr);
        err.resize(fread(&err[0], 1, err.size(), g_pErr));
        fclose(g_pErr);
        g_pErr = NULL;
        EXPECT_EQ(fFit, c.iBad == 0) << err;
        if (c.iBad) EXPECT_NE(err.find("argument " + std::to_string(c.iBad) + " ("), std::string::npos) << err;
        else EXPECT_EQ(err, "");
    }
}
#endif

#ifndef _WIN32
// A write of the settings that fails anywhere (a full disk that cuts the
// file and still reports success, a file that cannot be made, flushed or
// renamed) leaves the settings file as it was, says so, and leaves no
// file of its own behind.
TEST_F(Install, ConfigWritesTheSettingsFileWholeOrNotAtAll)
{
    ASSERT_EQ(Run({"config", szFourcc, "BaseFile=" + Path("rec"), "Enabled=1"}).nStatus, SPOOL_OK);
    std::vector<BYTE> before = ReadBytes(ini);
    struct {
        int nFault;
        unsigned nCall;
    } aFaults[] = {
        // (A cut that a later key's write heals is no fault: each write
        // rewrites the file whole. The last two are never healed.)
        {SPOOLFAULT_PROFILE_CUT, 7}, {SPOOLFAULT_PROFILE_CUT, 8},
        {SPOOLFAULT_CREATE, 1},      {SPOOLFAULT_WRITE, 1},       {SPOOLFAULT_FLUSH, 1},
        {SPOOLFAULT_MOVE, 1},
    };
    for (const auto &f : aFaults) {
        SCOPED_TRACE(std::to_string(f.nFault) + " at " + std::to_string(f.nCall));
        SpoolArmFault(f.nFault, f.nCall);
        RUN run = Run({"config", szFourcc, "Padding=10", "OverlapWrite=1"});
        SpoolArmFault(f.nFault, 0);
        EXPECT_EQ(run.nStatus, SPOOL_ERROR);
        EXPECT_NE(run.err.find("The settings were not changed"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("administrator"), std::string::npos) << run.err;
        EXPECT_EQ(ReadBytes(ini), before);
        EXPECT_EQ(GetFileAttributesA((ini + ".spoolcap-new").c_str()), INVALID_FILE_ATTRIBUTES);
    }
    RUN run = Run({"config", szFourcc, "Padding=10", "OverlapWrite=1"});
    ASSERT_EQ(run.nStatus, SPOOL_OK) << run.err;
    SPOOLSETTINGS settings;
    ReadSettingsFile(ini.c_str(), &settings);
    EXPECT_EQ(settings.dwPadding, 10u);
    EXPECT_TRUE(settings.fOverlapWrite && settings.fEnabled);
}
#endif

}  // namespace

namespace {

// The kind of a module from its first bytes, whatever the bytes claim: each
// image is copied to the end of a buffer of its own size, so that a read
// past it is caught.
TEST(ModuleKind, ReadFromTheHeadersAndNothingBeyondThem)
{
    auto Pe = [](DWORD dwPe, WORD wMachine, size_t cb) {
        std::vector<BYTE> image(cb, 0);
        image[0] = 'M', image[1] = 'Z';
        memcpy(&image[0x3C], &dwPe, 4);
        if ((size_t)dwPe + 4 <= cb) memcpy(&image[dwPe], "PE\0\0", 4);
        if ((size_t)dwPe + 6 <= cb) memcpy(&image[dwPe + 4], &wMachine, 2);
        return image;
    };
    std::vector<BYTE> elf(64, 0);
    memcpy(elf.data(), "\x7f" "ELF\x02\x01", 6);
    elf[18] = 62;
    std::vector<BYTE> elfBig = elf;
    elfBig[5] = 2, elfBig[18] = 0, elfBig[19] = 3;
    const struct {
        const char *pszWhat;
        std::vector<BYTE> image;
        DWORD dwMachine;
    } aCases[] = {
        {"x86", Pe(0x80, 0x014C, 0x200), 0x014C},
        {"x64", Pe(0x80, 0x8664, 0x200), 0x8664},
        {"PE header in the last bytes", Pe(0x200 - 6, 0x8664, 0x200), 0x8664},
        {"PE header one byte past the end", Pe(0x200 - 5, 0x8664, 0x200), 0},
        {"PE signature in the last bytes, no machine", Pe(0x200 - 4, 0x8664, 0x200), 0},
        {"PE offset far past the end", Pe(0xFFFFFFF0u, 0x8664, 0x200), 0},
        {"MZ without room for its offset", std::vector<BYTE>{'M', 'Z', 0, 0}, 0},
        {"ELF x86-64", elf, 0x8664},
        {"ELF of big-endian x86", elfBig, 0x014C},
        {"ELF cut short", std::vector<BYTE>(elf.begin(), elf.begin() + 19), 0},
        {"text", std::vector<BYTE>(100, 'x'), 0},
        {"nothing", std::vector<BYTE>(), 0},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        BYTE *pb = (BYTE *)malloc(c.image.empty() ? 1 : c.image.size());
        if (!c.image.empty()) memcpy(pb, c.image.data(), c.image.size());
        EXPECT_EQ(GetImageMachine(pb, c.image.size()), c.dwMachine);
        EXPECT_FALSE(IsSpoolcapImage(pb, c.image.size()));
        free(pb);
    }
    // The mark at the very end of a module is found; cut by one byte it is not.
    std::vector<BYTE> module = Pe(0x80, 0x8664, 0x200);
    // Put together here, so that this program does not carry the mark whole.
    std::string mark = SPOOLCAP_MARK_HEAD;
    mark += SPOOLCAP_MARK_TAIL;
    module.insert(module.end(), mark.begin(), mark.end());
    EXPECT_TRUE(IsSpoolcapImage(module.data(), module.size()));
    EXPECT_FALSE(IsSpoolcapImage(module.data(), module.size() - 1));
}

}  // namespace
