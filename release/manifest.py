"""A release's manifest: every file its package installs, with its size and SHA-256.

OstrelManifest.txt, at the package's root, is UTF-8 without a byte-order mark, one file a line,
each line ended by a line feed and made of four fields separated by tabs:

  file<TAB>data/readme.txt<TAB>4000<TAB>5f1c...e2 (64 lower-case hexadecimal digits)

the kind, the path ("/"-separated, relative to the install folder), the size in bytes (decimal,
no leading zeros) and the SHA-256 of the file's bytes. Lines are sorted by the path's UTF-8
bytes. The kind "file" means the file's whole bytes; a reader refuses a kind it does not know, so
later kinds (a binary patch against the installed file) make older setups take the full package.
The manifest does not list itself.
"""

import hashlib
import re

from signing import Refused

NAME = "OstrelManifest.txt"
KIND_FILE = "file"
SIZE = re.compile(r"0|[1-9][0-9]{0,18}")
DIGEST = re.compile(r"[0-9a-f]{64}")


class ManifestError(Refused):
    pass


def sha256_of_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as data:
        while block := data.read(1 << 20):
            digest.update(block)
    return digest.hexdigest()


def entry_of_bytes(path, data):
    return (KIND_FILE, path, len(data), hashlib.sha256(data).hexdigest())


def check_paths(paths):
    """Refuses a list of paths that cannot all be written into one folder on Windows: a path
    named twice, two that differ only in case, or one that leaves the folder."""
    seen = {}
    for path in paths:
        parts = path.split("/")
        if not path or path.startswith("/") or "\\" in path or ":" in path or any(
                part in ("", ".", "..") for part in parts) or any(ord(c) < 32 for c in path):
            raise ManifestError("%r lies outside the install folder" % path)
        folded = path.casefold()
        if folded in seen:
            if seen[folded] == path:
                raise ManifestError("%r is named twice" % path)
            raise ManifestError("%r and %r differ only in case" % (seen[folded], path))
        seen[folded] = path


def text_of(entries):
    """The manifest's bytes for (kind, path, size, sha256) entries, in any order."""
    entries = sorted(entries, key=lambda entry: entry[1].encode("utf-8"))
    check_paths(entry[1] for entry in entries)
    lines = []
    for kind, path, size, digest in entries:
        if kind != KIND_FILE or not DIGEST.fullmatch(digest) or size < 0:
            raise ManifestError("no manifest line for %r" % path)
        lines.append("%s\t%s\t%d\t%s\n" % (kind, path, size, digest))
    return "".join(lines).encode("utf-8")


def parse(data):
    """The entries of a manifest's bytes as {path: (kind, size, sha256)}; ManifestError when a line
    is not one this reader writes (unsorted, an unknown kind, a field out of shape)."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        raise ManifestError("not UTF-8") from None
    if text and not text.endswith("\n"):
        raise ManifestError("the last line is not ended")
    entries, order = {}, []
    for line in text.split("\n")[:-1]:
        fields = line.split("\t")
        if len(fields) != 4:
            raise ManifestError("not four fields: %r" % line)
        kind, path, size, digest = fields
        if kind != KIND_FILE:
            raise ManifestError("unknown kind %r" % kind)
        if not SIZE.fullmatch(size) or not DIGEST.fullmatch(digest):
            raise ManifestError("size or digest out of shape: %r" % line)
        order.append(path)
        entries[path] = (kind, int(size), digest)
    check_paths(order)
    if order != sorted(order, key=lambda path: path.encode("utf-8")):
        raise ManifestError("the lines are not sorted by path")
    return entries
