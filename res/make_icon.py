#!/usr/bin/env python3
"""Draws the launcher's icon and writes it as res/ZelvoLauncher.ico.

The motif is a silver disc with a small photo lying on its lower right
corner. Each size (16, 32, 48 px) is drawn on its own with 8x8 supersampling,
so the small sizes stay sharp instead of being scaled down from a big image.
The ICO holds 32-bit BGRA bitmaps with an AND mask, which every Windows
version reads.

Usage: python3 make_icon.py [output.ico]
"""

import colorsys
import math
import os
import struct
import sys

SIZES = (16, 32, 48)
SUPERSAMPLE = 8

# Everything below is in units of the icon's side (0..1, y pointing down).
DISC_CX, DISC_CY, DISC_R = 0.43, 0.43, 0.42
HOLE_R = 0.085
HUB_R = 0.20
PHOTO = (0.47, 0.50, 0.97, 0.93)   # left, top, right, bottom of the photo card


def photo_geometry(size):
    """The card's edges snapped to whole pixels of this size, so its outline
    stays crisp: (left, top, right, bottom, outline, white border, shadow)."""
    px = 1.0 / size
    left, top, right, bottom = (round(v * size) * px for v in PHOTO)
    outline = px
    # At 16 px there is no room for a white print border around the picture.
    border = round(0.045 * size) * px if size >= 24 else 0.0
    shadow = max(1, round(0.035 * size)) * px
    return left, top, right, bottom, outline, border, shadow


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def disc_colour(x, y, rim):
    """Colour of the disc surface at (x, y), or None where there is no disc."""
    dx, dy = x - DISC_CX, y - DISC_CY
    r = math.hypot(dx, dy)
    if r > DISC_R or r < HOLE_R:
        return None
    if r > DISC_R - rim:
        return (92, 98, 112)                  # dark rim, visible on white
    if r < HUB_R:
        if r < HOLE_R + 0.03:
            return (120, 126, 138)            # edge of the centre hole
        return (214, 220, 228)                # clear plastic hub
    # Silver, lit from the top left, with a faint rainbow that turns with
    # the angle the way light plays on a pressed disc.
    light = 0.5 - 0.5 * ((dx + dy) / (DISC_R * 1.42))
    silver = mix((150, 158, 172), (246, 248, 252), light)
    angle = math.atan2(dy, dx)
    hue = (angle / (2 * math.pi) * 2.0) % 1.0
    rainbow = tuple(c * 255 for c in colorsys.hsv_to_rgb(hue, 0.55, 1.0))
    sheen = 0.30 * (0.5 + 0.5 * math.cos(2 * angle + 0.8))
    return mix(silver, rainbow, sheen)


def photo_colour(x, y, geom):
    """Colour of the photo card at (x, y), or None outside it."""
    left, top, right, bottom, outline, border, _ = geom
    if not (left <= x < right and top <= y < bottom):
        return None
    if x < left + outline or x >= right - outline or y < top + outline or y >= bottom - outline:
        return (70, 76, 90)                   # thin outline around the card
    il, it = left + outline + border, top + outline + border
    ir, ib = right - outline - border, bottom - outline - border
    if not (il <= x < ir and it <= y < ib):
        return (255, 255, 255)                # white border of the print
    u = (x - il) / (ir - il)
    v = (y - it) / (ib - it)
    # A sun over two green hills under a blue sky.
    if math.hypot(u - 0.72, v - 0.30) < 0.16:
        return (255, 206, 48)
    far_hill = 0.62 - 0.22 * math.exp(-((u - 0.30) / 0.28) ** 2)
    near_hill = 0.80 - 0.25 * math.exp(-((u - 0.85) / 0.30) ** 2)
    if v > near_hill:
        return (46, 140, 60)
    if v > far_hill:
        return (96, 180, 84)
    return mix((70, 140, 230), (150, 200, 250), v)


def shadow_alpha(x, y, geom):
    """Shadow to the lower right of the photo card."""
    left, top, right, bottom, _, _, offset = geom
    if left + offset <= x < right + offset and top + offset <= y < bottom + offset:
        return 0.35
    return 0.0


def sample(x, y, size, geom):
    """Premultiplied RGBA of one subsample, painted back to front."""
    r = g = b = a = 0.0

    def over(colour, alpha):
        nonlocal r, g, b, a
        r = colour[0] * alpha + r * (1 - alpha)
        g = colour[1] * alpha + g * (1 - alpha)
        b = colour[2] * alpha + b * (1 - alpha)
        a = alpha + a * (1 - alpha)

    c = disc_colour(x, y, max(0.035, 1.0 / size))
    if c is not None:
        over(c, 1.0)
    s = shadow_alpha(x, y, geom)
    if s:
        over((0, 0, 0), s)
    c = photo_colour(x, y, geom)
    if c is not None:
        over(c, 1.0)
    return r, g, b, a


def render(size):
    """Returns rows (top first) of (r, g, b, a) tuples, 0..255, not premultiplied."""
    n = SUPERSAMPLE
    geom = photo_geometry(size)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            tr = tg = tb = ta = 0.0
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    y = (py + (sy + 0.5) / n) / size
                    r, g, b, a = sample(x, y, size, geom)
                    tr += r
                    tg += g
                    tb += b
                    ta += a
            count = n * n
            alpha = ta / count
            if alpha < 1.0 / 255:
                row.append((0, 0, 0, 0))
                continue
            row.append((round(tr / count / alpha), round(tg / count / alpha),
                        round(tb / count / alpha), round(alpha * 255)))
        rows.append(row)
    return rows


def dib(rows):
    """A 32-bit icon image: BITMAPINFOHEADER, BGRA pixels and AND mask, bottom-up."""
    size = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((min(b, 255), min(g, 255), min(r, 255), a))
    # The AND mask is only used by very old shells without alpha support; a
    # pixel is transparent there when its bit is set. Rows are padded to 32 bits.
    mask_stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def ico(images):
    """An ICO file from (size, dib bytes) pairs."""
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32,
                           len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, 'ZelvoLauncher.ico')
    images = [(size, dib(render(size))) for size in SIZES]
    with open(target, 'wb') as f:
        f.write(ico(images))
    print('wrote', target)


if __name__ == '__main__':
    main()
