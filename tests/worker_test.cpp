// The background workers: hand-over, outcome, stop handshake.
#include "codec/spoolcap.h"

#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <string>
#include <time.h>
#include <vector>

namespace {

class Workers : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = MakeTempDir("spwork");
        ASSERT_FALSE(dir.empty());
        InitInstanceList();
        pInst = new CODECINSTANCE();
        for (int iSeq = 0; iSeq < 2; iSeq++) {
            pInst->hReadFile[iSeq] = INVALID_HANDLE_VALUE;
            pInst->hWriteFile[iSeq] = INVALID_HANDLE_VALUE;
        }
        for (int i = 0; i < WORKER_COUNT; i++) InitWorker(&pInst->aWorker[i], i);
    }
    void TearDown() override
    {
        for (int iSeq = 0; iSeq < 2; iSeq++) {
            CloseWriteFile(pInst, iSeq, TRUE);
            CloseReadFile(pInst, iSeq, TRUE);
        }
        delete pInst;
        RemoveTree(dir);
    }
    HANDLE Create(const char *pszName)
    {
        return CreateFileA(JoinPath(dir, pszName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    }
    std::string dir;
    CODECINSTANCE *pInst = NULL;
};

TEST_F(Workers, StopWithoutThreadOnlyResetsTheState)
{
    IOWORKER *pWorker = &pInst->aWorker[WORKER_WRITE1];
    pWorker->nState.store(WORKER_DONE);
    StopWorker(pWorker);
    EXPECT_EQ(pWorker->nState.load(), WORKER_IDLE);
    EXPECT_EQ(pWorker->hEvent, nullptr);
}

TEST_F(Workers, WriteJobsInOrderAndOutcomeSurvivesTheStop)
{
    pInst->hWriteFile[0] = Create("w.bin");
    ASSERT_NE(pInst->hWriteFile[0], INVALID_HANDLE_VALUE);
    IOWORKER *pWriter = &pInst->aWorker[WORKER_WRITE0];
    std::vector<BYTE> expected;
    for (int nJob = 0; nJob < 20; nJob++) {
        DWORD cb = 1000 + 7919u * (DWORD)nJob % 50000;
        WaitWorkerIdle(pWriter);
        ASSERT_TRUE(PrepareWorker(pInst, pWriter, cb));
        EXPECT_EQ(pWriter->nState.load(), WORKER_IDLE);
        EXPECT_EQ(pWriter->cbTransfer, cb);
        for (DWORD i = 0; i < cb; i++) pWriter->pBuffer[i] = (BYTE)(nJob * 31 + i);
        expected.insert(expected.end(), pWriter->pBuffer, pWriter->pBuffer + cb);
        HandOverWorker(pWriter);
    }
    // Stopping while the last job may be in hand: it finishes, and its
    // outcome stays after the thread has ended.
    StopWorker(pWriter);
    EXPECT_EQ(pWriter->hThread, nullptr);
    EXPECT_EQ(pWriter->nState.load(), WORKER_DONE);
    CloseHandle(pInst->hWriteFile[0]);
    pInst->hWriteFile[0] = INVALID_HANDLE_VALUE;
    EXPECT_EQ(ReadBytes(JoinPath(dir, "w.bin")), expected);
}

TEST_F(Workers, BufferGrowsToTheLargestJobAndIsReused)
{
    IOWORKER *pWorker = &pInst->aWorker[WORKER_READ1];
    ASSERT_TRUE(PrepareWorker(pInst, pWorker, 100));
    BYTE *pFirst = pWorker->pBuffer;
    ASSERT_TRUE(PrepareWorker(pInst, pWorker, 50));
    EXPECT_EQ(pWorker->pBuffer, pFirst);
    EXPECT_EQ(pWorker->cbBuffer, 100u);
    EXPECT_EQ(pWorker->cbTransfer, 50u);
    ASSERT_TRUE(PrepareWorker(pInst, pWorker, 5000));
    EXPECT_EQ(pWorker->cbBuffer, 5000u);
    // One thread for all jobs.
    HANDLE hThread = pWorker->hThread;
    ASSERT_TRUE(PrepareWorker(pInst, pWorker, 10));
    EXPECT_EQ(pWorker->hThread, hThread);
}

// A read-ahead job reads the frame at the file's position, header and data,
// when the frame fits the job's size and lies within the whole part of the
// file; anything else fails it.
TEST_F(Workers, ReadAheadTakesAWholeFrameOrNothing)
{
    std::string path = JoinPath(dir, "r.bin");
    REFFRAMEHEADER header;
    ASSERT_TRUE(FillFrameHeader(&header, 10, 6, 4, 4));
    std::vector<BYTE> file(reinterpret_cast<BYTE *>(&header), reinterpret_cast<BYTE *>(&header) + sizeof(header));
    const char *pszData = "0123456789";
    file.insert(file.end(), pszData, pszData + 10);
    file.insert(file.end(), 6, 0);
    ASSERT_TRUE(WriteBytes(path, file.data(), file.size()));
    pInst->pAheadHeader[1] = &pInst->aAheadHeader[1];
    pInst->hReadFile[1] = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                      OPEN_EXISTING, 0, NULL);
    ASSERT_NE(pInst->hReadFile[1], INVALID_HANDLE_VALUE);
    IOWORKER *pReader = &pInst->aWorker[WORKER_READ1];
    struct CASE {
        DWORD cbMax, cbReadable, dwAt;
        LONG nState;
    } aCases[] = {{26, 32, 0, WORKER_DONE},   {100, 26, 0, WORKER_DONE}, {25, 32, 0, WORKER_FAILED},
                  {100, 25, 0, WORKER_FAILED}, {100, 32, 20, WORKER_FAILED}};
    for (const CASE &k : aCases) {
        SCOPED_TRACE(testing::Message() << k.cbMax << " " << k.cbReadable << " " << k.dwAt);
        ASSERT_EQ(SetFilePointer(pInst->hReadFile[1], (LONG)k.dwAt, NULL, FILE_BEGIN), k.dwAt);
        ASSERT_TRUE(PrepareWorker(pInst, pReader, k.cbMax));
        pReader->cbReadable = k.cbReadable;
        HandOverWorker(pReader);
        WaitWorkerIdle(pReader);
        EXPECT_EQ(pReader->nState.load(), k.nState);
        if (k.nState == WORKER_DONE) {
            EXPECT_EQ(pInst->aAheadHeader[1].dwDataSize, 10u);
            EXPECT_EQ(pInst->aAheadHeader[1].dwFrameSize, 32u);
            EXPECT_EQ(0, memcmp(pReader->pBuffer, &header, sizeof(header)));
            EXPECT_EQ(std::string(reinterpret_cast<char *>(pReader->pBuffer) + sizeof(header), 10), pszData);
        }
    }
    // A file cut short since its size was taken: the read that comes up
    // short fails the job.
    CloseHandle(pInst->hReadFile[1]);
    file.resize(20);
    ASSERT_TRUE(WriteBytes(path, file.data(), file.size()));
    pInst->hReadFile[1] = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                      OPEN_EXISTING, 0, NULL);
    ASSERT_NE(pInst->hReadFile[1], INVALID_HANDLE_VALUE);
    ASSERT_TRUE(PrepareWorker(pInst, pReader, 100));
    pReader->cbReadable = 32;
    HandOverWorker(pReader);
    WaitWorkerIdle(pReader);
    EXPECT_EQ(pReader->nState.load(), WORKER_FAILED);
}

