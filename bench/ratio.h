// Benchmark helpers: the ratios of median times to a baseline measured in
// the same run.
#pragma once

#include "platform/win.h"

#include <benchmark/benchmark.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

// Keeps each repetition's time per iteration; the ratios use the medians.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::vector<double>> times;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                times[run.run_name.function_name].push_back(run.GetAdjustedRealTime());
        ConsoleReporter::ReportRuns(runs);
    }
    double Median(const std::string &name) const
    {
        auto it = times.find(name);
        if (it == times.end() || it->second.empty()) return 0;
        std::vector<double> sorted = it->second;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

// The ratio of a benchmark's times to its baseline's, repetition by
// repetition (the runs interleave, so each pair met the same moment of the
// machine): the smallest, the median and the largest.
inline void PrintRatio(const RatioReporter &reporter, const char *pszWhat, const std::string &name, const std::string &base)
{
    auto itA = reporter.times.find(name), itB = reporter.times.find(base);
    if (itA == reporter.times.end() || itB == reporter.times.end()) return;
    std::vector<double> ratios;
    for (size_t i = 0; i < itA->second.size() && i < itB->second.size(); i++)
        if (itB->second[i] > 0) ratios.push_back(itA->second[i] / itB->second[i]);
    if (ratios.empty()) return;
    std::sort(ratios.begin(), ratios.end());
    printf("  %-58s %6.2f %6.2f %6.2f  (%s / %s)\n", pszWhat, ratios.front(), ratios[ratios.size() / 2], ratios.back(),
           name.c_str(), base.c_str());
}

// The heading of the ratios' table.
inline void PrintRatioHeading(const char *pszWhat)
{
    printf("\nRatios to the baselines, min median max over the runs (lower is faster; %s):\n", pszWhat);
}

// The command line with the defaults added: unless asked otherwise, each
// benchmark runs five times, interleaved at random with the others (disk
// timings vary from moment to moment), and the ratios are taken run by run.
inline std::vector<char *> DefaultBenchmarkArgs(int argc, char **argv)
{
    static char s_szRepetitions[] = "--benchmark_repetitions=5";
    static char s_szInterleave[] = "--benchmark_enable_random_interleaving=true";
    std::vector<char *> args(argv, argv + argc);
    bool fHasRepetitions = false;
    for (char *pszArg : args)
        if (strncmp(pszArg, "--benchmark_repetitions", 23) == 0) fHasRepetitions = true;
    if (!fHasRepetitions) {
        args.push_back(s_szRepetitions);
        args.push_back(s_szInterleave);
    }
    return args;
}

// The chunks' data at the given places (each an 8-byte chunk header), cb
// bytes of each, read in order through a block of 64 KiB read at a time
// and copied out: the plain reading of what a walk of the records reads.
inline bool ReadInBlocks(HANDLE h, const std::vector<DWORD> &positions, DWORD cb)
{
    static BYTE abBlock[65536];
    BYTE abOut[1024];
    DWORD dwBlock = 0, cbBlock = 0;
    if (cb > sizeof(abOut)) return false;
    for (DWORD dwPos : positions) {
        DWORD dwAt = dwPos + 8;
        if (dwAt < dwBlock || dwAt + cb > dwBlock + cbBlock) {
            SetFilePointer(h, (LONG)dwAt, NULL, FILE_BEGIN);
            if (!ReadFile(h, abBlock, sizeof(abBlock), &cbBlock, NULL) || cbBlock < cb) return false;
            dwBlock = dwAt;
        }
        memcpy(abOut, abBlock + (dwAt - dwBlock), cb);
        benchmark::DoNotOptimize(abOut);
    }
    return true;
}
