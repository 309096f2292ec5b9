#!/bin/sh
# The main job: builds the Windows deliverables into dist/ and shows them at
# work under Wine, with Spoolcap installed in front of the sample codec:
# the codec listed and opened through Spoolcap, then a synthetic clip recorded
# into reference files and played back.
#
#   tools/demo.sh                    the above, in text
#   tools/demo.sh --windows          also shows each program's window on the
#                                    current X display, one after the other,
#                                    until it is closed
#   tools/demo.sh --screenshots DIR  also saves a screenshot of each window,
#                                    taken on a virtual display (Xvfb)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
frames=${FRAMES:-60}
windows=""
shots=""
case "${1:-}" in
    --windows) windows=yes ;;
    --screenshots) shots=$(mkdir -p "${2:?directory}" && cd "$2" && pwd) ;;
    "") ;;
    *) echo "usage: $0 [--windows | --screenshots DIR]" >&2; exit 2 ;;
esac
"$root/tools/install-deps.sh"
. "$root/tools/wine-env.sh"

# The same steps with either set: the 32-bit one where 32-bit programs run,
# the 64-bit one elsewhere.
if wine_can_run32; then
    echo "== the demo runs the 32-bit set (dist/) under 32-bit Wine"
    set=win dist=$root/dist
    export WINEARCH=win32
else
    echo "== the demo runs the 64-bit set (dist/x64/) under 64-bit Wine: 32-bit programs cannot run here: $SPOOL_WINE32_WHY"
    set=win64 dist=$root/dist/x64
    export WINEARCH=win64
fi
# A step that fails says which it was, not only its exit status.
step="starting"
trap 'code=$?; [ $code -eq 0 ] || echo "== the demo stopped: $step failed (exit status $code)" >&2' EXIT

build_set() {
    # build_set BUILD_DIR TOOLCHAIN DIST_DIR
    step="building $1 (log: $1.log)"
    mkdir -p "$1" "$3"
    { cmake -S "$root" -B "$1" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" &&
        cmake --build "$1" -j"$(nproc)"; } >"$1.log" 2>&1
    cp "$1/bin/spoolcap.dll" "$1/bin/Vfwprobe.exe" "$1/bin/Spoolmend.exe" "$1/bin/Spoolshift.exe" \
        "$1/bin/spool.exe" "$3/"
}
echo "== building the 32-bit Windows deliverables into dist/"
build_set "$build/win" mingw-i686.cmake "$root/dist"
echo "== building the 64-bit Windows deliverables into dist/x64/"
build_set "$build/win64" mingw-x86_64.cmake "$root/dist/x64"
echo "== building spool for this machine"
step="building spool for this machine"
cmake -S "$root" -B "$build/cli" -DCMAKE_BUILD_TYPE=Release -DSPOOL_TESTS=OFF >/dev/null
cmake --build "$build/cli" -j"$(nproc)" --target spool >/dev/null
spool=$build/cli/bin/spool
ls -l "$root/dist" "$root/dist/x64"
bin=$build/$set/bin

# Windows of the demo go to a virtual display of its own, unless they are
# to be shown on the current one.
if [ -z "$windows" ]; then
    . "$root/tools/display.sh"
    start_virtual_display $((90 + $$ % 100)) 1024x768x24
fi

echo "== installing Spoolcap in front of the sample codec (vidc.SMPL = smplcodec.dll)"
step="making a $WINEARCH Wine prefix and registering the codec"
prefix=$build/wineprefix-demo
run="$root/tools/wine-run.sh $prefix"
rm -rf "$prefix"
$run reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32' \
    /v vidc.SMPL /d smplcodec.dll /f >/dev/null
win=$prefix/drive_c/windows
cp "$bin/samplecodec.dll" "$win/system32/smplcodec.dll"
step="spool.exe install SMPL (Spoolcap taken from beside spool.exe in $dist)"
said=$($run "$dist/spool.exe" install SMPL)
printf '%s\n' "$said" | tr -d '\r' | iconv -f CP932 -t UTF-8
said=$($run "$dist/spool.exe" status)
printf '%s\n' "$said" | tr -d '\r' | iconv -f CP932 -t UTF-8
host="$bin/vfwhost.exe"
step="the recording and playback"

echo "== installed video codecs, each opened through msvfw32"
$run "$host" list | tr -d '\r' | iconv -f CP932 -t UTF-8
echo "== SMPL opened through Spoolcap"
$run "$host" info SMPL smplcodec.dll.org | tr -d '\r'

printf '%s\n' "== recording $frames frames of 160x120 through msvfw32, reference files C:\\refs\\take.*"
mkdir -p "$prefix/drive_c/refs" "$prefix/drive_c/frames"
step="spool.exe config SMPL: reference writing on"
said=$($run "$dist/spool.exe" config SMPL 'BaseFile=C:\refs\take' Enabled=1 OverlapWrite=1 OverlapRead=1 Padding=10)
printf '%s\n' "$said" | tr -d '\r' | iconv -f CP932 -t UTF-8
step="the recording and playback"
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

printf '%s\n' "== the AVI is lost: salvaging C:\\refs\\take.001 with Spoolmend's engine and playing the salvaged AVI"
rm -f "$prefix/drive_c/clip.avi"
$run "$bin/mendhost.exe" 'C:\refs\take.001' 'C:\salvaged.avi' SMPL 30000/1001 | tr -d '\r'
$run "$host" avi-play "$frames" 'C:\salvaged.avi' | tr -d '\r' | tail -3
ffprobe -v error -show_entries stream=codec_tag_string,width,height,r_frame_rate,nb_frames -of compact \
    "$prefix/drive_c/salvaged.avi"

