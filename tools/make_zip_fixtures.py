#!/usr/bin/env python3
"""Makes the ZIP archives that the archive and package tests read.

    make_zip_fixtures.py --out DIR       archives written by Python's zipfile (build step)
    make_zip_fixtures.py --corpus DIR    small seed inputs of the archive fuzzer (kept in the repository)

The output is the same on every run: fixed contents, fixed times, seeded random bytes.
"""
import argparse
import io
import os
import random
import struct
import zipfile

FIXED_TIME = (2021, 6, 15, 13, 45, 30)
ATTRIBUTE_HIDDEN = 0x02
UNIX_HOST = 3
UNIX_READ_ONLY_FILE = 0o100444


def seeded_bytes(count, seed):
    return random.Random(seed).randbytes(count)


def text(lines):
    return "".join("line %04d of the readme, some words to deflate\r\n" % i for i in range(lines)).encode()


def info(name, when=FIXED_TIME, compress=zipfile.ZIP_DEFLATED, attributes=0):
    entry = zipfile.ZipInfo(name, date_time=when)
    entry.compress_type = compress
    entry.external_attr = attributes
    entry.create_system = 0  # made on Windows: the low word holds the attributes
    return entry


class Unseekable(io.RawIOBase):
    """A stream without seek(): zipfile then writes data descriptors (flag bit 3)."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, chunk):
        self.data += chunk
        return len(chunk)


def package():
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        archive.comment = b"KvoLauncher test package"
        archive.writestr(info("readme.txt"), text(60))
        archive.writestr(info("bin/random.dat", when=(2019, 12, 31, 23, 59, 58)), seeded_bytes(50000, 7))
        archive.writestr(info("bin/stored.dat", compress=zipfile.ZIP_STORED), seeded_bytes(3000, 8))
        archive.writestr(info("empty.txt", compress=zipfile.ZIP_STORED), b"")
        archive.writestr(info("docs/", compress=zipfile.ZIP_STORED, attributes=0x10), b"")
        archive.writestr(info("docs/nested/deep/leaf.txt", when=(2001, 2, 3, 4, 5, 6)), b"leaf\r\n" * 100)
        archive.writestr(info("emptydir/", compress=zipfile.ZIP_STORED, attributes=0x10), b"")
        archive.writestr(info("hidden.txt", attributes=ATTRIBUTE_HIDDEN), b"not for every eye\r\n")
    return buffer.getvalue()


def streamed():
    stream = Unseekable()
    with zipfile.ZipFile(stream, "w") as archive:
        archive.writestr(info("a.txt"), text(10))
        archive.writestr(info("b/c.txt"), seeded_bytes(2000, 9))
    return bytes(stream.data)


def unix_made():
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        entry = info("tool.sh")
        entry.create_system = UNIX_HOST
        entry.external_attr = UNIX_READ_ONLY_FILE << 16
        archive.writestr(entry, b"#!/bin/sh\necho hello\n")
    return buffer.getvalue()


def fixtures():
    return {"package.zip": package(), "streamed.zip": streamed(), "unixmade.zip": unix_made()}


def small(entries, comment=b""):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        archive.comment = comment
        for name, data, method in entries:
            archive.writestr(info(name, compress=method), data)
    return buffer.getvalue()


def corpus():
    stored = small([("a.txt", b"hello, world\r\n", zipfile.ZIP_STORED)])
    deflated = small([("d/e.txt", text(8), zipfile.ZIP_DEFLATED)])
    mixed = small([("x/", b"", zipfile.ZIP_STORED), ("x/y.bin", seeded_bytes(200, 3), zipfile.ZIP_DEFLATED),
                   ("z.txt", b"zz", zipfile.ZIP_STORED)], comment=b"seed comment")
    end_only = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0, 0, 0, 0, 0)
    zip64_marker = stored[:-22] + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF,
                                               0xFFFFFFFF, 0)
    slip = small([("../evil.txt", b"evil", zipfile.ZIP_STORED), ("C:\\x.txt", b"x", zipfile.ZIP_STORED)])
    return {
        "stored.zip": stored,
        "deflated.zip": deflated,
        "mixed.zip": mixed,
        "streamed.zip": streamed(),
        "prefixed.zip": b"MZ stub of a self-extractor\0" * 4 + mixed,
        "truncated.zip": mixed[: len(mixed) // 2],
        "end-only.zip": end_only,
        "zip64-marker.zip": zip64_marker,
        "slip.zip": slip,
    }


def write_all(directory, files):
    os.makedirs(directory, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(directory, name), "wb") as out:
            out.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", help="directory for the test archives")
    parser.add_argument("--corpus", help="directory for the fuzzer's seed inputs")
    args = parser.parse_args()
    if not args.out and not args.corpus:
        parser.error("give --out or --corpus")
    if args.out:
        write_all(args.out, fixtures())
    if args.corpus:
        write_all(args.corpus, corpus())


if __name__ == "__main__":
    main()
