#!/usr/bin/env python3
"""The update service's front door (nginx, the gateway behind it, the release database) against
bad input: each kind gets its status from nginx or the gateway, the service keeps answering
everyone else, and the database sees nothing but calls of the function. The database logs every
statement of the gateway's login for this run; the test reads that log.

Usage: tests/frontdoor_test.py <build-dir>   (in a network namespace of its own: scripts/ctest.sh)
"""

import concurrent.futures
import http.client
import os
import pathlib
import re
import resource
import socket
import ssl
import subprocess
import sys
import threading
import time
import unittest
import uuid

SOURCE = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(SOURCE / "backend"))
import release_db  # noqa: E402

BUILD = pathlib.Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else None
RPC = "/rest/v1/rpc/get_latest_version"
# nginx's client_header_timeout, with room for a loaded machine.
HEADER_TIMEOUT = 10
# What one call of the function is, statement by statement, in the gateway's transaction.
CALL_STATEMENTS = {"BEGIN", 'SET LOCAL ROLE "anon"', "SELECT api.get_latest_version()::text", "ROLLBACK"}


def tls():
    return ssl.create_default_context(cafile=str(BUILD / "testca" / "ca.pem"))


def request(method, path, body=None, headers=None):
    """(status, body, Server header) of one request on a connection of its own."""
    connection = http.client.HTTPSConnection("localhost", 443, context=tls(), timeout=10)
    try:
        connection.request(method, path, body=body, headers=headers or {})
        answer = connection.getresponse()
        return answer.status, answer.read(), answer.getheader("Server")
    finally:
        connection.close()


def version_query(body=b"{}", key=None):
    key = key if key is not None else (BUILD / "service-key.txt").read_text().strip()
    return request("POST", RPC, body, {"Content-Type": "application/json", "apikey": key})


def database_log():
    return BUILD / "pgdata" / "server.log"


def statements():
    """The statements the database logged for the gateway's login in this run."""
    with open(database_log(), "rb") as log:
        log.seek(FrontDoor.log_start)
        text = log.read().decode(errors="replace")
    return re.findall(r"LOG:  statement: (.*)", text)


