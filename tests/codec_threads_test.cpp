// Spoolcap with several instances and threads at once: numbering of new
// reference files, frames read back while they are being written, and the
// end of the process.
#include "tests/codec_fixture.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

class Threads : public CodecTest {};

// Runs fn(i) on n threads at once and waits for them all.
template <typename FN> void RunOnThreads(int n, FN fn)
{
    struct Job {
        FN *pFn;
        int i;
        static unsigned WINAPI Run(void *pArg)
        {
            Job *pJob = static_cast<Job *>(pArg);
            (*pJob->pFn)(pJob->i);
            return 0;
        }
    };
    std::vector<Job> jobs((size_t)n);
    std::vector<HANDLE> threads;
    for (int i = 0; i < n; i++) {
        jobs[(size_t)i] = Job{&fn, i};
        threads.push_back((HANDLE)_beginthreadex(NULL, 0, Job::Run, &jobs[(size_t)i], 0, NULL));
    }
    for (HANDLE hThread : threads) {
        ASSERT_NE(hThread, nullptr);
        WaitForSingleObject(hThread, INFINITE);
        CloseHandle(hThread);
    }
}

// Another instance took the number between the listing and the creation: its
// file stays as it is, and the new file takes the next number.
TEST_F(Threads, NumberTakenSinceTheListingIsSkipped)
{
    std::string base = Base("take");
    ASSERT_TRUE(WriteText(base + ".005", "another stream's frames"));
    CHAR szName[MAX_PATH];
    HANDLE hFile = CreateRefFileFrom(base.c_str(), 5, szName);
    ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
    CloseHandle(hFile);
    EXPECT_EQ(std::string(szName), base + ".006");
    EXPECT_EQ(ReadText(base + ".005"), "another stream's frames");
    // At the end of the series nothing is replaced either.
    ASSERT_TRUE(WriteText(base + ".999", "last"));
    EXPECT_EQ(CreateRefFileFrom(base.c_str(), 999, szName), INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadText(base + ".999"), "last");
    EXPECT_EQ(CreateNextRefFile(base.c_str(), szName), INVALID_HANDLE_VALUE);
}

// Four instances on four threads, with one base name, each starting a new
// run every two frames: every file belongs to one run, and every frame
// comes back as the picture that was recorded.
TEST_F(Threads, InstancesRecordingAtOnceNeverShareAFile)
{
    g_Settings.fEnabled = TRUE;
    SetBase("shared");
    const int nThreads = 4;
    const int nRuns = 30;
    std::vector<DWORD_PTR> ids;
    for (int t = 0; t < nThreads; t++) ids.push_back(OpenInstance());
    std::vector<std::vector<COMPRESSED>> recorded((size_t)nThreads);
    std::vector<std::vector<PICTURE>> pictures((size_t)nThreads);
    for (int t = 0; t < nThreads; t++)
        for (int i = 0; i < 2 * nRuns; i++) pictures[(size_t)t].push_back(MakePicture(32, 16, 24, t * 1000 + i));
    RunOnThreads(nThreads, [&](int t) {
        for (int r = 0; r < nRuns; r++) {
            SendTo(ids[(size_t)t], ICM_COMPRESS_BEGIN);
            for (int i = 0; i < 2; i++)
                recorded[(size_t)t].push_back(Compress(pictures[(size_t)t][(size_t)(2 * r + i)], ICCOMPRESS_KEYFRAME, ids[(size_t)t]));
            SendTo(ids[(size_t)t], ICM_COMPRESS_END);
        }
    });
    std::map<std::string, int> owner;
    for (int t = 0; t < nThreads; t++) {
        for (size_t i = 0; i < recorded[(size_t)t].size(); i++) {
            const COMPRESSED &c = recorded[(size_t)t][i];
            ASSERT_EQ(c.lResult, ICERR_OK);
            auto found = owner.emplace(RecordPath(c), t);
            EXPECT_EQ(found.first->second, t) << RecordPath(c) << " written by two instances";
            std::vector<BYTE> out;
            ASSERT_EQ(Decompress(c.Data(), pictures[(size_t)t][i], &out), ICERR_OK);
            EXPECT_EQ(out, pictures[(size_t)t][i].bits) << RecordPath(c);
        }
    }
    EXPECT_EQ(owner.size(), (size_t)(nThreads * nRuns));
    EXPECT_EQ(ListFolder(dir).size(), (size_t)(nThreads * nRuns));
}

