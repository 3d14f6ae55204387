#!/bin/sh
# Times the update check (OstrelSetup.exe /check) once per route against the local update service:
# direct, /proxy through the tests' CONNECT proxy, the user's named proxy, and the user's PAC file
# naming that proxy; prints the seconds of each and their difference to the direct one. Each time
# includes Wine starting the setup, the same in every row. Not a test: figures only.
# Usage: tests/bench/bench-proxy.sh   on build/test or $OSTREL_BUILD
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${OSTREL_BUILD:-$top/build/test}
if [ "${OSTREL_IN_NETNS:-}" != 1 ]; then
    cmake --build "$build" -j2 --target OstrelSetup signed_fixture >/dev/null
    OSTREL_IN_NETNS=1 OSTREL_BUILD=$build exec unshare --net "$0" "$@"
fi
ip link set lo up
build=$(cd "$build" && pwd)
. "$top/scripts/wine-env.sh"
ostrelWineEnv "$build"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections'
cleanUp() {
    wine reg delete "$key" /v DefaultConnectionSettings /f >/dev/null 2>&1 || true
    "$top/tests/service/proxy.sh" stop "$build" || true
    "$top/backend/service.sh" stop "$build" || true
    wineserver -k 2>/dev/null || true
}
trap cleanUp EXIT INT TERM
"$top/backend/service.sh" start "$build"
"$top/tests/service/proxy.sh" start "$build"
"$top/scripts/wine-prefix.sh" "$build" --persist
cp "$build/tests/signed/Ostrel-9.9.9.json" "$build/service-root/latest.json"
printf 'function FindProxyForURL(url, host) { return "PROXY 127.0.0.1:3128"; }\n' >"$build/proxy-root/bench.pac"

# settings <flags> <proxy> <pac-url>: the user's DefaultConnectionSettings, as hex for reg.
settings() {
    python3 - "$@" <<'PY'
import struct, sys
flags, proxy, pac = int(sys.argv[1]), sys.argv[2].encode(), sys.argv[3].encode()
value = struct.pack("<III", 0x46, 1, flags)
for text in (proxy, b"", pac):
    value += struct.pack("<I", len(text)) + text
print((value + bytes(32)).hex())
PY
}
now() { date +%s.%N; }
direct=""
# row <name> <setup arguments>: one timed /check.
row() {
    name=$1; shift
    start=$(now)
    code=0
    wine "$build/OstrelSetup.exe" /check "$@" >/dev/null 2>&1 </dev/null || code=$?
    seconds=$(awk "BEGIN { print $(now) - $start }")
    [ -n "$direct" ] || direct=$seconds
    printf '%-28s %6.2f s  %+6.2f s  exit %d\n' "$name" "$seconds" "$(awk "BEGIN { print $seconds - $direct }")" "$code"
}
wine "$build/OstrelSetup.exe" /check >/dev/null 2>&1 </dev/null || true # warms Wine up
row "direct (no proxy)"
row "/proxy http://127.0.0.1:3128" /proxy http://127.0.0.1:3128
wine reg add "$key" /v DefaultConnectionSettings /t REG_BINARY /d "$(settings 3 127.0.0.1:3128 '')" /f >/dev/null 2>&1
row "user's named proxy"
wine reg add "$key" /v DefaultConnectionSettings /t REG_BINARY /d \
    "$(settings 5 '' http://127.0.0.1:3128/bench.pac)" /f >/dev/null 2>&1
row "user's PAC file"
