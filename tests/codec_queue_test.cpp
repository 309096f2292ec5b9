// Background writing through a write queue (WriteQueueMB): the host goes on
// while a stalling disk holds the queued frames, waits only when the queue
// is full, and a failed write loses at most the frames the queue held.
#include "tests/codec_fixture.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

class Queue : public CodecTest {
protected:
    // Raw frames of 160x120 at 24 bits: every frame takes the same bytes in
    // its file, so that the queue's room is counted in frames.
    void SetUpQueue(DWORD dwQueueMB, BOOL fBiFiled = FALSE)
    {
        memset(&g_Settings, 0, sizeof(g_Settings));
        g_Settings.fEnabled = TRUE;
        g_Settings.fNoCompress = TRUE;
        g_Settings.fOverlapWrite = TRUE;
        g_Settings.fBiFiled = fBiFiled;
        g_Settings.dwWriteQueueMB = dwQueueMB;
        SetBase("a", "b");
        for (int i = 0; i < 8; i++) pictures.push_back(MakePicture(160, 120, 24, i));
        cbFrame = (DWORD)sizeof(REFFRAMEHEADER) + pictures[0].bih.biSizeImage;
    }
    const PICTURE &Picture(size_t i) const { return pictures[i % pictures.size()]; }
    // Records whose frame does not play back as it was given.
    int Unplayable(const std::vector<COMPRESSED> &frames, const std::vector<size_t> &aPicture)
    {
        int n = 0;
        for (size_t i = 0; i < frames.size(); i++) {
            std::vector<BYTE> out;
            if (Decompress(frames[i].Data(), Picture(aPicture[i]), &out) != ICERR_OK || out != Picture(aPicture[i]).bits)
                n++;
        }
        Send(ICM_DECOMPRESS_END);
        return n;
    }
    // The frames in the queue, as the writer's thread leaves them.
    DWORD Queued(int iSeq = 0)
    {
        IOWORKER *pWriter = &Instance()->aWorker[WORKER_WRITE0 + iSeq];
        EnterCriticalSection(&pWriter->csQueue);
        DWORD n = pWriter->queue.nQueued;
        LeaveCriticalSection(&pWriter->csQueue);
        return n;
    }
    std::vector<PICTURE> pictures;
    DWORD cbFrame = 0;
};

// With a queue, the frames play back in order from both series, also across
// a file that reaches its size limit while frames of it are still queued;
// at the end of the run the queue's memory is given back.
TEST_F(Queue, FramesPlayBackInOrderAcrossSeriesAndFiles)
{
    SetUpQueue(1, TRUE);
#ifndef _WIN32
    SimulatedDisk disk(dir);
    disk.SetLatency(3000);
#endif
    Send(ICM_COMPRESS_BEGIN);
    std::vector<COMPRESSED> frames;
    std::vector<size_t> aPicture;
    for (size_t i = 0; i < 24; i++) {
        if (i == 12) Instance()->dwWriteOffset[0] = REFFILE_MAXSIZE - 8;
        frames.push_back(Compress(Picture(i)));
        aPicture.push_back(i);
        ASSERT_EQ(frames.back().lResult, ICERR_OK) << i;
        EXPECT_EQ(SequenceOf(frames.back()), (int)(i % 2)) << i;
    }
    for (int iSeq = 0; iSeq < 2; iSeq++)
        EXPECT_LE(Instance()->aWorker[WORKER_WRITE0 + iSeq].queue.cbPeak, 1ull << 20);
    Send(ICM_COMPRESS_END);
    EXPECT_EQ(RecordPath(frames[12]), Base("a.001"));
    EXPECT_EQ(RecordPath(frames[13]), Base("b.000"));
    for (int iSeq = 0; iSeq < 2; iSeq++) {
        const WRITEQUEUE &queue = Instance()->aWorker[WORKER_WRITE0 + iSeq].queue;
        EXPECT_TRUE(queue.cbHeld == 0 && queue.pFree == NULL && queue.pFirst == NULL) << iSeq;
    }
    EXPECT_EQ(Unplayable(frames, aPicture), 0);
}

