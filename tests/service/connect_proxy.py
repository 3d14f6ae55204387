#!/usr/bin/env python3
"""The tests' HTTP proxy: CONNECT tunnels on one or more ports, and plain GETs of PAC files.

Every port tunnels CONNECT host:port to that host, or to the address --map names for it, and
appends "PORT CONNECT host:port" to the log (--log). A port given with --basic answers every
CONNECT with 407 and a Basic challenge instead. A plain "GET /name" on any port serves the file
name of --pac-dir, so a test writes a PAC file and points the setup at http://127.0.0.1:PORT/name.
--forward ADDR:PORT=HOST:PORT relays raw TCP while the file forward-open exists in --pac-dir: an
open direct route to the service for the tests that need one.
"""

import argparse
import os
import select
import socket
import sys
import threading

BLOCK = 64 * 1024


def relay(a, b, go_on=lambda: True):
    """Copies bytes both ways until either side closes or go_on() turns false."""
    sockets = [a, b]
    try:
        while go_on():
            ready, _, _ = select.select(sockets, [], [], 0.2)
            for source in ready:
                data = source.recv(BLOCK)
                if not data:
                    return
                (b if source is a else a).sendall(data)
    except OSError:
        return


def read_head(conn):
    head = b""
    while b"\r\n\r\n" not in head:
        data = conn.recv(4096)
        if not data:
            return None
        head += data
        if len(head) > 65536:
            return None
    return head


class Proxy:
    def __init__(self, args):
        self.args = args
        self.maps = dict(m.split("=", 1) for m in args.map)
        self.lock = threading.Lock()

    def log(self, line):
        with self.lock, open(self.args.log, "a") as out:
            out.write(line + "\n")

    def serve(self, conn, port, basic):
        with conn:
            head = read_head(conn)
            if head is None:
                return
            line = head.split(b"\r\n", 1)[0].decode("latin-1")
            parts = line.split(" ")
            if len(parts) < 2:
                return
            method, target = parts[0], parts[1]
            if method == "CONNECT":
                self.log("%d CONNECT %s" % (port, target))
                if basic:
                    conn.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                                 b"Proxy-Authenticate: Basic realm=\"tests\"\r\n"
                                 b"Content-Length: 0\r\nConnection: close\r\n\r\n")
                    return
                host, _, where = target.rpartition(":")
                try:
                    upstream = socket.create_connection((self.maps.get(host, host), int(where)), 10)
                except (OSError, ValueError):
                    conn.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                    return
                with upstream:
                    conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                    relay(conn, upstream)
                return
            name = os.path.basename(target)
            path = os.path.join(self.args.pac_dir, name)
            if method == "GET" and name and os.path.isfile(path):
                with open(path, "rb") as f:
                    body = f.read()
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n"
                             b"Content-Length: %d\r\nConnection: close\r\n\r\n" % len(body) + body)
            else:
                conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")

    def forward(self, conn, target):
        with conn:
            if not os.path.exists(os.path.join(self.args.pac_dir, "forward-open")):
                return
            host, _, port = target.rpartition(":")
            try:
                upstream = socket.create_connection((host, int(port)), 10)
            except OSError:
                return
            with upstream:
                # Closed with the route, so that no kept-alive connection outlives the test.
                relay(conn, upstream, lambda: os.path.exists(os.path.join(self.args.pac_dir, "forward-open")))

    def listen(self, address, handler):
        server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        host, _, port = address.rpartition(":")
        server.bind((host, int(port)))
        server.listen(64)

        def accept():
            while True:
                conn, _ = server.accept()
                threading.Thread(target=handler, args=(conn,), daemon=True).start()

        threading.Thread(target=accept, daemon=True).start()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, action="append", default=[], help="an open CONNECT proxy")
    parser.add_argument("--basic", type=int, action="append", default=[], help="a proxy that asks for Basic")
    parser.add_argument("--map", action="append", default=[], help="HOST=ADDRESS the proxy connects to")
    parser.add_argument("--forward", action="append", default=[], help="ADDR:PORT=HOST:PORT raw relay")
    parser.add_argument("--pac-dir", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()
    proxy = Proxy(args)
    for port in args.port + args.basic:
        proxy.listen("127.0.0.1:%d" % port,
                     lambda conn, port=port: proxy.serve(conn, port, port in args.basic))
    for rule in args.forward:
        source, target = rule.split("=", 1)
        proxy.listen(source, lambda conn, target=target: proxy.forward(conn, target))
    print("ready", flush=True)
    threading.Event().wait()


if __name__ == "__main__":
    sys.exit(main())
