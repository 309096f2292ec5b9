#!/bin/sh
# The test command: builds both targets and runs every test.
#   - native build under AddressSanitizer and UndefinedBehaviorSanitizer;
#   - native build under ThreadSanitizer for the workers and codec paths;
#   - Windows build (mingw-w64, 32-bit) under Wine: the same unit tests and
#     the integration tests;
#   - Spoolcap's 64-bit build under 64-bit Wine: its unit tests and the
#     checks of the module.
# Prints the counts of each suite at the end; exits non-zero on any failure.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
jobs=$(nproc)
"$root/tools/install-deps.sh"
mkdir -p "$build/logs"

status=0
run_suite() {
    # run_suite NAME BUILD_DIR CMAKE_ARGS...
    name=$1
    dir=$2
    shift 2
    echo "== $name: configure and build"
    cmake -S "$root" -B "$dir" "$@" >"$build/logs/$name-build.log" 2>&1 &&
        cmake --build "$dir" -j"$jobs" >>"$build/logs/$name-build.log" 2>&1 || {
        tail -40 "$build/logs/$name-build.log"
        echo "== $name: BUILD FAILED"
        status=1
        return
    }
    # Both targets build without a warning, resource scripts included.
    if grep -E "warning|unrecognized escape" "$build/logs/$name-build.log" | head -20 | grep .; then
        echo "== $name: BUILD WARNINGS"
        status=1
    fi
    echo "== $name: test"
    if ! (cd "$dir" && ctest --output-on-failure -V) >"$build/logs/$name-test.log" 2>&1; then
        grep -E "FAILED|FAIL |Failure|ERROR|Sanitizer" "$build/logs/$name-test.log" | head -40
        echo "== $name: TESTS FAILED (log: $build/logs/$name-test.log)"
        status=1
    fi
}

run_suite native "$build/native" -DCMAKE_BUILD_TYPE=Debug -DSPOOL_SANITIZE=ON
run_suite tsan "$build/tsan" -DCMAKE_BUILD_TYPE=Debug -DSPOOL_TSAN=ON
# One virtual display for every Windows test that opens a window.
. "$root/tools/display.sh"
start_virtual_display $((150 + $$ % 100)) 1280x1024x24
# A fresh prefix for every run of the Windows tests.
rm -rf "$build/win/wineprefix"
run_suite wine "$build/win" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
# Spoolcap for 64-bit hosts: its own build and tests, in a 64-bit prefix.
rm -rf "$build/win64/wineprefix"
export WINEARCH=win64
run_suite wine64 "$build/win64" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
    -DSPOOL_CODEC_ONLY=ON
unset WINEARCH

echo
echo "== counts"
for name in native tsan wine wine64; do
    log="$build/logs/$name-test.log"
    [ -f "$log" ] || continue
    ran=$(grep -E '^[0-9]+: \[==========\] [0-9]+ tests? from .* ran' "$log" | awk '{s += $3} END {print s + 0}')
    passed=$(grep -E '^[0-9]+: \[  PASSED  \] [0-9]+ test' "$log" | awk '{s += $5} END {print s + 0}')
    skipped=$(grep -E '^[0-9]+: \[  SKIPPED \] [0-9]+ test' "$log" | awk '{s += $5} END {print s + 0}')
    echo "$name: $ran unit tests ran, $passed passed, $skipped skipped"
    grep -E 'integration: [0-9]+ checks' "$log" | sed "s/^[0-9]*: /$name: /" || true
done
[ $status -eq 0 ] && echo "all tests passed" || echo "SOME TESTS FAILED"
exit $status
