#!/usr/bin/env python3
"""The update service's gateway, and the test double the C++ tests steer.

Run by backend/service.sh in one of two shapes:

  gateway (--listen PATH)  behind nginx (backend/nginx.conf.in), on a unix socket only nginx
                           reaches, plain HTTP/1.1 with keep-alive: the RPC paths and nothing else
                           (plus the --routes of the tours). nginx terminates TLS, serves the
                           packages and keeps the answers for a few seconds.
  test double (default)    HTTPS on 127.0.0.1:443 by itself, with the hooks below.

Both play the gateway of the real back end for POST /rest/v1/rpc/get_latest_version: they accept
only an apikey that is an HS256 JSON Web Token signed with the configured secret, for the role anon
and not expired, and answer with what the SQL function api.get_latest_version() of the release
database returns, run as that role (an empty row set: 404, as when nothing is published), over a
small pool of database connections. The delta query (POST .../rpc/get_update_delta with
{"from_version":"1.0.0"}) is passed to api.get_update_delta() the same way; its empty row set is
answered as it is, [] with 200. The test double serves the rest from one folder (the service
root), and tests steer it by writing files:

  latest.json     when present, the version query's answer instead of the database's, sent
                  verbatim: a test double for answers the database cannot give
  latest.status   optional HTTP status of that answer (default 200); 0 closes the connection
                  without answering, as a service that goes away mid-request does
  delta.json      when present, the delta query's answer instead of the database's, verbatim
  packages/       the files served under /packages/<name>
  requests.jsonl  appended by the service: one JSON object per request it received
  certificate     optional name of another certificate pair beside --cert (NAME.pem and NAME.key),
                  shown from the next connection on: "untrusted" (from an authority the test
                  prefix does not trust) or "wrong-name" (trusted, but for another host)

Packages carry an ETag and a Last-Modified, and a Range of one span ("bytes=N-" or "bytes=N-M")
is answered with 206 unless an If-Range names neither. --routes adds the routes of a Python file:
its ROUTES maps a path prefix to answer(handler, rest), which answers with the handler's senders
(the tests' fault routes, which serve the packages as a misbehaving network would).
"""

import argparse
import base64
import contextlib
import email.utils
import hashlib
import hmac
import json
import math
import os
import queue
import re
import runpy
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import release_db

RPC_PREFIX = "/rest/v1/rpc/"
RPC_PATH = RPC_PREFIX + "get_latest_version"
DELTA_PATH = RPC_PREFIX + "get_update_delta"
COPY_BLOCK = 1 << 20
CALLER_ROLE = "anon"
# Open database connections at most, each serving one call at a time; a call waits this long for one.
POOL_SIZE = 4
POOL_WAIT_SECONDS = 10


class TokenRefused(Exception):
    pass


RANGE_SHAPE = re.compile(r"bytes=(\d+)-(\d*)")
TOKEN_SHAPE = re.compile(r"[A-Za-z0-9_-]+\.[A-Za-z0-9_-]+\.[A-Za-z0-9_-]+")


def json_object(segment):
    try:
        value = json.loads(base64.urlsafe_b64decode(segment + "=" * (-len(segment) % 4)))
    except ValueError:
        raise TokenRefused("Invalid API key") from None
    if not isinstance(value, dict):
        raise TokenRefused("Invalid API key")
    return value


def verify_token(token, secret):
    """The claims of an HS256 JSON Web Token signed with secret, for the role anon, with an expiry
    still to come (and a not-before time that has passed); else TokenRefused."""
    if not TOKEN_SHAPE.fullmatch(token or ""):
        raise TokenRefused("Invalid API key")
    header, payload, signature = token.split(".")
    if json_object(header).get("alg") != "HS256":
        raise TokenRefused("Invalid API key")
    expected = hmac.new(secret, (header + "." + payload).encode("ascii"), hashlib.sha256).digest()
    if not hmac.compare_digest(base64.urlsafe_b64encode(expected).rstrip(b"=").decode("ascii"), signature):
        raise TokenRefused("Invalid API key")
    claims = json_object(payload)
    now = time.time()
    expiry, start = claims.get("exp"), claims.get("nbf", 0)
    if not all(type(value) in (int, float) and math.isfinite(value) for value in (expiry, start)):
        raise TokenRefused("Invalid API key")
    if now >= expiry:
        raise TokenRefused("JWT expired")
    if now < start:
        raise TokenRefused("JWT not yet valid")
    if claims.get("role") != CALLER_ROLE:
        raise TokenRefused("This key's role may not call this function")
    return claims


class ServiceHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "OstrelUpdateService/1.0"

    def log_message(self, format, *args):
        # Every request is in requests.jsonl; the console stays for errors.
        pass

    def do_GET(self):
        self.handle_request()

    def do_POST(self):
        self.handle_request()

    def do_HEAD(self):
        self.handle_request()

    def handle_request(self):
        body = self.read_body()
        if self.server.double:
            self.server.record(self.command, self.path, self.headers, body)
        route = urllib.parse.urlsplit(self.path).path
        try:
            if route == RPC_PATH:
                self.answer_rpc()
            elif route == DELTA_PATH:
                self.answer_delta(body)
            elif route.startswith(RPC_PREFIX) and not self.server.double:
                # Paths nginx passes on that no function answers yet.
                self.send_json_error(404, "No such function")
            elif route.startswith("/packages/") and self.server.double:
                self.send_ranged(route[len("/packages/"):])
            else:
                for prefix, answer in self.server.routes.items():
                    if route.startswith(prefix):
                        answer(self, route[len(prefix):])
                        break
                else:
                    self.send_bytes(404, b"<html><body><h1>404 Not Found</h1></body></html>", "text/html")
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            # The client hung up (a cancelled download): nothing left to answer.
            self.close_connection = True

    def read_body(self):
        try:
            length = int(self.headers.get("Content-Length", "0"))
        except ValueError:
            length = 0
        return self.rfile.read(length) if length > 0 else b""

    def send_bytes(self, status, data, content_type, extra_headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        for name, value in extra_headers:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def send_json_error(self, status, message):
        self.send_bytes(status, json.dumps({"message": message}).encode(), "application/json")

    def caller_role(self):
        """The role of a POST's verified key; None when the request was refused (and answered)."""
        if self.command != "POST":
            self.send_json_error(405, "Use POST")
            return None
        try:
            return verify_token(self.headers.get("apikey"), self.server.jwt_secret)["role"]
        except TokenRefused as refused:
            self.send_json_error(401, str(refused))
            return None

    def answer_delta(self, body):
        role = self.caller_role()
        if role is None:
            return
        try:
            with open(os.path.join(self.server.root, "delta.json"), "rb") as answer:
                self.send_bytes(200, answer.read(), "application/json")
                return
        except FileNotFoundError:
            pass
        try:
            arguments = json.loads(body or b"{}")
            from_version = arguments["from_version"] if isinstance(arguments, dict) else None
        except (ValueError, KeyError):
            from_version = None
        if not isinstance(from_version, str) or len(arguments) != 1:
            self.send_json_error(400, "get_update_delta takes one argument, from_version")
            return
        answer = self.call_function(role, "SELECT api.get_update_delta(%s)::text", (from_version,),
                                    failure="The delta query failed")
        if answer is not None:
            self.send_bytes(200, answer.encode("utf-8"), "application/json")

    def answer_rpc(self):
        role = self.caller_role()
        if role is None:
            return
        if not self.server.double:
            self.answer_latest(role)
            return
        root = self.server.root
        try:
            with open(os.path.join(root, "latest.json"), "rb") as answer:
                data = answer.read()
        except FileNotFoundError:
            self.answer_latest(role)
            return
        status = 200
        try:
            with open(os.path.join(root, "latest.status")) as status_file:
                status = int(status_file.read().strip())
        except (FileNotFoundError, ValueError):
            pass
        if status == 0:
            self.drop_connection()
            return
        self.send_bytes(status, data, "application/json")

    def answer_latest(self, role):
        answer = self.call_function(role, "SELECT api.get_latest_version()::text", failure="The version query failed")
        if answer == "[]":
            self.send_json_error(404, "No release has been published")
        elif answer is not None:
            self.send_bytes(200, answer.encode("utf-8"), "application/json")

    def call_function(self, role, statement, arguments=(), failure="The query failed"):
        """The text one API function returns, run as the caller's role as a gateway does; None when
        the database failed (and the request was answered with the error)."""
        psycopg2 = release_db.psycopg2()
        try:
            with self.server.pool.connection() as connection, connection.cursor() as cursor:
                # As a gateway does: the token's role for this one transaction, which ends unwritten.
                cursor.execute(psycopg2.sql.SQL("SET LOCAL ROLE {}").format(psycopg2.sql.Identifier(role)))
                cursor.execute(statement, arguments)
                (answer,) = cursor.fetchone()
                connection.rollback()
                return answer
        except PoolUnavailable as error:
            sys.stderr.write("update service: no database connection: %s\n" % error)
            self.send_json_error(503, "The release database is unavailable")
        except psycopg2.Error as error:
            sys.stderr.write("update service: %s failed: %s\n" % (statement, error))
            self.send_json_error(500, failure)
        return None

    def package_file(self, name):
        """The path of a served package, or None for a missing file or a name that leaves the folder."""
        name = urllib.parse.unquote(name)
        if not name or "/" in name or "\\" in name or name in (".", ".."):
            return None
        path = os.path.join(self.server.root, "packages", name)
        return path if os.path.isfile(path) else None

    def send_not_found(self):
        self.send_json_error(404, "No such package")

    def requested_span(self, size, validators):
        """(first, last) byte the Range asks for; None for the whole file (no Range, one of another
        shape, or an If-Range that names neither validator); () when it cannot be met."""
        match = RANGE_SHAPE.fullmatch(self.headers.get("Range", "").strip())
        condition = self.headers.get("If-Range")
        if match is None or (condition is not None and condition.strip() not in validators):
            return None
        first = int(match.group(1))
        last = min(int(match.group(2)), size - 1) if match.group(2) else size - 1
        return (first, last) if first <= last else ()

    def send_ranged(self, name, honour_range=True, drop=False):
        """The package with its validators, only the span a Range asks for when honour_range; with
        drop, half of what the answer announces is sent, then the connection is dropped."""
        path = self.package_file(name)
        if path is None:
            self.send_not_found()
            return
        status = os.stat(path)
        size = status.st_size
        validators = ('"%x-%x"' % (size, status.st_mtime_ns),
                      email.utils.formatdate(status.st_mtime, usegmt=True))
        span = self.requested_span(size, validators) if honour_range else None
        if span == ():
            self.send_bytes(416, b"", "text/plain", [("Content-Range", "bytes */%d" % size)])
            return
        first, last = span or (0, size - 1)
        self.send_response(206 if span else 200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(last + 1 - first))
        if span:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, size))
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("ETag", validators[0])
        self.send_header("Last-Modified", validators[1])
        self.end_headers()
        if self.command == "HEAD":
            return
        remaining = last + 1 - first
        if drop:
            remaining //= 2
        with open(path, "rb") as package:
            package.seek(first)
            while remaining > 0 and (block := package.read(min(COPY_BLOCK, remaining))):
                self.wfile.write(block)
                remaining -= len(block)
        if drop:
            self.drop_connection()

    def drop_connection(self):
        self.close_connection = True
        try:
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class PoolUnavailable(Exception):
    pass


