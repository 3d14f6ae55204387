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
# A delta's list of the files to remove, one path a line; a product file never has its name.
REMOVED = "OstrelRemoved.txt"
DELTA_COUNT = 3
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


def linked_paths(folder):
    """Relative paths of the symbolic links under folder: a link would put whatever it points at,
    inside the folder or not, into a public package."""
    linked = []
    for parent, folders, files in os.walk(folder):
        folders.sort()
        for name in sorted(folders + files):
            if os.path.islink(os.path.join(parent, name)):
                linked.append(os.path.relpath(os.path.join(parent, name), folder).replace(os.sep, "/"))
    return linked


def product_files(folder):
    """Relative "/"-separated paths of the product's files, the generated ones left out."""
    found = []
    for parent, folders, files in os.walk(folder):
        folders.sort()
        for name in files:
            relative = os.path.relpath(os.path.join(parent, name), folder).replace(os.sep, "/")
            if relative not in GENERATED and relative != REMOVED:
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
    entries = [(name, None) for name in files] + list(generated.items())
    return write_zip(folder, [(wrap + "/" + name if wrap else name, name, data) for name, data in entries],
                     args.product)


def write_zip(folder, entries, product):
    """Writes (entry name, bytes or None for the product's file of that name) to a temporary ZIP
    in folder, deflated, in sorted order; returns its path for the caller to rename."""
    stamp = time.localtime()[:6]
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=".publish-", suffix=".zip")
    os.close(handle)
    try:
        with zipfile.ZipFile(temporary, "w", zipfile.ZIP_DEFLATED) as archive:
            for entry, name, data in sorted(entries):
                if data is None:
                    archive.write(os.path.join(product, *name.split("/")), entry)
                else:
                    archive.writestr(zipfile.ZipInfo(entry, stamp), data, zipfile.ZIP_DEFLATED)
        # Readable by everyone: the web server's workers serve it as another user.
        os.chmod(temporary, 0o644)
    except BaseException:
        os.unlink(temporary)
        raise
    return temporary


def download_url(args, name):
    route = args.route.strip("/")
    return "https://%s/%s%s" % (args.host, route + "/" if route else "", name)


def release_record(args, name, package, files, generated):
    """The release's row in ostrel.releases, column by column. A signing step adds signature and
    signature_expires here; the version query then answers with them."""
    return {
        "version": args.version,
        "download_url": download_url(args, name),
        "release_notes": args.notes,
        "is_required": args.required,
        "size_bytes": os.path.getsize(package),
        "sha256": manifest.sha256_of_file(package),
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


def delta_contents(old_text, new_text):
    """(the paths of the new manifest whose file is new or differs, the paths to remove) going from
    the release of old_text to that of new_text; ManifestError when the two cannot be applied one
    over the other (a removed path differing only in case from a kept one)."""
    old, new = manifest.parse(old_text), manifest.parse(new_text)
    changed = sorted(path for path, entry in new.items() if old.get(path) != entry)
    removed = sorted(set(old) - set(new))
    manifest.check_paths(list(new) + removed)
    return changed, removed


def write_delta(folder, args, generated, changed, removed):
    """The delta's ZIP in a temporary file of folder: the changed files, the new manifest and the
    list of files to remove."""
    entries = [(name, name, generated.get(name)) for name in changed if name != manifest.NAME]
    entries.append((manifest.NAME, manifest.NAME, generated[manifest.NAME]))
    entries.append((REMOVED, REMOVED, "".join(name + "\n" for name in removed).encode("utf-8")))
    return write_zip(folder, entries, args.product)


def make_deltas(cursor, args, path, generated, full_size, report):
    """Writes and records the deltas to this release from the last args.deltas releases before it
    not withdrawn; returns [(temporary, final path)] for the caller to move into place. A delta
    larger than half of the full package is not offered."""
    cursor.execute("SELECT version, manifest FROM ostrel.releases"
                   " WHERE NOT withdrawn AND (major, minor, patch) < (%s, %s, %s)"
                   " ORDER BY major DESC, minor DESC, patch DESC LIMIT %s",
                   [int(number) for number in args.version.split(".")] + [args.deltas])
    made = []
    try:
        for old_version, old_text in cursor.fetchall():
            if not old_text:
                report("no delta from %s: its release has no manifest" % old_version)
                continue
            try:
                changed, removed = delta_contents(old_text.encode("utf-8"), generated[manifest.NAME])
            except manifest.ManifestError as refused:
                report("no delta from %s: %s" % (old_version, refused))
                continue
            final = os.path.join(os.path.dirname(path), "Ostrel-%s-from-%s.zip" % (args.version, old_version))
            temporary = write_delta(os.path.dirname(path), args, generated, changed, removed)
            size = os.path.getsize(temporary)
            if 2 * size > full_size:
                os.unlink(temporary)
                report("no delta from %s: %d bytes, more than half of the package" % (old_version, size))
                continue
            made.append((temporary, final))
            record = {"version": args.version, "from_version": old_version,
                      "download_url": download_url(args, os.path.basename(final)), "size_bytes": size,
                      "sha256": manifest.sha256_of_file(temporary),
                      "manifest_sha256": hashlib.sha256(generated[manifest.NAME]).hexdigest()}
            if args.sign_key:
                signing.sign_record(record, args.sign_key, args.expires, signing.DELTA_TAG, signing.DELTA_FIELDS)
            insert(cursor, "deltas", record)
            report("delta from %s: %s %d bytes, %d files, %d removed" % (old_version, final, size, len(changed),
                                                                         len(removed)))
    except BaseException:
        for temporary, _ in made:
            os.unlink(temporary)
        raise
    return made


def insert(cursor, table, record):
    sql = release_db.psycopg2().sql
    cursor.execute(sql.SQL("INSERT INTO ostrel.{} ({}) VALUES ({})").format(
        sql.Identifier(table), sql.SQL(", ").join(map(sql.Identifier, record)),
        sql.SQL(", ").join(sql.Placeholder() * len(record))), list(record.values()))


def publish(args, files, path):
    """Package and record in one transaction: the package is in place before the record is
    committed, and a refused record leaves the package folder as it was."""
    connection = release_db.connect(args.database)
    temporary, deltas = None, []
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
            insert(cursor, "releases", record)
            lines = []
            deltas = make_deltas(cursor, args, path, generated, record["size_bytes"], lines.append)
            record["deltas"] = lines
        for delta, final in deltas:
            os.replace(delta, final)
        deltas = [(final, final) for _, final in deltas]
        os.replace(temporary, path)
        temporary = path
        connection.commit()
        return record
    except BaseException:
        for delta, _ in deltas:
            os.unlink(delta)
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
            cursor.execute("UPDATE ostrel.deltas SET withdrawn = true WHERE %s IN (version, from_version)", (version,))
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
