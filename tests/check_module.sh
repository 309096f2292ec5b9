#!/bin/sh
# Checks a built Spoolcap module: its kind (PE32 or PE32+), the one export
# DriverProc, and imports of system DLLs only.
#   tests/check_module.sh OBJDUMP MODULE PE32|PE32+
set -u
objdump=$1 module=$2 kind=$3
dump=$("$objdump" -p "$module") || { echo "FAIL cannot read $module"; exit 1; }
failed=0
magic=$(printf "%s\n" "$dump" | sed -n 's/^Magic.*(\(.*\))/\1/p')
[ "$magic" = "$kind" ] && echo "ok   $module is $kind" || { echo "FAIL $module is [$magic], not $kind"; failed=1; }
exports=$(printf "%s\n" "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | tr '\n' ' ')
[ "$exports" = "DriverProc " ] && echo "ok   the one export is DriverProc" || { echo "FAIL exports: [$exports]"; failed=1; }
imports=$(printf "%s\n" "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
for dll in $imports; do
    case $dll in
    KERNEL32.DLL | MSVCRT.DLL | USER32.DLL) ;;
    *) echo "FAIL imports $dll"; failed=1 ;;
    esac
done
[ $failed -eq 0 ] && echo "ok   imports: $imports"
exit $failed
