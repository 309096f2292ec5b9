// A small Video for Windows host for the integration tests under Wine: it
// reaches the codecs through the real msvfw32, the way capture and playback
// programs do.
//
//   vfwhost list                      every installed video codec, opened
//   vfwhost info FOURCC ORGLIBRARY    ICM_GETINFO through msvfw32 equals the
//                                     wrapped library's own answer
//   vfwhost begin LIBRARY             loads LIBRARY as a driver and prints its
//                                     answer to ICM_COMPRESS_BEGIN for an
//                                     unknown instance id
//   vfwhost ic-record FOURCC N DIR    compresses N test pictures with
//                                     ICCompressBegin/ICCompress/ICCompressEnd,
//                                     each frame's output into DIR\NNN.bin
//   vfwhost ic-play FOURCC N DIR      decompresses them with ICDecompress and
//                                     compares with the pictures
//   vfwhost avi-record FOURCC N AVI   writes N pictures to a compressed stream
//   vfwhost avi-record-sound FOURCC N AVI  the same with a stream of sound
//                                     of an AVI through avifil32
//   vfwhost avi-play N AVI [FIRST STEP]
//                                     reads the AVI's chunks, then plays it
//                                     with AVIStreamGetFrame and ICDecompress;
//                                     frame k is picture FIRST + STEP * k
//   vfwhost configure FOURCC SECONDS  opens the codec's settings dialog
//                                     (ICConfigure) and closes it after
//                                     SECONDS (0: when the user does)
//   vfwhost vfwprobe-get MODES        ticks the mode boxes of a running
//                                     Vfwprobe (q, c, d) and presses Get
//   vfwhost close TITLE               closes the top-level window of that title
//   vfwhost mend-open REFFILE         opens REFFILE in a running Spoolmend
//   vfwhost shift-open AVI            opens AVI in a running Spoolshift, detects
//                                     its reference files and selects them
//   vfwhost avi-record8 FOURCC N AVI  records N palette pictures into AVI
//   vfwhost pictures8 N FILE          writes them as 24-bit rows from the top
//                                     through its open dialog and scans it
//
// Every frame's output is printed with its size and, for a reference record,
// the file it names.
//
// Exit code 0 when the check holds, 1 when it does not, 2 on bad usage.
#include "platform/win.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tests/wine/testpicture.h"

#include <set>
#include <string>
#include <vector>

