#include "tests/codec_fixture.h"

#include "tests/dibheader.h"

#include <string.h>

PICTURE MakePicture(LONG lWidth, LONG lHeight, WORD wBits, int nSeed)
{
    PICTURE pic;
    DWORD cbStride = DibStride(lWidth, wBits);
    DWORD cRows = (DWORD)(lHeight < 0 ? -lHeight : lHeight);
    pic.bih = MakeDibHeader(lWidth, lHeight, wBits, BI_RGB, cbStride * cRows);
    pic.bits.resize(pic.bih.biSizeImage);
    // Flat bands that compress well, and a noisy strip whose width grows
    // with the seed, so that compressed sizes differ from frame to frame.
    uint32_t nRandom = 0x9E3779B9u * (uint32_t)(nSeed + 1);
    DWORD cbNoisy = (cbStride * (DWORD)(nSeed % 5)) / 5;
    for (DWORD y = 0; y < cRows; y++) {
        for (DWORD x = 0; x < cbStride; x++) {
            nRandom = nRandom * 1664525u + 1013904223u;
            BYTE b = (BYTE)((y / 4 + (DWORD)nSeed) * 37);
            if (x < cbNoisy) b = (BYTE)(nRandom >> 24);
            pic.bits[y * cbStride + x] = b;
        }
    }
    return pic;
}

void CodecTest::SetUp()
{
    dir = MakeTempDir("spcodec");
    ASSERT_FALSE(dir.empty());
    hSample = LoadLibraryA(BuiltModule("samplecodec").c_str());
    ASSERT_NE(hSample, nullptr);
    g_pfnWrappedProc = ProcAs<DRIVERPROC>(GetProcAddress(hSample, "DriverProc"));
    pfnSampleControl = ProcAs<SAMPLECONTROLPROC>(GetProcAddress(hSample, "SampleControl"));
    pfnSampleCount = ProcAs<SAMPLECALLCOUNTPROC>(GetProcAddress(hSample, "SampleCallCount"));
    ASSERT_TRUE(g_pfnWrappedProc && pfnSampleControl && pfnSampleCount);
    pfnSampleControl(SAMPLE_RESET, 0);
    memset(&g_Settings, 0, sizeof(g_Settings));
    InitInstanceList();
    dwId = OpenInstance();
    ASSERT_NE(dwId, 0u);
}

void CodecTest::TearDown()
{
    for (DWORD_PTR dwOpen : aOpen) DriverProc(dwOpen, NULL, DRV_CLOSE, 0, 0);
    ReleaseAllInstances(FALSE);
    g_pfnWrappedProc = NULL;
    memset(&g_Settings, 0, sizeof(g_Settings));
    if (hSample) FreeLibrary(hSample);
    RemoveTree(dir);
}

ICOPEN SampleCompressOpen()
{
    ICOPEN icopen;
    memset(&icopen, 0, sizeof(icopen));
    icopen.dwSize = sizeof(icopen);
    icopen.fccType = ICTYPE_VIDEO;
    icopen.fccHandler = SAMPLE_FOURCC;
    icopen.dwFlags = ICMODE_COMPRESS;
    return icopen;
}

DWORD_PTR CodecTest::OpenInstance()
{
    ICOPEN icopen = SampleCompressOpen();
    DWORD_PTR dwNew = (DWORD_PTR)DriverProc(0, NULL, DRV_OPEN, 0, (LPARAM)&icopen);
    if (dwNew) aOpen.push_back(dwNew);
    return dwNew;
}

void CodecTest::CloseInstance(DWORD_PTR dwClose)
{
    DriverProc(dwClose, NULL, DRV_CLOSE, 0, 0);
    for (size_t i = 0; i < aOpen.size(); i++) {
        if (aOpen[i] == dwClose) {
            aOpen.erase(aOpen.begin() + (long)i);
            break;
        }
    }
}

void CodecTest::SetBase(const char *pszName, const char *pszName2)
{
    snprintf(g_Settings.szBaseFile, sizeof(g_Settings.szBaseFile), "%s", pszName[0] ? Base(pszName).c_str() : "");
    snprintf(g_Settings.szBaseFile2, sizeof(g_Settings.szBaseFile2), "%s", pszName2[0] ? Base(pszName2).c_str() : "");
}

