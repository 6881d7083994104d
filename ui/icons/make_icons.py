#!/usr/bin/env python3
"""Draws the four 32 x 32 toolbar pictures (connect, read, write, exit) as PNG files.

Only the standard library is used: shapes are filled with 4 x 4 supersampling
and composited over a transparent background. Run it from any directory:
    python3 ui/icons/make_icons.py
"""

import os
import struct
import zlib

SIZE = 32
SUB = 4  # supersamples per pixel along each axis


class Canvas:
    def __init__(self):
        self.px = [[(0.0, 0.0, 0.0, 0.0) for _ in range(SIZE)] for _ in range(SIZE)]

    def fill(self, inside, color):
        """Composites `color` (r, g, b, a in 0..255) over every pixel, weighted by
        the share of its supersamples for which inside(x, y) holds."""
        r, g, b, a = (c / 255.0 for c in color)
        for py in range(SIZE):
            for px in range(SIZE):
                hits = 0
                for sy in range(SUB):
                    for sx in range(SUB):
                        if inside(px + (sx + 0.5) / SUB, py + (sy + 0.5) / SUB):
                            hits += 1
                if not hits:
                    continue
                k = a * hits / (SUB * SUB)
                dr, dg, db, da = self.px[py][px]
                out_a = k + da * (1 - k)
                if out_a <= 0:
                    continue
                mix = lambda s, d: (s * k + d * da * (1 - k)) / out_a
                self.px[py][px] = (mix(r, dr), mix(g, dg), mix(b, db), out_a)

    def rect(self, x0, y0, x1, y1, color):
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1, color)

    def polygon(self, points, color):
        def inside(x, y):
            hit = False
            n = len(points)
            for i in range(n):
                (xa, ya), (xb, yb) = points[i], points[(i + 1) % n]
                if (ya > y) != (yb > y) and x < xa + (y - ya) * (xb - xa) / (yb - ya):
                    hit = not hit
            return hit

        self.fill(inside, color)

    def circle(self, cx, cy, radius, color):
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius, color)

    def frame(self, x0, y0, x1, y1, width, color):
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1
                  and not (x0 + width <= x < x1 - width and y0 + width <= y < y1 - width), color)

    def png(self):
        rows = b""
        for row in self.px:
            rows += b"\x00" + bytes(round(c * 255) for p in row for c in p)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
                + chunk(b"IEND", b""))


OUTLINE = (40, 40, 48, 255)
BODY = (96, 112, 136, 255)
BODY_LIGHT = (150, 166, 190, 255)
PIN = (230, 190, 40, 255)
DISPLAY = (60, 200, 90, 255)
GREEN = (20, 150, 40, 255)
RED = (200, 40, 30, 255)


def device(c, top):
    """A small cash register: body, display window and two rows of keys."""
    c.rect(4, top, 28, top + 14, OUTLINE)
    c.rect(5, top + 1, 27, top + 13, BODY_LIGHT)
    c.rect(7, top + 3, 18, top + 7, OUTLINE)
    c.rect(8, top + 4, 17, top + 6, DISPLAY)
    for row in (top + 9,):
        for x in (7, 11, 15, 19, 23):
            c.rect(x, row, x + 2, row + 2, OUTLINE)
    c.rect(20, top + 3, 25, top + 7, BODY)


def arrow_down(c, top, bottom, color):
    c.rect(13, top, 19, bottom - 6, color)
    c.polygon([(8, bottom - 7), (24, bottom - 7), (16, bottom)], color)


def connect_icon():
    c = Canvas()
    # Cable ends.
    c.rect(0, 14, 5, 18, OUTLINE)
    c.rect(27, 14, 32, 18, OUTLINE)
    # Left plug: a trapezoid connector shell with two pins.
    c.polygon([(4, 8), (13, 10), (13, 22), (4, 24)], OUTLINE)
    c.polygon([(5, 9.5), (12, 11), (12, 21), (5, 22.5)], BODY)
    c.rect(13, 12, 18, 14, PIN)
    c.rect(13, 18, 18, 20, PIN)
    # Right socket with two holes waiting for the pins.
    c.polygon([(19, 10), (28, 8), (28, 24), (19, 22)], OUTLINE)
    c.polygon([(20, 11), (27, 9.5), (27, 22.5), (20, 21)], BODY_LIGHT)
    c.rect(20, 12, 23, 14, OUTLINE)
    c.rect(20, 18, 23, 20, OUTLINE)
    # A spark above the gap.
    c.polygon([(17, 1), (13, 7), (16, 7), (14, 11), (19, 5), (16, 5)], PIN)
    return c


def read_icon():
    c = Canvas()
    device(c, 1)
    arrow_down(c, 16, 31, GREEN)
    return c


def write_icon():
    c = Canvas()
    arrow_down(c, 0, 16, RED)
    device(c, 17)
    return c


def exit_icon():
    c = Canvas()
    # Door frame and an open door leaf.
    c.frame(5, 3, 21, 30, 2, OUTLINE)
    c.rect(7, 5, 19, 28, (40, 40, 48, 90))
    c.polygon([(7, 5), (15, 8), (15, 31), (7, 28)], (150, 90, 40, 255))
    c.circle(13, 18, 1.2, PIN)
    # Arrow leading out of the door.
    c.rect(16, 14, 25, 19, RED)
    c.polygon([(24, 10), (31, 16.5), (24, 23)], RED)
    return c


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, draw in (("connect", connect_icon), ("read", read_icon), ("write", write_icon),
                       ("exit", exit_icon)):
        with open(os.path.join(here, name + ".png"), "wb") as out:
            out.write(draw().png())


if __name__ == "__main__":
    main()
