#!/usr/bin/env python3
"""Draws the launcher's skin: the progress window's background and bar strip (PNG) and the icon.

Run it from anywhere; it writes resources/skin/DOWN_LOAD_BK.png, resources/skin/DOWN_LOAD_SCALE.png
and resources/KvoLauncher.ico. The output is deterministic, so the committed files are exactly what
this script makes. Standard library only: PNG and ICO are written by hand with zlib and struct.
"""
import os
import struct
import sys
import zlib

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

# --- the window background ---
BK_WIDTH, BK_HEIGHT = 380, 100
TITLE_ROWS = 35                      # rows 0..34 are the title strip
TITLE_COLOUR = (69, 156, 209)
BODY_COLOUR = (187, 224, 246)        # where the bars and the status text go
WHITE = (255, 255, 255)
LOGO_CENTRE = (19.5, 17.5)
LOGO_OUTER_RADIUS = 14.0
LOGO_INNER_RADIUS = 11.0
LOGO_INNER_COLOUR = (100, 184, 235)
NAME_TEXT = "KvoLauncher"
NAME_LEFT = 42
NAME_SCALE = 2                       # each font pixel becomes 2 x 2
SUBSAMPLES = 4                       # per axis, for the logo's smooth edge

# --- the bar strip: empty bar above, filled bar below ---
SCALE_WIDTH, SCALE_HALF = 355, 14
FRAME_DARK = (167, 166, 166)         # top row and left column: the frame looks sunken
EMPTY_FILL = (222, 221, 221)
FULL_FILL = (100, 184, 235)
OPAQUE, CLEAR = 255, 0

# --- the icon ---
ICON_SIZES = (16, 32)

# A 5 x 7 bitmap font with just the letters the product's name needs.
GLYPH_WIDTH, GLYPH_HEIGHT, GLYPH_ADVANCE = 5, 7, 6
FONT = {
    "K": ["X...X", "X..X.", "X.X..", "XX...", "X.X..", "X..X.", "X...X"],
    "L": ["X....", "X....", "X....", "X....", "X....", "X....", "XXXXX"],
    "a": [".....", ".....", ".XXX.", "....X", ".XXXX", "X...X", ".XXXX"],
    "c": [".....", ".....", ".XXX.", "X....", "X....", "X...X", ".XXX."],
    "e": [".....", ".....", ".XXX.", "X...X", "XXXXX", "X....", ".XXX."],
    "h": ["X....", "X....", "X.XX.", "XX..X", "X...X", "X...X", "X...X"],
    "n": [".....", ".....", "X.XX.", "XX..X", "X...X", "X...X", "X...X"],
    "o": [".....", ".....", ".XXX.", "X...X", "X...X", "X...X", ".XXX."],
    "r": [".....", ".....", "X.XX.", "XX..X", "X....", "X....", "X...."],
    "u": [".....", ".....", "X...X", "X...X", "X...X", "X..XX", ".XX.X"],
    "v": [".....", ".....", "X...X", "X...X", "X...X", ".X.X.", "..X.."],
}


class Canvas:
    """Rows of RGBA tuples."""

    def __init__(self, width, height, colour, alpha=OPAQUE):
        self.width, self.height = width, height
        self.rows = [[colour + (alpha,) for _ in range(width)] for _ in range(height)]

    def set(self, x, y, colour, alpha=OPAQUE):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.rows[y][x] = tuple(colour) + (alpha,)

    def get(self, x, y):
        return self.rows[y][x]

    def blend(self, x, y, colour, coverage):
        old = self.get(x, y)
        mixed = tuple(round(o + (c - o) * coverage) for o, c in zip(old[:3], colour))
        self.set(x, y, mixed, old[3])

    def fill_rect(self, left, top, width, height, colour):
        for y in range(top, top + height):
            for x in range(left, left + width):
                self.set(x, y, colour)


def disc_coverage(x, y, centre, radius):
    """Share of pixel (x, y) inside the disc, from SUBSAMPLES x SUBSAMPLES samples."""
    inside = 0
    for sy in range(SUBSAMPLES):
        for sx in range(SUBSAMPLES):
            px = x + (sx + 0.5) / SUBSAMPLES
            py = y + (sy + 0.5) / SUBSAMPLES
            if (px - centre[0]) ** 2 + (py - centre[1]) ** 2 <= radius * radius:
                inside += 1
    return inside / (SUBSAMPLES * SUBSAMPLES)


def draw_disc(canvas, centre, radius, colour):
    for y in range(int(centre[1] - radius) - 1, int(centre[1] + radius) + 2):
        for x in range(int(centre[0] - radius) - 1, int(centre[0] + radius) + 2):
            if 0 <= x < canvas.width and 0 <= y < canvas.height:
                coverage = disc_coverage(x, y, centre, radius)
                if coverage > 0:
                    canvas.blend(x, y, colour, coverage)


