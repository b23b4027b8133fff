#!/usr/bin/env python3
"""Builds the built-in data block (three code page 437 fonts and four default
palettes, 10742 bytes) and writes it compressed as gfx/core/builtin_data.cpp.

The compressed form is a stream of 12-bit dictionary codes, two per three
bytes, least significant bits first: 0-255 literal bytes, 256-4094 strings
added one per code after the first, 4095 the end. The dictionary stops
growing when full; there is no clear code.

Usage:
  mkbuiltin.py [--fonts DIR] [--out FILE]   regenerate the source file
  mkbuiltin.py --check [--fonts DIR]        compare with the committed file
  mkbuiltin.py --encode RAW OUT             compress any file (for tests)

The glyphs come from the console-data package (see gfx/core/FONTS.md).
"""
import argparse
import gzip
import os
import struct
import sys

BLOCK_SIZE = 10742
END_CODE = 0xFFF
LAST_CODE = 4094
FONT_HEIGHTS = (8, 14, 16)

# cp865 is code page 437 except for three Nordic letters; those codes get
# the code page 437 characters from the Latin-1 font of the same height.
CP865_FIXES = {0x9B: "\u00a2", 0x9D: "\u00a5", 0xAF: "\u00bb"}


def read_psf1(path):
    """Returns (height, glyph rows list, unicode -> glyph index) of a PSF1 font."""
    with open(path, "rb") as f:
        data = f.read()
    if path.endswith(".gz"):
        data = gzip.decompress(data)
    if data[:2] != b"\x36\x04":
        raise ValueError(f"{path}: not a PSF1 font")
    mode, height = data[2], data[3]
    count = 512 if mode & 1 else 256
    glyphs = [data[4 + i * height:4 + (i + 1) * height] for i in range(count)]
    umap = {}
    if mode & 2:
        pos, g = 4 + count * height, 0
        while pos + 1 < len(data) and g < count:
            (u,) = struct.unpack_from("<H", data, pos)
            pos += 2
            if u == 0xFFFF:
                g += 1
            elif u != 0xFFFE:
                umap.setdefault(chr(u), g)
    return height, glyphs, umap


def reverse_bits(b):
    return int(f"{b:08b}"[::-1], 2)


def font_block(fonts_dir, height):
    """256 glyphs of `height` rows, bit 0 of each row the leftmost pixel."""
    h, glyphs, _ = read_psf1(os.path.join(fonts_dir, f"cp865-8x{height}.psf.gz"))
    lh, lglyphs, lmap = read_psf1(os.path.join(fonts_dir, f"lat1-{height:02d}.psf.gz"))
    if h != height or lh != height:
        raise ValueError(f"unexpected font height for {height}")
    glyphs = list(glyphs[:256])
    for code, ch in CP865_FIXES.items():
        glyphs[code] = lglyphs[lmap[ch]]
    return bytes(reverse_bits(b) for g in glyphs for b in g)


def dac(v):
    return v * 255 // 63


def rgb(r, g, b):
    return bytes((dac(r), dac(g), dac(b)))