// A capture program's preview decompresses each frame right after it was
// compressed, while the frame may still be in the writer's hands: through
// the same instance, and through a second one.
void CompressThenDecompress(Threads *pTest, DWORD_PTR dwCompress, DWORD_PTR dwDecompress, int nFrames)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapWrite = TRUE;
    g_Settings.fOverlapRead = TRUE;
    g_Settings.fBiFiled = TRUE;
    std::vector<PICTURE> pictures;
    for (int i = 0; i < 8; i++) pictures.push_back(MakePicture(64, 48, 24, i));
    pTest->SendTo(dwCompress, ICM_COMPRESS_BEGIN);
    int nBad = 0;
    for (int i = 0; i < nFrames; i++) {
        const PICTURE &pic = pictures[(size_t)i % pictures.size()];
        COMPRESSED c = pTest->Compress(pic, ICCOMPRESS_KEYFRAME, dwCompress);
        ASSERT_EQ(c.lResult, ICERR_OK);
        std::vector<BYTE> out;
        if (pTest->Decompress(c.Data(), pic, &out, dwDecompress) != ICERR_OK || out != pic.bits) nBad++;
    }
    pTest->SendTo(dwCompress, ICM_COMPRESS_END);
    EXPECT_EQ(nBad, 0) << "of " << nFrames << " frames";
}

TEST_F(Threads, FrameReadRightAfterItWasCompressedThroughOneInstance)
{
    SetBase("one", "one2");
    CompressThenDecompress(this, dwId, dwId, 10000);
}

TEST_F(Threads, FrameReadRightAfterItWasCompressedThroughTwoInstances)
{
    SetBase("two", "two2");
    CompressThenDecompress(this, dwId, OpenInstance(), 10000);
}

// At the end of the process the workers' threads may be gone: the teardown
// waits for none of them and touches nothing.
TEST_F(Threads, EndOfTheProcessWaitsForNothing)
{
    DWORD_PTR dwKey = OpenInstance();
    CODECINSTANCE *pInst = Instance(dwKey);
    ASSERT_NE(pInst, nullptr);
    // A writer in the middle of a job whose thread will never answer.
    IOWORKER *pWriter = &pInst->aWorker[WORKER_WRITE0];
    HANDLE hNever = CreateEventA(NULL, TRUE, FALSE, NULL);
    pWriter->hThread = hNever;
    pWriter->hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    pWriter->hIdle = CreateEventA(NULL, TRUE, FALSE, NULL);
    pWriter->nState.store(WORKER_BUSY);
    std::vector<CODECINSTANCE *> all;
    for (CODECINSTANCE *p = g_pFirstInstance; p; p = p->pNext) all.push_back(p);
    DWORD dwStart = GetTickCount();
    ReleaseAllInstances(TRUE);
    EXPECT_LT(GetTickCount() - dwStart, 200u);
    EXPECT_EQ(g_pFirstInstance, nullptr);
    EXPECT_EQ(pWriter->nState.load(), WORKER_BUSY) << "nothing is touched";
    // What the process would leave to the platform.
    pWriter->hThread = NULL;
    pWriter->nState.store(WORKER_IDLE);
    CloseHandle(hNever);
    for (CODECINSTANCE *p : all) {
        for (int i = 0; i < WORKER_COUNT; i++) FreeWorker(&p->aWorker[i]);
        p->~CODECINSTANCE();
        free(p);
    }
    aOpen.clear();
}

}  // namespace
