#!/usr/bin/python3
"""Draws Tarnwick's two icons and writes them as 256-colour .ico files.

A white power symbol on a red disc with a dark rim. Each icon holds one
uncompressed 8-bit image with a 1-bit transparency mask, the only kind the
first release of Windows 95 reads (no PNG images, no alpha channel).

The output is deterministic: the same script always writes the same bytes,
so the checked-in res/tarnwick32.ico and res/tarnwick16.ico can be rebuilt
and compared at any time.

    scripts/make_icons.py [--preview DIR]

--preview also writes enlarged PNG renderings over a light and a dark
background, for looking at the artwork.
"""
import math
import os
import struct
import sys
import zlib

RES_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res")
SAMPLES = 8  # supersampling per axis, for smooth edges inside the disc

RIM = (96, 0, 0)
DISC_LIGHT = (240, 64, 48)
DISC_DARK = (160, 8, 8)
SYMBOL = (255, 255, 255)
SHADOW = (112, 0, 0)

# Geometry per size, in pixels: disc radius, rim width, arc radius, stroke
# width, half-angle of the gap at the top of the arc (degrees), the bar's
# top end, and the shadow offset (0 for none).
SHAPES = {
    32: dict(disc=15.25, rim=1.25, arc=8.5, stroke=3.2, gap=38.0, bar_top=5.0, shadow=1.0),
    16: dict(disc=7.75, rim=1.0, arc=4.5, stroke=2.0, gap=42.0, bar_top=2.5, shadow=0.0),
}


def in_power_symbol(x, y, cx, cy, shape):
    """Whether point (x, y) lies on the power symbol centred at (cx, cy)."""
    dx, dy = x - cx, y - cy
    half = shape["stroke"] / 2.0
    # The vertical bar, from near the top of the disc down to the centre.
    if abs(dx) <= half and shape["bar_top"] <= y <= cy + 0.5:
        return True
    # The open ring: a round-ended arc whose gap faces up.
    distance = math.hypot(dx, dy)
    angle = math.degrees(math.atan2(dx, -dy))  # 0 straight up, clockwise
    if abs(distance - shape["arc"]) <= half and abs(angle) >= shape["gap"]:
        return True
    for side in (-1, 1):
        end = math.radians(shape["gap"] * side)
        ex = cx + shape["arc"] * math.sin(end)
        ey = cy - shape["arc"] * math.cos(end)
        if math.hypot(x - ex, y - ey) <= half:
            return True
    return False


def sample_colour(x, y, size, shape):
    """The colour at point (x, y), or None outside the disc."""
    c = size / 2.0
    distance = math.hypot(x - c, y - c)
    if distance > shape["disc"]:
        return None
    if distance > shape["disc"] - shape["rim"]:
        return RIM
    if in_power_symbol(x, y, c, c, shape):
        return SYMBOL
    offset = shape["shadow"]
    if offset and in_power_symbol(x - offset, y - offset, c, c, shape):
        return SHADOW
    # Lit from the top left.
    t = min(1.0, max(0.0, ((x + y) / (2.0 * size))))
    return tuple(round(a + (b - a) * t) for a, b in zip(DISC_LIGHT, DISC_DARK))


def render(size):
    """Rows of (r, g, b) tuples, top row first; None marks a transparent pixel."""
    shape = SHAPES[size]
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            inside = []
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    colour = sample_colour(px + (sx + 0.5) / SAMPLES,
                                           py + (sy + 0.5) / SAMPLES, size, shape)
                    if colour is not None:
                        inside.append(colour)
            if len(inside) * 2 < SAMPLES * SAMPLES:
                row.append(None)
            else:
                row.append(tuple(round(sum(ch) / len(inside)) for ch in zip(*inside)))
        rows.append(row)
    return rows


def build_palette(rows):
    """A sorted palette of at most 256 colours and the pixels mapped into it.

    Entry 0 is black, which transparent pixels use. Colours are rounded more
    coarsely until they fit.
    """
    step = 1
    while True:
        def snap(colour):
            return tuple(min(255, (ch + step // 2) // step * step) for ch in colour)
        colours = sorted({snap(p) for row in rows for p in row if p is not None} - {(0, 0, 0)})
        if len(colours) <= 255:
            break
        step *= 2
    palette = [(0, 0, 0)] + colours
    index = {colour: i for i, colour in enumerate(palette)}
    pixels = [[0 if p is None else index[snap(p)] for p in row] for row in rows]
    return palette, pixels


def ico_bytes(rows):
    """One-image .ico file: 8 bits per pixel, 256-entry palette, AND mask."""
    size = len(rows)
    palette, pixels = build_palette(rows)
    xor_stride = (size + 3) & ~3
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):  # DIB rows run bottom-up
        xor += bytes(pixels[y]) + bytes(xor_stride - size)
        bits = bytearray(and_stride)
        for x, p in enumerate(rows[y]):
            if p is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    colours = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in palette)
    colours += bytes(4 * (256 - len(palette)))
    image = header + colours + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    # bColorCount 0 stands for 256 colours; the image starts after 6 + 16 bytes.
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(image), 22)
    return directory + entry + image


def png_bytes(rgb_rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + bytes(ch for p in row for ch in p) for row in rgb_rows)
    header = struct.pack(">IIBBBBB", len(rgb_rows[0]), len(rgb_rows), 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def preview(rows, scale):
    """The icon enlarged, once over a light and once over a dark background."""
    out = []
    for row in rows:
        line = []
        for background in ((212, 208, 200), (0, 64, 128)):
            for p in row:
                line += [p if p is not None else background] * scale
        out += [line] * scale
    return out


def main(argv):
    preview_dir = None
    if len(argv) == 3 and argv[1] == "--preview":
        preview_dir = argv[2]
    elif len(argv) != 1:
        sys.stderr.write(__doc__)
        return 2
    for size in (32, 16):
        rows = render(size)
        with open(os.path.join(RES_DIR, "tarnwick%d.ico" % size), "wb") as f:
            f.write(ico_bytes(rows))
        if preview_dir:
            os.makedirs(preview_dir, exist_ok=True)
            with open(os.path.join(preview_dir, "tarnwick%d.png" % size), "wb") as f:
                f.write(png_bytes(preview(rows, 256 // size)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