def palettes():
    p2 = rgb(0, 0, 0) + rgb(63, 63, 63)
    # CGA: bit 0 blue, 1 green, 2 red at 2/3; bit 3 adds 1/3 to each;
    # colour 6 is brown (green halved).
    p16 = b""
    for i in range(16):
        hi = 21 if i & 8 else 0
        r, g, b = [(42 if i & bit else 0) + hi for bit in (4, 2, 1)]
        if i == 6:
            g = 21
        p16 += rgb(r, g, b)
    # EGA: bits 0-2 give 2/3 of blue, green, red; bits 3-5 add 1/3.
    p64 = b""
    for i in range(64):
        b = (42 if i & 1 else 0) + (21 if i & 8 else 0)
        g = (42 if i & 2 else 0) + (21 if i & 16 else 0)
        r = (42 if i & 4 else 0) + (21 if i & 32 else 0)
        p64 += rgb(r, g, b)
    # VGA: the 16 CGA colours, a grey ramp, 9 hue rings, 8 blacks.
    grey = (0, 5, 8, 11, 14, 17, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63)
    levels = ((0, 16, 31, 47, 63), (31, 39, 47, 55, 63), (45, 49, 54, 58, 63),
              (0, 7, 14, 21, 28), (14, 17, 21, 24, 28), (20, 22, 24, 26, 28),
              (0, 4, 8, 12, 16), (8, 10, 12, 14, 16), (11, 12, 13, 15, 16))
    # Each ring walks blue -> magenta -> red -> yellow -> green -> cyan.
    ring = ((0, 0, 4), (1, 0, 4), (2, 0, 4), (3, 0, 4), (4, 0, 4), (4, 0, 3), (4, 0, 2), (4, 0, 1),
            (4, 0, 0), (4, 1, 0), (4, 2, 0), (4, 3, 0), (4, 4, 0), (3, 4, 0), (2, 4, 0), (1, 4, 0),
            (0, 4, 0), (0, 4, 1), (0, 4, 2), (0, 4, 3), (0, 4, 4), (0, 3, 4), (0, 2, 4), (0, 1, 4))
    p256 = p16 + b"".join(rgb(v, v, v) for v in grey)
    for lv in levels:
        p256 += b"".join(rgb(lv[r], lv[g], lv[b]) for r, g, b in ring)
    p256 += bytes(24)
    return p2 + p16 + p64 + p256


def build_block(fonts_dir):
    block = b"".join(font_block(fonts_dir, h) for h in FONT_HEIGHTS) + palettes()
    if len(block) != BLOCK_SIZE:
        raise ValueError(f"block has {len(block)} bytes")
    return block


def encode(data):
    if not data:
        raise ValueError("nothing to encode")
    table = {}
    next_code = 256
    codes = []
    w = bytes(data[:1])
    for c in data[1:]:
        wc = w + bytes((c,))
        if wc in table:
            w = wc
            continue
        codes.append(w[0] if len(w) == 1 else table[w])
        if next_code <= LAST_CODE:
            table[wc] = next_code
            next_code += 1
        w = bytes((c,))
    codes.append(w[0] if len(w) == 1 else table[w])
    codes.append(END_CODE)
    out = bytearray()
    for i in range(0, len(codes), 2):
        a = codes[i]
        if i + 1 < len(codes):
            b = codes[i + 1]
            out += bytes((a & 0xFF, (a >> 8) | ((b & 0x0F) << 4), b >> 4))
        else:
            out += bytes((a & 0xFF, a >> 8))
    return bytes(out)


def source_text(packed):
    lines = [
        "// Generated by tools/mkbuiltin.py from the console fonts listed in",
        "// gfx/core/FONTS.md and the default palettes; do not edit.",
        '#include "gfx/core/builtin.h"',
        "",
        f"const int compressed_data_size = {len(packed)};",
        f"const uint8_t compressed_data[{len(packed)}] = {{",
    ]
    for i in range(0, len(packed), 16):
        lines.append("    " + " ".join(f"0x{b:02X}," for b in packed[i:i + 16]))
    lines.append("};")
    return "\n".join(lines) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--fonts", default="/usr/share/consolefonts")
    ap.add_argument("--out", default=os.path.join(here, "..", "gfx", "core", "builtin_data.cpp"))
    ap.add_argument("--check", action="store_true")
    ap.add_argument("--encode", nargs=2, metavar=("RAW", "OUT"))
    args = ap.parse_args()

    if args.encode:
        with open(args.encode[0], "rb") as f:
            packed = encode(f.read())
        with open(args.encode[1], "wb") as f:
            f.write(packed)
        return 0
    text = source_text(encode(build_block(args.fonts)))
    if args.check:
        with open(args.out) as f:
            same = f.read() == text
        print("up to date" if same else f"{args.out} differs from the regenerated data")
        return 0 if same else 1
    with open(args.out, "w") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
