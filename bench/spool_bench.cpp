// Benchmarks of the spool command line, each against a plain loop over the
// same bytes in the same run:
//
//   resolve/spool     spool resolve of an AVI of SPOOL_BENCH_FRAMES records
//                     (20,000 by default) naming frames of 16 KiB
//   resolve/cat       cat of the reference file into one file, flushed
//                     (baseline)
//   verify/spool      spool verify of the same AVI
//   verify/headers    a seek and a read of each record's 16-byte frame
//                     header (baseline)
//   verify/plain      the records read in order through a block of 64 KiB,
//                     and those header reads (baseline)
//   scan/spool        spool scan of the reference file
//   scan/headers      the same header reads, one after another (baseline)
//   resolve-odml/spool   spool resolve of the same records in an OpenDML AVI
//                        of RIFFs of 1 MiB (against resolve/cat)
//   small/spool       spool resolve of SPOOL_BENCH_SMALL_FRAMES records
//                     (100,000 by default) of frames of 100 to 1,000 bytes
//   small/ffmpeg      ffmpeg -c copy of the plain recording of the same
//                     frames (baseline)
//   small/cat         cat of their reference file, flushed (baseline)
#include "bench/ratio.h"
#include "bench/spoolrun.h"
#include "cli/spool.h"
#include "codec/refformat.h"
#include "tests/avibuilder.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const DWORD DATA_SIZE = 16 * 1024;
DWORD g_nFrames, g_nSmall;
std::string g_dir, g_avi, g_ref, g_out, g_odml, g_smallRef, g_smallAvi, g_plainAvi;
std::vector<DWORD> g_offsets, g_positions;

void WriteFile(const std::string &path, const std::vector<BYTE> &bytes)
{
    FILE *pFile = fopen(path.c_str(), "wb");
    if (pFile) {
        fwrite(bytes.data(), 1, bytes.size(), pFile);
        fclose(pFile);
    }
}

// Small frames: their reference file, the AVI of records naming them, and
// the plain recording that holds them.
void MakeSmallFiles()
{
    g_smallRef = g_dir + "/small.000";
    FILE *pFile = fopen(g_smallRef.c_str(), "wb");
    AVISPEC records, plain;
    records.fccHandler = plain.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    records.format = plain.format = MakeFormat(64, 64, 24, records.fccHandler);
    records.dwTotalFrames = records.dwLength = plain.dwTotalFrames = plain.dwLength = g_nSmall;
    DWORD dwOffset = 0;
    for (DWORD i = 0; i < g_nSmall; i++) {
        DWORD cbData = 100 + (i * 7919u) % 901;
        std::vector<BYTE> data(cbData, (BYTE)i);
        REFFRAMEHEADER header;
        FillFrameHeader(&header, cbData, ComputePadding(cbData, 0), 64, 64);
        fwrite(&header, sizeof(header), 1, pFile);
        fwrite(data.data(), 1, header.dwDataSize + header.dwPadSize, pFile);
        REFRECORD rec;
        BuildRefRecord(&rec, 0, FALSE, dwOffset, header.dwFrameSize, g_smallRef.c_str());
        const BYTE *p = reinterpret_cast<const BYTE *>(&rec);
        records.chunks.push_back(Frame("00dc", std::vector<BYTE>(p, p + sizeof(rec))));
        plain.chunks.push_back(Frame("00dc", data));
        dwOffset += header.dwFrameSize;
    }
    fclose(pFile);
    g_smallAvi = g_dir + "/small.avi";
    g_plainAvi = g_dir + "/plain.avi";
    WriteFile(g_smallAvi, BuildAvi(records));
    WriteFile(g_plainAvi, BuildAvi(plain));
}

void MakeFiles()
{
    g_ref = g_dir + "/take.000";
    FILE *pFile = fopen(g_ref.c_str(), "wb");
    std::vector<BYTE> data(DATA_SIZE);
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(64, 64, 24, spec.fccHandler);
    spec.dwTotalFrames = spec.dwLength = g_nFrames;
    DWORD dwOffset = 0;
    for (DWORD i = 0; i < g_nFrames; i++) {
        REFFRAMEHEADER header;
        FillFrameHeader(&header, DATA_SIZE, ComputePadding(DATA_SIZE, 0), 64, 64);
        for (size_t k = 0; k < data.size(); k += 512) data[k] = (BYTE)(i + k);
        fwrite(&header, sizeof(header), 1, pFile);
        fwrite(data.data(), 1, data.size(), pFile);
        REFRECORD rec;
        BuildRefRecord(&rec, 0, FALSE, dwOffset, header.dwFrameSize, g_ref.c_str());
        const BYTE *p = reinterpret_cast<const BYTE *>(&rec);
        spec.chunks.push_back(Frame("00dc", std::vector<BYTE>(p, p + sizeof(rec))));
        g_offsets.push_back(dwOffset);
        dwOffset += header.dwFrameSize;
    }
    fclose(pFile);
    std::vector<BYTE> bytes = BuildAvi(spec, &g_positions);
    g_avi = g_dir + "/clip.avi";
    WriteFile(g_avi, bytes);
    spec.cbRiffLimit = 1024 * 1024;
    g_odml = g_dir + "/odml.avi";
    WriteFile(g_odml, BuildAvi(spec));
    g_out = g_dir + "/resolved.avi";
}

void BM_ResolveSpool(benchmark::State &state)
{
    for (auto _ : state)
        if (RunSpool({"resolve", g_avi, "-o", g_out}) != SPOOL_OK) state.SkipWithError("resolve failed");
    unlink(g_out.c_str());
}

void BM_ResolveCat(benchmark::State &state)
{
    std::string command = "cat '" + g_ref + "' > '" + g_out + "' && sync '" + g_out + "'";
    for (auto _ : state)
        if (system(command.c_str()) != 0) state.SkipWithError("cat failed");
    unlink(g_out.c_str());
}

