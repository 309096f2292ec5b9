#!/bin/sh
# The main job: builds the Windows deliverables into dist/ and shows them at
# work under Wine, with Spoolcap installed in front of the sample codec:
# the codec listed and opened through Spoolcap, then a synthetic clip recorded
# into reference files and played back.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
frames=${FRAMES:-60}
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
win=$prefix/drive_c/windows
cp "$root/dist/spoolcap.dll" "$win/system32/smplcodec.dll"
cp "$build/win/bin/samplecodec.dll" "$win/system32/smplcodec.dll.org"
host="$build/win/bin/vfwhost.exe"

echo "== installed video codecs, each opened through msvfw32"
$run "$host" list | tr -d '\r' | iconv -f CP932 -t UTF-8
echo "== SMPL opened through Spoolcap"
$run "$host" info SMPL smplcodec.dll.org | tr -d '\r'

printf '%s\n' "== recording $frames frames of 160x120 through msvfw32, reference files C:\\refs\\take.*"
mkdir -p "$prefix/drive_c/refs" "$prefix/drive_c/frames"
printf '[Spoolcap]\r\nBaseFile=C:\\refs\\take\r\nEnabled=1\r\nOverlapWrite=1\r\nOverlapRead=1\r\nPadding=10\r\n' \
    > "$win/smplcodec.ini"
$run "$host" ic-record SMPL "$frames" 'C:\frames' | tr -d '\r' | tail -4
echo "== playing them back through ICDecompress"
$run "$host" ic-play SMPL "$frames" 'C:\frames' | tr -d '\r'
echo "== recording an AVI through avifil32 and playing it back"
$run "$host" avi-record SMPL "$frames" 'C:\clip.avi' | tr -d '\r'
$run "$host" avi-play "$frames" 'C:\clip.avi' | tr -d '\r' | tail -3
echo "== reference files"
ls -l "$prefix/drive_c/refs"
echo "== the AVI as ffprobe sees it"
ffprobe -v error -show_entries stream=codec_tag_string,width,height,nb_frames -of compact "$prefix/drive_c/clip.avi"
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
