#!/bin/sh
# Starts or stops the tests' proxies (tests/service/connect_proxy.py): an open CONNECT proxy on
# 127.0.0.1:3128, one that asks for Basic sign-in on 3129 (nothing listens on 3127), PAC files
# and the CONNECT log in <build>/proxy-root, and a relay from 127.0.0.2:443 to the service while
# <build>/proxy-root/forward-open exists. start returns once the proxy accepts connections.
# Usage: tests/service/proxy.sh start|stop <build-dir>
set -eu
here=$(cd "$(dirname "$0")" && pwd)
action=${1:-}
build=$(cd "${2:?usage: proxy.sh start|stop <build-dir>}" && pwd)
pidFile="$build/proxy.pid"
root="$build/proxy-root"

if [ -f "$pidFile" ]; then
    pid=$(cat "$pidFile")
    if grep -q connect_proxy.py "/proc/$pid/cmdline" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
    fi
    rm -f "$pidFile"
fi
[ "$action" = start ] || exit 0

mkdir -p "$root"
rm -f "$root/forward-open" "$root/proxy.log"
python3 "$here/connect_proxy.py" --port 3128 --basic 3129 --map localhost=127.0.0.1 \
    --forward 127.0.0.2:443=127.0.0.1:443 --pac-dir "$root" --log "$root/proxy.log" \
    </dev/null >"$build/proxy-output.log" 2>&1 &
echo $! >"$pidFile"
tries=0
until python3 -c 'import socket; socket.create_connection(("127.0.0.1", 3128), 1)' 2>/dev/null; do
    tries=$((tries + 1))
    [ $tries -lt 100 ] || { echo "proxy.sh: the proxy did not start" >&2; cat "$build/proxy-output.log" >&2; exit 1; }
    sleep 0.1
done
