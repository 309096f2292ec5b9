// The sample codec (see samplecodec.h).
//
// Compressed frame: the DIB's byte count (4 bytes, little-endian), then the
// DIB's bytes in PackBits runs: a count byte c below 128 is followed by c + 1
// literal bytes; c above 128 repeats the next byte 257 - c times.
#include "tests/samplecodec/samplecodec.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>

namespace {

std::atomic<DWORD_PTR> g_aOption[SAMPLE_OPTION_COUNT];
std::atomic<DWORD_PTR> g_dwNextId{1};
std::atomic<DWORD> g_dwState{0};
std::atomic<DWORD> g_dwLastCompressFlags{0};
SAMPLECALL g_LastCall;
std::atomic_flag g_fLastCallLock = ATOMIC_FLAG_INIT;

void RecordCall(const SAMPLECALL &call)
{
    while (g_fLastCallLock.test_and_set(std::memory_order_acquire)) {
    }
    g_LastCall = call;
    g_fLastCallLock.clear(std::memory_order_release);
}
const UINT COUNTED_MESSAGES = 0x6000;
std::atomic<DWORD> g_adwCount[COUNTED_MESSAGES];

DWORD DibStride(const BITMAPINFOHEADER *pbi) { return (((DWORD)pbi->biWidth * pbi->biBitCount + 31) / 32) * 4; }

DWORD DibSize(const BITMAPINFOHEADER *pbi)
{
    LONG lHeight = pbi->biHeight < 0 ? -pbi->biHeight : pbi->biHeight;
    return DibStride(pbi) * (DWORD)lHeight;
}

DWORD PaletteBytes(const BITMAPINFOHEADER *pbi)
{
    if (pbi->biBitCount > 8) return 0;
    DWORD n = pbi->biClrUsed ? pbi->biClrUsed : (1u << pbi->biBitCount);
    return n * sizeof(RGBQUAD);
}

bool SupportedDepth(WORD wBits) { return wBits == 8 || wBits == 16 || wBits == 24 || wBits == 32; }

bool ValidPicture(const BITMAPINFOHEADER *pbi)
{
    return pbi && pbi->biWidth > 0 && pbi->biWidth <= 16384 && pbi->biHeight != 0 && pbi->biHeight >= -16384 &&
           pbi->biHeight <= 16384 && SupportedDepth(pbi->biBitCount);
}

LRESULT CompressQuery(const BITMAPINFOHEADER *pIn, const BITMAPINFOHEADER *pOut)
{
    if (!ValidPicture(pIn) || pIn->biCompression != BI_RGB) return ICERR_BADFORMAT;
    if (pOut && (pOut->biCompression != SAMPLE_FOURCC || pOut->biWidth != pIn->biWidth ||
                 pOut->biHeight != pIn->biHeight || pOut->biBitCount != pIn->biBitCount))
        return ICERR_BADFORMAT;
    return ICERR_OK;
}

LRESULT DecompressQuery(const BITMAPINFOHEADER *pIn, const BITMAPINFOHEADER *pOut)
{
    if (!ValidPicture(pIn) || pIn->biCompression != SAMPLE_FOURCC) return ICERR_BADFORMAT;
    if (pOut && (pOut->biCompression != BI_RGB || pOut->biWidth != pIn->biWidth ||
                 pOut->biHeight != pIn->biHeight || pOut->biBitCount != pIn->biBitCount))
        return ICERR_BADFORMAT;
    return ICERR_OK;
}

// Copies a format with its colour table and gives it another compression.
LRESULT GetFormat(const BITMAPINFOHEADER *pIn, BITMAPINFOHEADER *pOut, DWORD dwCompression, bool fCompress)
{
    LRESULT lQuery = fCompress ? CompressQuery(pIn, NULL) : DecompressQuery(pIn, NULL);
    if (lQuery != ICERR_OK) return lQuery;
    DWORD cbFormat = sizeof(BITMAPINFOHEADER) + PaletteBytes(pIn);
    if (!pOut) return (LRESULT)cbFormat;
    memcpy(pOut, pIn, cbFormat);
    pOut->biSize = sizeof(BITMAPINFOHEADER);
    pOut->biCompression = dwCompression;
    pOut->biSizeImage = fCompress ? SampleMaxCompressedSize(DibSize(pIn)) : DibSize(pIn);
    return ICERR_OK;
}

// Runs of three or more equal bytes become a count and the byte; everything
// else goes in literal blocks of up to 128 bytes. A run of two stays inside
// its literal block, so the output never exceeds the input by more than one
// byte per 128 and one more.
DWORD PackBits(const BYTE *pIn, DWORD cbIn, BYTE *pOut)
{
    DWORD iOut = 0;
    DWORD i = 0;
    auto RunAt = [&](DWORD at) {
        DWORD nRun = 1;
        while (at + nRun < cbIn && nRun < 128 && pIn[at + nRun] == pIn[at]) nRun++;
        return nRun;
    };
    while (i < cbIn) {
        DWORD nRun = RunAt(i);
        if (nRun >= 3) {
            pOut[iOut++] = (BYTE)(257 - nRun);
            pOut[iOut++] = pIn[i];
            i += nRun;
            continue;
        }
        DWORD nLit = 0;
        while (i + nLit < cbIn && nLit < 128 &&
               !(i + nLit + 2 < cbIn && pIn[i + nLit + 1] == pIn[i + nLit] && pIn[i + nLit + 2] == pIn[i + nLit]))
            nLit++;
        pOut[iOut++] = (BYTE)(nLit - 1);
        memcpy(pOut + iOut, pIn + i, nLit);
        iOut += nLit;
        i += nLit;
    }
    return iOut;
}

// Unpacks into exactly cbOut bytes; false when the data does not fit.
bool UnpackBits(const BYTE *pIn, DWORD cbIn, BYTE *pOut, DWORD cbOut)
{
    DWORD i = 0;
    DWORD o = 0;
    while (i < cbIn && o < cbOut) {
        BYTE c = pIn[i++];
        if (c < 128) {
            DWORD n = (DWORD)c + 1;
            if (i + n > cbIn || o + n > cbOut) return false;
            memcpy(pOut + o, pIn + i, n);
            i += n;
            o += n;
        } else if (c > 128) {
            DWORD n = 257 - (DWORD)c;
            if (i >= cbIn || o + n > cbOut) return false;
            memset(pOut + o, pIn[i++], n);
            o += n;
        }
    }
    return o == cbOut;
}

LRESULT Compress(ICCOMPRESS *pic)
{
    if (pic) g_dwLastCompressFlags.store(pic->dwFlags);
    if (DWORD_PTR dwFail = g_aOption[SAMPLE_FAIL_COMPRESS].load()) return (LRESULT)(LONG)dwFail;
    if (!pic || CompressQuery(pic->lpbiInput, NULL) != ICERR_OK) return ICERR_BADFORMAT;
    DWORD cbRaw = DibSize(pic->lpbiInput);
    BYTE *pOut = static_cast<BYTE *>(pic->lpOutput);
    memcpy(pOut, &cbRaw, 4);
    DWORD cbOut = 4 + PackBits(static_cast<const BYTE *>(pic->lpInput), cbRaw, pOut + 4);
    if (DWORD dwOverrun = (DWORD)g_aOption[SAMPLE_OVERRUN].load()) {
        // A codec that writes more than it said it would: trailing bytes
        // that its decompressor ignores.
        DWORD cbWritten = SampleMaxCompressedSize(cbRaw) + dwOverrun;
        memset(pOut + cbOut, 0x80, cbWritten - cbOut);
        cbOut = cbWritten;
    }
    pic->lpbiOutput->biSizeImage = cbOut;
    if (pic->lpdwFlags) *pic->lpdwFlags = AVIIF_KEYFRAME;
    return ICERR_OK;
}

LRESULT Decompress(ICDECOMPRESS *pid)
{
    if (!pid || DecompressQuery(pid->lpbiInput, NULL) != ICERR_OK || !pid->lpbiOutput) return ICERR_BADFORMAT;
    DWORD cbIn = pid->lpbiInput->biSizeImage;
    DWORD cbRaw = DibSize(pid->lpbiOutput);
    const BYTE *pIn = static_cast<const BYTE *>(pid->lpInput);
    DWORD cbStored;
    if (cbIn < 4) return ICERR_ERROR;
    memcpy(&cbStored, pIn, 4);
    if (cbStored != cbRaw) return ICERR_BADFORMAT;
    if (!UnpackBits(pIn + 4, cbIn - 4, static_cast<BYTE *>(pid->lpOutput), cbRaw)) return ICERR_ERROR;
    return ICERR_OK;
}

void CopyWide(WCHAR *pDest, const char16_t *pszSrc, size_t cchDest)
{
    size_t i = 0;
    for (; pszSrc[i] && i + 1 < cchDest; i++) pDest[i] = (WCHAR)pszSrc[i];
    pDest[i] = 0;
}

LRESULT GetInfo(ICINFO *pInfo, DWORD cb)
{
    if (g_aOption[SAMPLE_FAIL_GETINFO].load()) return 0;
    if (!pInfo || cb < sizeof(ICINFO)) return 0;
    pInfo->dwSize = sizeof(ICINFO);
    pInfo->fccType = ICTYPE_VIDEO;
    pInfo->fccHandler = SAMPLE_FOURCC;
    pInfo->dwFlags = VIDCF_QUALITY;
    pInfo->dwVersion = 0x00010002;
    pInfo->dwVersionICM = ICVERSION;
    CopyWide(pInfo->szName, u"SMPL", 16);
    CopyWide(pInfo->szDescription, u"Sample lossless run-length codec", 128);
    // szDriver is left to the platform, as many codecs do.
    return sizeof(ICINFO);
}

LRESULT Open(ICOPEN *pOpen)
{
    if (pOpen) {
        if (pOpen->fccType != 0 && pOpen->fccType != ICTYPE_VIDEO) return 0;
        DWORD dwRefused = (DWORD)g_aOption[SAMPLE_REFUSE_MODES].load();
        if (dwRefused & (1u << (pOpen->dwFlags & 15))) {
            pOpen->dwError = ICERR_UNSUPPORTED;
            return 0;
        }
    }
    if (DWORD_PTR dwFixed = g_aOption[SAMPLE_FIXED_OPEN_ID].load()) return (LRESULT)dwFixed;
    return (LRESULT)g_dwNextId.fetch_add(1);
}

}  // namespace

