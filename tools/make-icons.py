#!/usr/bin/env python3
"""Draws the program's icon (16x16 and 32x32) and its five menu images (16x16) as .ico files
(32-bit BGRA), so that the pictures are ours and reproducible: python3 tools/make-icons.py app/res"""
import math
import struct
import sys


def draw(size, painter):
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            # Sample at the pixel centre, in a unit square with (0,0) top left.
            c = painter((x + 0.5) / size, (y + 0.5) / size)
            if c:
                px[y][x] = c
    return px


def ico(images):
    header = struct.pack('<HHH', 0, 1, len(images))
    entries, blobs = b'', b''
    offset = 6 + 16 * len(images)
    for px in images:
        size = len(px)
        xor = b''.join(bytes((b, g, r, a)) for row in reversed(px) for (r, g, b, a) in row)
        mask_row = ((size + 31) // 32) * 4
        andmask = b'\0' * (mask_row * size)
        bih = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(andmask), 0, 0, 0, 0)
        blob = bih + xor + andmask
        entries += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        blobs += blob
        offset += len(blob)
    return header + entries + blobs


def ring(x, y, r0, r1, cx=0.5, cy=0.5):
    d = math.hypot(x - cx, y - cy)
    return r0 <= d <= r1


def seg(x, y, x0, y0, x1, y1, w):
    dx, dy = x1 - x0, y1 - y0
    t = max(0, min(1, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - (x0 + t * dx), y - (y0 + t * dy)) <= w


NAVY, WHITE, RED, GREEN, BLUE, GOLD, GREY = (
    (20, 40, 110, 255), (250, 250, 250, 255), (200, 30, 30, 255), (30, 150, 60, 255),
    (40, 110, 220, 255), (230, 170, 20, 255), (90, 90, 90, 255))


def clock(x, y):
    if ring(x, y, 0.40, 0.48):
        return NAVY
    if seg(x, y, 0.5, 0.5, 0.5, 0.2, 0.05) or seg(x, y, 0.5, 0.5, 0.72, 0.5, 0.05):
        return RED
    if ring(x, y, 0, 0.40):
        return WHITE
    return None


def exit_img(x, y):
    if seg(x, y, 0.22, 0.22, 0.78, 0.78, 0.09) or seg(x, y, 0.78, 0.22, 0.22, 0.78, 0.09):
        return RED
    return None


def about(x, y):
    if ring(x, y, 0.40, 0.47):
        return BLUE
    if seg(x, y, 0.5, 0.45, 0.5, 0.75, 0.07) or ring(x, y, 0, 0.07, 0.5, 0.28):
        return BLUE
    return None


def web(x, y):
    if ring(x, y, 0.38, 0.46) or seg(x, y, 0.08, 0.5, 0.92, 0.5, 0.035) or seg(x, y, 0.5, 0.08, 0.5, 0.92, 0.035):
        return GREEN
    if abs(math.hypot((x - 0.5) * 2.2, y - 0.5) - 0.42) < 0.04:
        return GREEN
    return None


def help_img(x, y):
    if ring(x, y, 0.0, 0.46):
        if ring(x, y, 0.12, 0.2, 0.5, 0.38) and y < 0.45 or seg(x, y, 0.62, 0.45, 0.5, 0.55, 0.05) or \
                seg(x, y, 0.5, 0.55, 0.5, 0.62, 0.05) or ring(x, y, 0, 0.05, 0.5, 0.76):
            return WHITE
        return GOLD
    return None


def settings(x, y):
    a = math.atan2(y - 0.5, x - 0.5)
    r = math.hypot(x - 0.5, y - 0.5)
    outer = 0.40 + 0.07 * (1 if math.cos(8 * a) > 0 else -1)
    if r <= outer and r >= 0.15:
        return GREY
    return None


def main(out):
    for name, painter in [('Kairotsu', clock), ('exit', exit_img), ('about', about), ('web', web),
                          ('help', help_img), ('settings', settings)]:
        with open(f'{out}/{name}.ico', 'wb') as f:
            # The menus show their images at 16x16 only; the program's icon also has 32x32
            # for Explorer and the task switcher.
            sizes = [16, 32] if name == 'Kairotsu' else [16]
            f.write(ico([draw(size, painter) for size in sizes]))


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else '.')
