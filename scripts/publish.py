#!/usr/bin/env python3
"""Publishes a release of the product: its package to the package folder, its record to the
release database, or withdraws a published release.

Writes <root>/packages/Ostrel-<V>.zip (deflated, entries in sorted order) from the files of the
product folder plus version.txt and OstrelFiles.txt, and adds the release to ostrel.releases
(backend/schema.sql) in one transaction, as the role ostrel_publisher; the version query then
answers with it while it is the newest release not withdrawn. OstrelFiles.txt names every file
this release installs and every file an earlier release in the database installed, withdrawn
ones too, so the uninstaller also removes what an update left behind. A version is published
once: a second publication of it is refused with nothing written. Prints the package's path
and its SHA-256.

  publish.py --database DSN --root DIR --host HOST --version V --product DIR [options]
  publish.py --database DSN --withdraw V       the version query no longer offers V
  publish.py --package-only --root DIR ...     the package alone, with no database

With --sign-key (the release signing key, a P-256 private key in PEM) the record is signed: the
answer then carries size_bytes, signature and signature_expires after sha256, which a setup
built with the matching public key requires. The signed bytes are the line
"ostrel-release-v1" and then version, download_url, sha256, size_bytes, is_required ("true" or
"false") and signature_expires ("2027-03-01T10:00:00+00:00"), each line ended by a line feed;
the signature is ECDSA over their SHA-256, r and s as 32 bytes each, in base64. Signing uses
openssl's command line. --answer FILE writes the answer the service gives for this release.
"""

import argparse
import base64
import datetime
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "backend"))
import release_db  # noqa: E402

GENERATED = ("OstrelFiles.txt", "version.txt")
# MAJOR.MINOR.PATCH, the numbers the setup compares, as the database takes them.
VERSION = re.compile(r"(0|[1-9][0-9]{0,8})\.(0|[1-9][0-9]{0,8})\.(0|[1-9][0-9]{0,8})")
# Publishers take turns: each reads the file lists of the releases before it.
PUBLISH_LOCK = 0x6F737472656C


SIGNED_TAG = "ostrel-release-v1"
SIGNED_FIELDS = ("version", "download_url", "sha256", "size_bytes", "is_required", "signature_expires")
EXPIRY_FORMAT = "%Y-%m-%dT%H:%M:%S+00:00"


class Refused(Exception):
    pass


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


def write_package(folder, args, files, history):
    """Writes the package to a temporary file in folder, for the caller to rename; returns its path."""
    listed = sorted(set(history) | set(files) | set(GENERATED))
    generated = {
        "version.txt": (args.version + "\n").encode("utf-8"),
        "OstrelFiles.txt": "".join(name + "\n" for name in listed).encode("utf-8"),
    }
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


def release_record(args, name, package, files):
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
    }


def signed_bytes(record):
    """The bytes a release's signature covers. The setup reads the answer's text as it stands, so a
    field it would read differently (a quote, a backslash, a control character) cannot be signed."""
    lines = [SIGNED_TAG]
    for name in SIGNED_FIELDS:
        value = record[name]
        text = ("true" if value else "false") if isinstance(value, bool) else str(value)
        if not text or any(ord(c) < 32 or c in '"\\\x7f' for c in text):
            raise Refused("%s %r cannot be signed: no quotes, backslashes or control characters" % (name, text))
        lines.append(text)
    return "".join(line + "\n" for line in lines).encode("utf-8")


def der_to_raw(der):
    """An ECDSA signature's DER SEQUENCE of r and s as r and s of 32 bytes each."""
    if len(der) < 8 or der[0] != 0x30 or der[1] != len(der) - 2:
        raise Refused("openssl gave no ECDSA signature")
    numbers, at = [], 2
    for _ in range(2):
        if der[at] != 0x02:
            raise Refused("openssl gave no ECDSA signature")
        length = der[at + 1]
        numbers.append(int.from_bytes(der[at + 2:at + 2 + length], "big"))
        at += 2 + length
    return b"".join(number.to_bytes(32, "big") for number in numbers)


def sign_record(record, key, expires):
    """Adds signature_expires and signature to the record, signed with the PEM private key."""
    record["signature_expires"] = expires.strftime(EXPIRY_FORMAT)
    result = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=signed_bytes(record),
                            capture_output=True)
    if result.returncode:
        raise Refused("openssl could not sign with %s: %s" % (key, result.stderr.decode(errors="replace").strip()))
    record["signature"] = base64.b64encode(der_to_raw(result.stdout)).decode("ascii")


def answer_of(record):
    """The version query's answer for this release alone, as the service writes it."""
    release = {name: record[name] for name in ("version", "download_url", "release_notes", "is_required")}
    release["file_size_mb"] = round(record["size_bytes"] / (1024 * 1024), 2)
    release["sha256"] = record["sha256"]
    if "signature" in record:
        for name in ("size_bytes", "signature", "signature_expires"):
            release[name] = record[name]
    return json.dumps([release], separators=(",", ":"), ensure_ascii=False).encode("utf-8")


