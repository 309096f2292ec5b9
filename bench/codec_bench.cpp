// Benchmarks of the capture and playback paths, each against a baseline
// measured in the same run; the ratios are printed at the end.
//
//   compress/<size>/codec          the wrapped codec alone (baseline)
//   compress/<size>/passthrough    Spoolcap with reference writing off
//   compress/<size>/direct         Spoolcap writing each frame itself
//   compress/<size>/overlap        Spoolcap writing in the background
//   write/plain                    plain sequential write-through writes of the
//                                  same bytes (baseline of the write paths)
//   write/direct, write/overlap    raw frames through Spoolcap, one series
//   write/bifiled                  raw frames, two series, background writes
//   play/direct, play/overlap      playback of a recorded clip without and with
//                                  read-ahead
#include "codec/spoolcap.h"

#include "bench/ratio.h"
#include "tests/dibheader.h"
#include "tests/samplecodec/samplecodec.h"

#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

struct PICTURE {
    BITMAPINFOHEADER bih;
    std::vector<BYTE> bits;
};

std::string g_dir;
HMODULE g_hSample;
const int PICTURE_COUNT = 6;

PICTURE MakePicture(LONG w, LONG h, int nSeed)
{
    PICTURE pic;
    DWORD cbStride = DibStride(w, 24);
    pic.bih = MakeDibHeader(w, h, 24, BI_RGB, cbStride * (DWORD)h);
    pic.bits.resize(pic.bih.biSizeImage);
    uint32_t r = 7u + (uint32_t)nSeed;
    for (DWORD y = 0; y < (DWORD)h; y++)
        for (DWORD x = 0; x < cbStride; x++) {
            r = r * 1664525u + 1013904223u;
            // Mostly smooth with some noise, like a camera picture.
            pic.bits[y * cbStride + x] = (BYTE)(((x / 6 + y / 3 + (DWORD)nSeed) & 0xFC) | ((r >> 30) & 3));
        }
    return pic;
}

const std::vector<PICTURE> &Pictures(LONG w, LONG h)
{
    static std::map<std::pair<LONG, LONG>, std::vector<PICTURE>> s_cache;
    std::vector<PICTURE> &list = s_cache[std::make_pair(w, h)];
    if (list.empty())
        for (int i = 0; i < PICTURE_COUNT; i++) list.push_back(MakePicture(w, h, i));
    return list;
}

void ResetSettings()
{
    memset(&g_Settings, 0, sizeof(g_Settings));
    snprintf(g_Settings.szBaseFile, MAX_PATH, "%s/one", g_dir.c_str());
    snprintf(g_Settings.szBaseFile2, MAX_PATH, "%s/two", g_dir.c_str());
}

void RemoveReferenceFiles()
{
    std::string command = "rm -f '" + g_dir + "'/*";
    if (system(command.c_str()) != 0) fprintf(stderr, "cannot clean %s\n", g_dir.c_str());
}

DWORD_PTR OpenCodec()
{
    ICOPEN icopen;
    memset(&icopen, 0, sizeof(icopen));
    icopen.dwSize = sizeof(icopen);
    icopen.fccType = ICTYPE_VIDEO;
    icopen.fccHandler = SAMPLE_FOURCC;
    return (DWORD_PTR)DriverProc(0, NULL, DRV_OPEN, 0, (LPARAM)&icopen);
}

// Compresses pictures in turn through pfnProc; returns bytes of input.
void CompressLoop(benchmark::State &state, DRIVERPROC pfnProc, LONG w, LONG h)
{
    const std::vector<PICTURE> &pictures = Pictures(w, h);
    DWORD_PTR dwId = OpenCodec();
    BITMAPINFOHEADER bihIn = pictures[0].bih;
    BITMAPINFOHEADER bihOut;
    pfnProc(dwId, NULL, ICM_COMPRESS_GET_FORMAT, (LPARAM)&bihIn, (LPARAM)&bihOut);
    LRESULT cbOut = pfnProc(dwId, NULL, ICM_COMPRESS_GET_SIZE, (LPARAM)&bihIn, (LPARAM)&bihOut);
    std::vector<BYTE> output((size_t)cbOut);
    pfnProc(dwId, NULL, ICM_COMPRESS_BEGIN, (LPARAM)&bihIn, (LPARAM)&bihOut);
    size_t i = 0;
    for (auto _ : state) {
        const PICTURE &pic = pictures[i++ % pictures.size()];
        ICCOMPRESS ic;
        memset(&ic, 0, sizeof(ic));
        ic.lpbiInput = &bihIn;
        ic.lpInput = const_cast<BYTE *>(pic.bits.data());
        ic.lpbiOutput = &bihOut;
        ic.lpOutput = output.data();
        if (pfnProc(dwId, NULL, ICM_COMPRESS, (LPARAM)&ic, sizeof(ic)) != ICERR_OK) {
            state.SkipWithError("compression failed");
            break;
        }
    }
    pfnProc(dwId, NULL, ICM_COMPRESS_END, 0, 0);
    DriverProc(dwId, NULL, DRV_CLOSE, 0, 0);
    state.SetBytesProcessed((int64_t)state.iterations() * pictures[0].bih.biSizeImage);
    RemoveReferenceFiles();
}

