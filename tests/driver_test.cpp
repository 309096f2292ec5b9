// The driver's dispatch, its instance registry and its binding to the
// wrapped codec: in process against a recording wrapped codec, and as the
// real module installed in front of the sample codec.
#include "codec/spoolcap.h"

#include "tests/codec_fixture.h"
#include "tests/samplecodec/samplecodec.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// In process: DriverProc with a wrapped codec that records what it is sent.


// The messages the wrapped codec was sent, five arguments each.
std::vector<SAMPLECALL> g_aCalls;
LRESULT g_lOpenResult = 0;

LRESULT CALLBACK RecordingProc(DWORD_PTR dwDriverId, HDRVR hDriver, UINT uMsg, LPARAM lParam1, LPARAM lParam2)
{
    g_aCalls.push_back(SAMPLECALL{dwDriverId, hDriver, uMsg, lParam1, lParam2});
    if (uMsg == DRV_OPEN) return g_lOpenResult;
    // A result that differs per message and per argument.
    return (LRESULT)(0x5A000000 ^ (LRESULT)uMsg ^ lParam1);
}

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_aCalls.clear();
        g_lOpenResult = 0;
        g_pfnWrappedProc = RecordingProc;
        memset(&g_Settings, 0, sizeof(g_Settings));
        InitInstanceList();
    }
    void TearDown() override
    {
        ReleaseAllInstances(FALSE);
        g_pfnWrappedProc = NULL;
    }
    LRESULT Open(LRESULT lAnswer)
    {
        g_lOpenResult = lAnswer;
        return DriverProc(0, (HDRVR)0x77, DRV_OPEN, 0, 0);
    }
    int InstanceCount()
    {
        int n = 0;
        for (CODECINSTANCE *p = g_pFirstInstance; p; p = p->pNext) n++;
        return n;
    }
};

TEST_F(Dispatch, ForwardedMessagesKeepArgumentsAndResult)
{
    const UINT aForwarded[] = {DRV_LOAD, DRV_ENABLE, DRV_DISABLE, DRV_FREE, DRV_CONFIGURE, DRV_QUERYCONFIGURE,
                               DRV_INSTALL, DRV_REMOVE, ICM_GETSTATE, ICM_SETSTATE, ICM_GETINFO, ICM_ABOUT,
                               ICM_GETDEFAULTQUALITY, ICM_COMPRESS_QUERY, ICM_COMPRESS_GET_FORMAT,
                               ICM_COMPRESS_GET_SIZE, ICM_DECOMPRESS_QUERY, ICM_DECOMPRESS_GET_FORMAT,
                               ICM_DECOMPRESS_GET_PALETTE, ICM_DECOMPRESS_BEGIN, ICM_DECOMPRESSEX,
                               ICM_DRAW_BEGIN, ICM_COMPRESS_FRAMES_INFO, 0x4FFF, 0x7123, 0x12345};
    for (UINT uMsg : aForwarded) {
        g_aCalls.clear();
        LPARAM l1 = (LPARAM)(0x1000 + uMsg);
        LPARAM l2 = (LPARAM)-7;
        LRESULT lResult = DriverProc(0xABCD, (HDRVR)0x4321, uMsg, l1, l2);
        ASSERT_EQ(g_aCalls.size(), 1u) << std::hex << uMsg;
        EXPECT_EQ(g_aCalls[0].dwDriverId, (DWORD_PTR)0xABCD);
        EXPECT_EQ(g_aCalls[0].hDriver, (HDRVR)0x4321);
        EXPECT_EQ(g_aCalls[0].uMsg, uMsg);
        EXPECT_EQ(g_aCalls[0].lParam1, l1);
        EXPECT_EQ(g_aCalls[0].lParam2, l2);
        EXPECT_EQ(lResult, (LRESULT)(0x5A000000 ^ (LRESULT)uMsg ^ l1)) << std::hex << uMsg;
    }
}

