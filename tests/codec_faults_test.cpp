// Spoolcap against what goes wrong around it: a disk that fills up and stays
// full, a wrapped codec that writes more than it announced, and hostile
// records and reference files.
#include "tests/codec_fixture.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

class Faults : public CodecTest {};

// cb bytes that end where an unreadable page begins, so that any access past
// them faults.
class PageEdge {
public:
    explicit PageEdge(DWORD cb)
    {
        cbPages = ((cb + 4095) / 4096 + 1) * 4096;
        pPages = static_cast<BYTE *>(VirtualAlloc(NULL, cbPages, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD dwOld;
        if (pPages && VirtualProtect(pPages + cbPages - 4096, 4096, PAGE_NOACCESS, &dwOld))
            p = pPages + cbPages - 4096 - cb;
    }
    ~PageEdge()
    {
        if (pPages) VirtualFree(pPages, 0, MEM_RELEASE);
    }
    BYTE *p = NULL;

private:
    BYTE *pPages = NULL;
    DWORD cbPages = 0;
};

#ifndef _WIN32
// A disk that fills up in the middle of a run and stays full: of the frames
// whose records the host received, only the one that was being written when
// the disk filled up (one per series) is missing. Failed frames leave no
// files behind, and writing goes on once there is room again.
TEST_F(Faults, DiskThatStaysFullLosesOnlyTheFrameInFlight)
{
    for (BOOL fBiFiled : {FALSE, TRUE}) {
        SCOPED_TRACE(fBiFiled ? "two series" : "one series");
        std::string sub = JoinPath(dir, fBiFiled ? "two" : "one");
        ASSERT_TRUE(CreateDirectoryA(sub.c_str(), NULL));
        memset(&g_Settings, 0, sizeof(g_Settings));
        g_Settings.fEnabled = TRUE;
        g_Settings.fOverlapWrite = TRUE;
        g_Settings.fBiFiled = fBiFiled;
        snprintf(g_Settings.szBaseFile, MAX_PATH, "%s", JoinPath(sub, "a").c_str());
        snprintf(g_Settings.szBaseFile2, MAX_PATH, "%s", JoinPath(sub, "b").c_str());
        std::vector<PICTURE> pictures;
        for (int i = 0; i < 40; i++) pictures.push_back(MakePicture(64, 48, 24, i));
        const DWORD cbLargest = 16 + SampleMaxCompressedSize(pictures[0].bih.biSizeImage) + 16;

        SimulatedDisk disk(sub);
        disk.SetFree(5ull * cbLargest);
        Send(ICM_COMPRESS_BEGIN);
        std::vector<int> aStored;
        std::vector<COMPRESSED> frames;
        int nFailed = 0;
        for (int i = 0; i < 30; i++) {
            frames.push_back(Compress(pictures[i]));
            if (frames.back().lResult == ICERR_OK) aStored.push_back(i);
            else nFailed++;
        }
        // The disk stays full: every frame after the first failure fails,
        // and the failed frames used up no file.
        ASSERT_GE(nFailed, 10);
        EXPECT_EQ(aStored.size(), (size_t)(30 - nFailed));
        EXPECT_EQ(aStored.back(), (int)aStored.size() - 1);
        std::vector<std::string> files = ListFolder(sub);
        EXPECT_EQ(files.size(), fBiFiled ? 2u : 1u);
        // Room again: frames are stored again (a second series still
        // reports its own lost frame first), and background writing resumes.
        disk.SetFree(100ull * cbLargest);
        int nFailedAfter = 0;
        for (int i = 30; i < 40; i++) {
            frames.push_back(Compress(pictures[i]));
            if (frames.back().lResult == ICERR_OK) aStored.push_back(i);
            else nFailedAfter++;
        }
        EXPECT_LE(nFailedAfter, fBiFiled ? 1 : 0);
        EXPECT_FALSE(Instance()->fWriteDirect[0] || Instance()->fWriteDirect[1]);
        Send(ICM_COMPRESS_END);
        int nLost = 0;
        for (int i : aStored) {
            std::vector<BYTE> out;
            if (Decompress(frames[(size_t)i].Data(), pictures[(size_t)i], &out) != ICERR_OK || out != pictures[(size_t)i].bits)
                nLost++;
        }
        EXPECT_LE(nLost, fBiFiled ? 2 : 1);
        EXPECT_GE(nLost, 1) << "the frame in flight when the disk filled up";
        Send(ICM_DECOMPRESS_END);
    }
}

// A host that records one frame per run on a disk that stays full: the
// write that failed at the end of one run makes the next runs write
// directly, so that only the frame in flight when the disk filled up has a
// record without its frame.
TEST_F(Faults, DiskThatStaysFullAcrossShortRuns)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapWrite = TRUE;
    SetBase("short");
    PICTURE pic = MakePicture(64, 48, 24, 2);
    COMPRESSED probe = Compress(pic);
    ASSERT_EQ(probe.lResult, ICERR_OK);
    Send(ICM_COMPRESS_END);
    ASSERT_TRUE(DeleteFileA(Base("short.000").c_str()));
    SimulatedDisk disk(dir);
    disk.SetFree(3 * FrameSizeOf(probe) + FrameSizeOf(probe) / 2);
    std::vector<COMPRESSED> stored;
    for (int nRun = 0; nRun < 12; nRun++) {
        Send(ICM_COMPRESS_BEGIN);
        COMPRESSED c = Compress(pic);
        if (c.lResult == ICERR_OK) stored.push_back(c);
        Send(ICM_COMPRESS_END);
    }
    int nLost = 0;
    for (const COMPRESSED &c : stored) {
        std::vector<BYTE> out;
        if (Decompress(c.Data(), pic, &out) != ICERR_OK || out != pic.bits) nLost++;
    }
    EXPECT_GE(stored.size(), 3u);
    EXPECT_LE(nLost, 1);
    // Room again: each run's first frame is stored.
    disk.SetFree(100 * FrameSizeOf(probe));
    for (int nRun = 0; nRun < 3; nRun++) {
        Send(ICM_COMPRESS_BEGIN);
        EXPECT_EQ(Compress(pic).lResult, ICERR_OK) << nRun;
        Send(ICM_COMPRESS_END);
    }
}

// The last background write of a run fails on a full disk; room is made
// before the next frame, which is stored (directly), whether the host starts
// a new run first or goes on without one.
TEST_F(Faults, WriteLostAtTheEndOfARunDoesNotFailTheNextFrame)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapWrite = TRUE;
    SetBase("ends");
    PICTURE pic = MakePicture(64, 48, 24, 2);
    COMPRESSED probe = Compress(pic);
    ASSERT_EQ(probe.lResult, ICERR_OK);
    Send(ICM_COMPRESS_END);
    SimulatedDisk disk(dir);
    for (BOOL fNewRun : {FALSE, TRUE}) {
        SCOPED_TRACE(fNewRun ? "new run" : "no new run");
        disk.SetFree(FrameSizeOf(probe) + FrameSizeOf(probe) / 2);
        Send(ICM_COMPRESS_BEGIN);
        ASSERT_EQ(Compress(pic).lResult, ICERR_OK);
        ASSERT_EQ(Compress(pic).lResult, ICERR_OK);  // its write fails
        Send(ICM_COMPRESS_END);
        disk.SetFree(100 * FrameSizeOf(probe));
        if (fNewRun) Send(ICM_COMPRESS_BEGIN);
        COMPRESSED next = Compress(pic);
        EXPECT_EQ(next.lResult, ICERR_OK);
        Send(ICM_COMPRESS_END);
        std::vector<BYTE> out;
        ASSERT_EQ(Decompress(next.Data(), pic, &out), ICERR_OK);
        EXPECT_EQ(out, pic.bits);
    }
}

