#!/bin/bash
# Mutation testing of the product code: applies each mutation of a list to
# a copy of the sources, one at a time, rebuilds the native test build
# (AddressSanitizer and UndefinedBehaviorSanitizer) and runs the unit tests.
# A mutant is killed when a test fails (or hangs past the time limit), and
# survives when every test still passes. Prints each mutant's fate and the
# score. Slow: run it by hand, not in CI.
#
#   tools/mutate.sh [LIST] [NAME-PATTERN]
#
# LIST (default tools/mutations.txt) holds blocks of three lines:
#   ## NAME  what the mutant breaks
#   - the exact text to change (found exactly once in the file named below)
#   + the text that replaces it
# preceded by a line "@ path/of/the/file" that holds for the blocks after
# it. In both texts "\n" stands for a line break. NAME-PATTERN (a grep -E
# pattern) picks some mutants by name. MUTATE_CHECK=1 only checks that each
# mutation applies, without building.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
list=${1:-$root/tools/mutations.txt}
pattern=${2:-.}
work=${MUTATE_DIR:-$root/build/mutate}
limit=${MUTATE_TIMEOUT:-300}
tests=${MUTATE_TESTS:-spoolcap_tests}

# A copy of the tracked and new files, so that the working tree is never
# touched.
rm -rf "$work/src"
mkdir -p "$work/src" "$work/logs"
(cd "$root" && git ls-files -co --exclude-standard -z | tar --null -T - -cf -) | tar -xf - -C "$work/src"
# Newer than anything a run that was cut short left in the build.
find "$work/src" -type f -exec touch {} +
[ "${MUTATE_CHECK:-0}" = 1 ] || cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE=Debug -DSPOOL_SANITIZE=ON >"$work/logs/configure.log" 2>&1 ||
    { echo "configure failed"; exit 2; }

build() { cmake --build "$work/build" -j"$(nproc)" --target $tests >"$work/logs/build.log" 2>&1 </dev/null 3<&-; }
run_tests() {
    for t in $tests; do
        (cd "$work/build/bin" && timeout "$limit" "./$t" --gtest_brief=1) >"$work/logs/test-$t.log" 2>&1 </dev/null 3<&- || return 1
    done
    return 0
}

if [ "${MUTATE_CHECK:-0}" != 1 ]; then
    echo "== baseline"
    build || { echo "the unmutated sources do not build"; exit 2; }
    run_tests || { echo "the unmutated sources fail their tests"; exit 2; }
fi

killed=0 survived=0 unbuilt=0 unapplied=0
survivors=""
file="" name="" before="" after=""
apply_and_run() {
    local path="$work/src/$file"
    cp "$path" "$path.orig"
    local count
    count=$(BEFORE="$before" perl -0777 -ne '$b = $ENV{BEFORE}; $b =~ s/\\n/\n/g; $n = () = /\Q$b\E/g; print $n' "$path")
    if [ "$count" != 1 ]; then
        echo "NOT APPLIED  $name (found $count times in $file)"
        unapplied=$((unapplied + 1))
        rm -f "$path.orig"
        return
    fi
    if [ "${MUTATE_CHECK:-0}" = 1 ]; then
        rm -f "$path.orig"
        return
    fi
    BEFORE="$before" AFTER="$after" perl -0777 -i -pe \
        '$b = $ENV{BEFORE}; $a = $ENV{AFTER}; $b =~ s/\\n/\n/g; $a =~ s/\\n/\n/g; s/\Q$b\E/$a/' "$path"
    if ! build; then
        echo "NO BUILD     $name"
        unbuilt=$((unbuilt + 1))
    elif run_tests; then
        echo "SURVIVED     $name"
        survived=$((survived + 1))
        survivors="$survivors $name"
    else
        echo "KILLED       $name"
        killed=$((killed + 1))
    fi
    mv "$path.orig" "$path"
    touch "$path"
}

# The list is read on a descriptor of its own: the builds and tests must not
# take lines from it.
while IFS= read -r line <&3 || [ -n "$line" ]; do
    case $line in
    "@ "*) file=${line#@ } ;;
    "## "*) name=${line#\#\# }; name=${name%%  *}; desc=${line#*  } ;;
    "- "*) before=${line#- } ;;
    "+ "* | "+")
        after=${line#+}
        after=${after# }
        if printf '%s\n' "$name" | grep -qE "$pattern"; then apply_and_run; fi
        ;;
    esac
done 3<"$list"
# Put the last mutated file back into the build.
[ "${MUTATE_CHECK:-0}" = 1 ] || build >/dev/null 2>&1

total=$((killed + survived))
echo
echo "killed $killed, survived $survived, did not build $unbuilt, not applied $unapplied"
[ $total -gt 0 ] && echo "score: $((100 * killed / total))% of $total mutants killed"
[ -n "$survivors" ] && echo "survivors:$survivors"
exit 0
