#!/bin/sh
# Integration under Wine: Spoolcap registered as a real codec in front of the
# sample codec, reached by a host through the real msvfw32.
#
#   tests/wine/integration.sh BUILD_DIR
# BUILD_DIR is the Windows build (its bin/ holds the DLLs and vfwhost.exe).
set -u
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
bin=$build/bin
prefix=$build/wineprefix-integration
run="$here/../../tools/wine-run.sh $prefix"
. "$here/checks.sh"
. "$here/../../tools/wine-env.sh"

# A fresh prefix for every run.
rm -rf "$prefix"
drivers='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32'
$run reg add "$drivers" /v vidc.SMPL /d smplcodec.dll /f >/dev/null 2>&1
win=$prefix/drive_c/windows
sys=$win/system32
# The width of this build's programs, as spool names it.
case "${WINEARCH:-win32}" in win64) arch=x64 ;; *) arch=x86 ;; esac

# Spoolcap under the sample codec's name, the sample codec beside it.
cp "$bin/spoolcap.dll" "$sys/smplcodec.dll"
cp "$bin/samplecodec.dll" "$sys/smplcodec.dll.org"

host "$bin/vfwhost.exe" info SMPL smplcodec.dll.org
printf "%s\n" "$out" | sed 's/^/     /'
check "a host opens SMPL through Spoolcap and sees the sample codec's ICM_GETINFO" 0 $status

host "$bin/vfwhost.exe" list
printf "%s\n" "$out" | sed 's/^/     /'
check "the codec list shows SMPL with the sample codec's description" 1 \
    "$(printf "%s\n" "$out" | grep -c '^SMPL  smplcodec.dll  *Sample lossless run-length codec$')"

# The settings file is name.ini in the Windows directory.
check "no settings file: ICM_COMPRESS_BEGIN goes to the wrapped codec" -2 \
    "$($run "$bin/vfwhost.exe" begin smplcodec.dll | tr -d '\r')"
crlf "[Spoolcap]" "Enabled=1" > "$win/smplcodec.ini"
check "Enabled=1 in smplcodec.ini: unknown instance refused" -8 \
    "$($run "$bin/vfwhost.exe" begin smplcodec.dll | tr -d '\r')"
rm -f "$win/smplcodec.ini"

# Installed under a name without extension: name.org and name.ini.
cp "$bin/spoolcap.dll" "$sys/smplnoext"
cp "$bin/samplecodec.dll" "$sys/smplnoext.org"
crlf "[Spoolcap]" "Enabled=1" > "$win/smplnoext.ini"
check "installed without extension: loads smplnoext.org and reads smplnoext.ini" -8 \
    "$($run "$bin/vfwhost.exe" begin smplnoext. | tr -d '\r')"

# Without its .org library Spoolcap refuses to load.
rm -f "$sys/smplnoext.org"
check "without the .org library the driver does not load" 1 \
    "$($run "$bin/vfwhost.exe" begin smplnoext. >/dev/null 2>&1; echo $?)"

# Recording and playback through msvfw32 and avifil32, reference writing on.
frames=12
record_and_play() {
    # record_and_play TAG INI-LINES...
    tag=$1
    shift
    rm -rf "$prefix/drive_c/refs" "$prefix/drive_c/refs2" "$prefix/drive_c/frames"
    mkdir -p "$prefix/drive_c/refs" "$prefix/drive_c/refs2" "$prefix/drive_c/frames"
    crlf "[Spoolcap]" "BaseFile=C:\\refs\\take" "BaseFile2=C:\\refs2\\alt" "Enabled=1" "$@" > "$win/smplcodec.ini"

    host "$bin/vfwhost.exe" ic-record SMPL $frames 'C:\frames'
    printf "%s\n" "$out" | tail -3 | sed 's/^/     /'
    check "$tag: ICCompress through msvfw32 gives $frames reference records" 0 $status
    host "$bin/vfwhost.exe" ic-play SMPL $frames 'C:\frames'
    printf "%s\n" "$out" | sed 's/^/     /'
    check "$tag: ICDecompress of the records gives the original pictures" 0 $status

    host "$bin/vfwhost.exe" avi-record SMPL $frames 'C:\clip.avi'
    check "$tag: a compressed stream is written through avifil32" 0 $status
    host "$bin/vfwhost.exe" avi-play $frames 'C:\clip.avi'
    printf "%s\n" "$out" | tail -3 | sed 's/^/     /'
    check "$tag: the AVI's chunks are records and play back through AVIStreamGetFrame and ICDecompress" 0 $status
    host "$bin/avicheck.exe" 'C:\clip.avi' $frames
    printf "%s\n" "$out" | tail -2 | sed 's/^/     /'
    check "$tag: Spoolshift's engine loads the AVI and decodes its frames through Spoolcap" 0 $status
    avi=$prefix/drive_c/clip.avi
    probe=$(ffprobe -v error -show_entries stream=codec_tag_string,nb_frames -show_entries packet=size \
        -of compact "$avi" 2>&1)
    check "$tag: ffprobe reads the AVI: $frames packets of 276 bytes, codec SMPL" \
        "$frames:0:stream|codec_tag_string=SMPL|nb_frames=$frames" \
        "$(printf "%s\n" "$probe" | grep -c '^packet|size=276$'):$(printf "%s\n" "$probe" | grep -vc '^packet|size=276$\|^stream'):$(printf "%s\n" "$probe" | grep '^stream')"
}

