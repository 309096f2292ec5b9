// Benchmarks of Spoolshift's commands, each against a plain loop over the
// same bytes in the same run:
//
//   detect/spoolshift   detection over an AVI of 100,000 records
//   detect/plain        a seek and a read of each record's chunk (baseline)
//   detect/blocks       the records read in order through a block of 64 KiB
//                       read at a time, each copied out (baseline)
//   rewrite/spoolshift  the rewrite of 100,000 records to another name
//   rewrite/plain       a read and an in-place write of each record through
//                       the same file handle (baseline)
//   copy/spoolshift     a relocation that copies a reference file of
//                       SPOOL_BENCH_COPY_MB MiB (1024 by default)
//   copy/cp             cp of the same file (baseline)
//   detect-odml/spoolshift  detection over the same records in an
//                       OpenDML AVI of RIFFs of 4 MiB, read through its indexes
//   detect-odml/plain   a seek and a read of each of its records (baseline)
//   detect-names/spoolshift  detection over an AVI whose 40,000 records
//                       each name a file of their own
//   detect-names/plain  a seek and a read of each record and a stat of the
//                       file it names (baseline)
#include "bench/ratio.h"
#include "fuzz/shift_input.h"
#include "codec/refformat.h"
#include "mover/message.h"
#include "mover/shift.h"
#include "tests/avibuilder.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const DWORD FRAME_COUNT = 100000;
const DWORD NAME_COUNT = 40000;
std::string g_dir, g_avi, g_big, g_bigAvi, g_odml, g_namesAvi;
std::vector<DWORD> g_positions, g_odmlPositions, g_namesPositions;
std::vector<std::string> g_names;
AviInfo g_info, g_odmlInfo, g_bigInfo, g_namesInfo;

int Quiet(LPCSTR, LPCSTR, UINT) { return IDOK; }

void MakeFiles()
{
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    spec.dwTotalFrames = spec.dwLength = FRAME_COUNT;
    std::string ref = g_dir + "/take.000";
    for (DWORD i = 0; i < FRAME_COUNT; i++) {
        REFRECORD rec;
        BuildRefRecord(&rec, 0, FALSE, i * 64, 64, ref.c_str());
        const BYTE *p = reinterpret_cast<const BYTE *>(&rec);
        spec.chunks.push_back(Frame("00dc", std::vector<BYTE>(p, p + sizeof(rec))));
    }
    std::vector<BYTE> bytes = BuildAvi(spec, &g_positions);
    g_avi = g_dir + "/clip.avi";
    FILE *pFile = fopen(g_avi.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), pFile);
    fclose(pFile);
    spec.cbRiffLimit = 4 * 1024 * 1024;
    bytes = BuildAvi(spec, &g_odmlPositions);
    g_odml = g_dir + "/odml.avi";
    pFile = fopen(g_odml.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), pFile);
    fclose(pFile);
    long nMb = getenv("SPOOL_BENCH_COPY_MB") ? atol(getenv("SPOOL_BENCH_COPY_MB")) : 1024;
    g_big = g_dir + "/big.000";
    pFile = fopen(g_big.c_str(), "wb");
    // A reference file of frames of 1 MiB, and an AVI whose one record
    // names its last frame.
    std::vector<BYTE> mb(1 << 20);
    REFFRAMEHEADER header = {1u << 20, (1u << 20) - 16, 0, 8, 8};
    for (long i = 0; i < nMb; i++) {
        for (size_t k = 0; k < mb.size(); k += 4096) mb[k] = (BYTE)(i + k);
        memcpy(mb.data(), &header, sizeof(header));
        fwrite(mb.data(), 1, mb.size(), pFile);
    }
    fclose(pFile);
    spec.cbRiffLimit = 0;
    spec.chunks.clear();
    spec.dwTotalFrames = spec.dwLength = 1;
    REFRECORD rec;
    BuildRefRecord(&rec, 0, FALSE, (DWORD)((nMb - 1) << 20), 1u << 20, g_big.c_str());
    const BYTE *pRec = reinterpret_cast<const BYTE *>(&rec);
    spec.chunks.push_back(Frame("00dc", std::vector<BYTE>(pRec, pRec + sizeof(rec))));
    bytes = BuildAvi(spec);
    g_bigAvi = g_dir + "/big.avi";
    pFile = fopen(g_bigAvi.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), pFile);
    fclose(pFile);
    // An AVI whose every record names a file of its own.
    std::string names = g_dir + "/names";
    mkdir(names.c_str(), 0777);
    spec.chunks.clear();
    spec.dwTotalFrames = spec.dwLength = NAME_COUNT;
    REFFRAMEHEADER small = {16, 0, 0, 8, 8};
    for (DWORD i = 0; i < NAME_COUNT; i++) {
        char szName[64];
        snprintf(szName, sizeof(szName), "/take%05lu.000", (unsigned long)i);
        g_names.push_back(names + szName);
        pFile = fopen(g_names.back().c_str(), "wb");
        fwrite(&small, 1, sizeof(small), pFile);
        fclose(pFile);
        BuildRefRecord(&rec, 0, FALSE, 0, 16, g_names.back().c_str());
        spec.chunks.push_back(Frame("00dc", std::vector<BYTE>(pRec, pRec + sizeof(rec))));
    }
    bytes = BuildAvi(spec, &g_namesPositions);
    g_namesAvi = g_dir + "/names.avi";
    pFile = fopen(g_namesAvi.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), pFile);
    fclose(pFile);
}

