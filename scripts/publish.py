#!/usr/bin/env python3
"""Publishes a release of the product to an update service folder.

Writes <root>/packages/Ostrel-<V>.zip (deflated, entries in sorted order) from the files of the
product folder plus version.txt and OstrelFiles.txt, and <root>/latest.json, the compact row set
the service answers the version query with. OstrelFiles.txt names every file this release
installs and every file an earlier release published to this root installed, so the uninstaller
also removes what an update left behind; that history is kept in <root>/published-files.txt.
Prints the package's path and its SHA-256.
"""

import argparse
import hashlib
import json
import os
import sys
import tempfile
import time
import zipfile

HISTORY_FILE = "published-files.txt"
GENERATED = ("OstrelFiles.txt", "version.txt")


def product_files(folder):
    """Relative "/"-separated paths of the product's files, the generated ones left out."""
    found = []
    for parent, folders, files in os.walk(folder):
        folders.sort()
        for name in files:
            relative = os.path.relpath(os.path.join(parent, name), folder).replace(os.sep, "/")
            if relative not in GENERATED:
                found.append(relative)
    return found


def read_history(root):
    try:
        with open(os.path.join(root, HISTORY_FILE), encoding="utf-8") as history:
            return {line.strip() for line in history if line.strip()}
    except FileNotFoundError:
        return set()


def replace_file(path, data):
    """Writes through a temporary file beside the target, so a reader never sees half of it."""
    folder = os.path.dirname(path)
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=".publish-")
    with os.fdopen(handle, "wb") as out:
        out.write(data)
    os.replace(temporary, path)


def write_package(path, product, files, generated, wrap):
    stamp = time.localtime()[:6]
    entries = [(name, None) for name in files] + list(generated.items())
    folder = os.path.dirname(path)
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=".publish-", suffix=".zip")
    os.close(handle)
    try:
        with zipfile.ZipFile(temporary, "w", zipfile.ZIP_DEFLATED) as package:
            for name, data in sorted(entries):
                entry = wrap + "/" + name if wrap else name
                if data is None:
                    package.write(os.path.join(product, *name.split("/")), entry)
                else:
                    package.writestr(zipfile.ZipInfo(entry, stamp), data, zipfile.ZIP_DEFLATED)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as package:
        while block := package.read(1 << 20):
            digest.update(block)
    return digest.hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True, help="the update service's folder")
    parser.add_argument("--host", required=True, help="host name of the service, as in download_url")
    parser.add_argument("--version", required=True)
    parser.add_argument("--product", required=True, help="folder of the product's files")
    parser.add_argument("--notes", default="", help="release notes")
    parser.add_argument("--required", action="store_true", help="mark the update as mandatory")
    parser.add_argument("--wrap", default="", help="put every entry under this one top folder")
    parser.add_argument("--route", default="packages/", help="path prefix of download_url (default packages/)")
    args = parser.parse_args()

    if not os.path.isdir(args.product):
        parser.error("no product folder %s" % args.product)
    if not args.version or any(c in args.version for c in '/\\:*?"<>|'):
        parser.error("the version must be usable in a file name")
    if "/" in args.wrap.strip("/") or args.wrap in (".", ".."):
        parser.error("--wrap takes one folder name")
    files = product_files(args.product)
    if not files:
        parser.error("the product folder %s holds no files" % args.product)

    packages = os.path.join(args.root, "packages")
    os.makedirs(packages, exist_ok=True)
    listed = sorted(read_history(args.root) | set(files) | set(GENERATED))
    generated = {
        "version.txt": (args.version + "\n").encode("utf-8"),
        "OstrelFiles.txt": "".join(name + "\n" for name in listed).encode("utf-8"),
    }
    name = "Ostrel-%s.zip" % args.version
    path = os.path.join(packages, name)
    write_package(path, args.product, files, generated, args.wrap.strip("/"))
    replace_file(os.path.join(args.root, HISTORY_FILE), "".join(n + "\n" for n in listed).encode("utf-8"))

    digest = sha256_of(path)
    route = args.route.strip("/")
    route = route + "/" if route else ""
    release = {
        "version": args.version,
        "download_url": "https://%s/%s%s" % (args.host, route, name),
        "release_notes": args.notes,
        "is_required": args.required,
        "file_size_mb": round(os.path.getsize(path) / (1024 * 1024), 2),
        "sha256": digest,
    }
    answer = json.dumps([release], separators=(",", ":"), ensure_ascii=False)
    replace_file(os.path.join(args.root, "latest.json"), answer.encode("utf-8"))
    print(path)
    print(digest)
    return 0


if __name__ == "__main__":
    sys.exit(main())
