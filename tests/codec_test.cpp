// Compression into reference files and decompression from them, in process,
// with the sample codec as the wrapped codec and real files.
#include "tests/codec_fixture.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace {

class Compression : public CodecTest {};
class Decompression : public CodecTest {};

TEST_F(Compression, EnabledOffLeavesEverythingToTheWrappedCodec)
{
    SetBase("take");
    PICTURE pic = MakePicture(64, 48, 24, 3);
    COMPRESSED c = Compress(pic);
    ASSERT_EQ(c.lResult, ICERR_OK);
    EXPECT_FALSE(IsRefRecord(c.output.data(), c.cbOutput));
    // The codec's own frame at the start of the buffer: the picture's size first.
    DWORD cbRaw;
    memcpy(&cbRaw, c.output.data(), 4);
    EXPECT_EQ(cbRaw, pic.bih.biSizeImage);
    EXPECT_TRUE(ListFolder(dir).empty());
    // Without Enabled the answer to ICM_COMPRESS_GET_SIZE is the codec's own.
    BITMAPINFOHEADER bih = pic.bih;
    EXPECT_EQ(Send(ICM_COMPRESS_GET_SIZE, (LPARAM)&bih, 0), (LRESULT)SampleMaxCompressedSize(bih.biSizeImage));
    std::vector<BYTE> out;
    ASSERT_EQ(Decompress(c.Data(), pic, &out), ICERR_OK);
    EXPECT_EQ(out, pic.bits);
}

TEST_F(Compression, NoRefFlagAsksForOrdinaryCompression)
{
    g_Settings.fEnabled = TRUE;
    SetBase("take");
    PICTURE pic = MakePicture(64, 48, 24, 1);
    COMPRESSED c = Compress(pic, ICCOMPRESS_KEYFRAME | ICCOMPRESS_NOREF);
    ASSERT_EQ(c.lResult, ICERR_OK);
    EXPECT_FALSE(IsRefRecord(c.output.data(), c.cbOutput));
    EXPECT_TRUE(ListFolder(dir).empty());
    // The wrapped codec never sees Spoolcap's own bit, only the platform's.
    EXPECT_EQ(pfnSampleControl(SAMPLE_LAST_COMPRESS_FLAGS, 0), (DWORD_PTR)ICCOMPRESS_KEYFRAME);
}

TEST_F(Compression, GetSizeLeavesRoomForRecordHeaderAndPadding)
{
    PICTURE pic = MakePicture(100, 10, 24, 0);
    BITMAPINFOHEADER bih = pic.bih;
    const LRESULT cbCodec = (LRESULT)SampleMaxCompressedSize(bih.biSizeImage);
    g_Settings.fEnabled = TRUE;
    for (DWORD dwPadding : {0u, 10u, 100u, 250u}) {
        g_Settings.dwPadding = dwPadding;
        LRESULT cbRoom = Send(ICM_COMPRESS_GET_SIZE, (LPARAM)&bih, 0);
        // The largest padding any frame of up to cbCodec bytes gets fits.
        DWORD cbMaxPad = 0;
        for (DWORD d = 0; d <= (DWORD)cbCodec; d++) cbMaxPad = d + ComputePadding(d, dwPadding) > cbMaxPad ? d + ComputePadding(d, dwPadding) : cbMaxPad;
        EXPECT_GE(cbRoom, (LRESULT)(OUTPUT_DATA_OFFSET + cbMaxPad)) << dwPadding;
        EXPECT_LE(cbRoom, (LRESULT)(OUTPUT_DATA_OFFSET + cbCodec + cbCodec * dwPadding / 100 + 16)) << dwPadding;
    }
}

TEST_F(Compression, IncompressibleFrameFitsTheAnsweredSize)
{
    // The codec's worst case and the largest padding: the output buffer of
    // exactly the answered size holds everything (a read or write past it
    // is caught by the sanitizers and the sentinel).
    g_Settings.fEnabled = TRUE;
    SetBase("worst");
    for (DWORD dwPadding : {0u, 250u}) {
        g_Settings.dwPadding = dwPadding;
        PICTURE pic = MakePicture(128, 32, 24, 0);
        for (size_t i = 0; i < pic.bits.size(); i++) pic.bits[i] = (BYTE)(i % 3 == 0 ? i / 3 : 0x55);
        COMPRESSED c = Compress(pic);
        ASSERT_EQ(c.lResult, ICERR_OK);
        std::vector<BYTE> out;
        ASSERT_EQ(Decompress(c.Data(), pic, &out), ICERR_OK);
        EXPECT_EQ(out, pic.bits);
    }
}