class ConnectionPool:
    """Up to `size` connections to the release database, opened when first needed and kept; a
    connection whose call failed is closed rather than handed to the next call."""

    def __init__(self, dsn, size):
        self.dsn = dsn
        self.idle = queue.LifoQueue()
        self.slots = threading.BoundedSemaphore(size)

    @contextlib.contextmanager
    def connection(self):
        if not self.slots.acquire(timeout=POOL_WAIT_SECONDS):
            raise PoolUnavailable("all %d connections busy for %d s" % (POOL_SIZE, POOL_WAIT_SECONDS))
        try:
            try:
                connection = self.idle.get_nowait()
            except queue.Empty:
                try:
                    connection = release_db.connect(self.dsn)
                except release_db.psycopg2().Error as error:
                    raise PoolUnavailable(str(error)) from None
            try:
                yield connection
            except BaseException:
                connection.close()
                raise
            self.idle.put(connection)
        finally:
            self.slots.release()


class ServiceState:
    """What the handler reads from its server, in either shape."""

    def setup_state(self, root, jwt_secret, database, routes, double):
        self.root = root
        self.routes = routes
        self.jwt_secret = jwt_secret
        self.pool = ConnectionPool(database, POOL_SIZE)
        self.double = double


class Gateway(ServiceState, socketserver.ThreadingMixIn, socketserver.UnixStreamServer):
    """Behind nginx on a unix socket; a thread per connection, as nginx keeps a few open."""
    daemon_threads = True

    def __init__(self, path, root, jwt_secret, database, routes):
        with contextlib.suppress(FileNotFoundError):
            os.unlink(path)
        super().__init__(path, ServiceHandler)
        # Only the owner and its group (nginx's workers) may talk to it.
        os.chmod(path, 0o660)
        self.setup_state(root, jwt_secret, database, routes, double=False)