// Direct writes fail on a full disk; background writing is then turned on
// while the disk is still full: frames go on being written directly, and no
// record comes back for a frame that the disk did not take.
TEST_F(Faults, FailedDirectWriteKeepsWritingDirectly)
{
    g_Settings.fEnabled = TRUE;
    SetBase("direct");
    PICTURE pic = MakePicture(64, 48, 24, 2);
    SimulatedDisk disk(dir);
    disk.SetFree(0);
    for (int i = 0; i < 3; i++) EXPECT_EQ(Compress(pic).lResult, ICERR_ERROR);
    g_Settings.fOverlapWrite = TRUE;
    for (int i = 0; i < 3; i++) EXPECT_EQ(Compress(pic).lResult, ICERR_ERROR) << i;
    EXPECT_TRUE(ListFolder(dir).empty());
}

// A capture program plays the file it is recording into: while a frame is
// being written (its bytes already in the file, the disk still busy), the
// player reads nothing ahead of it.
TEST_F(Faults, NoReadAheadOfAFileBeingWritten)
{
    g_Settings.fEnabled = TRUE;
    SetBase("live");
    std::vector<PICTURE> pictures = {MakePicture(64, 48, 24, 4), MakePicture(64, 48, 24, 3), MakePicture(64, 48, 24, 2)};
    DWORD_PTR dwPlayer = OpenInstance();
    Send(ICM_COMPRESS_BEGIN);
    std::vector<COMPRESSED> frames = {Compress(pictures[0]), Compress(pictures[1])};
    std::vector<BYTE> out;
    g_Settings.fOverlapRead = TRUE;
    ASSERT_EQ(Decompress(frames[0].Data(), pictures[0], &out, dwPlayer), ICERR_OK);
    WaitWorkerIdle(&Instance(dwPlayer)->aWorker[WORKER_READ0]);
    {
        // The third frame's write takes a second after its bytes are in.
        SimulatedDisk disk(dir);
        disk.SetBandwidth(8000);
        g_Settings.fOverlapWrite = TRUE;
        Send(ICM_COMPRESS_END);
        Send(ICM_COMPRESS_BEGIN);
        CloseWriteFile(Instance(), 0, TRUE);
        Instance()->hWriteFile[0] = CreateFileA(Base("live.000").c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                                OPEN_EXISTING, 0, NULL);
        ASSERT_NE(Instance()->hWriteFile[0], INVALID_HANDLE_VALUE);
        SetFilePointer(Instance()->hWriteFile[0], 0, NULL, FILE_END);
        snprintf(Instance()->szWriteName[0], MAX_PATH, "%s", Base("live.000").c_str());
        Instance()->dwWriteOffset[0] = FrameSizeOf(frames[0]) + FrameSizeOf(frames[1]);
        frames.push_back(Compress(pictures[2]));
        ASSERT_EQ(Instance()->aWorker[WORKER_WRITE0].nState.load(), WORKER_BUSY);
        // The second frame comes from the read-ahead; nothing is read ahead
        // of the third while it is being written.
        ASSERT_EQ(Decompress(frames[1].Data(), pictures[1], &out, dwPlayer), ICERR_OK);
        EXPECT_EQ(Instance(dwPlayer)->cAheadHits, 1u);
        EXPECT_EQ(Instance(dwPlayer)->aWorker[WORKER_READ0].nState.load(), WORKER_IDLE);
        ASSERT_EQ(Decompress(frames[2].Data(), pictures[2], &out, dwPlayer), ICERR_OK);
        EXPECT_EQ(out, pictures[2].bits);
        Send(ICM_COMPRESS_END);
    }
}