// Every combination of the switches and four paddings: frames go to the
// right files at the right places, and come back byte for byte.
TEST_F(Compression, EverySettingCombinationRoundTrips)
{
    const int nFrames = 5;
    int nCombination = 0;
    for (int fBiFiled = 0; fBiFiled < 2; fBiFiled++)
    for (int fNoCompress = 0; fNoCompress < 2; fNoCompress++)
    for (int fOverlapWrite = 0; fOverlapWrite < 2; fOverlapWrite++)
    for (int fOverlapRead = 0; fOverlapRead < 2; fOverlapRead++)
    for (DWORD dwPadding : {0u, 10u, 100u, 250u}) {
        SCOPED_TRACE(testing::Message() << "BiFiled " << fBiFiled << " NoCompress " << fNoCompress << " OverlapWrite "
                                        << fOverlapWrite << " OverlapRead " << fOverlapRead << " Padding " << dwPadding);
        char szBase[32], szBase2[32];
        snprintf(szBase, sizeof(szBase), "a%d", nCombination);
        snprintf(szBase2, sizeof(szBase2), "b%d", nCombination++);
        memset(&g_Settings, 0, sizeof(g_Settings));
        g_Settings.fEnabled = TRUE;
        SetBase(szBase, szBase2);
        g_Settings.fBiFiled = fBiFiled;
        g_Settings.fNoCompress = fNoCompress;
        g_Settings.fOverlapWrite = fOverlapWrite;
        g_Settings.fOverlapRead = fOverlapRead;
        g_Settings.dwPadding = dwPadding;

        std::vector<PICTURE> pictures;
        std::vector<COMPRESSED> frames;
        Send(ICM_COMPRESS_BEGIN);
        for (int i = 0; i < nFrames; i++) {
            pictures.push_back(MakePicture(64 + 4 * (i % 2), 48, 24, i + nCombination));
            frames.push_back(Compress(pictures.back()));
            ASSERT_EQ(frames.back().lResult, ICERR_OK);
            ASSERT_EQ(frames.back().cbOutput, sizeof(REFRECORD));
        }
        Send(ICM_COMPRESS_END);

        std::map<std::string, DWORD> nextOffset;
        for (int i = 0; i < nFrames; i++) {
            REFRECORD rec = RecordOf(frames[i]);
            int iSeq = fBiFiled ? i % 2 : 0;
            EXPECT_EQ(RefRecordSequence(&rec), iSeq);
            EXPECT_EQ(!!RefRecordIsRaw(&rec), !!fNoCompress);
            EXPECT_EQ(std::string(rec.szFileName), Base(iSeq ? szBase2 : szBase) + ".000");
            // Frames follow each other in their file.
            EXPECT_EQ(rec.dwOffset, nextOffset[rec.szFileName]);
            STOREDFRAME stored = ReadStoredFrame(rec.szFileName, rec.dwOffset);
            ASSERT_TRUE(stored.fOk);
            EXPECT_EQ(stored.header.dwFrameSize, RefRecordFrameSize(&rec));
            EXPECT_EQ(stored.header.dwFrameSize, 16 + stored.header.dwDataSize + stored.header.dwPadSize);
            EXPECT_EQ(stored.header.wWidth, (SHORT)pictures[i].bih.biWidth);
            EXPECT_EQ(stored.header.wHeight, (SHORT)pictures[i].bih.biHeight);
            if (fNoCompress) {
                EXPECT_EQ(stored.header.dwPadSize, 0u);
                EXPECT_EQ(stored.data, pictures[i].bits);
            } else {
                EXPECT_EQ(stored.header.dwPadSize, ComputePadding(stored.header.dwDataSize, dwPadding));
                // The padding is zeros, not what the host's buffer held.
                std::vector<BYTE> file = ReadBytes(rec.szFileName);
                size_t at = (size_t)rec.dwOffset + 16 + stored.header.dwDataSize;
                ASSERT_LE(at + stored.header.dwPadSize, file.size());
                EXPECT_EQ(std::vector<BYTE>(file.begin() + (long)at, file.begin() + (long)(at + stored.header.dwPadSize)),
                          std::vector<BYTE>(stored.header.dwPadSize, 0));
            }
            nextOffset[rec.szFileName] = rec.dwOffset + stored.header.dwFrameSize;
        }
        for (const auto &file : nextOffset) EXPECT_EQ(ReadBytes(file.first).size(), file.second);

        for (int i = 0; i < nFrames; i++) {
            std::vector<BYTE> out;
            ASSERT_EQ(Decompress(frames[i].Data(), pictures[i], &out), ICERR_OK) << "frame " << i;
            EXPECT_EQ(out, pictures[i].bits) << "frame " << i;
        }
        Send(ICM_DECOMPRESS_END);
    }
}

TEST_F(Compression, RawFramesBypassTheWrappedCodec)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fNoCompress = TRUE;
    g_Settings.dwPadding = 250;
    SetBase("raw");
    PICTURE pic = MakePicture(320, 240, 24, 2);
    ASSERT_EQ(pic.bits.size(), 230400u);
    COMPRESSED c = Compress(pic);
    ASSERT_EQ(c.lResult, ICERR_OK);
    EXPECT_EQ(c.cbOutput, 276u);
    EXPECT_EQ(pfnSampleCount(ICM_COMPRESS), 0u);
    REFRECORD rec = RecordOf(c);
    EXPECT_EQ(rec.dwSizeFlags, 230416u | REFREC_RAW);
    EXPECT_EQ(ReadBytes(rec.szFileName).size(), 230416u);

    // Played back straight into the host's output, without the codec.
    std::vector<BYTE> out;
    DWORD cbOut = 0;
    ASSERT_EQ(Decompress(c.Data(), pic, &out, 0, &cbOut), ICERR_OK);
    EXPECT_EQ(out, pic.bits);
    EXPECT_EQ(cbOut, 230400u);
    EXPECT_EQ(pfnSampleCount(ICM_DECOMPRESS), 0u);
}

// Every uncompressed input format is stored raw with NoCompress, RLE input
// when its size is given; the frame header keeps the low 16 bits of the
// input's width and height.
TEST_F(Compression, RawModeTakesEveryUncompressedFormat)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fNoCompress = TRUE;
    SetBase("formats");
    struct CASE {
        DWORD dwCompression;
        WORD wBits;
        LONG lWidth, lHeight;
        DWORD cbImage;
    } aCases[] = {{BI_RGB, 8, 65600, 1, 0},  {BI_RGB, 8, 4, 65538, 0}, {BI_RGB, 24, 4, -3, 0},
                  {BI_BITFIELDS, 16, 6, 2, 0}, {BI_RLE8, 8, 9, 5, 37},   {BI_RLE4, 4, 9, 5, 21}};
    for (const CASE &k : aCases) {
        SCOPED_TRACE(testing::Message() << "format " << k.dwCompression << ", " << k.lWidth << " x " << k.lHeight);
        BITMAPINFOHEADER bihIn = MakePicture(4, 4, k.wBits, 0).bih;
        bihIn.biWidth = k.lWidth;
        bihIn.biHeight = k.lHeight;
        bihIn.biCompression = k.dwCompression;
        bihIn.biSizeImage = k.cbImage;
        DWORD cbData = DibImageSize(&bihIn);
        ASSERT_GT(cbData, 0u);
        std::vector<BYTE> bits(cbData);
        for (size_t i = 0; i < bits.size(); i++) bits[i] = (BYTE)(i * 13);
        BITMAPINFOHEADER bihOut = bihIn;
        std::vector<BYTE> output(OUTPUT_DATA_OFFSET, OUTPUT_SENTINEL);
        DWORD nCodecCalls = pfnSampleCount(ICM_COMPRESS);
        ASSERT_EQ(CompressInto(&bihIn, bits.data(), &bihOut, &output), ICERR_OK);
        EXPECT_EQ(pfnSampleCount(ICM_COMPRESS), nCodecCalls);
        REFRECORD rec;
        memcpy(&rec, output.data(), sizeof(rec));
        ASSERT_TRUE(IsRefRecord(&rec, sizeof(rec)));
        EXPECT_TRUE(RefRecordIsRaw(&rec));
        STOREDFRAME stored = ReadStoredFrame(rec.szFileName, rec.dwOffset);
        ASSERT_TRUE(stored.fOk);
        EXPECT_EQ(stored.data, bits);
        EXPECT_EQ(stored.header.wWidth, (SHORT)(k.lWidth & 0xFFFF));
        EXPECT_EQ(stored.header.wHeight, (SHORT)(k.lHeight & 0xFFFF));
    }
}

