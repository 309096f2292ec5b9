// In-process harness for the compression and decompression paths: the
// driver's DriverProc with the sample codec as the wrapped codec, pictures
// made up for the tests, and output buffers laid out the way hosts size them.
#pragma once

#include "codec/spoolcap.h"

#include "tests/samplecodec/samplecodec.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct PICTURE {
    BITMAPINFOHEADER bih;
    std::vector<BYTE> bits;
};

// A picture whose content, and so whose compressed size, varies with seed.
PICTURE MakePicture(LONG lWidth, LONG lHeight, WORD wBits, int nSeed);

// DRV_OPEN's ICOPEN of a host that opens the sample codec to compress.
ICOPEN SampleCompressOpen();

struct COMPRESSED {
    LRESULT lResult;
    BITMAPINFOHEADER bihOut;  // the compressed format, biSizeImage as set
    std::vector<BYTE> output; // the host's whole output buffer
    DWORD cbOutput;           // biSizeImage after the call
    std::vector<BYTE> Data() const { return std::vector<BYTE>(output.begin(), output.begin() + cbOutput); }
};

const BYTE OUTPUT_SENTINEL = 0xAB;

class CodecTest : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    // Opens another driver instance; returns its id.
    DWORD_PTR OpenInstance();
    void CloseInstance(DWORD_PTR dwId);
    LRESULT Send(UINT uMsg, LPARAM l1 = 0, LPARAM l2 = 0) { return DriverProc(dwId, NULL, uMsg, l1, l2); }
    LRESULT SendTo(DWORD_PTR dwTo, UINT uMsg, LPARAM l1 = 0, LPARAM l2 = 0) { return DriverProc(dwTo, NULL, uMsg, l1, l2); }

    // Compresses through ICM_COMPRESS into an output buffer of exactly the
    // size that ICM_COMPRESS_GET_SIZE answered, preset to the sentinel;
    // checks that nothing beyond the laid-out bytes was written.
    COMPRESSED Compress(const PICTURE &pic, DWORD dwFlags = ICCOMPRESS_KEYFRAME, DWORD_PTR dwTo = 0);
    // Sends ICM_COMPRESS of an input into an output buffer that the test
    // sized itself.
    LRESULT CompressInto(BITMAPINFOHEADER *pbihIn, const void *pBits, BITMAPINFOHEADER *pbihOut,
                         std::vector<BYTE> *pOutput);
    // Decompresses data (a record or the codec's own data) into a picture of
    // the given format; the output is checked for writes past its end.
    LRESULT Decompress(const std::vector<BYTE> &data, const PICTURE &format, std::vector<BYTE> *pOut,
                       DWORD_PTR dwTo = 0, DWORD *pcbOutput = NULL);

    // Base names in the test's folder.
    std::string Base(const char *pszName) { return JoinPath(dir, pszName); }
    void SetBase(const char *pszName, const char *pszName2 = "");
    CODECINSTANCE *Instance(DWORD_PTR dwTo = 0) { return FindInstance(dwTo ? dwTo : dwId); }

    std::string dir;
    HMODULE hSample = NULL;
    SAMPLECONTROLPROC pfnSampleControl = NULL;
    SAMPLECALLCOUNTPROC pfnSampleCount = NULL;
    DWORD_PTR dwId = 0;
    std::vector<DWORD_PTR> aOpen;
};

// The fields of a record in an output buffer.
REFRECORD RecordOf(const COMPRESSED &c);
std::string RecordPath(const COMPRESSED &c);
DWORD FrameSizeOf(const COMPRESSED &c);
int SequenceOf(const COMPRESSED &c);
// A frame as it lies in a reference file.
struct STOREDFRAME {
    bool fOk;
    REFFRAMEHEADER header;
    std::vector<BYTE> data;
};
STOREDFRAME ReadStoredFrame(const std::string &path, DWORD dwOffset);
