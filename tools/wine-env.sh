# The one way the scripts start Wine, sourced by each of them.
#
# Debian's /usr/bin/wine and wineboot start the 32-bit loader whenever it is
# installed, and that loader hands 64-bit programs on only once it runs
# itself; on a machine whose kernel runs 64-bit programs only, it cannot.
# So a 64-bit prefix is always started through the 64-bit loader itself, and
# a 32-bit prefix through the 32-bit loader, and whether 32-bit programs run
# at all is asked once.
#
#   wine_loader ARCH       prints the loader of win32 or win64
#   wine_can_run32         true when 32-bit Windows programs run here; the
#                          first call probes and sets SPOOL_WINE32 (yes/no)
#                          and SPOOL_WINE32_WHY (what was tried, what it said)
#                          in the environment, so that every script started
#                          from this one shares the answer
#   wine_prefix_arch DIR   the arch a prefix was made with (win32, win64), or
#                          $WINEARCH when there is no prefix yet
#   wine_exec ARGS...      runs ARGS with the loader of $WINEARCH in $WINEPREFIX
#   wine_stop DIR          ends the wineserver of a prefix
#
# SPOOL_WINE64_ONLY=1 takes this machine for one without 32-bit programs.

wine_loader() {
    case $1 in
    win64)
        for candidate in /usr/lib/wine/wine64 /usr/lib64/wine/wine64 "$(command -v wine64 2>/dev/null)"; do
            [ -n "$candidate" ] && [ -x "$candidate" ] && { echo "$candidate"; return 0; }
        done
        ;;
    *)
        for candidate in /usr/lib/wine/wine /usr/lib/i386-linux-gnu/wine/wine "$(command -v wine 2>/dev/null)"; do
            [ -n "$candidate" ] && [ -x "$candidate" ] && { echo "$candidate"; return 0; }
        done
        ;;
    esac
    return 1
}

wine_can_run32() {
    if [ -z "${SPOOL_WINE32:-}" ]; then
        if [ "${SPOOL_WINE64_ONLY:-0}" != 0 ]; then
            SPOOL_WINE32=no
            SPOOL_WINE32_WHY="SPOOL_WINE64_ONLY=$SPOOL_WINE64_ONLY takes this machine for one that runs 64-bit programs only"
        elif ! loader=$(wine_loader win32); then
            SPOOL_WINE32=no
            SPOOL_WINE32_WHY="no 32-bit Wine loader is installed (looked for /usr/lib/wine/wine and wine on PATH)"
        elif said=$("$loader" --version 2>&1); then
            SPOOL_WINE32=yes
            SPOOL_WINE32_WHY="$loader --version: $said"
        else
            SPOOL_WINE32=no
            # The shell's own prefix ("script: line: ") says nothing here.
            said=$(printf "%s" "$said" | tail -1 | sed 's/^[^:]*: [0-9][0-9]*: //')
            SPOOL_WINE32_WHY="$loader --version failed: $said"
            case $said in
            *"Exec format error"*)
                SPOOL_WINE32_WHY="$SPOOL_WINE32_WHY (this kernel runs 64-bit programs only)"
                ;;
            esac
        fi
        export SPOOL_WINE32 SPOOL_WINE32_WHY
    fi
    [ "$SPOOL_WINE32" = yes ]
}

wine_prefix_arch() {
    if [ -f "$1/system.reg" ]; then
        arch=$(sed -n 's/^#arch=//p' "$1/system.reg" | head -1)
        echo "${arch:-win32}"
    else
        echo "${WINEARCH:-win32}"
    fi
}

wine_exec() {
    if [ "$WINEARCH" = win32 ] && ! wine_can_run32; then
        echo "wine: cannot start a 32-bit Windows program here: $SPOOL_WINE32_WHY" >&2
        return 126
    fi
    loader=$(wine_loader "$WINEARCH") || {
        echo "wine: no Wine loader for $WINEARCH is installed (tools/install-deps.sh installs it)" >&2
        return 127
    }
    # The loader that a program of the other width is handed to is found
    # from this one.
    WINELOADER=$loader "$loader" "$@"
}

wine_stop() {
    WINEPREFIX=$1 wineserver -k 2>/dev/null || true
}
