#!/usr/bin/env python3
"""Writes the small Utah RLE files beside this script, which exercise what netpbm's pnmtorle never
writes: colour maps, a background colour, long instruction forms, an alpha channel and clipping.
They seed the fuzzer and are cut at every length by the tests. Run it from this folder."""
import struct


def header(w, h, flags, channels, background=(), maps=0, map_log2=0, entries=(), comment=b""):
    out = struct.pack("<HhhHHBBBBB", 0xCC52, 3, 5, w, h, flags | (8 if comment else 0), channels, 8, maps, map_log2)
    if flags & 2:
        out += b"\0"
    else:
        out += bytes(background).ljust(channels // 2 * 2 + 1, b"\0")
    out += b"".join(struct.pack("<H", e) for e in entries)
    if comment:
        out += struct.pack("<H", len(comment)) + comment + b"\0" * (len(comment) % 2)
    return out


def op(code, operand, long_form=False):
    return bytes([code | 0x40, 0]) + struct.pack("<H", operand) if long_form else bytes([code, operand])


def literal(values):
    n = len(values)
    return op(5, n - 1, n > 256) + bytes(values) + b"\0" * (n % 2)


def run(n, value):
    return op(6, n - 1, n > 256) + struct.pack("<H", value)


SET, SKIP_LINES, SKIP_PIXELS, END = 2, 1, 3, op(7, 0)

# One channel through three maps of 16 entries, 300 wide: long runs, a long literal, long skips.
ramp = [i % 20 for i in range(280)]
pseudo = header(300, 4, 2, 1, maps=3, map_log2=4,
                entries=[i * 0x1100 for i in range(16)] + [0xFF00 - i * 0x1000 for i in range(16)] + [0x8000] * 16,
                comment=b"pseudo-colour seed")
pseudo += op(SET, 0) + run(300, 3) + op(SKIP_LINES, 1) + op(SET, 0) + op(SKIP_PIXELS, 20) + literal(ramp)
pseudo += op(SKIP_LINES, 2) + op(SET, 0) + op(SKIP_PIXELS, 290, True) + run(40, 15) + END

# Three channels on a background, each through its own map, with alpha data that is dropped.
rgb = header(40, 6, 1 | 4, 3, background=(9, 99, 199), maps=3, map_log2=8,
             entries=[i << 8 for i in range(256)] + [(255 - i) << 8 for i in range(256)] + [0x4000] * 256)
for y in range(0, 6, 2):
    for c in (0, 1, 2, 255):
        rgb += op(SET, c) + op(SKIP_PIXELS, y) + literal([(y * 40 + x * 7 + c) % 256 for x in range(13)]) + run(9, 200)
    rgb += op(SKIP_LINES, 2)
rgb += END

# Grey, no background, runs and literals passing the end of the row.
grey = header(17, 3, 2, 1)
grey += op(SET, 0) + run(10, 50) + literal(list(range(12))) + op(SKIP_LINES, 1)
grey += op(SET, 0) + op(SKIP_PIXELS, 15) + run(300, 80) + op(SKIP_LINES, 1) + op(SET, 0) + literal([255] * 17) + END

for name, data in (("pseudo_colour.rle", pseudo), ("rgb_maps_background.rle", rgb), ("grey_clipped.rle", grey)):
    with open(name, "wb") as f:
        f.write(data)