// Raw RLE frames of growing sizes played into one uncompressed output
// whose header the host reuses: the room is the picture's, not the size
// that the previous frame left in the header.
TEST_F(Compression, RawFramesOfGrowingSizeIntoAReusedOutput)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fNoCompress = TRUE;
    SetBase("rle");
    BITMAPINFOHEADER bihIn = MakePicture(16, 8, 8, 0).bih;
    bihIn.biCompression = BI_RLE8;
    std::vector<std::vector<BYTE>> records, frames;
    for (DWORD cb : {20u, 40u, 90u}) {
        bihIn.biSizeImage = cb;
        std::vector<BYTE> bits(cb, (BYTE)cb);
        BITMAPINFOHEADER bihOut = bihIn;
        std::vector<BYTE> output(OUTPUT_DATA_OFFSET, OUTPUT_SENTINEL);
        ASSERT_EQ(CompressInto(&bihIn, bits.data(), &bihOut, &output), ICERR_OK);
        records.emplace_back(output.begin(), output.begin() + sizeof(REFRECORD));
        frames.push_back(bits);
    }
    BITMAPINFOHEADER bihRecord = bihIn;
    BITMAPINFOHEADER bihOut = MakePicture(16, 8, 8, 0).bih;
    std::vector<BYTE> picture(bihOut.biSizeImage, 0);
    for (size_t i = 0; i < records.size(); i++) {
        bihRecord.biSizeImage = sizeof(REFRECORD);
        ICDECOMPRESS id;
        memset(&id, 0, sizeof(id));
        id.lpbiInput = &bihRecord;
        id.lpInput = records[i].data();
        id.lpbiOutput = &bihOut;
        id.lpOutput = picture.data();
        ASSERT_EQ(Send(ICM_DECOMPRESS, (LPARAM)&id, sizeof(id)), ICERR_OK) << i;
        EXPECT_EQ(bihOut.biSizeImage, frames[i].size());
        EXPECT_TRUE(std::equal(frames[i].begin(), frames[i].end(), picture.begin())) << i;
    }
}

// A host buffer sized while reference writing was off that holds exactly the
// record and the header is enough for a raw frame.
TEST_F(Compression, BufferOfExactlyTheRecordAndHeaderTakesARawFrame)
{
    SetBase("exact");
    PICTURE pic = MakePicture(16, 4, 24, 1);
    BITMAPINFOHEADER bih = pic.bih;
    BITMAPINFOHEADER bihOut = pic.bih;
    for (DWORD cbAnswer : {OUTPUT_DATA_OFFSET, OUTPUT_DATA_OFFSET - 1}) {
        g_Settings.fEnabled = FALSE;
        pfnSampleControl(SAMPLE_SIZE_ANSWER, cbAnswer);
        ASSERT_EQ(Send(ICM_COMPRESS_GET_SIZE, (LPARAM)&bih, (LPARAM)&bihOut), (LRESULT)cbAnswer);
        g_Settings.fEnabled = TRUE;
        g_Settings.fNoCompress = TRUE;
        std::vector<BYTE> output(OUTPUT_DATA_OFFSET + 64, OUTPUT_SENTINEL);
        BITMAPINFOHEADER bihFrame = bihOut;
        LRESULT lResult = CompressInto(&bih, pic.bits.data(), &bihFrame, &output);
        bool fRecord = lResult == ICERR_OK && IsRefRecord(output.data(), bihFrame.biSizeImage);
        EXPECT_EQ(fRecord, cbAnswer == OUTPUT_DATA_OFFSET) << cbAnswer;
    }
}

// Alternation turned off in the middle of a run: the next frame goes to the
// first series, whichever the run would have used next.
TEST_F(Compression, BiFiledTurnedOffGoesBackToTheFirstSeries)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fBiFiled = TRUE;
    SetBase("first", "second");
    PICTURE pic = MakePicture(32, 16, 24, 1);
    Send(ICM_COMPRESS_BEGIN);
    ASSERT_EQ(SequenceOf(Compress(pic)), 0);
    g_Settings.fBiFiled = FALSE;
    COMPRESSED c = Compress(pic);
    ASSERT_EQ(c.lResult, ICERR_OK);
    EXPECT_EQ(SequenceOf(c), 0);
    EXPECT_EQ(RecordPath(c), Base("first.000"));
}

TEST_F(Compression, RawFrameWithoutImageSizeTakesTheDibsSize)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fNoCompress = TRUE;
    SetBase("raw0");
    PICTURE pic = MakePicture(33, 7, 24, 1);
    PICTURE sizeless = pic;
    sizeless.bih.biSizeImage = 0;
    COMPRESSED c = Compress(sizeless);
    ASSERT_EQ(c.lResult, ICERR_OK);
    STOREDFRAME stored = ReadStoredFrame(RecordPath(c), 0);
    ASSERT_TRUE(stored.fOk);
    EXPECT_EQ(stored.data, pic.bits);
}

// With NoCompress on, a picture of the given input format goes to the
// wrapped codec, which refuses it: its own answer comes back, nothing is
// stored.
void ExpectLeftToTheCodec(CodecTest *pTest, DWORD dwCompression, WORD wBits, DWORD cbImage)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fNoCompress = TRUE;
    pTest->SetBase("left");
    PICTURE pic = MakePicture(16, 16, wBits, 0);
    BITMAPINFOHEADER bihIn = pic.bih;
    bihIn.biCompression = dwCompression;
    bihIn.biSizeImage = cbImage;
    BITMAPINFOHEADER bihOut = pic.bih;
    std::vector<BYTE> out(4096, 0);
    EXPECT_EQ(pTest->CompressInto(&bihIn, pic.bits.data(), &bihOut, &out), ICERR_BADFORMAT);
    EXPECT_EQ(pTest->pfnSampleCount(ICM_COMPRESS), 1u);
    EXPECT_TRUE(ListFolder(pTest->dir).empty());
}

TEST_F(Compression, RawInputOfUnknownSizeGoesToTheCodec)
{
    // An RLE8 picture without its biSizeImage: its size cannot be told, so
    // it is not stored raw.
    ExpectLeftToTheCodec(this, BI_RLE8, 8, 0);
}

TEST_F(Compression, NoCompressLeavesOtherInputFormatsToTheCodec)
{
    ExpectLeftToTheCodec(this, mmioFOURCC('Y', 'U', 'Y', '2'), 24, 16 * 16 * 3);
}

