#!/usr/bin/env python3
"""Draws the Vantile logo and writes the four icon images and the .ico that holds them.

The logo is a white "V" on a rounded square that shades from blue to violet. Each image is
drawn at its own size from the same shapes (signed distances, one sample per pixel with
analytic edge coverage), so the small sizes stay sharp instead of being scaled down.

Usage: make_icon.py [output folder]   (default: the folder of this script)
The output is byte-for-byte the same on every run.
"""
import math
import pathlib
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)

TOP_LEFT = (0x2F, 0x6B, 0xFF)
BOTTOM_RIGHT = (0x7A, 0x3C, 0xF0)
MARK = (0xFF, 0xFF, 0xFF)


def rounded_square_distance(x, y, inset, radius):
    """Signed distance (negative inside) to a square of side 1 - 2*inset with rounded corners."""
    half = 0.5 - inset - radius
    qx = abs(x - 0.5) - half
    qy = abs(y - 0.5) - half
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    inside = min(max(qx, qy), 0.0)
    return outside + inside - radius


def capsule_distance(x, y, ax, ay, bx, by, radius):
    """Signed distance to a segment from a to b with round ends of the given radius."""
    px, py = x - ax, y - ay
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, (px * dx + py * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - dx * t, py - dy * t) - radius


def coverage(distance, pixel):
    """How much of a pixel of the given width a shape covers, from its distance at the centre."""
    return max(0.0, min(1.0, 0.5 - distance / pixel))


def mark_distance(x, y, size):
    # Thicker strokes at the smallest sizes keep the V readable.
    radius = 0.085 if size <= 16 else 0.07 if size <= 32 else 0.06
    left = capsule_distance(x, y, 0.29, 0.28, 0.5, 0.71, radius)
    right = capsule_distance(x, y, 0.71, 0.28, 0.5, 0.71, radius)
    return min(left, right)


def render(size):
    """The logo as rows of RGBA bytes (non-premultiplied)."""
    pixel = 1.0 / size
    inset = 0.02 if size <= 16 else 0.04
    rows = []
    for row in range(size):
        line = bytearray()
        y = (row + 0.5) * pixel
        for column in range(size):
            x = (column + 0.5) * pixel
            shade = (x + y) / 2.0
            base = [a + (b - a) * shade for a, b in zip(TOP_LEFT, BOTTOM_RIGHT)]
            ink = coverage(mark_distance(x, y, size), pixel)
            color = [c + (m - c) * ink for c, m in zip(base, MARK)]
            alpha = coverage(rounded_square_distance(x, y, inset, 0.2), pixel)
            line += bytes(int(round(c)) for c in color) + bytes([int(round(alpha * 255))])
        rows.append(bytes(line))
    return rows


def png_bytes(rows, size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + row for row in rows)  # filter type 0 on every row
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico_bytes(images):
    """An .ico holding PNG images; a 256-pixel side is written as 0 in its entry."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries = b""
    for size, data in images:
        side = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return header + entries + b"".join(data for _, data in images)


def main():
    folder = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).parent
    folder.mkdir(parents=True, exist_ok=True)
    images = []
    for size in SIZES:
        data = png_bytes(render(size), size)
        (folder / f"icon-{size}.png").write_bytes(data)
        images.append((size, data))
    (folder / "vantile-install.ico").write_bytes(ico_bytes(images))


if __name__ == "__main__":
    main()
