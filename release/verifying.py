"""A published release checked from outside, as a setup sees it: the version query sent as the
setup sends it (POST "{}" with its headers), the answer's signature checked against a release
public key, the package downloaded from the service's own origin, its SHA-256 and size compared
with the answer. Each check gives one line, PASS, FAIL or SKIP, and a reason.
"""

import base64
import binascii
import datetime
import hashlib
import http.client
import json
import ssl
import urllib.parse

import signing
from signing import Refused

RPC_PATH = "/rest/v1/rpc/get_latest_version"
USER_AGENT = "OstrelLauncher/1.0"
# A version answer is a few hundred bytes; anything near this is not one (the setup's limit too).
ANSWER_LIMIT = 1024 * 1024
READ_BLOCK = 1 << 16
REDIRECT_LIMIT = 5
MEBIBYTE = 1024 * 1024


class Report:
    def __init__(self, out):
        self.out = out
        self.failed = False

    def line(self, verdict, check, text):
        self.failed = self.failed or verdict == "FAIL"
        print("%s %s: %s" % (verdict, check, text), file=self.out, flush=True)


def answer_location(text):
    """(origin, host, port, path) of the version query from an origin or the answer's URL."""
    parts = urllib.parse.urlsplit(text)
    if parts.scheme != "https" or not parts.hostname:
        raise Refused("an https:// origin or answer URL is needed: %r" % text)
    port = parts.port or 443
    origin = "https://%s%s/" % (parts.hostname, "" if port == 443 else ":%d" % port)
    return origin, parts.hostname, port, parts.path if parts.path not in ("", "/") else RPC_PATH


def read_public_key(text):
    """The public key's hexadecimal digits, given as they are or as a file that holds them."""
    try:
        with open(text) as held:
            text = held.read()
    except OSError:
        pass
    point = text.strip().lower()
    signing.public_key_pem(point)
    return point


def fetch_answer(context, host, port, path, api_key):
    """(status, body) of the version query, the request as the setup makes it."""
    connection = http.client.HTTPSConnection(host, port, context=context, timeout=30)
    try:
        connection.putrequest("POST", path, skip_accept_encoding=True)
        connection.putheader("User-Agent", USER_AGENT)
        connection.putheader("Content-Type", "application/json")
        connection.putheader("apikey", api_key)
        connection.putheader("Content-Length", "2")
        connection.endheaders(b"{}")
        answer = connection.getresponse()
        return answer.status, answer.read(ANSWER_LIMIT + 1)
    finally:
        connection.close()


def release_of(body):
    """The release an answer offers (the row set's first row), or None."""
    try:
        rows = json.loads(body)
    except ValueError:
        return None
    release = rows[0] if isinstance(rows, list) and rows else rows
    return release if isinstance(release, dict) and isinstance(release.get("version"), str) else None


def signature_verdict(release, point, now):
    """(verdict, reason) of a release's signature under the public key, the setup's rules."""
    if not release.get("sha256"):
        return "FAIL", "no sha256 in the answer"
    if "signature" not in release:
        return "FAIL", "no signature in the answer"
    try:
        message = signing.signed_bytes({name: release.get(name, "") for name in signing.SIGNED_FIELDS})
        expires = datetime.datetime.strptime(release["signature_expires"], signing.EXPIRY_FORMAT)
        signature = base64.b64decode(release["signature"], validate=True)
    except (Refused, ValueError, TypeError, binascii.Error):
        return "FAIL", "signed fields unreadable (size_bytes, signature or signature_expires)"
    if expires.replace(tzinfo=datetime.timezone.utc) <= now:
        return "FAIL", "signature expired " + release["signature_expires"]
    if not signing.signature_holds(point, message, signature):
        return "FAIL", "signature does not match the release key"
    return "PASS", "signed by the release key, expires %s" % release["signature_expires"]


