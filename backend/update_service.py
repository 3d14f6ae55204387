#!/usr/bin/env python3
"""The local update service: answers the setup's version query and serves release packages over HTTPS.

Run by backend/service.sh for the tests, the demo and the benchmark. The version query plays the
gateway of the real back end: it accepts only an apikey that is an HS256 JSON Web Token signed
with the configured secret, for the role anon and not expired, and answers with what the SQL
function api.get_latest_version() of the release database returns, run as that role (an empty
row set: 404, as when nothing is published). The rest comes from one folder (the service root),
and tests steer it by writing files:

  latest.json     when present, the version query's answer instead of the database's, sent
                  verbatim: a test double for answers the database cannot give
  latest.status   optional HTTP status of that answer (default 200); 0 closes the connection
                  without answering, as a service that goes away mid-request does
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
import email.utils
import hashlib
import hmac
import json
import math
import os
import re
import runpy
import socket
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import release_db

RPC_PATH = "/rest/v1/rpc/get_latest_version"
COPY_BLOCK = 1 << 20
CALLER_ROLE = "anon"


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
        self.server.record(self.command, self.path, self.headers, body)
        route = urllib.parse.urlsplit(self.path).path
        try:
            if route == RPC_PATH:
                self.answer_rpc()
            elif route.startswith("/packages/"):
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

    def answer_rpc(self):
        if self.command != "POST":
            self.send_json_error(405, "Use POST")
            return
        try:
            claims = verify_token(self.headers.get("apikey"), self.server.jwt_secret)
        except TokenRefused as refused:
            self.send_json_error(401, str(refused))
            return
        root = self.server.root
        try:
            with open(os.path.join(root, "latest.json"), "rb") as answer:
                data = answer.read()
        except FileNotFoundError:
            self.answer_from_database(claims["role"])
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

    def answer_from_database(self, role):
        psycopg2 = release_db.psycopg2()
        try:
            connection = release_db.connect(self.server.database)
        except psycopg2.Error as error:
            sys.stderr.write("update service: no database connection: %s\n" % error)
            self.send_json_error(503, "The release database is unavailable")
            return
        try:
            with connection.cursor() as cursor:
                # As a gateway does: the token's role for this one transaction.
                cursor.execute(psycopg2.sql.SQL("SET LOCAL ROLE {}").format(psycopg2.sql.Identifier(role)))
                cursor.execute("SELECT api.get_latest_version()::text")
                (answer,) = cursor.fetchone()
        except psycopg2.Error as error:
            sys.stderr.write("update service: get_latest_version() failed: %s\n" % error)
            self.send_json_error(500, "The version query failed")
            return
        finally:
            connection.close()
        if answer == "[]":
            self.send_json_error(404, "No release has been published")
        else:
            self.send_bytes(200, answer.encode("utf-8"), "application/json")

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


class UpdateService(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, root, jwt_secret, database, cert, key, routes):
        super().__init__(address, ServiceHandler)
        self.root = root
        self.routes = routes
        self.jwt_secret = jwt_secret
        self.database = database
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


def probe(host, port, ca_file, timeout):
    """True once a TLS handshake with the service succeeds under the test CA."""
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
    parser.add_argument("--cert", required=True, help="server certificate (PEM), or the CA with --probe")
    parser.add_argument("--key", help="server private key (PEM)")
    parser.add_argument("--jwt-secret-file", help="file holding the secret that API keys are signed with")
    parser.add_argument("--database", help="libpq connection string of the release database")
    parser.add_argument("--check-key", metavar="FILE",
                        help="first check that the API key in FILE is accepted; end with status 1 if not")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=443)
    parser.add_argument("--routes", metavar="FILE", help="Python file whose ROUTES add routes to the service")
    parser.add_argument("--probe", action="store_true", help="only check that the service answers TLS")
    args = parser.parse_args()

    if args.probe:
        return 0 if probe(args.host, args.port, args.cert, 2.0) else 1
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
    if not (args.root and args.key and args.database):
        parser.error("--root, --key and --database are needed to serve")
    release_db.psycopg2()
    os.makedirs(os.path.join(args.root, "packages"), exist_ok=True)
    routes = load_routes(args.routes) if args.routes else {}
    server = UpdateService((args.host, args.port), os.path.abspath(args.root), jwt_secret, args.database,
                           args.cert, args.key, routes)
    print("update service on https://%s:%d/ serving %s" % (args.host, args.port, args.root), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
