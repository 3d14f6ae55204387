#!/usr/bin/env python3
"""release/ostrel-release publish, withdraw and list against the running local update service and
its release database: what it publishes is what the service answers and serves, byte for byte as
the answer always was.
Usage: publish_test.py <build-dir>"""

import base64
import hashlib
import hmac
import io
import json
import os
import shutil
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "backend"))
sys.path.insert(0, os.path.join(HERE, "..", "release"))
import manifest  # noqa: E402
import release_db  # noqa: E402
import signing  # noqa: E402

psycopg2 = release_db.psycopg2()
TOOL = os.path.join(HERE, "..", "release", "ostrel-release")
BUILD = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else ""
ROOT = os.path.join(BUILD, "service-root")
RPC = "https://localhost/rest/v1/rpc/get_latest_version"
DELTA_RPC = "https://localhost/rest/v1/rpc/get_update_delta"
VERSIONS = ("1.4.2", "1.5.0", "1.9.0", "1.10.0")


def tls():
    return ssl.create_default_context(cafile=os.path.join(BUILD, "testca", "ca.pem"))


def fetch(url, body=None, headers=None):
    """(status, headers, body) of one request; error statuses are answers too."""
    request = urllib.request.Request(url, data=body, headers=headers or {}, method="POST" if body else "GET")
    try:
        with urllib.request.urlopen(request, context=tls(), timeout=10) as answer:
            return answer.status, answer.headers, answer.read()
    except urllib.error.HTTPError as error:
        return error.code, error.headers, error.read()


def query(key):
    headers = {"Content-Type": "application/json"}
    if key is not None:
        headers["apikey"] = key
    return fetch(RPC, b"{}", headers)


def service_key():
    with open(os.path.join(BUILD, "service-key.txt")) as key:
        return key.read().strip()


def read_build_file(name):
    with open(os.path.join(BUILD, name), "rb") as file:
        return file.read().strip()


def token(claims, secret=None, header=None):
    """An HS256 JSON Web Token of these claims, signed with the build's secret unless told."""
    def encode(data):
        return base64.urlsafe_b64encode(data).rstrip(b"=").decode()
    signed = encode(json.dumps(header or {"alg": "HS256", "typ": "JWT"}).encode()) + "." + \
        encode(json.dumps(claims).encode())
    key = secret or read_build_file("service-jwt-secret.txt")
    return signed + "." + encode(hmac.new(key, signed.encode(), hashlib.sha256).digest())


def run_tool(command, *arguments):
    return subprocess.run([sys.executable, TOOL, command, "--database",
                           release_db.local_dsn(BUILD, "ostrel_publisher"), *arguments], capture_output=True, text=True)


def run_publish(*arguments):
    return run_tool("publish", *arguments)


def publish(product, version, *extra):
    result = run_publish("--root", ROOT, "--host", "localhost", "--version", version, "--product", product, *extra)
    if result.returncode:
        raise AssertionError(result.stderr)
    path, digest = result.stdout.splitlines()[:2]
    return path, digest


def sha256_of(path):
    with open(path, "rb") as package:
        return hashlib.sha256(package.read()).hexdigest()


def expected_answer(path, version, notes="", required=False, route="packages/"):
    """The answer as the publish tool wrote it to latest.json before the database took over."""
    release = {
        "version": version,
        "download_url": "https://localhost/%sOstrel-%s.zip" % (route, version),
        "release_notes": notes,
        "is_required": required,
        "file_size_mb": round(os.path.getsize(path) / (1024 * 1024), 2),
        "sha256": sha256_of(path),
    }
    return json.dumps([release], separators=(",", ":"), ensure_ascii=False).encode("utf-8")


def database(role="postgres"):
    connection = release_db.connect(release_db.local_dsn(BUILD, role))
    connection.autocommit = True
    return connection


def superuser_sql(statement, arguments=()):
    connection = database()
    try:
        with connection.cursor() as cursor:
            cursor.execute(statement, arguments)
            return cursor.fetchall() if cursor.description else None
    finally:
        connection.close()


