#!/bin/sh
# Runs a fuzz target (libFuzzer, with AddressSanitizer and
# UndefinedBehaviorSanitizer) for SECONDS, then merges what it found into its
# corpus kept in the repository, which the unit tests replay:
#   tools/fuzz.sh [SECONDS] [avi|decompress]
#   avi         the AVI layer and Spoolshift's AVI engine: arbitrary bytes
#               read and loaded as an AVI, in 512 MB of memory
#               (tests/fuzz-corpus)
#   decompress  Spoolcap's decompression: hostile records and reference
#               files (tests/fuzz-corpus-decompress)
#   salvage     Spoolmend: arbitrary bytes as a reference file and as the
#               AVI to take settings from (tests/fuzz-corpus-salvage)
set -eu
rss=4096
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
seconds=${1:-600}
target=${2:-avi}
case $target in
avi) fuzzer=avi_fuzz seeder=make_fuzz_seeds corpus=$root/tests/fuzz-corpus max_len=16384 rss=512 ;;
decompress) fuzzer=decompress_fuzz seeder=make_decompress_seeds corpus=$root/tests/fuzz-corpus-decompress max_len=8192 ;;
salvage) fuzzer=salvage_fuzz seeder=make_salvage_seeds corpus=$root/tests/fuzz-corpus-salvage max_len=8192 ;;
*) echo "unknown target $target" >&2; exit 2 ;;
esac
"$root/tools/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSPOOL_FUZZ=ON -DSPOOL_TESTS=OFF >/dev/null
cmake --build "$build/fuzz" -j"$(nproc)" --target "$fuzzer" "$seeder" >/dev/null
work=$build/fuzz/work-$target
seeds=$build/fuzz/seeds-$target
mkdir -p "$corpus" "$work" "$seeds"
"$build/fuzz/bin/$seeder" "$seeds"
[ "$target" = avi ] && cp "$root"/tests/data/*.avi "$seeds/"
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1
"$build/fuzz/bin/$fuzzer" -max_total_time="$seconds" -max_len=$max_len -rss_limit_mb=$rss -malloc_limit_mb=$rss -timeout=10 \
    -print_final_stats=1 "$work" "$corpus" "$seeds"
# Keep the smallest inputs that reach every place the fuzzer reached.
merged=$build/fuzz/merged-$target
mkdir -p "$merged"
rm -f "$merged"/*
"$build/fuzz/bin/$fuzzer" -merge=1 -max_len=$max_len "$merged" "$corpus" "$work" "$seeds" >/dev/null 2>&1
rm -f "$corpus"/*
cp "$merged"/* "$corpus/"
echo "corpus: $(ls "$corpus" | wc -l) files, $(du -sh "$corpus" | cut -f1)"
