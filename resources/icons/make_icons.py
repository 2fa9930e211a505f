#!/usr/bin/env python3
"""Draw the Runwarden icons: a steel-rimmed blue shield with a bold white check.

Writes two .ico files, using only the Python standard library:
  main.ico  16, 20, 24, 32, 40, 48, 64 px in 32-bit colour with alpha,
            256 px as PNG, and 16, 32 px with a 256-colour palette
  tray.ico  16 ... 64 px in 32-bit colour with alpha, and 16, 32 px with a
            16-colour palette; crisp colours so it survives 16x16
The sizes between 16 and 64 are the small and large icon at 100 to 300 %
display scaling; Windows shrinks the nearest bigger image otherwise, which
blurs. Palette images are for shells that cannot draw alpha; their
transparency comes from the 1-bpp AND mask alone. Output is deterministic.

Regenerate:  python3 make_icons.py [output_dir]   (default: this script's folder)
"""
import math
import os
import struct
import sys
import zlib

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
    """Colour at unit point (px, py), or None if transparent, and the pixels
    from there to the nearest colour boundary. p: widths in pixels."""
    d = shield_depth(px, py) * size             # into the shield
    c = check_dist(px, py) * size               # from the check's spine
    # Signed distances to each boundary, < 0 on the near side.
    outline, rim = d - p['outline'], d - p['outline'] - p['rim']
    check, check_edge = c - p['check'], c - p['check'] - p['check_edge']
    rim_split, body_split = (px + py - 1.1) * size / math.sqrt(2), (px - 0.5) * size
    margin = min(abs(e) for e in (d, outline, rim, check, check_edge, rim_split, body_split))
    if d < 0:
        return None, margin
    if outline < 0:
        return OUTLINE, margin
    if rim < 0:
        return (RIM_HI if rim_split < 0 else RIM_LO), margin
    if check < 0:
        return CHECK, margin
    if check_edge < 0:
        return OUTLINE, margin
    return (BODY_HI if body_split < 0 else BODY_LO), margin


