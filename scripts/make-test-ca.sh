#!/bin/sh
# Makes the test certificate authority and the local update service's certificate:
# ca.pem, ca.der (imported into the test Wine prefix only), server.pem and server.key.
# Wine matches only DNS names, so 127.0.0.1 is named as a DNS name besides its IP entry.
# Usage: scripts/make-test-ca.sh <folder>
set -eu
folder=$1
mkdir -p "$folder"
work=$(mktemp -d "$folder/.make.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
    -subj "/CN=Ostrel Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=localhost" \
    -keyout "$work/server.key" -out "$work/server.csr" 2>/dev/null
cat >"$work/server.ext" <<EXT
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,DNS:127.0.0.1,IP:127.0.0.1
EXT
openssl x509 -req -sha256 -days 3650 -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
    -CAcreateserial -extfile "$work/server.ext" -out "$work/server.pem" 2>/dev/null
openssl x509 -in "$work/ca.pem" -outform DER -out "$work/ca.der"

# The CA's key is not needed again: nothing else is ever signed with it.
mv -f "$work/server.key" "$work/server.pem" "$work/ca.der" "$folder/"
# Last, so a half-made folder is never taken for a complete one.
mv -f "$work/ca.pem" "$folder/ca.pem"
