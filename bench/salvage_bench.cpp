// Benchmarks of Spoolmend's engine on a reference file of 100,000 frames,
// each against a plain loop over the same bytes in the same run:
//
//   scan/spoolmend    ScanRefFile: the first frame, then the rest
//   scan/plain        a read of each 16-byte header and a seek past its
//                     frame (baseline)
//   write/spoolmend   WriteSalvageAvi of the 100,000 frames
//   write/plain       buffered writes of the same AVI's bytes, a chunk of a
//                     frame at a time, then flushed to the disk (baseline)
#include "bench/ratio.h"
#include "codec/refformat.h"
#include "salvage/salvage.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const DWORD FRAME_COUNT = 100000;
std::string g_dir, g_ref, g_avi, g_plain;
std::vector<BYTE> g_aviBytes;

int Quiet(LPCSTR, LPCSTR, UINT) { return IDOK; }

void MakeFile()
{
    std::vector<BYTE> file;
    for (DWORD i = 0; i < FRAME_COUNT; i++) {
        DWORD cbData = 20 + i % 40;
        REFFRAMEHEADER header;
        FillFrameHeader(&header, cbData, ComputePadding(cbData, 0), 8, 8);
        const BYTE *p = reinterpret_cast<const BYTE *>(&header);
        file.insert(file.end(), p, p + sizeof(header));
        file.insert(file.end(), header.dwDataSize + header.dwPadSize, (BYTE)i);
    }
    g_ref = g_dir + "/clip.000";
    FILE *pFile = fopen(g_ref.c_str(), "wb");
    fwrite(file.data(), 1, file.size(), pFile);
    fclose(pFile);
}

BOOL ScanWhole()
{
    snprintf(g_szRefFile, sizeof(g_szRefFile), "%s", g_ref.c_str());
    return ScanRefFile(g_szRefFile, FALSE) && ScanRefFile(g_szRefFile, TRUE) && g_nRefFrames == FRAME_COUNT;
}

void BM_ScanSpoolmend(benchmark::State &state)
{
    for (auto _ : state) {
        if (!ScanWhole()) {
            state.SkipWithError("scan failed");
            break;
        }
    }
}

void BM_ScanPlain(benchmark::State &state)
{
    for (auto _ : state) {
        HANDLE h = CreateFileA(g_ref.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, NULL);
        DWORD n = 0;
        REFFRAMEHEADER header;
        DWORD cb = 0;
        while (ReadFile(h, &header, sizeof(header), &cb, NULL) && cb == sizeof(header)) {
            SetFilePointer(h, (LONG)(header.dwDataSize + header.dwPadSize), NULL, FILE_CURRENT);
            n++;
        }
        CloseHandle(h);
        if (n != FRAME_COUNT) state.SkipWithError("plain scan miscounted");
    }
}

void PrepareWrite()
{
    ScanWhole();
    g_fccHandler = mmioFOURCC('B', 'E', 'N', 'C');
    g_pbiCompressed = (LPBITMAPINFOHEADER)calloc(1, sizeof(BITMAPINFOHEADER));
    g_pbiCompressed->biSize = sizeof(BITMAPINFOHEADER);
    g_cbCompressed = sizeof(BITMAPINFOHEADER);
}

void BM_WriteSpoolmend(benchmark::State &state)
{
    PrepareWrite();
    for (auto _ : state) {
        if (!WriteSalvageAvi(g_avi.c_str())) {
            state.SkipWithError("write failed");
            break;
        }
    }
}

void BM_WritePlain(benchmark::State &state)
{
    if (g_aviBytes.empty()) {
        PrepareWrite();
        WriteSalvageAvi(g_avi.c_str());
        FILE *pFile = fopen(g_avi.c_str(), "rb");
        fseek(pFile, 0, SEEK_END);
        g_aviBytes.resize((size_t)ftell(pFile));
        fseek(pFile, 0, SEEK_SET);
        if (fread(g_aviBytes.data(), 1, g_aviBytes.size(), pFile) != g_aviBytes.size()) g_aviBytes.clear();
        fclose(pFile);
    }
    for (auto _ : state) {
        FILE *pFile = fopen(g_plain.c_str(), "wb");
        for (size_t at = 0; at < g_aviBytes.size(); at += 284) {
            size_t cb = g_aviBytes.size() - at < 284 ? g_aviBytes.size() - at : 284;
            fwrite(&g_aviBytes[at], 1, cb, pFile);
        }
        // On the disk, as a salvaged AVI is before it takes its name.
        fflush(pFile);
        fsync(fileno(pFile));
        fclose(pFile);
    }
}

BENCHMARK(BM_ScanSpoolmend)->Name("scan/spoolmend")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanPlain)->Name("scan/plain")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteSpoolmend)->Name("write/spoolmend")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePlain)->Name("write/plain")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    char szTemplate[] = "/tmp/spoolmendXXXXXX";
    const char *pszDir = getenv("SPOOL_BENCH_DIR");
    g_dir = pszDir && pszDir[0] ? pszDir : (mkdtemp(szTemplate) ? szTemplate : "/tmp");
    g_avi = g_dir + "/salvaged.avi";
    g_plain = g_dir + "/plain.avi";
    MakeFile();
    g_pfnShowMendMessage = Quiet;
    ParseFrameRate("25");
    ApplyPictureSize(8, 8);
    std::vector<char *> args = DefaultBenchmarkArgs(argc, argv);
    int nArgs = (int)args.size();
    benchmark::Initialize(&nArgs, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    {
        char sz[64];
        snprintf(sz, sizeof(sz), "%lu frames", (unsigned long)FRAME_COUNT);
        PrintRatioHeading(sz);
    }
    PrintRatio(reporter, "scanning the reference file against reading its headers", "scan/spoolmend",
               "scan/plain");
    PrintRatio(reporter, "writing the salvaged AVI against writing its bytes", "write/spoolmend", "write/plain");
    ScanRefFile(NULL, FALSE);
    FreeSalvageBuffers();
    unlink(g_ref.c_str());
    unlink(g_avi.c_str());
    unlink(g_plain.c_str());
    return 0;
}
