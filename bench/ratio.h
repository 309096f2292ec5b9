// Benchmark helpers: the ratios of median times to a baseline measured in
// the same run.
#pragma once

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

inline void PrintRatio(const RatioReporter &reporter, const char *pszWhat, const std::string &name, const std::string &base)
{
    double a = reporter.Median(name);
    double b = reporter.Median(base);
    if (a <= 0 || b <= 0) return;
    printf("  %-62s %6.2f x  (%s / %s)\n", pszWhat, a / b, name.c_str(), base.c_str());
}

// The command line with the defaults added: unless asked otherwise, each
// benchmark runs three times, interleaved at random with the others (disk
// timings vary from moment to moment), and the ratios use the medians.
inline std::vector<char *> DefaultBenchmarkArgs(int argc, char **argv)
{
    static char s_szRepetitions[] = "--benchmark_repetitions=3";
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