namespace {

// Prints one stored frame: its size and, for a record, where it points.
bool Describe(int n, const BYTE *pData, DWORD cb, std::set<std::string> *pFiles)
{
    if (cb >= 276 && memcmp(pData, "Spoolcap", 8) == 0) {
        DWORD dwOffset, dwSizeFlags;
        memcpy(&dwOffset, pData + 8, 4);
        memcpy(&dwSizeFlags, pData + 12, 4);
        std::string name(reinterpret_cast<const char *>(pData + 16), strnlen(reinterpret_cast<const char *>(pData + 16), 259));
        printf("frame %3d: %lu-byte record -> %s @ %lu, %lu bytes%s%s\n", n, (unsigned long)cb, name.c_str(),
               (unsigned long)dwOffset, (unsigned long)(dwSizeFlags & 0x3FFFFFFF),
               (dwSizeFlags & 0x40000000) ? ", second series" : "", (dwSizeFlags & 0x80000000) ? ", raw" : "");
        if (pFiles) pFiles->insert(name);
        return cb == 276;
    }
    printf("frame %3d: %lu bytes of codec data\n", n, (unsigned long)cb);
    return false;
}

// Pictures per second and megabytes of pictures per second.
void PrintThroughput(const char *pszWhat, int nFrames, DWORD dwMs)
{
    double dSeconds = (dwMs ? dwMs : 1) / 1000.0;
    double dBytes = (double)nFrames * PictureFormat().biSizeImage;
    printf("%s %d frames in %lu ms: %.1f frames/s, %.1f MB/s of pictures\n", pszWhat, nFrames, (unsigned long)dwMs,
           nFrames / dSeconds, dBytes / dSeconds / 1e6);
}

std::string FramePath(const char *pszDir, int n)
{
    char sz[MAX_PATH];
    snprintf(sz, sizeof(sz), "%s\\%03d.bin", pszDir, n);
    return sz;
}

typedef LRESULT(WINAPI *DRIVERPROCFN)(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);

DWORD FourccFromText(const char *psz)
{
    char sz[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; i < 4 && psz[i]; i++) sz[i] = psz[i];
    return mmioFOURCC(sz[0], sz[1], sz[2], sz[3]);
}

std::string FourccText(DWORD fcc)
{
    std::string text;
    for (int i = 0; i < 4; i++) {
        char c = (char)((fcc >> (8 * i)) & 0xFF);
        text += c ? c : ' ';
    }
    return text;
}

std::string Narrow(const WCHAR *pwsz)
{
    char sz[512];
    if (!WideCharToMultiByte(CP_ACP, 0, pwsz, -1, sz, sizeof(sz), NULL, NULL)) return std::string();
    return sz;
}

int List()
{
    ICINFO listed;
    for (DWORD i = 0; ICInfo(ICTYPE_VIDEO, i, &listed); i++) {
        HIC hic = ICOpen(ICTYPE_VIDEO, listed.fccHandler, ICMODE_QUERY);
        ICINFO info;
        memset(&info, 0, sizeof(info));
        std::string description = "can't open";
        std::string driver = Narrow(listed.szDriver);
        if (hic) {
            if (ICGetInfo(hic, &info, sizeof(info))) {
                description = Narrow(info.szDescription);
                driver = Narrow(info.szDriver);
            } else {
                description = "?";
            }
            ICClose(hic);
        }
        printf("%-4s  %-24s  %s\n", FourccText(listed.fccHandler).c_str(), driver.c_str(), description.c_str());
    }
    return 0;
}

int Info(const char *pszFourcc, const char *pszOrgLibrary)
{
    HIC hic = ICOpen(ICTYPE_VIDEO, FourccFromText(pszFourcc), ICMODE_QUERY);
    if (!hic) {
        printf("ICOpen of %s failed\n", pszFourcc);
        return 1;
    }
    ICINFO viaHost, direct;
    memset(&viaHost, 0xEE, sizeof(viaHost));
    memset(&direct, 0xEE, sizeof(direct));
    LRESULT lHost = ICSendMessage(hic, ICM_GETINFO, (DWORD_PTR)&viaHost, sizeof(viaHost));
    ICINFO full;
    memset(&full, 0, sizeof(full));
    LRESULT lGetInfo = ICGetInfo(hic, &full, sizeof(full));
    ICClose(hic);

    HMODULE hOrg = LoadLibraryA(pszOrgLibrary);
    if (!hOrg) {
        printf("LoadLibrary of %s failed\n", pszOrgLibrary);
        return 1;
    }
    DRIVERPROCFN pfnOrg = ProcAs<DRIVERPROCFN>(GetProcAddress(hOrg, "DriverProc"));
    LRESULT lDirect = pfnOrg ? pfnOrg(1, NULL, ICM_GETINFO, (LPARAM)&direct, sizeof(direct)) : 0;
    bool fSame = lHost == lDirect && memcmp(&viaHost, &direct, sizeof(ICINFO)) == 0;
    printf("ICM_GETINFO through msvfw32: %ld, wrapped codec: %ld, answers %s\n", (long)lHost, (long)lDirect,
           fSame ? "identical" : "DIFFERENT");
    printf("ICGetInfo: %ld, %s \"%s\" driver \"%s\"\n", (long)lGetInfo, FourccText(full.fccHandler).c_str(),
           Narrow(full.szDescription).c_str(), Narrow(full.szDriver).c_str());
    return fSame && lGetInfo == lDirect ? 0 : 1;
}

int Begin(const char *pszLibrary)
{
    HMODULE h = LoadLibraryA(pszLibrary);
    if (!h) {
        printf("LoadLibrary of %s failed (%lu)\n", pszLibrary, (unsigned long)GetLastError());
        return 1;
    }
    DRIVERPROCFN pfn = ProcAs<DRIVERPROCFN>(GetProcAddress(h, "DriverProc"));
    if (!pfn) return 1;
    LRESULT lResult = pfn(0x7777, NULL, ICM_COMPRESS_BEGIN, 0, 0);
    printf("%ld\n", (long)lResult);
    FreeLibrary(h);
    return 0;
}

int IcRecord(const char *pszFourcc, int nFrames, const char *pszDir)
{
    HIC hic = ICOpen(ICTYPE_VIDEO, FourccFromText(pszFourcc), ICMODE_COMPRESS);
    if (!hic) {
        printf("ICOpen failed\n");
        return 1;
    }
    BITMAPINFOHEADER bihIn = PictureFormat();
    BITMAPINFOHEADER bihOut;
    if (ICCompressGetFormat(hic, &bihIn, &bihOut) != ICERR_OK) return 1;
    DWORD cbMax = ICCompressGetSize(hic, &bihIn, &bihOut);
    std::vector<BYTE> output(cbMax);
    if (ICCompressBegin(hic, &bihIn, &bihOut) != ICERR_OK) return 1;
    DWORD dwStart = GetTickCount();
    int nRecords = 0;
    std::set<std::string> files;
    for (int n = 0; n < nFrames; n++) {
        std::vector<BYTE> bits = Picture(n);
        DWORD dwCkid = 0, dwFlags = 0;
        bihOut.biSizeImage = cbMax;
        DWORD dwResult = ICCompress(hic, ICCOMPRESS_KEYFRAME, &bihOut, output.data(), &bihIn, bits.data(), &dwCkid,
                                    &dwFlags, n, 0, 10000, NULL, NULL);
        if (dwResult != ICERR_OK) {
            printf("frame %d: ICCompress failed (%ld)\n", n, (long)(LONG)dwResult);
            return 1;
        }
        if (Describe(n, output.data(), bihOut.biSizeImage, &files)) nRecords++;
        FILE *pFile = fopen(FramePath(pszDir, n).c_str(), "wb");
        if (!pFile) return 1;
        fwrite(output.data(), 1, bihOut.biSizeImage, pFile);
        fclose(pFile);
    }
    ICCompressEnd(hic);
    ICClose(hic);
    PrintThroughput("recorded", nFrames, GetTickCount() - dwStart);
    printf("%d frames, %d reference records, %u reference files\n", nFrames, nRecords, (unsigned)files.size());
    return nRecords == nFrames ? 0 : 1;
}

int IcPlay(const char *pszFourcc, int nFrames, const char *pszDir)
{
    HIC hic = ICOpen(ICTYPE_VIDEO, FourccFromText(pszFourcc), ICMODE_DECOMPRESS);
    if (!hic) return 1;
    BITMAPINFOHEADER bihOut = PictureFormat();
    BITMAPINFOHEADER bihIn = bihOut;
    bihIn.biCompression = FourccFromText(pszFourcc);
    ICDecompressBegin(hic, &bihIn, &bihOut);
    DWORD dwStart = GetTickCount();
    int nSame = 0;
    for (int n = 0; n < nFrames; n++) {
        FILE *pFile = fopen(FramePath(pszDir, n).c_str(), "rb");
        if (!pFile) return 1;
        std::vector<BYTE> data(1 << 20);
        size_t cb = fread(data.data(), 1, data.size(), pFile);
        fclose(pFile);
        data.resize(cb);
        std::vector<BYTE> out(bihOut.biSizeImage);
        bihIn.biSizeImage = (DWORD)cb;
        DWORD dwResult = ICDecompress(hic, 0, &bihIn, data.data(), &bihOut, out.data());
        if (dwResult == ICERR_OK && out == Picture(n)) nSame++;
        else printf("frame %d: ICDecompress %ld, picture %s\n", n, (long)(LONG)dwResult, out == Picture(n) ? "same" : "DIFFERENT");
    }
    ICDecompressEnd(hic);
    ICClose(hic);
    PrintThroughput("played", nFrames, GetTickCount() - dwStart);
    printf("ICDecompress: %d of %d frames identical to the originals\n", nSame, nFrames);
    return nSame == nFrames ? 0 : 1;
}

// Records pictures of the given format through a codec into an AVI with
// avifil32's compressed stream; with fSound, a stream of sound beside it
// (8 kHz, 16-bit mono, a frame's worth after each frame).
int RecordAvi(const char *pszFourcc, int nFrames, const char *pszAvi, const void *pFormat, LONG cbFormat,
              std::vector<BYTE> (*pfnPicture)(int), const char *pszWhat, bool fSound = false)
{
    AVIFileInit();
    PAVIFILE pFile = NULL;
    DeleteFileA(pszAvi);
    if (AVIFileOpenA(&pFile, pszAvi, OF_CREATE | OF_WRITE, NULL) != 0) {
        printf("AVIFileOpen failed\n");
        return 1;
    }
    AVISTREAMINFOA info;
    memset(&info, 0, sizeof(info));
    info.fccType = streamtypeVIDEO;
    info.fccHandler = FourccFromText(pszFourcc);
    info.dwScale = 1;
    info.dwRate = 15;
    info.dwSuggestedBufferSize = 0;
    SetRect(&info.rcFrame, 0, 0, PICTURE_WIDTH, PICTURE_HEIGHT);
    PAVISTREAM pStream = NULL;
    if (AVIFileCreateStreamA(pFile, &pStream, &info) != 0) return 1;
    AVICOMPRESSOPTIONS options;
    memset(&options, 0, sizeof(options));
    options.fccType = streamtypeVIDEO;
    options.fccHandler = info.fccHandler;
    options.dwKeyFrameEvery = 1;
    options.dwQuality = 10000;
    options.dwFlags = AVICOMPRESSF_VALID | AVICOMPRESSF_KEYFRAMES;
    PAVISTREAM pCompressed = NULL;
    HRESULT hr = AVIMakeCompressedStream(&pCompressed, pStream, &options, NULL);
    if (hr != 0) {
        printf("AVIMakeCompressedStream failed (%08lx)\n", (unsigned long)hr);
        return 1;
    }
    if (AVIStreamSetFormat(pCompressed, 0, const_cast<void *>(pFormat), cbFormat) != 0) {
        printf("AVIStreamSetFormat failed\n");
        return 1;
    }
    PAVISTREAM pSound = NULL;
    const LONG nSamples = 8000 / 15;
    if (fSound) {
        WAVEFORMATEX wave;
        memset(&wave, 0, sizeof(wave));
        wave.wFormatTag = WAVE_FORMAT_PCM;
        wave.nChannels = 1;
        wave.nSamplesPerSec = 8000;
        wave.wBitsPerSample = 16;
        wave.nBlockAlign = 2;
        wave.nAvgBytesPerSec = 16000;
        AVISTREAMINFOA sound;
        memset(&sound, 0, sizeof(sound));
        sound.fccType = streamtypeAUDIO;
        sound.dwScale = 1;
        sound.dwRate = 8000;
        sound.dwSampleSize = 2;
        if (AVIFileCreateStreamA(pFile, &pSound, &sound) != 0 || AVIStreamSetFormat(pSound, 0, &wave, sizeof(wave)) != 0) {
            printf("the sound stream cannot be made\n");
            return 1;
        }
    }
    for (int n = 0; n < nFrames; n++) {
        std::vector<BYTE> bits = pfnPicture(n);
        if (AVIStreamWrite(pCompressed, n, 1, bits.data(), (LONG)bits.size(), AVIIF_KEYFRAME, NULL, NULL) != 0) {
            printf("AVIStreamWrite of frame %d failed\n", n);
            return 1;
        }
        if (pSound) {
            std::vector<SHORT> samples((size_t)nSamples);
            for (LONG k = 0; k < nSamples; k++) samples[(size_t)k] = (SHORT)((n * nSamples + k) * 37 % 20000 - 10000);
            if (AVIStreamWrite(pSound, AVIStreamLength(pSound), nSamples, samples.data(), nSamples * 2, AVIIF_KEYFRAME, NULL,
                               NULL) != 0) {
                printf("AVIStreamWrite of sound %d failed\n", n);
                return 1;
            }
        }
    }
    if (pSound) AVIStreamRelease(pSound);
    AVIStreamRelease(pCompressed);
    AVIStreamRelease(pStream);
    AVIFileRelease(pFile);
    AVIFileExit();
    printf("%d %s written to %s\n", nFrames, pszWhat, pszAvi);
    return 0;
}

int AviRecord(const char *pszFourcc, int nFrames, const char *pszAvi, bool fSound = false)
{
    BITMAPINFOHEADER bih = PictureFormat();
    return RecordAvi(pszFourcc, nFrames, pszAvi, &bih, sizeof(bih), Picture, fSound ? "frames and sound" : "frames", fSound);
}

// Records palette pictures, as AviRecord records the others.
int AviRecordPalette(const char *pszFourcc, int nFrames, const char *pszAvi)
{
    PALETTEFORMAT format = PaletteFormat();
    return RecordAvi(pszFourcc, nFrames, pszAvi, &format, sizeof(format), PalettePicture, "palette frames");
}

// Writes the palette pictures as 24-bit rows from the top, as a decoder
// gives them.
int PalettePictures(int nFrames, const char *pszFile)
{
    FILE *pFile = fopen(pszFile, "wb");
    if (!pFile) return 1;
    PALETTEFORMAT format = PaletteFormat();
    DWORD cbStride = format.bih.biSizeImage / PICTURE_HEIGHT;
    for (int n = 0; n < nFrames; n++) {
        std::vector<BYTE> bits = PalettePicture(n);
        for (LONG y = PICTURE_HEIGHT - 1; y >= 0; y--)
            for (LONG x = 0; x < PICTURE_WIDTH; x++) {
                const RGBQUAD &c = format.aColors[bits[(DWORD)y * cbStride + (DWORD)x]];
                BYTE ab[3] = {c.rgbBlue, c.rgbGreen, c.rgbRed};
                fwrite(ab, 1, 3, pFile);
            }
    }
    return fclose(pFile) == 0 ? 0 : 1;
}

int AviPlay(int nFrames, const char *pszAvi, int nFirst, int nStep)
{
    AVIFileInit();
    PAVISTREAM pStream = NULL;
    if (AVIStreamOpenFromFileA(&pStream, pszAvi, streamtypeVIDEO, 0, OF_READ, NULL) != 0) {
        printf("AVIStreamOpenFromFile failed\n");
        return 1;
    }
    LONG nLength = AVIStreamLength(pStream);
    int nRecords = 0;
    std::set<std::string> files;
    std::vector<BYTE> chunk(1 << 20);
    for (LONG n = 0; n < nLength; n++) {
        LONG cb = 0;
        if (AVIStreamRead(pStream, n, 1, chunk.data(), (LONG)chunk.size(), &cb, NULL) != 0) return 1;
        if (Describe(n, chunk.data(), (DWORD)cb, &files)) nRecords++;
    }
    printf("%ld chunks, %d reference records, %u reference files\n", (long)nLength, nRecords, (unsigned)files.size());

    // Through the stream library's frame decoder.
    BITMAPINFOHEADER bihWanted = PictureFormat();
    PGETFRAME pGetFrame = AVIStreamGetFrameOpen(pStream, &bihWanted);
    int nSameGetFrame = 0;
    if (!pGetFrame) {
        printf("AVIStreamGetFrameOpen failed\n");
    } else {
        for (LONG n = 0; n < nLength; n++) {
            BYTE *pPacked = static_cast<BYTE *>(AVIStreamGetFrame(pGetFrame, n));
            if (!pPacked) continue;
            const BITMAPINFOHEADER *pbi = reinterpret_cast<const BITMAPINFOHEADER *>(pPacked);
            std::vector<BYTE> picture = Picture(nFirst + nStep * (int)n);
            if (pbi->biBitCount == 24 && memcmp(pPacked + pbi->biSize, picture.data(), picture.size()) == 0) nSameGetFrame++;
        }
        AVIStreamGetFrameClose(pGetFrame);
    }
    printf("AVIStreamGetFrame: %d of %ld frames identical to the originals\n", nSameGetFrame, (long)nLength);

    // Through the codec directly, with the stream's format.
    LONG cbFormat = 0;
    AVIStreamReadFormat(pStream, 0, NULL, &cbFormat);
    std::vector<BYTE> format(cbFormat > (LONG)sizeof(BITMAPINFOHEADER) ? cbFormat : sizeof(BITMAPINFOHEADER));
    AVIStreamReadFormat(pStream, 0, format.data(), &cbFormat);
    BITMAPINFOHEADER bihIn;
    memcpy(&bihIn, format.data(), sizeof(bihIn));
    AVISTREAMINFOA info;
    AVIStreamInfoA(pStream, &info, sizeof(info));
    HIC hic = ICOpen(ICTYPE_VIDEO, info.fccHandler, ICMODE_DECOMPRESS);
    int nSameIc = 0;
    if (hic) {
        BITMAPINFOHEADER bihOut = PictureFormat();
        ICDecompressBegin(hic, &bihIn, &bihOut);
        for (LONG n = 0; n < nLength; n++) {
            LONG cb = 0;
            AVIStreamRead(pStream, n, 1, chunk.data(), (LONG)chunk.size(), &cb, NULL);
            std::vector<BYTE> out(bihOut.biSizeImage);
            bihIn.biSizeImage = (DWORD)cb;
            if (ICDecompress(hic, 0, &bihIn, chunk.data(), &bihOut, out.data()) == ICERR_OK && out == Picture(nFirst + nStep * (int)n))
                nSameIc++;
        }
        ICDecompressEnd(hic);
        ICClose(hic);
    }
    printf("ICDecompress: %d of %ld frames identical to the originals\n", nSameIc, (long)nLength);
    AVIStreamRelease(pStream);
    AVIFileExit();
    bool fOk = nLength == nFrames && nRecords == nFrames && nSameGetFrame == nFrames && nSameIc == nFrames;
    return fOk ? 0 : 1;
}

DWORD g_dwMainThread;
DWORD g_dwCloseAfterMs;

BOOL CALLBACK CloseDialogsOfThread(HWND hwnd, LPARAM)
{
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    return TRUE;
}

DWORD WINAPI CloseLater(LPVOID)
{
    Sleep(g_dwCloseAfterMs);
    EnumThreadWindows(g_dwMainThread, CloseDialogsOfThread, 0);
    return 0;
}

int Configure(const char *pszFourcc, int nSeconds)
{
    HIC hic = ICOpen(ICTYPE_VIDEO, FourccFromText(pszFourcc), ICMODE_QUERY);
    if (!hic) return 1;
    if (!ICQueryConfigure(hic)) {
        printf("the codec has no settings dialog\n");
        return 1;
    }
    if (nSeconds > 0) {
        g_dwMainThread = GetCurrentThreadId();
        g_dwCloseAfterMs = (DWORD)nSeconds * 1000;
        CloseHandle(CreateThread(NULL, 0, CloseLater, NULL, 0, NULL));
    }
    LRESULT lResult = ICConfigure(hic, NULL);
    ICClose(hic);
    printf("ICConfigure: %ld\n", (long)lResult);
    return lResult == ICERR_OK ? 0 : 1;
}

// The top-level window of a title, waited for up to ten seconds; NULL (said
// on the output) when it does not come.
HWND WaitForWindow(const char *pszTitle)
{
    HWND hwnd = NULL;
    for (int i = 0; i < 200 && !hwnd; i++) {
        hwnd = FindWindowA(NULL, pszTitle);
        if (!hwnd) Sleep(50);
    }
    if (!hwnd) printf("no window \"%s\"\n", pszTitle);
    return hwnd;
}

int VfwprobeGet(const char *pszModes)
{
    HWND hwnd = WaitForWindow("Vfwprobe 1.04");
    if (!hwnd) return 1;
    const int aBoxes[3] = {1002, 1003, 1004};
    const char *pszLetters = "qcd";
    for (int i = 0; i < 3; i++)
        SendDlgItemMessageA(hwnd, aBoxes[i], BM_SETCHECK, strchr(pszModes, pszLetters[i]) ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(1001, BN_CLICKED), 0);
    return 0;
}

// Opens a reference file in a running Spoolmend through its open dialog,
// as a user would type the name, then scans the whole file.
int MendOpen(const char *pszFile)
{
    HWND hwnd = WaitForWindow("Spoolmend 1.04");
    if (!hwnd) return 1;
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(20002, BN_CLICKED), 0);
    HWND hOpen = WaitForWindow("参照ファイル名入力");
    if (!hOpen) return 1;
    // The file name field: a combo box in the Explorer-style dialog, an edit
    // field in the old one.
    if (!SetDlgItemTextA(hOpen, 0x47C, pszFile)) SetDlgItemTextA(hOpen, 0x480, pszFile);
    PostMessageA(hOpen, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int i = 0; i < 200 && IsWindow(hOpen); i++) Sleep(50);
    Sleep(500);
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(20007, BN_CLICKED), 0);
    return 0;
}

