#!/bin/sh
# Builds the setup and runs it under Wine: the README's run command.
# With a display the window opens for you; without one it runs under Xvfb and saves a
# screenshot into build/demo/run/.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset demo >/dev/null
cmake --build build/demo -j2
build=build/demo
out=$build/run
mkdir -p "$out"
scripts/wine-prefix.sh "$build"
. scripts/wine-env.sh
ostrelWineEnv "$build"
if [ -n "${DISPLAY:-}" ]; then
    wine "$build/OstrelSetup.exe"
    exit 0
fi
. scripts/xvfb.sh
startXvfb
wine "$build/OstrelSetup.exe" >"$out/wine.log" 2>&1 &
setupPid=$!
tries=0
until xdotool search --name "Ostrel Setup" >/dev/null 2>&1 || [ $tries -ge 100 ]; do sleep 0.2; tries=$((tries + 1)); done
sleep 1
import -window root "$out/setup-window.png"
xdotool search --name "Ostrel Setup" getwindowgeometry
kill $setupPid 2>/dev/null || true
wineserver -k || true
stopXvfb
echo "screenshot: $out/setup-window.png"