TEST_F(Dispatch, CompressBeginAndEndWithoutEnabledAreForwardedOnly)
{
    // Enabled off: no instance is needed and nothing else happens.
    EXPECT_EQ(DriverProc(99, NULL, ICM_COMPRESS_BEGIN, 1, 2), (LRESULT)(0x5A000000 ^ ICM_COMPRESS_BEGIN ^ 1));
    EXPECT_EQ(DriverProc(99, NULL, ICM_COMPRESS_END, 1, 2), (LRESULT)(0x5A000000 ^ ICM_COMPRESS_END ^ 1));
    EXPECT_EQ(g_aCalls.size(), 2u);
}

TEST_F(Dispatch, CompressBeginForUnknownIdWhileEnabled)
{
    g_Settings.fEnabled = TRUE;
    EXPECT_EQ(DriverProc(99, NULL, ICM_COMPRESS_BEGIN, 0, 0), ICERR_BADHANDLE);
    EXPECT_TRUE(g_aCalls.empty());
    // ICM_COMPRESS_END for an unknown id is still forwarded.
    DriverProc(99, NULL, ICM_COMPRESS_END, 0, 0);
    EXPECT_EQ(g_aCalls.size(), 1u);
}

#ifndef _WIN32
TEST_F(Dispatch, ConfigureWithoutAWindowSystemAnswersAsTheDialogDoes)
{
    // The query says that there is a dialog; the request is answered as a
    // closed dialog answers it, and never reaches the wrapped codec.
    EXPECT_EQ(DriverProc(1, NULL, ICM_CONFIGURE, (LPARAM)-1, 0), ICERR_OK);
    EXPECT_EQ(DriverProc(1, NULL, ICM_CONFIGURE, 0, 0), ICERR_OK);
    EXPECT_TRUE(g_aCalls.empty());
}
#endif

TEST_F(Dispatch, ConfigureQueryIsAnsweredWithoutTheWrappedCodec)
{
    EXPECT_EQ(DriverProc(1, NULL, ICM_CONFIGURE, (LPARAM)-1, ICMODE_COMPRESS), ICERR_OK);
    EXPECT_TRUE(g_aCalls.empty());
}

TEST_F(Dispatch, OpenRegistersUnderTheWrappedCodecsAnswer)
{
    EXPECT_EQ(Open(0x1234), 0x1234);
    ASSERT_NE(FindInstance(0x1234), nullptr);
    EXPECT_EQ(FindInstance(0x1234)->nOpen, 1);
    // An answer of 0 registers under the id that the open came with.
    g_lOpenResult = 0;
    EXPECT_EQ(DriverProc(55, NULL, DRV_OPEN, 0, 0), 0);
    EXPECT_NE(FindInstance(55), nullptr);
    EXPECT_EQ(InstanceCount(), 2);
}

TEST_F(Dispatch, NewInstanceStartsClosed)
{
    Open(8);
    CODECINSTANCE *pInst = FindInstance(8);
    ASSERT_NE(pInst, nullptr);
    for (int iSeq = 0; iSeq < 2; iSeq++) {
        EXPECT_EQ(pInst->hReadFile[iSeq], INVALID_HANDLE_VALUE);
        EXPECT_EQ(pInst->hWriteFile[iSeq], INVALID_HANDLE_VALUE);
        EXPECT_EQ(pInst->pAheadHeader[iSeq], &pInst->aAheadHeader[iSeq]);
        EXPECT_EQ(pInst->pReadBuf[iSeq], nullptr);
        EXPECT_EQ(pInst->dwWriteOffset[iSeq], 0u);
    }
    for (const IOWORKER &worker : pInst->aWorker) {
        EXPECT_EQ(worker.hThread, nullptr);
        EXPECT_NE(worker.pfnThread, nullptr);
        EXPECT_EQ(worker.nState.load(), WORKER_IDLE);
    }
    EXPECT_EQ(pInst->iWriteSeq, 0);
}

