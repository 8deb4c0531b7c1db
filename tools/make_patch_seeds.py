#!/usr/bin/env python3
"""Writes the seed corpus of the patch fuzzer: each seed is the old file's length (two bytes,
little-endian), the old file, then a valid patch that makes a new file from it."""
import argparse
import os
import struct
import zlib

MAGIC = b"KVOPTCH1"


def varint(value):
    out = bytearray()
    while value >= 0x80:
        out.append((value & 0x7F) | 0x80)
        value >>= 7
    out.append(value)
    return bytes(out)


def zigzag(value):
    return (-(value + 1) << 1) | 1 if value < 0 else value << 1


def run_coded(difference):
    """Each run of zeros as one zero byte and its length, as the format codes the difference stream."""
    out, i = bytearray(), 0
    while i < len(difference):
        if difference[i]:
            out.append(difference[i])
            i += 1
            continue
        run = 0
        while i < len(difference) and difference[i] == 0:
            run, i = run + 1, i + 1
        out += b"\0" + varint(run)
    return bytes(out)


def make_patch(old, steps):
    """steps: (add, copy_bytes, move); the added bytes are made equal to the old ones."""
    control, difference, extra = bytearray(), bytearray(), bytearray()
    position, made = 0, bytearray()
    for add, copy, move in steps:
        control += varint(add) + varint(len(copy)) + varint(zigzag(move))
        difference += bytes(add)
        made += old[position:position + add] + copy
        extra += copy
        position += add + move
    streams = [zlib.compress(bytes(s), 9) for s in (control, run_coded(difference), extra)]
    header = MAGIC + struct.pack("<5Q", len(old), len(made), *map(len, streams))
    return header + b"".join(streams)


def seed(old, steps):
    return struct.pack("<H", len(old)) + old + make_patch(old, steps)


SEEDS = {
    "insert.seed": seed(b"hello world", [(6, b"brave new ", 0), (5, b"", 0)]),
    "from-empty.seed": seed(b"", [(0, b"abc", 0)]),
    "first-move.seed": seed(b"0123456789", [(0, b"", 5), (5, b"!", -10), (3, b"", 0)]),
    "identical.seed": seed(bytes(range(256)) * 4, [(1024, b"", 0)]),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--out", required=True)
    out = parser.parse_args().out
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
