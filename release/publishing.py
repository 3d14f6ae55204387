"""Publishing a release of the product: its package to the package folder, its record to the
release database; withdrawing one; listing them.

The package is <root>/packages/Ostrel-<V>.zip (deflated, entries in sorted order): the files of
the product folder plus version.txt, OstrelFiles.txt and the manifest (release/manifest.py). The record goes to ostrel.releases
(backend/schema.sql) in one transaction, as the role ostrel_publisher; the version query then
answers with it while it is the newest release not withdrawn. OstrelFiles.txt names every file
this release installs and every file an earlier release in the database installed, withdrawn
ones too, so the uninstaller also removes what an update left behind. A version is published
once: a second publication of it is refused with nothing written.
"""

import hashlib
import json
import os
import re
import tempfile
import time
import zipfile

import manifest
import release_db
import signing
from signing import Refused

GENERATED = ("OstrelFiles.txt", "version.txt", manifest.NAME)
# MAJOR.MINOR.PATCH, the numbers the setup compares, as the database takes them.
VERSION = re.compile(r"(0|[1-9][0-9]{0,8})\.(0|[1-9][0-9]{0,8})\.(0|[1-9][0-9]{0,8})")
# Publishers take turns: each reads the file lists of the releases before it.
PUBLISH_LOCK = 0x6F737472656C

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


def generated_files(args, files, history):
    """The files the package adds to the product's, by name: their bytes."""
    listed = sorted(set(history) | set(files) | set(GENERATED))
    generated = {
        "version.txt": (args.version + "\n").encode("utf-8"),
        "OstrelFiles.txt": "".join(name + "\n" for name in listed).encode("utf-8"),
    }
    entries = [manifest.entry_of_bytes(name, data) for name, data in generated.items()]
    for name in files:
        path = os.path.join(args.product, *name.split("/"))
        entries.append((manifest.KIND_FILE, name, os.path.getsize(path), manifest.sha256_of_file(path)))
    generated[manifest.NAME] = manifest.text_of(entries)
    return generated


def write_package(folder, args, files, generated):
    """Writes the package to a temporary file in folder, for the caller to rename; returns its path."""
    wrap = args.wrap.strip("/")
    stamp = time.localtime()[:6]
    entries = [(name, None) for name in files] + list(generated.items())
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=".publish-", suffix=".zip")
    os.close(handle)
    try:
        with zipfile.ZipFile(temporary, "w", zipfile.ZIP_DEFLATED) as package:
            for name, data in sorted(entries):
                entry = wrap + "/" + name if wrap else name
                if data is None:
                    package.write(os.path.join(args.product, *name.split("/")), entry)
                else:
                    package.writestr(zipfile.ZipInfo(entry, stamp), data, zipfile.ZIP_DEFLATED)
    except BaseException:
        os.unlink(temporary)
        raise
    return temporary


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as package:
        while block := package.read(1 << 20):
            digest.update(block)
    return digest.hexdigest()


def release_record(args, name, package, files, generated):
    """The release's row in ostrel.releases, column by column. A signing step adds signature and
    signature_expires here; the version query then answers with them."""
    route = args.route.strip("/")
    route = route + "/" if route else ""
    return {
        "version": args.version,
        "download_url": "https://%s/%s%s" % (args.host, route, name),
        "release_notes": args.notes,
        "is_required": args.required,
        "size_bytes": os.path.getsize(package),
        "sha256": sha256_of(package),
        "installed_files": files,
        "manifest": generated[manifest.NAME].decode("utf-8"),
    }


def answer_of(record):
    """The version query's answer for this release alone, as the service writes it."""
    release = {name: record[name] for name in ("version", "download_url", "release_notes", "is_required")}
    release["file_size_mb"] = round(record["size_bytes"] / (1024 * 1024), 2)
    release["sha256"] = record["sha256"]
    if "signature" in record:
        for name in ("size_bytes", "signature", "signature_expires"):
            release[name] = record[name]
    return json.dumps([release], separators=(",", ":"), ensure_ascii=False).encode("utf-8")