COMPRESSED CodecTest::Compress(const PICTURE &pic, DWORD dwFlags, DWORD_PTR dwTo)
{
    DWORD_PTR dwUse = dwTo ? dwTo : dwId;
    COMPRESSED c;
    BITMAPINFOHEADER bihIn = pic.bih;
    memset(&c.bihOut, 0, sizeof(c.bihOut));
    EXPECT_EQ(SendTo(dwUse, ICM_COMPRESS_GET_FORMAT, (LPARAM)&bihIn, (LPARAM)&c.bihOut), ICERR_OK);
    LRESULT cbRoom = SendTo(dwUse, ICM_COMPRESS_GET_SIZE, (LPARAM)&bihIn, (LPARAM)&c.bihOut);
    EXPECT_GT(cbRoom, 0);
    c.output.assign((size_t)cbRoom, OUTPUT_SENTINEL);
    DWORD dwCkid = 0;
    DWORD dwAviFlags = 0;
    ICCOMPRESS ic;
    memset(&ic, 0, sizeof(ic));
    ic.dwFlags = dwFlags;
    ic.lpbiOutput = &c.bihOut;
    ic.lpOutput = c.output.data();
    ic.lpbiInput = &bihIn;
    ic.lpInput = const_cast<BYTE *>(pic.bits.data());
    ic.lpckid = &dwCkid;
    ic.lpdwFlags = &dwAviFlags;
    ic.dwQuality = 10000;
    c.lResult = SendTo(dwUse, ICM_COMPRESS, (LPARAM)&ic, sizeof(ic));
    c.cbOutput = c.bihOut.biSizeImage;
    EXPECT_EQ(ic.lpOutput, c.output.data()) << "the host's output pointer is put back";
    EXPECT_EQ(ic.dwFlags & ICCOMPRESS_NOREF, 0u);
    // Bytes that nobody lays out keep the sentinel.
    size_t cbLaidOut = 0;
    if (c.lResult == ICERR_OK && IsRefRecord(c.output.data(), c.cbOutput)) {
        REFFRAMEHEADER header;
        memcpy(&header, c.output.data() + OUTPUT_HEADER_OFFSET, sizeof(header));
        cbLaidOut = OUTPUT_DATA_OFFSET + ((RecordOf(c).dwSizeFlags & REFREC_RAW) ? 0 : header.dwDataSize);
    } else if (c.lResult == ICERR_OK) {
        cbLaidOut = c.cbOutput;
    } else {
        // A refused frame may leave the codec's output at 292 and a header.
        cbLaidOut = c.output.size();
        for (size_t i = 0; i < c.output.size(); i++)
            if (c.output[i] != OUTPUT_SENTINEL) cbLaidOut = i + 1;
    }
    for (size_t i = cbLaidOut; i < c.output.size(); i++) {
        if (c.output[i] != OUTPUT_SENTINEL) {
            ADD_FAILURE() << "output byte " << i << " of " << c.output.size() << " written past " << cbLaidOut;
            break;
        }
    }
    return c;
}

LRESULT CodecTest::CompressInto(BITMAPINFOHEADER *pbihIn, const void *pBits, BITMAPINFOHEADER *pbihOut,
                                std::vector<BYTE> *pOutput)
{
    ICCOMPRESS ic;
    memset(&ic, 0, sizeof(ic));
    ic.lpbiOutput = pbihOut;
    ic.lpOutput = pOutput->data();
    ic.lpbiInput = pbihIn;
    ic.lpInput = const_cast<void *>(pBits);
    return Send(ICM_COMPRESS, (LPARAM)&ic, sizeof(ic));
}

LRESULT CodecTest::Decompress(const std::vector<BYTE> &data, const PICTURE &format, std::vector<BYTE> *pOut,
                              DWORD_PTR dwTo, DWORD *pcbOutput)
{
    DWORD_PTR dwUse = dwTo ? dwTo : dwId;
    BITMAPINFOHEADER bihIn = format.bih;
    bihIn.biCompression = SAMPLE_FOURCC;
    bihIn.biSizeImage = (DWORD)data.size();
    BITMAPINFOHEADER bihOut = format.bih;
    const DWORD cbPicture = format.bih.biSizeImage;
    const size_t cbSlack = 64;
    std::vector<BYTE> out(cbPicture + cbSlack, 0xCD);
    // The input is a copy of exactly its size, so that reading past it is caught.
    std::vector<BYTE> input(data);
    ICDECOMPRESS id;
    memset(&id, 0, sizeof(id));
    id.lpbiInput = &bihIn;
    id.lpInput = input.data();
    id.lpbiOutput = &bihOut;
    id.lpOutput = out.data();
    LRESULT lResult = SendTo(dwUse, ICM_DECOMPRESS, (LPARAM)&id, sizeof(id));
    EXPECT_EQ(id.lpInput, input.data()) << "the host's input pointer is put back";
    EXPECT_EQ(bihIn.biSizeImage, data.size()) << "the host's input size is put back";
    for (size_t i = cbPicture; i < out.size(); i++) {
        if (out[i] != 0xCD) {
            ADD_FAILURE() << "decompressed output written past its end at " << i;
            break;
        }
    }
    out.resize(cbPicture);
    if (pOut) *pOut = out;
    if (pcbOutput) *pcbOutput = bihOut.biSizeImage;
    return lResult;
}

REFRECORD RecordOf(const COMPRESSED &c)
{
    REFRECORD rec;
    memset(&rec, 0, sizeof(rec));
    if (c.output.size() >= sizeof(rec)) memcpy(&rec, c.output.data(), sizeof(rec));
    return rec;
}

std::string RecordPath(const COMPRESSED &c) { return RecordOf(c).szFileName; }

DWORD FrameSizeOf(const COMPRESSED &c)
{
    REFRECORD rec = RecordOf(c);
    return RefRecordFrameSize(&rec);
}

int SequenceOf(const COMPRESSED &c)
{
    REFRECORD rec = RecordOf(c);
    return RefRecordSequence(&rec);
}

STOREDFRAME ReadStoredFrame(const std::string &path, DWORD dwOffset)
{
    STOREDFRAME frame;
    frame.fOk = false;
    std::vector<BYTE> file = ReadBytes(path);
    if ((size_t)dwOffset + sizeof(REFFRAMEHEADER) > file.size()) return frame;
    memcpy(&frame.header, file.data() + dwOffset, sizeof(frame.header));
    size_t cbData = frame.header.dwDataSize;
    if ((size_t)dwOffset + sizeof(REFFRAMEHEADER) + cbData > file.size()) return frame;
    const BYTE *pData = file.data() + dwOffset + sizeof(REFFRAMEHEADER);
    frame.data.assign(pData, pData + cbData);
    frame.fOk = true;
    return frame;
}
