#!/bin/sh
# Starts or stops the release database of a build folder's local update service: a PostgreSQL
# cluster in <build>/pgdata, made once per build folder, reached only through the unix socket in
# that folder (no TCP), run by the unprivileged postgres user when root starts it. start makes
# the database "ostrel" anew from backend/schema.sql, so every start begins with no release
# published; stop ends the server and keeps the cluster. Each step is bounded in time.
# The server's log is <build>/pgdata/server.log.
# Usage: backend/database.sh start|stop <build-dir>
set -eu
here=$(cd "$(dirname "$0")" && pwd)
action=${1:-}
build=${2:-}
case $action in start | stop) ;; *) echo "usage: database.sh start|stop <build-dir>" >&2; exit 2 ;; esac
[ -n "$build" ] && [ -d "$build" ] || { echo "database.sh: no build folder '$build'" >&2; exit 2; }
build=$(cd "$build" && pwd)
bound=30
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/pg_ctl" ] || { echo "database.sh: PostgreSQL is missing (scripts/deps.sh installs it)" >&2; exit 1; }
major=$(basename "$(dirname "$bin")")

# PostgreSQL refuses to run as root: root hands the cluster to the postgres user of Debian's package.
asOwner() {
    if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

# The cluster's folder. When the postgres user cannot enter the build folder (one under a home
# folder of mode 700) the cluster lives in /var/tmp, and <build>/pgdata links to it.
cluster="$build/pgdata"
if [ "$(id -u)" = 0 ] && ! runuser -u postgres -- test -x "$build"; then
    cluster=/var/tmp/ostrel-pgdata-$(printf %s "$build" | cksum | cut -d' ' -f1)
    [ -L "$build/pgdata" ] || rm -rf "$build/pgdata"
    ln -sfn "$cluster" "$build/pgdata"
fi
running() { asOwner "$bin/pg_ctl" status -D "$cluster" >/dev/null 2>&1; }

if [ "$action" = stop ]; then
    if [ -f "$cluster/PG_VERSION" ] && running; then
        asOwner "$bin/pg_ctl" stop -D "$cluster" -m fast -w -t $bound >/dev/null ||
            asOwner "$bin/pg_ctl" stop -D "$cluster" -m immediate -w -t $bound >/dev/null
    fi
    exit 0
fi

# The socket's path must fit a unix socket address (107 bytes).
if [ $(printf %s "$build/pgdata/.s.PGSQL.5432" | wc -c) -gt 107 ]; then
    echo "database.sh: the build folder's path is too long for the database's socket: $build" >&2
    exit 1
fi
if [ "$(cat "$cluster/PG_VERSION" 2>/dev/null)" != "$major" ]; then
    running && asOwner "$bin/pg_ctl" stop -D "$cluster" -m immediate -w -t $bound >/dev/null
    rm -rf "$cluster"
    mkdir -p "$cluster"
    [ "$(id -u)" != 0 ] || chown postgres:postgres "$cluster"
    # No fsync anywhere: the database is made anew at every start.
    if ! asOwner timeout 120 "$bin/initdb" -D "$cluster" -A trust -U postgres -E UTF8 --locale=C --no-sync \
        >"$build/database-init.log" 2>&1; then
        cat "$build/database-init.log" >&2
        rm -rf "$cluster"
        exit 1
    fi
    cat >>"$cluster/postgresql.conf" <<'EOF'
# The local update service's release database (backend/database.sh).
listen_addresses = ''
unix_socket_directories = '.'
max_connections = 20
shared_buffers = 16MB
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
fi
[ "$(id -u)" != 0 ] || [ "$(stat -c %U "$cluster")" = postgres ] || chown -R postgres:postgres "$cluster"

# A server left running by an interrupted run is used as it is.
if ! running && ! asOwner "$bin/pg_ctl" start -D "$cluster" -l "$cluster/server.log" -w -t $bound >/dev/null; then
    echo "database.sh: PostgreSQL did not start within $bound s (log: $cluster/server.log)" >&2
    tail -n 20 "$cluster/server.log" >&2
    exit 1
fi
sql() { PGOPTIONS='-c client_min_messages=warning' timeout $bound "$bin/psql" -h "$build/pgdata" -U postgres -X -q -v ON_ERROR_STOP=1 "$@"; }
sql -d postgres -c 'DROP DATABASE IF EXISTS ostrel WITH (FORCE)' -c 'CREATE DATABASE ostrel'
sql -d ostrel -f "$here/schema.sql"