TEST_F(Compression, FailuresAndTheirAftermath)
{
    g_Settings.fEnabled = TRUE;
    PICTURE pic = MakePicture(32, 32, 24, 4);
    // The wrapped codec fails: its result, nothing written.
    SetBase("fail");
    pfnSampleControl(SAMPLE_FAIL_COMPRESS, (DWORD_PTR)(LONG)ICERR_MEMORY);
    EXPECT_EQ(Compress(pic).lResult, ICERR_MEMORY);
    pfnSampleControl(SAMPLE_FAIL_COMPRESS, 0);
    EXPECT_TRUE(ListFolder(dir).empty());
    // No base name, or a folder that is not there: ICERR_ERROR, and the next
    // frame tries again.
    SetBase("");
    EXPECT_EQ(Compress(pic).lResult, ICERR_ERROR);
    snprintf(g_Settings.szBaseFile, MAX_PATH, "%s", JoinPath(Base("nofolder"), "x").c_str());
    EXPECT_EQ(Compress(pic).lResult, ICERR_ERROR);
    SetBase("fail");
    COMPRESSED c = Compress(pic);
    ASSERT_EQ(c.lResult, ICERR_OK);
    EXPECT_EQ(RecordPath(c), Base("fail.000"));
    // No instance.
    EXPECT_EQ(Compress(pic, ICCOMPRESS_KEYFRAME, 0x7654321).lResult, ICERR_BADHANDLE);
}

TEST_F(Compression, BiFiledDoesNotToggleOnFailure)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fBiFiled = TRUE;
    PICTURE pic = MakePicture(32, 32, 24, 4);
    snprintf(g_Settings.szBaseFile, MAX_PATH, "%s", JoinPath(Base("nofolder"), "x").c_str());
    snprintf(g_Settings.szBaseFile2, MAX_PATH, "%s", Base("second").c_str());
    Send(ICM_COMPRESS_BEGIN);
    EXPECT_EQ(Compress(pic).lResult, ICERR_ERROR);
    SetBase("first", "second");
    COMPRESSED c = Compress(pic);
    ASSERT_EQ(c.lResult, ICERR_OK);
    EXPECT_EQ(SequenceOf(c), 0);
}

TEST_F(Compression, BiFiledWithoutSecondBaseName)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fBiFiled = TRUE;
    SetBase("only");
    PICTURE pic = MakePicture(32, 32, 24, 4);
    Send(ICM_COMPRESS_BEGIN);
    EXPECT_EQ(Compress(pic).lResult, ICERR_OK);
    EXPECT_EQ(Compress(pic).lResult, ICERR_ERROR);
    EXPECT_EQ(Compress(pic).lResult, ICERR_ERROR);
    EXPECT_EQ(Instance()->iWriteSeq, 1);
    // A new run starts at the first sequence again.
    Send(ICM_COMPRESS_BEGIN);
    EXPECT_EQ(Compress(pic).lResult, ICERR_OK);
    EXPECT_EQ(ListFolder(dir), std::vector<std::string>({"only.000", "only.001"}));
}

TEST_F(Compression, EachRunStartsNewFiles)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapWrite = TRUE;
    SetBase("run");
    PICTURE pic = MakePicture(48, 16, 24, 1);
    for (int nRun = 0; nRun < 3; nRun++) {
        Send(ICM_COMPRESS_BEGIN);
        for (int i = 0; i < 3; i++) ASSERT_EQ(Compress(pic).lResult, ICERR_OK);
        Send(ICM_COMPRESS_END);
        // After the end of the run every frame is on disk.
        char szName[16];
        snprintf(szName, sizeof(szName), "run.%03d", nRun);
        std::vector<BYTE> file = ReadBytes(Base(szName));
        STOREDFRAME first = ReadStoredFrame(Base(szName), 0);
        ASSERT_TRUE(first.fOk);
        EXPECT_EQ(file.size(), 3u * first.header.dwFrameSize);
    }
}

TEST_F(Compression, FileRollsOverAtTheSizeLimit)
{
    g_Settings.fEnabled = TRUE;
    SetBase("big");
    PICTURE pic = MakePicture(64, 64, 24, 4);
    COMPRESSED first = Compress(pic);
    ASSERT_EQ(first.lResult, ICERR_OK);
    DWORD cbFrame = FrameSizeOf(first);
    ASSERT_GT(cbFrame, 0x100u);
    // Pretend the file has grown close to 2^31 - 1 bytes: a frame that ends
    // exactly at the limit still fits ...
    Instance()->dwWriteOffset[0] = REFFILE_MAXSIZE - cbFrame;
    COMPRESSED fits = Compress(pic);
    ASSERT_EQ(fits.lResult, ICERR_OK);
    EXPECT_EQ(RecordPath(fits), Base("big.000"));
    EXPECT_EQ(RecordOf(fits).dwOffset, REFFILE_MAXSIZE - cbFrame);
    // ... and the next one goes to offset 0 of a new file.
    COMPRESSED next = Compress(pic);
    ASSERT_EQ(next.lResult, ICERR_OK);
    EXPECT_EQ(RecordPath(next), Base("big.001"));
    EXPECT_EQ(RecordOf(next).dwOffset, 0u);
    Instance()->dwWriteOffset[0] = 0x7FFFFF00;
    COMPRESSED third = Compress(pic);
    EXPECT_EQ(RecordPath(third), Base("big.002"));
    EXPECT_EQ(RecordOf(third).dwOffset, 0u);
}

TEST_F(Compression, PaddingRaisedAfterGetSizeStaysInTheBuffer)
{
    g_Settings.fEnabled = TRUE;
    SetBase("pad");
    PICTURE pic = MakePicture(64, 64, 24, 3);
    BITMAPINFOHEADER bih = pic.bih;
    BITMAPINFOHEADER bihOut;
    Send(ICM_COMPRESS_GET_FORMAT, (LPARAM)&bih, (LPARAM)&bihOut);
    LRESULT cbRoom = Send(ICM_COMPRESS_GET_SIZE, (LPARAM)&bih, (LPARAM)&bihOut);
    // The host keeps its buffer while the user raises Padding.
    g_Settings.dwPadding = 250;
    std::vector<BYTE> output((size_t)cbRoom, OUTPUT_SENTINEL);
    ASSERT_EQ(CompressInto(&bih, pic.bits.data(), &bihOut, &output), ICERR_OK);
    REFRECORD rec;
    memcpy(&rec, output.data(), sizeof(rec));
    EXPECT_LE(OUTPUT_HEADER_OFFSET + RefRecordFrameSize(&rec), (DWORD)cbRoom);
    EXPECT_EQ(RefRecordFrameSize(&rec) % 16, 0u);
}

