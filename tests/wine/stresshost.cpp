// A host program that puts Spoolcap under load through the real msvfw32, for
// the Wine integration tests:
//
//   stresshost cycle FOURCC N DRIVER   opens the codec, records three frames
//                                      with ICCompress, plays them back and
//                                      closes it, N times; the process's
//                                      handle count must not grow and the
//                                      driver must be unloaded each time
//   stresshost preview FOURCC N HICS   compresses N frames of 64x48 and
//                                      decompresses each one at once, as a
//                                      capture program's preview does,
//                                      through the same codec instance
//                                      (HICS 1) or a second one (HICS 2)
//   stresshost threads FOURCC T RUNS   T threads, each with an instance of
//                                      its own, start a new recording every
//                                      two frames, RUNS times; every
//                                      reference file must belong to one
//                                      recording and every frame play back
//   stresshost fill FOURCC N           records N frames, going on after
//                                      failures (a disk that fills up), then
//                                      plays back every frame whose record
//                                      the host received
//
// Exit code 0 when the check holds, 1 when it does not, 2 on bad usage.
#include "platform/win.h"

#include "tests/wine/testpicture.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

namespace {

DWORD FourccFromText(const char *psz)
{
    char sz[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; i < 4 && psz[i]; i++) sz[i] = psz[i];
    return mmioFOURCC(sz[0], sz[1], sz[2], sz[3]);
}

BITMAPINFOHEADER SmallFormat()
{
    return MakeDibHeader(64, 48, 24, BI_RGB, DibStride(64, 24) * 48);
}

// Picture n of the small format: content and compressed size vary with n.
std::vector<BYTE> SmallPicture(int n)
{
    BITMAPINFOHEADER bih = SmallFormat();
    std::vector<BYTE> bits(bih.biSizeImage);
    unsigned nRandom = 777u + 31u * (unsigned)n;
    for (size_t i = 0; i < bits.size(); i++) {
        nRandom = nRandom * 1103515245u + 12345u;
        bits[i] = (i / 192) % 7 < (size_t)(n % 5) ? (BYTE)(nRandom >> 16) : (BYTE)(n + i / 64);
    }
    return bits;
}

std::string RecordFile(const std::vector<BYTE> &frame)
{
    if (frame.size() < 276 || memcmp(frame.data(), "Spoolcap", 8) != 0) return std::string();
    return std::string(reinterpret_cast<const char *>(frame.data() + 16), strnlen(reinterpret_cast<const char *>(frame.data() + 16), 259));
}

// A codec instance opened for compression, with its formats and buffer.
struct SESSION {
    HIC hic;
    BITMAPINFOHEADER bihIn;
    BITMAPINFOHEADER bihOut;
    std::vector<BYTE> output;
};

bool OpenSession(DWORD fcc, const BITMAPINFOHEADER &bihIn, SESSION *pSession)
{
    pSession->hic = ICOpen(ICTYPE_VIDEO, fcc, ICMODE_COMPRESS);
    if (!pSession->hic) return false;
    pSession->bihIn = bihIn;
    if (ICCompressGetFormat(pSession->hic, &pSession->bihIn, &pSession->bihOut) != ICERR_OK) return false;
    DWORD cbMax = ICCompressGetSize(pSession->hic, &pSession->bihIn, &pSession->bihOut);
    pSession->output.assign(cbMax ? cbMax : 1, 0);
    return true;
}

// Compresses one picture; the stored frame, or an empty one on failure.
std::vector<BYTE> CompressOne(SESSION *pSession, const std::vector<BYTE> &bits, int n, LONG *plResult = NULL)
{
    DWORD dwCkid = 0, dwFlags = 0;
    pSession->bihOut.biSizeImage = (DWORD)pSession->output.size();
    DWORD dwResult = ICCompress(pSession->hic, ICCOMPRESS_KEYFRAME, &pSession->bihOut, pSession->output.data(),
                                &pSession->bihIn, const_cast<BYTE *>(bits.data()), &dwCkid, &dwFlags, n, 0, 10000,
                                NULL, NULL);
    if (plResult) *plResult = (LONG)dwResult;
    std::vector<BYTE> frame;
    if (dwResult == ICERR_OK && pSession->bihOut.biSizeImage <= pSession->output.size()) {
        frame.resize(pSession->bihOut.biSizeImage);
        memcpy(frame.data(), pSession->output.data(), frame.size());
    }
    return frame;
}

// Decompresses a stored frame through hic and compares it with the picture.
bool PlaysBack(HIC hic, DWORD fcc, const BITMAPINFOHEADER &bihPicture, const std::vector<BYTE> &frame,
               const std::vector<BYTE> &bits)
{
    BITMAPINFOHEADER bihIn = bihPicture;
    bihIn.biCompression = fcc;
    bihIn.biSizeImage = (DWORD)frame.size();
    BITMAPINFOHEADER bihOut = bihPicture;
    std::vector<BYTE> out(bihPicture.biSizeImage);
    std::vector<BYTE> data(frame);
    return ICDecompress(hic, 0, &bihIn, data.data(), &bihOut, out.data()) == ICERR_OK && out == bits;
}

// The process's open handles, found by asking about every handle value in
// turn (Wine answers GetProcessHandleCount with 0).
DWORD HandleCount()
{
    DWORD dwCount = 0;
    for (UINT_PTR uValue = 4; uValue < 0x40000; uValue += 4) {
        DWORD dwFlags;
        if (GetHandleInformation((HANDLE)uValue, &dwFlags)) dwCount++;
    }
    return dwCount;
}

int Cycle(DWORD fcc, int nCycles, const char *pszDriver)
{
    BITMAPINFOHEADER bih = SmallFormat();
    std::vector<std::vector<BYTE>> pictures;
    for (int i = 0; i < 3; i++) pictures.push_back(SmallPicture(i));
    DWORD dwBefore = 0;
    int nBad = 0;
    int nStillLoaded = 0;
    DWORD dwStart = GetTickCount();
    // The first cycles load what the platform keeps for the whole process.
    const int nWarmUp = 3;
    for (int nCycle = 0; nCycle < nWarmUp + nCycles; nCycle++) {
        if (nCycle == nWarmUp) dwBefore = HandleCount();
        SESSION session;
        if (!OpenSession(fcc, bih, &session)) {
            printf("cycle %d: ICOpen failed\n", nCycle);
            return 1;
        }
        ICCompressBegin(session.hic, &session.bihIn, &session.bihOut);
        std::vector<std::vector<BYTE>> frames;
        for (int i = 0; i < 3; i++) frames.push_back(CompressOne(&session, pictures[(size_t)i], i));
        ICCompressEnd(session.hic);
        BITMAPINFOHEADER bihIn = bih;
        bihIn.biCompression = fcc;
        ICDecompressBegin(session.hic, &bihIn, &bih);
        for (int i = 0; i < 3; i++)
            if (frames[(size_t)i].empty() || !PlaysBack(session.hic, fcc, bih, frames[(size_t)i], pictures[(size_t)i])) nBad++;
        ICDecompressEnd(session.hic);
        ICClose(session.hic);
        if (GetModuleHandleA(pszDriver)) nStillLoaded++;
        // A series holds a thousand files: this cycle's go.
        for (const std::vector<BYTE> &frame : frames)
            if (!RecordFile(frame).empty()) DeleteFileA(RecordFile(frame).c_str());
    }
    DWORD dwAfter = HandleCount();
    printf("%d cycles in %lu ms: %lu handles before, %lu after; %d bad frames; driver still loaded after %d closes\n",
           nCycles, (unsigned long)(GetTickCount() - dwStart), (unsigned long)dwBefore, (unsigned long)dwAfter, nBad,
           nStillLoaded);
    return nBad == 0 && dwAfter <= dwBefore && nStillLoaded == 0 ? 0 : 1;
}

int LoadFree(const char *pszLibrary, int nCycles)
{
    for (int i = 0; i < 3; i++) FreeLibrary(LoadLibraryA(pszLibrary));
    DWORD dwBefore = HandleCount();
    for (int i = 0; i < nCycles; i++) {
        HMODULE h = LoadLibraryA(pszLibrary);
        if (!h) return 1;
        FreeLibrary(h);
    }
    printf("%d loads of %s: %lu handles before, %lu after\n", nCycles, pszLibrary, (unsigned long)dwBefore,
           (unsigned long)HandleCount());
    return 0;
}

int Preview(DWORD fcc, int nFrames, int nHics)
{
    BITMAPINFOHEADER bih = SmallFormat();
    SESSION session;
    if (!OpenSession(fcc, bih, &session)) return 1;
    HIC hicPlay = nHics == 2 ? ICOpen(ICTYPE_VIDEO, fcc, ICMODE_DECOMPRESS) : session.hic;
    if (!hicPlay) return 1;
    BITMAPINFOHEADER bihIn = bih;
    bihIn.biCompression = fcc;
    ICCompressBegin(session.hic, &session.bihIn, &session.bihOut);
    ICDecompressBegin(hicPlay, &bihIn, &bih);
    std::vector<std::vector<BYTE>> pictures;
    for (int i = 0; i < 16; i++) pictures.push_back(SmallPicture(i));
    int nBad = 0, nRecords = 0;
    DWORD dwStart = GetTickCount();
    for (int n = 0; n < nFrames; n++) {
        const std::vector<BYTE> &bits = pictures[(size_t)n % pictures.size()];
        std::vector<BYTE> frame = CompressOne(&session, bits, n);
        if (!RecordFile(frame).empty()) nRecords++;
        if (frame.empty() || !PlaysBack(hicPlay, fcc, bih, frame, bits)) nBad++;
    }
    ICDecompressEnd(hicPlay);
    ICCompressEnd(session.hic);
    if (hicPlay != session.hic) ICClose(hicPlay);
    ICClose(session.hic);
    printf("%d frames compressed and played back at once through %d instance%s in %lu ms: %d records, %d bad\n",
           nFrames, nHics, nHics == 1 ? "" : "s", (unsigned long)(GetTickCount() - dwStart), nRecords, nBad);
    return nBad == 0 && nRecords == nFrames ? 0 : 1;
}

struct RECORDER {
    DWORD fcc;
    int nRuns;
    int iThread;
    std::vector<std::vector<BYTE>> frames;
    std::vector<std::vector<BYTE>> pictures;
    int nFailed;
};

DWORD WINAPI RecordRuns(LPVOID pArg)
{
    RECORDER *pRec = static_cast<RECORDER *>(pArg);
    BITMAPINFOHEADER bih = SmallFormat();
    SESSION session;
    if (!OpenSession(pRec->fcc, bih, &session)) {
        pRec->nFailed = 1;
        return 1;
    }
    for (int r = 0; r < pRec->nRuns; r++) {
        ICCompressBegin(session.hic, &session.bihIn, &session.bihOut);
        for (int i = 0; i < 2; i++) {
            std::vector<BYTE> bits = SmallPicture(pRec->iThread * 10000 + 2 * r + i);
            std::vector<BYTE> frame = CompressOne(&session, bits, i);
            if (frame.empty()) pRec->nFailed++;
            pRec->frames.push_back(frame);
            pRec->pictures.push_back(bits);
        }
        ICCompressEnd(session.hic);
    }
    ICClose(session.hic);
    return 0;
}

int Threads(DWORD fcc, int nThreads, int nRuns)
{
    std::vector<RECORDER> recorders((size_t)nThreads);
    std::vector<HANDLE> threads;
    for (int t = 0; t < nThreads; t++) {
        recorders[(size_t)t].fcc = fcc;
        recorders[(size_t)t].nRuns = nRuns;
        recorders[(size_t)t].iThread = t;
        recorders[(size_t)t].nFailed = 0;
        threads.push_back(CreateThread(NULL, 0, RecordRuns, &recorders[(size_t)t], 0, NULL));
    }
    for (HANDLE h : threads) {
        WaitForSingleObject(h, INFINITE);
        CloseHandle(h);
    }
    // Every file belongs to one recording of one thread; every frame plays back.
    BITMAPINFOHEADER bih = SmallFormat();
    HIC hic = ICOpen(ICTYPE_VIDEO, fcc, ICMODE_DECOMPRESS);
    if (!hic) return 1;
    std::map<std::string, int> owner;
    int nShared = 0, nBad = 0, nFailed = 0, nFrames = 0;
    for (int t = 0; t < nThreads; t++) {
        const RECORDER &rec = recorders[(size_t)t];
        nFailed += rec.nFailed;
        for (size_t i = 0; i < rec.frames.size(); i++) {
            nFrames++;
            std::string file = RecordFile(rec.frames[i]);
            int nRecording = t * 100000 + (int)i / 2;
            auto found = owner.emplace(file, nRecording);
            if (found.first->second != nRecording) nShared++;
            if (!PlaysBack(hic, fcc, bih, rec.frames[i], rec.pictures[i])) nBad++;
        }
    }
    ICClose(hic);
    printf("%d threads, %d recordings each: %d frames, %u reference files, %d frames in a file of another recording, "
           "%d failed, %d bad\n",
           nThreads, nRuns, nFrames, (unsigned)owner.size(), nShared, nFailed, nBad);
    return nShared == 0 && nBad == 0 && nFailed == 0 && owner.size() >= (size_t)(nThreads * nRuns) ? 0 : 1;
}

int Fill(DWORD fcc, int nFrames)
{
    BITMAPINFOHEADER bih = PictureFormat();
    SESSION session;
    if (!OpenSession(fcc, bih, &session)) return 1;
    ICCompressBegin(session.hic, &session.bihIn, &session.bihOut);
    std::vector<std::vector<BYTE>> frames;
    std::vector<int> numbers;
    int nFailed = 0;
    for (int n = 0; n < nFrames; n++) {
        LONG lResult;
        std::vector<BYTE> frame = CompressOne(&session, Picture(n), n, &lResult);
        if (frame.empty()) {
            nFailed++;
            continue;
        }
        frames.push_back(frame);
        numbers.push_back(n);
    }
    ICCompressEnd(session.hic);
    BITMAPINFOHEADER bihIn = bih;
    bihIn.biCompression = fcc;
    ICDecompressBegin(session.hic, &bihIn, &bih);
    int nLost = 0;
    for (size_t i = 0; i < frames.size(); i++)
        if (!PlaysBack(session.hic, fcc, bih, frames[i], Picture(numbers[i]))) nLost++;
    ICDecompressEnd(session.hic);
    ICClose(session.hic);
    printf("%d frames: %d records returned, %d frames refused, %d returned records whose frame is not on disk\n",
           nFrames, (int)frames.size(), nFailed, nLost);
    printf("lost %d\n", nLost);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc >= 5 && strcmp(argv[1], "cycle") == 0) return Cycle(FourccFromText(argv[2]), atoi(argv[3]), argv[4]);
    if (argc >= 5 && strcmp(argv[1], "preview") == 0) return Preview(FourccFromText(argv[2]), atoi(argv[3]), atoi(argv[4]));
    if (argc >= 5 && strcmp(argv[1], "threads") == 0) return Threads(FourccFromText(argv[2]), atoi(argv[3]), atoi(argv[4]));
    if (argc >= 4 && strcmp(argv[1], "load") == 0) return LoadFree(argv[2], atoi(argv[3]));
    if (argc >= 4 && strcmp(argv[1], "fill") == 0) return Fill(FourccFromText(argv[2]), atoi(argv[3]));
    fprintf(stderr, "usage: stresshost cycle FOURCC N DRIVER | preview FOURCC N HICS | threads FOURCC T RUNS |\n"
                    "                  fill FOURCC N\n");
    return 2;
}