// Opens an AVI in a running Spoolshift through its open dialog, detects its
// reference files and selects them all.
int ShiftOpen(const char *pszAvi)
{
    HWND hwnd = WaitForWindow("Spoolshift 1.04");
    if (!hwnd) return 1;
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED), 0);
    HWND hOpen = WaitForWindow("AVIファイル名入力");
    if (!hOpen) return 1;
    if (!SetDlgItemTextA(hOpen, 0x47C, pszAvi)) SetDlgItemTextA(hOpen, 0x480, pszAvi);
    PostMessageA(hOpen, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int i = 0; i < 200 && IsWindow(hOpen); i++) Sleep(50);
    Sleep(500);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(1010, BN_CLICKED), 0);
    HWND hList = GetDlgItem(hwnd, 1002);
    SendMessageA(hList, LB_SETSEL, TRUE, -1);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(1002, LBN_SELCHANGE), (LPARAM)hList);
    int n = (int)SendMessageA(hList, LB_GETCOUNT, 0, 0);
    char szSize[32] = "";
    GetDlgItemTextA(hwnd, 1012, szSize, sizeof(szSize));
    printf("Spoolshift detected %d reference file(s), %s bytes selected:\n", n, szSize);
    for (int i = 0; i < n; i++) {
        // Another process's list: its items come across in UTF-16.
        WCHAR wsz[MAX_PATH] = L"";
        char sz[2 * MAX_PATH] = "";
        if (SendMessageW(hList, LB_GETTEXTLEN, (WPARAM)i, 0) < MAX_PATH) SendMessageW(hList, LB_GETTEXT, (WPARAM)i, (LPARAM)wsz);
        WideCharToMultiByte(CP_ACP, 0, wsz, -1, sz, sizeof(sz), NULL, NULL);
        printf("  %s\n", sz);
    }
    return n > 0 ? 0 : 1;
}