def write(folder, name, data):
    path = os.path.join(folder, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


class Publish(unittest.TestCase):
    def setUp(self):
        self.product = tempfile.mkdtemp(prefix="publish-product-", dir=BUILD)
        write(self.product, "Ostrel.exe", b"MZ" + os.urandom(40000))
        write(self.product, "OstrelService.exe", b"MZ" + os.urandom(3000))
        write(self.product, "data/readme.txt", b"read me\n" * 500)
        self.clean_root()

    def tearDown(self):
        shutil.rmtree(self.product)
        self.clean_root()

    def clean_root(self):
        superuser_sql("TRUNCATE ostrel.releases, ostrel.deltas")
        for name in ("latest.json", "latest.status", "published-files.txt"):
            if os.path.exists(os.path.join(ROOT, name)):
                os.unlink(os.path.join(ROOT, name))
        packages = os.path.join(ROOT, "packages")
        for name in os.listdir(packages):
            if any(name.startswith("Ostrel-%s" % version) for version in VERSIONS):
                os.unlink(os.path.join(packages, name))

    def test_answer_and_package_match_what_was_published(self):
        path, digest = publish(self.product, "1.4.2", "--notes", "Faster start")
        self.assertEqual(path, os.path.join(ROOT, "packages", "Ostrel-1.4.2.zip"))

        status, _, body = query(service_key())
        self.assertEqual(status, 200)
        self.assertEqual(body, expected_answer(path, "1.4.2", "Faster start"))
        self.assertNotIn(b": ", body, "compact: no blank after a colon")
        [release] = json.loads(body)
        self.assertEqual(list(release), ["version", "download_url", "release_notes", "is_required",
                                         "file_size_mb", "sha256"])
        self.assertEqual(release["version"], "1.4.2")
        self.assertEqual(release["download_url"], "https://localhost/packages/Ostrel-1.4.2.zip")
        self.assertEqual(release["release_notes"], "Faster start")
        self.assertIs(release["is_required"], False)
        self.assertEqual(release["sha256"], digest)
        self.assertEqual(release["file_size_mb"], round(os.path.getsize(path) / 1048576, 2))

        status, headers, package = fetch(release["download_url"])
        self.assertEqual(status, 200)
        self.assertEqual(headers["Content-Type"], "application/octet-stream")
        self.assertEqual(int(headers["Content-Length"]), len(package))
        self.assertEqual(hashlib.sha256(package).hexdigest(), digest)

        with zipfile.ZipFile(io.BytesIO(package)) as archive:
            names = archive.namelist()
            self.assertEqual(names, sorted(names))
            self.assertEqual(set(names), {"Ostrel.exe", "OstrelService.exe", "data/readme.txt", "version.txt",
                                          "OstrelFiles.txt", "OstrelManifest.txt"})
            self.assertTrue(all(entry.compress_type == zipfile.ZIP_DEFLATED for entry in archive.infolist()))
            self.assertEqual(archive.read("version.txt"), b"1.4.2\n")
            self.assertEqual(archive.read("OstrelFiles.txt").decode("utf-8").splitlines(), sorted(names))
            listed = archive.read("OstrelManifest.txt")
            entries = manifest.parse(listed)
            self.assertEqual(set(entries), set(names) - {"OstrelManifest.txt"})
            for name, (_, size, digest) in entries.items():
                data = archive.read(name)
                self.assertEqual((size, digest), (len(data), hashlib.sha256(data).hexdigest()), name)
        self.assertEqual(superuser_sql("SELECT manifest FROM ostrel.releases"), [(listed.decode("utf-8"),)],
                         "the release's row holds its manifest")

    def test_update_lists_the_files_of_earlier_releases_and_honours_the_options(self):
        publish(self.product, "1.4.2")
        os.unlink(os.path.join(self.product, "data", "readme.txt"))
        write(self.product, "plugins/\u0444\u0438\u043b\u044c\u0442\u0440.dll", b"plugin")
        path, digest = publish(self.product, "1.5.0", "--wrap", "Ostrel-1.5.0", "--required",
                               "--route", "fault/chunked/", "--notes", "\u041d\u043e\u0432\u043e\u0435")

        body = query(service_key())[2]
        self.assertEqual(body, expected_answer(path, "1.5.0", "\u041d\u043e\u0432\u043e\u0435", True, "fault/chunked/"),
                         "the newer of two releases")
        [release] = json.loads(body)
        self.assertEqual(release["download_url"], "https://localhost/fault/chunked/Ostrel-1.5.0.zip")
        self.assertIs(release["is_required"], True)
        self.assertEqual(release["release_notes"], "\u041d\u043e\u0432\u043e\u0435")
        status, headers, package = fetch(release["download_url"])
        self.assertEqual(status, 200)
        self.assertNotIn("Content-Length", headers)
        self.assertEqual(hashlib.sha256(package).hexdigest(), digest)

        with zipfile.ZipFile(path) as archive:
            names = archive.namelist()
            self.assertTrue(all(name.startswith("Ostrel-1.5.0/") for name in names), names)
            self.assertNotIn("Ostrel-1.5.0/data/readme.txt", names)
            listed = archive.read("Ostrel-1.5.0/OstrelFiles.txt").decode("utf-8").splitlines()
        self.assertIn("data/readme.txt", listed, "a file the update dropped is still removed on uninstall")
        self.assertIn("plugins/\u0444\u0438\u043b\u044c\u0442\u0440.dll", listed)

    def test_names_windows_cannot_use_are_refused_with_nothing_written(self):
        def refused(*extra):
            result = subprocess.run([sys.executable, TOOL, "publish", "--root", ROOT, "--host", "localhost",
                                     "--version", "1.4.2", "--product", self.product, *extra],
                                    capture_output=True, text=True)
            self.assertEqual(result.returncode, 2, extra)
            self.assertIn("Windows", result.stderr)
            self.assertFalse(os.path.exists(os.path.join(ROOT, "latest.json")), extra)
            self.assertFalse(os.path.exists(os.path.join(ROOT, "packages", "Ostrel-1.4.2.zip")), extra)

        for wrap in ("..", "a:b", "NUL", "Ostrel.", "PROGRA~1"):
            refused("--wrap", wrap)
        for name in ("data/con.txt", "COM\u00b9.log", "plugins/trailing ", "what?.dll", "OSTREL~1.EXE"):
            write(self.product, name, b"x")
            refused()
            os.unlink(os.path.join(self.product, *name.split("/")))
        publish(self.product, "1.4.2", "--wrap", "Ostrel~backup")

    def test_service_refuses_a_wrong_or_missing_key(self):
        publish(self.product, "1.4.2")
        later = int(time.time()) + 600
        self.assertEqual(query(token({"role": "anon", "exp": later}))[0], 200, "a key made here is accepted")
        refused = {
            "wrong secret": token({"role": "anon", "exp": later}, b"another secret"),
            "expired": token({"role": "anon", "exp": int(time.time()) - 1}),
            "another role": token({"role": "ostrel_publisher", "exp": later}),
            "no role": token({"exp": later}),
            "no expiry": token({"role": "anon"}),
            "not yet valid": token({"role": "anon", "exp": later, "nbf": later - 60}),
            "unsigned": token({"role": "anon", "exp": later}, header={"alg": "none"}).rsplit(".", 1)[0] + ".",
            "garbled": "wrong", "cut": service_key()[:-1], "absent": None,
        }
        for case, key in refused.items():
            status, headers, body = query(key)
            self.assertEqual(status, 401, case)
            self.assertEqual(headers["Content-Type"], "application/json")
            self.assertIn("message", json.loads(body))
            self.assertNotIn(b"version", body)

    def test_newest_by_its_numbers_and_withdrawn_releases_left_out(self):
        published = {version: publish(self.product, version) for version in ("1.10.0", "1.4.2", "1.9.0")}
        paths = {version: path for version, (path, _) in published.items()}
        self.assertEqual(query(service_key())[2], expected_answer(paths["1.10.0"], "1.10.0"),
                         "1.10.0 after 1.9.0, whatever the order of publication")

        self.assertEqual(run_tool("withdraw", "1.10.0").returncode, 0)
        self.assertEqual(query(service_key())[2], expected_answer(paths["1.9.0"], "1.9.0"))
        listed = run_tool("list")
        self.assertEqual(listed.returncode, 0, listed.stderr)
        rows = [line.split() for line in listed.stdout.splitlines()[1:]]
        self.assertEqual([row[:3] for row in rows], [["1.10.0", "withdrawn", "no"], ["1.9.0", "offered", "no"],
                                                     ["1.4.2", "published", "no"]],
                         "newest first, and the one the service offers")
        self.assertEqual([row[-1] for row in rows], [published[version][1] for version in ("1.10.0", "1.9.0", "1.4.2")])
        again = run_publish("--root", ROOT, "--host", "localhost", "--version", "1.10.0", "--product", self.product)
        self.assertEqual(again.returncode, 1, "a withdrawn number is not published again")
        self.assertEqual(sha256_of(paths["1.10.0"]), published["1.10.0"][1],
                         "and its package is left as it was")
        with zipfile.ZipFile(paths["1.9.0"]) as archive:
            self.assertIn("Ostrel.exe", archive.read("OstrelFiles.txt").decode().splitlines())

        for version in ("1.9.0", "1.4.2"):
            run_tool("withdraw", version)
        self.assertEqual(query(service_key())[0], 404, "every release withdrawn: nothing to offer")
        self.assertEqual(run_tool("withdraw", "3.0.0").returncode, 1)

    def test_quotes_and_sql_in_the_notes_are_text(self):
        notes = "It's \"new\"; DROP TABLE ostrel.releases; -- \\ 'x'\n\t\u0001 \u043d\u043e\u0432\u043e\u0435 $$ %s"
        path, _ = publish(self.product, "1.4.2", "--notes", notes)
        self.assertEqual(query(service_key())[2], expected_answer(path, "1.4.2", notes))
        self.assertEqual(superuser_sql("SELECT release_notes FROM ostrel.releases"), [(notes,)])

    def test_sizes_and_signatures_in_the_answer(self):
        # Sizes around the rounding steps of file_size_mb, half-way cases (131072 bytes: 0.125) included.
        sizes = [0, 5242, 5243, 131072, 393216, 2097152, 2097151, 89443532, 3 * 1048576 + 5243]
        written = superuser_sql("SELECT ostrel.mebibytes(size)::text FROM unnest(%s::bigint[]) AS size", (sizes,))
        self.assertEqual([text for (text,) in written], [json.dumps(round(size / 1048576, 2)) for size in sizes])

        path, _ = publish(self.product, "1.4.2")
        superuser_sql("UPDATE ostrel.releases SET signature = 'c2ln', signature_expires = '2027-03-01 12:00+02'")
        unsigned = expected_answer(path, "1.4.2")
        self.assertEqual(query(service_key())[2],
                         unsigned[:-2] + b',"size_bytes":%d,"signature":"c2ln","signature_expires":'
                         b'"2027-03-01T10:00:00+00:00"}]' % os.path.getsize(path))

    @unittest.skipUnless(os.path.exists(os.path.join(BUILD, "release-key", "private.pem")), "no release key")
    def test_a_signed_release_answers_with_what_was_signed(self):
        key = os.path.join(BUILD, "release-key", "private.pem")
        answer_file = os.path.join(self.product, "answer.json")
        path, digest = publish(self.product, "1.4.2", "--required", "--sign-key", key, "--answer", answer_file)
        body = query(service_key())[2]
        with open(answer_file, "rb") as written:
            self.assertEqual(body, written.read(), "the tool's answer is the service's, byte for byte")
        [release] = json.loads(body)
        self.assertEqual(list(release)[5:], ["sha256", "size_bytes", "signature", "signature_expires"])
        self.assertEqual(release["size_bytes"], os.path.getsize(path))
        expires = time.mktime(time.strptime(release["signature_expires"], "%Y-%m-%dT%H:%M:%S+00:00")) - time.timezone
        self.assertLess(abs(expires - (time.time() + 365 * 86400)), 3600, "a year from now by default")

        # The documented bytes, checked by openssl with the public half.
        signed = "".join(line + "\n" for line in (
            "ostrel-release-v1", "1.4.2", release["download_url"], digest, str(release["size_bytes"]), "true",
            release["signature_expires"])).encode()
        raw = base64.b64decode(release["signature"])
        self.assertEqual(len(raw), 64)

        def integer(half):
            half = half.lstrip(b"\0")
            half = b"\0" + half if half[0] & 0x80 else half
            return b"\x02" + bytes([len(half)]) + half
        body = integer(raw[:32]) + integer(raw[32:])
        work = tempfile.mkdtemp(dir=self.product)
        for name, data in (("signed", signed), ("signature", b"\x30" + bytes([len(body)]) + body)):
            write(work, name, data)
        public = subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-out", os.path.join(work, "public.pem")])
        self.assertEqual(public.returncode, 0)
        verified = subprocess.run(["openssl", "dgst", "-sha256", "-verify", os.path.join(work, "public.pem"),
                                   "-signature", os.path.join(work, "signature"), os.path.join(work, "signed")],
                                  capture_output=True)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)

        # The delta to the next release is signed over its own text, with its own first line.
        write(self.product, "OstrelService.exe", b"MZ" + os.urandom(100))
        publish(self.product, "1.5.0", "--sign-key", key)
        [delta], _ = self.delta_query("1.4.2")
        self.assertEqual(list(delta)[6:], ["signature", "signature_expires"])
        fields = ("version", "from_version", "download_url", "sha256", "size_bytes", "manifest_sha256",
                  "signature_expires")
        signed_delta = "".join(line + "\n" for line in ["ostrel-delta-v1"] + [str(delta[name]) for name in fields])
        with open(os.path.join(BUILD, "release-key", "public.txt")) as public_key:
            point = public_key.read().strip()
        self.assertTrue(signing.signature_holds(point, signed_delta.encode(), base64.b64decode(delta["signature"])))
        self.assertFalse(signing.signature_holds(point, signed.replace(b"ostrel-release-v1", b"ostrel-delta-v1"),
                                                 raw), "a release's signature does not pass for a delta's")

        # A field the setup would read otherwise is not signed, and nothing is published.
        refused = run_publish("--root", ROOT, "--host", 'local"host', "--version", "1.9.0", "--product",
                              self.product, "--sign-key", key)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("cannot be signed", refused.stderr)
        self.assertFalse(os.path.exists(os.path.join(ROOT, "packages", "Ostrel-1.9.0.zip")))

    def test_anon_may_run_the_function_and_read_nothing_else(self):
        publish(self.product, "1.4.2")
        front = database("ostrel_authenticator")
        try:
            with front.cursor() as cursor:
                for role, statement in ((None, "SELECT api.get_latest_version()"),
                                        (None, "SELECT api.get_update_delta('1.4.2')"),
                                        ("anon", "SELECT * FROM ostrel.releases"),
                                        ("anon", "SELECT * FROM ostrel.deltas"),
                                        ("anon", "UPDATE ostrel.deltas SET withdrawn = true"),
                                        ("anon", "SELECT ostrel.mebibytes(1)"),
                                        ("anon", "UPDATE ostrel.releases SET withdrawn = true")):
                    if role:
                        cursor.execute("SET ROLE " + role)
                    with self.assertRaises(psycopg2.errors.InsufficientPrivilege, msg=(role, statement)):
                        cursor.execute(statement)
                cursor.execute("SELECT api.get_latest_version()::text")
                self.assertIn('"version":"1.4.2"', cursor.fetchone()[0])
                cursor.execute("SELECT api.get_update_delta('1.0.0')::text")
                self.assertEqual(cursor.fetchone()[0], "[]")
        finally:
            front.close()
        publisher = database("ostrel_publisher")
        try:
            with publisher.cursor() as cursor, self.assertRaises(psycopg2.errors.InsufficientPrivilege):
                cursor.execute("DELETE FROM ostrel.releases")
        finally:
            publisher.close()

    def delta_query(self, from_version):
        status, _, body = fetch(DELTA_RPC, json.dumps({"from_version": from_version}).encode(),
                                {"Content-Type": "application/json", "apikey": service_key()})
        self.assertEqual(status, 200, body)
        return json.loads(body), body

    def test_a_delta_holds_what_changed_and_what_to_remove(self):
        publish(self.product, "1.4.2")
        write(self.product, "OstrelService.exe", b"MZ" + os.urandom(3000))
        write(self.product, "plugins/new.dll", b"new plugin")
        os.unlink(os.path.join(self.product, "data", "readme.txt"))
        result = run_publish("--root", ROOT, "--host", "localhost", "--version", "1.5.0", "--product", self.product)
        self.assertEqual(result.returncode, 0, result.stderr)
        path, digest = result.stdout.splitlines()[:2]
        self.assertRegex(result.stdout.splitlines()[2], r"^delta from 1\.4\.2: .*Ostrel-1\.5\.0-from-1\.4\.2\.zip")

        [delta], body = self.delta_query("1.4.2")
        self.assertEqual(list(delta), ["version", "from_version", "download_url", "sha256", "size_bytes",
                                       "manifest_sha256"], "unsigned: no signature fields")
        self.assertNotIn(b": ", body)
        self.assertEqual((delta["version"], delta["from_version"]), ("1.5.0", "1.4.2"))
        self.assertEqual(delta["download_url"], "https://localhost/packages/Ostrel-1.5.0-from-1.4.2.zip")
        status, _, data = fetch(delta["download_url"])
        self.assertEqual(status, 200)
        self.assertEqual((hashlib.sha256(data).hexdigest(), len(data)), (delta["sha256"], delta["size_bytes"]))
        self.assertLess(2 * len(data), os.path.getsize(path))
        # nginx's workers run as another user than the publisher.
        for package in (path, os.path.join(ROOT, "packages", "Ostrel-1.5.0-from-1.4.2.zip")):
            self.assertEqual(os.stat(package).st_mode & 0o444, 0o444, package)

        with zipfile.ZipFile(path) as package, zipfile.ZipFile(io.BytesIO(data)) as archive:
            full_manifest = package.read("OstrelManifest.txt")
            self.assertEqual(archive.read("OstrelManifest.txt"), full_manifest, "the new release's manifest")
            self.assertEqual(hashlib.sha256(full_manifest).hexdigest(), delta["manifest_sha256"])
            self.assertEqual(archive.read("OstrelRemoved.txt"), b"data/readme.txt\n")
            self.assertEqual(archive.namelist(), sorted(archive.namelist()))
            self.assertEqual(set(archive.namelist()), {"OstrelService.exe", "plugins/new.dll", "OstrelFiles.txt",
                                                       "version.txt", "OstrelManifest.txt", "OstrelRemoved.txt"},
                             "Ostrel.exe is unchanged and left out")
            for name in ("OstrelService.exe", "plugins/new.dll", "version.txt", "OstrelFiles.txt"):
                self.assertEqual(archive.read(name), package.read(name), name)

        self.assertEqual(self.delta_query("1.5.0")[0], [], "no delta from the offered release itself")
        self.assertEqual(self.delta_query("1.0.0")[0], [], "nor from one never published")
        self.assertEqual(self.delta_query("1.4.2'; --")[0], [])

    def test_deltas_from_the_last_releases_not_withdrawn_and_withdrawn_with_either_end(self):
        big = os.urandom(300000)
        write(self.product, "assets/big.bin", big)
        for version in ("1.4.2", "1.5.0", "1.9.0"):
            write(self.product, "Ostrel.exe", b"MZ" + os.urandom(4000))
            publish(self.product, version)
        run_tool("withdraw", "1.5.0")
        write(self.product, "Ostrel.exe", b"MZ" + os.urandom(4000))
        result = run_publish("--root", ROOT, "--host", "localhost", "--version", "1.10.0", "--product", self.product,
                             "--deltas", "1")
        self.assertEqual(result.returncode, 0, result.stderr)
        rows = superuser_sql("SELECT version, from_version FROM ostrel.deltas ORDER BY 1, 2")
        self.assertEqual(rows, [("1.10.0", "1.9.0"), ("1.5.0", "1.4.2"), ("1.9.0", "1.4.2"), ("1.9.0", "1.5.0")],
                         "--deltas 1: from 1.9.0 alone; none from the withdrawn 1.5.0")
        self.assertEqual(self.delta_query("1.4.2")[0], [], "1.9.0 is no longer offered")
        self.assertEqual(self.delta_query("1.9.0")[0][0]["version"], "1.10.0")

        run_tool("withdraw", "1.10.0")
        self.assertEqual(self.delta_query("1.9.0")[0], [], "withdrawn with the release it leads to")
        self.assertEqual(self.delta_query("1.4.2")[0][0]["version"], "1.9.0", "1.9.0 is offered again")
        run_tool("withdraw", "1.4.2")
        self.assertEqual(self.delta_query("1.4.2")[0], [], "withdrawn with the release it starts from")
        self.assertEqual(superuser_sql("SELECT count(*) FROM ostrel.deltas WHERE NOT withdrawn"), [(0,)])

        # Everything changed: the delta would be the package again, and is not offered.
        write(self.product, "assets/big.bin", os.urandom(300000))
        result = run_publish("--root", ROOT, "--host", "localhost", "--version", "3.0.0", "--product", self.product)
        self.assertIn("no delta from 1.9.0: ", result.stdout)
        self.assertIn("more than half of the package", result.stdout)
        self.assertEqual(self.delta_query("1.9.0")[0], [])
        self.assertFalse([name for name in os.listdir(os.path.join(ROOT, "packages")) if "3.0.0-from" in name])

    def test_a_symbolic_link_in_the_product_is_refused(self):
        outside = tempfile.mkdtemp(prefix="publish-outside-", dir=BUILD)
        write(outside, "secret.txt", b"not for the package")
        for name in ("notes.txt", "docs"):
            link = os.path.join(self.product, name)
            os.symlink(os.path.join(outside, "secret.txt") if name == "notes.txt" else outside, link)
            refused = run_publish("--root", ROOT, "--host", "localhost", "--version", "1.6.0", "--product", self.product)
            os.remove(link)
            self.assertNotEqual(refused.returncode, 0, name)
            self.assertIn("symbolic links in the product folder, nothing published: " + name, refused.stderr)
            self.assertFalse(os.path.exists(os.path.join(ROOT, "packages", "Ostrel-1.6.0.zip")), name)

    def test_paths_that_cannot_share_a_folder_are_refused(self):
        publish(self.product, "1.4.2")
        write(self.product, "Data/readme.txt", b"other")
        refused = run_publish("--root", ROOT, "--host", "localhost", "--version", "1.5.0", "--product", self.product)
        if os.path.exists(os.path.join(self.product, "data", "readme.txt")):
            self.assertNotEqual(refused.returncode, 0)
            self.assertIn("differ only in case", refused.stderr)
            self.assertFalse(os.path.exists(os.path.join(ROOT, "packages", "Ostrel-1.5.0.zip")))

        # A file the new release renames to another case would be removed after it is placed.
        shutil.rmtree(os.path.join(self.product, "data"))
        result = run_publish("--root", ROOT, "--host", "localhost", "--version", "1.5.0", "--product", self.product)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("no delta from 1.4.2: 'Data/readme.txt' and 'data/readme.txt' differ only in case",
                      result.stdout)
        self.assertEqual(superuser_sql("SELECT count(*) FROM ostrel.deltas"), [(0,)])

    def test_nothing_published_answers_404_and_unknown_packages_too(self):
        status, _, body = query(service_key())
        self.assertEqual(status, 404)
        self.assertNotIn(b'"version"', body)
        for name in ("Ostrel-9.9.9.zip", "..%2Fservice-key.txt", "%2E%2E"):
            self.assertEqual(fetch("https://localhost/packages/" + name)[0], 404, name)


if __name__ == "__main__":
    if not os.path.isdir(ROOT):
        sys.exit("usage: publish_test.py <build-dir> (with the update service started)")
    unittest.main(verbosity=2)
