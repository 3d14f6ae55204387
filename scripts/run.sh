#!/bin/sh
# The README's run command: builds the setup and the sample product, publishes a sample release
# to the local update service and runs OstrelSetup.exe under Wine against it.
# With a display you click through the setup yourself; without one the tour of the end-to-end
# test drives it and leaves its screenshots, the install log and a summary in build/demo/run/,
# then an update through a delta in build/demo/run-delta/.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset demo >/dev/null
cmake --build build/demo -j2
build=$(pwd)/build/demo

if [ -z "${DISPLAY:-}" ]; then
    status=0
    tests/tour/tour.py "$build" --out "$build/run" || status=$?
    # Then an update that downloads only what changed, in a run of its own.
    tests/tour/tour.py "$build" --scenarios delta --out "$build/run-delta" || status=$?
    for run in run run-delta; do
        echo "summary: $build/$run/summary.txt"
        cat "$build/$run/summary.txt"
    done
    exit $status
fi

# Interactive: the service on this machine's own 127.0.0.1:443 for as long as the setup runs.
if python3 -c 'import socket; socket.create_connection(("127.0.0.1", 443), 1)' 2>/dev/null; then
    echo "run.sh: something already listens on 127.0.0.1:443; stop it first" >&2
    exit 1
fi
host=$(sed -n 's/^OSTREL_SERVICE_HOST:[A-Z]*=//p' "$build/CMakeCache.txt")
release="$build/release"
rm -rf "$release"
mkdir -p "$release"
cp "$build/product/Ostrel.exe" "$build/product/OstrelService.exe" "$release/"
backend/service.sh start "$build"
trap 'backend/service.sh stop "$build"' EXIT INT TERM
# The demo build takes only releases signed with its own key (OSTREL_LOCAL_RELEASE_KEY).
key="$build/release-key/private.pem"
[ -f "$key" ] && set -- --sign-key "$key" || set --
python3 release/ostrel-release publish --database "host='$build/pgdata' dbname=ostrel user=ostrel_publisher" \
    --root "$build/service-root" --host "$host" --version 1.0.0 --product "$release" --notes "Sample release" "$@"
scripts/wine-prefix.sh "$build"
. scripts/wine-env.sh
ostrelWineEnv "$build"
wine "$build/OstrelSetup.exe"
wineserver -w
temp=$(wine cmd /c 'echo %TEMP%' </dev/null | tr -d '\r')
echo "install log: $(winepath -u "$temp")/OstrelInstall_debug.log"
