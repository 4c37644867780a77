#!/usr/bin/env python3
"""Draws the program icon (32x32 and 16x16, 32-bit with alpha) into resources/tagwhirl.ico.

A teal disc with an orange whirl around its rim and a white eighth note in the middle: a note
being tagged. Drawn by supersampling, so the small size stays smooth.
"""
import math
import struct
import sys


def shade(x, y, size):
    """Colour (r, g, b, a) of the point (x, y) in a canvas of `size`, coordinates in 0..1."""
    cx, cy = 0.5, 0.5
    dx, dy = x - cx, y - cy
    r = math.hypot(dx, dy)
    if r > 0.48:
        return (0, 0, 0, 0)
    colour = (24, 128, 140, 255)  # teal disc
    # The whirl: an orange spiral band near the rim.
    angle = (math.atan2(dy, dx) + math.pi) / (2 * math.pi)
    band = 0.36 + 0.10 * angle
    if abs(r - band) < 0.035 and r > 0.30:
        colour = (245, 150, 40, 255)
    # The note: a head (tilted ellipse), a stem and a flag, in white.
    hx, hy = x - 0.42, y - 0.66
    ex = hx * math.cos(0.45) + hy * math.sin(0.45)
    ey = -hx * math.sin(0.45) + hy * math.cos(0.45)
    if (ex / 0.11) ** 2 + (ey / 0.075) ** 2 <= 1:
        colour = (255, 255, 255, 255)
    if 0.49 <= x <= 0.545 and 0.24 <= y <= 0.66:
        colour = (255, 255, 255, 255)
    fy = y - 0.24
    if 0.49 <= x <= 0.68 and 0 <= fy <= 0.20 and x - 0.49 <= 0.19 - 0.6 * abs(fy - 0.08):
        if fy <= 0.10 + (x - 0.49) * 0.5:
            colour = (255, 255, 255, 255)
    return colour


def render(size, samples=4):
    pixels = []
    for row in range(size):
        line = []
        for col in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    c = shade((col + (sx + 0.5) / samples) / size,
                              (row + (sy + 0.5) / samples) / size, size)
                    a = c[3]
                    acc[0] += c[0] * a
                    acc[1] += c[1] * a
                    acc[2] += c[2] * a
                    acc[3] += a
            n = samples * samples
            alpha = acc[3] / n
            if acc[3]:
                rgb = [int(acc[i] / acc[3]) for i in range(3)]
            else:
                rgb = [0, 0, 0]
            line.append((rgb[0], rgb[1], rgb[2], int(round(alpha))))
        pixels.append(line)
    return pixels


def bitmap(size):
    pixels = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(pixels):  # bottom-up rows
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for col, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[col // 8] |= 0x80 >> (col % 8)
        mask += bits
    return header + bytes(xor) + bytes(mask)


def main(out):
    images = [(32, bitmap(32)), (16, bitmap(16))]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in images:
        data += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for _, image in images:
        data += image
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'resources/tagwhirl.ico')
