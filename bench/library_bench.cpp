// Benchmarks of spool library over a synthetic library of recordings, each
// against a plain read of the same files in the same run:
//
//   library/spool     spool library over the library's folders (the spool
//                     program built beside the benchmark, in a process of
//                     its own as a user runs it)
//   library/read      every AVI's bytes read once and 4 KiB of every other
//                     file (cat and head -c 4096 over the same files;
//                     baseline)
//   library/spool-cold, library/read-cold
//                     the same, the system's cache of the files emptied
//                     before each run (as root; else they say why not)
//   verify-r/jobs1    spool verify -r --jobs 1 over the folders (one AVI after
//                     another, in this process)
//   verify-r/jobs2    spool verify -r --jobs 2 (two spool processes at a time)
//   verify/2-at-once  spool verify of each AVI, two processes side by side
//                     (xargs -P 2; baseline)
//
// The library: SPOOL_BENCH_AVIS AVIs (200 by default; the scale is
// 2,000) of 1,000 to 30,000 records, spread over 200 folders, naming three
// reference files each (one series in runs, or every other AVI two series
// in turn); the reference files are sparse (a frame header at
// the start of each frame that a record names, nothing between), so that the
// disk holds little. One AVI in ten has a salvaged copy beside it (its files
// shared); one reference file in twenty is named by no AVI.
//
// With SPOOL_BENCH_MEMORY=1 it instead measures the peak memory of spool
// library (its own process) over libraries of 2,000 and 20,000 AVIs of 100
// records, and of 2,000 AVIs of 1,000 records: memory that grows with the
// files, not with the records.
#include "bench/ratio.h"
#include "bench/spoolrun.h"
#include "cli/spool.h"
#include "codec/refformat.h"
#include "scaffold/paths.h"
#include "tests/avibuilder.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

std::string g_dir;
std::vector<std::string> g_avis, g_others;

const DWORD FRAME_SIZE = 64 * 1024;

void WriteWhole(const std::string &path, const std::vector<BYTE> &bytes)
{
    FILE *pFile = fopen(path.c_str(), "wb");
    if (pFile) {
        fwrite(bytes.data(), 1, bytes.size(), pFile);
        fclose(pFile);
    }
}

// A sparse reference file of nFrames frames of FRAME_SIZE bytes: each
// frame's header written, the rest a hole.
void WriteSparseRefFile(const std::string &path, DWORD nFrames)
{
    FILE *pFile = fopen(path.c_str(), "wb");
    if (!pFile) return;
    REFFRAMEHEADER header;
    FillFrameHeader(&header, FRAME_SIZE - sizeof(header), 0, 64, 64);
    for (DWORD i = 0; i < nFrames; i++) {
        fseek(pFile, (long)((ULONGLONG)i * FRAME_SIZE), SEEK_SET);
        fwrite(&header, sizeof(header), 1, pFile);
    }
    fclose(pFile);
    if (truncate(path.c_str(), (off_t)nFrames * FRAME_SIZE) != 0) perror(path.c_str());
}