TEST_F(Dispatch, SharedOpensKeepTheInstanceUntilTheLastClose)
{
    Open(7);
    Open(7);
    CODECINSTANCE *pInst = FindInstance(7);
    ASSERT_NE(pInst, nullptr);
    EXPECT_EQ(pInst->nOpen, 2);
    EXPECT_EQ(InstanceCount(), 1);
    DriverProc(7, NULL, DRV_CLOSE, 0, 0);
    EXPECT_EQ(FindInstance(7), pInst);
    EXPECT_EQ(pInst->nOpen, 1);
    DriverProc(7, NULL, DRV_CLOSE, 0, 0);
    EXPECT_EQ(FindInstance(7), nullptr);
    EXPECT_EQ(g_pFirstInstance, nullptr);
    // Closing an unknown id only forwards.
    g_aCalls.clear();
    DriverProc(7, NULL, DRV_CLOSE, 0, 0);
    EXPECT_EQ(g_aCalls.size(), 1u);
}

TEST_F(Dispatch, ListKeepsOrderAcrossReleases)
{
    for (LRESULT id = 1; id <= 4; id++) Open(id);
    DriverProc(2, NULL, DRV_CLOSE, 0, 0);  // middle
    DriverProc(1, NULL, DRV_CLOSE, 0, 0);  // head
    DriverProc(4, NULL, DRV_CLOSE, 0, 0);  // tail
    ASSERT_NE(g_pFirstInstance, nullptr);
    EXPECT_EQ(g_pFirstInstance->dwKey, (DWORD_PTR)3);
    EXPECT_EQ(g_pFirstInstance->pNext, nullptr);
    EXPECT_EQ(g_pFirstInstance->pPrev, nullptr);
}

TEST_F(Dispatch, CompressBeginWhileEnabledResetsTheRun)
{
    g_Settings.fEnabled = TRUE;
    Open(5);
    CODECINSTANCE *pInst = FindInstance(5);
    pInst->iWriteSeq = 1;
    pInst->dwWriteOffset[0] = 1234;
    EXPECT_EQ(DriverProc(5, NULL, ICM_COMPRESS_BEGIN, 3, 4), (LRESULT)(0x5A000000 ^ ICM_COMPRESS_BEGIN ^ 3));
    EXPECT_EQ(pInst->iWriteSeq, 0);
    EXPECT_EQ(pInst->dwWriteOffset[0], 0u);
}

TEST_F(Dispatch, CompressEndWhileEnabledEndsTheRun)
{
    g_Settings.fEnabled = TRUE;
    Open(6);
    CODECINSTANCE *pInst = FindInstance(6);
    pInst->iWriteSeq = 1;
    pInst->dwWriteOffset[1] = 99;
    EXPECT_EQ(DriverProc(6, NULL, ICM_COMPRESS_END, 3, 4), (LRESULT)(0x5A000000 ^ ICM_COMPRESS_END ^ 3));
    EXPECT_EQ(pInst->iWriteSeq, 0);
    EXPECT_EQ(pInst->dwWriteOffset[1], 0u);
}

TEST_F(Dispatch, OpensAndClosesOnSeveralThreads)
{
    // Each thread opens and closes ids of its own, and one id that all share.
    const int nThreads = 4;
    static const int nRounds = 300;
    g_lOpenResult = 0;
    struct Opener {
        static unsigned WINAPI Run(void *pArg)
        {
            int t = (int)(INT_PTR)pArg;
            for (int i = 0; i < nRounds; i++) {
                DWORD_PTR dwOwn = (DWORD_PTR)(1000 + t * nRounds + i);
                AddInstance(dwOwn);
                AddInstance(42);
                EXPECT_NE(FindInstance(dwOwn), nullptr);
                EXPECT_TRUE(ReleaseInstance(dwOwn));
                EXPECT_TRUE(ReleaseInstance(42));
            }
            return 0;
        }
    };
    std::vector<HANDLE> threads;
    for (int t = 0; t < nThreads; t++) threads.push_back((HANDLE)_beginthreadex(NULL, 0, Opener::Run, (void *)(INT_PTR)t, 0, NULL));
    for (HANDLE hThread : threads) {
        ASSERT_NE(hThread, nullptr);
        WaitForSingleObject(hThread, INFINITE);
        CloseHandle(hThread);
    }
    EXPECT_EQ(g_pFirstInstance, nullptr);
}

