#!/bin/sh
# Benchmarks the package download against the local update service over loopback HTTPS: a large
# random package fetched in turn by downloadFile (which hashes it as it writes it), by a bare WinHTTP
# loop with the same 64 KiB buffer, and by native curl + sha256sum; prints the medians, the ratios
# and the peak working set of the downloadFile run. Not a test: figures only.
# Usage: tests/bench/bench-download.sh [size-MB (200)] [rounds (3)]   on build/test or $OSTREL_BUILD
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${OSTREL_BUILD:-$top/build/test}
sizeMb=${1:-200}
rounds=${2:-3}
if [ "${OSTREL_IN_NETNS:-}" != 1 ]; then
    cmake --build "$build" -j2 --target download_bench >/dev/null
    OSTREL_IN_NETNS=1 OSTREL_BUILD=$build exec unshare --net "$0" "$@"
fi
ip link set lo up
build=$(cd "$build" && pwd)
. "$top/scripts/wine-env.sh"
ostrelWineEnv "$build"

work=$(mktemp -d "$build/bench.XXXXXX")
package=bench-package.bin
cleanUp() {
    "$top/backend/service.sh" stop "$build" || true
    wineserver -k 2>/dev/null || true
    rm -rf "$work" "$build/service-root/packages/$package"
}
trap cleanUp EXIT INT TERM
"$top/backend/service.sh" start "$build"
"$top/scripts/wine-prefix.sh" "$build" --persist

head -c $((sizeMb * 1024 * 1024)) /dev/urandom >"$build/service-root/packages/$package"
expected=$(sha256sum "$build/service-root/packages/$package" | cut -d' ' -f1)
url=https://localhost/packages/$package
bench="$build/tests/download_bench.exe"

# value <file> <key>: the number after "key=" in the program's output.
value() { sed -n "s/^$2=//p" "$1" | tr -d '\r'; }
now() { date +%s.%N; }
record() { echo "$2" >>"$work/$1"; }
median() { sort -n "$work/$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

round=1
while [ $round -le "$rounds" ]; do
    out="$work/bare.out"
    wine "$bench" bare "$url" "$(winepath -w "$work/bare.bin")" >"$out" 2>&1 || { cat "$out" >&2; exit 1; }
    record bare "$(value "$out" bare_s)"
    record barePeak "$(value "$out" peak_mb)"
    rm -f "$work/bare.bin"

    out="$work/download.out"
    wine "$bench" download "$url" "$(winepath -w "$work/download.bin")" >"$out" 2>&1 || { cat "$out" >&2; exit 1; }
    [ "$(value "$out" sha256)" = "$expected" ] || { echo "downloadFile: wrong digest" >&2; exit 1; }
    record download "$(value "$out" download_s)"
    record downloadPeak "$(value "$out" peak_mb)"
    record startPeak "$(value "$out" start_peak_mb)"
    rm -f "$work/download.bin"

    start=$(now)
    curl -sS --cacert "$build/testca/ca.pem" -o "$work/curl.bin" "$url"
    middle=$(now)
    digest=$(sha256sum "$work/curl.bin" | cut -d' ' -f1)
    end=$(now)
    [ "$digest" = "$expected" ] || { echo "curl: wrong digest" >&2; exit 1; }
    record curl "$(awk "BEGIN { print $middle - $start }")"
    record sha256sum "$(awk "BEGIN { print $end - $middle }")"
    rm -f "$work/curl.bin"
    round=$((round + 1))
done

awk -v size="$sizeMb" -v rounds="$rounds" \
    -v download="$(median download)" -v bare="$(median bare)" \
    -v curl="$(median curl)" -v sum="$(median sha256sum)" \
    -v peak="$(median downloadPeak)" -v startPeak="$(median startPeak)" -v barePeak="$(median barePeak)" '
function row(name, seconds) { printf "%-28s %7.2f s  %7.1f MB/s\n", name, seconds, size / seconds }
BEGIN {
    printf "package %d MB over loopback HTTPS, medians of %d rounds\n", size, rounds
    row("downloadFile with its hash", download)
    row("bare WinHTTP loop", bare)
    row("curl", curl)
    row("sha256sum", sum)
    printf "download+hash / bare loop          %.3f\n", download / bare
    printf "download+hash / curl+sha256sum     %.3f\n", download / (curl + sum)
    printf "peak working set: downloadFile run %.1f MB (%.1f MB before it), bare loop run %.1f MB\n",
        peak, startPeak, barePeak
}'