TEST_F(Compression, BufferSizedWithReferenceWritingOffGetsAnOrdinaryFrame)
{
    // The host sizes its buffer while reference writing is off, and the
    // user turns it on before the next frame: the record, the header and an
    // incompressible frame behind them would not fit that buffer.
    SetBase("late");
    PICTURE pic = MakePicture(64, 32, 24, 0);
    for (size_t i = 0; i < pic.bits.size(); i++) pic.bits[i] = (BYTE)(i % 3 == 0 ? i / 3 : 0x55);
    BITMAPINFOHEADER bih = pic.bih;
    BITMAPINFOHEADER bihFormat;
    ASSERT_EQ(Send(ICM_COMPRESS_GET_FORMAT, (LPARAM)&bih, (LPARAM)&bihFormat), ICERR_OK);
    LRESULT cbRoom = Send(ICM_COMPRESS_GET_SIZE, (LPARAM)&bih, (LPARAM)&bihFormat);
    ASSERT_EQ(cbRoom, (LRESULT)SampleMaxCompressedSize(bih.biSizeImage));
    g_Settings.fEnabled = TRUE;
    for (BOOL fNoCompress : {FALSE, TRUE}) {
        g_Settings.fNoCompress = fNoCompress;
        std::vector<BYTE> output((size_t)cbRoom, OUTPUT_SENTINEL);
        BITMAPINFOHEADER bihOut = bihFormat;
        ASSERT_EQ(CompressInto(&bih, pic.bits.data(), &bihOut, &output), ICERR_OK) << fNoCompress;
        std::vector<BYTE> data(output.begin(), output.begin() + bihOut.biSizeImage);
        if (fNoCompress) {
            // A raw frame needs only the record and the header in the buffer.
            EXPECT_TRUE(IsRefRecord(data.data(), (DWORD)data.size()));
        } else {
            // Stored in the AVI as the codec's own frame; no reference file.
            EXPECT_FALSE(IsRefRecord(data.data(), (DWORD)data.size()));
            EXPECT_EQ(GetFileAttributesA(Base("late.000").c_str()), INVALID_FILE_ATTRIBUTES);
        }
        std::vector<BYTE> out;
        ASSERT_EQ(Decompress(data, pic, &out), ICERR_OK) << fNoCompress;
        EXPECT_EQ(out, pic.bits) << fNoCompress;
    }
    // The host's next size request makes room for references.
    g_Settings.fNoCompress = FALSE;
    COMPRESSED c = Compress(pic);
    ASSERT_EQ(c.lResult, ICERR_OK);
    EXPECT_TRUE(IsRefRecord(c.output.data(), c.cbOutput));
}

TEST_F(Compression, SharedInstanceKeepsItsFileUntilTheLastClose)
{
    pfnSampleControl(SAMPLE_FIXED_OPEN_ID, 0x4444);
    DWORD_PTR dwShared = OpenInstance();
    ASSERT_EQ(OpenInstance(), dwShared);
    g_Settings.fEnabled = TRUE;
    SetBase("shared");
    PICTURE pic = MakePicture(16, 16, 24, 1);
    ASSERT_EQ(Compress(pic, ICCOMPRESS_KEYFRAME, dwShared).lResult, ICERR_OK);
    CloseInstance(dwShared);
    ASSERT_NE(Instance(dwShared), nullptr);
    EXPECT_NE(Instance(dwShared)->hWriteFile[0], INVALID_HANDLE_VALUE);
    COMPRESSED second = Compress(pic, ICCOMPRESS_KEYFRAME, dwShared);
    EXPECT_EQ(RecordPath(second), Base("shared.000"));
    EXPECT_GT(RecordOf(second).dwOffset, 0u);
    CloseInstance(dwShared);
    EXPECT_EQ(Instance(dwShared), nullptr);
    // The file was closed with the instance.
    EXPECT_TRUE(DeleteFileA(Base("shared.000").c_str()));
}

#ifndef _WIN32
// A real write failure: the process may not write files beyond a size.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t cbLimit)
    {
        signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        struct rlimit limit = saved;
        limit.rlim_cur = cbLimit;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }

private:
    struct rlimit saved;
};

void FailingWriteSequence(Compression *pTest, BOOL fOverlapWrite)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapWrite = fOverlapWrite;
    pTest->SetBase("full");
    PICTURE pic = MakePicture(64, 64, 24, 2);
    pTest->Send(ICM_COMPRESS_BEGIN);
    COMPRESSED first = pTest->Compress(pic);
    ASSERT_EQ(first.lResult, ICERR_OK);
    DWORD cbFrame = FrameSizeOf(first);
    // Make sure the first frame is on disk before the limit.
    pTest->Send(ICM_COMPRESS_END);
    pTest->Send(ICM_COMPRESS_BEGIN);
    {
        // Room for one frame and a half in each file.
        FileSizeLimit limit(cbFrame + cbFrame / 2);
        COMPRESSED n = pTest->Compress(pic);      // full.001, offset 0
        COMPRESSED n1 = pTest->Compress(pic);     // does not fit
        COMPRESSED n2 = pTest->Compress(pic);     // full.002
        EXPECT_EQ(n.lResult, ICERR_OK);
        EXPECT_EQ(RecordPath(n), pTest->Base("full.001"));
        if (fOverlapWrite) {
            // Frame n+1 was handed to the writer before its write failed;
            // the failure shows at the next frame of the sequence.
            EXPECT_EQ(n1.lResult, ICERR_OK);
            EXPECT_EQ(n2.lResult, ICERR_ERROR);
            COMPRESSED n3 = pTest->Compress(pic);
            EXPECT_EQ(n3.lResult, ICERR_OK);
            EXPECT_EQ(RecordPath(n3), pTest->Base("full.002"));
            EXPECT_EQ(RecordOf(n3).dwOffset, 0u);
        } else {
            EXPECT_EQ(n1.lResult, ICERR_ERROR);
            EXPECT_EQ(n2.lResult, ICERR_OK);
            EXPECT_EQ(RecordPath(n2), pTest->Base("full.002"));
            EXPECT_EQ(RecordOf(n2).dwOffset, 0u);
        }
        pTest->Send(ICM_COMPRESS_END);
    }
    // What was reported stored plays back.
    std::vector<BYTE> out;
    EXPECT_EQ(pTest->Decompress(first.Data(), pic, &out), ICERR_OK);
    EXPECT_EQ(out, pic.bits);
}

TEST_F(Compression, FailingDirectWrite) { FailingWriteSequence(this, FALSE); }
TEST_F(Compression, FailingBackgroundWrite) { FailingWriteSequence(this, TRUE); }

