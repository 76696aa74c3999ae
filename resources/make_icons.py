#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files beside this script.

The .ico files are committed, so a build needs no Python; run this again only
after changing a drawing. Standard library only.

Each drawing is a list of shapes on a 16 x 16 canvas, painted in order and
scaled to every size of its icon; each pixel is sampled 4 x 4 times, so the
edges come out smooth. The images are 32-bit with alpha, plus the AND mask.
"""

import math
import os
import struct

SUBSAMPLES = 4


def rgb(text, alpha=255):
    value = int(text.lstrip("#"), 16)
    return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF, alpha)


# ---- shapes: each is (test(x, y) -> bool, colour) in canvas units


def polygon(points, colour):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result

    return inside, colour


def rect(x0, y0, x1, y1, colour):
    return (lambda x, y: x0 <= x < x1 and y0 <= y < y1), colour


def round_rect(x0, y0, x1, y1, radius, colour):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2

    return inside, colour


def disc(cx, cy, radius, colour):
    return (lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2), colour


def ring(cx, cy, outer, inner, colour):
    def inside(x, y):
        d = (x - cx) ** 2 + (y - cy) ** 2
        return inner ** 2 <= d <= outer ** 2

    return inside, colour


def bar(x0, y0, x1, y1, width, colour):
    """A straight stroke with round ends."""
    length2 = (x1 - x0) ** 2 + (y1 - y0) ** 2

    def inside(x, y):
        t = ((x - x0) * (x1 - x0) + (y - y0) * (y1 - y0)) / length2
        t = min(max(t, 0.0), 1.0)
        px, py = x0 + t * (x1 - x0), y0 + t * (y1 - y0)
        return (x - px) ** 2 + (y - py) ** 2 <= (width / 2) ** 2

    return inside, colour


# ---- the drawings

ARROW = rgb("#2f4f7f")
ARROW_EDGE = rgb("#1b2e4d")


def sort_up():
    return [
        polygon([(8, 3), (14.5, 12.5), (1.5, 12.5)], ARROW_EDGE),
        polygon([(8, 4.8), (13, 11.8), (3, 11.8)], ARROW),
    ]


def sort_down():
    return [
        polygon([(1.5, 3.5), (14.5, 3.5), (8, 13)], ARROW_EDGE),
        polygon([(3, 4.2), (13, 4.2), (8, 11.2)], ARROW),
    ]


def document_under_glass():
    edge = rgb("#4d5866")
    lines = rgb("#8a96a6")
    return [
        polygon([(2, 0.5), (9.5, 0.5), (13, 4), (13, 15.5), (2, 15.5)], edge),
        polygon([(2.9, 1.4), (9.1, 1.4), (12.1, 4.4), (12.1, 14.6), (2.9, 14.6)], rgb("#ffffff")),
        polygon([(9.3, 0.8), (9.3, 4.2), (12.7, 4.2)], rgb("#c8d0da")),
        rect(4.2, 5.0, 10.8, 5.9, lines),
        rect(4.2, 7.0, 8.0, 7.9, lines),
        rect(4.2, 9.0, 7.0, 9.9, lines),
        rect(4.2, 11.0, 6.5, 11.9, lines),
        disc(9.2, 9.2, 3.2, rgb("#9fd0ff", 170)),
        ring(9.2, 9.2, 3.9, 2.9, rgb("#243552")),
        bar(11.9, 11.9, 14.8, 14.8, 2.2, rgb("#243552")),
    ]


def phone():
    keys = rgb("#c9d2de")
    shapes = [
        round_rect(3.6, 0.4, 12.4, 15.6, 1.8, rgb("#1f2630")),
        round_rect(4.2, 1.0, 11.8, 15.0, 1.3, rgb("#3a4658")),
        rect(6.3, 1.6, 9.7, 2.2, rgb("#8a96a6")),
        rect(5.0, 2.8, 11.0, 7.6, rgb("#0f1c2c")),
        rect(5.5, 3.3, 10.5, 7.1, rgb("#7fd0ff")),
        rect(6.2, 4.2, 9.8, 4.8, rgb("#2f6f9f")),
        rect(6.2, 5.5, 8.6, 6.1, rgb("#2f6f9f")),
    ]
    for row in range(3):
        for column in range(3):
            x = 5.4 + column * 2.0
            y = 8.8 + row * 2.0
            shapes.append(rect(x, y, x + 1.2, y + 1.1, keys))
    return shapes


def phone_with_folder():
    return phone() + [
        polygon([(7.6, 9.6), (10.6, 9.6), (11.6, 10.6), (15.8, 10.6), (15.8, 15.8), (7.6, 15.8)], rgb("#9a6b0a")),
        polygon([(8.3, 10.3), (10.3, 10.3), (11.3, 11.3), (15.1, 11.3), (15.1, 15.1), (8.3, 15.1)], rgb("#f2c14e")),
        rect(8.3, 12.2, 15.1, 12.8, rgb("#d9a532")),
    ]


# ---- rendering and the .ico format


def render(shapes, size):
    """Returns rows of (r, g, b, a), top row first."""
    scale = 16.0 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    x = (px + (sx + 0.5) / SUBSAMPLES) * scale
                    y = (py + (sy + 0.5) / SUBSAMPLES) * scale
                    r = g = b = a = 0.0
                    for inside, (cr, cg, cb, ca) in shapes:
                        if inside(x, y):
                            alpha = ca / 255.0
                            r = cr * alpha + r * (1 - alpha)
                            g = cg * alpha + g * (1 - alpha)
                            b = cb * alpha + b * (1 - alpha)
                            a = alpha + a * (1 - alpha)
                    total[0] += r
                    total[1] += g
                    total[2] += b
                    total[3] += a
            n = SUBSAMPLES * SUBSAMPLES
            alpha = total[3] / n
            if alpha <= 0:
                row.append((0, 0, 0, 0))
                continue
            # The sums are premultiplied; the file wants straight colour.
            row.append(tuple(min(255, round(c / n / alpha)) for c in total[:3]) + (round(alpha * 255),))
        rows.append(row)
    return rows


def ico_image(rows):
    size = len(rows)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask)


def write_ico(path, shapes, sizes):
    images = [ico_image(render(shapes, size)) for size in sizes]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, image in zip(sizes, images):
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, "wb") as out:
        out.write(directory)
        for image in images:
            out.write(image)


ICONS = [
    ("program.ico", phone_with_folder, [16, 32, 48]),
    ("window.ico", phone, [16, 32, 48]),
    ("sort_up.ico", sort_up, [16]),
    ("sort_down.ico", sort_down, [16]),
    ("row.ico", document_under_glass, [16]),
]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, drawing, sizes in ICONS:
        write_ico(os.path.join(here, name), drawing(), sizes)
        print("wrote", name)


if __name__ == "__main__":
    main()
