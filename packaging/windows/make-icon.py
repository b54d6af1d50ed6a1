#!/usr/bin/env python3
"""Draws sk-backup.ico: a floppy disk (a safety copy) with a green arrow going round it.

Run it to make packaging/windows/sk-backup.ico anew; the icon is drawn here pixel by pixel, from
nothing but this script, and every run gives the same bytes. Sizes 16, 32 and 48 as 32-bit
bitmaps with alpha; 256, for Explorer's large views, as PNG inside the .ico, as Windows has it
from Vista on, with smoothed edges."""
import struct
import sys
import zlib

DISK = (0x2B, 0x3A, 0x55, 255)
LABEL = (0xF2, 0xF2, 0xEE, 255)
SHUTTER = (0x9A, 0xA5, 0xB8, 255)
ARROW = (0x2E, 0xA0, 0x44, 255)
NONE = (0, 0, 0, 0)


def pixel(size, x, y):
    u, v = (x + 0.5) / size, (y + 0.5) / size  # 0..1, v downwards
    # The arrow: a ring segment at the lower right, with a head pointing up.
    dx, dy = u - 0.70, v - 0.70
    r = (dx * dx + dy * dy) ** 0.5
    if 0.17 <= r <= 0.27 and not (dx < 0 and dy < 0):
        return ARROW
    if 0.84 <= u <= 1.0 and 0.38 <= v <= 0.70 and abs(u - 0.92) <= (v - 0.38) * 0.5:
        return ARROW
    # The disk: a square with a cut corner, a shutter at the top and a label below.
    if 0.06 <= u <= 0.80 and 0.06 <= v <= 0.80 and u + (0.80 - v) <= 1.42 - 0.06:
        if 0.22 <= u <= 0.60 and 0.06 <= v <= 0.30:
            return SHUTTER if not (0.46 <= u <= 0.54 and 0.10 <= v <= 0.26) else DISK
        if 0.16 <= u <= 0.70 and 0.44 <= v <= 0.80:
            return LABEL
        return DISK
    return NONE


def smooth_pixel(size, x, y, n=4):
    """The pixel as the mean of n x n samples inside it, so that slanted and round edges are not
    stair-stepped; the colour is weighted by alpha, and every sum is in whole numbers."""
    total = [0, 0, 0, 0]
    for j in range(n):
        for i in range(n):
            r, g, b, a = pixel(size * n, x * n + i, y * n + j)
            total = [total[0] + r * a, total[1] + g * a, total[2] + b * a, total[3] + a]
    alpha = total[3]
    if alpha == 0:
        return NONE
    return tuple((c + alpha // 2) // alpha for c in total[:3]) + ((alpha + n * n // 2) // (n * n),)


def png(size):
    """A PNG of RGBA pixels, top-down, each row behind filter byte 0, compressed by zlib."""
    rows = b"".join(b"\0" + b"".join(bytes(smooth_pixel(size, x, y)) for x in range(size))
                    for y in range(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up, as BMP has it
        rows.append(b"".join(bytes((b, g, r, a)) for r, g, b, a in
                             (pixel(size, x, y) for x in range(size))))
    mask_row = b"\0" * (((size + 31) // 32) * 4)  # all drawn through alpha
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + mask_row * size


def main(path):
    sizes = (16, 32, 48, 256)
    images = [image(s) if s < 256 else png(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        # A width or height of 256 is written as 0.
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "sk-backup.ico")
