# Sourced by the scripts whose Windows programs open windows: starts a
# virtual display of their own, points DISPLAY at it, and stops it when the
# script ends.
#   start_virtual_display NUMBER WIDTHxHEIGHTxDEPTH
start_virtual_display() {
    Xvfb ":$1" -screen 0 "$2" -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    trap 'kill $xvfb 2>/dev/null || true' EXIT
    sleep 1
    export DISPLAY=":$1"
}