MODULE_EXPORT DWORD_PTR WINAPI SampleControl(UINT uOption, DWORD_PTR dwValue)
{
    if (uOption == SAMPLE_RESET) {
        for (auto &option : g_aOption) option.store(0);
        for (auto &count : g_adwCount) count.store(0);
        return 0;
    }
    if (uOption == SAMPLE_LAST_COMPRESS_FLAGS) return g_dwLastCompressFlags.load();
    if (uOption >= SAMPLE_OPTION_COUNT) return 0;
    return g_aOption[uOption].exchange(dwValue);
}

MODULE_EXPORT void WINAPI SampleLastCall(SAMPLECALL *pCall)
{
    while (g_fLastCallLock.test_and_set(std::memory_order_acquire)) {
    }
    *pCall = g_LastCall;
    g_fLastCallLock.clear(std::memory_order_release);
}

MODULE_EXPORT DWORD WINAPI SampleCallCount(UINT uMsg) { return uMsg < COUNTED_MESSAGES ? g_adwCount[uMsg].load() : 0; }

MODULE_EXPORT LRESULT WINAPI DriverProc(DWORD_PTR dwDriverId, HDRVR hDriver, UINT uMsg, LPARAM lParam1,
                                        LPARAM lParam2)
{
    RecordCall(SAMPLECALL{dwDriverId, hDriver, uMsg, lParam1, lParam2});
    if (uMsg < COUNTED_MESSAGES) g_adwCount[uMsg]++;
    if (DWORD_PTR dwProbe = g_aOption[SAMPLE_PROBE].load()) return (LRESULT)(dwProbe ^ uMsg);

    const BITMAPINFOHEADER *pbi1 = reinterpret_cast<const BITMAPINFOHEADER *>(lParam1);
    BITMAPINFOHEADER *pbi2 = reinterpret_cast<BITMAPINFOHEADER *>(lParam2);
    switch (uMsg) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_CLOSE: return DRV_OK;
    case DRV_OPEN: return Open(reinterpret_cast<ICOPEN *>(lParam2));
    case DRV_QUERYCONFIGURE: return 0;
    case ICM_GETINFO: return GetInfo(reinterpret_cast<ICINFO *>(lParam1), (DWORD)lParam2);
    case ICM_CONFIGURE:
        return g_aOption[SAMPLE_CONFIGURABLE].load() ? ICERR_OK : ICERR_UNSUPPORTED;
    case ICM_ABOUT: return ICERR_UNSUPPORTED;
    case ICM_GETDEFAULTQUALITY:
        if (lParam1) *reinterpret_cast<DWORD *>(lParam1) = 7500;
        return ICERR_OK;
    case ICM_GETSTATE:
        if (!lParam1) return sizeof(DWORD);
        if ((DWORD)lParam2 < sizeof(DWORD)) return ICERR_BADSIZE;
        *reinterpret_cast<DWORD *>(lParam1) = g_dwState.load();
        return sizeof(DWORD);
    case ICM_SETSTATE:
        if (!lParam1) {
            g_dwState.store(0);
            return 0;
        }
        if ((DWORD)lParam2 < sizeof(DWORD)) return 0;
        g_dwState.store(*reinterpret_cast<const DWORD *>(lParam1));
        return sizeof(DWORD);
    case ICM_COMPRESS_QUERY: return CompressQuery(pbi1, pbi2);
    case ICM_COMPRESS_GET_FORMAT: return GetFormat(pbi1, pbi2, SAMPLE_FOURCC, true);
    case ICM_COMPRESS_GET_SIZE:
        if (DWORD_PTR dwSize = g_aOption[SAMPLE_SIZE_ANSWER].load()) return (LRESULT)dwSize;
        if (CompressQuery(pbi1, NULL) != ICERR_OK) return 0;
        return (LRESULT)SampleMaxCompressedSize(DibSize(pbi1));
    case ICM_COMPRESS_BEGIN: return CompressQuery(pbi1, pbi2);
    case ICM_COMPRESS: return Compress(reinterpret_cast<ICCOMPRESS *>(lParam1));
    case ICM_COMPRESS_END: return ICERR_OK;
    case ICM_DECOMPRESS_QUERY: return DecompressQuery(pbi1, pbi2);
    case ICM_DECOMPRESS_GET_FORMAT: return GetFormat(pbi1, pbi2, BI_RGB, false);
    case ICM_DECOMPRESS_GET_PALETTE: return ICERR_UNSUPPORTED;
    case ICM_DECOMPRESS_BEGIN: return DecompressQuery(pbi1, pbi2);
    case ICM_DECOMPRESS: return Decompress(reinterpret_cast<ICDECOMPRESS *>(lParam1));
    case ICM_DECOMPRESS_END: return ICERR_OK;
    default:
        if (uMsg < DRV_USER) return DefDriverProc(dwDriverId, hDriver, uMsg, lParam1, lParam2);
        return ICERR_UNSUPPORTED;
    }
}
