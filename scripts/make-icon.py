#!/usr/bin/env python3
"""Draws the application icon, ui/morla_GUI.ico: a level meter with a down
arrow on a dark rounded square, at 256, 96, 48, 32 and 16 pixels, 256 colours
(8 bits per pixel, palette) each. Run it again after changing the drawing."""
import struct
import sys

PALETTE = [
    (0, 0, 0),        # 0 transparent (masked)
    (24, 36, 64),     # 1 background, dark
    (40, 60, 104),    # 2 background, light
    (70, 200, 90),    # 3 bar, low
    (240, 210, 60),   # 4 bar, middle
    (230, 70, 60),    # 5 bar, high
    (250, 250, 250),  # 6 arrow
    (90, 120, 180),   # 7 rim
]
BARS = [0.50, 0.72, 0.40, 0.62, 0.30]  # heights of the meter's bars


def rounded_square(u, v, margin, radius):
    x = min(max(u, margin + radius), 1 - margin - radius)
    y = min(max(v, margin + radius), 1 - margin - radius)
    return (u - x) ** 2 + (v - y) ** 2 <= radius ** 2 and margin <= u <= 1 - margin and margin <= v <= 1 - margin


def pixel(u, v):
    """Palette index at (u, v), both in [0, 1), v growing downwards."""
    if not rounded_square(u, v, 0.02, 0.16):
        return 0
    if not rounded_square(u, v, 0.06, 0.13):
        return 7
    # down arrow, top right
    if 0.62 <= u <= 0.90 and 0.12 <= v <= 0.40:
        if v <= 0.26 and 0.71 <= u <= 0.81:
            return 6
        if v > 0.26 and abs(u - 0.76) <= (0.40 - v):
            return 6
    # level meter bars along the bottom
    for i, height in enumerate(BARS):
        left = 0.12 + i * 0.155
        if left <= u <= left + 0.11 and v >= 0.88 - height and v <= 0.88:
            level = 0.88 - v
            return 3 if level < 0.3 else 4 if level < 0.5 else 5
    return 1 if v < 0.55 else 2


def entry(size):
    indices = [[pixel((x + 0.5) / size, (y + 0.5) / size) for x in range(size)] for y in range(size)]
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    palette += bytes(4 * (256 - len(PALETTE)))
    xor_row = (size + 3) // 4 * 4
    and_row = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(indices):  # bottom-up
        xor += bytes(row) + bytes(xor_row - size)
        bits = bytearray(and_row)
        for x, index in enumerate(row):
            if index == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def main(path):
    sizes = [256, 96, 48, 32, 16]
    images = [entry(size) for size in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, image in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 8, len(image), offset)
        offset += len(image)
    out += b''.join(images)
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'ui/morla_GUI.ico')
