#!/usr/bin/env python3
"""Draws the application icon and writes it as a Windows .ico file.

    tools/make_icon.py OUTPUT.ico

The icon is drawn from geometry here, so the repository holds no binary
image: a rounded teal square with a white chevron. Sizes up to 64 pixels are
stored as 32-bit bitmaps, the 256-pixel image as PNG, as Windows expects.
Standard library only.
"""

import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 256)
TOP_COLOUR = (0x1F, 0xA8, 0x9A)
BOTTOM_COLOUR = (0x0B, 0x5E, 0x7A)


def inside_rounded_square(x, y):
    """Tells whether the unit-square point lies in the rounded background."""
    margin, radius = 0.04, 0.2
    lo, hi = margin + radius, 1.0 - margin - radius
    cx = min(max(x, lo), hi)
    cy = min(max(y, lo), hi)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius**2


def distance_to_segment(px, py, ax, ay, bx, by):
    """Returns the distance from point P to the segment AB."""
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = min(max(t, 0.0), 1.0)
    qx, qy = ax + t * dx, ay + t * dy
    return ((px - qx) ** 2 + (py - qy) ** 2) ** 0.5


def on_chevron(x, y):
    """Tells whether the point lies on the white chevron ("V" stroke)."""
    half_width = 0.075
    left = distance_to_segment(x, y, 0.27, 0.3, 0.5, 0.72)
    right = distance_to_segment(x, y, 0.73, 0.3, 0.5, 0.72)
    return min(left, right) <= half_width


def render(size):
    """Returns size*size RGBA pixels, top row first, supersampled 4x4."""
    samples = 4 if size <= 64 else 2
    pixels = []
    for row in range(size):
        for col in range(size):
            r = g = b = a = 0.0
            for sy in range(samples):
                for sx in range(samples):
                    x = (col + (sx + 0.5) / samples) / size
                    y = (row + (sy + 0.5) / samples) / size
                    if not inside_rounded_square(x, y):
                        continue
                    if on_chevron(x, y):
                        colour = (255, 255, 255)
                    else:
                        colour = tuple(
                            t + (bt - t) * y
                            for t, bt in zip(TOP_COLOUR, BOTTOM_COLOUR))
                    r, g, b, a = r + colour[0], g + colour[1], b + colour[2], a + 1
            n = samples * samples
            if a == 0:
                pixels.append((0, 0, 0, 0))
            else:
                pixels.append((round(r / a), round(g / a), round(b / a),
                               round(255 * a / n)))
    return pixels


def bitmap_image(size, pixels):
    """Encodes pixels as an icon bitmap: header, BGRA bottom-up, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0,
                         0, 0, 0)
    rows = []
    for row in reversed(range(size)):
        line = pixels[row * size:(row + 1) * size]
        rows.append(b"".join(struct.pack("BBBB", b, g, r, a)
                             for r, g, b, a in line))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)  # Alpha decides; the mask stays clear.
    return header + b"".join(rows) + mask


def png_image(size, pixels):
    """Encodes pixels as a PNG file."""
    def chunk(kind, data):
        body = kind + data
        return (struct.pack(">I", len(data)) + body +
                struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))

    raw = bytearray()
    for row in range(size):
        raw.append(0)  # No filter.
        for r, g, b, a in pixels[row * size:(row + 1) * size]:
            raw += bytes((r, g, b, a))
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    images = []
    for size in SIZES:
        pixels = render(size)
        data = png_image(size, pixels) if size >= 256 else bitmap_image(
            size, pixels)
        images.append((size, data))

    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dimension = 0 if size >= 256 else size  # 0 means 256.
        directory += struct.pack("<BBBBHHII", dimension, dimension, 0, 0, 1,
                                 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as out:
        out.write(directory + b"".join(data for _, data in images))


if __name__ == "__main__":
    main()
