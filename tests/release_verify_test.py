#!/usr/bin/env python3
"""release/ostrel-release verify against the running local update service: a release the tool
published passes every check, asked for as the setup asks; a changed package, another key, a
changed or expired answer, an unsigned release, a package off the service's origin and a refused
API key each fail the check they break, with exit status 1.
Usage: release_verify_test.py <build-dir>"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "backend"))
import release_db  # noqa: E402

release_db.psycopg2()
TOOL = os.path.join(HERE, "..", "release", "ostrel-release")
BUILD = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else ""
ROOT = os.path.join(BUILD, "service-root")
RELEASE_KEY = os.path.join(BUILD, "release-key")
VERSION = "2.0.0"
CHECKS = ["answer", "signature", "origin", "download", "sha256", "size"]
LINE = re.compile(r"(PASS|FAIL|SKIP) (\w+): (.*)")


def tool(*arguments):
    return subprocess.run([sys.executable, TOOL, *arguments], capture_output=True, text=True)


def verify(*extra, location="https://localhost/", api_key=None):
    """(exit status, {check: (verdict, text)}, output) of verify as a release engineer runs it."""
    key = ("--api-key", api_key) if api_key else ("--api-key-file", os.path.join(BUILD, "service-key.txt"))
    result = tool("verify", location, *key, "--ca-file", os.path.join(BUILD, "testca", "ca.pem"), *extra)
    verdicts = {}
    for line in result.stdout.splitlines():
        match = LINE.fullmatch(line)
        if match:
            verdicts[match.group(2)] = (match.group(1), match.group(3))
    return result.returncode, verdicts, result.stdout + result.stderr


def with_key():
    return ("--public-key", os.path.join(RELEASE_KEY, "public.txt"))


def package_path(version=VERSION):
    return os.path.join(ROOT, "packages", "Ostrel-%s.zip" % version)


@unittest.skipUnless(os.path.exists(os.path.join(RELEASE_KEY, "private.pem")), "no release key")
class Verify(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="verify-", dir=BUILD)
        self.product = os.path.join(self.work, "product")
        os.makedirs(os.path.join(self.product, "data"))
        for name, data in (("Ostrel.exe", b"MZ" + os.urandom(30000)), ("data/readme.txt", b"read me\n" * 300)):
            with open(os.path.join(self.product, *name.split("/")), "wb") as out:
                out.write(data)
        self.clean_root()

    def tearDown(self):
        shutil.rmtree(self.work)
        self.clean_root()

    def clean_root(self):
        release_db.empty_local(BUILD)
        for path in (os.path.join(ROOT, "latest.json"), os.path.join(ROOT, "latest.status"), package_path(),
                     package_path("2.0.1")):
            if os.path.exists(path):
                os.unlink(path)

    def publish(self, *extra, version=VERSION):
        result = tool("publish", "--database", release_db.local_dsn(BUILD, "ostrel_publisher"), "--root", ROOT,
                      "--host", "localhost", "--version", version, "--product", self.product, *extra)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.split()[0]

    def serve_answer(self, data):
        with open(os.path.join(ROOT, "latest.json"), "wb") as answer:
            answer.write(data)

    def assertVerdicts(self, verdicts, expected, output):
        self.assertEqual({check: verdicts.get(check, ("none",))[0] for check in expected}, expected, output)

    def test_a_signed_release_passes_every_check_asked_for_as_the_setup_asks(self):
        self.publish("--sign-key", os.path.join(RELEASE_KEY, "private.pem"))
        with open(os.path.join(ROOT, "requests.jsonl"), encoding="utf-8") as log:
            logged = len(log.readlines())
        status, verdicts, output = verify(*with_key())
        self.assertEqual(status, 0, output)
        self.assertEqual(list(verdicts), CHECKS, output)
        self.assertTrue(all(verdict == "PASS" for verdict, _ in verdicts.values()), output)
        self.assertIn("version %s" % VERSION, verdicts["answer"][1])

        with open(os.path.join(ROOT, "requests.jsonl"), encoding="utf-8") as log:
            query, download = [json.loads(line) for line in log.readlines()[logged:]]
        with open(os.path.join(BUILD, "service-key.txt")) as key:
            api_key = key.read().strip()
        self.assertEqual((query["method"], query["path"], query["body"]),
                         ("POST", "/rest/v1/rpc/get_latest_version", "{}"))
        self.assertEqual({name: query["headers"].get(name) for name in
                          ("content-type", "content-length", "apikey", "user-agent", "host", "authorization")},
                         {"content-type": "application/json", "content-length": "2", "apikey": api_key,
                          "user-agent": "OstrelLauncher/1.0", "host": "localhost", "authorization": None})
        self.assertEqual((download["method"], download["path"]), ("GET", "/packages/Ostrel-%s.zip" % VERSION))

        status, _, output = verify(*with_key(), location="https://localhost/rest/v1/rpc/get_latest_version")
        self.assertEqual(status, 0, output)

    def test_a_changed_package_fails_its_hash_and_a_longer_one_its_size_too(self):
        path = self.publish("--sign-key", os.path.join(RELEASE_KEY, "private.pem"))
        with open(path, "r+b") as package:
            package.seek(1000)
            byte = package.read(1)
            package.seek(1000)
            package.write(bytes([byte[0] ^ 0xFF]))
        status, verdicts, output = verify(*with_key())
        self.assertEqual(status, 1, output)
        self.assertVerdicts(verdicts, {"signature": "PASS", "download": "PASS", "sha256": "FAIL", "size": "PASS"},
                            output)

        with open(path, "ab") as package:
            package.write(b"appended")
        status, verdicts, output = verify(*with_key())
        self.assertEqual(status, 1, output)
        self.assertVerdicts(verdicts, {"sha256": "FAIL", "size": "FAIL"}, output)

    def test_a_signature_that_does_not_hold_fails(self):
        answer = os.path.join(self.work, "answer.json")
        self.publish("--sign-key", os.path.join(RELEASE_KEY, "private.pem"), "--answer", answer)
        other = os.path.join(self.work, "other-key")
        made = tool("make-key", other)
        self.assertEqual(made.returncode, 0, made.stderr)
        self.assertRegex(made.stdout, r"^04[0-9a-f]{128}\n$")
        self.assertEqual(tool("make-key", other).stdout, made.stdout, "a folder's pair is kept")
        status, verdicts, output = verify("--public-key", made.stdout.strip())
        self.assertEqual(status, 1, output)
        self.assertVerdicts(verdicts, {"answer": "PASS", "signature": "FAIL", "sha256": "PASS"}, output)
        self.assertIn("does not match", verdicts["signature"][1])

        # The service's answer (the tool's, byte for byte) with one signed field changed; the
        # package is still the one published.
        with open(answer, "rb") as written:
            self.serve_answer(written.read().replace(b'"is_required":false', b'"is_required":true'))
        status, verdicts, output = verify(*with_key())
        self.assertEqual(status, 1, output)
        self.assertVerdicts(verdicts, {"signature": "FAIL", "sha256": "PASS", "size": "PASS"}, output)

    def test_an_expired_signature_fails(self):
        answer = os.path.join(self.work, "answer.json")
        result = tool("publish", "--package-only", "--root", ROOT, "--host", "localhost", "--version", "2.0.1",
                      "--product", self.product, "--sign-key", os.path.join(RELEASE_KEY, "private.pem"),
                      "--expires", "2020-01-01", "--answer", answer)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(answer, "rb") as written:
            self.serve_answer(written.read())
        status, verdicts, output = verify(*with_key())
        self.assertEqual(status, 1, output)
        self.assertVerdicts(verdicts, {"signature": "FAIL", "sha256": "PASS", "size": "PASS"}, output)
        self.assertIn("expired 2020-01-01T00:00:00+00:00", verdicts["signature"][1])

    def test_an_unsigned_release_is_checked_without_a_key_and_refused_with_one(self):
        self.publish()
        status, verdicts, output = verify()
        self.assertEqual(status, 0, output)
        self.assertVerdicts(verdicts, dict.fromkeys(CHECKS, "PASS") | {"signature": "SKIP"}, output)
        status, verdicts, output = verify(*with_key())
        self.assertEqual(status, 1, output)
        self.assertIn("no signature", verdicts["signature"][1])

    def test_no_answer_or_a_package_elsewhere_fails_before_any_download(self):
        status, verdicts, output = verify()
        self.assertEqual((status, verdicts["answer"][0]), (1, "FAIL"), output)
        self.assertIn("404", verdicts["answer"][1], "nothing published")

        self.publish()
        status, verdicts, output = verify(api_key="not.a.key")
        self.assertEqual((status, list(verdicts)), (1, ["answer"]), output)
        self.assertIn("401", verdicts["answer"][1])

        answer = os.path.join(self.work, "answer.json")
        result = tool("publish", "--package-only", "--root", self.work, "--host", "127.0.0.1", "--version", "2.0.1",
                      "--product", self.product, "--answer", answer)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(answer, "rb") as written:
            self.serve_answer(written.read())
        status, verdicts, output = verify()
        self.assertEqual(status, 1, output)
        self.assertEqual(verdicts["origin"][0], "FAIL", output)
        self.assertNotIn("download", verdicts)


if __name__ == "__main__":
    if not os.path.isdir(ROOT):
        sys.exit("usage: release_verify_test.py <build-dir> (with the update service started)")
    unittest.main(verbosity=2)
