#!/bin/bash
# Checks that RIFF and AVI files are parsed and laid out in one place, the
# AVI layer (avi/): no product code elsewhere walks chunks with the
# multimedia file I/O, steps over chunks by their sizes, pads them, or reads
# or writes the OpenDML index structures. The platform's stand-in (its own
# multimedia I/O), the tests, the benchmarks and the fuzz targets are not
# product code that reads AVIs.
#
#   tools/check-avi-layer.sh [SOURCE-ROOT]
#
# Prints each offending line and exits 1 when there is one.
set -u
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root" || exit 2
dirs="codec cli lister mover salvage scaffold"
# What only a parser or a layout writer does:
#   the multimedia I/O's chunk walking and making;
#   a size and its pad byte ("8 + cb + (cb & 1)"), or a pad byte written
#   after data of odd size;
#   the OpenDML index structures, whose one reader and writer are the layer.
patterns=(
    'mmio(Descend|Ascend|CreateChunk)[[:space:]]*\('
    '\+[[:space:]]*\([[:alnum:]_>.-]+(\[[0-9]+\])?[[:space:]]*&[[:space:]]*1\)'
    '&[[:space:]]*1\)[[:space:]]*(Put|AviOutPut|WriteFile|mmioWrite)[[:space:]]*\('
    'ODML(INDEXHEADER|SUPERENTRY|STDENTRY)'
)
status=0
for pattern in "${patterns[@]}"; do
    # scaffold/odml.h holds the structures themselves.
    found=$(grep -rnE --include='*.cpp' --include='*.h' "$pattern" $dirs | grep -v '^scaffold/odml\.h:')
    if [ -n "$found" ]; then
        echo "RIFF or AVI parsing outside avi/ ($pattern):"
        echo "$found"
        status=1
    fi
done
[ $status = 0 ] && echo "RIFF and AVI files are parsed and laid out in avi/ only"
exit $status
