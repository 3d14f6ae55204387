#!/bin/sh
# The build's signing step with a throw-away code-signing certificate: the signed programs verify
# with osslsigncode against that certificate, and a changed byte breaks the signature.
# Usage: check_signing.sh <build> <exe>...
set -eu
build=$1; shift
work=$(mktemp -d "$build/.signing.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=Ostrel Test Code Signing" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/signing.key" -out "$work/signing.pem" 2>/dev/null
echo "throw-away password" >"$work/password.txt"
openssl pkcs12 -export -inkey "$work/signing.key" -in "$work/signing.pem" -passout "file:$work/password.txt" \
    -out "$work/signing.pfx"
for exe in "$@"; do
    name=$(basename "$exe")
    cp "$exe" "$work/$name"
    "$(dirname "$0")/../cmake/sign-exe.sh" "$work/signing.pfx" "$work/password.txt" "$work/$name"
    osslsigncode verify -CAfile "$work/signing.pem" -in "$work/$name" >"$work/verify.txt" 2>&1 ||
        { cat "$work/verify.txt"; echo "FAIL $name: the signature does not verify"; exit 1; }
    grep -q "Signature verification: ok" "$work/verify.txt" || { cat "$work/verify.txt"; exit 1; }
    grep -q "^Message digest algorithm  : SHA256" "$work/verify.txt" || { cat "$work/verify.txt"; exit 1; }
    current=$(sed -n 's/^Current message digest *: *//p' "$work/verify.txt")
    calculated=$(sed -n 's/^Calculated message digest *: *//p' "$work/verify.txt")
    [ -n "$current" ] && [ "$current" = "$calculated" ] ||
        { cat "$work/verify.txt"; echo "FAIL $name: the signature does not cover the file"; exit 1; }
    grep -q "Subject: /CN=Ostrel Test Code Signing" "$work/verify.txt" ||
        { cat "$work/verify.txt"; echo "FAIL $name: signed by another certificate"; exit 1; }
    # One byte of the code changed after signing: the digest no longer matches.
    printf 'X' | dd of="$work/$name" bs=1 seek=1024 conv=notrunc 2>/dev/null
    if osslsigncode verify -CAfile "$work/signing.pem" -in "$work/$name" >/dev/null 2>&1; then
        echo "FAIL $name: a changed file still verifies"; exit 1
    fi
    echo "ok   $name signed with SHA-256 and verified"
done