// The library: nAvis AVIs of nMinRecords to nMaxRecords records.
void MakeLibrary(const std::string &root, DWORD nAvis, DWORD nMinRecords, DWORD nMaxRecords)
{
    g_avis.clear();
    g_others.clear();
    mkdir(root.c_str(), 0755);
    const DWORD nFolders = 200;
    for (DWORD f = 0; f < nFolders && f < nAvis; f++) mkdir((root + "/f" + std::to_string(f)).c_str(), 0755);
    for (DWORD a = 0; a < nAvis; a++) {
        std::string folder = root + "/f" + std::to_string(a % nFolders);
        std::string base = folder + "/take" + std::to_string(a);
        DWORD nRecords = nMinRecords + (DWORD)(((ULONGLONG)a * 7919u) % (nMaxRecords - nMinRecords + 1));
        DWORD nPerFile = (nRecords + 2) / 3;
        std::vector<std::string> files;
        for (int k = 0; k < 3; k++) {
            files.push_back(base + "." + std::to_string(k + 100).substr(1));
            WriteSparseRefFile(files.back(), nPerFile);
            g_others.push_back(files.back());
        }
        AVISPEC spec;
        spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
        spec.format = MakeFormat(64, 64, 24, spec.fccHandler);
        spec.dwTotalFrames = spec.dwLength = nRecords;
        // As Spoolcap names them: one series fills its files one after
        // another; with two series (every other AVI) the records name the
        // two series' files in turn.
        DWORD anInFile[3] = {0, 0, 0};
        for (DWORD i = 0; i < nRecords; i++) {
            DWORD f = a % 2 == 0 ? i / nPerFile : (i < 2 * nPerFile ? i % 2 : 2);
            if (f > 2) f = 2;
            REFRECORD rec;
            BuildRefRecord(&rec, f == 1 && a % 2 ? 1 : 0, FALSE, anInFile[f]++ * FRAME_SIZE, FRAME_SIZE, files[f].c_str());
            const BYTE *p = reinterpret_cast<const BYTE *>(&rec);
            spec.chunks.push_back(Frame("00dc", std::vector<BYTE>(p, p + sizeof(rec))));
        }
        std::vector<BYTE> bytes = BuildAvi(spec);
        g_avis.push_back(base + ".avi");
        WriteWhole(g_avis.back(), bytes);
        // A salvaged copy beside one AVI in ten: its files are shared.
        if (a % 10 == 0) {
            g_avis.push_back(base + "-salvaged.avi");
            WriteWhole(g_avis.back(), bytes);
        }
        // A reference file that no AVI names, for one AVI in twenty.
        if (a % 20 == 0) {
            g_others.push_back(base + "-old.000");
            WriteSparseRefFile(g_others.back(), 10);
        }
    }
}

std::string g_aviList, g_otherList;

// With a cold cache (Arg 1), the system's cache of the files is emptied
// before each run, untimed, as for an archive that was not read lately;
// that takes root.
bool ColdCache(benchmark::State &state)
{
    if (state.range(0) == 0) return true;
    state.PauseTiming();
    sync();
    FILE *pFile = fopen("/proc/sys/vm/drop_caches", "w");
    bool fDropped = pFile && fputs("3\n", pFile) >= 0;
    if (pFile) fDropped = fclose(pFile) == 0 && fDropped;
    state.ResumeTiming();
    if (!fDropped) state.SkipWithError("the cache cannot be emptied (not root?)");
    return fDropped;
}

// The spool built beside the benchmark, in a process of its own, its output
// dropped: its exit status (-1 when it did not run to its end), and its
// peak memory in KiB (that of the largest of its processes).
int RunSpoolProgram(const std::vector<std::string> &args, long *plKiB)
{
    const char *pszProgram = getenv("SPOOL_PROGRAM");
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open("/dev/null", O_WRONLY);
        if (fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0) _exit(127);
        std::vector<char *> argv = {const_cast<char *>(pszProgram)};
        for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(NULL);
        execv(pszProgram, argv.data());
        _exit(127);
    }
    int nStatus = 0;
    struct rusage usage;
    if (pid < 0 || wait4(pid, &nStatus, 0, &usage) != pid || !WIFEXITED(nStatus) || WEXITSTATUS(nStatus) == 127) return -1;
    if (plKiB) *plKiB = usage.ru_maxrss;
    return WEXITSTATUS(nStatus);
}

void BM_LibrarySpool(benchmark::State &state)
{
    for (auto _ : state) {
        if (!ColdCache(state)) continue;
        int nStatus = RunSpoolProgram({"library", g_dir + "/lib"}, NULL);
        if (nStatus < 0 || nStatus == SPOOL_ERROR) state.SkipWithError("library failed");
    }
}

void BM_LibraryRead(benchmark::State &state)
{
    std::string command = "xargs -a '" + g_aviList + "' cat > /dev/null && xargs -a '" + g_otherList +
                          "' head -qc 4096 > /dev/null";
    for (auto _ : state)
        if (!ColdCache(state) || system(command.c_str()) != 0) state.SkipWithError("cat failed");
}

void BM_VerifyTree(benchmark::State &state)
{
    for (auto _ : state)
        if (RunSpool({"verify", "-r", g_dir + "/lib", "--jobs", "1"}) == SPOOL_ERROR) state.SkipWithError("verify -r failed");
}

void BM_VerifyJobs2(benchmark::State &state)
{
    for (auto _ : state)
        if (RunSpool({"verify", "-r", g_dir + "/lib", "--jobs", "2"}) == SPOOL_ERROR) state.SkipWithError("verify -r failed");
}

