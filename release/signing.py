"""Release signing keys and the signature of a release record.

A key pair is ECDSA P-256: private.pem (the signing key: keep it offline, out of the repository and
off the service) and public.txt (the public key as the build takes it in OSTREL_RELEASE_PUBLIC_KEY:
the uncompressed point, 04 then X then Y, as 130 hexadecimal digits). The signed bytes are the
line "ostrel-release-v1" and then version, download_url, sha256, size_bytes, is_required ("true" or
"false") and signature_expires ("2027-03-01T10:00:00+00:00"), each line ended by a line feed; the
signature is ECDSA over their SHA-256, r and s as 32 bytes each, in base64. A delta's row is signed
the same way over "ostrel-delta-v1" and version, from_version, download_url, sha256, size_bytes,
manifest_sha256 and signature_expires. openssl's command line
does the ECDSA, so no Python package is needed.
"""

import base64
import os
import re
import shutil
import subprocess
import tempfile


class Refused(Exception):
    pass


SIGNED_TAG = "ostrel-release-v1"
SIGNED_FIELDS = ("version", "download_url", "sha256", "size_bytes", "is_required", "signature_expires")
DELTA_TAG = "ostrel-delta-v1"
DELTA_FIELDS = ("version", "from_version", "download_url", "sha256", "size_bytes", "manifest_sha256",
                "signature_expires")
EXPIRY_FORMAT = "%Y-%m-%dT%H:%M:%S+00:00"
PUBLIC_KEY = re.compile(r"04[0-9a-f]{128}")
# The DER SubjectPublicKeyInfo of a P-256 key up to its uncompressed point.
P256_KEY_INFO = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200")
COORDINATE_SIZE = 32


def openssl(arguments, data=None):
    result = subprocess.run(["openssl", *arguments], input=data, capture_output=True)
    if result.returncode:
        raise Refused("openssl %s: %s" % (arguments[0], result.stderr.decode(errors="replace").strip()))
    return result.stdout


def make_key(folder):
    """Makes the pair in folder unless it holds one; returns the public key's hexadecimal digits."""
    private, public = os.path.join(folder, "private.pem"), os.path.join(folder, "public.txt")
    if not all(os.path.isfile(path) and os.path.getsize(path) for path in (private, public)):
        os.makedirs(folder, exist_ok=True)
        # Made aside and moved in last, so a half-made pair is never taken for one.
        work = tempfile.mkdtemp(prefix=".make.", dir=folder)
        try:
            key = os.path.join(work, "private.pem")
            mask = os.umask(0o077)
            try:
                openssl(["genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", key])
            finally:
                os.umask(mask)
            point = openssl(["pkey", "-in", key, "-pubout", "-outform", "DER"])[-65:].hex()
            if not PUBLIC_KEY.fullmatch(point):
                raise Refused("openssl made no P-256 key")
            with open(os.path.join(work, "public.txt"), "w") as written:
                written.write(point)
            os.replace(key, private)
            os.replace(os.path.join(work, "public.txt"), public)
        finally:
            shutil.rmtree(work)
    with open(public) as written:
        return written.read().strip()


def signed_bytes(record, tag=SIGNED_TAG, fields=SIGNED_FIELDS):
    """The bytes a release's (or a delta's) signature covers. The setup reads the answer's text as it
    stands, so a field it would read differently (a quote, a backslash, a control character) cannot
    be signed."""
    lines = [tag]
    for name in fields:
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
    return b"".join(number.to_bytes(COORDINATE_SIZE, "big") for number in numbers)


def raw_to_der(raw):
    """r and s of 32 bytes each as the DER SEQUENCE openssl reads."""
    def integer(half):
        half = half.lstrip(b"\0") or b"\0"
        half = b"\0" + half if half[0] & 0x80 else half
        return b"\x02" + bytes([len(half)]) + half
    body = integer(raw[:COORDINATE_SIZE]) + integer(raw[COORDINATE_SIZE:])
    return b"\x30" + bytes([len(body)]) + body


def sign_record(record, key, expires, tag=SIGNED_TAG, fields=SIGNED_FIELDS):
    """Adds signature_expires and signature to the record, signed with the PEM private key."""
    record["signature_expires"] = expires.strftime(EXPIRY_FORMAT)
    result = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=signed_bytes(record, tag, fields),
                            capture_output=True)
    if result.returncode:
        raise Refused("openssl could not sign with %s: %s" % (key, result.stderr.decode(errors="replace").strip()))
    record["signature"] = base64.b64encode(der_to_raw(result.stdout)).decode("ascii")


def public_key_pem(point):
    """The PEM public key of a P-256 point given as 130 hexadecimal digits."""
    if not PUBLIC_KEY.fullmatch(point.lower()):
        raise Refused("a release public key is 04, X and Y as 130 hexadecimal digits: %r" % point)
    encoded = base64.encodebytes(P256_KEY_INFO + bytes.fromhex(point)).decode("ascii")
    return "-----BEGIN PUBLIC KEY-----\n%s-----END PUBLIC KEY-----\n" % encoded


def signature_holds(point, message, signature):
    """True when signature (raw r and s, 64 bytes) is the key's over the message's SHA-256."""
    if len(signature) != 2 * COORDINATE_SIZE:
        return False
    work = tempfile.mkdtemp(prefix="ostrel-verify-")
    try:
        key, der = os.path.join(work, "public.pem"), os.path.join(work, "signature")
        with open(key, "w") as written:
            written.write(public_key_pem(point))
        with open(der, "wb") as written:
            written.write(raw_to_der(signature))
        return subprocess.run(["openssl", "dgst", "-sha256", "-verify", key, "-signature", der], input=message,
                              capture_output=True).returncode == 0
    finally:
        shutil.rmtree(work)
