#!/bin/sh
# Runs a Windows program under Wine in a prefix of its own, made on first
# use: Japanese locale (ANSI code page 932), no debug output, no Mono
# or Gecko prompts, a Japanese font and replacements for the dialog fonts.
# Windows need an X display: without DISPLAY the program runs on a virtual
# one (Xvfb) for the length of the command.
#
#   tools/wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
# A new prefix is 32-bit unless WINEARCH=win64; a prefix that exists keeps
# the width it was made with. A 64-bit prefix runs programs of either width.
set -e
prefix=$1
shift
. "$(dirname "$0")/wine-env.sh"
export WINEPREFIX="$prefix"
WINEARCH=$(wine_prefix_arch "$prefix")
export WINEARCH
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
    wine_stop "$prefix"
    exit $status
fi

if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    # What wineboot says goes to a file: the processes it leaves running
    # would hold a pipe open.
    if ! wine_exec wineboot -i >"$prefix.wineboot.log" 2>&1; then
        echo "wine: could not make the $WINEARCH prefix $prefix with $(wine_loader "$WINEARCH" || echo wine) wineboot -i:" >&2
        tail -5 "$prefix.wineboot.log" >&2
        rm -rf "$prefix" "$prefix.wineboot.log"
        exit 126
    fi
    rm -f "$prefix.wineboot.log"
    wineserver -w
    fonts="$prefix/drive_c/windows/Fonts"
    mkdir -p "$fonts"
    # Marlett draws the title bars' buttons; without it they show letters.
    for f in /usr/share/fonts/opentype/ipafont-gothic/*.ttf /usr/share/fonts/opentype/ipafont-mincho/*.ttf \
        /usr/share/wine/fonts/marlett.ttf; do
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
    wine_exec regedit /S 'C:\fonts.reg' >/dev/null 2>&1
    wineserver -w
    rm -f "$prefix/drive_c/fonts.reg"
fi
wine_exec "$@"
