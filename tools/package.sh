#!/bin/sh
# The release package: dist/spoolcap-VERSION-windows.zip with
#   x86/ and x64/   every program of the 32-bit and the 64-bit set;
#   README.txt, README.ja.txt, LICENSE.txt
#                   the READMEs and the license as a Windows user opens them:
#                   UTF-8 with a byte order mark, lines ending in CR LF;
#   docs/           the pictures the READMEs show;
#   SHA256SUMS.txt  the SHA-256 of every other file;
# every module stripped of its debug data, which goes to
# dist/spoolcap-VERSION-symbols.zip (x86/ and x64/, one .debug per module).
#
#   tools/package.sh                  builds both sets (release builds in
#                                     build/win and build/win64), then packs
#   tools/package.sh --built BUILD    packs the sets already built in
#                                     BUILD/win and BUILD/win64
# PACKAGE_DIR chooses the folder of the zip (dist/ by default).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${PACKAGE_DIR:-$root/dist}
version=$(sed -n 's/^#define PRODUCT_VERSION "\(.*\)"$/\1/p' "$root/scaffold/version.h")
programs="spoolcap.dll Spoolmend.exe Spoolshift.exe Vfwprobe.exe spool.exe"
case "${1:-}" in
    --built) build=$(cd "${2:?build folder}" && pwd) ;;
    "")
        "$root/tools/install-deps.sh"
        for set in win:mingw-i686.cmake win64:mingw-x86_64.cmake; do
            dir=$build/${set%%:*}
            echo "== building $dir"
            # With debug data, which goes to the symbols zip.
            cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -g -DNDEBUG" \
                -DCMAKE_TOOLCHAIN_FILE="$root/cmake/${set#*:}" >"$dir.log" 2>&1
            cmake --build "$dir" -j"$(nproc)" >>"$dir.log" 2>&1 || { tail -30 "$dir.log"; exit 1; }
        done
        ;;
    *) echo "usage: $0 [--built BUILD]" >&2; exit 2 ;;
esac
stage=$(mktemp -d)
symbols=$(mktemp -d)
trap 'rm -rf "$stage" "$symbols"' EXIT
mkdir -p "$stage/x86" "$stage/x64" "$stage/docs" "$symbols/x86" "$symbols/x64" "$out"
# The zips are written from inside the staging folders.
out=$(cd "$out" && pwd)
# Each module without its debug data, which goes to a file of its own in
# the symbols zip (named in the module, for a debugger to find).
for program in $programs; do
    for set in x86:win:i686 x64:win64:x86_64; do
        name=${set%%:*} rest=${set#*:}
        objcopy=${rest#*:}-w64-mingw32-objcopy
        cp "$build/${rest%%:*}/bin/$program" "$stage/$name/"
        "$objcopy" --only-keep-debug "$stage/$name/$program" "$symbols/$name/$program.debug"
        (cd "$symbols/$name" && "$objcopy" --strip-debug --add-gnu-debuglink="$program.debug" "$stage/$name/$program")
    done
done
# A text as Windows' editors open it: a byte order mark, CR LF.
windows_text() {
    { printf '\357\273\277'; sed 's/\r$//; s/$/\r/' "$1"; } >"$2"
}
windows_text "$root/README.md" "$stage/README.txt"
windows_text "$root/README.ja.md" "$stage/README.ja.txt"
windows_text "$root/LICENSE" "$stage/LICENSE.txt"
cp "$root"/docs/*.png "$stage/docs/"
(cd "$stage" && find . -type f ! -name SHA256SUMS.txt | sed 's|^\./||' | LC_ALL=C sort |
    xargs sha256sum | sed 's/$/\r/' >SHA256SUMS.txt)
zip=$out/spoolcap-$version-windows.zip
rm -f "$zip"
(cd "$stage" && zip -X -q -r "$zip" .)
echo "$zip: $(unzip -Z1 "$zip" | grep -vc '/$') files, $(wc -c <"$zip") bytes"
symbolszip=$out/spoolcap-$version-symbols.zip
rm -f "$symbolszip"
(cd "$symbols" && zip -X -q -r "$symbolszip" .)
echo "$symbolszip: $(unzip -Z1 "$symbolszip" | grep -vc '/$') files, $(wc -c <"$symbolszip") bytes"