# The AVI lost: each reference file of its run salvaged with Spoolmend's
# engine and played back through Spoolcap.
salvage_and_play() {
    # salvage_and_play TAG REFFILE FRAMES FIRST STEP [raw]
    tag=$1 ref=$2 n=$3 first=$4 step=$5 raw=${6:-}
    rm -f "$prefix/drive_c/clip.avi" "$prefix/drive_c/salvaged.avi"
    host "$bin/mendhost.exe" "$ref" 'C:\salvaged.avi' SMPL 15 $raw
    printf "%s\n" "$out" | sed 's/^/     /'
    check "$tag: the reference file salvaged into an AVI of $n records" "0 $n" "$status $(printf "%s\n" "$out" | sed -n 's/ frames of .*//p')"
    host "$bin/vfwhost.exe" avi-play $n 'C:\salvaged.avi' $first $step
    printf "%s\n" "$out" | tail -2 | sed 's/^/     /'
    check "$tag: the salvaged AVI plays back through Spoolcap, every frame the original picture" 0 $status
    probe=$(ffprobe -v error -select_streams v:0 -count_packets \
        -show_entries stream=codec_tag_string,width,height,r_frame_rate,nb_read_packets -of csv=p=0 \
        "$prefix/drive_c/salvaged.avi" 2>&1)
    check "$tag: ffprobe reads the salvaged AVI: codec, size, rate, frames" "SMPL,160,120,15/1,$n" "$probe"
}

record_and_play "plain"
ls "$prefix/drive_c/refs" | sed 's/^/     refs: /'
check "plain: two runs, two reference files" "take.000 take.001" "$(ls "$prefix/drive_c/refs" | tr '\n' ' ' | sed 's/ $//')"
salvage_and_play "plain" 'C:\refs\take.001' $frames 0 1
record_and_play "two series, background writes through a 64 MB queue, read-ahead, padding 10" \
    "BiFiled=1" "OverlapWrite=1" "WriteQueueMB=64" "OverlapRead=1" "Padding=10"
check "two series: both series have files" "2 2" \
    "$(ls "$prefix/drive_c/refs" | wc -l) $(ls "$prefix/drive_c/refs2" | wc -l)"
salvage_and_play "two series, first" 'C:\refs\take.001' $((frames / 2)) 0 2
salvage_and_play "two series, second" 'C:\refs2\alt.001' $((frames / 2)) 1 2
record_and_play "raw frames, padding 100" "NoCompress=1" "Padding=100"
salvage_and_play "raw frames" 'C:\refs\take.001' $frames 0 1 raw
rm -f "$win/smplcodec.ini"

