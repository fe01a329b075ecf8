#!/usr/bin/env python3
"""Draws the program's icon (resource 128): a microcontroller chip with an
arrow pointing into it, on a rounded square. Writes icon_128.png next to this
script. Standard library only; run it again after changing the drawing."""

import os
import struct
import zlib

SIZE = 128          # pixels of the icon
SAMPLES = 4         # per pixel and axis, for smooth edges

BACKGROUND = (22, 78, 99)     # dark teal
CHIP = (236, 240, 241)        # light grey
PIN = (189, 195, 199)
ARROW = (241, 196, 15)        # amber


def rounded_rect(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_arrow(x, y):
    # A shaft and a head, pointing down onto the chip's centre.
    shaft = 56 <= x <= 72 and 26 <= y <= 62
    head = 62 <= y <= 86 and abs(x - 64) <= (86 - y) * 1.0
    return shaft or head


def colour_at(x, y):
    """The colour of a point (icon coordinates), or None for transparent."""
    if not rounded_rect(x, y, 2, 2, 126, 126, 22):
        return None
    # Chip body with its pins on all four sides.
    if rounded_rect(x, y, 36, 36, 92, 92, 6):
        return ARROW if inside_arrow(x, y) else CHIP
    for k in range(5):
        offset = 42 + k * 10
        if offset <= x <= offset + 4 and (26 <= y < 36 or 92 < y <= 102):
            return PIN
        if offset <= y <= offset + 4 and (26 <= x < 36 or 92 < x <= 102):
            return PIN
    if inside_arrow(x, y):
        return ARROW
    return BACKGROUND


def render():
    rows = []
    for py in range(SIZE):
        row = bytearray([0])  # filter type: none
        for px in range(SIZE):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES)
                    if c is not None:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        a += 255
            n = SAMPLES * SAMPLES
            covered = a // 255
            if covered:
                row += bytes([r // covered, g // covered, b // covered, a // n])
            else:
                row += bytes([0, 0, 0, 0])
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main():
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
    png += chunk(b"IDAT", zlib.compress(render(), 9)) + chunk(b"IEND", b"")
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icon_128.png")
    with open(path, "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main()