#ifndef _WIN32
double Seconds(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// A host that takes a frame every 10 ms from a disk that stalls for 250 ms
// every 600 ms: a queue that holds the stall's frames costs no late call;
// without one a call waits through the stall.
TEST_F(Queue, AStallShorterThanTheQueueCostsNoLateCall)
{
    const struct {
        DWORD dwQueueMB;
        bool fLate;
    } aCases[] = {{4, false}, {0, true}};
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.dwQueueMB);
        pictures.clear();
        SetUpQueue(c.dwQueueMB);
        SimulatedDisk disk(dir);
        disk.SetBandwidth(20000000);
        disk.SetStalls(250, 600);
        Send(ICM_COMPRESS_BEGIN);
        double dLongest = 0;
        std::vector<COMPRESSED> frames;
        std::vector<size_t> aPicture;
        auto tNext = std::chrono::steady_clock::now();
        for (size_t i = 0; i < 100; i++) {
            std::this_thread::sleep_until(tNext);
            auto t0 = std::chrono::steady_clock::now();
            tNext = t0 + std::chrono::milliseconds(10);
            frames.push_back(Compress(Picture(i)));
            aPicture.push_back(i);
            double d = Seconds(t0);
            if (d > dLongest) dLongest = d;
            ASSERT_EQ(frames.back().lResult, ICERR_OK) << i;
        }
        Send(ICM_COMPRESS_END);
        // Half the stall: far above a call that only copies its frame, far
        // below one that waits for the disk.
        if (c.fLate) EXPECT_GT(dLongest, 0.125);
        else EXPECT_LT(dLongest, 0.125);
        EXPECT_EQ(Unplayable(frames, aPicture), 0);
        RemoveTree(dir);
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), NULL));
    }
}

// Frames given faster than the disk takes them: the queue fills up to its
// limit and no further, and the host waits for room.
TEST_F(Queue, TheQueueHoldsItsLimit)
{
    SetUpQueue(1);
    SimulatedDisk disk(dir);
    disk.SetBandwidth(2000000);
    Send(ICM_COMPRESS_BEGIN);
    std::vector<COMPRESSED> frames;
    std::vector<size_t> aPicture;
    for (size_t i = 0; i < 30; i++) {
        frames.push_back(Compress(Picture(i)));
        aPicture.push_back(i);
        ASSERT_EQ(frames.back().lResult, ICERR_OK) << i;
    }
    ULONGLONG cbPeak = Instance()->aWorker[WORKER_WRITE0].queue.cbPeak;
    EXPECT_LE(cbPeak, 1ull << 20);
    EXPECT_GT(cbPeak, (1ull << 20) - 2 * cbFrame);
    Send(ICM_COMPRESS_END);
    EXPECT_EQ(Instance()->aWorker[WORKER_WRITE0].queue.cbHeld, 0u);
    EXPECT_EQ(Unplayable(frames, aPicture), 0);
}

