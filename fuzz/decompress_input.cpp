#include "fuzz/decompress_input.h"

#include "codec/spoolcap.h"
#include "tests/dibheader.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const DWORD PAGE = 4096;
const DWORD MAX_CHUNK = 1024;

struct CURSOR {
    const uint8_t *p;
    const uint8_t *pEnd;
    bool Has(size_t cb) const { return (size_t)(pEnd - p) >= cb; }
    DWORD Take(size_t cb)
    {
        DWORD v = 0;
        for (size_t i = 0; i < cb && p < pEnd; i++) v |= (DWORD)*p++ << (8 * i);
        return v;
    }
};

// The wrapped codec: reads every byte of its input and fills the output
// with as much as fits, so that a buffer shorter than the size it is given
// shows at once.
LRESULT CALLBACK ReadingCodec(DWORD_PTR, HDRVR, UINT uMsg, LPARAM lParam1, LPARAM)
{
    if (uMsg == DRV_OPEN) return 1;
    if (uMsg != ICM_DECOMPRESS) return ICERR_OK;
    ICDECOMPRESS *pid = reinterpret_cast<ICDECOMPRESS *>(lParam1);
    DWORD cbIn = pid->lpbiInput ? pid->lpbiInput->biSizeImage : 0;
    const BYTE *pIn = static_cast<const BYTE *>(pid->lpInput);
    DWORD dwSum = 0;
    for (DWORD i = 0; i < cbIn; i++) dwSum += pIn[i];
    DWORD cbOut = DibImageSize(pid->lpbiOutput);
    BYTE *pOut = static_cast<BYTE *>(pid->lpOutput);
    for (DWORD i = 0; i < cbOut; i++) pOut[i] = (BYTE)(i < cbIn ? pIn[i] : dwSum);
    return ICERR_OK;
}

bool WriteFileBytes(const std::string &path, const uint8_t *p, size_t cb)
{
    FILE *pFile = fopen(path.c_str(), "wb");
    if (!pFile) return false;
    bool fOk = fwrite(p, 1, cb, pFile) == cb;
    return fclose(pFile) == 0 && fOk;
}

void Put(std::vector<BYTE> *pOut, DWORD v, int cb)
{
    for (int i = 0; i < cb; i++) pOut->push_back((BYTE)(v >> (8 * i)));
}

}  // namespace

int RunDecompressInput(const uint8_t *pData, size_t cbData, const std::string &dir)
{
    CURSOR in{pData, pData + cbData};
    if (!in.Has(4)) return 0;
    BYTE bSwitches = (BYTE)in.Take(1);
    LONG lWidth = (LONG)in.Take(1) % 64 + 1;
    LONG lHeight = (LONG)in.Take(1) % 48 + 1;
    static const WORD s_awDepth[4] = {8, 16, 24, 32};
    WORD wDepth = s_awDepth[in.Take(1) & 3];
    std::string aPath[4] = {dir + PATH_SEP_STR "take.000", dir + PATH_SEP_STR "take.001", dir + PATH_SEP_STR "gone.000",
                            std::string(MAX_PATH, 'z')};
    for (int i = 0; i < 2; i++) {
        size_t cb = in.Take(2);
        if (!in.Has(cb)) cb = (size_t)(in.pEnd - in.p);
        if (!WriteFileBytes(aPath[i], in.p, cb)) return 0;
        in.p += cb;
    }
    DeleteFileA(aPath[2].c_str());

    memset(&g_Settings, 0, sizeof(g_Settings));
    g_Settings.fOverlapRead = (bSwitches & 1) ? TRUE : FALSE;
    InitInstanceList();
    DRIVERPROC pfnSaved = g_pfnWrappedProc;
    g_pfnWrappedProc = ReadingCodec;
    DWORD_PTR dwId = (DWORD_PTR)DriverProc(0, NULL, DRV_OPEN, 0, 0);

    // Each chunk ends where an unreadable page begins.
    BYTE *pPages = static_cast<BYTE *>(VirtualAlloc(NULL, 2 * PAGE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD dwOld;
    int nDecoded = 0;
    if (pPages && VirtualProtect(pPages + PAGE, PAGE, PAGE_NOACCESS, &dwOld)) {
        BITMAPINFOHEADER bihOut = MakeDibHeader(lWidth, lHeight, wDepth);
        const DWORD cbPicture = DibImageSize(&bihOut);
        for (int n = 0; n < DECOMPRESS_FUZZ_MAX_RECORDS && in.Has(12); n++) {
            REFRECORD record;
            memcpy(record.achMagic, REFREC_MAGIC, REFREC_MAGIC_LEN);
            record.dwOffset = in.Take(4);
            record.dwSizeFlags = in.Take(4);
            BYTE bFile = (BYTE)in.Take(1);
            in.Take(1);
            DWORD cbChunk = in.Take(2) % (MAX_CHUNK + 1);
            memset(record.szFileName, 0, sizeof(record.szFileName));
            memcpy(record.szFileName, aPath[bFile & 3].c_str(),
                   aPath[bFile & 3].size() < MAX_PATH ? aPath[bFile & 3].size() : MAX_PATH);
            if (bFile & 0x40) record.achMagic[0] = 's';
            if (bFile & 0x80) DriverProc(dwId, NULL, ICM_DECOMPRESS_END, 0, 0);

            BYTE *pChunk = pPages + PAGE - cbChunk;
            memset(pChunk, 0, cbChunk);
            memcpy(pChunk, &record, cbChunk < sizeof(record) ? cbChunk : sizeof(record));
            BITMAPINFOHEADER bihIn = bihOut;
            bihIn.biCompression = mmioFOURCC('S', 'M', 'P', 'L');
            bihIn.biSizeImage = (bSwitches & 2) ? cbChunk : 0;
            BITMAPINFOHEADER bihPicture = bihOut;
            std::vector<BYTE> picture(cbPicture ? cbPicture : 1);
            ICDECOMPRESS id;
            memset(&id, 0, sizeof(id));
            id.lpbiInput = &bihIn;
            id.lpInput = pChunk;
            id.lpbiOutput = &bihPicture;
            id.lpOutput = picture.data();
            if (DriverProc(dwId, NULL, ICM_DECOMPRESS, (LPARAM)&id, sizeof(id)) == ICERR_OK) nDecoded++;
        }
    }
    if (pPages) VirtualFree(pPages, 0, MEM_RELEASE);
    DriverProc(dwId, NULL, DRV_CLOSE, 0, 0);
    g_pfnWrappedProc = pfnSaved;
    memset(&g_Settings, 0, sizeof(g_Settings));
    return nDecoded;
}

std::vector<BYTE> BuildDecompressInput(BYTE bSwitches, BYTE bWidth, BYTE bHeight, BYTE bDepth,
                                       const std::vector<BYTE> &file0, const std::vector<BYTE> &file1,
                                       const std::vector<DECOMPRESSRECORD> &records)
{
    std::vector<BYTE> input = {bSwitches, bWidth, bHeight, bDepth};
    Put(&input, (DWORD)file0.size(), 2);
    input.insert(input.end(), file0.begin(), file0.end());
    Put(&input, (DWORD)file1.size(), 2);
    input.insert(input.end(), file1.begin(), file1.end());
    for (const DECOMPRESSRECORD &rec : records) {
        Put(&input, rec.dwOffset, 4);
        Put(&input, rec.dwSizeFlags, 4);
        Put(&input, rec.bFile, 1);
        Put(&input, 0, 1);
        Put(&input, rec.cbChunk, 2);
    }
    return input;
}
