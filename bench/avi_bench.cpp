// Benchmarks of Spoolshift's AVI engine on an AVI of 100,000 frames, each
// against a plain read of the same bytes in the same run:
//
//   load/spoolshift   LoadAvi (frame table from the 100,000-entry index)
//   load/plain        one read of the index chunk's bytes (baseline)
//   decode/spoolshift DecodeFrame of 2,000 frames spread over the file
//   decode/plain      a seek and a read of each of those frames' data (baseline)
#include "bench/ratio.h"
#include "mover/avireader.h"
#include "mover/message.h"
#include "tests/avibuilder.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

const int FRAME_COUNT = 100000;
const int DECODED = 2000;
const LONG WIDTH = 8, HEIGHT = 8;  // 192 bytes a frame
std::string g_path;
DWORD g_dwIndexAt, g_cbIndex;

int Quiet(LPCSTR, LPCSTR, UINT) { return IDOK; }

void MakeFile(const std::string &dir)
{
    AVISPEC spec;
    spec.dwTotalFrames = spec.dwLength = FRAME_COUNT;
    spec.format = MakeFormat(WIDTH, HEIGHT, 24, BI_RGB);
    for (int i = 0; i < FRAME_COUNT; i++)
        spec.chunks.push_back(Frame("00db", std::vector<BYTE>(WIDTH * HEIGHT * 3, (BYTE)i)));
    std::vector<BYTE> bytes = BuildAvi(spec);
    g_path = dir + "/clip.avi";
    FILE *pFile = fopen(g_path.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), pFile);
    fclose(pFile);
    // The index is the last chunk: its data is the last 16 bytes per frame.
    g_cbIndex = FRAME_COUNT * 16;
    g_dwIndexAt = (DWORD)bytes.size() - g_cbIndex;
}

void BM_LoadSpoolshift(benchmark::State &state)
{
    static AviInfo info;
    snprintf(info.szAviFile, sizeof(info.szAviFile), "%s", g_path.c_str());
    for (auto _ : state) {
        if (!LoadAvi(&info, TRUE) || info.nFrames != FRAME_COUNT) {
            state.SkipWithError("load failed");
            break;
        }
        LoadAvi(&info, FALSE);
    }
}

void BM_LoadPlain(benchmark::State &state)
{
    std::vector<BYTE> index(g_cbIndex);
    for (auto _ : state) {
        HANDLE h = CreateFileA(g_path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        DWORD cb = 0;
        SetFilePointer(h, (LONG)g_dwIndexAt, NULL, FILE_BEGIN);
        ReadFile(h, index.data(), g_cbIndex, &cb, NULL);
        CloseHandle(h);
        benchmark::DoNotOptimize(index.data());
    }
}

void BM_DecodeSpoolshift(benchmark::State &state)
{
    static AviInfo info;
    snprintf(info.szAviFile, sizeof(info.szAviFile), "%s", g_path.c_str());
    LoadAvi(&info, TRUE);
    for (auto _ : state) {
        for (int i = 0; i < DECODED; i++) {
            if (!DecodeFrame(&info, (DWORD)(i * (FRAME_COUNT / DECODED)))) {
                state.SkipWithError("decode failed");
                break;
            }
        }
    }
    LoadAvi(&info, FALSE);
}

void BM_DecodePlain(benchmark::State &state)
{
    static AviInfo info;
    snprintf(info.szAviFile, sizeof(info.szAviFile), "%s", g_path.c_str());
    LoadAvi(&info, TRUE);
    std::vector<FRAMEENTRY> frames(info.pFrames, info.pFrames + info.nFrames);
    LoadAvi(&info, FALSE);
    HANDLE h = CreateFileA(g_path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    BYTE ab[WIDTH * HEIGHT * 3];
    for (auto _ : state) {
        for (int i = 0; i < DECODED; i++) {
            const FRAMEENTRY &frame = frames[(size_t)i * (FRAME_COUNT / DECODED)];
            DWORD cb = 0;
            SetFilePointer(h, (LONG)(frame.ullChunkPos + 8), NULL, FILE_BEGIN);
            ReadFile(h, ab, frame.dwChunkLen & FRAME_LENMASK, &cb, NULL);
            benchmark::DoNotOptimize(ab);
        }
    }
    CloseHandle(h);
}

BENCHMARK(BM_LoadSpoolshift)->Name("load/spoolshift")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadPlain)->Name("load/plain")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeSpoolshift)->Name("decode/spoolshift")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePlain)->Name("decode/plain")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    char szTemplate[] = "/tmp/spoolaviXXXXXX";
    const char *pszDir = mkdtemp(szTemplate);
    if (!pszDir) return 1;
    MakeFile(pszDir);
    g_pfnShowMessage = Quiet;
    std::vector<char *> args = DefaultBenchmarkArgs(argc, argv);
    int nArgs = (int)args.size();
    benchmark::Initialize(&nArgs, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    {
        char sz[64];
        snprintf(sz, sizeof(sz), "%d frames, %d decoded", FRAME_COUNT, DECODED);
        PrintRatioHeading(sz);
    }
    PrintRatio(reporter, "loading the AVI against reading its index", "load/spoolshift", "load/plain");
    PrintRatio(reporter, "decoding frames against reading their bytes", "decode/spoolshift", "decode/plain");
    unlink(g_path.c_str());
    rmdir(pszDir);
    FreeWorkBuffer();
    return 0;
}
