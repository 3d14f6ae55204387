#!/usr/bin/env python3
"""The update service's front door under load: wrk against nginx and the gateway behind it, in the
deployment's shape (backend/service.sh start), in a private network namespace.

Usage: tests/bench/bench-frontdoor.py <build-dir> [--seconds S] [--concurrency 1,16,64,256]

For each concurrency, S seconds each (default 10): the version query as the setup sends it (POST,
apikey, "{}"); the same answer's bytes as a static file that nginx serves (the floor); a 1 MiB
package. Then a release is published with the release tool while wrk keeps 64 connections busy
with the version query, and a poller on a connection of its own says when the new version is
first answered. Not a test: it prints figures (requests/s, p50, p99, errors: wrk's socket errors
and answers other than 2xx/3xx).
"""

import argparse
import http.client
import os
import pathlib
import re
import shutil
import ssl
import subprocess
import sys
import tempfile
import threading
import time

SOURCE = pathlib.Path(__file__).resolve().parent.parent.parent
sys.path.insert(0, str(SOURCE / "backend"))
import release_db  # noqa: E402

sys.path.insert(0, str(SOURCE / "tests" / "tour"))
import tour  # noqa: E402

SERVICE = SOURCE / "backend" / "service.sh"
RELEASE_TOOL = SOURCE / "release" / "ostrel-release"
RPC = "/rest/v1/rpc/get_latest_version"
ORIGIN = "https://localhost"


def wrk(connections, seconds, url, script=None):
    """(requests/s, p50 ms, p99 ms, errors) of one wrk run."""
    command = ["wrk", "-t", str(min(2, connections)), "-c", str(connections), "-d", "%ds" % seconds,
               "--latency", "--timeout", "5s"]
    if script:
        command += ["-s", script]
    output = subprocess.run(command + [url], capture_output=True, text=True, check=True).stdout

    def milliseconds(label):
        value, unit = re.search(r"^\s*%s\s+([\d.]+)(us|ms|s)\s*$" % label, output, re.M).groups()
        return float(value) * {"us": 0.001, "ms": 1.0, "s": 1000.0}[unit]

    errors = sum(int(n) for n in re.findall(r"(?:connect|read|write|timeout) (\d+)", output))
    non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", output)
    errors += int(non2xx.group(1)) if non2xx else 0
    rate = float(re.search(r"Requests/sec:\s+([\d.]+)", output).group(1))
    return rate, milliseconds("50%"), milliseconds("99%"), errors


def publish(build, version, product):
    subprocess.run([sys.executable, str(RELEASE_TOOL), "publish", "--database",
                    release_db.local_dsn(build, "ostrel_publisher"), "--root", str(build / "service-root"),
                    "--host", "localhost", "--version", version, "--product", str(product)],
                   check=True, stdout=subprocess.DEVNULL)


class Poller(threading.Thread):
    """Asks the version query every 20 ms on one kept connection; notes when `wanted` first comes."""

    def __init__(self, build, key, wanted):
        super().__init__(daemon=True)
        self.context = ssl.create_default_context(cafile=str(build / "testca" / "ca.pem"))
        self.key, self.wanted = key, wanted
        self.seen_at = None
        self.failures = 0
        self.stop = threading.Event()

    def run(self):
        connection = http.client.HTTPSConnection("localhost", 443, context=self.context, timeout=10)
        while not self.stop.is_set():
            try:
                connection.request("POST", RPC, b"{}", {"Content-Type": "application/json", "apikey": self.key})
                answer = connection.getresponse()
                body = answer.read()
                if answer.status != 200:
                    self.failures += 1
                elif self.seen_at is None and b'"version":"%s"' % self.wanted.encode() in body:
                    self.seen_at = time.monotonic()
            except (OSError, http.client.HTTPException):
                self.failures += 1
                connection.close()
            time.sleep(0.02)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--concurrency", default="1,16,64,256")
    args = parser.parse_args()
    build = args.build.resolve()
    tour.run_alone()
    if not shutil.which("wrk"):
        sys.exit("bench-frontdoor.py: wrk is missing (scripts/deps.sh installs it)")

    key = (build / "service-key.txt").read_text().strip()
    work = pathlib.Path(tempfile.mkdtemp(prefix="ostrel-bench-"))
    subprocess.run([str(SERVICE), "start", str(build)], check=True)
    try:
        product = work / "product"
        product.mkdir()
        (product / "Ostrel.exe").write_bytes(os.urandom(4096))
        publish(build, "1.0.0", product)
        packages = build / "service-root" / "packages"
        context = ssl.create_default_context(cafile=str(build / "testca" / "ca.pem"))
        connection = http.client.HTTPSConnection("localhost", 443, context=context, timeout=10)
        connection.request("POST", RPC, b"{}", {"Content-Type": "application/json", "apikey": key})
        (packages / "bench-answer.json").write_bytes(connection.getresponse().read())
        (packages / "bench-1mb.bin").write_bytes(os.urandom(1 << 20))
        script = work / "query.lua"
        script.write_text('wrk.method = "POST"\nwrk.body = "{}"\nwrk.headers["Content-Type"] = "application/json"\n'
                          'wrk.headers["apikey"] = "%s"\n' % key)

        print("%-28s %5s %10s %9s %9s %7s" % ("", "conns", "requests/s", "p50 ms", "p99 ms", "errors"))
        for connections in (int(n) for n in args.concurrency.split(",")):
            for label, url, lua in (("static answer (floor)", ORIGIN + "/packages/bench-answer.json", None),
                                    ("version query", ORIGIN + RPC, str(script)),
                                    ("1 MiB package", ORIGIN + "/packages/bench-1mb.bin", None)):
                rate, p50, p99, errors = wrk(connections, args.seconds, url, lua)
                print("%-28s %5d %10.0f %9.2f %9.2f %7d" % (label, connections, rate, p50, p99, errors), flush=True)

        # A publish under load: 64 connections on the version query, 1.0.1 published after 3 s.
        poller = Poller(build, key, "1.0.1")
        poller.start()
        result = {}
        load = threading.Thread(target=lambda: result.update(run=wrk(64, 12, ORIGIN + RPC, str(script))))
        load.start()
        time.sleep(3)
        publish(build, "1.0.1", product)
        published_at = time.monotonic()
        load.join()
        poller.stop.set()
        poller.join()
        rate, p50, p99, errors = result["run"]
        seen = "%.2f s after the publish" % (poller.seen_at - published_at) if poller.seen_at else "never"
        print("publish under load (64 conns, 12 s): %.0f requests/s, p50 %.2f ms, p99 %.2f ms, %d errors; "
              "1.0.1 answered %s; poller failures %d" % (rate, p50, p99, errors, seen, poller.failures))
    finally:
        subprocess.run([str(SERVICE), "stop", str(build)])
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
