#!/usr/bin/env python3
"""Updates through a delta against the running local update service and its release database:
publishes 0.9.0, 1.0.0 and 1.1.0 of a sample product with the release tool (1.1.0 with a delta
from 1.0.0 only), runs the test program (tests/delta_update_test.cpp) under Wine against them, and
leaves the database and the package folder as it found them.
Usage: delta_update_test.py <build-dir> <delta_update_tests.exe> <folder of Ostrel.exe> [gtest arguments]"""

import datetime
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "backend"))
import release_db  # noqa: E402

sys.path.insert(0, os.path.join(HERE, "..", "release"))
import signing  # noqa: E402

TOOL = os.path.join(HERE, "..", "release", "ostrel-release")
ASSET_BYTES = 600 * 1024


def release_files(version, program):
    """Each release: the sample product's program, an asset that never changes (so the delta is
    small), a file each release changes; 0.9.0 and 1.0.0 have legacy/old.txt, 1.1.0 has
    added/new.txt instead."""
    files = {
        "Ostrel.exe": program,
        "assets/big.bin": random.Random(30).randbytes(ASSET_BYTES),
        "changed.txt": ("changed in %s\n" % version).encode(),
    }
    if version == "1.1.0":
        files["added/new.txt"] = b"new in 1.1.0\n"
    else:
        files["legacy/old.txt"] = b"gone after 1.0.0\n"
    return files


def clean(root):
    release_db.empty_local(BUILD)
    for name in ("latest.json", "latest.status", "delta.json", "delta-cut.json"):
        if os.path.exists(os.path.join(root, name)):
            os.unlink(os.path.join(root, name))
    packages = os.path.join(root, "packages")
    for name in os.listdir(packages) if os.path.isdir(packages) else ():
        if name.startswith(("Ostrel-0.9.0", "Ostrel-1.0.0", "Ostrel-1.1.0")):
            os.unlink(os.path.join(packages, name))


def publish(root, version, program, *options):
    product = tempfile.mkdtemp(prefix="delta-product-", dir=BUILD)
    try:
        for name, data in release_files(version, program).items():
            path = os.path.join(product, *name.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as out:
                out.write(data)
        key = os.path.join(BUILD, "release-key", "private.pem")
        signing = ["--sign-key", key] if os.path.exists(key) else []
        result = subprocess.run([sys.executable, TOOL, "publish", "--database",
                                 release_db.local_dsn(BUILD, "ostrel_publisher"), "--root", root, "--host",
                                 "localhost", "--version", version, "--product", product, *signing, *options],
                                capture_output=True, text=True)
        sys.stdout.write(result.stdout)
        if result.returncode:
            raise SystemExit("publishing %s failed: %s" % (version, result.stderr))
    finally:
        shutil.rmtree(product)


def write_cut_delta(root):
    """The delta query's answer for 1.0.0 with the delta behind a route that breaks off every
    answer, signed again in a key build (delta-cut.json): a delta download cut for good."""
    connection = release_db.connect(release_db.local_dsn(BUILD, "postgres"))
    try:
        with connection.cursor() as cursor:
            cursor.execute("SELECT api.get_update_delta('1.0.0')::text")
            [row] = json.loads(cursor.fetchone()[0])
    finally:
        connection.close()
    row["download_url"] = row["download_url"].replace("/packages/", "/fault/drop-always/")
    if "signature" in row:
        expires = datetime.datetime.strptime(row["signature_expires"], signing.EXPIRY_FORMAT)
        signing.sign_record(row, os.path.join(BUILD, "release-key", "private.pem"), expires,
                            signing.DELTA_TAG, signing.DELTA_FIELDS)
    with open(os.path.join(root, "delta-cut.json"), "w") as out:
        json.dump([row], out, separators=(",", ":"))


def main():
    program, product_folder, gtest = sys.argv[2], sys.argv[3], sys.argv[4:]
    root = os.path.join(BUILD, "service-root")
    with open(os.path.join(product_folder, "Ostrel.exe"), "rb") as exe:
        sample = exe.read()
    clean(root)
    try:
        publish(root, "0.9.0", sample)
        publish(root, "1.0.0", sample)
        publish(root, "1.1.0", sample, "--deltas", "1")
        write_cut_delta(root)
        status = subprocess.run([os.path.join(HERE, "..", "scripts", "wine-run.sh"), BUILD, program, *gtest]).returncode
    finally:
        clean(root)
    return status


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv[1])
    sys.exit(main())
