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
checks=0
failed=0

check() {
    # check DESCRIPTION EXPECTED ACTUAL
    checks=$((checks + 1))
    if [ "$2" = "$3" ]; then
        echo "ok   $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1: expected [$2], got [$3]"
    fi
}

crlf() { printf '%s\r\n' "$@"; }

# A fresh prefix for every run.
rm -rf "$prefix"
drivers='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32'
$run reg add "$drivers" /v vidc.SMPL /d smplcodec.dll /f >/dev/null 2>&1
win=$prefix/drive_c/windows
sys=$win/system32

# Spoolcap under the sample codec's name, the sample codec beside it.
cp "$bin/spoolcap.dll" "$sys/smplcodec.dll"
cp "$bin/samplecodec.dll" "$sys/smplcodec.dll.org"

out=$($run "$bin/vfwhost.exe" info SMPL smplcodec.dll.org | tr -d '\r')
status=$?
echo "$out" | sed 's/^/     /'
check "a host opens SMPL through Spoolcap and sees the sample codec's ICM_GETINFO" 0 $status

out=$($run "$bin/vfwhost.exe" list | tr -d '\r')
echo "$out" | sed 's/^/     /'
check "the codec list shows SMPL with the sample codec's description" 1 \
    "$(echo "$out" | grep -c '^SMPL  smplcodec.dll  *Sample lossless run-length codec$')"

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

wineserver_kill() { WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; }
wineserver_kill
echo "wine integration: $checks checks, $failed failed"
[ $failed -eq 0 ]