// A background write that failed is reported on a frame that would also
// carry its file past the size limit: no new file is left behind for it.
TEST_F(Faults, FailureAtTheSizeLimitLeavesNoFile)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapWrite = TRUE;
    SetBase("edge");
    PICTURE pic = MakePicture(64, 48, 24, 2);
    COMPRESSED probe = Compress(pic);
    ASSERT_EQ(probe.lResult, ICERR_OK);
    const DWORD cbFrame = FrameSizeOf(probe);
    Send(ICM_COMPRESS_BEGIN);
    ASSERT_TRUE(DeleteFileA(Base("edge.000").c_str()));
    {
        // Room for one frame and a half: the second frame's write stops.
        SimulatedDisk disk(dir);
        disk.SetFree(cbFrame + cbFrame / 2);
        ASSERT_EQ(Compress(pic).lResult, ICERR_OK);
        ASSERT_EQ(Compress(pic).lResult, ICERR_OK);
        WaitWorkerIdle(&Instance()->aWorker[WORKER_WRITE0]);
        ASSERT_EQ(Instance()->aWorker[WORKER_WRITE0].nState.load(), WORKER_FAILED);
    }
    Instance()->dwWriteOffset[0] = REFFILE_MAXSIZE - 8;
    EXPECT_EQ(Compress(pic).lResult, ICERR_ERROR);
    EXPECT_EQ(ListFolder(dir), std::vector<std::string>({"edge.000"}));
    // The next frame starts the next file.
    COMPRESSED next = Compress(pic);
    ASSERT_EQ(next.lResult, ICERR_OK);
    EXPECT_EQ(RecordPath(next), Base("edge.001"));
}
// On a slow disk the write of one frame is still in progress when the next
// frame would carry the file past its size limit: the file is closed only
// once that write is done, and both frames play back.
TEST_F(Faults, RollOverWaitsForTheWriteInProgress)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapWrite = TRUE;
    SetBase("slow");
    std::vector<PICTURE> pictures = {MakePicture(64, 48, 24, 1), MakePicture(64, 48, 24, 2)};
    std::vector<COMPRESSED> frames;
    {
        SimulatedDisk disk(dir);
        disk.SetLatency(100000);
        Send(ICM_COMPRESS_BEGIN);
        frames.push_back(Compress(pictures[0]));
        ASSERT_EQ(Instance()->aWorker[WORKER_WRITE0].nState.load(), WORKER_BUSY);
        Instance()->dwWriteOffset[0] = REFFILE_MAXSIZE - 8;
        frames.push_back(Compress(pictures[1]));
        Send(ICM_COMPRESS_END);
    }
    ASSERT_EQ(frames[0].lResult, ICERR_OK);
    ASSERT_EQ(frames[1].lResult, ICERR_OK);
    EXPECT_EQ(RecordPath(frames[1]), Base("slow.001"));
    for (size_t i = 0; i < frames.size(); i++) {
        std::vector<BYTE> out;
        ASSERT_EQ(Decompress(frames[i].Data(), pictures[i], &out), ICERR_OK) << i;
        EXPECT_EQ(out, pictures[i].bits) << i;
    }
}