TEST_F(Workers, WorkerTakesTheCallersPriority)
{
    pInst->hWriteFile[1] = Create("p.bin");
    IOWORKER *pWriter = &pInst->aWorker[WORKER_WRITE1];
    ASSERT_TRUE(PrepareWorker(pInst, pWriter, 4));
    int nOld = GetThreadPriority(GetCurrentThread());
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    HandOverWorker(pWriter);
    EXPECT_EQ(GetThreadPriority(pWriter->hThread), THREAD_PRIORITY_ABOVE_NORMAL);
    SetThreadPriority(GetCurrentThread(), nOld);
    WaitWorkerIdle(pWriter);
}

#ifndef _WIN32
// The caller blocks while a job is in hand: waiting for a slow disk costs
// its thread next to no processor time.
TEST_F(Workers, WaitForAJobTakesNoProcessorTime)
{
    SimulatedDisk disk(dir);
    disk.SetLatency(300000);
    pInst->hWriteFile[0] = Create("slow.bin");
    IOWORKER *pWriter = &pInst->aWorker[WORKER_WRITE0];
    ASSERT_TRUE(PrepareWorker(pInst, pWriter, 64));
    memset(pWriter->pBuffer, 7, 64);
    struct timespec cpu0, cpu1, wall0, wall1;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
    clock_gettime(CLOCK_MONOTONIC, &wall0);
    HandOverWorker(pWriter);
    WaitWorkerIdle(pWriter);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
    clock_gettime(CLOCK_MONOTONIC, &wall1);
    EXPECT_EQ(pWriter->nState.load(), WORKER_DONE);
    double dCpu = (double)(cpu1.tv_sec - cpu0.tv_sec) + (double)(cpu1.tv_nsec - cpu0.tv_nsec) / 1e9;
    double dWall = (double)(wall1.tv_sec - wall0.tv_sec) + (double)(wall1.tv_nsec - wall0.tv_nsec) / 1e9;
    EXPECT_GE(dWall, 0.25);
    // A waiting loop that yields would take about the whole wait.
    EXPECT_LT(dCpu, dWall / 4) << dCpu << " s of processor time in " << dWall << " s";
}
#endif

}  // namespace