// ---------------------------------------------------------------------------
// The real module, installed under a codec's file name.

typedef LRESULT(WINAPI *DRIVERPROCFN)(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);

class Module : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = MakeTempDir("spmod");
        ASSERT_FALSE(dir.empty());
        ASSERT_GT(GetCurrentDirectoryA(sizeof(szOldCwd), szOldCwd), 0u);
        // The wrapped codec is found through the current folder.
        ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    }
    void TearDown() override
    {
        if (hSpool) FreeLibrary(hSpool);
        SetCurrentDirectoryA(szOldCwd);
        RemoveTree(dir);
        for (const std::string &ini : inis) DeleteFileA(JoinPath(WindowsDir(), ini).c_str());
    }
    // Writes name.ini into the Windows directory with Enabled=1.
    void EnableIn(const std::string &ini)
    {
        inis.push_back(ini);
        ASSERT_TRUE(WriteText(JoinPath(WindowsDir(), ini), "[Spoolcap]\r\nEnabled=1\r\n"));
    }
    bool Load(const std::string &fileName)
    {
        hSpool = LoadLibraryA(JoinPath(dir, fileName).c_str());
        if (!hSpool) return false;
        pfnDriverProc = ProcAs<DRIVERPROCFN>(GetProcAddress(hSpool, "DriverProc"));
        return pfnDriverProc != NULL;
    }
    template <typename T> T SampleExport(const std::string &orgName, const char *pszExport)
    {
        HMODULE hSample = GetModuleHandleA(orgName.c_str());
        return hSample ? ProcAs<T>(GetProcAddress(hSample, pszExport)) : (T)NULL;
    }
    std::string dir;
    CHAR szOldCwd[MAX_PATH];
    HMODULE hSpool = NULL;
    DRIVERPROCFN pfnDriverProc = NULL;
    std::vector<std::string> inis;
};

TEST_F(Module, InstalledUnderACodecsNameUsesItsOrgAndIni)
{
    std::string name = UniqueName("abc");
    ASSERT_TRUE(InstallSpoolcap(dir, name + ".dll"));
    EnableIn(name + ".ini");
    ASSERT_TRUE(Load(name + ".dll"));
    EXPECT_NE(GetModuleHandleA((name + ".dll.org").c_str()), nullptr);
    // Enabled was read from name.ini: an unknown id is refused.
    EXPECT_EQ(pfnDriverProc(12345, NULL, ICM_COMPRESS_BEGIN, 0, 0), ICERR_BADHANDLE);
}

TEST_F(Module, InstalledWithoutExtension)
{
    std::string name = UniqueName("noext");
    ASSERT_TRUE(InstallSpoolcap(dir, name));
    EnableIn(name + ".ini");
    // A trailing '.' keeps the platform from adding an extension.
    ASSERT_TRUE(Load(name + "."));
    EXPECT_NE(GetModuleHandleA((name + ".org").c_str()), nullptr);
    EXPECT_EQ(pfnDriverProc(12345, NULL, ICM_COMPRESS_BEGIN, 0, 0), ICERR_BADHANDLE);
}

TEST_F(Module, AttachFailsWithoutAWrappedCodec)
{
    std::string name = UniqueName("lone") + ".dll";
    ASSERT_TRUE(CopyBytes(BuiltModule("spoolcap"), JoinPath(dir, name)));
    EXPECT_FALSE(Load(name));
    EXPECT_EQ(hSpool, nullptr);
}