// On a slow disk the read-ahead is still reading when playback ends: the
// file is closed only once that read is done, and playback goes on after.
TEST_F(Faults, DecompressEndWaitsForTheReadAhead)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapRead = TRUE;
    SetBase("slowread");
    std::vector<PICTURE> pictures = {MakePicture(64, 48, 24, 4), MakePicture(64, 48, 24, 3)};
    Send(ICM_COMPRESS_BEGIN);
    std::vector<COMPRESSED> frames = {Compress(pictures[0]), Compress(pictures[1])};
    Send(ICM_COMPRESS_END);
    std::vector<BYTE> out;
    {
        SimulatedDisk disk(dir);
        disk.SetLatency(100000);
        ASSERT_EQ(Decompress(frames[0].Data(), pictures[0], &out), ICERR_OK);
        ASSERT_EQ(Instance()->aWorker[WORKER_READ0].nState.load(), WORKER_BUSY);
        Send(ICM_DECOMPRESS_END);
        EXPECT_NE(Instance()->aWorker[WORKER_READ0].nState.load(), WORKER_BUSY);
    }
    ASSERT_EQ(Decompress(frames[1].Data(), pictures[1], &out), ICERR_OK);
    EXPECT_EQ(out, pictures[1].bits);
}
#endif

// A codec that writes up to 16 bytes more than its size answer still fits
// the host's buffer, but the rounding to 16 bytes would not: the frame goes
// into the AVI as it is, and nothing past the buffer is read.
TEST_F(Faults, CodecOverrunWithoutRoomForTheRoundingGoesToTheAvi)
{
    g_Settings.fEnabled = TRUE;
    SetBase("over");
    // 100 x 10 pixels of 24 bits: 3000 bytes, a size answer of 3028.
    PICTURE pic = MakePicture(100, 10, 24, 1);
    const DWORD cbAnswer = SampleMaxCompressedSize(pic.bih.biSizeImage);
    ASSERT_EQ(cbAnswer % 16, 4u);
    for (DWORD dwOverrun : {4u, 12u, 13u, 16u}) {
        SCOPED_TRACE(dwOverrun);
        pfnSampleControl(SAMPLE_OVERRUN, dwOverrun);
        BITMAPINFOHEADER bih = pic.bih;
        BITMAPINFOHEADER bihOut;
        ASSERT_EQ(Send(ICM_COMPRESS_GET_FORMAT, (LPARAM)&bih, (LPARAM)&bihOut), ICERR_OK);
        DWORD cbRoom = (DWORD)Send(ICM_COMPRESS_GET_SIZE, (LPARAM)&bih, (LPARAM)&bihOut);
        ASSERT_EQ(cbRoom, OUTPUT_DATA_OFFSET + cbAnswer + 16);
        // The host's buffer ends at a page edge.
        PageEdge output(cbRoom);
        ASSERT_NE(output.p, nullptr);
        ICCOMPRESS ic;
        memset(&ic, 0, sizeof(ic));
        ic.lpbiOutput = &bihOut;
        ic.lpOutput = output.p;
        ic.lpbiInput = &bih;
        ic.lpInput = pic.bits.data();
        ASSERT_EQ(Send(ICM_COMPRESS, (LPARAM)&ic, sizeof(ic)), ICERR_OK);
        DWORD cbWritten = cbAnswer + dwOverrun;
        std::vector<BYTE> data(output.p, output.p + bihOut.biSizeImage);
        if (cbWritten % 16 == 0 || cbWritten + 16 - cbWritten % 16 <= cbAnswer + 16) {
            EXPECT_TRUE(IsRefRecord(data.data(), (DWORD)data.size()));
        } else {
            EXPECT_FALSE(IsRefRecord(data.data(), (DWORD)data.size()));
            EXPECT_EQ(bihOut.biSizeImage, cbWritten);
        }
        std::vector<BYTE> out;
        ASSERT_EQ(Decompress(data, pic, &out), ICERR_OK);
        EXPECT_EQ(out, pic.bits);
    }
}

