#!/usr/bin/env python3
"""Screenshots of the X display (the tests' Xvfb) as pixels, and PNG output.

Library: capture_screen() returns a Shot of the whole screen; Shot.crop, .pixel, .save_png.
Command line: capture.py OUT.png [WIDTHxHEIGHT+X+Y] writes the screen, or that part of it.
Needs ImageMagick's `import` and a DISPLAY.
"""
import os
import re
import struct
import subprocess
import sys
import zlib

CAPTURE_TIMEOUT = 30


class Shot:
    """RGB pixels, rows top to bottom, three bytes a pixel."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, bytes(data)

    def pixel(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.data[offset:offset + 3])

    def crop(self, left, top, width, height):
        rows = []
        for y in range(top, top + height):
            start = (y * self.width + left) * 3
            rows.append(self.data[start:start + width * 3])
        return Shot(width, height, b"".join(rows))

    def __eq__(self, other):
        return isinstance(other, Shot) and (self.width, self.height, self.data) == (other.width, other.height,
                                                                                   other.data)

    def __hash__(self):
        return hash((self.width, self.height, self.data))

    def count(self, predicate):
        """Pixels for which predicate((r, g, b)) is true."""
        return sum(1 for i in range(0, len(self.data), 3) if predicate(tuple(self.data[i:i + 3])))

    def save_png(self, path):
        raw = bytearray()
        stride = self.width * 3
        for y in range(self.height):
            raw.append(0)
            raw.extend(self.data[y * stride:(y + 1) * stride])

        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
                      chunk(b"IEND", b""))


def parse_ppm(data):
    """A binary PPM (P6, maxval 255) as a Shot."""
    match = re.match(rb"P6\s+(?:#[^\n]*\n\s*)*(\d+)\s+(\d+)\s+(\d+)\s", data)
    if not match or int(match.group(3)) != 255:
        raise ValueError("not an 8-bit binary PPM")
    width, height = int(match.group(1)), int(match.group(2))
    pixels = data[match.end():match.end() + width * height * 3]
    if len(pixels) != width * height * 3:
        raise ValueError("PPM data is short")
    return Shot(width, height, pixels)


def capture_screen(display=None):
    """The whole screen of `display` (default: $DISPLAY) now."""
    env = dict(os.environ)
    if display:
        env["DISPLAY"] = display
    if not env.get("DISPLAY"):
        raise RuntimeError("no DISPLAY to capture")
    result = subprocess.run(["import", "-silent", "-window", "root", "-depth", "8", "ppm:-"], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=CAPTURE_TIMEOUT, check=True)
    return parse_ppm(result.stdout)


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    shot = capture_screen()
    if len(argv) == 3:
        match = re.fullmatch(r"(\d+)x(\d+)\+(\d+)\+(\d+)", argv[2])
        if not match:
            print("region must be WIDTHxHEIGHT+X+Y", file=sys.stderr)
            return 2
        width, height, left, top = (int(g) for g in match.groups())
        shot = shot.crop(left, top, width, height)
    shot.save_png(argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
