"""The local update service's fault routes, for the tests and the tours: the packages served under
/fault/<kind>/<name> in the ways a real network can misbehave. Loaded by the service with
--routes (backend/service.sh start <build> --routes tests/service/fault_routes.py); each answer
is made with the service's own request handler and its senders.
"""

import os
import time

SLOW_BLOCK = 64 * 1024
SLOW_PAUSE = 0.1
STALL_SECONDS = 20
ENDLESS_LIMIT = 256 * 1024 * 1024


def chunked(size):
    return [("Transfer-Encoding", "chunked")]


def begin_answer(handler, name, headers):
    """The status line and headers of a 200 answer with the package, headers(size) added; returns
    the package's path, or None after a 404 when there is no such package."""
    path = handler.package_file(name)
    if path is None:
        handler.send_not_found()
        return None
    handler.send_response(200)
    handler.send_header("Content-Type", "application/octet-stream")
    for header, value in headers(os.path.getsize(path)):
        handler.send_header(header, value)
    handler.end_headers()
    return path


def send_chunked(handler, name, cut=False):
    """With cut, the answer stops after half the file, before its last chunk."""
    path = begin_answer(handler, name, chunked)
    if path is None or handler.command == "HEAD":
        return
    size = os.path.getsize(path)
    with open(path, "rb") as package:
        while block := package.read(40000):
            handler.wfile.write(b"%x\r\n%s\r\n" % (len(block), block))
            if cut and package.tell() >= size // 2:
                handler.drop_connection()
                return
        handler.wfile.write(b"0\r\n\r\n")


def send_partial(handler, name, pace):
    """Announces the whole length; pace(sent) returns how much to send next, 0 to stop early."""
    path = begin_answer(handler, name, lambda size: [("Content-Length", str(size))])
    if path is None:
        return
    size = os.path.getsize(path)
    with open(path, "rb") as package:
        sent = 0
        while sent < size:
            step = pace(sent, size)
            if step <= 0:
                break
            block = package.read(step)
            handler.wfile.write(block)
            sent += len(block)
    if sent < size:
        handler.drop_connection()


def send_overlong(handler, name):
    """The whole file behind a Content-Length that announces 1000 bytes fewer."""
    # Connection: close keeps the client from reusing the connection, whose rest would answer its
    # next request.
    path = begin_answer(handler, name, lambda size: [("Content-Length", str(max(0, size - 1000))),
                                                     ("Connection", "close")])
    if path is None:
        return
    with open(path, "rb") as package:
        handler.wfile.write(package.read())
    handler.drop_connection()


def send_endless(handler, name):
    """The file over and over without a length, as a hostile host fills a disk; it stops at
    ENDLESS_LIMIT or when the client goes."""
    path = begin_answer(handler, name, chunked)
    if path is None:
        return
    with open(path, "rb") as package:
        data = package.read()
    sent = 0
    while data and sent < ENDLESS_LIMIT:
        handler.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))
        sent += len(data)
    handler.drop_connection()


def answer_fault(handler, fault):
    kind, _, name = fault.partition("/")
    if kind in ("chunked", "chunked-cut"):
        send_chunked(handler, name, cut=kind == "chunked-cut")
    elif kind == "drop-once":
        # The first answer breaks off; the request that resumes it is answered in full.
        handler.send_ranged(name, drop="Range" not in handler.headers)
    elif kind == "drop-always":
        handler.send_ranged(name, drop=True)
    elif kind == "ignore-range":
        # Breaks off once, then answers every Range with the whole file.
        handler.send_ranged(name, honour_range=False, drop="Range" not in handler.headers)
    elif kind == "empty":
        handler.send_bytes(200, b"", "application/octet-stream")
    elif kind == "404":
        handler.send_bytes(404, b"<html><head><title>Not Found</title></head>"
                           b"<body><h1>Not Found</h1></body></html>", "text/html")
    elif kind in ("redirect-http", "redirect-https"):
        scheme = "http" if kind == "redirect-http" else "https"
        location = "%s://127.0.0.1/packages/%s" % (scheme, name)
        handler.send_bytes(302, b"", "text/plain", [("Location", location)])
    elif kind == "redirect-local":
        # A path on the same host: the origin the request came to.
        handler.send_bytes(302, b"", "text/plain", [("Location", "/packages/%s" % name)])
    elif kind == "endless":
        send_endless(handler, name)
    elif kind == "slow":
        def slow(sent, size):
            if sent:
                time.sleep(SLOW_PAUSE)
            return SLOW_BLOCK
        send_partial(handler, name, slow)
    elif kind == "cut":
        send_partial(handler, name, lambda sent, size: size // 2 - sent)
    elif kind == "stall":
        # Half the file, then silence on an open connection, as a stalled network gives.
        def stall(sent, size):
            if sent:
                time.sleep(STALL_SECONDS)
                return 0
            return size // 2
        send_partial(handler, name, stall)
    elif kind == "overlong":
        send_overlong(handler, name)
    else:
        handler.send_bytes(404, b"<html><body>No such fault</body></html>", "text/html")


ROUTES = {"/fault/": answer_fault}