TEST_F(Module, AttachFailsWhenTheWrappedLibraryHasNoDriverProc)
{
    std::string name = UniqueName("nodrv") + ".dll";
    ASSERT_TRUE(InstallSpoolcap(dir, name, "nodriver"));
    EXPECT_FALSE(Load(name));
    EXPECT_EQ(hSpool, nullptr);
    // The wrapped library was unloaded again.
    EXPECT_EQ(GetModuleHandleA((name + ".org").c_str()), nullptr);
}

TEST_F(Module, MessagesReachTheSampleCodecUnchanged)
{
    std::string name = UniqueName("fwd") + ".dll";
    ASSERT_TRUE(InstallSpoolcap(dir, name));
    ASSERT_TRUE(Load(name));
    auto pfnControl = SampleExport<SAMPLECONTROLPROC>(name + ".org", "SampleControl");
    auto pfnLastCall = SampleExport<SAMPLELASTCALLPROC>(name + ".org", "SampleLastCall");
    ASSERT_TRUE(pfnControl && pfnLastCall);
    pfnControl(SAMPLE_RESET, 0);
    pfnControl(SAMPLE_PROBE, 0x33000000);
    for (UINT uMsg : {(UINT)DRV_LOAD, (UINT)ICM_GETINFO, (UINT)ICM_COMPRESS_GET_SIZE, (UINT)ICM_DECOMPRESS_QUERY,
                      (UINT)ICM_DECOMPRESSEX, 0x6ABCu}) {
        LRESULT lResult = pfnDriverProc(0x51, (HDRVR)0x52, uMsg, 0x53, 0x54);
        EXPECT_EQ(lResult, (LRESULT)(0x33000000 ^ uMsg));
        SAMPLECALL call;
        pfnLastCall(&call);
        EXPECT_EQ(call.dwDriverId, (DWORD_PTR)0x51);
        EXPECT_EQ(call.hDriver, (HDRVR)0x52);
        EXPECT_EQ(call.uMsg, uMsg);
        EXPECT_EQ(call.lParam1, 0x53);
        EXPECT_EQ(call.lParam2, 0x54);
    }
    pfnControl(SAMPLE_RESET, 0);
}

TEST_F(Module, GetInfoIsTheWrappedCodecsAnswer)
{
    std::string name = UniqueName("info") + ".dll";
    ASSERT_TRUE(InstallSpoolcap(dir, name));
    ASSERT_TRUE(Load(name));
    HMODULE hSample = GetModuleHandleA((name + ".org").c_str());
    ASSERT_NE(hSample, nullptr);
    DRIVERPROCFN pfnSample = ProcAs<DRIVERPROCFN>(GetProcAddress(hSample, "DriverProc"));
    ICINFO viaSpool, direct;
    memset(&viaSpool, 0xEE, sizeof(viaSpool));
    memset(&direct, 0xEE, sizeof(direct));
    LRESULT lVia = pfnDriverProc(1, NULL, ICM_GETINFO, (LPARAM)&viaSpool, sizeof(viaSpool));
    LRESULT lDirect = pfnSample(1, NULL, ICM_GETINFO, (LPARAM)&direct, sizeof(direct));
    EXPECT_EQ(lVia, lDirect);
    EXPECT_EQ(lVia, (LRESULT)sizeof(ICINFO));
    EXPECT_EQ(0, memcmp(&viaSpool, &direct, sizeof(ICINFO)));
    EXPECT_EQ(viaSpool.fccHandler, (DWORD)SAMPLE_FOURCC);
}

