#!/usr/bin/env python3
"""Draws the seven toolbar icons of Malwerk as 20x22 24-bit Windows bitmaps.

Background 0xFF00FF is the transparent colour of 32-bit images, so the
button's fill shows through it when the icon is put on a button.

    tools/mkicons.py [output directory, default gfx]
"""
import struct
import sys
from pathlib import Path

W, H = 20, 22
KEY = (0xFF, 0x00, 0xFF)
INK = (0x23, 0x10, 0x2B)
GREY = (0x70, 0x68, 0x60)
WOOD = (0xC0, 0x80, 0x40)
METAL = (0xA0, 0xA0, 0xA8)
BLUE = (0x20, 0x60, 0xD0)
PAINT = (0xD0, 0x20, 0x20)
YELLOW = (0xF0, 0xD0, 0x40)


class Icon:
    def __init__(self):
        self.px = [[KEY] * W for _ in range(H)]

    def set(self, x, y, c):
        if 0 <= x < W and 0 <= y < H:
            self.px[y][x] = c

    def line(self, x0, y0, x1, y1, c, dash=0):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x1 > x0 else -1), (1 if y1 > y0 else -1)
        err, n = dx + dy, 0
        while True:
            if not dash or (n // dash) % 2 == 0:
                self.set(x0, y0, c)
            n += 1
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def thick(self, x0, y0, x1, y1, width, c):
        """Every pixel whose centre lies within width/2 of the segment."""
        vx, vy = x1 - x0, y1 - y0
        length2 = vx * vx + vy * vy
        for y in range(H):
            for x in range(W):
                t = max(0.0, min(1.0, ((x - x0) * vx + (y - y0) * vy) / length2))
                px, py = x0 + t * vx - x, y0 + t * vy - y
                if px * px + py * py <= width * width / 4:
                    self.set(x, y, c)

    def box(self, x0, y0, x1, y1, c, fill=False):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                if fill or y in (y0, y1) or x in (x0, x1):
                    self.set(x, y, c)

    def disc(self, cx, cy, r, c):
        for y in range(H):
            for x in range(W):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.set(x, y, c)

    def bmp(self):
        row = (W * 3 + 3) & ~3
        data = bytearray()
        for y in range(H - 1, -1, -1):  # bottom-up rows, BGR
            line = bytearray()
            for r, g, b in self.px[y]:
                line += bytes((b, g, r))
            data += line + bytes(row - len(line))
        header = struct.pack('<2sIHHI', b'BM', 54 + len(data), 0, 0, 54)
        info = struct.pack('<IiiHHIIiiII', 40, W, H, 1, 24, 0, len(data), 2835, 2835, 0, 0)
        return header + info + bytes(data)


def pen():
    i = Icon()
    i.thick(5.5, 15.5, 15, 6, 4.2, YELLOW)
    i.thick(15, 6, 16.5, 4.5, 4.2, PAINT)  # the eraser end
    i.line(3, 18, 5, 13, INK)
    i.line(3, 18, 8, 16, INK)
    i.line(2, 19, 3, 18, INK)
    return i


def brush():
    i = Icon()
    i.thick(9.5, 10.5, 16, 3, 2.6, WOOD)
    i.box(7, 10, 10, 12, METAL, fill=True)
    i.disc(6, 15, 3, PAINT)
    i.set(3, 19, PAINT)
    i.set(4, 18, PAINT)
    return i


def bucket():
    i = Icon()
    for y in range(7, 18):  # a pail widening towards its rim
        i.line(5 - (17 - y) // 5, y, 13 + (17 - y) // 5, y, METAL)
    i.line(3, 7, 15, 7, GREY)
    i.line(5, 17, 13, 17, GREY)
    i.line(4, 6, 9, 2, GREY)
    i.line(9, 2, 14, 6, GREY)
    i.line(15, 8, 17, 12, BLUE)
    i.box(16, 13, 18, 16, BLUE, fill=True)
    return i


def straight_line():
    i = Icon()
    i.thick(2.5, 18, 17, 3.5, 2.2, INK)
    return i


def dashed_line():
    i = Icon()
    for k in range(3):  # three dashes along the diagonal
        x = 2.5 + 5.5 * k
        i.thick(x, 18 - 5.5 * k, x + 3, 15 - 5.5 * k, 2.2, INK)
    return i


def rectangle():
    i = Icon()
    i.box(2, 5, 17, 16, INK)
    i.box(3, 6, 16, 15, INK)
    return i


def text():
    i = Icon()  # a capital A beside an insertion bar
    i.thick(3, 17, 8.5, 3.5, 2.2, INK)
    i.thick(8.5, 3.5, 14, 17, 2.2, INK)
    i.line(6, 12, 11, 12, INK)
    i.line(17, 4, 17, 17, BLUE)
    i.line(16, 4, 18, 4, BLUE)
    i.line(16, 17, 18, 17, BLUE)
    return i


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else 'gfx')
    out.mkdir(parents=True, exist_ok=True)
    for n, draw in enumerate((pen, brush, bucket, straight_line, dashed_line, rectangle, text), start=1):
        (out / f'{n}.bmp').write_bytes(draw().bmp())


if __name__ == '__main__':
    main()