# The reference files of a recording moved with Spoolshift's engine: on one
# drive, to a second drive (a D: of the prefix) with and without deleting
# the old files, and a copy aborted; each time the AVI plays back.
second=$build/second-drive
rm -rf "$second" "$prefix/drive_c/refs" "$prefix/drive_c/moved"
mkdir -p "$second" "$prefix/drive_c/refs" "$prefix/drive_c/moved"
ln -sfn "$second" "$prefix/dosdevices/d:"
play_back() {
    # play_back TAG AVI FRAMES
    host "$bin/vfwhost.exe" avi-play $3 "$2"
    printf "%s\n" "$out" | tail -2 | sed 's/^/     /'
    check "$1: the AVI plays back through Spoolcap, every frame the original picture" 0 $status
}
shift_files() {
    # shift_files TAG EXPECTED-STATUS AVI BASE [OPTIONS]
    tag=$1 want=$2
    shift 2
    host "$bin/shifthost.exe" "$@"
    printf "%s\n" "$out" | sed 's/^/     /'
    check "$tag: the engine's result" "$want" $status
}
crlf "[Spoolcap]" "BaseFile=C:\\refs\\take" "Enabled=1" > "$win/smplcodec.ini"
$run "$bin/vfwhost.exe" avi-record SMPL $frames 'C:\clip.avi' >/dev/null
# The stream library's frame decoder has a frame decoded, so its Spoolcap
# holds the reference file open: the move lets go of it first.
shift_files "moved on one drive" 0 'C:\clip.avi' 'C:\moved\cap' hold-frame
check "moved on one drive: a frame was decoded through the stream library" 1 \
    "$(printf "%s\n" "$out" | grep -c '^frame 0 decoded')"
check "moved on one drive: the file has its new name and no other" "cap.000 -" \
    "$(ls "$prefix/drive_c/moved" | tr '\n' ' ')-$(ls "$prefix/drive_c/refs" | tr '\n' ' ')"
play_back "moved on one drive" 'C:\clip.avi' $frames
shift_files "copied to D:" 0 'C:\clip.avi' 'D:\cap'
check "copied to D:: the copy is there, the old file too" "cap.000 cap.000" \
    "$(ls "$second" | tr '\n' ' ')$(ls "$prefix/drive_c/moved" | tr '\n' ' ' | sed 's/ $//')"
play_back "copied to D:" 'C:\clip.avi' $frames
shift_files "copied back to C: deleting the old file" 0 'C:\clip.avi' 'C:\moved\back' delete-old
check "copied back to C:: the old file on D: is gone" "" "$(ls "$second")"
play_back "copied back to C:" 'C:\clip.avi' $frames
# spool on the same recording: checked, resolved into an AVI that the
# wrapped codec plays alone, and checked again after its reference file was
# cut at frame 10.
export SPOOL_LANG=en
host "$bin/spool.exe" verify 'C:\clip.avi'
printf "%s\n" "$out" | sed 's/^/     /'
check "spool verify: every record names its frame" 0 $status
host "$bin/spool.exe" resolve 'C:\clip.avi' -o 'C:\resolved.avi'
check "spool resolve: the resolved AVI is written" "0 C:\resolved.avi: $frames frames resolved" "$status $out"
cp "$win/system32/smplcodec.dll" "$build/spoolcap-installed.dll"
cp "$win/system32/smplcodec.dll.org" "$win/system32/smplcodec.dll"
host "$bin/vfwhost.exe" avi-play $frames 'C:\resolved.avi'
printf "%s\n" "$out" | tail -3 | sed 's/^/     /'
check "spool resolve: the sample codec alone plays every frame of it, no record left" \
    "$frames chunks, 0 reference records, 0 reference files|AVIStreamGetFrame: $frames of $frames|ICDecompress: $frames of $frames" \
    "$(printf "%s\n" "$out" | grep -v '^frame ' | sed 's/ frames identical.*//' | tr '\n' '|' | sed 's/|$//')"
cp "$build/spoolcap-installed.dll" "$win/system32/smplcodec.dll"
host "$bin/spool.exe" scan 'C:\moved\back.000'
cut_at=$(printf "%s\n" "$out" | awk '$1 == "10" { print $2 }')
truncate -s "$cut_at" "$prefix/drive_c/moved/back.000"
host "$bin/spool.exe" verify -v 'C:\clip.avi'
check "spool verify after the file was cut at frame 10: problems found" 1 $status
check "spool verify: the first bad frame is frame 10" "frame 10: no frame header at the offset" \
    "$(printf "%s\n" "$out" | head -1 | cut -d: -f1-2)"
