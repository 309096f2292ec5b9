# The helpers of the Wine integration scripts, sourced by them: counted
# checks, CR LF lines, and running a Windows program. The script sets $run
# (the Wine runner with its prefix) and $build (where output goes).
checks=0
failed=0

check() {
    # check DESCRIPTION EXPECTED ACTUAL
    checks=$((checks + 1))
    if [ "$2" = "$3" ]; then
        echo "ok   $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1: expected [$2], got [$3]"
    fi
}

crlf() { printf '%s\r\n' "$@"; }

# Runs a Windows program: its output, without carriage returns, in $out and
# its exit status in $status (a pipeline would give its last part's status).
host() {
    $run "$@" > "$build/host-output.txt"
    status=$?
    out=$(tr -d '\r' < "$build/host-output.txt")
}
