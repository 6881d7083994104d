#!/usr/bin/env python3
"""Draws the four 32 x 32 toolbar pictures (connect, read, write, exit) as PNG files,
and the application icon as SVG plus PNG at 48, 64 and 128 pixels.

Only the standard library is used: shapes are filled with 4 x 4 supersampling
and composited over a transparent background; the SVG gets the same shapes.
Run it from any directory:
    python3 ui/icons/make_icons.py [--app-icon-dir DIR]
"""

import argparse
import math
import os
import struct
import zlib

SIZE = 32
SUB = 4  # supersamples per pixel along each axis


class Canvas:
    """A square picture of `size` pixels; shape coordinates are multiplied by `scale`."""

    def __init__(self, size=SIZE, scale=1.0):
        self.size = size
        self.scale = scale
        self.px = [[(0.0, 0.0, 0.0, 0.0) for _ in range(size)] for _ in range(size)]

    def fill(self, inside, color, box=None):
        """Composites `color` (r, g, b, a in 0..255) over every pixel, weighted by
        the share of its supersamples for which inside(x, y) holds. `box`
        (x0, y0, x1, y1, in pixels) bounds the pixels that can be hit."""
        r, g, b, a = (c / 255.0 for c in color)
        x0, y0, x1, y1 = box if box else (0, 0, self.size, self.size)
        xs = range(max(0, math.floor(x0)), min(self.size, math.ceil(x1)))
        for py in range(max(0, math.floor(y0)), min(self.size, math.ceil(y1))):
            for px in xs:
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
        x0, y0, x1, y1 = (v * self.scale for v in (x0, y0, x1, y1))
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1, color, (x0, y0, x1, y1))

    def polygon(self, points, color):
        points = [(x * self.scale, y * self.scale) for x, y in points]

        def inside(x, y):
            hit = False
            n = len(points)
            for i in range(n):
                (xa, ya), (xb, yb) = points[i], points[(i + 1) % n]
                if (ya > y) != (yb > y) and x < xa + (y - ya) * (xb - xa) / (yb - ya):
                    hit = not hit
            return hit

        xs, ys = [x for x, _ in points], [y for _, y in points]
        self.fill(inside, color, (min(xs), min(ys), max(xs), max(ys)))

    def circle(self, cx, cy, radius, color):
        cx, cy, radius = (v * self.scale for v in (cx, cy, radius))
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius, color,
                  (cx - radius, cy - radius, cx + radius, cy + radius))

    def frame(self, x0, y0, x1, y1, width, color):
        x0, y0, x1, y1, width = (v * self.scale for v in (x0, y0, x1, y1, width))
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1
                  and not (x0 + width <= x < x1 - width and y0 + width <= y < y1 - width), color,
                  (x0, y0, x1, y1))

    def png(self):
        rows = b""
        for row in self.px:
            rows += b"\x00" + bytes(round(c * 255) for p in row for c in p)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.size, self.size, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
                + chunk(b"IEND", b""))


class SvgCanvas:
    """The same shapes as Canvas, written as SVG elements on a `size` x `size` view box."""

    def __init__(self, size):
        self.size = size
        self.elements = []

    @staticmethod
    def _paint(color):
        r, g, b, a = color
        paint = 'fill="#%02x%02x%02x"' % (r, g, b)
        return paint if a == 255 else paint + ' fill-opacity="%g"' % round(a / 255.0, 3)

    def rect(self, x0, y0, x1, y1, color):
        self.elements.append('<rect x="%g" y="%g" width="%g" height="%g" %s/>'
                             % (x0, y0, x1 - x0, y1 - y0, self._paint(color)))

    def polygon(self, points, color):
        self.elements.append('<polygon points="%s" %s/>'
                             % (" ".join("%g,%g" % p for p in points), self._paint(color)))

    def circle(self, cx, cy, radius, color):
        self.elements.append('<circle cx="%g" cy="%g" r="%g" %s/>' % (cx, cy, radius, self._paint(color)))

    def frame(self, x0, y0, x1, y1, width, color):
        outer = "M%g %gH%gV%gH%gZ" % (x0, y0, x1, y1, x0)
        inner = "M%g %gH%gV%gH%gZ" % (x0 + width, y0 + width, x1 - width, y1 - width, x0 + width)
        self.elements.append('<path d="%s%s" fill-rule="evenodd" %s/>' % (outer, inner, self._paint(color)))

    def svg(self):
        return ('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n'
                % (self.size, self.size, self.size, self.size)
                + "".join("  %s\n" % e for e in self.elements) + "</svg>\n").encode()


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