def finished_record(args, path, temporary, files, generated):
    """The record of the package written to temporary, signed when the release is."""
    record = release_record(args, os.path.basename(path), temporary, files, generated)
    if args.sign_key:
        signing.sign_record(record, args.sign_key, args.expires)
    return record


def package_only(args, files, path):
    """The package and its record, with no database (the build's fixtures)."""
    generated = generated_files(args, files, [])
    temporary = write_package(os.path.dirname(path), args, files, generated)
    try:
        record = finished_record(args, path, temporary, files, generated)
    except BaseException:
        os.unlink(temporary)
        raise
    os.replace(temporary, path)
    return record


def publish(args, files, path):
    """Package and record in one transaction: the package is in place before the record is
    committed, and a refused record leaves the package folder as it was."""
    psycopg2 = release_db.psycopg2()
    sql = psycopg2.sql
    connection = release_db.connect(args.database)
    temporary = None
    try:
        with connection.cursor() as cursor:
            cursor.execute("SELECT pg_advisory_xact_lock(%s)", (PUBLISH_LOCK,))
            cursor.execute("SELECT withdrawn FROM ostrel.releases WHERE version = %s", (args.version,))
            earlier = cursor.fetchone()
            if earlier:
                raise Refused("%s is already published%s; a version is published once, nothing written"
                              % (args.version, " and withdrawn" if earlier[0] else ""))
            cursor.execute("SELECT DISTINCT unnest(installed_files) FROM ostrel.releases")
            history = [row[0] for row in cursor]
            generated = generated_files(args, files, history)
            temporary = write_package(os.path.dirname(path), args, files, generated)
            record = finished_record(args, path, temporary, files, generated)
            cursor.execute(sql.SQL("INSERT INTO ostrel.releases ({}) VALUES ({})").format(
                sql.SQL(", ").join(map(sql.Identifier, record)), sql.SQL(", ").join(sql.Placeholder() * len(record))),
                list(record.values()))
        os.replace(temporary, path)
        temporary = path
        connection.commit()
        return record
    except BaseException:
        if temporary:
            os.unlink(temporary)
        raise
    finally:
        connection.close()


def withdraw(database, version):
    connection = release_db.connect(database)
    try:
        with connection, connection.cursor() as cursor:
            cursor.execute("UPDATE ostrel.releases SET withdrawn = true WHERE version = %s", (version,))
            if cursor.rowcount != 1:
                raise Refused("no release %s is published" % version)
    finally:
        connection.close()


def releases(database):
    """Every release, newest by its numbers first: (version, published_at, withdrawn, is_required,
    size_bytes, sha256, signature_expires or None), times in UTC."""
    connection = release_db.connect(database)
    try:
        with connection, connection.cursor() as cursor:
            cursor.execute("SET LOCAL timezone = 'UTC'")
            cursor.execute("SELECT version, published_at, withdrawn, is_required, size_bytes, sha256, signature_expires"
                           " FROM ostrel.releases ORDER BY major DESC, minor DESC, patch DESC")
            return cursor.fetchall()
    finally:
        connection.close()


def release_table(rows):
    """The lines `list` prints: one per release, and which one the version query offers."""
    header = ("version", "state", "required", "published (UTC)", "signed until (UTC)", "size (bytes)", "sha256")
    lines, offered = [header], False
    for version, published, withdrawn, required, size, digest, expires in rows:
        state = "withdrawn" if withdrawn else "published" if offered else "offered"
        offered = offered or not withdrawn
        lines.append((version, state, "yes" if required else "no", published.strftime("%Y-%m-%d %H:%M:%S"),
                      expires.strftime("%Y-%m-%d %H:%M:%S") if expires else "unsigned", str(size), digest))
    widths = [max(len(line[column]) for line in lines) for column in range(len(header))]
    return ["  ".join(cell.ljust(width) for cell, width in zip(line, widths)).rstrip() for line in lines]
