#!/usr/bin/python3
"""Writes zarvelin.ico: one 32x32 image, 16 colours (4 bits per pixel).

The emblem is a disc split into a dark and a light half (the flashing
screen) crossed by a cyan wave (the beat).  Everything is computed from
integers, so the same bytes come out on every run and every machine.

Usage: make_icon.py [output path]   (default: zarvelin.ico beside this script)
"""
import math
import os
import struct
import sys

SIZE = 32

# The sixteen colours of the classic VGA palette, as (r, g, b).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, GREY, SILVER, CYAN, WHITE = 0, 4, 8, 7, 14, 15


def wave_row(x):
    """Row of the wave at column x: two periods across the disc."""
    return round(15.5 + 6.0 * math.sin(2.0 * math.pi * 2.0 * (x - 2) / 28.0))


def emblem():
    """Returns (pixels, opaque), both 32 rows top-down of 32 entries."""
    pixels = [[BLACK] * SIZE for _ in range(SIZE)]
    opaque = [[False] * SIZE for _ in range(SIZE)]
    centre = 15.5
    for y in range(SIZE):
        for x in range(SIZE):
            # Squared distances in quarter pixels keep the test exact.
            d2 = (2 * x - 31) ** 2 + (2 * y - 31) ** 2
            if d2 > 31 * 31:
                continue
            opaque[y][x] = True
            if d2 > 27 * 27:
                pixels[y][x] = SILVER          # rim
            elif x < centre:
                pixels[y][x] = NAVY            # dark half
            else:
                pixels[y][x] = WHITE           # light half
    for x in range(3, 29):
        r = wave_row(x)
        r_next = wave_row(x + 1) if x < 28 else r
        lo, hi = min(r, r_next), max(r, r_next)
        for y in range(lo, hi + 1):
            if opaque[y][x]:
                pixels[y][x] = CYAN
            if y + 1 < SIZE and opaque[y + 1][x] and pixels[y + 1][x] != CYAN:
                pixels[y + 1][x] = GREY        # shadow under the wave
    return pixels, opaque


def ico_bytes():
    pixels, opaque = emblem()
    xor_rows = []
    and_rows = []
    for y in reversed(range(SIZE)):            # DIB rows run bottom-up
        row = bytearray()
        for x in range(0, SIZE, 2):
            row.append((pixels[y][x] << 4) | pixels[y][x + 1])
        xor_rows.append(bytes(row))            # 16 bytes: already 4-aligned
        mask = 0
        for x in range(SIZE):
            mask = (mask << 1) | (0 if opaque[y][x] else 1)
        and_rows.append(struct.pack(">I", mask))  # 32 bits, MSB = leftmost
    xor = b"".join(xor_rows)
    and_mask = b"".join(and_rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(xor) + len(and_mask), 0, 0, 16, 0)
    image = header + palette + xor + and_mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return icondir + entry + image


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "zarvelin.ico")
    data = ico_bytes()
    tmp = out + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, out)   # never leave a half-written icon behind


if __name__ == "__main__":
    main()
