#!/bin/sh
# Benchmarks one frame of the progress page during a download, as WM_PAINT paints it (back buffer,
# chrome, side panel, page, BitBlt) into a target of the window's size at a DPI (780 x 500 at 96)
# under Wine; prints the median, minimum
# and maximum milliseconds per frame; then the same with the side panel painted in every frame
# instead of copied from its cache, and for the panel alone. Not a test: figures only.
# Usage: tests/bench/bench-frame.sh [frames (500)] [dpi (96)]   on build/test or $OSTREL_BUILD
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${OSTREL_BUILD:-$top/build/test}
frames=${1:-500}
dpi=${2:-96}
cmake --build "$build" -j2 --target frame_bench >/dev/null
build=$(cd "$build" && pwd)
. "$top/scripts/wine-env.sh"
ostrelWineEnv "$build"
"$top/scripts/wine-prefix.sh" "$build" --persist

xvfbPid=""
if [ -z "${DISPLAY:-}" ]; then
    . "$top/scripts/xvfb.sh"
    startXvfb
fi
out=$(mktemp)
cleanUp() {
    wineserver -k 2>/dev/null || true
    [ -z "$xvfbPid" ] || stopXvfb
    rm -f "$out"
}
trap cleanUp EXIT INT TERM
wine "$build/tests/frame_bench.exe" "$frames" "$dpi" >"$out" 2>&1 </dev/null || { cat "$out" >&2; exit 1; }

value() { sed -n "s/^$1=//p" "$out" | tr -d '\r'; }
printf 'progress page mid-download, %s frames of %s x %s (%s DPI) under Wine\n' "$(value frames)" \
    "$(value width)" "$(value height)" "$dpi"
row() { printf '%-26s median %7s ms   min %7s ms   max %7s ms\n' "$1" \
    "$(value "$2_median_ms")" "$(value "$2_min_ms")" "$(value "$2_max_ms")"; }
row "frame" frame
row "frame, panel not cached" uncached
row "side panel alone" panel