// Compresses one picture through a driver entry, into a buffer sized from
// its answer; returns the frame as the host would store it.
std::vector<BYTE> CompressThrough(DRIVERPROCFN pfnProc, DWORD_PTR dwId, const PICTURE &pic, LRESULT *plResult)
{
    BITMAPINFOHEADER bihIn = pic.bih;
    BITMAPINFOHEADER bihOut;
    pfnProc(dwId, NULL, ICM_COMPRESS_GET_FORMAT, (LPARAM)&bihIn, (LPARAM)&bihOut);
    LRESULT cbRoom = pfnProc(dwId, NULL, ICM_COMPRESS_GET_SIZE, (LPARAM)&bihIn, (LPARAM)&bihOut);
    std::vector<BYTE> output((size_t)(cbRoom > 0 ? cbRoom : 1));
    ICCOMPRESS ic;
    memset(&ic, 0, sizeof(ic));
    ic.lpbiOutput = &bihOut;
    ic.lpOutput = output.data();
    ic.lpbiInput = &bihIn;
    ic.lpInput = const_cast<BYTE *>(pic.bits.data());
    *plResult = pfnProc(dwId, NULL, ICM_COMPRESS, (LPARAM)&ic, sizeof(ic));
    output.resize(bihOut.biSizeImage);
    return output;
}

LRESULT DecompressThrough(DRIVERPROCFN pfnProc, DWORD_PTR dwId, const std::vector<BYTE> &data, const PICTURE &pic,
                          std::vector<BYTE> *pOut)
{
    BITMAPINFOHEADER bihIn = pic.bih;
    bihIn.biCompression = SAMPLE_FOURCC;
    bihIn.biSizeImage = (DWORD)data.size();
    BITMAPINFOHEADER bihOut = pic.bih;
    pOut->assign(pic.bih.biSizeImage, 0);
    ICDECOMPRESS id;
    memset(&id, 0, sizeof(id));
    id.lpbiInput = &bihIn;
    id.lpInput = const_cast<BYTE *>(data.data());
    id.lpbiOutput = &bihOut;
    id.lpOutput = pOut->data();
    return pfnProc(dwId, NULL, ICM_DECOMPRESS, (LPARAM)&id, sizeof(id));
}

DWORD_PTR OpenThrough(DRIVERPROCFN pfnProc)
{
    ICOPEN icopen = SampleCompressOpen();
    return (DWORD_PTR)pfnProc(0, NULL, DRV_OPEN, 0, (LPARAM)&icopen);
}

// A host that frees the driver without closing its instance: the detach
// unloads the wrapped codec and releases the instance with its files.
TEST_F(Module, DetachUnloadsTheWrappedCodecAndReleasesInstances)
{
    std::string stem = UniqueName("det");
    std::string name = stem + ".dll";
    ASSERT_TRUE(InstallSpoolcap(dir, name));
    std::string base = JoinPath(dir, "take");
    inis.push_back(stem + ".ini");
    ASSERT_TRUE(WriteText(JoinPath(WindowsDir(), inis.back()), "[Spoolcap]\r\nEnabled=1\r\nBaseFile=" + base + "\r\n"));
    ASSERT_TRUE(Load(name));
    DWORD_PTR dwId = OpenThrough(pfnDriverProc);
    ASSERT_NE(dwId, 0u);
    LRESULT lResult;
    std::vector<BYTE> record = CompressThrough(pfnDriverProc, dwId, MakePicture(32, 16, 24, 1), &lResult);
    ASSERT_EQ(lResult, ICERR_OK);
    ASSERT_TRUE(IsRefRecord(record.data(), (DWORD)record.size()));
    FreeLibrary(hSpool);
    hSpool = NULL;
    EXPECT_EQ(GetModuleHandleA((name + ".org").c_str()), nullptr);
    // The reference file was closed with the instance.
    EXPECT_TRUE(DeleteFileA((base + ".000").c_str()));
}