void BM_ResolveOdml(benchmark::State &state)
{
    for (auto _ : state)
        if (RunSpool({"resolve", g_odml, "-o", g_out}) != SPOOL_OK) state.SkipWithError("resolve failed");
    unlink(g_out.c_str());
}

void BM_SmallSpool(benchmark::State &state)
{
    for (auto _ : state)
        if (RunSpool({"resolve", g_smallAvi, "-o", g_out}) != SPOOL_OK) state.SkipWithError("resolve failed");
    unlink(g_out.c_str());
}

void BM_SmallFfmpeg(benchmark::State &state)
{
    std::string command = "ffmpeg -nostdin -v error -y -i '" + g_plainAvi + "' -c copy -f avi '" + g_out + "' && sync '" + g_out + "'";
    for (auto _ : state)
        if (system(command.c_str()) != 0) state.SkipWithError("ffmpeg failed (is it installed?)");
    unlink(g_out.c_str());
}

void BM_SmallCat(benchmark::State &state)
{
    std::string command = "cat '" + g_smallRef + "' > '" + g_out + "' && sync '" + g_out + "'";
    for (auto _ : state)
        if (system(command.c_str()) != 0) state.SkipWithError("cat failed");
    unlink(g_out.c_str());
}

void BM_VerifySpool(benchmark::State &state)
{
    for (auto _ : state)
        if (RunSpool({"verify", g_avi}) != SPOOL_OK) state.SkipWithError("verify failed");
}

void ReadHeaders(benchmark::State &state)
{
    HANDLE h = CreateFileA(g_ref.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    REFFRAMEHEADER header;
    for (DWORD dwOffset : g_offsets) {
        DWORD cb = 0;
        SetFilePointer(h, (LONG)dwOffset, NULL, FILE_BEGIN);
        if (!ReadFile(h, &header, sizeof(header), &cb, NULL) || cb != sizeof(header)) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(header);
    }
    CloseHandle(h);
}

void BM_VerifyHeaders(benchmark::State &state)
{
    for (auto _ : state) ReadHeaders(state);
}

void BM_VerifyPlain(benchmark::State &state)
{
    HANDLE h = CreateFileA(g_avi.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    for (auto _ : state) {
        if (!ReadInBlocks(h, g_positions, sizeof(REFRECORD))) state.SkipWithError("read failed");
        ReadHeaders(state);
    }
    CloseHandle(h);
}

void BM_ScanSpool(benchmark::State &state)
{
    for (auto _ : state)
        if (RunSpool({"scan", g_ref}) != SPOOL_OK) state.SkipWithError("scan failed");
}

void BM_ScanHeaders(benchmark::State &state)
{
    for (auto _ : state) ReadHeaders(state);
}

BENCHMARK(BM_ResolveSpool)->Name("resolve/spool")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResolveCat)->Name("resolve/cat")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VerifySpool)->Name("verify/spool")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VerifyHeaders)->Name("verify/headers")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VerifyPlain)->Name("verify/plain")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanSpool)->Name("scan/spool")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanHeaders)->Name("scan/headers")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResolveOdml)->Name("resolve-odml/spool")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmallSpool)->Name("small/spool")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmallFfmpeg)->Name("small/ffmpeg")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmallCat)->Name("small/cat")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    char szTemplate[] = "/tmp/spoolbenchXXXXXX";
    const char *pszDir = getenv("SPOOL_BENCH_DIR");
    g_dir = pszDir && pszDir[0] ? pszDir : (mkdtemp(szTemplate) ? szTemplate : "/tmp");
    g_nFrames = getenv("SPOOL_BENCH_FRAMES") ? (DWORD)atol(getenv("SPOOL_BENCH_FRAMES")) : 20000;
    g_nSmall = getenv("SPOOL_BENCH_SMALL_FRAMES") ? (DWORD)atol(getenv("SPOOL_BENCH_SMALL_FRAMES")) : 100000;
    MakeFiles();
    MakeSmallFiles();
    // The files reach the disk before anything is timed: their writing back
    // would fall on whichever runs came first.
    sync();
    std::vector<char *> args = DefaultBenchmarkArgs(argc, argv);
    int nArgs = (int)args.size();
    benchmark::Initialize(&nArgs, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    char szWhat[128];
    snprintf(szWhat, sizeof(szWhat), "%lu frames of %lu KiB, %lu of 100 to 1,000 bytes", (unsigned long)g_nFrames,
             (unsigned long)(DATA_SIZE / 1024), (unsigned long)g_nSmall);
    PrintRatioHeading(szWhat);
    PrintRatio(reporter, "resolve against cat of the reference file", "resolve/spool", "resolve/cat");
    PrintRatio(reporter, "resolve of OpenDML against cat of the reference file", "resolve-odml/spool", "resolve/cat");
    PrintRatio(reporter, "resolve of small frames against ffmpeg's remux", "small/spool", "small/ffmpeg");
    PrintRatio(reporter, "resolve of small frames against cat", "small/spool", "small/cat");
    PrintRatio(reporter, "verify against reading the frame headers", "verify/spool", "verify/headers");
    PrintRatio(reporter, "verify against reading the records and the frame headers", "verify/spool", "verify/plain");
    PrintRatio(reporter, "scan against reading the frame headers", "scan/spool", "scan/headers");
    // SPOOL_BENCH_KEEP leaves the files, to run spool on them by hand.
    if (!getenv("SPOOL_BENCH_KEEP"))
        for (const std::string &path : {g_avi, g_ref, g_odml, g_smallRef, g_smallAvi, g_plainAvi}) unlink(path.c_str());
    return 0;
}