// Detection by the engine, as spool and the window run it.
DWORD Detect(AviInfo *pInfo)
{
    SHIFTREQUEST req;
    InitShiftRequest(&req);
    SHIFTRESULT res;
    InitShiftResult(&res);
    RunDetection(pInfo, &req, &res);
    FreeShiftResult(&res);
    return g_nRefFiles;
}

void BM_DetectSpoolshift(benchmark::State &state)
{
    for (auto _ : state) {
        if (Detect(&g_info) != 1) state.SkipWithError("detection missed the file");
    }
}

void ReadRecords(benchmark::State &state, const std::string &path, const std::vector<DWORD> &positions)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    BYTE ab[sizeof(REFRECORD)];
    for (auto _ : state) {
        for (DWORD dwPos : positions) {
            DWORD cb = 0;
            SetFilePointer(h, (LONG)(dwPos + 8), NULL, FILE_BEGIN);
            ReadFile(h, ab, sizeof(ab), &cb, NULL);
            benchmark::DoNotOptimize(ab);
        }
    }
    CloseHandle(h);
}

void BM_DetectPlain(benchmark::State &state) { ReadRecords(state, g_avi, g_positions); }

void BM_DetectBlocks(benchmark::State &state)
{
    HANDLE h = CreateFileA(g_avi.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    for (auto _ : state)
        if (!ReadInBlocks(h, g_positions, sizeof(REFRECORD))) state.SkipWithError("read failed");
    CloseHandle(h);
}

void BM_DetectOdmlSpoolshift(benchmark::State &state)
{
    for (auto _ : state) {
        if (Detect(&g_odmlInfo) != 1) state.SkipWithError("detection missed the file");
    }
}

void BM_DetectOdmlPlain(benchmark::State &state) { ReadRecords(state, g_odml, g_odmlPositions); }

void BM_DetectNamesSpoolshift(benchmark::State &state)
{
    for (auto _ : state) {
        if (Detect(&g_namesInfo) != NAME_COUNT) state.SkipWithError("detection missed files");
    }
}

// The least that telling the files apart needs: each record read, and a
// look at the file its name reaches.
void BM_DetectNamesPlain(benchmark::State &state)
{
    HANDLE h = CreateFileA(g_namesAvi.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                           NULL);
    REFRECORD rec;
    for (auto _ : state) {
        for (DWORD dwPos : g_namesPositions) {
            DWORD cb = 0;
            SetFilePointer(h, (LONG)(dwPos + 8), NULL, FILE_BEGIN);
            ReadFile(h, &rec, sizeof(rec), &cb, NULL);
            struct stat st;
            benchmark::DoNotOptimize(stat(rec.szFileName, &st));
        }
    }
    CloseHandle(h);
}

void BM_RewriteSpoolshift(benchmark::State &state)
{
    Detect(&g_info);
    std::string a = RefFileName(0), b = g_dir + "/moved.000";
    bool fForth = true;
    SHIFTREQUEST req;
    InitShiftRequest(&req);
    SHIFTRESULT res;
    InitShiftResult(&res);
    for (auto _ : state) {
        DWORD nDone = 0;
        RewriteRefNames(&g_info, 0, fForth ? b.c_str() : a.c_str(), &req, &res, &nDone);
        RenameRefFile(0, fForth ? b.c_str() : a.c_str());
        if (nDone != FRAME_COUNT) state.SkipWithError("records missed");
        fForth = !fForth;
    }
    FreeShiftResult(&res);
}

void BM_RewritePlain(benchmark::State &state)
{
    // The same file handle as the engine's: a read and an in-place write of
    // each record.
    HMMIO h = g_info.hmmio;
    char ab[sizeof(REFRECORD)];
    for (auto _ : state) {
        for (DWORD dwPos : g_positions) {
            mmioSeek(h, (LONG)(dwPos + 8), SEEK_SET);
            if (mmioRead(h, ab, sizeof(ab)) != (LONG)sizeof(ab)) state.SkipWithError("read failed");
            mmioSeek(h, (LONG)(dwPos + 8), SEEK_SET);
            if (mmioWrite(h, ab, sizeof(ab)) != (LONG)sizeof(ab)) state.SkipWithError("write failed");
        }
        // And to the disk, as a rewrite must be before anything depends on it.
        mmioFlush(h, MMIO_EMPTYBUF);
        FlushFileBuffers(g_info.hFile);
    }
}

void BM_CopySpoolshift(benchmark::State &state)
{
    // The relocation of the big file as a copy that keeps the old file: the
    // checks, the note, the copy and the rewrite of its one record.
    std::string copy = g_dir + "/copy.000";
    for (auto _ : state) {
        unlink(copy.c_str());
        if (Detect(&g_bigInfo) != 1) state.SkipWithError("detection missed the file");
        SHIFTREQUEST req;
        InitShiftRequest(&req);
        DWORD k = 0;
        req.piFiles = &k;
        req.nFiles = 1;
        req.fCopy = TRUE;
        snprintf(req.szNewBase, sizeof(req.szNewBase), "%s/copy", g_dir.c_str());
        SHIFTRESULT res;
        InitShiftResult(&res);
        if (!RunRelocation(&g_bigInfo, &req, &res)) state.SkipWithError("copy failed");
        FreeShiftResult(&res);
        // The record names the big file again for the next round.
        RewriteRefNames(&g_bigInfo, 0, g_big.c_str(), &req, &res, NULL);
        RenameRefFile(0, g_big.c_str());
        FreeShiftResult(&res);
    }
    unlink(copy.c_str());
}

void BM_CopyCp(benchmark::State &state)
{
    std::string copy = g_dir + "/cp.000";
    std::string command = "cp '" + g_big + "' '" + copy + "' && sync '" + copy + "'";
    for (auto _ : state) {
        unlink(copy.c_str());
        if (system(command.c_str()) != 0) state.SkipWithError("cp failed");
    }
    unlink(copy.c_str());
}

BENCHMARK(BM_DetectSpoolshift)->Name("detect/spoolshift")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectPlain)->Name("detect/plain")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectBlocks)->Name("detect/blocks")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RewriteSpoolshift)->Name("rewrite/spoolshift")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RewritePlain)->Name("rewrite/plain")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopySpoolshift)->Name("copy/spoolshift")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CopyCp)->Name("copy/cp")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DetectOdmlSpoolshift)->Name("detect-odml/spoolshift")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectOdmlPlain)->Name("detect-odml/plain")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectNamesSpoolshift)->Name("detect-names/spoolshift")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectNamesPlain)->Name("detect-names/plain")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    char szTemplate[] = "/tmp/spoolshiftXXXXXX";
    const char *pszDir = getenv("SPOOL_BENCH_DIR");
    g_dir = pszDir && pszDir[0] ? pszDir : (mkdtemp(szTemplate) ? szTemplate : "/tmp");
    MakeFiles();
    // The files reach the disk before anything is timed: their writing back
    // would fall on whichever runs came first.
    sync();
    g_pfnShowMessage = Quiet;
    snprintf(g_info.szAviFile, sizeof(g_info.szAviFile), "%s", g_avi.c_str());
    if (!LoadAvi(&g_info, TRUE)) return 1;
    snprintf(g_odmlInfo.szAviFile, sizeof(g_odmlInfo.szAviFile), "%s", g_odml.c_str());
    if (!LoadAvi(&g_odmlInfo, TRUE) || g_odmlInfo.nFrames != FRAME_COUNT) return 1;
    snprintf(g_bigInfo.szAviFile, sizeof(g_bigInfo.szAviFile), "%s", g_bigAvi.c_str());
    if (!LoadAvi(&g_bigInfo, TRUE)) return 1;
    snprintf(g_namesInfo.szAviFile, sizeof(g_namesInfo.szAviFile), "%s", g_namesAvi.c_str());
    if (!LoadAvi(&g_namesInfo, TRUE)) return 1;
    std::vector<char *> args = DefaultBenchmarkArgs(argc, argv);
    int nArgs = (int)args.size();
    benchmark::Initialize(&nArgs, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    {
        char sz[64];
        snprintf(sz, sizeof(sz), "%lu records", (unsigned long)FRAME_COUNT);
        PrintRatioHeading(sz);
    }
    PrintRatio(reporter, "detection against reading the records", "detect/spoolshift", "detect/plain");
    PrintRatio(reporter, "detection against reading the records in blocks", "detect/spoolshift", "detect/blocks");
    PrintRatio(reporter, "rewriting the records against writing them in place", "rewrite/spoolshift", "rewrite/plain");
    PrintRatio(reporter, "copying a reference file against cp", "copy/spoolshift", "copy/cp");
    PrintRatio(reporter, "detection of OpenDML against reading the records", "detect-odml/spoolshift", "detect-odml/plain");
    PrintRatio(reporter, "detection of 40,000 files against reading the records and a look at each file",
               "detect-names/spoolshift", "detect-names/plain");
    LoadAvi(&g_info, FALSE);
    LoadAvi(&g_odmlInfo, FALSE);
    LoadAvi(&g_bigInfo, FALSE);
    LoadAvi(&g_namesInfo, FALSE);
    FreeWorkBuffer();
    unlink(g_bigAvi.c_str());
    unlink(g_namesAvi.c_str());
    for (const std::string &name : g_names) unlink(name.c_str());
    rmdir((g_dir + "/names").c_str());
    unlink(g_avi.c_str());
    unlink(g_odml.c_str());
    unlink(g_big.c_str());
    unlink((g_dir + "/take.000").c_str());
    return 0;
}