int CloseWindowTitled(const char *pszTitle)
{
    HWND hwnd = FindWindowA(NULL, pszTitle);
    if (!hwnd) return 1;
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "list") == 0) return List();
    if (argc >= 4 && strcmp(argv[1], "info") == 0) return Info(argv[2], argv[3]);
    if (argc >= 3 && strcmp(argv[1], "begin") == 0) return Begin(argv[2]);
    if (argc >= 5 && strcmp(argv[1], "ic-record") == 0) return IcRecord(argv[2], atoi(argv[3]), argv[4]);
    if (argc >= 5 && strcmp(argv[1], "ic-play") == 0) return IcPlay(argv[2], atoi(argv[3]), argv[4]);
    if (argc >= 5 && strcmp(argv[1], "avi-record") == 0) return AviRecord(argv[2], atoi(argv[3]), argv[4]);
    if (argc >= 5 && strcmp(argv[1], "avi-record-sound") == 0) return AviRecord(argv[2], atoi(argv[3]), argv[4], true);
    if (argc >= 6 && strcmp(argv[1], "avi-play") == 0) return AviPlay(atoi(argv[2]), argv[3], atoi(argv[4]), atoi(argv[5]));
    if (argc >= 4 && strcmp(argv[1], "avi-play") == 0) return AviPlay(atoi(argv[2]), argv[3], 0, 1);
    if (argc >= 4 && strcmp(argv[1], "configure") == 0) return Configure(argv[2], atoi(argv[3]));
    if (argc >= 3 && strcmp(argv[1], "vfwprobe-get") == 0) return VfwprobeGet(argv[2]);
    if (argc >= 3 && strcmp(argv[1], "close") == 0) return CloseWindowTitled(argv[2]);
    if (argc >= 3 && strcmp(argv[1], "mend-open") == 0) return MendOpen(argv[2]);
    if (argc >= 3 && strcmp(argv[1], "shift-open") == 0) return ShiftOpen(argv[2]);
    if (argc >= 5 && strcmp(argv[1], "avi-record8") == 0) return AviRecordPalette(argv[2], atoi(argv[3]), argv[4]);
    if (argc >= 4 && strcmp(argv[1], "pictures8") == 0) return PalettePictures(atoi(argv[2]), argv[3]);
    fprintf(stderr, "usage: vfwhost list | info FOURCC ORGLIBRARY | begin LIBRARY | ic-record FOURCC N DIR |\n"
                    "               ic-play FOURCC N DIR | avi-record FOURCC N AVI | avi-play N AVI |\n"
                    "               configure FOURCC SECONDS | vfwprobe-get MODES | close TITLE |\n"
                    "               mend-open REFFILE | shift-open AVI | avi-record8 FOURCC N AVI |\n"
                    "               pictures8 N FILE\n");
    return 2;
}