printf '%s\n' "== moving the recording's reference files to a second drive (D:) with Spoolshift's engine"
mkdir -p "$build/demo-second-drive"
rm -rf "$build/demo-second-drive"/*
mkdir -p "$build/demo-second-drive/archive"
ln -sfn "$build/demo-second-drive" "$prefix/dosdevices/d:"
$run "$host" avi-record SMPL "$frames" 'C:\clip.avi' | tr -d '\r'
$run "$bin/shifthost.exe" 'C:\clip.avi' 'D:\archive\take' delete-old | tr -d '\r'
ls -l "$build/demo-second-drive/archive"
$run "$host" avi-play "$frames" 'C:\clip.avi' | tr -d '\r' | tail -3

echo "== spool on this machine: the recording's reference files (D: mapped), checked, resolved"
$spool refs "$prefix/drive_c/clip.avi" --map "D:\\=$build/demo-second-drive"
$spool verify "$prefix/drive_c/clip.avi" --map "D:\\=$build/demo-second-drive"
$spool resolve "$prefix/drive_c/clip.avi" --map "D:\\=$build/demo-second-drive" -o "$root/dist/clip-resolved.avi"
ffprobe -v error -show_entries stream=codec_tag_string,width,height,nb_frames -of compact "$root/dist/clip-resolved.avi"
echo "== the resolved AVI played through the sample codec alone: spool.exe uninstall SMPL, play, install again"
cp "$root/dist/clip-resolved.avi" "$prefix/drive_c/resolved.avi"
step="spool.exe uninstall SMPL"
said=$($run "$dist/spool.exe" uninstall SMPL)
printf '%s\n' "$said" | tr -d '\r' | iconv -f CP932 -t UTF-8
step="playing the resolved AVI without Spoolcap"
$run "$host" avi-play "$frames" 'C:\resolved.avi' | tr -d '\r' | tail -3
step="spool.exe install SMPL again"
said=$($run "$dist/spool.exe" install SMPL)
printf '%s\n' "$said" | tr -d '\r' | iconv -f CP932 -t UTF-8

if [ "$set" = win ]; then
    echo "== the 64-bit Spoolcap in a 64-bit prefix: a 64-bit host records and plays back, and each build plays the other's recording"
    step="the 64-bit and crossed playback"
    sh "$root/tests/wine/integration64.sh" "$build/win64" "$build/win"
else
    echo "== the 32-bit and 64-bit builds playing each other's recordings need 32-bit Wine: not shown here"
fi
step="showing the windows"

if [ -n "$shots" ]; then
    # shoot NAME SECONDS: the screen after SECONDS, without the pointer,
    # cut to what is not the black of the empty screen (the window).
    shoot() {
        sleep "$2"
        ffmpeg -loglevel error -y -f x11grab -draw_mouse 0 -video_size 1024x768 -i "$DISPLAY" -frames:v 1 \
            "$shots/$1-screen.png"
        crop=$(ffmpeg -loglevel info -loop 1 -i "$shots/$1-screen.png" -frames:v 5 \
            -vf cropdetect=limit=0:round=2:reset=1 -f null - 2>&1 |
            sed -n 's/.*crop=\([0-9:]*\).*/\1/p' | tail -1)
        ffmpeg -loglevel error -y -i "$shots/$1-screen.png" ${crop:+-vf crop=$crop} "$shots/$1.png"
        rm -f "$shots/$1-screen.png"
        echo "saved $shots/$1.png"
    }
fi
# show_program EXE SHOT SECONDS TITLE HOST-ARGS...: runs a dialog program,
# drives it through the host program, and with screenshots saves one after
# SECONDS and closes the window of that title; else waits until it is closed.
show_program() {
    exe=$1 name=$2 delay=$3 title=$4
    shift 4
    $run "$exe" &
    pid=$!
    $run "$host" "$@" | tr -d '\r'
    if [ -n "$shots" ]; then
        shoot "$name" "$delay"
        $run "$host" close "$title" >/dev/null
    fi
    wait $pid
}
if [ -n "$windows$shots" ]; then
    echo "== Spoolcap's settings dialog (ICConfigure on SMPL)"
    if [ -n "$shots" ]; then
        $run "$host" configure SMPL 8 >/dev/null &
        shoot spoolcap-settings 6
        wait $!
    else
        $run "$host" configure SMPL 0 | tr -d '\r'
    fi
    echo "== Vfwprobe"
    show_program "$dist/Vfwprobe.exe" vfwprobe 2 "Vfwprobe 1.04" vfwprobe-get q
    printf '%s\n' "== Spoolmend with C:\\refs\\take.001 scanned"
    # Run from C:\, where it keeps its Spoolmend.ini.
    cp "$dist/Spoolmend.exe" "$prefix/drive_c/"
    # The codec chosen last time: SMPL, whose frames the preview decodes.
    printf '[Last]\r\nHandler=%u\r\n' 1280331091 > "$prefix/drive_c/Spoolmend.ini"
    show_program "$prefix/drive_c/Spoolmend.exe" spoolmend 3 "Spoolmend 1.04 - C:\\refs\\take.001" \
        mend-open 'C:\refs\take.001'
    printf '%s\n' "== Spoolshift with C:\\clip.avi opened and its reference files on D: detected"
    show_program "$dist/Spoolshift.exe" spoolshift 2 "Spoolshift 1.04" shift-open 'C:\clip.avi'
fi
wine_stop "$prefix"