class FrontDoor(unittest.TestCase):
    log_start = 0

    @classmethod
    def setUpClass(cls):
        subprocess.run([str(SOURCE / "backend" / "service.sh"), "start", str(BUILD)], check=True, timeout=120)
        # The log goes on from earlier runs.
        cls.log_start = database_log().stat().st_size
        admin = release_db.connect(release_db.local_dsn(BUILD, "postgres"))
        admin.autocommit = True
        with admin.cursor() as cursor:
            # Made anew with the database at the next start; the gateway connects after this.
            cursor.execute("ALTER ROLE ostrel_authenticator IN DATABASE ostrel SET log_statement = 'all'")
        admin.close()
        publisher = release_db.connect(release_db.local_dsn(BUILD, "ostrel_publisher"))
        with publisher, publisher.cursor() as cursor:
            cursor.execute("INSERT INTO ostrel.releases (version, download_url, size_bytes, sha256) "
                           "VALUES ('2.3.4', 'https://localhost/packages/Ostrel-2.3.4.zip', 1048576, %s)",
                           ("ab" * 32,))
        publisher.close()

    @classmethod
    def tearDownClass(cls):
        subprocess.run([str(SOURCE / "backend" / "service.sh"), "stop", str(BUILD)], timeout=60)

    def assertAnswering(self):
        """The service answers a setup's version query meanwhile."""
        status, body, _ = version_query()
        self.assertEqual(status, 200)
        self.assertIn(b'"version":"2.3.4"', body)

    def assertNoStatements(self, action):
        # A renewal of the cache that an earlier answer started may still be on its way.
        time.sleep(1)
        before = len(statements())
        action()
        self.assertEqual(statements()[before:], [])

    def test_answer_is_the_functions_bytes_and_one_request_fills_the_cache(self):
        # As anon, from a login whose statements are not the gateway's.
        admin = release_db.connect(release_db.local_dsn(BUILD, "postgres"))
        with admin.cursor() as cursor:
            cursor.execute("SET ROLE anon")
            cursor.execute("SELECT api.get_latest_version()::text")
            (expected,) = cursor.fetchone()
        admin.close()
        # A body of its own is a cache entry of its own: 24 setups at once, one call.
        body = b'{"n":"%s"}' % uuid.uuid4().hex.encode()
        before = statements().count("SELECT api.get_latest_version()::text")
        with concurrent.futures.ThreadPoolExecutor(24) as pool:
            answers = list(pool.map(lambda _: version_query(body), range(24)))
        self.assertEqual({(status, data) for status, data, _ in answers}, {(200, expected.encode())})
        self.assertEqual(statements().count("SELECT api.get_latest_version()::text") - before, 1)

    def test_malformed_or_oversized_apikey(self):
        def refused():
            for key in ("", "not-a-token", "a.b.c", "x" * 200 + "." + "y" * 3 + ".z"):
                status, body, server = version_query(key=key)
                self.assertEqual((status, body), (401, b'{"message": "Invalid API key"}'), key)
            # A refusal is not kept: the same bad key twice is refused twice by the gateway.
            self.assertEqual(version_query(key="a.b.c")[0], 401)
            # A header larger than nginx's buffers is nginx's own 400.
            status, body, server = version_query(key="x" * 9000)
            self.assertEqual((status, server), (400, "nginx"))
        self.assertNoStatements(refused)
        self.assertAnswering()

    def test_oversized_body(self):
        def oversized():
            status, body, server = version_query(b'{"pad":"%s"}' % (b"x" * 5000))
            self.assertEqual((status, server), (413, "nginx"))
        self.assertNoStatements(oversized)
        self.assertAnswering()

    def test_unknown_path(self):
        def unknown():
            for method, path in (("POST", "/rest/v1/rpc/other_function"), ("GET", "/rest/v1/releases"),
                                 ("GET", "/latest.json"), ("GET", "/fault/slow/x.zip"),
                                 ("GET", "/packages/../service-key.txt"), ("GET", "/packages/missing.zip")):
                status, _, server = request(method, path, b"{}" if method == "POST" else None)
                self.assertIn(status, (400, 404), path)
                self.assertEqual(server, "nginx", path)
        self.assertNoStatements(unknown)
        self.assertAnswering()

    def test_slow_client_is_cut_off_while_others_are_answered(self):
        with socket.create_connection(("127.0.0.1", 443)) as plain, \
                tls().wrap_socket(plain, server_hostname="localhost") as slow:
            started = time.monotonic()
            message = b"POST %s HTTP/1.1\r\nHost: localhost\r\n" % RPC.encode()
            slow.settimeout(1.0)
            closed = None
            for byte in message:
                try:
                    slow.sendall(bytes([byte]))
                    if slow.recv(1) == b"":
                        closed = time.monotonic() - started
                        break
                except socket.timeout:
                    self.assertAnswering()
                except OSError:
                    closed = time.monotonic() - started
                    break
            self.assertIsNotNone(closed, "nginx kept a client that sends a byte a second")
            self.assertLess(closed, HEADER_TIMEOUT + 3)

    def test_thousand_idle_connections(self):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 4096)), hard))
        idle = [socket.create_connection(("127.0.0.1", 443)) for _ in range(1000)]
        try:
            started = time.monotonic()
            for _ in range(5):
                self.assertAnswering()
            self.assertLess(time.monotonic() - started, 5)
            # nginx closes each once the handshake's time has run out.
            deadline = time.monotonic() + HEADER_TIMEOUT + 5
            open_ones = list(idle)
            while open_ones and time.monotonic() < deadline:
                for connection in list(open_ones):
                    connection.settimeout(max(0.01, deadline - time.monotonic()))
                    try:
                        if connection.recv(1) == b"":
                            open_ones.remove(connection)
                    except OSError as error:
                        if not isinstance(error, socket.timeout):
                            open_ones.remove(connection)
            self.assertEqual(len(open_ones), 0, "idle connections nginx left open")
        finally:
            for connection in idle:
                connection.close()
        self.assertAnswering()

    def test_zz_database_saw_function_calls_only(self):
        seen = statements()
        self.assertTrue(seen)
        self.assertLessEqual(set(seen), CALL_STATEMENTS)


if __name__ == "__main__":
    if BUILD is None:
        sys.exit(__doc__)
    unittest.main()
