#!/usr/bin/env python3
"""Draws the programs' icon (a folder closed by a zipper) into a Windows .ico.

Usage: make_icon.py <variant> <output.ico>
  variant: quorvelpack (closed zipper, amber folder), quorvelunpack (open zipper,
  blue folder); any other name gets a neutral grey folder.

Pure standard library and fully deterministic, so the icon is rebuilt from this
file at every build instead of living in the tree as an opaque binary.
Sizes 16, 32 and 48 are stored as 32-bit DIBs (what every shell reads), 256 as PNG.
"""
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)
SUPERSAMPLE = 4

PALETTES = {
    #               back tab         body             edge           zipper
    "quorvelpack": ((214, 150, 30), (250, 196, 64), (150, 98, 12), (70, 70, 78)),
    "quorvelunpack": ((44, 110, 190), (96, 164, 238), (24, 66, 128), (40, 40, 48)),
}
DEFAULT_PALETTE = ((130, 130, 130), (180, 180, 180), (90, 90, 90), (50, 50, 50))


def in_round_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def sample(x, y, variant, palette):
    """Colour (r, g, b, a) of the motif at unit coordinates, y going down."""
    tab, body, edge, zipper = palette
    opened = variant == "quorvelunpack"
    colour = None
    # Back of the folder with its tab.
    if in_round_rect(x, y, 0.06, 0.14, 0.46, 0.34, 0.05) or \
       in_round_rect(x, y, 0.06, 0.22, 0.94, 0.88, 0.06):
        colour = tab
    # Front of the folder, with a darker rim.
    if in_round_rect(x, y, 0.06, 0.30, 0.94, 0.88, 0.06):
        inner = in_round_rect(x, y, 0.09, 0.33, 0.91, 0.85, 0.04)
        colour = body if inner else edge
    if colour is None:
        return (0, 0, 0, 0)
    # The zipper runs down the middle of the front; when open, its two
    # halves part towards the top.
    if 0.33 <= y <= 0.80:
        gap = 0.0
        if opened and y < 0.62:
            gap = (0.62 - y) * 0.55
        half = 0.035
        left_c, right_c = 0.5 - gap - half, 0.5 + gap + half
        tooth = int((y - 0.33) / 0.045) % 2
        if abs(x - left_c) <= half and (tooth == 0 or abs(x - left_c) <= half * 0.4):
            colour = zipper
        if abs(x - right_c) <= half and (tooth == 1 or abs(x - right_c) <= half * 0.4):
            colour = zipper
        if opened and abs(x - 0.5) < gap - half * 0.2 and y < 0.62:
            colour = (255, 255, 255)
    # The pull: a small rounded tab below the teeth when closed, near the
    # top of the parted teeth when open.
    py = 0.74 if not opened else 0.60
    if in_round_rect(x, y, 0.44, py, 0.56, py + 0.12, 0.03):
        colour = zipper
        if in_round_rect(x, y, 0.475, py + 0.05, 0.525, py + 0.09, 0.012):
            colour = body
    return colour + (255,)


def render(size, variant):
    palette = PALETTES.get(variant, DEFAULT_PALETTE)
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = sample((px + (sx + 0.5) / n) / size,
                                        (py + (sy + 0.5) / n) / size, variant, palette)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if acc[3]:
                row.append(tuple(round(c / acc[3]) for c in acc[:3]) + (round(alpha),))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def png_bytes(rows):
    size = len(rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + \
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def dib_bytes(rows):
    size = len(rows)
    # Height is doubled: the colour bitmap is followed by the AND mask.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def ico_bytes(variant):
    images = []
    for size in SIZES:
        rows = render(size, variant)
        images.append((size, png_bytes(rows) if size >= 256 else dib_bytes(rows)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size  # 0 stands for 256
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: make_icon.py <variant> <output.ico>\n")
        return 2
    data = ico_bytes(argv[1].lower())
    tmp = argv[2] + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    import os
    os.replace(tmp, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
