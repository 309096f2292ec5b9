#!/bin/sh
# Runs the AVI fuzz target (libFuzzer, with AddressSanitizer and
# UndefinedBehaviorSanitizer) for SECONDS, then merges what it found into the
# corpus kept in the repository (tests/fuzz-corpus), small files only.
#   tools/fuzz.sh [SECONDS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
seconds=${1:-600}
"$root/tools/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSPOOL_FUZZ=ON -DSPOOL_TESTS=OFF >/dev/null
cmake --build "$build/fuzz" -j"$(nproc)" --target avi_fuzz make_fuzz_seeds >/dev/null
corpus=$root/tests/fuzz-corpus
work=$build/fuzz/work
seeds=$build/fuzz/seeds
mkdir -p "$corpus" "$work" "$seeds"
"$build/fuzz/bin/make_fuzz_seeds" "$seeds"
cp "$root"/tests/data/*.avi "$seeds/"
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1
"$build/fuzz/bin/avi_fuzz" -max_total_time="$seconds" -max_len=16384 -rss_limit_mb=4096 -timeout=10 \
    -print_final_stats=1 "$work" "$corpus" "$seeds"
# Keep the smallest inputs that reach every place the fuzzer reached.
mkdir -p "$build/fuzz/merged"
rm -f "$build/fuzz/merged"/*
"$build/fuzz/bin/avi_fuzz" -merge=1 -max_len=16384 "$build/fuzz/merged" "$corpus" "$work" >/dev/null 2>&1
rm -f "$corpus"/*
cp "$build/fuzz/merged"/* "$corpus/"
echo "corpus: $(ls "$corpus" | wc -l) files, $(du -sh "$corpus" | cut -f1)"