// The disk fills up while the queue holds frames: the write that fails and
// the frames queued behind it are the only records without their frame (at
// most the frames the queue holds), the next call says ICERR_ERROR, nothing
// more goes into the broken file, and once there is room the next frame
// opens a new file.
TEST_F(Queue, AWriteFailureLosesAtMostTheQueuedFrames)
{
    SetUpQueue(1);
    SimulatedDisk disk(dir);
    disk.SetBandwidth(2000000);
    disk.SetFree(10ull * cbFrame + cbFrame / 2);
    Send(ICM_COMPRESS_BEGIN);
    std::vector<COMPRESSED> stored;
    std::vector<size_t> aPicture;
    size_t iFirstFailure = 0;
    for (size_t i = 0; i < 40 && !iFirstFailure; i++) {
        COMPRESSED c = Compress(Picture(i));
        if (c.lResult != ICERR_OK) {
            iFirstFailure = i;
            break;
        }
        stored.push_back(c);
        aPicture.push_back(i);
    }
    ASSERT_GT(iFirstFailure, 10u);
    // The disk stays full: frames are written directly and fail, and leave
    // no file.
    for (size_t i = 0; i < 3; i++) EXPECT_EQ(Compress(Picture(i)).lResult, ICERR_ERROR);
    EXPECT_EQ(ListFolder(dir), std::vector<std::string>({"a.000"}));
    // The first ten frames are whole; of the rest, none.
    int nLost = Unplayable(stored, aPicture);
    std::vector<COMPRESSED> firstTen(stored.begin(), stored.begin() + 10);
    EXPECT_EQ(Unplayable(firstTen, std::vector<size_t>(aPicture.begin(), aPicture.begin() + 10)), 0);
    EXPECT_EQ(nLost, (int)stored.size() - 10);
    EXPECT_GE(nLost, 2) << "frames were queued behind the failed one";
    EXPECT_LE((ULONGLONG)nLost * cbFrame, 1ull << 20);
    // Room again: a new file, and the queue in use again.
    disk.SetFree(100ull * cbFrame);
    std::vector<COMPRESSED> after;
    std::vector<size_t> aAfter;
    for (size_t i = 0; i < 6; i++) {
        after.push_back(Compress(Picture(i)));
        aAfter.push_back(i);
        ASSERT_EQ(after.back().lResult, ICERR_OK) << i;
        EXPECT_EQ(RecordPath(after.back()), Base("a.001"));
    }
    EXPECT_FALSE(Instance()->fWriteDirect[0]);
    Send(ICM_COMPRESS_END);
    EXPECT_EQ(Unplayable(after, aAfter), 0);
}

// Another instance plays back frames of the file while the queue is being
// written: a frame already on the disk is read at once, one still queued
// once it is written, and both as they were given.
TEST_F(Queue, AReaderWaitsOnlyForItsOwnFrame)
{
    SetUpQueue(1);
    SimulatedDisk disk(dir);
    disk.SetLatency(60000);
    Send(ICM_COMPRESS_BEGIN);
    std::vector<COMPRESSED> frames;
    for (size_t i = 0; i < 8; i++) {
        frames.push_back(Compress(Picture(i)));
        ASSERT_EQ(frames.back().lResult, ICERR_OK) << i;
    }
    IOWORKER *pWriter = &Instance()->aWorker[WORKER_WRITE0];
    // The first frame written, and most of the queue still to go.
    for (int n = 0; n < 200 && Queued() > 7; n++) Sleep(5);
    ASSERT_EQ(Queued(), 7u);
    DWORD_PTR dwReader = OpenInstance();
    std::vector<BYTE> out;
    ASSERT_EQ(Decompress(frames[0].Data(), Picture(0), &out, dwReader), ICERR_OK);
    EXPECT_EQ(out, Picture(0).bits);
    EXPECT_EQ(pWriter->nState.load(), WORKER_BUSY) << "the reader waited for the whole queue";
    ASSERT_EQ(Decompress(frames[7].Data(), Picture(7), &out, dwReader), ICERR_OK);
    EXPECT_EQ(out, Picture(7).bits);
    SendTo(dwReader, ICM_DECOMPRESS_END);
    Send(ICM_COMPRESS_END);
}

