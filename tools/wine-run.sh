#!/bin/sh
# Runs a Windows program under 32-bit Wine in a prefix of its own, made on
# first use: Japanese locale (ANSI code page 932), no debug output, no Mono
# or Gecko prompts, a Japanese font and replacements for the dialog fonts.
# Windows need an X display: without DISPLAY the program runs on a virtual
# one (Xvfb) for the length of the command.
#
#   tools/wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
set -e
prefix=$1
shift
export WINEPREFIX="$prefix"
# A 64-bit prefix (WINEARCH=win64) runs the 64-bit build.
export WINEARCH=${WINEARCH:-win32}
export WINEDEBUG=${WINEDEBUG:--all}
# Overrides of the caller come after these.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
# LC_ALL, not only LANG: with LANG alone this Wine keeps code page 1252.
export LC_ALL=ja_JP.UTF-8
export LANG=ja_JP.UTF-8

if [ -z "${DISPLAY:-}" ]; then
    # The program and the prefix's desktop live on a display of their own,
    # which goes with the command; so must the prefix's processes.
    status=0
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$prefix" "$@" || status=$?
    wineserver -k 2>/dev/null || true
    exit $status
fi

if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    fonts="$prefix/drive_c/windows/Fonts"
    mkdir -p "$fonts"
    for f in /usr/share/fonts/opentype/ipafont-gothic/*.ttf /usr/share/fonts/opentype/ipafont-mincho/*.ttf; do
        [ -f "$f" ] && cp "$f" "$fonts/"
    done
    # The dialogs ask for fonts of a Japanese Windows; the IPA fonts stand in.
    reg=$(mktemp)
    {
        printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
        printf '"ＭＳ Ｐ明朝"="IPAPMincho"\r\n"ＭＳ 明朝"="IPAMincho"\r\n'
        printf '"ＭＳ Ｐゴシック"="IPAPGothic"\r\n"ＭＳ ゴシック"="IPAGothic"\r\n'
        printf '"MS UI Gothic"="IPAPGothic"\r\n"Courier New"="IPAGothic"\r\n'
        # Without a window manager Wine draws the captions and frames itself.
        printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n'
    } | iconv -f UTF-8 -t CP932 > "$reg"
    cp "$reg" "$prefix/drive_c/fonts.reg"
    rm -f "$reg"
    wine regedit /S 'C:\fonts.reg' >/dev/null 2>&1
    wineserver -w
    rm -f "$prefix/drive_c/fonts.reg"
fi
exec wine "$@"