TEST_F(Compression, BackgroundFailureIsReportedAfterOverlapWriteIsTurnedOff)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapWrite = TRUE;
    SetBase("turn");
    PICTURE pic = MakePicture(64, 64, 24, 2);
    Send(ICM_COMPRESS_BEGIN);
    COMPRESSED first = Compress(pic);
    ASSERT_EQ(first.lResult, ICERR_OK);
    DWORD cbFrame = FrameSizeOf(first);
    {
        // The second frame goes to the writer, whose write stops half-way.
        FileSizeLimit limit(cbFrame + cbFrame / 2);
        EXPECT_EQ(Compress(pic).lResult, ICERR_OK);
        WaitWorkerIdle(&Instance()->aWorker[WORKER_WRITE0]);
    }
    // The user turns background writing off before the next frame, and the
    // disk has room again: the lost frame is still reported, and no frame is
    // appended behind the broken one.
    g_Settings.fOverlapWrite = FALSE;
    EXPECT_EQ(Compress(pic).lResult, ICERR_ERROR);
    COMPRESSED next = Compress(pic);
    ASSERT_EQ(next.lResult, ICERR_OK);
    EXPECT_EQ(RecordPath(next), Base("turn.001"));
    EXPECT_EQ(RecordOf(next).dwOffset, 0u);
    Send(ICM_COMPRESS_END);
    for (const COMPRESSED *pStored : {&first, &next}) {
        std::vector<BYTE> out;
        EXPECT_EQ(Decompress(pStored->Data(), pic, &out), ICERR_OK);
        EXPECT_EQ(out, pic.bits);
    }
}
#endif

// ---------------------------------------------------------------------------
// Decompression

// Compresses n pictures with the given settings into one run.
std::vector<COMPRESSED> Record(CodecTest *pTest, const std::vector<PICTURE> &pictures)
{
    std::vector<COMPRESSED> frames;
    pTest->Send(ICM_COMPRESS_BEGIN);
    for (const PICTURE &pic : pictures) frames.push_back(pTest->Compress(pic));
    pTest->Send(ICM_COMPRESS_END);
    return frames;
}

std::vector<PICTURE> Pictures(int n, LONG lWidth = 64, LONG lHeight = 48)
{
    std::vector<PICTURE> pictures;
    for (int i = 0; i < n; i++) pictures.push_back(MakePicture(lWidth, lHeight, 24, i));
    return pictures;
}

TEST_F(Decompression, TruncatedAndCorruptFiles)
{
    g_Settings.fEnabled = TRUE;
    SetBase("cut");
    std::vector<PICTURE> pictures = Pictures(3);
    std::vector<COMPRESSED> frames = Record(this, pictures);
    std::string path = Base("cut.000");
    std::vector<BYTE> file = ReadBytes(path);
    REFRECORD last = RecordOf(frames[2]);

    // The last frame loses its tail: the earlier frames still play.
    std::vector<BYTE> cut(file.begin(), file.begin() + last.dwOffset + 20);
    ASSERT_TRUE(WriteBytes(path, cut.data(), cut.size()));
    std::vector<BYTE> out;
    EXPECT_EQ(Decompress(frames[0].Data(), pictures[0], &out), ICERR_OK);
    EXPECT_EQ(Decompress(frames[2].Data(), pictures[2], &out), ICERR_ERROR);
    EXPECT_EQ(Instance()->hReadFile[0], INVALID_HANDLE_VALUE);
    EXPECT_EQ(Decompress(frames[1].Data(), pictures[1], &out), ICERR_OK);
    EXPECT_EQ(out, pictures[1].bits);

    // A header whose data size exceeds the record's frame is refused.
    std::vector<BYTE> corrupt = file;
    REFFRAMEHEADER header;
    memcpy(&header, corrupt.data() + last.dwOffset, sizeof(header));
    header.dwDataSize = header.dwFrameSize;  // 16 bytes too many
    memcpy(corrupt.data() + last.dwOffset, &header, sizeof(header));
    Send(ICM_DECOMPRESS_END);
    ASSERT_TRUE(WriteBytes(path, corrupt.data(), corrupt.size()));
    EXPECT_EQ(Decompress(frames[2].Data(), pictures[2], &out), ICERR_ERROR);
    header.dwDataSize = 0xFFFFFFF0u;
    memcpy(corrupt.data() + last.dwOffset, &header, sizeof(header));
    Send(ICM_DECOMPRESS_END);
    ASSERT_TRUE(WriteBytes(path, corrupt.data(), corrupt.size()));
    EXPECT_EQ(Decompress(frames[2].Data(), pictures[2], &out), ICERR_ERROR);

    // A file that is gone.
    Send(ICM_DECOMPRESS_END);
    ASSERT_TRUE(DeleteFileA(path.c_str()));
    EXPECT_EQ(Decompress(frames[0].Data(), pictures[0], &out), ICERR_ERROR);
}

TEST_F(Decompression, MalformedRecords)
{
    g_Settings.fEnabled = TRUE;
    SetBase("bad");
    std::vector<PICTURE> pictures = Pictures(1);
    std::vector<COMPRESSED> frames = Record(this, pictures);
    std::vector<BYTE> out;

    // A frame size too small to hold a header.
    std::vector<BYTE> record = frames[0].Data();
    REFRECORD rec;
    memcpy(&rec, record.data(), sizeof(rec));
    rec.dwSizeFlags = 8;
    memcpy(record.data(), &rec, sizeof(rec));
    EXPECT_EQ(Decompress(record, pictures[0], &out), ICERR_ERROR);

    // A path without its terminator.
    memcpy(&rec, frames[0].output.data(), sizeof(rec));
    memset(rec.szFileName, 'z', sizeof(rec.szFileName));
    memcpy(record.data(), &rec, sizeof(rec));
    EXPECT_EQ(Decompress(record, pictures[0], &out), ICERR_ERROR);

    // A raw frame larger than the host's output.
    memcpy(&rec, frames[0].output.data(), sizeof(rec));
    rec.dwSizeFlags |= REFREC_RAW;
    memcpy(record.data(), &rec, sizeof(rec));
    PICTURE small = MakePicture(4, 4, 24, 0);
    EXPECT_EQ(Decompress(record, small, &out), ICERR_ERROR);

    // Data that begins with the magic word is taken as a record, whatever
    // follows; shorter than a record, it is the codec's own data.
    std::vector<BYTE> fake(sizeof(REFRECORD), 0);
    memcpy(fake.data(), "Spoolcap", 8);
    DWORD nCodecCalls = pfnSampleCount(ICM_DECOMPRESS);
    EXPECT_EQ(Decompress(fake, pictures[0], &out), ICERR_ERROR);
    EXPECT_EQ(pfnSampleCount(ICM_DECOMPRESS), nCodecCalls);
    std::vector<BYTE> shortFake(fake.begin(), fake.begin() + 12);
    EXPECT_NE(Decompress(shortFake, pictures[0], &out), ICERR_OK);
    EXPECT_EQ(pfnSampleCount(ICM_DECOMPRESS), nCodecCalls + 1);

    // No instance.
    EXPECT_EQ(Decompress(frames[0].Data(), pictures[0], &out, 0x7654321), ICERR_BADHANDLE);
}