def expiry(text):
    """A date or time in UTC (2027-03-01, 2027-03-01T10:00:00) as an aware datetime."""
    try:
        moment = datetime.datetime.fromisoformat(text)
        return moment.astimezone(datetime.timezone.utc) if moment.tzinfo else moment.replace(tzinfo=datetime.timezone.utc)
    except ValueError:
        raise argparse.ArgumentTypeError("not a date: %r" % text)


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
            temporary = write_package(os.path.dirname(path), args, files, history)
            record = release_record(args, os.path.basename(path), temporary, files)
            if args.sign_key:
                sign_record(record, args.sign_key, args.expires)
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


def withdraw(args):
    connection = release_db.connect(args.database)
    try:
        with connection, connection.cursor() as cursor:
            cursor.execute("UPDATE ostrel.releases SET withdrawn = true WHERE version = %s", (args.withdraw,))
            if cursor.rowcount != 1:
                raise Refused("no release %s is published" % args.withdraw)
    finally:
        connection.close()
    print("withdrawn %s" % args.withdraw)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--database", help="libpq connection string of the release database")
    parser.add_argument("--withdraw", metavar="VERSION", help="withdraw this published release")
    parser.add_argument("--package-only", action="store_true", help="write the package alone, no database")
    parser.add_argument("--root", help="the folder that holds packages/")
    parser.add_argument("--host", help="host name of the service, as in download_url")
    parser.add_argument("--version")
    parser.add_argument("--product", help="folder of the product's files")
    parser.add_argument("--notes", default="", help="release notes")
    parser.add_argument("--required", action="store_true", help="mark the update as mandatory")
    parser.add_argument("--wrap", default="", help="put every entry under this one top folder")
    parser.add_argument("--route", default="packages/", help="path prefix of download_url (default packages/)")
    parser.add_argument("--sign-key", metavar="PEM", help="sign the release record with this P-256 private key")
    parser.add_argument("--expires", type=expiry, metavar="DATE",
                        help="when the signature expires, UTC (default: a year from now)")
    parser.add_argument("--answer", metavar="FILE", help="also write the version query's answer for this release")
    args = parser.parse_args()
    if args.expires is None:
        args.expires = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=365)
    args.expires = args.expires.replace(microsecond=0)
    if args.sign_key and args.expires <= datetime.datetime.now(datetime.timezone.utc):
        print("publish.py: warning: the signature expires before now; setups will refuse it", file=sys.stderr)

    # Under a python3 without psycopg2 this runs the script again under Debian's.
    database_error = release_db.psycopg2().Error if args.withdraw or not args.package_only else ()
    try:
        if args.withdraw:
            if not args.database:
                parser.error("--withdraw needs --database")
            withdraw(args)
            return 0
        missing = [option for option in ("root", "host", "version", "product") if not getattr(args, option)]
        if missing:
            parser.error("needed: %s" % ", ".join("--" + option for option in missing))
        if not os.path.isdir(args.product):
            parser.error("no product folder %s" % args.product)
        if not VERSION.fullmatch(args.version):
            parser.error("the version must be MAJOR.MINOR.PATCH, numbers without leading zeros: %r" % args.version)
        if args.wrap.strip("/") and not is_safe_windows_name(args.wrap.strip("/")):
            parser.error("--wrap takes one folder name that Windows can use: %r" % args.wrap)
        files = product_files(args.product)
        if not files:
            parser.error("the product folder %s holds no files" % args.product)
        unusable = [name for name in files if not all(is_safe_windows_name(part) for part in name.split("/"))]
        if unusable:
            parser.error("file names that Windows cannot use as they are, nothing published: %s" % ", ".join(unusable))
        if not (args.database or args.package_only):
            parser.error("--database is needed (or --package-only)")

        packages = os.path.join(args.root, "packages")
        os.makedirs(packages, exist_ok=True)
        path = os.path.join(packages, "Ostrel-%s.zip" % args.version)
        if args.package_only:
            temporary = write_package(packages, args, files, [])
            try:
                record = release_record(args, os.path.basename(path), temporary, files)
                if args.sign_key:
                    sign_record(record, args.sign_key, args.expires)
            except BaseException:
                os.unlink(temporary)
                raise
            os.replace(temporary, path)
        else:
            record = publish(args, files, path)
        if args.answer:
            with open(args.answer, "wb") as answer:
                answer.write(answer_of(record))
    except Refused as refused:
        sys.exit("publish.py: %s" % refused)
    except database_error as error:
        sys.exit("publish.py: the release database: %s" % str(error).strip())
    print(path)
    print(record["sha256"])
    return 0


if __name__ == "__main__":
    sys.exit(main())
