#!/usr/bin/env python3
"""Writes the sample picture: a deterministic 24-bit bitmap with what the
codec meets in real pictures - a smooth sky, a horizon with a textured
ground, a sun with a soft edge, and dark text-like strokes.

Usage: tools/make_sample.py OUTPUT.bmp [WIDTH HEIGHT]   (default 320 x 240)
"""
import math
import struct
import sys


def pixel(x, y, width, height):
    """Red, green, blue of the pixel at x, y (y counted from the top)."""
    horizon = height * 0.62 + 6 * math.sin(x / 17.0)
    if y < horizon:
        t = y / horizon
        r, g, b = 70 + 90 * t, 120 + 80 * t, 210 + 30 * t
        d = math.hypot(x - width * 0.72, y - height * 0.25)
        glow = max(0.0, 1.0 - d / (height * 0.16))
        r, g, b = r + (255 - r) * glow, g + (230 - g) * glow, b + (120 - b) * glow
    else:
        # A fixed pseudo-random texture: the same bytes on every machine.
        n = ((x * 73856093) ^ (y * 19349663)) & 0xFFFF
        grain = (n % 29) - 14
        r, g, b = 80 + grain, 110 + grain + (y - horizon) * 0.3, 50 + grain
    # Text-like strokes in a box at the lower left.
    if height * 0.72 < y < height * 0.9 and width * 0.06 < x < width * 0.55:
        col, row = int(x - width * 0.06), int(y - height * 0.72)
        if (col % 9 < 2 and row % 12 < 9) or (row % 12 == 4 and col % 27 < 14):
            r, g, b = 25, 25, 35
    return [max(0, min(255, int(round(v)))) for v in (r, g, b)]


def write_bitmap(path, width, height, rgb_at):
    """A 24-bit bitmap, bottom row first, rows padded to 4 bytes; rgb_at(x, y)
    gives red, green, blue with y counted from the top."""
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for y in reversed(range(height)):  # bottom row first
        row = bytearray()
        for x in range(width):
            r, g, b = rgb_at(x, y)
            row += bytes((b, g, r))
        row += bytes(stride - len(row))
        rows.append(bytes(row))
    data = b"".join(rows)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54))
        f.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0))
        f.write(data)


def main():
    if len(sys.argv) not in (2, 4):
        sys.exit(__doc__)
    width, height = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) == 4 else (320, 240)
    write_bitmap(sys.argv[1], width, height, lambda x, y: pixel(x, y, width, height))


if __name__ == "__main__":
    main()
