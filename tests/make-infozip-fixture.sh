#!/bin/sh
# Builds a small product tree and packs it with Info-ZIP twice: to a file (stored .bin, deflated
# text, folder entries) and through a pipe (sizes and CRCs in data descriptors after each entry).
# Usage: make-infozip-fixture.sh <tree-dir> <archive.zip> <streamed.zip>
set -eu
tree=$1; archive=$2; streamed=$3
rm -rf "$tree" "$archive" "$streamed"
mkdir -p "$tree/Ostrel/data" "$tree/Ostrel/empty folder"
printf 'Ostrel sample product\r\n' >"$tree/Ostrel/readme.txt"
: >"$tree/Ostrel/data/empty.dat"
seq 1 20000 >"$tree/Ostrel/data/numbers.txt"
seq 1 3000 | gzip -9 -n >"$tree/Ostrel/data/blob.bin"
cd "$tree"
zip -q -r -X -n .bin "$archive" Ostrel
zip -q -r -X -fz- - Ostrel | cat >"$streamed"