def render(size, p, ss=4):
    """Supersample each pixel ss x ss; return rows of (r, g, b, a), a the coverage."""
    img = []
    for y in range(size):
        row = []
        for x in range(size):
            centre, margin = sample((x + 0.5) / size, (y + 0.5) / size, size, p)
            # Every boundary distance is 1-Lipschitz: a pixel whose centre lies
            # more than half a diagonal from all of them is one colour throughout.
            if margin > 0.75:
                hits = [centre]
            else:
                hits = [sample((x + (i + 0.5) / ss) / size, (y + (j + 0.5) / ss) / size, size, p)[0]
                        for j in range(ss) for i in range(ss)]
            cols = [h for h in hits if h is not None]
            if not cols:
                row.append((0, 0, 0, 0))
                continue
            if p['crisp']:                      # majority colour, first-seen wins ties
                rgb = max(cols, key=lambda c: (cols.count(c), -cols.index(c)))
            else:                               # average of the covered samples
                rgb = tuple((sum(c[k] for c in cols) + len(cols) // 2) // len(cols) for k in range(3))
            row.append(rgb + ((255 * len(cols) + len(hits) // 2) // len(hits),))
        img.append(row)
    return img


def opaque(px):
    """Whether the mask shows the pixel: at least half of it covered."""
    return px[3] >= 128


def nearest(pal, c):
    return min(range(len(pal)), key=lambda i: sum((pal[i][k] - c[k]) ** 2 for k in range(3)))


def make_palette(img, limit):
    """Index 0 is black (transparent); the rest are the image's colours, median-cut if needed."""
    counts = {}
    for row in img:
        for px in row:
            if opaque(px):
                counts[px[:3]] = counts.get(px[:3], 0) + 1
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


def dib_image(img, bpp, pal=()):
    """An icon image as .ico files and RT_ICON hold it: BITMAPINFOHEADER (twice
    the height: colour rows then mask rows), palette, colour rows, AND mask,
    both bottom-up with rows padded to 4 bytes."""
    size = len(img)
    pal = list(pal) + [(0, 0, 0)] * ((1 << bpp) - len(pal) if bpp < 32 else 0)
    cache = {}
    xor_rows, and_rows = [], []
    for row in reversed(img):
        if bpp == 32:                           # straight (not premultiplied) BGRA
            data = bytes(v for r, g, b, a in row for v in (b, g, r, a))
        else:
            idx = [cache.setdefault(px[:3], nearest(pal, px)) if opaque(px) else 0 for px in row]
            if bpp == 4:
                data = bytes((idx[i] << 4) | idx[i + 1] for i in range(0, size, 2))
            else:
                data = bytes(idx)
        xor_rows.append(data + b'\0' * (-len(data) % 4))
        bits = 0
        for px in row:
            bits = (bits << 1) | (not opaque(px))
        mask = (bits << (-size % 8)).to_bytes((size + 7) // 8, 'big')
        and_rows.append(mask + b'\0' * (-len(mask) % 4))
    xor, andm = b''.join(xor_rows), b''.join(and_rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, bpp, 0,
                         len(xor) + len(andm), 0, 0, 0, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in pal)
    return header + palette + xor + andm


def png_image(img):
    """A PNG of 8-bit RGBA rows, as Vista and later read a 256 px icon image."""
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    size = len(img)
    raw = b''.join(b'\0' + bytes(v for px in row for v in px) for row in img)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def ico_file(images):
    """An .ico of (size, bpp, image bytes); the directory comes first, then the images in order."""
    offset = 6 + 16 * len(images)
    entries, blobs = [], []
    for size, bpp, data in images:
        colours = 1 << bpp if bpp < 8 else 0
        # A width or height of 256 is written as 0.
        entries.append(struct.pack('<BBBBHHII', size % 256, size % 256, colours, 0, 1, bpp, len(data), offset))
        blobs.append(data)
        offset += len(data)
    return struct.pack('<HHH', 0, 1, len(images)) + b''.join(entries) + b''.join(blobs)


SIZES = (16, 20, 24, 32, 40, 48, 64)
PALETTE_SIZES = (16, 32)


def widths(size, ref, outline, rim, check, check_edge):
    """The widths drawn at Ref px, scaled to Size. The bands stay at least a
    pixel wide; the check's dark edge may fade, as a whole pixel of it swamps a small check."""
    k = size / ref
    return {'outline': max(1.0, outline * k), 'rim': max(1.0, rim * k), 'check': max(1.0, check * k),
            'check_edge': check_edge * k}


def main_icon():
    images, palettes = [], []
    for size in SIZES + (256,):
        img = render(size, dict(widths(size, 64, 1.6, 3.4, 4.0, 1.6), crisp=False))
        images.append((size, 32, png_image(img) if size == 256 else dib_image(img, 32)))
        if size in PALETTE_SIZES:
            palettes.append((size, 8, dib_image(img, 8, make_palette(img, 256))))
    return ico_file(images + palettes)


def tray_icon():
    pal = [(0, 0, 0), OUTLINE, RIM_HI, RIM_LO, BODY_HI, BODY_LO, CHECK]  # rest: black
    images, palettes = [], []
    for size in SIZES:
        # Crisp where a soft edge would blur the small tray icon; smooth above.
        img = render(size, dict(widths(size, 32, 1.0, 2.0, 2.4, 0.0), crisp=size <= 32))
        images.append((size, 32, dib_image(img, 32)))
        if size in PALETTE_SIZES:
            palettes.append((size, 4, dib_image(img, 4, pal)))
    return ico_file(images + palettes)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    for name, data in (('main.ico', main_icon()), ('tray.ico', tray_icon())):
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)
        print('wrote', os.path.join(out, name), len(data), 'bytes')


if __name__ == '__main__':
    main()
