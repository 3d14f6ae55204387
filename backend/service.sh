#!/bin/sh
# Starts or stops the local update service of a build folder: its release database
# (backend/database.sh, made anew at every start: no release published) and, in front of it,
# either
#   the deployment's shape (the default): nginx on 127.0.0.1:443 with backend/nginx.conf.in
#     (TLS, the packages, a few seconds' cache of the answers), its workers run by www-data when
#     root starts it, and the gateway (backend/update_service.py --listen) behind it on the unix
#     socket <build>/front/gateway.sock; nginx's files, logs and cache in <build>/front; or
#   --double: the test double alone (backend/update_service.py on 127.0.0.1:443 with its own TLS,
#     latest.json, the request log, the certificate switch), which the C++ tests steer.
# The files served are in <build>/service-root, the Python process's pid in <build>/service.pid
# and its output in <build>/service.log. start returns once 127.0.0.1:443 completes TLS
# handshakes. Further arguments of start go to update_service.py: the tests add their fault routes
# with --routes tests/service/fault_routes.py, and nginx then includes the locations beside it
# (fault_routes.nginx) that pass them to the gateway.
# Usage: backend/service.sh start|stop <build-dir> [--double] [update_service.py options]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
action=${1:-}
build=${2:-}
case $action in start | stop) ;; *) echo "usage: service.sh start|stop <build-dir>" >&2; exit 2 ;; esac
[ -n "$build" ] && [ -d "$build" ] || { echo "service.sh: no build folder '$build'" >&2; exit 2; }
build=$(cd "$build" && pwd)
shift 2
double=false
[ "${1:-}" != --double ] || { double=true; shift; }
pidFile="$build/service.pid"
log="$build/service.log"
front="$build/front"
# The answers' lifetime in nginx's cache: a publish is seen within it.
cacheSeconds=5

# True while the pid file names a running update service.
running() {
    [ -f "$pidFile" ] || return 1
    pid=$(cat "$pidFile")
    [ -n "$pid" ] && grep -q update_service.py "/proc/$pid/cmdline" 2>/dev/null
}

stopFront() {
    [ -f "$front/nginx.pid" ] || return 0
    master=$(cat "$front/nginx.pid")
    if [ -n "$master" ] && grep -q nginx "/proc/$master/cmdline" 2>/dev/null; then
        kill -TERM "$master" 2>/dev/null || true
        tries=0
        while grep -q nginx "/proc/$master/cmdline" 2>/dev/null; do
            tries=$((tries + 1))
            [ $tries -lt 50 ] || { kill -9 "$master" 2>/dev/null || true; break; }
            sleep 0.1
        done
    fi
    rm -f "$front/nginx.pid"
}

stop() {
    stopFront
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

# Waits until the probe (update_service.py --probe options) succeeds; gives up, stopping
# everything, when the Python process has ended or after 10 s.
waitFor() {
    what=$1
    shift
    tries=0
    until "$python" "$here/update_service.py" --probe "$@"; do
        tries=$((tries + 1))
        if ! kill -0 "$(cat "$pidFile")" 2>/dev/null || [ $tries -ge 100 ]; then
            echo "service.sh: $what did not start (log: $log)" >&2
            cat "$log" >&2
            [ ! -f "$front/error.log" ] || cat "$front/error.log" >&2
            stop
            "$here/database.sh" stop "$build"
            exit 1
        fi
        sleep 0.1
    done
}

if $double; then
    set -- --cert "$build/testca/server.pem" --key "$build/testca/server.key" "$@"
else
    mkdir -p "$front/tmp" "$build/service-root/deltas"
    # A cache of the last run's database would answer for this one's; the access log starts anew.
    rm -rf "$front/cache" "$front/tmp"/* "$front/gateway.sock" "$front/access.log"
    mkdir -p "$front/cache"
    set -- --listen "$front/gateway.sock" "$@"
fi
"$python" "$here/update_service.py" --root "$build/service-root" --jwt-secret-file "$build/service-jwt-secret.txt" \
    --check-key "$build/service-key.txt" \
    --database "host='$build/pgdata' dbname=ostrel user=ostrel_authenticator" "$@" \
    </dev/null >"$log" 2>&1 &
echo $! >"$pidFile"

if $double; then
    waitFor "the update service on https://127.0.0.1:443/" --cert "$build/testca/ca.pem"
    exit 0
fi

waitFor "the gateway on $front/gateway.sock" --listen "$front/gateway.sock"
# The fault routes' own locations, when the tests load them.
testLocations=""
while [ $# -gt 0 ]; do
    if [ "$1" = --routes ] && [ -f "${2%.py}.nginx" ]; then
        testLocations="include $(cd "$(dirname "$2")" && pwd)/$(basename "${2%.py}").nginx;"
    fi
    shift
done
# Root hands the workers to www-data, which must read the served files and reach the gateway's
# socket; a build folder that www-data cannot enter (one under a home folder of mode 700) keeps
# root's workers.
user=""
if [ "$(id -u)" = 0 ]; then
    if runuser -u www-data -- test -r "$build/service-root/packages" 2>/dev/null; then
        user="user www-data www-data;"
        chown -R www-data:www-data "$front/tmp" "$front/cache"
        chgrp www-data "$front/gateway.sock"
    else
        echo "service.sh: www-data cannot read $build/service-root; nginx's workers run as root" >&2
    fi
fi
sed -e "s|@FRONT@|$front|g" -e "s|@ROOT@|$build/service-root|g" -e "s|@CERT@|$build/testca/server.pem|g" \
    -e "s|@KEY@|$build/testca/server.key|g" -e "s|@CACHE_SECONDS@|$cacheSeconds|g" -e "s|@USER@|$user|" \
    -e "s|@TEST_LOCATIONS@|$testLocations|" "$here/nginx.conf.in" >"$front/nginx.conf"
rm -f "$front/error.log"
if ! nginx -p "$front" -c "$front/nginx.conf" -e "$front/error.log" 2>>"$log"; then
    echo "service.sh: nginx did not start (log: $front/error.log)" >&2
    cat "$log" "$front/error.log" >&2 2>/dev/null || true
    stop
    "$here/database.sh" stop "$build"
    exit 1
fi
waitFor "nginx on https://127.0.0.1:443/" --cert "$build/testca/ca.pem"
