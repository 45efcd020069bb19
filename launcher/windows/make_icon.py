#!/usr/bin/env python3
"""Writes the launcher's default icon: a teal disc with a white ring, at 32x32
and 16x16 in 16 colours, so that it adds less than 2 KiB to the executable.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

# Palette indices: 0 transparent (masked), 1 teal, 2 white, 3 dark teal.
PALETTE = [(0, 0, 0), (128, 128, 0), (255, 255, 255), (64, 64, 0)] + [(0, 0, 0)] * 12  # BGR


def pixel(x, y, size):
    """The palette index at (x, y), y counted from the top."""
    c = (size - 1) / 2
    r = ((x - c) ** 2 + (y - c) ** 2) ** 0.5 / (size / 2)
    if r > 1.0:
        return 0
    if r > 0.9:
        return 3
    if 0.45 < r < 0.68:
        return 2
    if x > c + size * 0.12 and y > c + size * 0.12 and abs((x - c) - (y - c)) < size * 0.09 and r < 0.95:
        return 2  # the tail of the Q
    return 1


def image(size):
    rows_xor, rows_and = [], []
    for y in reversed(range(size)):  # bitmaps run bottom-up
        indices = [pixel(x, y, size) for x in range(size)]
        xor = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, size, 2))
        rows_xor.append(xor + b"\0" * (-len(xor) % 4))
        bits = 0
        mask = bytearray()
        for i, index in enumerate(indices):
            bits = (bits << 1) | (1 if index == 0 else 0)
            if i % 8 == 7:
                mask.append(bits)
                bits = 0
        rows_and.append(bytes(mask) + b"\0" * (-len(mask) % 4))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for b, g, r in PALETTE)
    return header + palette + b"".join(rows_xor) + b"".join(rows_and)


def main():
    sizes = [32, 16]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
