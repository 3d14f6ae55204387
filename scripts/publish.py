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
import re
import sys
import tempfile
import time
import zipfile

HISTORY_FILE = "published-files.txt"
GENERATED = ("OstrelFiles.txt", "version.txt")


DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}


def is_safe_windows_name(component):
    """True for one file or folder name that means the same on Windows as here: not "." or "..", no
    reserved character, no device name (whatever its extension), no 8.3 alias, no trailing dot or
    blank. The uninstaller refuses the same names in its list."""
    if component in ("", ".", "..") or component[-1] in ". ":
        return False
    if any(ord(c) < 32 or c in '<>:"|?*\\/' for c in component):
        return False
    stem = component.split(".")[0].rstrip(" .").upper()
    if stem in DEVICE_NAMES or (len(stem) == 4 and stem[:3] in ("COM", "LPT") and stem[3] in "0123456789\u00b9\u00b2\u00b3"):
        return False
    return re.search(r"~[0-9]", component) is None


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
    if args.wrap.strip("/") and not is_safe_windows_name(args.wrap.strip("/")):
        parser.error("--wrap takes one folder name that Windows can use: %r" % args.wrap)
    files = product_files(args.product)
    if not files:
        parser.error("the product folder %s holds no files" % args.product)
    unusable = [name for name in files if not all(is_safe_windows_name(part) for part in name.split("/"))]
    if unusable:
        parser.error("file names that Windows cannot use as they are, nothing published: %s" % ", ".join(unusable))

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
