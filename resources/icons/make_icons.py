#!/usr/bin/env python3
"""Draw the Runwarden icons: a steel-rimmed blue shield with a bold white check.

Writes two single-image .ico files, using only the Python standard library:
  main.ico  64x64, 8 bpp (256-colour palette), anti-aliased edges
  tray.ico  32x32, 4 bpp (16-colour palette), crisp so it survives 16x16
Transparency comes from the 1-bpp AND mask. Output is deterministic.

Regenerate:  python3 make_icons.py [output_dir]   (default: this script's folder)
"""
import math
import os
import struct
import sys

# Colours (R, G, B).
OUTLINE = (16, 28, 56)       # dark navy edge around shield and check
RIM_HI = (206, 216, 230)     # light steel rim, upper-left half
RIM_LO = (136, 150, 172)     # darker steel rim, lower-right half
BODY_HI = (62, 130, 222)     # blue body, left half
BODY_LO = (28, 82, 170)      # blue body, right half
CHECK = (255, 255, 255)      # check mark


def shield_polygon(n=24):
    """Shield outline in unit coordinates (x right, y down), clockwise."""
    left, right, top, shoulder, tip = 0.09, 0.91, 0.04, 0.46, 0.97
    half = (right - left) / 2
    pts = []
    for i in range(n + 1):                      # flat top edge
        x = left + (right - left) * i / n
        pts.append((x, top))
    for i in range(n + 1):                      # right flank curving to the tip
        t = i / n
        pts.append((0.5 + half * (1 - t ** 1.8), shoulder + (tip - shoulder) * t))
    for i in range(1, n + 1):                   # left flank back up (mirror)
        t = 1 - i / n
        pts.append((0.5 - half * (1 - t ** 1.8), shoulder + (tip - shoulder) * t))
    return pts


SHIELD = shield_polygon()
CHECK_PTS = [(0.31, 0.49), (0.45, 0.63), (0.69, 0.35)]


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def shield_depth(px, py):
    """Signed distance to the shield edge: > 0 inside, < 0 outside."""
    inside, dmin, n = False, 1e9, len(SHIELD)
    for i in range(n):
        ax, ay = SHIELD[i]
        bx, by = SHIELD[i - 1]
        if (ay > py) != (by > py) and px < ax + (py - ay) * (bx - ax) / (by - ay):
            inside = not inside
        dmin = min(dmin, seg_dist(px, py, ax, ay, bx, by))
    return dmin if inside else -dmin


def check_dist(px, py):
    return min(seg_dist(px, py, *CHECK_PTS[i], *CHECK_PTS[i + 1])
               for i in range(len(CHECK_PTS) - 1))


def sample(px, py, size, p):
    """Colour at unit point (px, py), or None if transparent. p: widths in pixels."""
    d = shield_depth(px, py) * size
    if d < 0:
        return None
    if d < p['outline']:
        return OUTLINE
    if d < p['outline'] + p['rim']:
        return RIM_HI if px + py < 1.1 else RIM_LO
    c = check_dist(px, py) * size
    if c < p['check']:
        return CHECK
    if c < p['check'] + p['check_edge']:
        return OUTLINE
    return BODY_HI if px < 0.5 else BODY_LO


def render(size, p, ss):
    """Supersample each pixel ss x ss; return rows of (r, g, b) or None."""
    img = []
    for y in range(size):
        row = []
        for x in range(size):
            hits = [sample((x + (i + 0.5) / ss) / size, (y + (j + 0.5) / ss) / size, size, p)
                    for j in range(ss) for i in range(ss)]
            cols = [h for h in hits if h is not None]
            if 2 * len(cols) < len(hits):
                row.append(None)
            elif p['crisp']:                    # majority colour, first-seen wins ties
                row.append(max(cols, key=lambda c: (cols.count(c), -cols.index(c))))
            else:                               # average of the covered samples
                row.append(tuple((sum(c[k] for c in cols) + len(cols) // 2) // len(cols)
                                 for k in range(3)))
        img.append(row)
    return img


def nearest(pal, c):
    return min(range(len(pal)), key=lambda i: sum((pal[i][k] - c[k]) ** 2 for k in range(3)))


def make_palette(img, limit):
    """Index 0 is black (transparent); the rest are the image's colours, median-cut if needed."""
    counts = {}
    for row in img:
        for c in row:
            if c is not None:
                counts[c] = counts.get(c, 0) + 1
    boxes = [sorted(counts)]
    while len(boxes) < min(limit - 1, len(counts)):
        boxes.sort(key=lambda b: (-len(b), b))
        box = boxes.pop(0)
        ch = max(range(3), key=lambda k: max(c[k] for c in box) - min(c[k] for c in box))
        box.sort(key=lambda c: (c[ch], c))
        boxes += [box[:len(box) // 2], box[len(box) // 2:]]
    pal = [(0, 0, 0)]
    for box in sorted(boxes):
        w = sum(counts[c] for c in box)
        pal.append(tuple((sum(c[k] * counts[c] for c in box) + w // 2) // w for k in range(3)))
    return pal


def ico_bytes(img, pal, bpp):
    size = len(img)
    pal = pal + [(0, 0, 0)] * ((1 << bpp) - len(pal))
    cache = {}
    xor_rows, and_rows = [], []
    for row in reversed(img):                   # bottom-up
        idx = [0 if c is None else cache.setdefault(c, nearest(pal, c)) for c in row]
        if bpp == 4:
            data = bytes((idx[i] << 4) | idx[i + 1] for i in range(0, size, 2))
        else:
            data = bytes(idx)
        xor_rows.append(data + b'\0' * (-len(data) % 4))
        bits = 0
        for c in row:
            bits = (bits << 1) | (c is None)
        mask = bits.to_bytes(size // 8, 'big')
        and_rows.append(mask + b'\0' * (-len(mask) % 4))
    xor, andm = b''.join(xor_rows), b''.join(and_rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, bpp, 0,
                         len(xor) + len(andm), 0, 0, 0, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in pal)
    image = header + palette + xor + andm
    colours = 0 if bpp >= 8 else 1 << bpp
    entry = struct.pack('<BBBBHHII', size % 256, size % 256, colours, 0, 1, bpp, len(image), 6 + 16)
    return struct.pack('<HHH', 0, 1, 1) + entry + image


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    big = render(64, {'outline': 1.6, 'rim': 3.4, 'check': 4.0, 'check_edge': 1.6, 'crisp': False}, 4)
    small = render(32, {'outline': 1.0, 'rim': 2.0, 'check': 2.4, 'check_edge': 0.0, 'crisp': True}, 4)
    tray_pal = [(0, 0, 0), OUTLINE, RIM_HI, RIM_LO, BODY_HI, BODY_LO, CHECK]  # rest: black
    for name, data in (('main.ico', ico_bytes(big, make_palette(big, 256), 8)),
                       ('tray.ico', ico_bytes(small, tray_pal, 4))):
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)
        print('wrote', os.path.join(out, name), len(data), 'bytes')


if __name__ == '__main__':
    main()