TEST_F(Decompression, AlternatingRecordsKeepBothFilesOpen)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fBiFiled = TRUE;
    SetBase("left", "right");
    std::vector<PICTURE> pictures = Pictures(6);
    std::vector<COMPRESSED> frames = Record(this, pictures);
    for (int nPass = 0; nPass < 2; nPass++) {
        for (size_t i = 0; i < frames.size(); i++) {
            std::vector<BYTE> out;
            ASSERT_EQ(Decompress(frames[i].Data(), pictures[i], &out), ICERR_OK);
            EXPECT_EQ(out, pictures[i].bits);
        }
    }
    EXPECT_EQ(Instance()->cReadOpens, 2u);
    EXPECT_NE(Instance()->hReadFile[0], INVALID_HANDLE_VALUE);
    EXPECT_NE(Instance()->hReadFile[1], INVALID_HANDLE_VALUE);
    // ICM_DECOMPRESS_END closes both; the next record opens its file again.
    Send(ICM_DECOMPRESS_END);
    EXPECT_EQ(Instance()->hReadFile[0], INVALID_HANDLE_VALUE);
    EXPECT_EQ(Instance()->hReadFile[1], INVALID_HANDLE_VALUE);
    ASSERT_EQ(Decompress(frames[0].Data(), pictures[0], NULL), ICERR_OK);
    EXPECT_EQ(Instance()->cReadOpens, 3u);
}

// Names are compared as the file system compares them: on Windows a path
// that differs in letter case only is the open file; on POSIX it is
// another file (here one that is not there).
TEST_F(Decompression, PathThatDiffersInCaseOnlyIsTheOpenFileWhereTheSystemSaysSo)
{
    g_Settings.fEnabled = TRUE;
    SetBase("Case");
    std::vector<PICTURE> pictures = Pictures(2);
    std::vector<COMPRESSED> frames = Record(this, pictures);
    ASSERT_EQ(Decompress(frames[0].Data(), pictures[0], NULL), ICERR_OK);
    std::vector<BYTE> record = frames[1].Data();
    REFRECORD rec;
    memcpy(&rec, record.data(), sizeof(rec));
    char *pszName = rec.szFileName + strlen(rec.szFileName) - strlen("Case.000");
    pszName[0] = 'c';
    memcpy(record.data(), &rec, sizeof(rec));
    std::vector<BYTE> out;
#ifdef _WIN32
    ASSERT_EQ(Decompress(record, pictures[1], &out), ICERR_OK);
    EXPECT_EQ(out, pictures[1].bits);
    EXPECT_EQ(Instance()->cReadOpens, 1u);
#else
    EXPECT_EQ(Decompress(record, pictures[1], &out), ICERR_ERROR);
    EXPECT_EQ(Instance()->cReadOpens, 1u);
#endif
}

// Overwrites the data of a stored frame on disk, while the decoder holds the
// file open (it shares writing).
void SpoilStoredFrame(const COMPRESSED &c)
{
    REFRECORD rec = RecordOf(c);
    HANDLE h = CreateFileA(rec.szFileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_EQ(SetFilePointer(h, (LONG)(rec.dwOffset + sizeof(REFFRAMEHEADER)), NULL, FILE_BEGIN),
              rec.dwOffset + sizeof(REFFRAMEHEADER));
    BYTE abJunk[8] = {0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88};
    DWORD cb;
    ASSERT_TRUE(WriteFile(h, abJunk, sizeof(abJunk), &cb, NULL));
    CloseHandle(h);
}

TEST_F(Decompression, ReadAheadServesFramesInFileOrder)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapRead = TRUE;
    SetBase("ahead");
    // Frames that do not grow: each fits the read buffer of the one before.
    std::vector<PICTURE> pictures;
    for (int nSeed : {4, 3, 2, 1}) pictures.push_back(MakePicture(64, 48, 24, nSeed));
    std::vector<COMPRESSED> frames = Record(this, pictures);
    for (size_t i = 1; i < frames.size(); i++) ASSERT_LE(FrameSizeOf(frames[i]), FrameSizeOf(frames[i - 1]));
    std::vector<BYTE> out;
    ASSERT_EQ(Decompress(frames[0].Data(), pictures[0], &out), ICERR_OK);
    EXPECT_EQ(Instance()->cAheadHits, 0u);
    // Frame 2 is already in memory: spoiling it on disk changes nothing.
    WaitWorkerIdle(&Instance()->aWorker[WORKER_READ0]);
    SpoilStoredFrame(frames[1]);
    ASSERT_EQ(Decompress(frames[1].Data(), pictures[1], &out), ICERR_OK);
    EXPECT_EQ(out, pictures[1].bits);
    ASSERT_EQ(Decompress(frames[2].Data(), pictures[2], &out), ICERR_OK);
    EXPECT_EQ(out, pictures[2].bits);
    EXPECT_EQ(Instance()->cAheadHits, 2u);
    // Jumping back reads the frame from the file.
    SpoilStoredFrame(frames[0]);
    LRESULT lResult = Decompress(frames[0].Data(), pictures[0], &out);
    EXPECT_TRUE(lResult != ICERR_OK || out != pictures[0].bits);
    EXPECT_EQ(Instance()->cAheadHits, 2u);
    // The end of playback closes the file lightly: the read buffer and the
    // read-ahead's worker stay for the next run.
    DWORD cbReadBuf = Instance()->cbReadBuf[0];
    Send(ICM_DECOMPRESS_END);
    EXPECT_EQ(Instance()->hReadFile[0], INVALID_HANDLE_VALUE);
    EXPECT_NE(Instance()->pReadBuf[0], nullptr);
    EXPECT_EQ(Instance()->cbReadBuf[0], cbReadBuf);
    EXPECT_NE(Instance()->aWorker[WORKER_READ0].hThread, nullptr);
    EXPECT_NE(Instance()->aWorker[WORKER_READ0].pBuffer, nullptr);
}