class UpdateService(ServiceState, ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, root, jwt_secret, database, cert, key, routes):
        super().__init__(address, ServiceHandler)
        self.setup_state(root, jwt_secret, database, routes, double=True)
        self.cert_folder = os.path.dirname(os.path.abspath(cert))
        self.default_context = server_context(cert, key)
        self.other_contexts = {}
        self.record_lock = threading.Lock()

    def context(self):
        """The TLS context of a new connection: the one the certificate file names, else the default."""
        try:
            with open(os.path.join(self.root, "certificate"), encoding="utf-8") as chosen:
                name = chosen.read().strip()
        except FileNotFoundError:
            return self.default_context
        if name not in self.other_contexts:
            base = os.path.join(self.cert_folder, os.path.basename(name))
            self.other_contexts[name] = server_context(base + ".pem", base + ".key")
        return self.other_contexts[name]

    def finish_request(self, request, client_address):
        # Headers and body go out in separate writes: without this, Nagle's algorithm holds the
        # body until the client's delayed acknowledgement of the headers.
        request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        # The TLS handshake runs on the request's own thread, so a slow client holds up no one else.
        try:
            secure = self.context().wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            super().finish_request(secure, client_address)
        except (ssl.SSLError, ConnectionError, TimeoutError):
            pass
        finally:
            secure.close()

    def record(self, method, path, headers, body):
        entry = {
            "method": method,
            "path": path,
            "headers": {name.lower(): value for name, value in headers.items()},
            "body": body.decode("utf-8", "replace"),
        }
        line = json.dumps(entry, ensure_ascii=False) + "\n"
        with self.record_lock:
            with open(os.path.join(self.root, "requests.jsonl"), "a", encoding="utf-8") as log:
                log.write(line)


def server_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def load_routes(path):
    """The ROUTES of a Python file: path prefix to answer(handler, rest)."""
    return runpy.run_path(path)["ROUTES"]


def probe(host, port, ca_file, timeout, listen=None):
    """True once a TLS handshake with the service succeeds under the test CA (with listen, once
    the gateway's socket takes connections)."""
    if listen:
        try:
            with socket.socket(socket.AF_UNIX) as plain:
                plain.settimeout(timeout)
                plain.connect(listen)
                return True
        except OSError:
            return False
    context = ssl.create_default_context(cafile=ca_file)
    try:
        with socket.create_connection((host, port), timeout=timeout) as plain:
            with context.wrap_socket(plain, server_hostname="localhost"):
                return True
    except OSError:
        return False


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", help="the service root folder")
    parser.add_argument("--cert", help="server certificate (PEM), or the CA with --probe")
    parser.add_argument("--key", help="server private key (PEM)")
    parser.add_argument("--jwt-secret-file", help="file holding the secret that API keys are signed with")
    parser.add_argument("--database", help="libpq connection string of the release database")
    parser.add_argument("--check-key", metavar="FILE",
                        help="first check that the API key in FILE is accepted; end with status 1 if not")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=443)
    parser.add_argument("--listen", metavar="PATH", help="be the gateway behind nginx on this unix socket")
    parser.add_argument("--routes", metavar="FILE", help="Python file whose ROUTES add routes to the service")
    parser.add_argument("--probe", action="store_true", help="only check that the service answers TLS")
    args = parser.parse_args()

    if args.probe:
        return 0 if probe(args.host, args.port, args.cert, 2.0, args.listen) else 1
    if not args.jwt_secret_file:
        parser.error("--jwt-secret-file is needed")
    with open(args.jwt_secret_file, "rb") as secret_file:
        jwt_secret = secret_file.read().rstrip(b"\r\n")
    if args.check_key:
        with open(args.check_key) as key_file:
            try:
                verify_token(key_file.read().strip(), jwt_secret)
            except TokenRefused as refused:
                print("%s: %s under the secret in %s (configure the build with the OSTREL_SERVICE_JWT_SECRET "
                      "its key was signed with)" % (args.check_key, refused, args.jwt_secret_file), file=sys.stderr)
                return 1
    if not (args.root and args.database and (args.listen or (args.cert and args.key))):
        parser.error("--root, --database and --listen, or --cert and --key, are needed to serve")
    release_db.psycopg2()
    os.makedirs(os.path.join(args.root, "packages"), exist_ok=True)
    routes = load_routes(args.routes) if args.routes else {}
    root = os.path.abspath(args.root)
    if args.listen:
        server = Gateway(args.listen, root, jwt_secret, args.database, routes)
        print("update service gateway on %s" % args.listen, flush=True)
    else:
        server = UpdateService((args.host, args.port), root, jwt_secret, args.database, args.cert, args.key, routes)
        print("update service on https://%s:%d/ serving %s" % (args.host, args.port, args.root), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