LRESULT CALLBACK SpoolcapProc(DWORD_PTR a, HDRVR b, UINT c, LPARAM d, LPARAM e) { return DriverProc(a, b, c, d, e); }

void BM_CompressCodec(benchmark::State &state)
{
    ResetSettings();
    CompressLoop(state, g_pfnWrappedProc, (LONG)state.range(0), (LONG)state.range(1));
}

void BM_CompressSpoolcap(benchmark::State &state)
{
    ResetSettings();
    g_Settings.fEnabled = state.range(2) != 0;
    g_Settings.fOverlapWrite = state.range(2) == 2;
    CompressLoop(state, SpoolcapProc, (LONG)state.range(0), (LONG)state.range(1));
}

// The baseline of the write paths: the same bytes per frame (a 16-byte
// header and the picture), written sequentially with write-through.
void BM_WritePlain(benchmark::State &state)
{
    const std::vector<PICTURE> &pictures = Pictures(1920, 1080);
    std::string path = g_dir + "/plain.bin";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                           FILE_FLAG_WRITE_THROUGH | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    BYTE abHeader[16] = {0};
    size_t i = 0;
    for (auto _ : state) {
        const PICTURE &pic = pictures[i++ % pictures.size()];
        DWORD cb;
        WriteFile(h, abHeader, sizeof(abHeader), &cb, NULL);
        WriteFile(h, pic.bits.data(), (DWORD)pic.bits.size(), &cb, NULL);
    }
    CloseHandle(h);
    state.SetBytesProcessed((int64_t)state.iterations() * (16 + pictures[0].bits.size()));
    RemoveReferenceFiles();
}

void BM_WriteSpoolcap(benchmark::State &state)
{
    ResetSettings();
    g_Settings.fEnabled = TRUE;
    g_Settings.fNoCompress = TRUE;
    g_Settings.fOverlapWrite = state.range(0) >= 1;
    g_Settings.fBiFiled = state.range(0) == 2;
    const std::vector<PICTURE> &pictures = Pictures(1920, 1080);
    CompressLoop(state, SpoolcapProc, 1920, 1080);
    state.SetBytesProcessed((int64_t)state.iterations() * (16 + pictures[0].bits.size()));
}

// Records a clip once, then plays it in file order again and again.
void BM_Play(benchmark::State &state)
{
    const LONG w = 1920, h = 1080;
    const int nFrames = 24;
    const std::vector<PICTURE> &pictures = Pictures(w, h);
    ResetSettings();
    g_Settings.fEnabled = TRUE;
    DWORD_PTR dwId = OpenCodec();
    BITMAPINFOHEADER bihIn = pictures[0].bih;
    BITMAPINFOHEADER bihComp;
    DriverProc(dwId, NULL, ICM_COMPRESS_GET_FORMAT, (LPARAM)&bihIn, (LPARAM)&bihComp);
    std::vector<BYTE> output((size_t)DriverProc(dwId, NULL, ICM_COMPRESS_GET_SIZE, (LPARAM)&bihIn, (LPARAM)&bihComp));
    std::vector<std::vector<BYTE>> records;
    DriverProc(dwId, NULL, ICM_COMPRESS_BEGIN, (LPARAM)&bihIn, (LPARAM)&bihComp);
    for (int n = 0; n < nFrames; n++) {
        ICCOMPRESS ic;
        memset(&ic, 0, sizeof(ic));
        ic.lpbiInput = &bihIn;
        ic.lpInput = const_cast<BYTE *>(pictures[n % PICTURE_COUNT].bits.data());
        ic.lpbiOutput = &bihComp;
        ic.lpOutput = output.data();
        DriverProc(dwId, NULL, ICM_COMPRESS, (LPARAM)&ic, sizeof(ic));
        records.emplace_back(output.begin(), output.begin() + sizeof(REFRECORD));
    }
    DriverProc(dwId, NULL, ICM_COMPRESS_END, 0, 0);

    g_Settings.fOverlapRead = state.range(0) != 0;
    BITMAPINFOHEADER bihOut = pictures[0].bih;
    std::vector<BYTE> picture(bihOut.biSizeImage);
    size_t i = 0;
    for (auto _ : state) {
        BITMAPINFOHEADER bihRec = bihComp;
        bihRec.biSizeImage = sizeof(REFRECORD);
        ICDECOMPRESS id;
        memset(&id, 0, sizeof(id));
        id.lpbiInput = &bihRec;
        id.lpInput = records[i++ % records.size()].data();
        id.lpbiOutput = &bihOut;
        id.lpOutput = picture.data();
        if (DriverProc(dwId, NULL, ICM_DECOMPRESS, (LPARAM)&id, sizeof(id)) != ICERR_OK) {
            state.SkipWithError("decompression failed");
            break;
        }
    }
    DriverProc(dwId, NULL, ICM_DECOMPRESS_END, 0, 0);
    DriverProc(dwId, NULL, DRV_CLOSE, 0, 0);
    state.SetBytesProcessed((int64_t)state.iterations() * pictures[0].bih.biSizeImage);
    RemoveReferenceFiles();
}

