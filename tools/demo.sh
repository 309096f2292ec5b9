#!/bin/sh
# The main job: builds the Windows deliverables into dist/ and shows them at
# work under Wine, with Spoolcap installed in front of the sample codec.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh"

echo "== building the Windows deliverables"
cmake -S "$root" -B "$build/win" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build/win" -j"$(nproc)" >/dev/null
mkdir -p "$root/dist"
cp "$build/win/bin/spoolcap.dll" "$root/dist/"
ls -l "$root/dist"

echo "== installing Spoolcap in front of the sample codec (vidc.SMPL = smplcodec.dll)"
prefix=$build/wineprefix-demo
run="$root/tools/wine-run.sh $prefix"
rm -rf "$prefix"
$run reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32' \
    /v vidc.SMPL /d smplcodec.dll /f >/dev/null 2>&1
sys=$prefix/drive_c/windows/system32
cp "$root/dist/spoolcap.dll" "$sys/smplcodec.dll"
cp "$build/win/bin/samplecodec.dll" "$sys/smplcodec.dll.org"

echo "== installed video codecs, each opened through msvfw32"
$run "$build/win/bin/vfwhost.exe" list | tr -d '\r' | iconv -f CP932 -t UTF-8
echo "== SMPL opened through Spoolcap"
$run "$build/win/bin/vfwhost.exe" info SMPL smplcodec.dll.org | tr -d '\r'
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
