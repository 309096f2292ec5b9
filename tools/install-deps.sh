#!/bin/sh
# Installs what the build, the tests and the demo need on a fresh Debian
# machine; does nothing when everything is there.
set -eu
packages="cmake make g++ googletest libbenchmark-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64
          fonts-wine xvfb xauth locales
          fonts-ipafont-gothic fonts-ipafont-mincho ffmpeg gstreamer1.0-tools gstreamer1.0-plugins-good mencoder zip unzip
          clang libclang-rt-14-dev"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
# Wine takes the code page of file names from the locale: without the
# Japanese one generated, a name with Japanese characters cannot be made.
japanese_locale() {
    if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
        echo "generating the ja_JP.UTF-8 locale"
        $sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
    fi
}
missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -z "$missing" ]; then
    japanese_locale
    exit 0
fi
echo "installing:$missing"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
# A mirror in the middle of a sync serves index files that do not match
# their release file: try again after a pause.
updated=yes
tries=0
until $sudo apt-get update -qq; do
    tries=$((tries + 1))
    if [ "$tries" -ge 4 ]; then
        echo "apt-get update failed $tries times"
        updated=no
        break
    fi
    sleep $((tries * 20))
done
install() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" $missing >/dev/null
}
if ! install; then
    [ "$updated" = no ] || exit 1
    # The lists that did come may not agree (one architecture's security
    # updates without the other's, which multiarch packages must match):
    # install from the release's own archive alone, leaving the security
    # archive out of this one install.
    echo "installing without the security archive, whose lists did not all come"
    only=$(mktemp -d)
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        if [ -f "$f" ]; then grep -v 'security' "$f" >"$only/$(basename "$f").list" || true; fi
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        if [ -f "$f" ]; then awk 'BEGIN { RS = ""; ORS = "\n\n" } !/security/' "$f" >"$only/$(basename "$f")"; fi
    done
    rc=0
    install -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$only" || rc=$?
    rm -rf "$only"
    [ "$rc" -eq 0 ] || exit "$rc"
fi
japanese_locale
