#!/bin/sh
# Makes the test certificate authority and the local update service's certificate:
# ca.pem, ca.der (imported into the test Wine prefix only), server.pem and server.key; and two
# certificates the setup must refuse: untrusted.pem/.key (from another authority, which nothing
# trusts) and wrong-name.pem/.key (from the test authority, for another host name).
# Wine matches only DNS names, so 127.0.0.1 is named as a DNS name besides its IP entry.
# Usage: cmake/make-test-ca.sh <folder>
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
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
    -subj "/CN=Ostrel Untrusted CA" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$work/other-ca.key" -out "$work/other-ca.pem" 2>/dev/null

# server <name> <CA> <subjectAltName>: a server certificate and key signed by that CA.
server() {
    openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=localhost" \
        -keyout "$work/$1.key" -out "$work/$1.csr" 2>/dev/null
    cat >"$work/$1.ext" <<EXT
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=$3
EXT
    openssl x509 -req -sha256 -days 3650 -in "$work/$1.csr" -CA "$work/$2.pem" -CAkey "$work/$2.key" \
        -CAcreateserial -extfile "$work/$1.ext" -out "$work/$1.pem" 2>/dev/null
}
server server ca "DNS:localhost,DNS:127.0.0.1,IP:127.0.0.1"
server wrong-name ca "DNS:wrong-name.example"
server untrusted other-ca "DNS:localhost,DNS:127.0.0.1,IP:127.0.0.1"
# The untrusted one comes with its authority, as a real server sends its chain.
cat "$work/other-ca.pem" >>"$work/untrusted.pem"
openssl x509 -in "$work/ca.pem" -outform DER -out "$work/ca.der"

# The CAs' keys are not needed again: nothing else is ever signed with them.
mv -f "$work/server.key" "$work/server.pem" "$work/wrong-name.key" "$work/wrong-name.pem" \
    "$work/untrusted.key" "$work/untrusted.pem" "$work/ca.der" "$folder/"
# Last, so a half-made folder is never taken for a complete one.
mv -f "$work/ca.pem" "$folder/ca.pem"