// A host that loads the driver, records with background writes and
// read-ahead, and frees it at once, many times: the workers' threads are gone
// before the module is.
TEST_F(Module, LoadRecordAndFreeInALoop)
{
    std::string stem = UniqueName("loop");
    std::string name = stem + ".dll";
    ASSERT_TRUE(InstallSpoolcap(dir, name));
    std::string base = JoinPath(dir, "take");
    inis.push_back(stem + ".ini");
    ASSERT_TRUE(WriteText(JoinPath(WindowsDir(), inis.back()),
                          "[Spoolcap]\r\nEnabled=1\r\nOverlapWrite=1\r\nOverlapRead=1\r\nBiFiled=1\r\nBaseFile=" +
                              base + "\r\nBaseFile2=" + base + "2\r\n"));
    std::vector<PICTURE> pictures = {MakePicture(32, 16, 24, 1), MakePicture(32, 16, 24, 2), MakePicture(32, 16, 24, 3)};
    for (int nCycle = 0; nCycle < 100; nCycle++) {
        ASSERT_TRUE(Load(name)) << nCycle;
        DWORD_PTR dwId = OpenThrough(pfnDriverProc);
        ASSERT_NE(dwId, 0u);
        pfnDriverProc(dwId, NULL, ICM_COMPRESS_BEGIN, 0, 0);
        std::vector<std::vector<BYTE>> frames;
        for (const PICTURE &pic : pictures) {
            LRESULT lResult;
            frames.push_back(CompressThrough(pfnDriverProc, dwId, pic, &lResult));
            ASSERT_EQ(lResult, ICERR_OK) << nCycle;
        }
        pfnDriverProc(dwId, NULL, ICM_COMPRESS_END, 0, 0);
        for (size_t i = 0; i < frames.size(); i++) {
            std::vector<BYTE> out;
            ASSERT_EQ(DecompressThrough(pfnDriverProc, dwId, frames[i], pictures[i], &out), ICERR_OK) << nCycle;
            ASSERT_EQ(out, pictures[i].bits) << nCycle;
        }
        pfnDriverProc(dwId, NULL, DRV_CLOSE, 0, 0);
        ASSERT_TRUE(FreeLibrary(hSpool));
        hSpool = NULL;
        ASSERT_EQ(GetModuleHandleA(name.c_str()), nullptr) << "unloaded at " << nCycle;
    }
}

TEST_F(Module, OpenedThroughTheCodecListByFourcc)
{
    // Registered as a codec of its own FOURCC, opened by a host through the
    // platform's codec interface.
#ifdef _WIN32
    GTEST_SKIP() << "the Wine integration test registers codecs in the prefix";
#endif
    std::string name = UniqueName("vidc") + ".dll";
    std::string sysdir = JoinPath(WindowsDir(), "system32");
    ASSERT_TRUE(InstallSpoolcap(sysdir, name));
    ASSERT_TRUE(WritePrivateProfileStringA("drivers32", "vidc.SMPL", name.c_str(), "system.ini"));
    HIC hic = ICOpen(ICTYPE_VIDEO, SAMPLE_FOURCC, ICMODE_QUERY);
    ASSERT_NE(hic, nullptr);
    ICINFO info;
    memset(&info, 0, sizeof(info));
    EXPECT_EQ(ICGetInfo(hic, &info, sizeof(info)), (LRESULT)sizeof(ICINFO));
    EXPECT_EQ(info.fccHandler, (DWORD)SAMPLE_FOURCC);
    // The codec did not fill in its driver: the listed library is shown.
    CHAR szDriver[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, info.szDriver, -1, szDriver, sizeof(szDriver), NULL, NULL);
    EXPECT_EQ(std::string(szDriver), name);
    EXPECT_EQ(ICClose(hic), ICERR_OK);
    WritePrivateProfileStringA("drivers32", "vidc.SMPL", NULL, "system.ini");
    DeleteFileA(JoinPath(sysdir, name).c_str());
    DeleteFileA(JoinPath(sysdir, name + ".org").c_str());
}

}  // namespace
