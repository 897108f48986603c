#!/usr/bin/env python3
"""Draws the program icon (a drive with an eject arrow) at every size Windows
asks for from 100 % to 200 % display scale (16, 20, 24, 32, 40, 48 and 64
pixels) and at 256 for Explorer's large views, and writes it as a Windows
.ico: 32-bit DIB images, the 256 one PNG-compressed as Vista on read it.

The drawing is laid out on a 16-unit grid so that edges fall on whole pixels
at every size; outlines stay one pixel wide up to 64 pixels, which keeps the
small images crisp. Usage: make-icon.py OUTPUT.ico
"""
import struct
import sys
import zlib

SUB = 8  # supersamples per pixel and axis, on the pixels an edge crosses
SIZES = (16, 20, 24, 32, 40, 48, 64, 256)
PNG_SIZES = (256,)


def convex(points):
    """Half-planes (a, b, c) with a*x + b*y + c >= 0 inside, from a clockwise
    polygon in y-down coordinates."""
    planes = []
    n = len(points)
    for i in range(n):
        x0, y0 = points[i]
        x1, y1 = points[(i + 1) % n]
        a, b = -(y1 - y0), x1 - x0
        length = (a * a + b * b) ** 0.5
        a, b = a / length, b / length
        planes.append((a, b, -(a * x0 + b * y0)))
    return planes


def inset(planes, d):
    return [(a, b, c - d) for a, b, c in planes]


def chamfered_rect(x0, y0, x1, y1, r):
    return convex([(x0 + r, y0), (x1 - r, y0), (x1, y0 + r), (x1, y1 - r),
                   (x1 - r, y1), (x0 + r, y1), (x0, y1 - r), (x0, y0 + r)])


class Canvas:
    def __init__(self, size):
        self.size = size
        self.px = [[(0.0, 0.0, 0.0, 0.0)] * size for _ in range(size)]

    def fill(self, planes, colour, bottom=None):
        """Fills a convex shape (pixel coordinates) with a colour, or with a
        vertical gradient from colour (top) to bottom over the shape's rows."""
        for y in range(self.size):
            for x in range(self.size):
                cov = coverage(planes, x, y)
                if not cov:
                    continue
                col = colour
                if bottom is not None:
                    t = y / max(1, self.size - 1)
                    col = tuple(colour[i] + (bottom[i] - colour[i]) * t for i in range(3))
                self.blend(x, y, col, cov)

    def blend(self, x, y, col, cov):
        r, g, b, a = self.px[y][x]
        # Straight "over" compositing with premultiplied accumulation.
        na = cov + a * (1 - cov)
        if na <= 0:
            return
        mix = lambda c0, c1: (c1 * cov + c0 * a * (1 - cov)) / na
        self.px[y][x] = (mix(r, col[0]), mix(g, col[1]), mix(b, col[2]), na)


def coverage(planes, x, y):
    """The share of the pixel at (x, y) inside the shape. A pixel wholly
    inside or wholly outside is decided by its corners; only those an edge
    crosses are supersampled."""
    inside_all = True
    for a, b, c in planes:
        corners = [a * px + b * py + c for px in (x, x + 1) for py in (y, y + 1)]
        if max(corners) < 0:
            return 0.0
        if min(corners) < 0:
            inside_all = False
    if inside_all:
        return 1.0
    hits = 0
    for sy in range(SUB):
        py = y + (sy + 0.5) / SUB
        for sx in range(SUB):
            px = x + (sx + 0.5) / SUB
            if all(a * px + b * py + c >= 0 for a, b, c in planes):
                hits += 1
    return hits / (SUB * SUB)


def hexcol(h):
    return tuple(int(h[i:i + 2], 16) for i in (1, 3, 5))


def draw(size):
    k = size / 16.0  # pixels per grid unit
    P = lambda v: float(round(v * k))  # grid unit to a whole pixel
    c = Canvas(size)
    # Outlines are one pixel wide up to 64 pixels, which keeps the small
    # images crisp; the 256 image would lose them at that width.
    edge = float(max(1, round(size / 48)))
    line = max(1.0, P(0.5))

    # The drive: a dark outline, a light top face and a metal front.
    x0, x1, y0, y1 = P(0.5), P(15.5), P(9), P(15.5)
    body = chamfered_rect(x0, y0, x1, y1, max(1.0, P(0.75)))
    c.fill(body, hexcol('#3c444d'))
    c.fill(inset(body, edge), hexcol('#c9cfd6'), hexcol('#7f8a96'))
    ytop = P(10.5) if size > 16 else y0 + 2
    c.fill(convex([(x0 + edge, y0 + edge), (x1 - edge, y0 + edge), (x1 - edge, ytop),
                   (x0 + edge, ytop)]), hexcol('#f4f6f8'))
    c.fill(convex([(x0 + edge, ytop), (x1 - edge, ytop), (x1 - edge, ytop + line),
                   (x0 + edge, ytop + line)]), hexcol('#6d7782'))
    # Activity light and a grille line on the front.
    ly = P(12.5) if size > 16 else 12.0
    c.fill(convex([(P(11.5), ly), (P(13.5), ly), (P(13.5), ly + line), (P(11.5), ly + line)]),
           hexcol('#19c23a'))
    c.fill(convex([(P(2.5), ly), (P(8.5), ly), (P(8.5), ly + line), (P(2.5), ly + line)]),
           hexcol('#4d5660'))

    # The eject symbol above the drive: a triangle over a bar, blue with a
    # darker rim so it stands out on light and dark backgrounds. Below 32
    # pixels the bar is too thin for a rim and both are drawn solid.
    ex0, ex1 = P(2), P(14)
    tri = convex([((ex0 + ex1) / 2, 0), (ex1, P(5)), (ex0, P(5))])
    bar = convex([(ex0, P(6)), (ex1, P(6)), (ex1, P(8)), (ex0, P(8))])
    rim, fill_top, fill_bottom = hexcol('#0b4a9a'), hexcol('#62adff'), hexcol('#1f66cf')
    for shape in (tri, bar):
        if size >= 32:
            c.fill(shape, rim)
            c.fill(inset(shape, edge), fill_top, fill_bottom)
        else:
            c.fill(shape, hexcol('#1d6fe0'))
    return c


def dib(canvas):
    size = canvas.size
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):  # bottom-up
        row = bytearray()
        for x in range(size):
            r, g, b, a = canvas.px[y][x]
            row += bytes((round(b), round(g), round(r), round(a * 255)))
        rows.append(bytes(row))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        bits = bytearray(mask_stride)
        for x in range(size):
            if canvas.px[y][x][3] < 0.5 / 255:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + b''.join(rows) + bytes(mask)


def png(canvas):
    """The image as an 8-bit RGBA PNG, rows unfiltered; the same bytes on
    every run."""
    size = canvas.size
    raw = bytearray()
    for y in range(size):
        raw.append(0)
        for x in range(size):
            r, g, b, a = canvas.px[y][x]
            raw += bytes((round(r), round(g), round(b), round(a * 255)))

    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data +
                struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
            chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))


def main():
    images = [png(draw(s)) if s in PNG_SIZES else dib(draw(s)) for s in SIZES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(SIZES, images):
        # A size of 256 is written as 0 in the directory's byte.
        out += struct.pack('<BBBBHHII', s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
