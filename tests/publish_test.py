#!/usr/bin/env python3
"""scripts/publish.py against the running local update service: what it publishes is what the
service answers and serves, byte for byte. Usage: publish_test.py <build-dir>"""

import hashlib
import io
import json
import os
import shutil
import ssl
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.request
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
PUBLISH = os.path.join(HERE, "..", "scripts", "publish.py")
BUILD = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else ""
ROOT = os.path.join(BUILD, "service-root")
RPC = "https://localhost/rest/v1/rpc/get_latest_version"


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


def publish(product, version, *extra):
    result = subprocess.run([sys.executable, PUBLISH, "--root", ROOT, "--host", "localhost", "--version", version,
                             "--product", product, *extra], capture_output=True, text=True, check=True)
    path, digest = result.stdout.split()
    return path, digest


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
        for name in ("latest.json", "latest.status", "published-files.txt"):
            if os.path.exists(os.path.join(ROOT, name)):
                os.unlink(os.path.join(ROOT, name))
        for version in ("1.4.2", "1.5.0"):
            path = os.path.join(ROOT, "packages", "Ostrel-%s.zip" % version)
            if os.path.exists(path):
                os.unlink(path)

    def test_answer_and_package_match_what_was_published(self):
        path, digest = publish(self.product, "1.4.2", "--notes", "Faster start")
        self.assertEqual(path, os.path.join(ROOT, "packages", "Ostrel-1.4.2.zip"))

        status, _, body = query(service_key())
        self.assertEqual(status, 200)
        with open(os.path.join(ROOT, "latest.json"), "rb") as latest:
            self.assertEqual(body, latest.read(), "the answer is latest.json verbatim")
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
                                          "OstrelFiles.txt"})
            self.assertTrue(all(entry.compress_type == zipfile.ZIP_DEFLATED for entry in archive.infolist()))
            self.assertEqual(archive.read("version.txt"), b"1.4.2\n")
            self.assertEqual(archive.read("OstrelFiles.txt").decode("utf-8").splitlines(), sorted(names))

    def test_update_lists_the_files_of_earlier_releases_and_honours_the_options(self):
        publish(self.product, "1.4.2")
        os.unlink(os.path.join(self.product, "data", "readme.txt"))
        write(self.product, "plugins/\u0444\u0438\u043b\u044c\u0442\u0440.dll", b"plugin")
        path, digest = publish(self.product, "1.5.0", "--wrap", "Ostrel-1.5.0", "--required",
                               "--route", "fault/chunked/", "--notes", "\u041d\u043e\u0432\u043e\u0435")

        [release] = json.loads(query(service_key())[2])
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
            result = subprocess.run([sys.executable, PUBLISH, "--root", ROOT, "--host", "localhost", "--version",
                                     "1.4.2", "--product", self.product, *extra], capture_output=True, text=True)
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
        for key in ("wrong", service_key()[:-1], None):
            status, headers, body = query(key)
            self.assertEqual(status, 401, key)
            self.assertEqual(headers["Content-Type"], "application/json")
            self.assertIn("message", json.loads(body))
            self.assertNotIn(b"version", body)

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
