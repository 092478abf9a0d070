#!/usr/bin/env python3
"""Draws the window's images into res/: the status strip (bitmap 129, 64 x 16, 8 bits per
pixel with a palette, magenta transparent) and the application icon (icon 128) as PNG files
of the usual desktop sizes, each also at twice its size for screens that scale by 2
(status@2x.bmp, and lumidex-256@2x.png beside the sizes that already double the smaller
ones). Standard library only; run it again after changing a shape:

    python3 res/tools/draw_images.py

Shapes are sampled many times per pixel, so edges come out smooth. The strip has no alpha
channel: an edge pixel at least half covered is blended with the list's white background,
anything less becomes magenta.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
RES = os.path.dirname(HERE)
MAGENTA = (255, 0, 255)


# --- geometry ---------------------------------------------------------------------------

def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def polyline_dist(px, py, pts):
    return min(seg_dist(px, py, *pts[i], *pts[i + 1]) for i in range(len(pts) - 1))


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def over(top, bottom):
    """Both (r, g, b, a) with straight colour; returns top over bottom."""
    ta, ba = top[3], bottom[3]
    a = ta + ba * (1 - ta)
    if a <= 0:
        return (0, 0, 0, 0)
    return tuple((top[i] * ta + bottom[i] * ba * (1 - ta)) / a for i in range(3)) + (a,)


# --- scenes: (x, y) in a 16 x 16 box -> (r, g, b, a) ----------------------------------

def round_sign(x, y, light, dark, rim):
    """A shaded disc centred in the box: light at the upper left, dark at the lower right."""
    d = math.hypot(x - 8, y - 8)
    if d > 7.5:
        return (0, 0, 0, 0)
    if d > 6.6:
        return rim + (1,)
    t = ((x - 8) * 0.45 + (y - 8) * 0.75) / 7 * 0.5 + 0.5
    c = mix(light, dark, t)
    # a soft highlight near the top
    h = math.hypot((x - 7.2) / 1.6, (y - 4.6) / 1.0)
    if h < 2.4:
        c = mix(c, (255, 255, 255), 0.28 * (1 - h / 2.4))
    return c + (1,)


def error_icon(x, y):
    base = round_sign(x, y, (240, 90, 80), (176, 18, 18), (130, 10, 10))
    if base[3] == 0:
        return base
    arm = 3.1
    d = min(seg_dist(x, y, 8 - arm, 8 - arm, 8 + arm, 8 + arm),
            seg_dist(x, y, 8 - arm, 8 + arm, 8 + arm, 8 - arm))
    if d < 1.15:
        return (255, 255, 255, 1)
    return base


def globe_icon(x, y):
    d = math.hypot(x - 8, y - 8)
    if d > 7.5:
        return (0, 0, 0, 0)
    if d > 6.7:
        return (8, 92, 118, 1)
    t = ((x - 8) * 0.5 + (y - 8) * 0.7) / 7 * 0.5 + 0.5
    c = mix((70, 190, 215), (12, 120, 150), t)
    # land in green, roughly two continents
    land = (math.hypot((x - 5.6) / 2.6, (y - 6.0) / 3.2) < 1 or
            math.hypot((x - 10.6) / 2.3, (y - 10.4) / 2.0) < 1 or
            math.hypot((x - 10.8) / 1.6, (y - 4.6) / 1.1) < 1)
    if land:
        c = mix((120, 205, 90), (40, 140, 60), t)
    # grid: equator, two parallels, the central meridian and one curved meridian
    grid = (abs(y - 8) < 0.4 or abs(abs(y - 8) - 3.6) < 0.35 or abs(x - 8) < 0.4 or
            abs(math.hypot((x - 8) / 3.4, (y - 8) / 6.8) - 1) < 0.06)
    if grid:
        c = mix(c, (225, 250, 255), 0.55)
    h = math.hypot((x - 6.2) / 2.0, (y - 4.8) / 1.4)
    if h < 2.2:
        c = mix(c, (255, 255, 255), 0.3 * (1 - h / 2.2))
    return c + (1,)


TICK = [(2.6, 8.4), (6.3, 12.1), (13.4, 3.6)]


def tick_icon(x, y):
    d = polyline_dist(x, y, TICK)
    if d < 1.45:
        t = (y - 3) / 10
        return mix((90, 200, 70), (25, 130, 30), t) + (1,)
    if d < 2.25:
        return (18, 95, 22, 1)
    return (0, 0, 0, 0)


def warning_icon(x, y):
    base = round_sign(x, y, (255, 190, 70), (228, 118, 0), (170, 82, 0))
    if base[3] == 0:
        return base
    if seg_dist(x, y, 8, 3.9, 8, 8.9) < 1.2 or math.hypot(x - 8, y - 11.6) < 1.25:
        return (255, 255, 255, 1)
    return base


def sample(scene, px, py, scale, n):
    """Average of n x n samples of pixel (px, py); scene coordinates are pixel / scale."""
    acc = [0.0, 0.0, 0.0, 0.0]
    for i in range(n):
        for j in range(n):
            r, g, b, a = scene((px + (i + 0.5) / n) / scale, (py + (j + 0.5) / n) / scale)
            acc[0] += r * a
            acc[1] += g * a
            acc[2] += b * a
            acc[3] += a
    count = n * n
    a = acc[3] / count
    if a <= 0:
        return (0, 0, 0, 0.0)
    return (acc[0] / acc[3], acc[1] / acc[3], acc[2] / acc[3], a)


# --- the application icon (64 x 64 design box, drawn at any size) -------------------------

def app_icon(x, y):
    """A globe in front, a magnifying glass over its lower right: the network, examined."""
    s = 16 / 64  # the globe scene is drawn in a 16 box; this one in 64
    out = (0, 0, 0, 0)
    gx, gy = (x - 2) * s * 64 / 50, (y - 2) * s * 64 / 50
    if 0 <= gx <= 16 and 0 <= gy <= 16:
        out = globe_icon(gx, gy)
    # shadow of the lens on the globe
    lx, ly, lr = 42.0, 42.0, 13.0
    dl = math.hypot(x - lx, y - ly)
    handle = seg_dist(x, y, lx + 9.5, ly + 9.5, 60, 60)
    if handle < 4.2:
        t = (x + y - 100) / 20
        out = over(mix((90, 60, 40), (40, 25, 15), t) + (1,), out)
    if handle < 4.2 and handle > 3.2:
        out = over((25, 15, 10, 1), out)
    if dl < lr:
        glass = mix((235, 248, 255), (180, 220, 240), (y - ly + lr) / (2 * lr))
        out = over(glass + (0.55,), out)
        # a pulse line seen through the glass
        pulse = [(31, 43), (36, 43), (39, 35), (43, 50), (46, 41), (48, 43), (53, 43)]
        if polyline_dist(x, y, pulse) < 1.6:
            out = over((30, 160, 60, 1), out)
    if lr - 0.5 < dl < lr + 3.2:
        t = (x - y) / 30 * 0.5 + 0.5
        out = over(mix((120, 130, 140), (210, 215, 220), t) + (1,), out)
    if lr + 2.4 < dl < lr + 3.4 or lr - 1.0 < dl < lr - 0.2:
        out = over((60, 65, 75, 1), out)
    return out


# --- writers ----------------------------------------------------------------------------

def flatten(rgba):
    r, g, b, a = rgba
    if a < 0.5:
        return MAGENTA
    c = tuple(round(v * a + 255 * (1 - a)) for v in (r, g, b))
    return MAGENTA if c == MAGENTA else c


def palette_for(pixels):
    step = 1
    while True:
        q = [p if p == MAGENTA else tuple(min(255, (v // step) * step + step // 2) for v in p)
             for p in pixels]
        colours = sorted(set(q))
        if len(colours) <= 256:
            return q, colours
        step *= 2


def write_bmp8(path, width, height, pixels):
    """A bottom-up 8-bit BMP with a palette, as a Windows resource compiler stores one."""
    pixels, colours = palette_for(pixels)
    index = {c: i for i, c in enumerate(colours)}
    stride = (width + 3) & ~3
    rows = b""
    for y in range(height - 1, -1, -1):
        row = bytes(index[pixels[y * width + x]] for x in range(width))
        rows += row + b"\0" * (stride - width)
    pal = b"".join(struct.pack("<BBBB", c[2], c[1], c[0], 0) for c in colours)
    pal += b"\0" * (4 * (256 - len(colours)))
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(rows), 2835, 2835,
                         256, 0)
    offset = 14 + len(header) + len(pal)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset))
        f.write(header + pal + rows)


def write_png(path, size, pixels):
    raw = b""
    for y in range(size):
        raw += b"\0"
        for x in range(size):
            r, g, b, a = pixels[y * size + x]
            raw += bytes((round(r), round(g), round(b), round(a * 255)))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def write_strip(name, scale):
    strip = []
    scenes = [error_icon, globe_icon, tick_icon, warning_icon]  # the order of the status values
    side = 16 * scale
    for y in range(side):
        for scene in scenes:
            for x in range(side):
                strip.append(flatten(sample(scene, x, y, scale, 8)))
    write_bmp8(os.path.join(RES, name), len(scenes) * side, side, strip)


def write_icon(name, size):
    n = 6 if size <= 32 else 3 if size <= 64 else 2
    pixels = [sample(app_icon, x, y, size / 64, n) for y in range(size) for x in range(size)]
    write_png(os.path.join(RES, "icons", name), size, pixels)


def main():
    write_strip("status.bmp", 1)
    write_strip("status@2x.bmp", 2)
    for size in (16, 24, 32, 48, 64, 128, 256):
        write_icon("lumidex-%d.png" % size, size)
    write_icon("lumidex-256@2x.png", 512)


if __name__ == "__main__":
    main()