// A read-ahead that cannot start (the next header is not there) leaves
// nothing behind: the frame after it is read from the file, not from the
// worker's old buffer.
TEST_F(Decompression, FailedReadAheadLeavesNothingToServe)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapRead = TRUE;
    SetBase("gap");
    // The second frame fits the first's buffer; the third is as large as the first.
    std::vector<PICTURE> pictures = {MakePicture(64, 48, 24, 4), MakePicture(64, 48, 24, 3), MakePicture(64, 48, 24, 9)};
    std::vector<COMPRESSED> frames = Record(this, pictures);
    ASSERT_LE(FrameSizeOf(frames[1]), FrameSizeOf(frames[0]));
    ASSERT_LE(FrameSizeOf(frames[1]), FrameSizeOf(frames[2]));
    std::vector<BYTE> out;
    ASSERT_EQ(Decompress(frames[0].Data(), pictures[0], &out), ICERR_OK);
    WaitWorkerIdle(&Instance()->aWorker[WORKER_READ0]);
    // The third frame goes from the file before the second is played.
    HANDLE h = CreateFileA(RecordPath(frames[2]).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_EQ(SetFilePointer(h, (LONG)RecordOf(frames[2]).dwOffset, NULL, FILE_BEGIN), RecordOf(frames[2]).dwOffset);
    ASSERT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
    ASSERT_EQ(Decompress(frames[1].Data(), pictures[1], &out), ICERR_OK);
    EXPECT_EQ(out, pictures[1].bits);
    EXPECT_EQ(Instance()->cAheadHits, 1u);
    EXPECT_EQ(Decompress(frames[2].Data(), pictures[2], &out), ICERR_ERROR);
}

// A header read ahead serves its frame only when it is whole and matches
// the record; otherwise the frame is read from the file.
TEST_F(Decompression, ReadAheadServesOnlyAWholeHeader)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapRead = TRUE;
    SetBase("whole");
    std::vector<PICTURE> pictures = {MakePicture(64, 48, 24, 4), MakePicture(64, 48, 24, 3)};
    std::vector<COMPRESSED> frames = Record(this, pictures);
    // The second header's padding is off by 16: its sizes no longer add up.
    REFRECORD second = RecordOf(frames[1]);
    std::vector<BYTE> file = ReadBytes(second.szFileName);
    REFFRAMEHEADER header;
    memcpy(&header, file.data() + second.dwOffset, sizeof(header));
    header.dwPadSize += 16;
    memcpy(file.data() + second.dwOffset, &header, sizeof(header));
    ASSERT_TRUE(WriteBytes(second.szFileName, file.data(), file.size()));
    std::vector<BYTE> out;
    ASSERT_EQ(Decompress(frames[0].Data(), pictures[0], &out), ICERR_OK);
    ASSERT_EQ(Decompress(frames[1].Data(), pictures[1], &out), ICERR_OK);
    EXPECT_EQ(out, pictures[1].bits);
    EXPECT_EQ(Instance()->cAheadHits, 0u);
}

// Frames of the same size at other places of the file: the read-ahead of
// one does not stand in for another.
TEST_F(Decompression, ReadAheadServesOnlyItsOwnOffset)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapRead = TRUE;
    SetBase("same");
    PICTURE pic = MakePicture(64, 48, 24, 2);
    std::vector<COMPRESSED> frames = Record(this, {pic, pic, pic, pic});
    ASSERT_EQ(FrameSizeOf(frames[1]), FrameSizeOf(frames[3]));
    std::vector<BYTE> out;
    ASSERT_EQ(Decompress(frames[0].Data(), pic, &out), ICERR_OK);
    WaitWorkerIdle(&Instance()->aWorker[WORKER_READ0]);
    // The read-ahead holds the second frame; the fourth, spoiled on disk,
    // is read from the file.
    SpoilStoredFrame(frames[3]);
    LRESULT lResult = Decompress(frames[3].Data(), pic, &out);
    EXPECT_TRUE(lResult != ICERR_OK || out != pic.bits);
    EXPECT_EQ(Instance()->cAheadHits, 0u);
}

// A raw frame read ahead for a large output is not served into a smaller
// one that the host gives next.
TEST_F(Decompression, RawReadAheadLargerThanTheNextOutput)
{
    g_Settings.fEnabled = TRUE;
    g_Settings.fNoCompress = TRUE;
    g_Settings.fOverlapRead = TRUE;
    SetBase("rawahead");
    PICTURE big = MakePicture(64, 48, 24, 1);
    std::vector<COMPRESSED> frames = Record(this, {big, big});
    std::vector<BYTE> out;
    ASSERT_EQ(Decompress(frames[0].Data(), big, &out), ICERR_OK);
    WaitWorkerIdle(&Instance()->aWorker[WORKER_READ0]);
    ASSERT_EQ(Instance()->aWorker[WORKER_READ0].nState.load(), WORKER_DONE);
    PICTURE small = MakePicture(32, 24, 24, 1);
    EXPECT_EQ(Decompress(frames[1].Data(), small, &out), ICERR_ERROR);
}

TEST_F(Decompression, ReadAheadBelongsToItsFile)
{
    // Two files of one sequence whose second frames lie at the same offset:
    // the read-ahead of the first file must not stand in for the second's.
    g_Settings.fEnabled = TRUE;
    g_Settings.fOverlapRead = TRUE;
    SetBase("one");
    std::vector<PICTURE> pictures = {MakePicture(64, 48, 24, 4), MakePicture(64, 48, 24, 3)};
    std::vector<COMPRESSED> first = Record(this, pictures);
    // The same first frame; a second frame of the same size (every byte
    // inverted keeps the runs as they are) and other content.
    PICTURE inverted = pictures[1];
    for (BYTE &b : inverted.bits) b ^= 0xFF;
    std::vector<PICTURE> others = {pictures[0], inverted};
    SetBase("two");
    std::vector<COMPRESSED> second = Record(this, others);
    ASSERT_EQ(RecordOf(first[1]).dwOffset, RecordOf(second[1]).dwOffset);
    ASSERT_EQ(FrameSizeOf(first[1]), FrameSizeOf(second[1]));
    std::vector<BYTE> out;
    ASSERT_EQ(Decompress(first[0].Data(), pictures[0], &out), ICERR_OK);
    WaitWorkerIdle(&Instance()->aWorker[WORKER_READ0]);
    ASSERT_EQ(Instance()->aWorker[WORKER_READ0].nState.load(), WORKER_DONE);
    ASSERT_EQ(Decompress(second[1].Data(), others[1], &out), ICERR_OK);
    EXPECT_EQ(out, others[1].bits);
}

TEST_F(Decompression, OtherMessagesOfPlaybackAreForwarded)
{
    g_Settings.fEnabled = TRUE;
    SetBase("ex");
    std::vector<PICTURE> pictures = Pictures(1);
    std::vector<COMPRESSED> frames = Record(this, pictures);
    std::vector<BYTE> record = frames[0].Data();
    DWORD nBefore = pfnSampleCount(ICM_DECOMPRESSEX);
    Send(ICM_DECOMPRESSEX, (LPARAM)record.data(), 0);
    EXPECT_EQ(pfnSampleCount(ICM_DECOMPRESSEX), nBefore + 1);
    EXPECT_EQ(Instance()->cReadOpens, 0u);
}

}  // namespace
