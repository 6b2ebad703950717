#!/usr/bin/env python3
"""Writes grid.png: a 1280 x 720 grey test image for the preview.

A white grid every 40 pixels (bold every 160) on a dark background with a
light frame, so that the barrel correction bends nothing straight and the
keystone matrix visibly narrows the top edge. Standard library only.
"""
import struct
import sys
import zlib

WIDTH, HEIGHT = 1280, 720


def pixel(x, y):
    if x < 4 or y < 4 or x >= WIDTH - 4 or y >= HEIGHT - 4:
        return 230
    if x % 160 < 3 or y % 160 < 3:
        return 255
    if x % 40 == 0 or y % 40 == 0:
        return 200
    # A soft diagonal ramp between the lines.
    return 30 + (x + y) * 40 // (WIDTH + HEIGHT)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main(path):
    rows = b"".join(b"\x00" + bytes(pixel(x, y) for x in range(WIDTH)) for y in range(HEIGHT))
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 0, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(rows, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "grid.png")