BENCHMARK(BM_CompressCodec)->Name("compress/160x120/codec")->Args({160, 120});
BENCHMARK(BM_CompressSpoolcap)->Name("compress/160x120/passthrough")->Args({160, 120, 0});
BENCHMARK(BM_CompressSpoolcap)->Name("compress/160x120/direct")->Args({160, 120, 1});
BENCHMARK(BM_CompressSpoolcap)->Name("compress/160x120/overlap")->Args({160, 120, 2});
BENCHMARK(BM_CompressCodec)->Name("compress/1920x1080/codec")->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressSpoolcap)->Name("compress/1920x1080/passthrough")->Args({1920, 1080, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressSpoolcap)->Name("compress/1920x1080/direct")->Args({1920, 1080, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressSpoolcap)->Name("compress/1920x1080/overlap")->Args({1920, 1080, 2})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePlain)->Name("write/plain")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteSpoolcap)->Name("write/direct")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteSpoolcap)->Name("write/overlap")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteSpoolcap)->Name("write/bifiled")->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Play)->Name("play/direct")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Play)->Name("play/overlap")->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    char szTemplate[] = "/tmp/spoolbenchXXXXXX";
    const char *pszDir = getenv("SPOOL_BENCH_DIR");
    if (pszDir && pszDir[0]) {
        g_dir = pszDir;
    } else if (mkdtemp(szTemplate)) {
        g_dir = szTemplate;
    } else {
        return 1;
    }
    std::string sample = std::string(argc > 0 ? argv[0] : ".");
    sample = sample.substr(0, sample.rfind('/') + 1) + "samplecodec.so";
    g_hSample = LoadLibraryA(sample.c_str());
    if (!g_hSample) {
        fprintf(stderr, "cannot load %s\n", sample.c_str());
        return 1;
    }
    g_pfnWrappedProc = ProcAs<DRIVERPROC>(GetProcAddress(g_hSample, "DriverProc"));
    InitInstanceList();

    std::vector<char *> args = DefaultBenchmarkArgs(argc, argv);
    int nArgs = (int)args.size();
    benchmark::Initialize(&nArgs, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    PrintRatioHeading(("per frame, files in " + g_dir).c_str());
    for (const char *pszSize : {"160x120", "1920x1080"}) {
        std::string prefix = std::string("compress/") + pszSize + "/";
        std::string what = std::string("Spoolcap over the codec alone, ") + pszSize;
        PrintRatio(reporter, (what + ", reference writing off").c_str(), prefix + "passthrough", prefix + "codec");
        PrintRatio(reporter, (what + ", direct writes").c_str(), prefix + "direct", prefix + "codec");
        PrintRatio(reporter, (what + ", background writes").c_str(), prefix + "overlap", prefix + "codec");
    }
    PrintRatio(reporter, "raw frames, direct writes, against plain writes", "write/direct", "write/plain");
    PrintRatio(reporter, "raw frames, background writes, against plain writes", "write/overlap", "write/plain");
    PrintRatio(reporter, "two series against one (background writes)", "write/bifiled", "write/overlap");
    PrintRatio(reporter, "playback with read-ahead against without", "play/overlap", "play/direct");
    ReleaseAllInstances(FALSE);
    if (!(pszDir && pszDir[0])) rmdir(g_dir.c_str());
    return 0;
}