// A size request that the codec refuses passes on its answer untouched and
// leaves no room remembered, also when a 64-bit codec's error code comes
// back as 32 bits without its sign: the next frame goes to the codec alone.
TEST_F(Faults, SizeRequestRefusedByTheCodecStaysAnError)
{
    g_Settings.fEnabled = TRUE;
    SetBase("refused");
    PICTURE pic = MakePicture(32, 8, 24, 1);
    BITMAPINFOHEADER bih = pic.bih;
    BITMAPINFOHEADER bihOut;
    ASSERT_EQ(Send(ICM_COMPRESS_GET_FORMAT, (LPARAM)&bih, (LPARAM)&bihOut), ICERR_OK);
    ASSERT_GT(Send(ICM_COMPRESS_GET_SIZE, (LPARAM)&bih, (LPARAM)&bihOut), 0);
    ASSERT_NE(Instance()->dwOutputRoom, 0u);
    for (DWORD_PTR dwAnswer : {(DWORD_PTR)(LRESULT)ICERR_BADFORMAT, (DWORD_PTR)(DWORD)ICERR_BADFORMAT,
                               (DWORD_PTR)0x80000000u}) {
        SCOPED_TRACE(dwAnswer);
        pfnSampleControl(SAMPLE_SIZE_ANSWER, dwAnswer);
        EXPECT_EQ(Send(ICM_COMPRESS_GET_SIZE, (LPARAM)&bih, (LPARAM)&bihOut), (LRESULT)dwAnswer);
        EXPECT_EQ(Instance()->dwOutputRoom, 0u);
        EXPECT_EQ(Instance()->dwCodecRoom, 0u);
    }
}

// Without the host's size, a chunk that begins with the magic word is read
// as a record only where a whole record can be read: a short chunk right
// before an unreadable page goes to the wrapped codec.
TEST_F(Faults, ShortChunkBeforeAnUnreadablePage)
{
    g_Settings.fEnabled = TRUE;
    SetBase("edge");
    PICTURE pic = MakePicture(32, 32, 24, 1);
    COMPRESSED c = Compress(pic);
    ASSERT_EQ(c.lResult, ICERR_OK);
    PageEdge page(4096);
    ASSERT_NE(page.p, nullptr);
    BYTE *pEnd = page.p + 4096;

    BITMAPINFOHEADER bihIn = pic.bih;
    bihIn.biCompression = SAMPLE_FOURCC;
    bihIn.biSizeImage = 0;
    BITMAPINFOHEADER bihOut = pic.bih;
    std::vector<BYTE> out(pic.bih.biSizeImage);
    ICDECOMPRESS id;
    memset(&id, 0, sizeof(id));
    id.lpbiInput = &bihIn;
    id.lpbiOutput = &bihOut;
    id.lpOutput = out.data();
    for (DWORD cbChunk : {4u, 8u, 20u, 275u}) {
        BYTE *pChunk = pEnd - cbChunk;
        memcpy(pChunk, c.output.data(), cbChunk);
        id.lpInput = pChunk;
        DWORD nCodecCalls = pfnSampleCount(ICM_DECOMPRESS);
        EXPECT_NE(Send(ICM_DECOMPRESS, (LPARAM)&id, sizeof(id)), ICERR_OK) << cbChunk;
        EXPECT_EQ(pfnSampleCount(ICM_DECOMPRESS), nCodecCalls + 1) << cbChunk;
    }
    // A whole record at the page's end is one.
    BYTE *pRecord = pEnd - sizeof(REFRECORD);
    memcpy(pRecord, c.output.data(), sizeof(REFRECORD));
    id.lpInput = pRecord;
    EXPECT_EQ(Send(ICM_DECOMPRESS, (LPARAM)&id, sizeof(id)), ICERR_OK);
    EXPECT_EQ(out, pic.bits);
}

