#!/bin/sh
# Checks the built deliverables of one width without running them: each is
# of the build's kind (PE32 or PE32+) and imports system DLLs only; Spoolcap
# exports the one name DriverProc and imports KERNEL32, msvcrt and USER32
# alone, and the programs export nothing.
#   tests/check_module.sh OBJDUMP PE32|PE32+ SPOOLCAP [PROGRAM...]
set -u
objdump=$1 kind=$2
shift 2
checks=0
failed=0
say() {
    echo "$1"
    checks=$((checks + 1))
    case $1 in FAIL*) failed=$((failed + 1)) ;; esac
}

check() {
    # check MODULE ALLOWED-IMPORTS EXPECTED-EXPORTS
    module=$1 allowed=$2 want=$3
    name=$(basename "$module")
    dump=$("$objdump" -p "$module" 2>&1) || { say "FAIL cannot read $module: $dump"; return; }
    magic=$(printf "%s\n" "$dump" | sed -n 's/^Magic.*(\(.*\))/\1/p')
    [ "$magic" = "$kind" ] && say "ok   $name is $kind" || say "FAIL $name is [$magic], not $kind"
    exports=$(printf "%s\n" "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | tr '\n' ' ')
    [ "$exports" = "$want" ] && say "ok   $name exports [$want]" || say "FAIL $name exports [$exports], not [$want]"
    imports=$(printf "%s\n" "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
    bad=""
    for dll in $imports; do
        case " $allowed " in
        *" $dll "*) ;;
        *) bad="$bad $dll" ;;
        esac
    done
    [ -z "$bad" ] && say "ok   $name imports $imports" || say "FAIL $name imports$bad"
}

# Hosts load and free the driver often: it takes in nothing that would
# outlive an unload.
check "$1" "KERNEL32.DLL MSVCRT.DLL USER32.DLL" "DriverProc "
shift
system="KERNEL32.DLL MSVCRT.DLL USER32.DLL GDI32.DLL COMDLG32.DLL COMCTL32.DLL SHELL32.DLL"
system="$system MSVFW32.DLL AVIFIL32.DLL WINMM.DLL ADVAPI32.DLL"
for program in "$@"; do
    check "$program" "$system" ""
done
echo "$kind modules: $checks checks, $failed failed"
[ $failed -eq 0 ]
