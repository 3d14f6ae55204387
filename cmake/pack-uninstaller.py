#!/usr/bin/env python3
"""Packs Uninstall.exe for the setup's resources: its size (4 bytes, little-endian), then the file
compressed in the LZNT1 format that ntdll's RtlDecompressBuffer reads, so the setup carries the
uninstaller for a fraction of its size without a decompressor of its own.

Usage: pack-uninstaller.py <Uninstall.exe> <output>
"""
import struct
import sys

CHUNK = 4096
MIN_MATCH = 3
CANDIDATES = 64  # the newest positions tried per three-byte prefix


def token_layout(pos):
    """The displacement shift for a token at pos bytes into its chunk: fewer length bits the
    further the chunk has gone, so displacements can reach back to its start."""
    shift = 12
    i = pos - 1
    while i >= 0x10:
        i >>= 1
        shift -= 1
    return shift


def compress_chunk(data):
    out = bytearray()
    seen = {}
    pos = 0
    size = len(data)

    def remember(at):
        if at + MIN_MATCH <= size:
            seen.setdefault(bytes(data[at:at + MIN_MATCH]), []).append(at)

    while pos < size:
        flag_at = len(out)
        out.append(0)
        flags = 0
        for bit in range(8):
            if pos >= size:
                break
            shift = token_layout(pos)
            longest = min((1 << shift) - 1 + MIN_MATCH, size - pos)
            reach = 1 << (16 - shift)
            best_length, best_distance = 0, 0
            if longest >= MIN_MATCH:
                for start in reversed(seen.get(bytes(data[pos:pos + MIN_MATCH]), [])[-CANDIDATES:]):
                    distance = pos - start
                    if distance > reach:
                        break
                    length = MIN_MATCH
                    while length < longest and data[start + length] == data[pos + length]:
                        length += 1
                    if length > best_length:
                        best_length, best_distance = length, distance
                        if length == longest:
                            break
            if best_length >= MIN_MATCH:
                out += struct.pack("<H", ((best_distance - 1) << shift) | (best_length - MIN_MATCH))
                flags |= 1 << bit
                for at in range(pos, pos + best_length):
                    remember(at)
                pos += best_length
            else:
                out.append(data[pos])
                remember(pos)
                pos += 1
        out[flag_at] = flags
    return bytes(out)


def compress(data):
    out = bytearray()
    for begin in range(0, len(data), CHUNK):
        raw = data[begin:begin + CHUNK]
        packed = compress_chunk(raw)
        if len(packed) < len(raw) or (len(packed) <= CHUNK and len(raw) < CHUNK):
            out += struct.pack("<H", 0xB000 | (len(packed) - 1)) + packed
        else:
            out += struct.pack("<H", 0x3000 | (len(raw) - 1)) + raw
    return bytes(out)


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(sys.argv[1], "rb") as source:
        data = source.read()
    with open(sys.argv[2], "wb") as target:
        target.write(struct.pack("<I", len(data)) + compress(data))
    return 0


if __name__ == "__main__":
    sys.exit(main())
