#!/bin/sh
# Converts a resource script kept in UTF-8 to code page 932 for windres:
#   tools/rc-cp932.sh IN.rc OUT.rc
# windres reads a backslash inside a string as the start of an escape even
# when it is the second byte of a double-byte character (能 is 0x94 0x5C):
# such a byte is written twice, which windres reads back as one.
set -eu
iconv -f UTF-8 -t CP932 "$1" |
    perl -0777 -pe 's/([\x81-\x9F\xE0-\xFC])([\x40-\x7E\x80-\xFC])/$2 eq "\\" ? "$1\\\\" : "$1$2"/ge' > "$2.tmp"
mv "$2.tmp" "$2"
