"""The release database for the programs and tests that use it: the release tool, the local update
service and their tests.

Debian's python3-psycopg2 belongs to Debian's own /usr/bin/python3. Another python3 that comes
first on PATH (pyenv, a virtual environment) cannot import it, so psycopg2() runs the calling
script again under /usr/bin/python3 when the import fails there.
"""

import os
import sys

DEBIAN_PYTHON = "/usr/bin/python3"
DATABASE = "ostrel"


def psycopg2():
    try:
        import psycopg2 as module
        import psycopg2.sql  # noqa: F401  (module.sql is used by the callers)
        return module
    except ImportError:
        if os.path.realpath(sys.executable) != os.path.realpath(DEBIAN_PYTHON) and os.access(DEBIAN_PYTHON, os.X_OK):
            sys.stdout.flush()
            os.execv(DEBIAN_PYTHON, [DEBIAN_PYTHON, *sys.orig_argv[1:]])
        sys.exit("python3-psycopg2 is missing (scripts/deps.sh installs it)")


def local_dsn(build, role):
    """The connection string of a build folder's own cluster (backend/database.sh) as one role."""
    socket_folder = os.path.join(os.path.abspath(build), "pgdata")
    quoted = "'%s'" % socket_folder.replace("\\", "\\\\").replace("'", "\\'")
    return "host=%s dbname=%s user=%s" % (quoted, DATABASE, role)


def connect(dsn):
    """A connection that gives up after 10 s, whose statements give up after 10 s too."""
    return psycopg2().connect(dsn, connect_timeout=10, options="-c statement_timeout=10000",
                              client_encoding="UTF8")


def empty_local(build):
    """Removes every release and delta from a build folder's own cluster, as its superuser: the
    tests that publish start and end with an empty database."""
    connection = connect(local_dsn(build, "postgres"))
    connection.autocommit = True
    try:
        with connection.cursor() as cursor:
            cursor.execute("TRUNCATE ostrel.releases, ostrel.deltas")
    finally:
        connection.close()