def download(context, url):
    """(bytes, SHA-256, Content-Length or None) of the package; redirects are followed over HTTPS
    only, as the setup follows them. Raises Refused when no 200 answer arrives."""
    for _ in range(REDIRECT_LIMIT + 1):
        parts = urllib.parse.urlsplit(url)
        if parts.scheme != "https":
            raise Refused("a redirect to %s: the setup follows none from HTTPS to HTTP" % url)
        connection = http.client.HTTPSConnection(parts.hostname, parts.port or 443, context=context, timeout=60)
        try:
            connection.putrequest("GET", urllib.parse.urlunsplit(("", "", parts.path or "/", parts.query, "")),
                                  skip_accept_encoding=True)
            connection.putheader("User-Agent", USER_AGENT)
            connection.endheaders()
            answer = connection.getresponse()
            if answer.status in (301, 302, 303, 307, 308) and answer.getheader("Location"):
                url = urllib.parse.urljoin(url, answer.getheader("Location"))
                continue
            if answer.status != 200:
                raise Refused("status %d from %s" % (answer.status, url))
            announced = answer.getheader("Content-Length")
            digest, size = hashlib.sha256(), 0
            while block := answer.read(READ_BLOCK):
                digest.update(block)
                size += len(block)
            return size, digest.hexdigest(), int(announced) if announced is not None else None
        except (OSError, http.client.HTTPException) as error:
            raise Refused("%s: %s" % (url, error)) from None
        finally:
            connection.close()
    raise Refused("more than %d redirects from %s" % (REDIRECT_LIMIT, url))


def verify(location, api_key, public_key, ca_file, out):
    """Runs the checks and prints their lines; returns 0 when none failed, 1 otherwise."""
    report = Report(out)
    origin, host, port, path = answer_location(location)
    context = ssl.create_default_context(cafile=ca_file)
    try:
        status, body = fetch_answer(context, host, port, path, api_key)
    except (OSError, http.client.HTTPException) as error:
        report.line("FAIL", "answer", "no answer from https://%s:%d%s: %s" % (host, port, path, error))
        return 1
    release = release_of(body) if status == 200 and len(body) <= ANSWER_LIMIT else None
    if release is None:
        report.line("FAIL", "answer", "status %d, no release in %r" % (status, body[:200]))
        return 1
    url = release.get("download_url", "")
    report.line("PASS", "answer", "status 200, version %s, %s" % (release["version"], url))

    if public_key:
        verdict, reason = signature_verdict(release, public_key, datetime.datetime.now(datetime.timezone.utc))
        report.line(verdict, "signature", reason)
    elif "signature" in release:
        report.line("SKIP", "signature", "the release is signed; give --public-key to check it")
    else:
        report.line("SKIP", "signature", "the release is not signed (a setup built with a key refuses it)")

    if not isinstance(url, str) or not url.startswith(origin):
        report.line("FAIL", "origin", "download_url %r is not on the service's origin %s" % (url, origin))
        return 1
    report.line("PASS", "origin", "download_url is on %s" % origin)

    try:
        size, digest, announced = download(context, url)
    except Refused as refused:
        report.line("FAIL", "download", str(refused))
        return 1
    if announced is not None and announced != size:
        report.line("FAIL", "download", "%d bytes received, Content-Length %d" % (size, announced))
    else:
        report.line("PASS", "download", "%d bytes" % size)

    expected = str(release.get("sha256", "")).lower()
    report.line("PASS" if digest == expected else "FAIL", "sha256",
                digest if digest == expected else "the package's is %s, the answer's %r" % (digest, expected))

    said = []
    if "size_bytes" in release:
        said.append("size_bytes %r" % release["size_bytes"])
    said.append("file_size_mb %r" % release.get("file_size_mb"))
    megabytes = release.get("file_size_mb")
    # file_size_mb is rounded to two decimals; the size in bytes is exact.
    fits = release.get("size_bytes", size) == size and isinstance(megabytes, (int, float)) \
        and abs(megabytes - size / MEBIBYTE) <= 0.005 + 1e-9
    report.line("PASS" if fits else "FAIL", "size", "%d bytes, the answer's %s" % (size, ", ".join(said)))
    return 1 if report.failed else 0
