#!/bin/sh
# Checks the release package: its list of files, the kind of each program
# of each set, the checksums, and the READMEs and license as Windows text
# (byte order mark, CR LF, valid UTF-8), the Japanese one read back as
# UTF-8 with its headings.
#
#   tests/check_package.sh ZIP
set -u
zip=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine/checks.sh"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

programs="Spoolmend.exe Spoolshift.exe Vfwprobe.exe spool.exe spoolcap.dll"
want=$( {
    for set in x86 x64; do for program in $programs; do echo "$set/$program"; done; done
    echo README.txt; echo README.ja.txt; echo LICENSE.txt; echo SHA256SUMS.txt
    for picture in spoolcap-settings spoolmend spoolshift vfwprobe; do echo "docs/$picture.png"; done
} | LC_ALL=C sort | tr '\n' ' ')
check "the zip holds both sets, both READMEs, the license, the checksums and the pictures" "$want" \
    "$(unzip -Z1 "$zip" | grep -v '/$' | LC_ALL=C sort | tr '\n' ' ')"
unzip -q "$zip" -d "$dir"
kinds() {
    for program in $programs; do
        x86_64-w64-mingw32-objdump -f "$dir/$1/$program" | sed -n 's/.*file format \(.*\)/\1/p'
    done | sort -u | tr '\n' ' '
}
check "x86/ holds 32-bit programs only" "pei-i386 " "$(kinds x86)"
check "x64/ holds 64-bit programs only" "pei-x86-64 " "$(kinds x64)"
check "every file matches its SHA-256 in SHA256SUMS.txt" "0 $(unzip -Z1 "$zip" | grep -v '/$' | grep -vc SHA256SUMS)" \
    "$(cd "$dir" && tr -d '\r' <SHA256SUMS.txt | sha256sum -c --quiet >/dev/null 2>&1; echo $?) $(wc -l <"$dir/SHA256SUMS.txt" | tr -d ' ')"
for text in README.txt README.ja.txt LICENSE.txt; do
    file=$dir/$text
    check "$text: a byte order mark, every line ending in CR LF, valid UTF-8" "efbbbf 0 0" \
        "$(head -c 3 "$file" | od -An -tx1 | tr -d ' \n') $(tail -c +4 "$file" | grep -c -v "$(printf '\r')\$") \
$(iconv -f UTF-8 -t UTF-16LE "$file" >/dev/null 2>&1; echo $?)"
done
# Each module: its version resource (FileVersion 1.04 of Spoolcap, as
# UTF-16 texts), no debug data, and for the programs the manifest that runs
# them as the user who starts them.
version=$(sed -n 's/^#define PRODUCT_VERSION "\(.*\)"$/\1/p' "$here/../scaffold/version.h")
resources() {
    for program in $programs; do
        file=$dir/$1/$program
        strings -el "$file" | grep -c -x -e FileVersion -e "$version" -e Spoolcap -e OriginalFilename -e "$program" |
            tr '\n' ' '
        objdump_=$2-w64-mingw32-objdump
        "$objdump_" -h "$file" | grep -c ' \.debug_' | tr '\n' ' '
        case $program in *.exe) strings "$file" | grep -c 'level="asInvoker"' ;; *) echo 0 ;; esac
    done | tr '\n' '|'
}
for set in x86:i686 x64:x86_64; do
    check "${set%%:*}/: each module's version resource, no debug data, the programs' manifests" \
        "7 0 1|7 0 1|7 0 1|7 0 1|7 0 0|" "$(resources "${set%%:*}" "${set#*:}")"
done
symbolszip=$(dirname "$zip")/spoolcap-$version-symbols.zip
check "the symbols zip holds the debug data of every module of both sets" \
    "$(for set in x64 x86; do for program in $programs; do echo "$set/$program.debug"; done; done | LC_ALL=C sort | tr '\n' ' ')" \
    "$(unzip -Z1 "$symbolszip" 2>/dev/null | grep -v '/$' | LC_ALL=C sort | tr '\n' ' ')"
check "README.txt speaks of the zip's own folders" "1 0" \
    "$(grep -c '`x86/` holds the 32-bit set' "$dir/README.txt") $(grep -c 'Every program comes in two sets: `dist/`' "$dir/README.txt")"
check "README.ja.txt reads back as Japanese: its headings" \
    "# Spoolcap 1.04 (日本語の説明)|## インストール|## 録画する|## AVI を失ったとき (Spoolmend)|## 参照ファイルを移す (Spoolshift)|## コマンドライン (spool)" \
    "$(tail -c +4 "$dir/README.ja.txt" | tr -d '\r' | iconv -f UTF-8 -t UTF-8 | grep -E '^# |^## (インストール|録画|AVI|参照|コマンド)' | tr '\n' '|' | sed 's/|$//')"
check "the READMEs are those of the sources" "0 0" \
    "$(tail -c +4 "$dir/README.ja.txt" | tr -d '\r' | cmp -s - "$here/../README.ja.md"; echo $?) \
$(tail -c +4 "$dir/README.txt" | tr -d '\r' | cmp -s - "$here/../README.md"; echo $?)"
echo "package: $checks checks, $failed failed"
[ "$failed" -eq 0 ]
