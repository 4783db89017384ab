#!/usr/bin/env python3
"""Draws the updater's icon and writes it as a Windows .ico file.

A sun setting over two drifting dunes on a dusk-blue tile, with a downward
arrow in the sun for "update". Four images: 16, 32 and 48 pixels as 32-bit
bitmaps with their masks, 256 pixels as PNG. Only the standard library is used,
so the drawing is deterministic and needs nothing installed.

    scripts/draw-icon.py [OUTPUT.ico]     (default: src/entry/updater.ico)
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)
SAMPLES = 4  # per axis, for anti-aliased edges


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def rgb(hex_colour):
    return tuple(int(hex_colour[i:i + 2], 16) / 255 for i in (1, 3, 5))


SKY_TOP, SKY_BOTTOM = rgb("#1d2f66"), rgb("#3f8fb5")
SUN_TOP, SUN_BOTTOM = rgb("#ffe066"), rgb("#ff8a3d")
FAR_DUNE, NEAR_DUNE = rgb("#e9c27d"), rgb("#c58c4a")
ARROW = rgb("#fffaf0")


def inside_tile(x, y):
    """The rounded square that the whole picture sits in."""
    margin, radius = 0.03, 0.18
    lo, hi = margin + radius, 1 - margin - radius
    dx = max(lo - x, 0, x - hi)
    dy = max(lo - y, 0, y - hi)
    return dx * dx + dy * dy <= radius * radius and margin <= x <= 1 - margin and margin <= y <= 1 - margin


def inside_arrow(x, y):
    cx, top, shaft_end, tip = 0.5, 0.28, 0.44, 0.56
    if top <= y <= shaft_end and abs(x - cx) <= 0.045:
        return True
    return shaft_end <= y <= tip and abs(x - cx) <= (tip - y) * 1.0


def sample(x, y):
    """Colour and coverage (r, g, b, a in 0..1) at a point of the unit square."""
    if not inside_tile(x, y):
        return (0, 0, 0, 0)
    far = 0.70 + 0.05 * math.sin(2 * math.pi * (1.1 * x + 0.15))
    near = 0.82 + 0.05 * math.sin(2 * math.pi * (0.8 * x + 0.55))
    if y >= near:
        return NEAR_DUNE + (1,)
    if y >= far:
        return mix(FAR_DUNE, NEAR_DUNE, (y - far) * 2) + (1,)
    sun_x, sun_y, sun_r = 0.5, 0.44, 0.25
    if (x - sun_x) ** 2 + (y - sun_y) ** 2 <= sun_r ** 2:
        if inside_arrow(x, y):
            return ARROW + (1,)
        return mix(SUN_TOP, SUN_BOTTOM, (y - (sun_y - sun_r)) / (2 * sun_r)) + (1,)
    return mix(SKY_TOP, SKY_BOTTOM, y) + (1,)


def render(size):
    """Rows of (r, g, b, a) bytes, top row first, colours premultiplied then undone."""
    rows = []
    step = 1 / (size * SAMPLES)
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    r, g, b, a = sample((px * SAMPLES + sx + 0.5) * step, (py * SAMPLES + sy + 0.5) * step)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(255 * c / acc[3]) for c in acc[:3]) + (round(255 * alpha),))
        rows.append(row)
    return rows


def bitmap_image(rows):
    """A 32-bit DIB as an icon stores it: header, bottom-up BGRA, then the AND mask."""
    size = len(rows)
    mask_stride = ((size + 31) // 32) * 4
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (r, g, b, a) in enumerate(row):
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + mask


def png_image(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    size = len(rows)
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def icon_file(sizes):
    images = [png_image(render(s)) if s >= 256 else bitmap_image(render(s)) for s in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for s, image in zip(sizes, images):
        dim = 0 if s >= 256 else s  # 0 stands for 256
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "src", "entry", "updater.ico")
    with open(target, "wb") as f:
        f.write(icon_file(SIZES))
    print(f"draw-icon: wrote {target}")


if __name__ == "__main__":
    main()
