#!/usr/bin/env python3
"""Draws the setup's artwork and writes it as 4-bit Windows BMP/ICO files.

    wizard.bmp   picture beside the wizard's instructions (bitmap 132)
    trovix.ico   program icon, 32x32 and 16x16 (icon 107)
    small.ico    program icon, 16x16 only (icon 108)

Run from anywhere; the files land next to this script. The output is
deterministic, so rerunning it leaves the committed files unchanged.
"""
import os
import struct

# 16-colour palette (R, G, B).
PAL = [
    (0, 0, 0),        # 0 black
    (16, 32, 72),     # 1 deep navy
    (24, 48, 104),    # 2
    (32, 66, 136),    # 3
    (44, 88, 166),    # 4
    (62, 112, 192),   # 5
    (90, 140, 210),   # 6
    (130, 172, 226),  # 7 light blue
    (255, 255, 255),  # 8 white
    (96, 96, 96),     # 9 dark grey
    (192, 192, 192),  # 10 light grey
    (200, 110, 20),   # 11 dark orange
    (240, 150, 40),   # 12 orange
    (255, 200, 90),   # 13 light orange
    (40, 150, 70),    # 14 green
    (255, 0, 255),    # 15 unused (magenta)
]

BAYER = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


class Canvas:
    def __init__(self, w, h, fill=0):
        self.w, self.h = w, h
        self.px = [[fill] * w for _ in range(h)]
        self.mask = [[0] * w for _ in range(h)]  # 1 = transparent (icons)

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c
            self.mask[y][x] = 0

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.set(x, y, c)

    def poly(self, pts, c):
        """Fills a polygon by the even-odd rule, sampling pixel centres."""
        ys = [p[1] for p in pts]
        for y in range(int(min(ys)), int(max(ys)) + 1):
            yc = y + 0.5
            xs = []
            for i in range(len(pts)):
                (xa, ya), (xb, yb) = pts[i], pts[(i + 1) % len(pts)]
                if (ya <= yc < yb) or (yb <= yc < ya):
                    xs.append(xa + (yc - ya) * (xb - xa) / (yb - ya))
            xs.sort()
            for a, b in zip(xs[0::2], xs[1::2]):
                for x in range(int(a + 0.5), int(b + 0.5)):
                    self.set(x, y, c)

    def disc(self, cx, cy, r, c):
        for y in range(int(cy - r), int(cy + r) + 1):
            for x in range(int(cx - r), int(cx + r) + 1):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    self.set(x, y, c)


def gradient(cv, top, bottom, first, last):
    """Vertical ordered-dither gradient over palette entries first..last."""
    span = last - first
    for y in range(top, bottom):
        t = (y - top) / max(1, bottom - top - 1) * span
        for x in range(cv.w):
            level = int(t + BAYER[y % 4][x % 4] / 16.0)
            cv.set(x, y, first + min(span, level))


def draw_mark(cv, ox, oy, s):
    """The Trovix mark: an orange box with a white arrow pointing into it."""
    u = s / 16.0
    P = lambda x, y: (ox + x * u, oy + y * u)  # noqa: E731
    # box: front face, top face, side face
    cv.poly([P(2, 8), P(10, 8), P(10, 15), P(2, 15)], 12)
    cv.poly([P(2, 8), P(5, 6), P(13, 6), P(10, 8)], 13)
    cv.poly([P(10, 8), P(13, 6), P(13, 13), P(10, 15)], 11)
    # arrow into the box
    cv.poly([P(5, 0), P(8, 0), P(8, 4), P(10, 4), P(6.5, 8.5), P(3, 4), P(5, 4)], 8)


def write_bmp(path, cv):
    row = ((cv.w + 1) // 2 + 3) & ~3
    pixels = bytearray()
    for y in range(cv.h - 1, -1, -1):
        line = bytearray()
        for x in range(0, cv.w, 2):
            hi = cv.px[y][x]
            lo = cv.px[y][x + 1] if x + 1 < cv.w else 0
            line.append(hi << 4 | lo)
        pixels += line + bytes(row - len(line))
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in PAL)
    info = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h, 1, 4, 0, len(pixels), 2835, 2835, 16, 16)
    offset = 14 + len(info) + len(pal)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(head + info + pal + pixels)


def icon_image(cv):
    """One icon image: BITMAPINFOHEADER (double height), palette, XOR and AND masks."""
    xor_row = ((cv.w + 1) // 2 + 3) & ~3
    and_row = ((cv.w + 7) // 8 + 3) & ~3
    xor, andm = bytearray(), bytearray()
    for y in range(cv.h - 1, -1, -1):
        line = bytearray()
        for x in range(0, cv.w, 2):
            c = [0 if cv.mask[y][x + i] else cv.px[y][x + i] for i in (0, 1)]
            line.append(c[0] << 4 | c[1])
        xor += line + bytes(xor_row - len(line))
        bits = bytearray((cv.w + 7) // 8)
        for x in range(cv.w):
            if cv.mask[y][x]:
                bits[x // 8] |= 0x80 >> (x % 8)
        andm += bits + bytes(and_row - len(bits))
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in PAL)
    info = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h * 2, 1, 4, 0, len(xor) + len(andm), 0, 0, 16, 0)
    return info + pal + xor + andm


def write_ico(path, canvases):
    images = [icon_image(cv) for cv in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for cv, img in zip(canvases, images):
        out += struct.pack("<BBBBHHII", cv.w % 256, cv.h % 256, 16, 0, 1, 4, len(img), offset)
        offset += len(img)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def icon(size):
    cv = Canvas(size, size)
    for row in cv.mask:
        row[:] = [1] * size
    r = size / 2.0 - 0.5
    cv.disc(size / 2.0, size / 2.0, r, 3)
    cv.disc(size / 2.0 - size / 16.0, size / 2.0 - size / 16.0, r - size / 8.0, 4)
    pad = size / 8.0
    draw_mark(cv, pad, pad, size - 2 * pad)
    return cv


def picture():
    w, h = 220, 160
    cv = Canvas(w, h)
    gradient(cv, 0, 112, 1, 7)   # evening sky, dark to light
    gradient(cv, 112, h, 5, 3)   # ground
    for x in range(w):           # horizon line
        cv.set(x, 112, 8 if x % 2 else 7)
    cv.disc(176, 34, 16, 13)     # sun
    cv.disc(176, 34, 12, 8)
    draw_mark(cv, 58, 40, 104)   # the mark, large
    for i in range(0, 220, 22):  # a row of little boxes on the ground
        draw_mark(cv, i + 2, 130, 16)
    return cv


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write_bmp(os.path.join(here, "wizard.bmp"), picture())
    write_ico(os.path.join(here, "trovix.ico"), [icon(32), icon(16)])
    write_ico(os.path.join(here, "small.ico"), [icon(16)])


if __name__ == "__main__":
    main()