# The application icon is drawn on a 64-unit grid and scaled to each size.
APP_GRID = 64
APP_PNG_SIZES = (48, 64, 128)
SCREEN = (24, 48, 30, 255)

# The lit segments of a seven-segment digit: a top, b top right, c bottom
# right, d bottom, e bottom left, f top left, g middle.
SEGMENTS = {"0": "abcdef", "1": "bc", "4": "bcfg", "5": "acdfg"}


def seven_segment(c, digit, x, y, w, h, t, color):
    half = h / 2
    shapes = {
        "a": (x, y, x + w, y + t), "d": (x, y + h - t, x + w, y + h),
        "g": (x, y + half - t / 2, x + w, y + half + t / 2),
        "f": (x, y, x + t, y + half), "b": (x + w - t, y, x + w, y + half),
        "e": (x, y + half, x + t, y + h), "c": (x + w - t, y + half, x + w, y + h),
    }
    for segment in SEGMENTS[digit]:
        c.rect(*shapes[segment], color)


def app_icon(c):
    """A cash register whose display shows a two-digit network number."""
    # The display on its neck, showing 45.
    c.rect(10, 2, 54, 24, OUTLINE)
    c.rect(12, 4, 52, 22, BODY)
    c.rect(14, 6, 50, 20, SCREEN)
    seven_segment(c, "4", 21, 8, 8, 10, 2, DISPLAY)
    seven_segment(c, "5", 35, 8, 8, 10, 2, DISPLAY)
    c.rect(28, 24, 36, 28, OUTLINE)
    # The body with three rows of keys, the enter key and the drawer.
    c.polygon([(4, 28), (60, 28), (62, 61), (2, 61)], OUTLINE)
    c.polygon([(6, 30), (58, 30), (59.8, 59), (4.2, 59)], BODY_LIGHT)
    for top in (34, 41, 48):
        for left in (10, 18, 26, 34, 42):
            c.rect(left, top, left + 5, top + 4, OUTLINE)
    c.rect(50, 34, 55, 52, GREEN)
    c.rect(7, 55, 57, 57, BODY)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--app-icon-dir", default=os.path.join(here, "..", "..", "packaging", "icons"),
                        help="where kkm-netnum.svg and kkm-netnum-SIZE.png go")
    parser.add_argument("--no-toolbar", action="store_true", help="draw the application icon only")
    args = parser.parse_args()

    if not args.no_toolbar:
        for name, draw in (("connect", connect_icon), ("read", read_icon), ("write", write_icon),
                           ("exit", exit_icon)):
            with open(os.path.join(here, name + ".png"), "wb") as out:
                out.write(draw().png())

    os.makedirs(args.app_icon_dir, exist_ok=True)
    svg = SvgCanvas(APP_GRID)
    app_icon(svg)
    with open(os.path.join(args.app_icon_dir, "kkm-netnum.svg"), "wb") as out:
        out.write(svg.svg())
    for size in APP_PNG_SIZES:
        canvas = Canvas(size, size / APP_GRID)
        app_icon(canvas)
        with open(os.path.join(args.app_icon_dir, "kkm-netnum-%d.png" % size), "wb") as out:
            out.write(canvas.png())


if __name__ == "__main__":
    main()