void BM_VerifyTwoAtOnce(benchmark::State &state)
{
    std::string command = "xargs -a '" + g_aviList + "' -P 2 -n 1 '" + std::string(getenv("SPOOL_PROGRAM")) +
                          "' verify > /dev/null";
    for (auto _ : state)
        if (system(command.c_str()) != 0) state.SkipWithError("verify failed");
}

BENCHMARK(BM_LibrarySpool)->Name("library/spool")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibraryRead)->Name("library/read")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibrarySpool)->Name("library/spool-cold")->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LibraryRead)->Name("library/read-cold")->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_VerifyTree)->Name("verify-r/jobs1")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VerifyJobs2)->Name("verify-r/jobs2")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VerifyTwoAtOnce)->Name("verify/2-at-once")->Unit(benchmark::kMillisecond);

void WriteList(const std::string &path, const std::vector<std::string> &names)
{
    FILE *pFile = fopen(path.c_str(), "w");
    if (!pFile) return;
    for (const std::string &name : names) fprintf(pFile, "%s\n", name.c_str());
    fclose(pFile);
}

// spool library in a process of its own: its peak resident memory in KiB.
long LibraryPeakKiB(const std::string &root)
{
    long lKiB = -1;
    int nStatus = RunSpoolProgram({"library", root}, &lKiB);
    return nStatus < 0 || nStatus == SPOOL_ERROR ? -1 : lKiB;
}

void RemoveTree(const std::string &root)
{
    std::string command = "rm -rf '" + root + "'";
    if (system(command.c_str()) != 0) perror(root.c_str());
}

int MeasureMemory(void)
{
    struct {
        DWORD nAvis, nRecords;
    } aSizes[] = {{2000, 100}, {20000, 100}, {2000, 1000}};
    printf("Peak memory of spool library (its own process):\n");
    for (const auto &size : aSizes) {
        std::string root = g_dir + "/mem";
        MakeLibrary(root, size.nAvis, size.nRecords, size.nRecords);
        sync();
        long lKiB = LibraryPeakKiB(root);
        printf("  %6lu AVIs of %5lu records (%lu files): %ld KiB\n", (unsigned long)size.nAvis,
               (unsigned long)size.nRecords, (unsigned long)(g_avis.size() + g_others.size()), lKiB);
        fflush(stdout);
        RemoveTree(root);
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    char szTemplate[] = "/tmp/librarybenchXXXXXX";
    const char *pszDir = getenv("SPOOL_BENCH_DIR");
    g_dir = pszDir && pszDir[0] ? pszDir : (mkdtemp(szTemplate) ? szTemplate : "/tmp");
    // spool library and the jobs of verify -r run the spool built beside the
    // benchmark.
    setenv("SPOOL_PROGRAM", (std::string(GetProgramFolder()) + "spool").c_str(), 1);
    if (getenv("SPOOL_BENCH_MEMORY")) return MeasureMemory();
    DWORD nAvis = getenv("SPOOL_BENCH_AVIS") ? (DWORD)atol(getenv("SPOOL_BENCH_AVIS")) : 200;
    MakeLibrary(g_dir + "/lib", nAvis, 1000, 30000);
    g_aviList = g_dir + "/avis.txt";
    g_otherList = g_dir + "/others.txt";
    WriteList(g_aviList, g_avis);
    WriteList(g_otherList, g_others);
    // The files reach the disk before anything is timed.
    sync();
    std::vector<char *> args = DefaultBenchmarkArgs(argc, argv);
    int nArgs = (int)args.size();
    benchmark::Initialize(&nArgs, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    char szWhat[160];
    snprintf(szWhat, sizeof(szWhat), "%lu AVIs of 1,000 to 30,000 records, %lu reference files", (unsigned long)g_avis.size(),
             (unsigned long)g_others.size());
    PrintRatioHeading(szWhat);
    PrintRatio(reporter, "library against reading the AVIs and 4 KiB of each file", "library/spool", "library/read");
    PrintRatio(reporter, "the same, each run with the cache emptied first", "library/spool-cold", "library/read-cold");
    PrintRatio(reporter, "verify -r --jobs 2 against two verify processes side by side", "verify-r/jobs2",
               "verify/2-at-once");
    PrintRatio(reporter, "verify -r --jobs 1 against two verify processes side by side", "verify-r/jobs1",
               "verify/2-at-once");
    if (!getenv("SPOOL_BENCH_KEEP")) RemoveTree(g_dir + "/lib");
    return 0;
}
