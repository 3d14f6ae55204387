#!/bin/sh
# Makes an ECDSA P-256 key pair for signing release records, unless the folder already holds one:
# <folder>/private.pem (the signing key: keep it out of the repository and off the service) and
# <folder>/public.txt (the public key as the build takes it in OSTREL_RELEASE_PUBLIC_KEY: the
# uncompressed point, 04 then X then Y, as 130 hexadecimal digits). Prints the public key.
# Usage: scripts/release-key.sh <folder>
set -eu
folder=$1
if [ ! -s "$folder/private.pem" ] || [ ! -s "$folder/public.txt" ]; then
    mkdir -p "$folder"
    work=$(mktemp -d "$folder/.make.XXXXXX")
    trap 'rm -rf "$work"' EXIT INT TERM
    (umask 077 && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/private.pem" 2>/dev/null)
    # The last 65 bytes of the public key's DER form are the uncompressed point.
    openssl pkey -in "$work/private.pem" -pubout -outform DER 2>/dev/null | tail -c 65 | od -An -v -tx1 |
        tr -d ' \n' >"$work/public.txt"
    grep -qE '^04[0-9a-f]{128}$' "$work/public.txt" || { echo "release-key.sh: openssl made no P-256 key" >&2; exit 1; }
    mv "$work/private.pem" "$folder/private.pem"
    mv "$work/public.txt" "$folder/public.txt"
fi
cat "$folder/public.txt"
echo
