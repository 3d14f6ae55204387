#!/bin/sh
# Runs one Windows program under Wine in the build's own prefix (CTest's emulator), or in the
# prefix that OSTREL_WINEPREFIX names (a second one, e.g. at another DPI).
# Usage: scripts/wine-run.sh <build-dir> <program.exe> [arguments...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$1; shift
. "$here/wine-env.sh"
ostrelWineEnv "$build" "${OSTREL_WINEPREFIX:-}"
[ -f "$WINEPREFIX/.ostrel-prefix" ] || "$here/wine-prefix.sh" "$build" --prefix "$WINEPREFIX" >&2

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
