#!/usr/bin/env python3
"""Writes a plain placeholder program icon (16, 32 and 48 pixels, 32-bit)
for builds made before artwork/Icon.ico exists. Only ever written into a
build tree.   placeholder_icon.py OUT.ico"""
import struct
import sys


def image(size):
    # A filled disc on a transparent ground, bottom-up BGRA rows, then the
    # AND mask (all zero: the alpha channel decides).
    r = size / 2
    rows = []
    for y in range(size - 1, -1, -1):
        row = b""
        for x in range(size):
            inside = (x + 0.5 - r) ** 2 + (y + 0.5 - r) ** 2 <= (r - 0.5) ** 2
            row += bytes((0xd5, 0x7b, 0x3a, 0xff)) if inside else b"\0\0\0\0"
        rows.append(row)
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + b"\0" * (mask_row * size)


def main():
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