// Frames larger than the whole queue are carried one at a time; the queue
// holds no more than one of them. Smaller frames after them do not stay in
// their large buffers: the queue holds many of them again. All play back.
TEST_F(Queue, AFrameLargerThanTheQueueIsCarriedAlone)
{
    SetUpQueue(1);
    for (int i = 0; i < 3; i++) pictures.push_back(MakePicture(800, 600, 24, i));
    const size_t LARGE = 8;  // pictures from here on are large
    SimulatedDisk disk(dir);
    disk.SetBandwidth(5000000);
    Send(ICM_COMPRESS_BEGIN);
    std::vector<COMPRESSED> frames;
    std::vector<size_t> aPicture;
    for (size_t i = 0; i < 3; i++) {
        frames.push_back(Compress(pictures[LARGE + i % 3]));
        aPicture.push_back(LARGE + i % 3);
        ASSERT_EQ(frames.back().lResult, ICERR_OK) << i;
    }
    EXPECT_EQ(Instance()->aWorker[WORKER_WRITE0].queue.cbPeak,
              sizeof(REFFRAMEHEADER) + pictures[LARGE].bih.biSizeImage);
    DWORD nMostQueued = 0;
    for (size_t i = 0; i < 12; i++) {
        frames.push_back(Compress(pictures[i % LARGE]));
        aPicture.push_back(i % LARGE);
        ASSERT_EQ(frames.back().lResult, ICERR_OK) << i;
        nMostQueued = std::max(nMostQueued, Queued());
    }
    EXPECT_GE(nMostQueued, 4u);
    Send(ICM_COMPRESS_END);
    int nBad = 0;
    for (size_t i = 0; i < frames.size(); i++) {
        std::vector<BYTE> out;
        if (Decompress(frames[i].Data(), pictures[aPicture[i]], &out) != ICERR_OK || out != pictures[aPicture[i]].bits)
            nBad++;
    }
    EXPECT_EQ(nBad, 0);
}
#endif

// The settings changed between frames, as the dialog or spool config may
// change them during a recording: background writing on and off, the queue
// on and off, one series and two. Every frame plays back.
TEST_F(Queue, SettingsChangedBetweenFrames)
{
    SetUpQueue(1);
#ifndef _WIN32
    SimulatedDisk disk(dir);
    disk.SetLatency(2000);
#endif
    const struct {
        BOOL fOverlap;
        DWORD dwQueueMB;
        BOOL fBiFiled;
    } aSteps[] = {{TRUE, 1, FALSE}, {TRUE, 0, FALSE}, {TRUE, 1, TRUE}, {FALSE, 1, TRUE},
                  {TRUE, 2, TRUE},  {TRUE, 0, TRUE},  {FALSE, 0, FALSE}, {TRUE, 1, FALSE}};
    Send(ICM_COMPRESS_BEGIN);
    std::vector<COMPRESSED> frames;
    std::vector<size_t> aPicture;
    for (size_t i = 0; i < 5 * sizeof(aSteps) / sizeof(aSteps[0]); i++) {
        const auto &step = aSteps[(i / 5) % (sizeof(aSteps) / sizeof(aSteps[0]))];
        g_Settings.fOverlapWrite = step.fOverlap;
        g_Settings.dwWriteQueueMB = step.dwQueueMB;
        g_Settings.fBiFiled = step.fBiFiled;
        frames.push_back(Compress(Picture(i)));
        aPicture.push_back(i);
        ASSERT_EQ(frames.back().lResult, ICERR_OK) << i;
    }
    Send(ICM_COMPRESS_END);
    EXPECT_EQ(Unplayable(frames, aPicture), 0);
}

// Reference writing turned off during a run: the run's end still waits
// for the queued frames and gives back the queue.
TEST_F(Queue, TheRunEndsWithItsFramesOnTheDiskAfterReferenceWritingIsTurnedOff)
{
    SetUpQueue(1);
#ifndef _WIN32
    SimulatedDisk disk(dir);
    disk.SetLatency(20000);
#endif
    Send(ICM_COMPRESS_BEGIN);
    std::vector<COMPRESSED> frames;
    std::vector<size_t> aPicture;
    for (size_t i = 0; i < 6; i++) {
        frames.push_back(Compress(Picture(i)));
        aPicture.push_back(i);
    }
    g_Settings.fEnabled = FALSE;
    Send(ICM_COMPRESS_END);
    EXPECT_NE(Instance()->aWorker[WORKER_WRITE0].nState.load(), WORKER_BUSY);
    EXPECT_EQ(Instance()->aWorker[WORKER_WRITE0].queue.cbHeld, 0u);
    g_Settings.fEnabled = TRUE;
    EXPECT_EQ(Unplayable(frames, aPicture), 0);
}

}  // namespace
