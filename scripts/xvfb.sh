# Sourced: startXvfb starts a private Xvfb on a free display and exports DISPLAY;
# stopXvfb ends it.
startXvfb() {
    displayFile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1366x768x24 -nolisten tcp 3>"$displayFile" >/dev/null 2>&1 &
    xvfbPid=$!
    tries=0
    while [ ! -s "$displayFile" ] && [ $tries -lt 100 ]; do sleep 0.05; tries=$((tries + 1)); done
    export DISPLAY=":$(cat "$displayFile")"
    rm -f "$displayFile"
}
stopXvfb() {
    kill "$xvfbPid" 2>/dev/null || true
    wait "$xvfbPid" 2>/dev/null || true
}
