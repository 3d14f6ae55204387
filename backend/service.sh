#!/bin/sh
# Starts or stops the local update service of a build folder: its release database
# (backend/database.sh, made anew at every start: no release published) and its HTTPS front
# (backend/update_service.py on 127.0.0.1:443, its files in <build>/service-root, pid in
# <build>/service.pid, output in <build>/service.log). start returns once the front completes
# TLS handshakes; further arguments of start go to the front (the tests add their fault routes
# with --routes tests/service/fault_routes.py).
# Usage: backend/service.sh start|stop <build-dir> [update_service.py options]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
action=${1:-}
build=${2:-}
case $action in start | stop) ;; *) echo "usage: service.sh start|stop <build-dir>" >&2; exit 2 ;; esac
[ -n "$build" ] && [ -d "$build" ] || { echo "service.sh: no build folder '$build'" >&2; exit 2; }
build=$(cd "$build" && pwd)
shift 2
pidFile="$build/service.pid"
log="$build/service.log"

# True while the pid file names a running update service.
running() {
    [ -f "$pidFile" ] || return 1
    pid=$(cat "$pidFile")
    [ -n "$pid" ] && grep -q update_service.py "/proc/$pid/cmdline" 2>/dev/null
}

stop() {
    if running; then
        kill "$pid" 2>/dev/null || true
        tries=0
        # Ended once its command line is gone: a zombie waits for a reaper that is not us.
        while grep -q update_service.py "/proc/$pid/cmdline" 2>/dev/null; do
            tries=$((tries + 1))
            [ $tries -lt 50 ] || { kill -9 "$pid" 2>/dev/null || true; break; }
            sleep 0.1
        done
    fi
    rm -f "$pidFile"
}

if [ "$action" = stop ]; then
    stop
    "$here/database.sh" stop "$build"
    exit 0
fi

for file in "$build/testca/server.pem" "$build/testca/server.key" "$build/testca/ca.pem" "$build/service-key.txt" \
    "$build/service-jwt-secret.txt"; do
    [ -f "$file" ] || { echo "service.sh: $file is missing; build the project first" >&2; exit 1; }
done
# A service left over from an interrupted run would hold the port.
stop
"$here/database.sh" start "$build"
mkdir -p "$build/service-root/packages"
# Steering files left by an interrupted test would fail the probe below or hide the database.
rm -f "$build/service-root/certificate" "$build/service-root/latest.json" "$build/service-root/latest.status" \
    "$build/service-root/delta.json"
# Debian's own Python: the one with psycopg2, started straight away rather than through a shim
# that would re-execute it while the loop below watches the process.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
"$python" "$here/update_service.py" --root "$build/service-root" --cert "$build/testca/server.pem" \
    --key "$build/testca/server.key" --jwt-secret-file "$build/service-jwt-secret.txt" \
    --check-key "$build/service-key.txt" \
    --database "host='$build/pgdata' dbname=ostrel user=ostrel_authenticator" "$@" \
    </dev/null >"$log" 2>&1 &
echo $! >"$pidFile"

tries=0
until "$python" "$here/update_service.py" --probe --cert "$build/testca/ca.pem"; do
    tries=$((tries + 1))
    if ! kill -0 "$(cat "$pidFile")" 2>/dev/null || [ $tries -ge 100 ]; then
        echo "service.sh: the update service did not start on https://127.0.0.1:443/ (log: $log)" >&2
        cat "$log" >&2
        stop
        "$here/database.sh" stop "$build"
        exit 1
    fi
    sleep 0.1
done
