#!/bin/sh
# Kills relocations at random moments, RUNS times (500 by default), and
# checks after each that opening the AVI again loses nothing: every record
# names an existing file holding its frame. The test command runs a short
# slice of this (40 kills).
#   tools/killtest.sh [RUNS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug -DSPOOL_SANITIZE=ON >/dev/null
cmake --build "$build/native" -j"$(nproc)" --target mover_tests >/dev/null
cd "$build/native/bin"
SPOOL_KILL_RUNS=${1:-500} ./mover_tests --gtest_filter='ShiftFaults.RelocationsKilledAtRandomMomentsLoseNothing'