unset SPOOL_LANG
# A codec that ffmpeg decodes too: spool.exe installs Spoolcap in front of
# Wine's MS-RLE codec and turns reference writing on; palette pictures are
# recorded through avifil32, then spool on this machine verifies and resolves
# the AVI (C: mapped), ffmpeg decodes the resolved AVI into the original
# pictures, spool.exe moves the files, and a file cut at frame 10 is found.
# spool.exe uninstall then gives the codec back byte for byte, and recording
# makes ordinary frames again.
native_spool=$build/../native/bin/spool
if [ -x "$native_spool" ] && command -v ffmpeg >/dev/null; then
    sys=$win/system32
    cp "$sys/msrle32.dll" "$build/msrle32-before.dll"
    rm -f "$win/msrle32.ini"
    # Wine's own MS-RLE would be loaded in place of the file otherwise.
    export WINEDLLOVERRIDES="msrle32=n,b"
    export SPOOL_LANG=en
    host "$bin/spool.exe" install mrle
    check "spool.exe install mrle: Spoolcap stands in front of msrle32.dll" \
        "0 Spoolcap ($arch) now stands in front of mrle" "$status $(printf "%s\n" "$out" | head -1 | cut -d: -f1)"
    check "spool.exe install: the codec's own driver is msrle32.dll.org, byte for byte" 0 \
        "$(cmp -s "$sys/msrle32.dll.org" "$build/msrle32-before.dll"; echo $?)"
    host "$bin/spool.exe" install mrle
    check "spool.exe install mrle a second time: refused" 2 $status
    host "$bin/spool.exe" status
    check "spool.exe status: Spoolcap in front of mrle, reference writing off" \
        "Spoolcap in front|reference writing off" \
        "$(printf "%s\n" "$out" | grep -i -A1 '^mrle ' | sed -n 's/.*\(Spoolcap in front\).*/\1/p; s/.*\(reference writing o[nf]*\).*/\1/p' | tr '\n' '|' | sed 's/|$//')"
    rm -rf "$prefix/drive_c/mrle"
    mkdir -p "$prefix/drive_c/mrle"
    host "$bin/spool.exe" config mrle 'BaseFile=C:\mrle\take' Enabled=1
    check "spool.exe config mrle: reference writing on" 0 $status
    host "$bin/spool.exe" config mrle 'BaseFile=C:\mrlé\take'
    check "spool.exe config with a base name outside code page 932: refused, the base name kept" "2 1" \
        "$status $(grep -c '^BaseFile=C:\\mrle\\take' "$win/msrle32.ini")"
    unset SPOOL_LANG
    host "$bin/vfwhost.exe" avi-record8 MRLE 30 'C:\mrle.avi'
    check "MS-RLE through Spoolcap: 30 palette frames recorded" "0 30 palette frames written to C:\mrle.avi" "$status $out"
    host "$bin/vfwhost.exe" pictures8 30 'C:\mrle-pictures.raw'
    drive_c=$prefix/drive_c
    out=$(SPOOL_LANG=en "$native_spool" verify "$drive_c/mrle.avi" --map "C:\\=$drive_c" 2>&1)
    check "spool verify here: every record of the MS-RLE recording names its frame" "0" "$?"
    out=$(SPOOL_LANG=en "$native_spool" resolve "$drive_c/mrle.avi" --map "C:\\=$drive_c" -o "$build/mrle-resolved.avi" 2>&1)
    check "spool resolve here: the MS-RLE recording resolved" "0 $build/mrle-resolved.avi: 30 frames resolved" "$? $out"
    rm -f "$build/mrle-decoded.raw"
    ffmpeg -v error -i "$build/mrle-resolved.avi" -f rawvideo -pix_fmt bgr24 -y "$build/mrle-decoded.raw"
    check "ffmpeg decodes every frame of the resolved AVI into the original picture" 0 \
        "$(cmp -s "$build/mrle-decoded.raw" "$drive_c/mrle-pictures.raw"; echo $?)"
    host "$bin/spool.exe" move 'C:\mrle.avi' --base 'C:\mrle\moved'
    check "spool.exe move: the MS-RLE recording's file moved" 0 $status
    # A library over two drives: on C: a copy of the recording beside its
    # file, on D: a reference file that no AVI names.
    rm -rf "$build/drive-d"
    mkdir -p "$build/drive-d/archive"
    ln -sfn "$build/drive-d" "$prefix/dosdevices/d:"
    cp "$drive_c/mrle.avi" "$drive_c/mrle/copy.avi"
    cp "$drive_c/mrle/moved.000" "$build/drive-d/archive/old.000"
    export SPOOL_LANG=en
    host "$bin/spool.exe" library 'C:\mrle' 'D:\archive'
    unset SPOOL_LANG
    check "spool.exe library C:\mrle D:\archive: the copy's file is there, the file on D: is named by no AVI" "0 1 1" \
        "$status $(printf "%s\n" "$out" | grep -c '^  there    C:\\mrle\\moved.000$') $(printf "%s\n" "$out" | grep -c ' D:\\archive\\old.000$')"
    rm -f "$drive_c/mrle/copy.avi"
    out=$(SPOOL_LANG=en "$native_spool" verify "$drive_c/mrle.avi" --map "C:\\=$drive_c" 2>&1)
    check "spool verify here after the move: every record names its frame" "0" "$?"
    cut_at=$(SPOOL_LANG=en "$native_spool" scan "$drive_c/mrle/moved.000" | awk '$1 == "10" { print $2 }')
    truncate -s "$cut_at" "$drive_c/mrle/moved.000"
    out=$(SPOOL_LANG=en "$native_spool" verify -v "$drive_c/mrle.avi" --map "C:\\=$drive_c" 2>&1)
    status=$?
    check "spool verify here after the file was cut at frame 10: problems found from frame 10 on" \
        "1 frame 10: no frame header at the offset|20 bad" \
        "$status $(printf "%s\n" "$out" | head -1 | cut -d: -f1-2)|$(printf "%s\n" "$out" | sed -n 's/.* good, \([0-9]*\) bad.*/\1 bad/p')"
    export SPOOL_LANG=en
    host "$bin/spool.exe" uninstall mrle
    check "spool.exe uninstall mrle: msrle32.dll is the codec's own again, byte for byte, and no .org is left" \
        "0 0 no" "$status $(cmp -s "$sys/msrle32.dll" "$build/msrle32-before.dll"; echo $?) $([ -e "$sys/msrle32.dll.org" ] && echo yes || echo no)"
    unset SPOOL_LANG
    host "$bin/vfwhost.exe" avi-record8 MRLE 30 'C:\mrle-plain.avi'
    host "$bin/vfwhost.exe" avi-play 30 'C:\mrle-plain.avi'
    check "after uninstall, recording through MS-RLE makes ordinary frames" "30 chunks, 0 reference records" \
        "$(printf "%s\n" "$out" | grep ' chunks, ' | cut -d, -f1-2)"
    # spool.exe install and uninstall killed by the system after each step:
    # the next spool.exe status finishes or undoes what the killed run left,
    # byte for byte, and the codec records.
    export SPOOL_LANG=en
    for case in install:1:undone install:2:undone install:3:finished \
        uninstall:1:undone uninstall:2:undone uninstall:3:finished; do
        op=${case%%:*}
        step=${case#*:}
        step=${step%%:*}
        outcome=${case##*:}
        [ "$op" = uninstall ] && host "$bin/spool.exe" install mrle
        SPOOL_PAUSE_AFTER_STEP=$step $run "$bin/spool.exe" "$op" mrle > "$build/killed.txt" 2>&1 &
        killed=$!
        for _ in $(seq 600); do
            grep -q "paused after step $step" "$build/killed.txt" 2>/dev/null && break
            sleep 0.1
        done
        $run taskkill /f /im spool.exe > /dev/null 2>&1
        wait $killed
        journal=$([ -e "$sys/msrle32.dll.spoolcap-journal" ] && echo journal || echo "no journal")
        host "$bin/spool.exe" status
        settled=$(printf "%s\n" "$out" | grep -c "an interrupted $op was $outcome")
        # Spoolcap in front after a finished install or an undone uninstall.
        if [ "$op:$outcome" = install:finished ] || [ "$op:$outcome" = uninstall:undone ]; then
            files="$(cmp -s "$sys/msrle32.dll" "$bin/spoolcap.dll"; echo $?) $(cmp -s "$sys/msrle32.dll.org" "$build/msrle32-before.dll"; echo $?)"
        else
            files="$(cmp -s "$sys/msrle32.dll" "$build/msrle32-before.dll"; echo $?) $([ -e "$sys/msrle32.dll.org" ] && echo 1 || echo 0)"
        fi
        left=$(ls "$sys" | grep -c 'msrle32\.dll\.spoolcap')
        host "$bin/vfwhost.exe" avi-record8 MRLE 3 'C:\mrle-killed.avi'
        check "spool.exe $op killed by the system after step $step: $outcome by the next status, the files as they should be, the codec records" \
            "journal 1 0 0 0 0" "$journal $settled $files $left $status"
        if [ "$op:$outcome" = install:finished ] || [ "$op:$outcome" = uninstall:undone ]; then
            host "$bin/spool.exe" uninstall mrle
        fi
    done
    unset SPOOL_LANG
    unset WINEDLLOVERRIDES
    rm -f "$win/msrle32.ini"
else
    echo "skip MS-RLE through Spoolcap and ffmpeg: no native spool or no ffmpeg here"
fi
# A recording with sound as avifil32 writes it, its index listing one stream
# after the other: spool here sees every record, and the resolved AVI holds
# the packets, of both streams, of the plain recording of the same pictures
# and sound.
if [ -x "$native_spool" ] && command -v ffmpeg >/dev/null; then
    drive_c=$prefix/drive_c
    rm -rf "$drive_c/sound"
    mkdir -p "$drive_c/sound"
    crlf "[Spoolcap]" "BaseFile=C:\\sound\\take" "Enabled=1" > "$win/smplcodec.ini"
    host "$bin/vfwhost.exe" avi-record-sound SMPL 30 'C:\sound.avi'
    check "sound: 30 frames and their sound recorded through Spoolcap" "0 30 frames and sound written to C:\sound.avi" \
        "$status $out"
    crlf "[Spoolcap]" "Enabled=0" > "$win/smplcodec.ini"
    host "$bin/vfwhost.exe" avi-record-sound SMPL 30 'C:\plain.avi'
    check "sound: the plain recording of the same pictures and sound" 0 $status
    # avifil32's layout as the AVI layer reads it: every stream's chunks
    # are ffmpeg's packets, by place, size and key flag.
    for name in sound plain; do
        host "$bin/avicheck.exe" --chunks "C:\\$name.avi"
        printf "%s\n" "$out" > "$build/$name-layer.txt"
        ffprobe -v error -show_entries packet=stream_index,pos,size,flags -of csv=p=0 "$drive_c/$name.avi" |
            awk -F, '{ print $1, $3, $2, substr($4, 1, 1) }' | sort -s -n -k1,1 > "$build/$name-ffprobe.txt"
        check "sound: the AVI layer reads avifil32's $name.avi as ffmpeg does" "0 60 0" \
            "$status $(grep -c . "$build/$name-layer.txt") $(cmp -s "$build/$name-layer.txt" "$build/$name-ffprobe.txt"; echo $?)"
    done
    out=$(SPOOL_LANG=en "$native_spool" verify "$drive_c/sound.avi" --map "C:\\=$drive_c" 2>&1)
    check "sound: spool verify here finds every record" "0 30 records, 30 good" \
        "$? $(printf "%s\n" "$out" | sed -n 's/.*frames, \(30 records, 30 good\).*/\1/p')"
    out=$(SPOOL_LANG=en "$native_spool" resolve "$drive_c/sound.avi" --map "C:\\=$drive_c" -o "$build/sound-resolved.avi" 2>&1)
    check "sound: resolved, every index entry found" "0 $build/sound-resolved.avi: 30 frames resolved" "$? $out"
    ffmpeg -v error -i "$build/sound-resolved.avi" -map 0 -c copy -f framemd5 - | grep -v '^#' > "$build/sound-resolved.md5"
    ffmpeg -v error -i "$drive_c/plain.avi" -map 0 -c copy -f framemd5 - | grep -v '^#' > "$build/sound-plain.md5"
    check "sound: ffmpeg reads the plain recording's packets of both streams from the resolved AVI" "60 0" \
        "$(grep -c . "$build/sound-plain.md5") $(cmp -s "$build/sound-plain.md5" "$build/sound-resolved.md5"; echo $?)"
    cp "$build/sound-resolved.avi" "$drive_c/sound-resolved.avi"
    host "$bin/vfwhost.exe" avi-play 30 'C:\sound-resolved.avi'
    check "sound: avifil32 plays every frame of the resolved AVI, no record left" \
        "30 chunks, 0 reference records, 0 reference files|AVIStreamGetFrame: 30 of 30|ICDecompress: 30 of 30" \
        "$(printf "%s\n" "$out" | grep -v '^frame ' | sed 's/ frames identical.*//' | tr '\n' '|' | sed 's/|$//')"
    host "$bin/spool.exe" move 'C:\sound.avi' --base 'C:\sound\moved'
    check "sound: spool.exe moves its reference file" 0 $status
    out=$(SPOOL_LANG=en "$native_spool" verify "$drive_c/sound.avi" --map "C:\\=$drive_c" 2>&1)
    check "sound: after the move every record names its frame" "0" "$?"
    rm -f "$win/smplcodec.ini"
else
    echo "skip sound through avifil32: no native spool or no ffmpeg here"
fi
# Raw frames make a file of several 1 MiB chunks, whose copy is aborted.
crlf "[Spoolcap]" "BaseFile=C:\\refs\\raw" "Enabled=1" "NoCompress=1" > "$win/smplcodec.ini"
$run "$bin/vfwhost.exe" avi-record SMPL 40 'C:\raw.avi' >/dev/null
shift_files "a copy aborted" 1 'C:\raw.avi' 'D:\aborted' abort-after=1
check "a copy aborted: nothing of the copy is left on D:" "" "$(ls "$second")"
play_back "a copy aborted" 'C:\raw.avi' 40
rm -f "$win/smplcodec.ini" "$prefix/dosdevices/d:"
rm -rf "$second"

# Under load, with every background switch on.
stress="$bin/stresshost.exe"
rm -rf "$prefix/drive_c/refs" "$prefix/drive_c/refs2"
mkdir -p "$prefix/drive_c/refs" "$prefix/drive_c/refs2"
crlf "[Spoolcap]" "BaseFile=C:\\refs\\take" "BaseFile2=C:\\refs2\\alt" "Enabled=1" "BiFiled=1" \
    "OverlapWrite=1" "OverlapRead=1" > "$win/smplcodec.ini"
host "$stress" cycle SMPL 1000 smplcodec.dll
printf "%s\n" "$out" | sed 's/^/     /'
check "1000 times opened, recorded, played back and freed: no handle left behind, driver unloaded each time" 0 $status
for hics in 1 2; do
    host "$stress" preview SMPL 20000 $hics
    printf "%s\n" "$out" | sed 's/^/     /'
    check "20000 frames played back right after they were compressed, through $hics instance(s)" 0 $status
done
host "$stress" threads SMPL 4 130
printf "%s\n" "$out" | sed 's/^/     /'
check "4 threads starting a recording every 2 frames: no reference file shared, every frame plays back" 0 $status
rm -rf "$prefix/drive_c/refs" "$prefix/drive_c/refs2"

# A disk that fills up and stays full: a 20 MB file system as drive E:.
full=$build/fulldisk
mkdir -p "$full"
umount "$full" 2>/dev/null || true
if mount -t tmpfs -o size=20m tmpfs "$full" 2>/dev/null; then
    ln -sfn "$full" "$prefix/dosdevices/e:"
    crlf "[Spoolcap]" "BaseFile=E:\\take" "Enabled=1" "OverlapWrite=1" > "$win/smplcodec.ini"
    host "$stress" fill SMPL 1064
    printf "%s\n" "$out" | sed 's/^/     /'
    lost=$(printf "%s\n" "$out" | sed -n 's/^lost //p')
    check "a full disk: at most the one frame in flight is missing behind a returned record" 1 \
        "$([ -n "$lost" ] && [ "$lost" -le 1 ] && echo 1 || echo 0)"
    check "a full disk: frames that failed left no empty reference file" 0 "$(find "$full" -type f -empty | wc -l)"
    umount "$full"
else
    echo "skip a full disk: no tmpfs can be mounted here"
fi
rm -f "$win/smplcodec.ini"

wine_stop "$prefix"
echo "wine integration: $checks checks, $failed failed"
[ $failed -eq 0 ]
