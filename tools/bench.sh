#!/bin/sh
# Builds the native release and runs the benchmarks; each prints its time per
# frame and, at the end, its ratio to the baseline measured in the same run.
#   tools/bench.sh [benchmark options, e.g. --benchmark_filter=write]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build/bench" -DCMAKE_BUILD_TYPE=Release -DSPOOL_BENCH=ON >/dev/null
cmake --build "$build/bench" -j"$(nproc)" --target codec_bench avi_bench slowdisk_bench salvage_bench shift_bench spool_bench >/dev/null
mkdir -p "$build/bench/files"
SPOOL_BENCH_DIR="$build/bench/files" "$build/bench/bin/codec_bench" "$@"
"$build/bench/bin/avi_bench" "$@"
SPOOL_BENCH_DIR="$build/bench/files" "$build/bench/bin/salvage_bench" "$@"
SPOOL_BENCH_DIR="$build/bench/files" "$build/bench/bin/shift_bench" "$@"
SPOOL_BENCH_DIR="$build/bench/files" "$build/bench/bin/spool_bench" "$@"
# The slow-disk runs vary more from run to run: seven repetitions.
"$build/bench/bin/slowdisk_bench" --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true "$@"