// A record may claim a frame of up to 1 GiB: the read buffer holds no more
// than the frame's header and the data that the file really holds; a raw
// frame's picture goes straight to the host's output.
TEST_F(Faults, RecordClaimingAHugeFrameTakesNoMoreThanItsData)
{
    g_Settings.fEnabled = TRUE;
    for (BOOL fRaw : {FALSE, TRUE}) {
        SCOPED_TRACE(fRaw ? "raw" : "compressed");
        g_Settings.fNoCompress = fRaw;
        SetBase(fRaw ? "raw" : "packed");
        PICTURE pic = MakePicture(64, 48, 24, 3);
        COMPRESSED c = Compress(pic);
        ASSERT_EQ(c.lResult, ICERR_OK);
        Send(ICM_COMPRESS_END);
        REFRECORD real = RecordOf(c);
        STOREDFRAME stored = ReadStoredFrame(real.szFileName, real.dwOffset);
        ASSERT_TRUE(stored.fOk);
        std::vector<BYTE> record = c.Data();
        REFRECORD rec = real;
        rec.dwSizeFlags = (real.dwSizeFlags & ~REFREC_SIZEMASK) | REFREC_SIZEMASK;
        memcpy(record.data(), &rec, sizeof(rec));
        // A player of its own, whose buffers start empty.
        DWORD_PTR dwPlayer = OpenInstance();
        std::vector<BYTE> out;
        ASSERT_EQ(Decompress(record, pic, &out, dwPlayer), ICERR_OK);
        EXPECT_EQ(out, pic.bits);
        EXPECT_LE(Instance(dwPlayer)->cbReadBuf[0], sizeof(REFFRAMEHEADER) + (fRaw ? 0 : stored.header.dwDataSize));
        // A header that claims more data than the file holds is refused
        // before any buffer is made for it.
        std::vector<BYTE> file = ReadBytes(real.szFileName);
        REFFRAMEHEADER header = stored.header;
        header.dwDataSize = 500u << 20;
        memcpy(file.data() + real.dwOffset, &header, sizeof(header));
        SendTo(dwPlayer, ICM_DECOMPRESS_END);
        ASSERT_TRUE(WriteBytes(real.szFileName, file.data(), file.size()));
        EXPECT_EQ(Decompress(record, pic, &out, dwPlayer), ICERR_ERROR);
        EXPECT_LE(Instance(dwPlayer)->cbReadBuf[0], sizeof(REFFRAMEHEADER) + (fRaw ? 0 : stored.header.dwDataSize));
    }
}

// The read-ahead takes the size of the next frame from its header: a header
// that asks for more than the frames at hand use is not read ahead.
TEST_F(Faults, ReadAheadTakesNoMoreThanTheFramesAtHand)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapRead = TRUE;
    SetBase("ahead");
    std::vector<PICTURE> pictures = {MakePicture(64, 48, 24, 4), MakePicture(64, 48, 24, 3)};
    Send(ICM_COMPRESS_BEGIN);
    COMPRESSED first = Compress(pictures[0]);
    COMPRESSED second = Compress(pictures[1]);
    Send(ICM_COMPRESS_END);
    ASSERT_EQ(first.lResult, ICERR_OK);
    ASSERT_EQ(second.lResult, ICERR_OK);
    // The second frame's header claims 500 MB.
    std::string path = RecordOf(second).szFileName;
    std::vector<BYTE> file = ReadBytes(path);
    REFFRAMEHEADER header;
    memcpy(&header, file.data() + RecordOf(second).dwOffset, sizeof(header));
    header.dwDataSize = 500u << 20;
    memcpy(file.data() + RecordOf(second).dwOffset, &header, sizeof(header));
    ASSERT_TRUE(WriteBytes(path, file.data(), file.size()));

    std::vector<BYTE> out;
    ASSERT_EQ(Decompress(first.Data(), pictures[0], &out), ICERR_OK);
    IOWORKER *pReader = &Instance()->aWorker[WORKER_READ0];
    WaitWorkerIdle(pReader);
    EXPECT_LE(pReader->cbBuffer, Instance()->cbReadBuf[0]);
    EXPECT_EQ(Decompress(second.Data(), pictures[1], &out), ICERR_ERROR);
    EXPECT_LE(pReader->cbBuffer, Instance()->cbReadBuf[0]);
}

}  // namespace
