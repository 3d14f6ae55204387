#!/usr/bin/env python3
"""Draws the application icon and writes ostrel.ico (256 px as PNG, smaller sizes as DIBs).

Standard library only, so the icon can be regenerated anywhere: python3 res/make_icon.py
"""
import math
import os
import struct
import zlib

SIZES = [256, 64, 48, 32, 24, 16]
SUPERSAMPLE = 4


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


def coverage_rounded_square(x, y, size, radius):
    """Signed-distance test of a rounded square spanning 0..size."""
    cx = min(max(x, radius), size - radius)
    cy = min(max(y, radius), size - radius)
    return math.hypot(x - cx, y - cy) <= radius


def sample(x, y):
    """Colour (r, g, b, a) of the design at unit coordinates 0..1."""
    if not coverage_rounded_square(x, y, 1.0, 0.22):
        return (0, 0, 0, 0)
    # Deep navy to accent blue, diagonally.
    t = min(max((x * 0.35 + y * 0.65), 0.0), 1.0)
    colour = mix((0x0A, 0x28, 0xA0), (0x3B, 0x82, 0xF6), 1.0 - t)
    # A bright ribbon sweeping across the lower part.
    wave = 0.70 + 0.10 * math.sin(x * math.pi * 1.6 + 0.6)
    if y > wave:
        colour = mix(colour, (0x60, 0xA5, 0xFA), 0.55)
    # The mark: a white ring with a gap toward the upper right, and a dot in that gap.
    dx, dy = x - 0.5, y - 0.47
    r = math.hypot(dx, dy)
    angle = math.atan2(-dy, dx)
    in_gap = 0.25 < angle < 1.05
    if 0.19 <= r <= 0.29 and not in_gap:
        colour = (255, 255, 255)
    if math.hypot(x - 0.70, y - 0.25) <= 0.055:
        colour = (255, 255, 255)
    return (*colour, 255)


def render(size):
    pixels = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if acc[3] > 0:
                row.append(tuple(int(round(c / acc[3])) for c in acc[:3]) + (int(round(alpha)),))
            else:
                row.append((0, 0, 0, 0))
        pixels.append(row)
    return pixels


def png(pixels):
    size = len(pixels)
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def dib(pixels):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(pixels) for p in row)
    mask_row = ((size + 31) // 32) * 4
    and_mask = b"\0" * (mask_row * size)
    return header + xor + and_mask


def main():
    images = []
    for size in SIZES:
        pixels = render(size)
        images.append((size, png(pixels) if size == 256 else dib(pixels)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ostrel.ico")
    with open(target, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