def draw_text(canvas, text, left, top, scale, colour):
    for index, letter in enumerate(text):
        glyph = FONT[letter]
        for gy, line in enumerate(glyph):
            for gx, cell in enumerate(line):
                if cell == "X":
                    canvas.fill_rect(left + (index * GLYPH_ADVANCE + gx) * scale, top + gy * scale,
                                     scale, scale, colour)


def draw_logo(canvas, centre, outer, inner):
    """The round logo: a white ring around a blue disc holding a white K."""
    draw_disc(canvas, centre, outer, WHITE)
    draw_disc(canvas, centre, inner, LOGO_INNER_COLOUR)
    scale = max(1, round(inner * 2 / 10))
    left = round(centre[0] - GLYPH_WIDTH * scale / 2)
    top = round(centre[1] - GLYPH_HEIGHT * scale / 2)
    draw_text(canvas, "K", left, top, scale, WHITE)


def make_background():
    canvas = Canvas(BK_WIDTH, BK_HEIGHT, BODY_COLOUR)
    canvas.fill_rect(0, 0, BK_WIDTH, TITLE_ROWS, TITLE_COLOUR)
    draw_logo(canvas, LOGO_CENTRE, LOGO_OUTER_RADIUS, LOGO_INNER_RADIUS)
    name_top = (TITLE_ROWS - GLYPH_HEIGHT * NAME_SCALE) // 2
    draw_text(canvas, NAME_TEXT, NAME_LEFT, name_top, NAME_SCALE, WHITE)
    return canvas


def draw_bar(canvas, top, fill):
    """One bar state: a one-pixel sunken frame around the fill, two clear corners."""
    right, bottom = SCALE_WIDTH - 1, top + SCALE_HALF - 1
    canvas.fill_rect(0, top, SCALE_WIDTH, SCALE_HALF, fill)
    for x in range(SCALE_WIDTH):
        canvas.set(x, top, FRAME_DARK)
        canvas.set(x, bottom, WHITE)
    for y in range(top + 1, bottom):
        canvas.set(0, y, FRAME_DARK)
        canvas.set(right, y, WHITE)
    # Fully clear pixels carry no colour, so per-pixel blending adds nothing there.
    canvas.set(right, top, (0, 0, 0), CLEAR)
    canvas.set(0, bottom, (0, 0, 0), CLEAR)


def make_scale():
    canvas = Canvas(SCALE_WIDTH, 2 * SCALE_HALF, EMPTY_FILL)
    draw_bar(canvas, 0, EMPTY_FILL)
    draw_bar(canvas, SCALE_HALF, FULL_FILL)
    return canvas


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def encode_png(canvas, with_alpha):
    colour_type = 6 if with_alpha else 2         # RGBA or RGB, 8 bits per sample
    raw = bytearray()
    for row in canvas.rows:
        raw.append(0)                            # filter: none
        for pixel in row:
            raw.extend(pixel if with_alpha else pixel[:3])
    header = struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) +
            png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + png_chunk(b"IEND", b""))


def icon_image(size):
    canvas = Canvas(size, size, (0, 0, 0), CLEAR)
    centre = (size / 2, size / 2)
    outer = size / 2 - 0.5
    # Paint the logo on an opaque copy and take alpha from the disc's coverage.
    opaque = Canvas(size, size, TITLE_COLOUR)
    draw_logo(opaque, centre, outer, outer * LOGO_INNER_RADIUS / LOGO_OUTER_RADIUS)
    for y in range(size):
        for x in range(size):
            alpha = round(OPAQUE * disc_coverage(x, y, centre, outer))
            canvas.set(x, y, opaque.get(x, y)[:3], alpha)
    return canvas


def encode_icon_entry(canvas):
    """A 32-bit DIB icon image: header, bottom-up BGRA rows, then the (empty) AND mask."""
    size = canvas.width
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(canvas.rows):
        for r, g, b, a in row:
            pixels.extend((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    return header + bytes(pixels) + bytes(mask_stride * size)


def encode_icon(sizes):
    entries = [encode_icon_entry(icon_image(size)) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, data in zip(sizes, entries):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(entries)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as stream:
        stream.write(data)
    print("wrote", os.path.relpath(path, ROOT))


def main():
    write(os.path.join(ROOT, "resources", "skin", "DOWN_LOAD_BK.png"), encode_png(make_background(), False))
    write(os.path.join(ROOT, "resources", "skin", "DOWN_LOAD_SCALE.png"), encode_png(make_scale(), True))
    write(os.path.join(ROOT, "resources", "KvoLauncher.ico"), encode_icon(ICON_SIZES))
    return 0


if __name__ == "__main__":
    sys.exit(main())
