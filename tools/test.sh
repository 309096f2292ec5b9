#!/bin/sh
# The test command: builds both targets and runs every test.
#   - native build under AddressSanitizer and UndefinedBehaviorSanitizer;
#   - native build under ThreadSanitizer for the workers and codec paths;
#   - the Windows build of each width (mingw-w64), every program of it: the
#     unit tests, the dialog and resource text tests and the integration
#     tests under Wine of that width, and the checks of its modules;
#   - the 32-bit and 64-bit Spoolcap playing each other's recordings;
#   - the release zip packed from both sets, its contents checked.
# Where 32-bit programs cannot run (asked once, or SPOOL_WINE64_ONLY=1), the
# 32-bit programs are still built (their test programs are not) and their
# modules and dialog texts checked without running them, and the summary
# says so.
# Prints the counts of each suite at the end; exits non-zero on any failure.
set -eu
begun=$(date +%s)
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
jobs=$(nproc)
"$root/tools/install-deps.sh"
. "$root/tools/wine-env.sh"
mkdir -p "$build/logs"
# The counts come from this run's logs alone.
rm -f "$build/logs"/*-test.log

status=0
# What build_suite builds: everything unless this names targets.
build_targets=""
build_suite() {
    # build_suite NAME BUILD_DIR CMAKE_ARGS...
    name=$1
    dir=$2
    shift 2
    echo "== $name: configure and build"
    log="$build/logs/$name-build.log"
    started=$(date +%s)
    cmake -S "$root" -B "$dir" "$@" >"$log" 2>&1 && cmake --build "$dir" -j"$jobs" $build_targets >>"$log" 2>&1 || {
        tail -40 "$log"
        echo "== $name: BUILD FAILED"
        status=1
        return 1
    }
    # Both targets build without a warning, resource scripts included.
    if grep -E "warning|unrecognized escape" "$log" | head -20 | grep .; then
        echo "== $name: BUILD WARNINGS"
        status=1
    fi
    echo "== $name: built in $(($(date +%s) - started)) s"
}
test_suite() {
    # test_suite NAME BUILD_DIR [CTEST_ARGS...]
    name=$1
    dir=$2
    shift 2
    echo "== $name: test"
    log="$build/logs/$name-test.log"
    started=$(date +%s)
    if ! (cd "$dir" && ctest --output-on-failure -V "$@") >"$log" 2>&1; then
        grep -E "FAILED|FAIL |Failure|ERROR|Sanitizer|wine: " "$log" | head -40
        echo "== $name: TESTS FAILED (log: $log)"
        status=1
    fi
    echo "== $name: tested in $(($(date +%s) - started)) s"
}
run_suite() {
    name=$1
    dir=$2
    shift 2
    # The native test programs keep to temporary folders of their own, so
    # they run side by side, one a core.
    build_suite "$name" "$dir" "$@" && test_suite "$name" "$dir" -j"$jobs"
}

run_suite native "$build/native" -DCMAKE_BUILD_TYPE=Debug -DSPOOL_SANITIZE=ON
run_suite tsan "$build/tsan" -DCMAKE_BUILD_TYPE=Debug -DSPOOL_TSAN=ON

if wine_can_run32; then
    echo "== 32-bit Windows programs run here ($SPOOL_WINE32_WHY)"
else
    echo "== 32-bit Windows programs cannot run here: $SPOOL_WINE32_WHY"
    echo "   the 32-bit set is built and checked without running it; the 64-bit suites run"
fi
# One virtual display for every Windows test that opens a window.
. "$root/tools/display.sh"
start_virtual_display $((150 + $$ % 100)) 1280x1024x24
# A fresh prefix for every run of the Windows tests.
rm -rf "$build/win/wineprefix" "$build/win64/wineprefix"
# Where the 32-bit set cannot run, its test programs are not built: only
# the programs that the package ships and the checks read.
[ "$SPOOL_WINE32" = yes ] || build_targets="--target spoolcap Spoolmend Spoolshift Vfwprobe spool"
if build_suite wine32 "$build/win" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"; then
    if [ "$SPOOL_WINE32" = yes ]; then
        test_suite wine32 "$build/win"
    else
        # The checks that read the modules without running them.
        test_suite wine32-static "$build/win" -L static
    fi
fi
build_targets=""
# After the 32-bit build: the 64-bit suite plays its recordings.
if build_suite wine64 "$build/win64" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"; then
    test_suite wine64 "$build/win64"
    if [ "$SPOOL_WINE32" != yes ] && [ -f "$build/win/bin/Spoolshift.exe" ]; then
        # The 32-bit modules' dialog texts, read as data by the 64-bit test.
        echo "== wine32-static: the 32-bit dialog texts, read by the 64-bit resource test"
        log="$build/logs/wine32-static-test.log"
        folder="Z:$(printf "%s" "$build/win/bin" | tr / '\\')"
        texts=0
        SPOOL_MODULE_FOLDER=$folder sh "$root/tools/wine-run.sh" "$build/win64/wineprefix" \
            "$build/win64/bin/resource_tests.exe" >"$log.texts" 2>&1 || texts=$?
        # In the form of ctest's lines, for the counts below.
        sed 's/^/0: /' "$log.texts" >>"$log"
        rm -f "$log.texts"
        if [ $texts -ne 0 ]; then
            grep -E "FAILED|Failure|wine: " "$log" | head -20
            echo "== wine32-static: TESTS FAILED (log: $log)"
            status=1
        fi
    fi
fi

# The release package, packed from the two sets just built and checked.
if [ -f "$build/win/bin/spool.exe" ] && [ -f "$build/win64/bin/spool.exe" ]; then
    echo "== package: pack and check the release zip"
    log="$build/logs/package-test.log"
    rm -rf "$build/package"
    if ! { PACKAGE_DIR="$build/package" sh "$root/tools/package.sh" --built "$build" &&
        sh "$root/tests/check_package.sh" "$build/package"/spoolcap-*-windows.zip; } >"$log" 2>&1; then
        grep -E "FAIL|rror" "$log" | head -20
        echo "== package: CHECKS FAILED (log: $log)"
        status=1
    fi
fi

echo
echo "== counts"
for name in native tsan wine32 wine32-static wine64 package; do
    log="$build/logs/$name-test.log"
    [ -f "$log" ] || continue
    ran=$(grep -E '^[0-9]+: \[==========\] [0-9]+ tests? from .* ran' "$log" | awk '{s += $3} END {print s + 0}')
    passed=$(grep -E '^[0-9]+: \[  PASSED  \] [0-9]+ test' "$log" | awk '{s += $5} END {print s + 0}')
    skipped=$(grep -E '^[0-9]+: \[  SKIPPED \] [0-9]+ test' "$log" | awk '{s += $5} END {print s + 0}')
    [ "$name" = package ] || echo "$name: $ran unit tests ran, $passed passed, $skipped skipped"
    grep -E '(integration|modules|package): [0-9]+ checks' "$log" | sed "s/^[0-9]*: /$name: /" || true
done
if [ "$SPOOL_WINE32" != yes ]; then
    echo "32-bit Windows suites did not run (unit, dialog and integration tests, the crossed playback): $SPOOL_WINE32_WHY"
fi
echo "the test command took $(($(date +%s) - begun)) s"
[ $status -eq 0 ] && echo "all tests passed" || echo "SOME TESTS FAILED"
exit $status
