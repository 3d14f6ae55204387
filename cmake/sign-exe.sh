#!/bin/sh
# Signs a Windows executable in place with Authenticode (SHA-256) through osslsigncode: the
# build's step after linking OstrelSetup.exe and Uninstall.exe when OSTREL_SIGNING_PFX is set.
# Usage: cmake/sign-exe.sh <pfx> <password-file> <exe> [timestamp-url]
set -eu
pfx=$1; password=$2; exe=$3; timestamp=${4:-}
signed="$exe.signing"
trap 'rm -f "$signed"' EXIT INT TERM
rm -f "$signed"
osslsigncode sign -pkcs12 "$pfx" -readpass "$password" -h sha256 -n "Ostrel Setup" \
    ${timestamp:+-ts "$timestamp"} -in "$exe" -out "$signed" >/dev/null
mv "$signed" "$exe"
