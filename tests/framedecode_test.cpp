// Frames becoming pictures: the converter against hand-computed pictures,
// DecodeFrame on loaded files, and the in-place frame access.
#include "tests/mover_fixture.h"
#include "tests/samplecodec/samplecodec.h"

#include <string.h>

namespace {

// A format to convert from, without a file.
struct CONVERSION {
    std::vector<BYTE> format;
    AviInfo info;
    std::vector<BYTE> out;
    CONVERSION(std::vector<BYTE> fmt) : format(std::move(fmt))
    {
        memset(&info, 0, sizeof(info));
        info.lpbiFormat = reinterpret_cast<LPBITMAPINFOHEADER>(format.data());
        info.cbFormat = (DWORD)format.size();
        LONG w = info.lpbiFormat->biWidth;
        LONG h = info.lpbiFormat->biHeight < 0 ? -info.lpbiFormat->biHeight : info.lpbiFormat->biHeight;
        info.biOut.biWidth = w;
        info.biOut.biHeight = h;
        info.biOut.biBitCount = 24;
        info.biOut.biSizeImage = (((DWORD)w * 3 + 3) & ~3u) * (DWORD)h;
        // Sentinel bytes after the picture catch writes past it.
        out.assign(info.biOut.biSizeImage + 16, 0xEE);
    }
    BOOL Convert(const std::vector<BYTE> &source)
    {
        std::vector<BYTE> exact(source);
        return ConvertToRgb24(&info, exact.data(), (DWORD)exact.size(), out.data());
    }
    std::string Row(LONG r) const { return ::Row(out.data(), info.biOut.biWidth, r); }
    bool SentinelKept() const
    {
        for (size_t i = info.biOut.biSizeImage; i < out.size(); i++)
            if (out[i] != 0xEE) return false;
        return true;
    }
};

// A colour table: entry i is (i, 10 + i, 20 + i).
std::vector<BYTE> Palette(int n)
{
    std::vector<BYTE> table;
    for (int i = 0; i < n; i++) {
        table.push_back((BYTE)i);
        table.push_back((BYTE)(10 + i));
        table.push_back((BYTE)(20 + i));
        table.push_back(0);
    }
    return table;
}

TEST(Convert, EightBitPaletteWithRowPadding)
{
    // Width 5: 8 bytes per source row (3 pad bytes), output stride 16.
    CONVERSION c(MakeFormat(5, 2, 8, BI_RGB, Palette(8)));
    ASSERT_TRUE(c.Convert(Bytes({0, 1, 2, 3, 4, 99, 99, 99, 7, 6, 5, 4, 3, 99, 99, 99})));
    EXPECT_EQ(c.Row(0), "0,10,20 1,11,21 2,12,22 3,13,23 4,14,24");
    EXPECT_EQ(c.Row(1), "7,17,27 6,16,26 5,15,25 4,14,24 3,13,23");
    // The output pad bytes are not written.
    EXPECT_EQ(c.out[15], 0xEE);
    EXPECT_TRUE(c.SentinelKept());
}

TEST(Convert, IndicesBeyondTheTableShowBlack)
{
    CONVERSION c(MakeFormat(4, 1, 8, BI_RGB, Palette(2)));
    ASSERT_TRUE(c.Convert(Bytes({1, 2, 255, 0})));
    EXPECT_EQ(c.Row(0), "1,11,21 0,0,0 0,0,0 0,10,20");
}

TEST(Convert, SixteenBit555)
{
    // Odd width: each source row has 2 pad bytes.
    CONVERSION c(MakeFormat(3, 1, 16, BI_RGB));
    ASSERT_TRUE(c.Convert(Bytes({0xFF, 0x7F, 0x00, 0x00, 0x00, 0x7C, 0xAA, 0xAA})));
    EXPECT_EQ(c.Row(0), "254,254,254 0,0,0 0,0,254");
    // A source too short for its rows is refused.
    EXPECT_FALSE(c.Convert(Bytes({0xFF, 0x7F, 0x00, 0x00, 0x00, 0x7C})));
}

TEST(Convert, SixteenBitFields565)
{
    std::vector<BYTE> masks = Bytes({0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0x00, 0, 0});
    CONVERSION c(MakeFormat(2, 1, 16, BI_BITFIELDS, masks));
    ASSERT_TRUE(c.Convert(Bytes({0xFF, 0xFF, 0xE0, 0x07})));
    // 6-bit green tops out at 254 too; pure green stays green.
    EXPECT_EQ(c.Row(0), "254,254,254 0,254,0");
}

TEST(Convert, ThirtyTwoBitFieldsEqualPlainThirtyTwo)
{
    std::vector<BYTE> source = Bytes({1, 2, 3, 99, 200, 100, 50, 0, 0, 0, 0, 0, 255, 255, 255, 255});
    CONVERSION plain(MakeFormat(2, 2, 32, BI_RGB));
    ASSERT_TRUE(plain.Convert(source));
    std::vector<BYTE> masks = Bytes({0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0});
    CONVERSION fields(MakeFormat(2, 2, 32, BI_BITFIELDS, masks));
    ASSERT_TRUE(fields.Convert(source));
    EXPECT_EQ(plain.Row(0), "1,2,3 200,100,50");
    EXPECT_EQ(fields.Row(0), plain.Row(0));
    EXPECT_EQ(fields.Row(1), plain.Row(1));
}

TEST(Convert, MasksMissingFromTheFormatOrZeroGiveZeroChannels)
{
    // Only the red mask is in the format chunk; the other two are missing.
    CONVERSION c(MakeFormat(1, 1, 32, BI_BITFIELDS, Bytes({0, 0, 0xFF, 0})));
    ASSERT_TRUE(c.Convert(Bytes({9, 8, 7, 0})));
    EXPECT_EQ(c.Row(0), "0,0,7");
    CONVERSION z(MakeFormat(1, 1, 32, BI_BITFIELDS, std::vector<BYTE>(12, 0)));
    ASSERT_TRUE(z.Convert(Bytes({9, 8, 7, 0})));
    EXPECT_EQ(z.Row(0), "0,0,0");
}

TEST(Convert, FourAndOneBit)
{
    // 4 bits, width 3: the last byte's low half is ignored.
    CONVERSION four(MakeFormat(3, 1, 4, BI_RGB, Palette(16)));
    ASSERT_TRUE(four.Convert(Bytes({0x12, 0x3F, 0, 0})));
    EXPECT_EQ(four.Row(0), "1,11,21 2,12,22 3,13,23");
    CONVERSION one(MakeFormat(10, 1, 1, BI_RGB, Palette(2)));
    ASSERT_TRUE(one.Convert(Bytes({0xA0, 0xC0, 0, 0})));
    EXPECT_EQ(one.Row(0), "1,11,21 0,10,20 1,11,21 0,10,20 0,10,20 0,10,20 0,10,20 0,10,20 1,11,21 1,11,21");
}

TEST(Convert, TopDownRowsComeOutBottomUp)
{
    CONVERSION c(MakeFormat(1, -3, 8, BI_RGB, Palette(4)));
    ASSERT_TRUE(c.Convert(Bytes({1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0})));
    EXPECT_EQ(c.Row(0), "3,13,23");
    EXPECT_EQ(c.Row(2), "1,11,21");
}

TEST(Convert, UnsupportedLayouts)
{
    EXPECT_FALSE(CONVERSION(MakeFormat(4, 1, 2, BI_RGB, Palette(4))).Convert(std::vector<BYTE>(4, 0)));
    EXPECT_FALSE(CONVERSION(MakeFormat(4, 1, 24, BI_RGB)).Convert(std::vector<BYTE>(12, 0)));
    std::vector<BYTE> twoPlanes = MakeFormat(4, 1, 8, BI_RGB, Palette(4));
    twoPlanes[12] = 2;
    EXPECT_FALSE(CONVERSION(twoPlanes).Convert(std::vector<BYTE>(4, 0)));
}

const char GREY[] = "128,128,128";

std::string Greys(int n)
{
    std::string text;
    for (int i = 0; i < n; i++) text += std::string(i ? " " : "") + GREY;
    return text;
}

TEST(Convert, Rle8Escapes)
{
    // End of line at x = 0 emits nothing; a run crosses into the next row.
    CONVERSION c(MakeFormat(3, 3, 8, BI_RLE8, Palette(4)));
    ASSERT_TRUE(c.Convert(Bytes({0, 0, 4, 1, 0, 0, 0, 2, 1, 1, 0, 1})));
    EXPECT_EQ(c.Row(0), "1,11,21 1,11,21 1,11,21");
    // Row 1: one pixel of the run, end of line greys the rest; then the
    // delta (1, 1) greys w + 1 pixels, which fills the last row.
    EXPECT_EQ(c.Row(1), "1,11,21 " + Greys(2));
    EXPECT_EQ(c.Row(2), Greys(3));
    EXPECT_TRUE(c.SentinelKept());
}

TEST(Convert, Rle8EndOfBitmapAndDelta)
{
    // End of bitmap in the middle of row 3 of 10 greys the rest of the picture.
    CONVERSION eob(MakeFormat(4, 10, 8, BI_RLE8, Palette(4)));
    std::vector<BYTE> source;
    for (int r = 0; r < 3; r++) source.insert(source.end(), {4, 2});
    source.insert(source.end(), {2, 3, 0, 1});
    ASSERT_TRUE(eob.Convert(source));
    EXPECT_EQ(eob.Row(2), "2,12,22 2,12,22 2,12,22 2,12,22");
    EXPECT_EQ(eob.Row(3), "3,13,23 3,13,23 " + Greys(2));
    for (int r = 4; r < 10; r++) EXPECT_EQ(eob.Row(r), Greys(4));
    // A delta of (2, 1) greys w + 2 pixels.
    CONVERSION delta(MakeFormat(4, 2, 8, BI_RLE8, Palette(4)));
    ASSERT_TRUE(delta.Convert(Bytes({1, 1, 0, 2, 2, 1, 1, 3, 0, 1})));
    EXPECT_EQ(delta.Row(0), "1,11,21 " + Greys(3));
    EXPECT_EQ(delta.Row(1), Greys(3) + " 3,13,23");
}

TEST(Convert, Rle8AbsoluteRunsAndTheOddByte)
{
    // Absolute run of 3 (bytes 0, 3, then 3 indices: 5 consumed, one skipped).
    CONVERSION c(MakeFormat(4, 1, 8, BI_RLE8, Palette(8)));
    ASSERT_TRUE(c.Convert(Bytes({0, 3, 5, 6, 7, 99, 1, 2})));
    EXPECT_EQ(c.Row(0), "5,15,25 6,16,26 7,17,27 2,12,22");
}

TEST(Convert, RleDataEndingEarlyLeavesGrey)
{
    CONVERSION c(MakeFormat(4, 2, 8, BI_RLE8, Palette(4)));
    ASSERT_TRUE(c.Convert(Bytes({2, 1, 0})));
    EXPECT_EQ(c.Row(0), "1,11,21 1,11,21 " + Greys(2));
    EXPECT_EQ(c.Row(1), Greys(4));
    // An absolute run that claims more bytes than there are.
    ASSERT_TRUE(c.Convert(Bytes({0, 200, 1, 2})));
    EXPECT_EQ(c.Row(0), "1,11,21 2,12,22 " + Greys(2));
    EXPECT_TRUE(c.SentinelKept());
}

TEST(Convert, Rle4RunsAlternateAndAbsoluteRunsSkipHalves)
{
    CONVERSION run(MakeFormat(5, 1, 4, BI_RLE4, Palette(16)));
    ASSERT_TRUE(run.Convert(Bytes({5, 0x12, 0, 1})));
    EXPECT_EQ(run.Row(0), "1,11,21 2,12,22 1,11,21 2,12,22 1,11,21");
    // Absolute run of 3: two bytes (the half left over is skipped), and the
    // total consumed (4) is even, so the encoded run follows at once.
    CONVERSION abs(MakeFormat(5, 1, 4, BI_RLE4, Palette(16)));
    ASSERT_TRUE(abs.Convert(Bytes({0, 3, 0x34, 0x5F, 2, 0x77})));
    EXPECT_EQ(abs.Row(0), "3,13,23 4,14,24 5,15,25 7,17,27 7,17,27");
    // An absolute run of 5 takes three bytes, ending at byte 5: odd, so one
    // more byte is skipped.
    CONVERSION odd(MakeFormat(6, 1, 4, BI_RLE4, Palette(16)));
    ASSERT_TRUE(odd.Convert(Bytes({0, 5, 0x12, 0x34, 0x50, 99, 1, 0x66})));
    EXPECT_EQ(odd.Row(0), "1,11,21 2,12,22 3,13,23 4,14,24 5,15,25 6,16,26");
}

// ---------------------------------------------------------------------------
// DecodeFrame and AccessFrameData on loaded files

class Frames : public AviTest {};

AVISPEC PaletteClip(int nFrames)
{
    AVISPEC spec;
    spec.dwTotalFrames = spec.dwLength = (DWORD)nFrames;
    spec.format = MakeFormat(5, 2, 8, BI_RGB, Palette(16));
    for (int i = 0; i < nFrames; i++) spec.chunks.push_back(Frame("00db", std::vector<BYTE>(16, (BYTE)i)));
    return spec;
}

TEST_F(Frames, DecodeEachFrameAndTheBounds)
{
    AVISPEC spec = PaletteClip(3);
    spec.chunks[1].data.clear();  // dropped
    ASSERT_TRUE(LoadBytes(BuildAvi(spec)));
    ASSERT_TRUE(DecodeFrame(&info, 0));
    EXPECT_EQ(Row(g_pbImage, 5, 1), "0,10,20 0,10,20 0,10,20 0,10,20 0,10,20");
    ASSERT_TRUE(DecodeFrame(&info, 1));
    EXPECT_EQ(Row(g_pbImage, 5, 0), "0,0,0 0,0,0 0,0,0 0,0,0 0,0,0");
    ASSERT_TRUE(DecodeFrame(&info, 2));
    EXPECT_EQ(Row(g_pbImage, 5, 0), "2,12,22 2,12,22 2,12,22 2,12,22 2,12,22");
    EXPECT_FALSE(DecodeFrame(&info, 3));
    LoadAvi(&info, FALSE);
    EXPECT_FALSE(DecodeFrame(&info, 0));
}

TEST_F(Frames, TwentyFourBitTopDownFromFfmpeg)
{
    for (const char *pszName : {"ff-bgr24", "ff-pal8", "ff-rgb555"}) {
        ASSERT_TRUE(LoadFile(JoinPath(TestDataFolder(), std::string(pszName) + ".avi"))) << pszName;
        // ffmpeg's own decoding of the frames, made bottom-up.
        std::vector<BYTE> expected = ReadBytes(JoinPath(TestDataFolder(), std::string(pszName) + ".rgb"));
        ASSERT_EQ(expected.size(), 4u * info.biOut.biSizeImage);
        for (DWORD n = 0; n < info.nFrames; n++) {
            ASSERT_TRUE(DecodeFrame(&info, n)) << pszName << " frame " << n;
            const BYTE *pWant = expected.data() + n * info.biOut.biSizeImage;
            // 5-bit channels come out 254 at the top where ffmpeg gives 255.
            int nTolerance = strcmp(pszName, "ff-rgb555") == 0 ? 4 : 0;
            int nWorst = 0;
            for (DWORD i = 0; i < info.biOut.biSizeImage; i++) {
                int d = abs((int)g_pbImage[i] - (int)pWant[i]);
                if (d > nWorst) nWorst = d;
            }
            EXPECT_LE(nWorst, nTolerance) << pszName << " frame " << n;
        }
    }
}

TEST_F(Frames, CompressedFramesThroughTheStreamsDecompressor)
{
    // The sample codec listed under SMPL; its frames stored in the AVI, one
    // of them marked as not a key frame, so that the stream library's frame
    // decoder is opened where there is one.
    std::string name = UniqueName("smplavi") + ".dll";
    std::string library = JoinPath(SystemFolder(), name);
    ASSERT_TRUE(CopyBytes(BuiltModule("samplecodec"), library));
    ASSERT_TRUE(RegisterVideoCodec("SMPL", name.c_str()));
    HMODULE hSample = LoadLibraryA(library.c_str());
    ASSERT_NE(hSample, nullptr);
    DRIVERPROC pfnSample = ProcAs<DRIVERPROC>(GetProcAddress(hSample, "DriverProc"));
    const LONG w = 6, h = 4;
    BITMAPINFOHEADER bihIn;
    memcpy(&bihIn, MakeFormat(w, h, 24, BI_RGB, {}, 4 * 20).data(), sizeof(bihIn));
    BITMAPINFOHEADER bihOut;
    ASSERT_EQ(pfnSample(1, NULL, ICM_COMPRESS_GET_FORMAT, (LPARAM)&bihIn, (LPARAM)&bihOut), ICERR_OK);
    AVISPEC spec;
    spec.dwTotalFrames = spec.dwLength = 3;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format.assign(reinterpret_cast<BYTE *>(&bihOut), reinterpret_cast<BYTE *>(&bihOut) + sizeof(bihOut));
    std::vector<std::vector<BYTE>> pictures;
    for (int n = 0; n < 3; n++) {
        std::vector<BYTE> picture(bihIn.biSizeImage);
        for (size_t i = 0; i < picture.size(); i++) picture[i] = (BYTE)(n * 50 + (i % 7 == 0 ? i : 3));
        std::vector<BYTE> compressed(SampleMaxCompressedSize((DWORD)picture.size()));
        BITMAPINFOHEADER bihFrame = bihOut;
        ICCOMPRESS ic;
        memset(&ic, 0, sizeof(ic));
        ic.lpbiInput = &bihIn;
        ic.lpInput = picture.data();
        ic.lpbiOutput = &bihFrame;
        ic.lpOutput = compressed.data();
        ASSERT_EQ(pfnSample(1, NULL, ICM_COMPRESS, (LPARAM)&ic, sizeof(ic)), ICERR_OK);
        compressed.resize(bihFrame.biSizeImage);
        spec.chunks.push_back(Frame("00dc", compressed, n == 2 ? 0 : AVIIF_KEYFRAME));
        pictures.push_back(picture);
    }
    ASSERT_TRUE(LoadBytes(BuildAvi(spec)));
    EXPECT_EQ(info.fAllKey, 0);
    EXPECT_NE(info.hic, nullptr);
    EXPECT_STREQ(info.szCodecName, "Sample lossless run-length codec");
#ifdef _WIN32
    EXPECT_NE(info.pGetFrame, nullptr);
#else
    EXPECT_EQ(info.pGetFrame, nullptr);  // no stream library here: the decompressor alone
#endif
    for (DWORD n = 0; n < 3; n++) {
        ASSERT_TRUE(DecodeFrame(&info, n)) << n;
        EXPECT_EQ(0, memcmp(g_pbImage, pictures[n].data(), pictures[n].size())) << n;
    }
    // With the decompressor closed a compressed stream is not shown.
    OpenFrameCodec(&info, FALSE);
    EXPECT_FALSE(DecodeFrame(&info, 0));
    LoadAvi(&info, FALSE);
    FreeLibrary(hSample);
    UnregisterVideoCodec("SMPL");
    DeleteFileA(library.c_str());
}

TEST_F(Frames, CompressedStreamWithoutItsCodec)
{
    ASSERT_TRUE(LoadFile(JoinPath(TestDataFolder(), "ff-mjpeg.avi")));
    EXPECT_FALSE(g_fCodecReady);
    EXPECT_FALSE(DecodeFrame(&info, 0));
}

TEST_F(Frames, AccessFrameDataReadsAndRewritesInPlace)
{
    AVISPEC spec = PaletteClip(3);
    spec.chunks[2].dwIndexFlags = 0;  // flag bits never count towards the length
    spec.chunks[1].id = "00dc";
    ASSERT_TRUE(LoadBytes(BuildAvi(spec)));
    BYTE ab[64];
    DWORD cb = 0;
    ASSERT_TRUE(AccessFrameData(&info, ab, sizeof(ab), 2, FALSE, &cb));
    EXPECT_EQ(cb, 16u);
    EXPECT_EQ(ab[0], 2);
    memset(ab, 9, 16);
    cb = 16;
    // The later frame first: the earlier one's rewrite must not lose it.
    ASSERT_TRUE(AccessFrameData(&info, ab, sizeof(ab), 2, TRUE, &cb));
    ASSERT_TRUE(AccessFrameData(&info, ab, sizeof(ab), 1, TRUE, &cb));
    // Other sizes are refused and change nothing.
    for (DWORD cbWrong : {15u, 17u}) {
        g_aShown.clear();
        memset(ab, 7, sizeof(ab));
        cb = cbWrong;
        EXPECT_FALSE(AccessFrameData(&info, ab, sizeof(ab), 0, TRUE, &cb));
        EXPECT_EQ(cb, cbWrong);
        EXPECT_EQ(OnlyMessage(), "<path> のフレーム圧縮サイズが一致しません!");
    }
    // The rewrite survives closing and reopening; neighbours are untouched.
    std::string path = info.szAviFile;
    LoadAvi(&info, FALSE);
    ASSERT_TRUE(LoadFile(path));
    for (DWORD n = 0; n < 3; n++) {
        cb = 0;
        ASSERT_TRUE(AccessFrameData(&info, ab, sizeof(ab), n, FALSE, &cb));
        EXPECT_EQ(cb, 16u);
        EXPECT_EQ(ab[0], n == 0 ? 0 : 9) << n;
        EXPECT_EQ(ab[15], n == 0 ? 0 : 9) << n;
    }
}

// A pass over thousands of frames that reads, changes and writes back each
// one, in file order and then in a scrambled order: every write reaches the
// file, whatever reads come after it.
TEST_F(Frames, ThousandsOfRewritesReachTheFile)
{
    const DWORD nFrames = 3000;
    AVISPEC spec;
    spec.dwTotalFrames = spec.dwLength = nFrames;
    spec.format = MakeFormat(4, 2, 8, BI_RGB, Palette(16));
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    for (DWORD i = 0; i < nFrames; i++) {
        // Lengths from 1 to 400 bytes, so that frames straddle the buffer's edges.
        std::vector<BYTE> data(1 + (i * 37) % 400);
        for (size_t k = 0; k < data.size(); k++) data[k] = (BYTE)(i + k);
        spec.chunks.push_back(Frame("00dc", data));
    }
    std::vector<DWORD> positions;
    std::vector<BYTE> bytes = BuildAvi(spec, &positions);
    ASSERT_TRUE(LoadBytes(bytes));
    std::string path = info.szAviFile;
    std::vector<DWORD> order(nFrames);
    for (DWORD i = 0; i < nFrames; i++) order[i] = i;
    for (int nPass = 0; nPass < 2; nPass++) {
        if (nPass == 1) {
            // A fixed scramble: each frame once, far from its neighbours.
            for (DWORD i = 0; i < nFrames; i++) order[i] = (i * 1777) % nFrames;
        }
        for (DWORD n : order) {
            BYTE ab[512];
            DWORD cb = 0;
            ASSERT_TRUE(AccessFrameData(&info, ab, sizeof(ab), n, FALSE, &cb)) << n;
            for (DWORD k = 0; k < cb; k++) ab[k] = (BYTE)(ab[k] ^ (0x5A + nPass));
            ASSERT_TRUE(AccessFrameData(&info, ab, sizeof(ab), n, TRUE, &cb)) << n;
        }
        // What is on disk while the AVI is still open, and after it is closed.
        for (int nCheck = 0; nCheck < 2; nCheck++) {
            if (nCheck == 1) LoadAvi(&info, FALSE);
            std::vector<BYTE> file = ReadBytes(path);
            ASSERT_EQ(file.size(), bytes.size());
            DWORD nWrong = 0;
            for (DWORD i = 0; i < nFrames; i++) {
                const std::vector<BYTE> &data = spec.chunks[i].data;
                for (size_t k = 0; k < data.size(); k++) {
                    BYTE bWanted = (BYTE)(data[k] ^ 0x5A);
                    if (nPass == 1) bWanted = (BYTE)(bWanted ^ 0x5B);
                    if (file[positions[i] + 8 + k] != bWanted) {
                        nWrong++;
                        break;
                    }
                }
            }
            EXPECT_EQ(nWrong, 0u) << "frames not rewritten on disk after pass " << nPass << (nCheck ? ", closed" : ", open");
        }
        ASSERT_TRUE(LoadFile(path));
    }
}

TEST_F(Frames, AccessFrameDataMessages)
{
    BYTE ab[16];
    DWORD cb = 0;
    EXPECT_FALSE(AccessFrameData(&info, ab, sizeof(ab), 5, FALSE, &cb));
    EXPECT_EQ(OnlyMessage(), "AVIファイルはオープンされていません!");
    AVISPEC spec = PaletteClip(2);
    spec.chunks[1].data.clear();
    ASSERT_TRUE(LoadBytes(BuildAvi(spec)));
    g_aShown.clear();
    EXPECT_FALSE(AccessFrameData(&info, ab, sizeof(ab), 2, FALSE, &cb));
    EXPECT_EQ(OnlyMessage(), "<path> のフレームNoが不正です!");
    // A frame of length 0 reads as nothing and writes nothing.
    cb = 99;
    EXPECT_TRUE(AccessFrameData(&info, ab, sizeof(ab), 1, FALSE, &cb));
    EXPECT_EQ(cb, 0u);
    EXPECT_TRUE(AccessFrameData(&info, ab, sizeof(ab), 1, TRUE, &cb));
    // A buffer too small for the frame.
    g_aShown.clear();
    EXPECT_FALSE(AccessFrameData(&info, ab, 15, 0, FALSE, &cb));
    EXPECT_EQ(OnlyMessage(), "<path> のフレーム読み出しに失敗しました!");
}

}  // namespace
