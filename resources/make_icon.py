#!/usr/bin/python3
"""Draws Zarvelin's emblem: the Windows icon and the desktop icons.

The emblem is a disc split into a dark and a light half (the flashing
screen) crossed by a cyan wave (the beat), on a silver rim.

Writes, into OUT_DIR (default: the folder of this script):
  zarvelin.ico                   one 32x32 image, 16 colours (4 bits per pixel),
                                 drawn pixel by pixel from integers
  icons/hicolor/NxN/apps/org.zarvelin.Zarvelin.png
                                 N = 16, 32, 48, 64, 128, 256: the same emblem drawn
                                 from its outline, smoothed by 4x4 samples per pixel
  icons/hicolor/scalable/apps/org.zarvelin.Zarvelin.svg
                                 the same outline as SVG
The same bytes come out on every run and every machine (the PNGs are compressed
with zlib at a fixed level, the numbers in the SVG are rounded to fixed places).

Usage: make_icon.py [OUT_DIR]
"""
import math
import os
import struct
import sys
import zlib

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


# ---- the emblem as an outline, for any size -----------------------------------------
# Coordinates are in units of the 32-pixel icon: the square is 0..32 on both axes.
APP_ID = "org.zarvelin.Zarvelin"
PNG_SIZES = (16, 32, 48, 64, 128, 256)
CENTRE = 16.0
OUTER = 15.75            # the disc
RIM = 13.5               # inside this, the two halves
WAVE_FROM, WAVE_TO = 3.0, 29.0
WAVE_HALF_WIDTH = 0.95   # half the thickness of the wave, across it
SHADOW_DROP = 1.0        # the grey shadow lies this far below the wave


def rgb(index):
    return PALETTE[index]


def wave_y(u):
    """Centre line of the wave, matching the rows the 32-pixel icon fills."""
    return CENTRE + 6.0 * math.sin(2.0 * math.pi * 2.0 * (u - 2.0) / 28.0)


def wave_slope(u):
    return 6.0 * 2.0 * math.pi * 2.0 / 28.0 * math.cos(2.0 * math.pi * 2.0 * (u - 2.0) / 28.0)


def outline_colour(u, v):
    """Colour (r, g, b) at the point (u, v), or None outside the disc."""
    du, dv = u - CENTRE, v - CENTRE
    d2 = du * du + dv * dv
    if d2 > OUTER * OUTER:
        return None
    if WAVE_FROM <= u <= WAVE_TO:
        # Distance across the wave: the vertical distance scaled by the slope.
        across = WAVE_HALF_WIDTH * math.sqrt(1.0 + wave_slope(u) ** 2)
        centre = wave_y(u)
        if abs(v - centre) <= across:
            return rgb(CYAN)
        if abs(v - centre - SHADOW_DROP) <= across:
            return rgb(GREY)
    if d2 > RIM * RIM:
        return rgb(SILVER)
    return rgb(NAVY) if u < CENTRE else rgb(WHITE)


def render_rgba(size, samples=4):
    """size x size RGBA rows, each pixel the average of samples x samples points."""
    scale = 32.0 / size
    n = samples * samples
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            r = g = b = a = 0
            for sy in range(samples):
                v = (y + (sy + 0.5) / samples) * scale
                for sx in range(samples):
                    c = outline_colour((x + (sx + 0.5) / samples) * scale, v)
                    if c is not None:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        a += 1
            if a == 0:
                row += b"\0\0\0\0"
            else:
                # Colour averaged over the covered samples only, so edges do not darken.
                row += bytes(((r + a // 2) // a, (g + a // 2) // a, (b + a // 2) // a,
                              (255 * a + n // 2) // n))
        rows.append(bytes(row))
    return rows


def png_bytes(size):
    rows = render_rgba(size)
    raw = b"".join(b"\0" + row for row in rows)       # filter type 0 on every row

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)   # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def hex_colour(index):
    return "#%02x%02x%02x" % rgb(index)


def svg_bytes():
    steps = 104                                         # a point every quarter unit
    points = []
    for i in range(steps + 1):
        u = WAVE_FROM + (WAVE_TO - WAVE_FROM) * i / steps
        points.append("%.2f,%.3f" % (u, wave_y(u)))
    wave = "M" + " L".join(points)
    width = "%.2f" % (2 * WAVE_HALF_WIDTH)
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">\n'
        '  <title>Zarvelin</title>\n'
        '  <defs><clipPath id="disc"><circle cx="16" cy="16" r="%.2f"/></clipPath></defs>\n'
        '  <g clip-path="url(#disc)">\n'
        '    <circle cx="16" cy="16" r="%.2f" fill="%s"/>\n'
        '    <path d="M16,%.2f A%.2f,%.2f 0 0 0 16,%.2f Z" fill="%s"/>\n'
        '    <path d="M16,%.2f A%.2f,%.2f 0 0 1 16,%.2f Z" fill="%s"/>\n'
        '    <path d="%s" transform="translate(0,%.2f)" fill="none" stroke="%s" stroke-width="%s"/>\n'
        '    <path d="%s" fill="none" stroke="%s" stroke-width="%s"/>\n'
        '  </g>\n'
        '</svg>\n'
        % (OUTER, OUTER, hex_colour(SILVER),
           CENTRE - RIM, RIM, RIM, CENTRE + RIM, hex_colour(NAVY),
           CENTRE - RIM, RIM, RIM, CENTRE + RIM, hex_colour(WHITE),
           wave, SHADOW_DROP, hex_colour(GREY), width,
           wave, hex_colour(CYAN), width)).encode("ascii")


def write_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)   # never leave a half-written icon behind


def main():
    if len(sys.argv) > 2:
        sys.exit("make_icon.py: too many arguments; usage: make_icon.py [OUT_DIR]")
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    if os.path.exists(out) and not os.path.isdir(out):
        sys.exit("make_icon.py: '%s' is not a folder; give the folder to write the icons into" % out)
    write_file(os.path.join(out, "zarvelin.ico"), ico_bytes())
    hicolor = os.path.join(out, "icons", "hicolor")
    for size in PNG_SIZES:
        write_file(os.path.join(hicolor, "%dx%d" % (size, size), "apps", APP_ID + ".png"),
                   png_bytes(size))
    write_file(os.path.join(hicolor, "scalable", "apps", APP_ID + ".svg"), svg_bytes())


if __name__ == "__main__":
    main()
