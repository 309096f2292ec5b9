#!/bin/sh
# Integration of Spoolcap for 64-bit hosts under 64-bit Wine: the 64-bit
# Spoolcap in front of the 64-bit sample codec in system32, the 32-bit one in
# front of the 32-bit sample codec in syswow64. A 64-bit host records through
# msvfw32 and avifil32 into reference files and plays back; then the AVI and
# the reference files of each build play back in the host of the other.
#
#   tests/wine/integration64.sh BUILD64_DIR [BUILD32_DIR]
# Without a 32-bit build (or its host), or where 32-bit programs cannot run,
# the crossed runs are skipped, and the script says why.
set -u
build=$(cd "$1" && pwd)
build32=${2:-$build/../win}
here=$(cd "$(dirname "$0")" && pwd)
bin=$build/bin
bin32=$build32/bin
prefix=$build/wineprefix-integration
export WINEARCH=win64
run="$here/../../tools/wine-run.sh $prefix"
. "$here/checks.sh"
. "$here/../../tools/wine-env.sh"

rm -rf "$prefix"
drivers='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32'
# Both views of the registry: 64-bit hosts read one, 32-bit hosts the other.
$run reg add "$drivers" /v vidc.SMPL /d smplcodec.dll /f /reg:64 >/dev/null 2>&1
$run reg add "$drivers" /v vidc.SMPL /d smplcodec.dll /f /reg:32 >/dev/null 2>&1
win=$prefix/drive_c/windows
cp "$bin/spoolcap.dll" "$win/system32/smplcodec.dll"
cp "$bin/samplecodec.dll" "$win/system32/smplcodec.dll.org"
crossed=""
if ! wine_can_run32; then
    why="32-bit programs cannot run here: $SPOOL_WINE32_WHY"
elif [ ! -f "$bin32/vfwhost.exe" ] || [ ! -f "$bin32/spoolcap.dll" ]; then
    why="no 32-bit build at $build32"
else
    cp "$bin32/spoolcap.dll" "$win/syswow64/smplcodec.dll"
    cp "$bin32/samplecodec.dll" "$win/syswow64/smplcodec.dll.org"
    crossed=yes
fi
frames=12
mkdir -p "$prefix/drive_c/refs64" "$prefix/drive_c/refs32"

# Recorded and played by a 64-bit host.
crlf "[Spoolcap]" "BaseFile=C:\\refs64\\take" "Enabled=1" "OverlapWrite=1" "OverlapRead=1" "Padding=10" > "$win/smplcodec.ini"
host "$bin/vfwhost.exe" avi-record SMPL $frames 'C:\clip64.avi'
check "64-bit host: a compressed stream is written through avifil32" "0 $frames frames written to C:\\clip64.avi" \
    "$status $out"
check "64-bit host: the frames went to reference files" 1 "$(ls "$prefix/drive_c/refs64" | wc -l)"
host "$bin/vfwhost.exe" avi-play $frames 'C:\clip64.avi'
printf "%s\n" "$out" | tail -3 | sed 's/^/     /'
check "64-bit host: the AVI's chunks are records and every frame plays back" 0 $status

# A library named like the wrapped codec in the host's own folder, which the
# library search would find first, is not taken for it.
mkdir -p "$prefix/drive_c/host"
cp "$bin/vfwhost.exe" "$prefix/drive_c/host/"
cp "$bin/nodriver.dll" "$prefix/drive_c/host/smplcodec.dll.org"
host "$prefix/drive_c/host/vfwhost.exe" avi-play $frames 'C:\clip64.avi'
check "64-bit host: a decoy of the wrapped codec beside the host is not loaded" 0 $status

if [ -n "$crossed" ]; then
    # The same bytes from either build: each plays the other's recording.
    host "$bin32/vfwhost.exe" avi-play $frames 'C:\clip64.avi'
    printf "%s\n" "$out" | tail -3 | sed 's/^/     /'
    check "32-bit host plays the 64-bit recording frame for frame" 0 $status
    crlf "[Spoolcap]" "BaseFile=C:\\refs32\\take" "Enabled=1" "OverlapWrite=1" "OverlapRead=1" "Padding=10" > "$win/smplcodec.ini"
    host "$bin32/vfwhost.exe" avi-record SMPL $frames 'C:\clip32.avi'
    check "32-bit host: a compressed stream is written through avifil32" 0 $status
    host "$bin/vfwhost.exe" avi-play $frames 'C:\clip32.avi'
    printf "%s\n" "$out" | tail -3 | sed 's/^/     /'
    check "64-bit host plays the 32-bit recording frame for frame" 0 $status
    check "both builds wrote the same reference bytes" 0 \
        "$(cmp -s "$prefix/drive_c/refs64/take.000" "$prefix/drive_c/refs32/take.000"; echo $?)"

    # Both builds read the one settings file: a 32-bit and a 64-bit host
    # recording at the same time share its base name, and each recording
    # gets files of its own.
    mkdir -p "$prefix/drive_c/shared"
    crlf "[Spoolcap]" "BaseFile=C:\\shared\\take" "Enabled=1" "OverlapWrite=1" "OverlapRead=1" > "$win/smplcodec.ini"
    # One display for both, so that neither run's end takes the other's
    # Wine down with it.
    statuses=$(xvfb-run -a -s "-screen 0 640x480x24 -nolisten tcp" sh -c '
        "$1" "$2" "$3" avi-record SMPL 60 "C:\\both32.avi" > "$5/host32-output.txt" 2>&1 &
        pid=$!
        "$1" "$2" "$4" avi-record SMPL 60 "C:\\both64.avi" > "$5/host64-output.txt" 2>&1
        status64=$?
        wait $pid
        echo "$? $status64"' sh "$here/../../tools/wine-run.sh" "$prefix" "$bin32/vfwhost.exe" "$bin/vfwhost.exe" \
        "$build")
    wine_stop "$prefix"
    check "recording at once: both hosts wrote their AVI" "0 0" "$statuses"
    check "recording at once: each recording has its own reference file" 2 \
        "$(ls "$prefix/drive_c/shared" | grep -c '^take\.00[01]$')"
    host "$bin/vfwhost.exe" avi-play 60 'C:\both32.avi'
    check "recording at once: the 32-bit recording plays in the 64-bit host" 0 $status
    host "$bin32/vfwhost.exe" avi-play 60 'C:\both64.avi'
    check "recording at once: the 64-bit recording plays in the 32-bit host" 0 $status
else
    echo "skip the crossed runs: $why"
fi
rm -f "$win/smplcodec.ini"

wine_stop "$prefix"
echo "64-bit and crossed integration: $checks checks, $failed failed"
[ $failed -eq 0 ]
