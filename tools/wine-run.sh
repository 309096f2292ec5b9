#!/bin/sh
# Runs a Windows program under 32-bit Wine in a prefix of its own, made on
# first use: Japanese locale (ANSI code page 932), no debug output, no Mono
# or Gecko prompts.
#
#   tools/wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
set -e
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# LC_ALL, not only LANG: with LANG alone this Wine keeps code page 1252.
export LC_ALL=ja_JP.UTF-8
export LANG=ja_JP.UTF-8
if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
exec wine "$@"
