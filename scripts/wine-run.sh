#!/bin/sh
# Runs one Windows program under Wine in the build's own prefix (CTest's emulator).
# Usage: scripts/wine-run.sh <build-dir> <program.exe> [arguments...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$1; shift
. "$here/wine-env.sh"
ostrelWineEnv "$build"
[ -f "$WINEPREFIX/.ostrel-prefix" ] || "$here/wine-prefix.sh" "$build" >&2

xvfbPid=""
if [ -z "${DISPLAY:-}" ]; then
    . "$here/xvfb.sh"
    startXvfb
fi
# Wine's helper processes inherit pipes and would hold CTest's open: go through a file.
output=$(mktemp)
status=0
wine "$@" >"$output" 2>&1 </dev/null || status=$?
cat "$output"
rm -f "$output"
[ -z "$xvfbPid" ] || stopXvfb
exit $status
