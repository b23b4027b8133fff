#!/usr/bin/env python3
"""Makes the bitmap test files under tests/image/data and the seed corpus of
the loader's fuzz target (fuzz/corpus/bload).

Reference pictures are written as PAM files; ImageMagick's `convert` turns
them into bitmaps of every header version, depth and compression it writes.
Variants it cannot write (top-down rows, RLE4, bit-field masks after a
40-byte header, a short colour table) are derived from its files here, and
every bitmap is read back with ImageMagick and compared with its reference
before it is kept. The outputs are committed; rerun after changing this file.
"""
import os
import struct
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "tests", "image", "data")
CORPUS = os.path.join(ROOT, "fuzz", "corpus", "bload")
W, H = 37, 23


class Lcg:
    def __init__(self, seed):
        self.s = seed

    def next(self, n):
        self.s = (self.s * 1103515245 + 12345) & 0x7FFFFFFF
        return (self.s >> 8) % n


def write_pam(path, w, h, rgba):
    head = b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (w, h)
    with open(path, "wb") as f:
        f.write(head + bytes(v for px in rgba for v in px))


def write_ppm(path, w, h, rgba):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h) + bytes(v for px in rgba for v in px[:3]))


def runs(rng, colors, w, h):
    """Indices in horizontal runs of 1 to 12 pixels, some rows one colour."""
    idx = []
    for y in range(h):
        if y % 7 == 3:
            idx += [rng.next(colors)] * w
            continue
        row = []
        while len(row) < w:
            row += [rng.next(colors)] * (1 + rng.next(12) if rng.next(3) else 1)
        idx += row[:w]
    return idx


def replicate(x, bits):
    """A channel of `bits` bits widened to 8 by repeating its top bits."""
    v = x << (8 - bits)
    while bits < 8:
        v |= v >> bits
        bits *= 2
    return v & 0xFF


def references():
    """Reference pictures, and for the ones on a coarse grid the channel
    widths and the picture handed to ImageMagick instead (each channel
    rounded up from the grid, so that its rounding and truncation both give
    the grid value back)."""
    rng = Lcg(20240611)
    refs, sources, grids = {}, {}, {}
    refs["rgb"] = [(rng.next(256), rng.next(256), rng.next(256), 255) for _ in range(W * H)]
    for name, n in (("pal200", 200), ("pal16", 16), ("pal2", 2)):
        pal = []
        while len(pal) < n:  # distinct colours, so that no palette merges two
            c = (rng.next(256), rng.next(256), rng.next(256), 255)
            if c not in pal:
                pal.append(c)
        refs[name] = [pal[i] for i in runs(rng, n, W, H)]
    for name, bits in (("c555", (5, 5, 5, 0)), ("c565", (5, 6, 5, 0)), ("c4444", (4, 4, 4, 4)),
                       ("c1555", (5, 5, 5, 1))):
        xs = [tuple(rng.next(1 << b) if b else 0 for b in bits) for _ in range(W * H)]
        refs[name] = [tuple(replicate(x, b) if b else 255 for x, b in zip(px, bits)) for px in xs]
        sources[name] = [tuple(-(-x * 255 // ((1 << b) - 1)) if b else 255 for x, b in zip(px, bits)) for px in xs]
        grids[name] = bits
    refs["rgba"] = [(rng.next(256), rng.next(256), rng.next(256), rng.next(256)) for _ in range(W * H)]
    return refs, sources, grids


def quantize(pixels, bits):
    """The grid values of decoded pixels: the top bits of each channel, which
    both widening by repeated bits and by scaling keep."""
    return [tuple(v >> (8 - b) if b else 0 for v, b in zip(px, bits)) for px in pixels]


def im(src, args, dst):
    subprocess.run(["convert", src] + args + [dst], check=True)


def im_pixels(path):
    """The picture as ImageMagick decodes it: RGBA bytes."""
    out = subprocess.run(["convert", path, "-depth", "8", "rgba:-"], check=True, capture_output=True).stdout
    return [tuple(out[i:i + 4]) for i in range(0, len(out), 4)]


def parse(data):
    off, hs = struct.unpack_from("<II", data, 10)
    if hs == 12:
        w, h, planes, depth = struct.unpack_from("<HHHH", data, 18)
        return off, hs, w, h, depth, 0
    w, h, planes, depth, comp = struct.unpack_from("<iiHHI", data, 18)
    return off, hs, w, h, depth, comp


def flip_top_down(data):
    off, hs, w, h, depth, comp = parse(data)
    row = (w * depth + 31) // 32 * 4
    rows = [data[off + i * row: off + (i + 1) * row] for i in range(h)]
    out = bytearray(data[:off]) + b"".join(reversed(rows))
    struct.pack_into("<i", out, 22, -h)
    return bytes(out)


def to_v3_bitfields(data, compression):
    """A version-4/5 header cut to 40 bytes; with bit fields, the three masks
    follow it."""
    off, hs, w, h, depth, comp = parse(data)
    masks = data[54:66]
    info = bytearray(data[14:54])
    struct.pack_into("<I", info, 0, 40)
    struct.pack_into("<I", info, 16, compression)
    extra = masks if compression == 3 else b""
    pixels = data[off:]
    new_off = 54 + len(extra)
    head = struct.pack("<HIHHI", 0x4D42, new_off + len(pixels), 0, 0, new_off)
    return head + bytes(info) + extra + pixels


def short_table(data, entries):
    """An 8-bit file whose colour table holds only `entries` colours."""
    off, hs, w, h, depth, comp = parse(data)
    info = bytearray(data[14:54])
    struct.pack_into("<II", info, 32, entries, 0)
    table = data[54:54 + 4 * entries]
    pixels = data[off:]
    new_off = 54 + len(table)
    head = struct.pack("<HIHHI", 0x4D42, new_off + len(pixels), 0, 0, new_off)
    return head + bytes(info) + table + pixels


def rle4(data):
    """Re-encodes a 4-bit file as RLE4: runs for repeated indices, absolute
    groups for the rest, a delta to skip leading index-0 pixels."""
    off, hs, w, h, depth, comp = parse(data)
    row = (w * 4 + 31) // 32 * 4
    out = bytearray()
    for y in range(h):
        r = data[off + y * row: off + (y + 1) * row]
        px = [(r[i // 2] >> 4) if i % 2 == 0 else (r[i // 2] & 15) for i in range(w)]
        i = 0
        if px[0] == 0:
            skip = 0
            while skip < w and px[skip] == 0:
                skip += 1
            if skip < w:
                out += bytes([0, 2, skip, 0])
                i = skip
        while i < w:
            j = i
            while j < w and px[j] == px[i] and j - i < 255:
                j += 1
            if j - i >= 3 or w - i < 3:
                out += bytes([j - i, (px[i] << 4) | px[i]])
                i = j
                continue
            n = min(w - i, 20)
            nib = px[i:i + n] + [0]
            grp = bytes((nib[k] << 4) | nib[k + 1] for k in range(0, n, 2))
            out += bytes([0, n]) + grp + (b"\0" if len(grp) % 2 else b"")
            i += n
        out += bytes([0, 0])
    out[-2:] = bytes([0, 1])
    info = bytearray(data[14:54])
    struct.pack_into("<I", info, 16, 2)
    struct.pack_into("<I", info, 20, len(out))
    head = struct.pack("<HIHHI", 0x4D42, off + len(out), 0, 0, off)
    return head + bytes(info) + data[54:off] + bytes(out)


def main():
    os.makedirs(DATA, exist_ok=True)
    os.makedirs(CORPUS, exist_ok=True)
    tmp = os.path.join(DATA, "tmp")
    os.makedirs(tmp, exist_ok=True)
    refs, sources, grids = references()
    for name, px in refs.items():
        write_pam(os.path.join(DATA, name + ".pam"), W, H, px)
        given = sources.get(name, px)
        # Without an alpha channel ImageMagick keeps 24 bits.
        if all(p[3] == 255 for p in given):
            write_ppm(os.path.join(tmp, name + ".ppm"), W, H, given)
        else:
            write_pam(os.path.join(tmp, name + ".pam"), W, H, given)

    def src(name):
        ppm = os.path.join(tmp, name + ".ppm")
        return ppm if os.path.exists(ppm) else os.path.join(tmp, name + ".pam")

    # (file, reference, ImageMagick format and options, expected alpha:
    #  "opaque" 0xFF, "alpha" the reference's, "zero" 0)
    made = [
        ("bmp2_24", "rgb", "BMP2", [], "opaque"),
        ("bmp3_24", "rgb", "BMP3", [], "opaque"),
        ("bmp4_24", "rgb", "BMP", [], "opaque"),
        ("bmp2_8", "pal200", "BMP2", ["-type", "palette"], "opaque"),
        ("bmp3_8", "pal200", "BMP3", ["-type", "palette"], "opaque"),
        ("bmp4_8", "pal200", "BMP", ["-type", "palette"], "opaque"),
        ("bmp3_rle8", "pal200", "BMP3", ["-type", "palette", "-compress", "RLE"], "opaque"),
        ("bmp2_4", "pal16", "BMP2", ["-type", "palette"], "opaque"),
        ("bmp3_4", "pal16", "BMP3", ["-type", "palette"], "opaque"),
        ("bmp2_1", "pal2", "BMP2", ["-type", "palette"], "opaque"),
        ("bmp3_1", "pal2", "BMP3", ["-type", "palette"], "opaque"),
        ("bmp4_555", "c555", "BMP", ["-define", "bmp:subtype=RGB555"], "opaque"),
        ("bmp4_565", "c565", "BMP", ["-define", "bmp:subtype=RGB565"], "opaque"),
        ("bmp4_4444", "c4444", "BMP", ["-define", "bmp:subtype=ARGB4444"], "alpha"),
        ("bmp4_1555", "c1555", "BMP", ["-define", "bmp:subtype=ARGB1555"], "alpha"),
        ("bmp3_32", "rgba", "BMP3", ["-define", "bmp3:alpha=true"], "alpha"),
        ("bmp4_32", "rgba", "BMP", [], "alpha"),
    ]
    files = {}
    for out, ref, fmt, args, alpha in made:
        path = os.path.join(DATA, out + ".bmp")
        if "-compress" not in args:  # it picks RLE8 by itself at times
            args = args + ["-compress", "None"]
        im(src(ref), args, fmt + ":" + path)
        files[out] = (ref, alpha)

    def derive(out, base, fn, ref, alpha):
        with open(os.path.join(DATA, base + ".bmp"), "rb") as f:
            data = fn(f.read())
        with open(os.path.join(DATA, out + ".bmp"), "wb") as f:
            f.write(data)
        files[out] = (ref, alpha)

    derive("bmp3_24_topdown", "bmp3_24", flip_top_down, "rgb", "opaque")
    derive("bmp4_32_topdown", "bmp4_32", flip_top_down, "rgba", "alpha")
    derive("bmp3_rle4", "bmp3_4", rle4, "pal16", "opaque")
    # ImageMagick reads 16-bit files without masks its own way, so this one
    # is checked through its source: that must hold 5-5-5 fields.
    with open(os.path.join(DATA, "bmp4_555.bmp"), "rb") as f:
        if struct.unpack_from("<3I", f.read(), 54) != (0x7C00, 0x3E0, 0x1F):
            sys.exit("bmp4_555 does not hold 5-5-5 fields")
    derive("bmp3_555", "bmp4_555", lambda d: to_v3_bitfields(d, 0), "c555", "opaque")
    unchecked = set()
    derive("bmp3_565_bitfields", "bmp4_565", lambda d: to_v3_bitfields(d, 3), "c565", "opaque")
    derive("bmp3_32_bitfields", "bmp4_32", lambda d: to_v3_bitfields(d, 3), "rgba", "zero")
    derive("bmp3_8_short_table", "bmp3_8", lambda d: short_table(d, 200), "pal200", "opaque")

    # Every file must decode in ImageMagick to its reference.
    for out, (ref, alpha) in sorted(files.items()):
        path = os.path.join(DATA, out + ".bmp")
        if out in unchecked:
            continue
        got, want = im_pixels(path), refs[ref]
        if ref in grids:  # compared on the grid: ImageMagick widens its own way
            bits = grids[ref] if alpha == "alpha" else grids[ref][:3] + (0,)
            got, want = quantize(got, bits), quantize(want, bits)
        elif alpha != "alpha":  # ImageMagick's idea of alpha differs there
            got, want = [g[:3] for g in got], [p[:3] for p in want]
        if got != want:
            sys.exit("%s does not decode to %s" % (out, ref))
        with open(path, "rb") as f:
            info = parse(f.read())
        print("%-20s %s: header %d, %d x %d, depth %d, compression %d" % (out, ref, info[1], info[2], info[3],
                                                                          info[4], info[5]))
    with open(os.path.join(DATA, "manifest.txt"), "w") as f:
        for out, (ref, alpha) in sorted(files.items()):
            f.write("%s.bmp %s.pam %s\n" % (out, ref, alpha))
    for name in os.listdir(tmp):
        os.remove(os.path.join(tmp, name))
    os.rmdir(tmp)

    # Seed corpus: small files of every kind the loader tells apart.
    small = {
        "bmp2_24": "rgb", "bmp3_8": "pal200", "bmp3_rle8": "pal200", "bmp3_rle4": "pal16", "bmp3_1": "pal2",
        "bmp2_4": "pal16", "bmp4_565": "c565", "bmp3_565_bitfields": "c565", "bmp4_32": "rgba",
        "bmp3_32": "rgba", "bmp4_4444": "c4444", "bmp3_24_topdown": "rgb", "bmp3_8_short_table": "pal200",
    }
    for name in small:
        with open(os.path.join(DATA, name + ".bmp"), "rb") as f:
            data = f.read()
        with open(os.path.join(CORPUS, name + ".bmp"), "wb") as f:
            f.write(data)
    # Raw memory images: a 4 x 3 image buffer of 4-byte pixels (current
    # header), a compact 2 x 2 one of 1-byte pixels, and the short header.
    cur = struct.pack("<8I", 7, 4, 4, 3, 16, 0, 0, 0) + bytes(range(48))
    compact = bytes([(1 | (2 << 3)) & 0xFF, 0, 2, 0]) + bytes([1, 2, 3, 4])
    raws = {
        "raw_current.bin": b"\xFE" + struct.pack("<I", len(cur)) + cur,
        "raw_compact.bin": b"\xFE" + struct.pack("<I", len(compact)) + compact,
        "raw_short.bin": b"\xFD\0\0\0\0" + struct.pack("<H", len(cur)) + cur,
        "raw_screen_pal.bin": b"\xFE" + struct.pack("<I", 16) + bytes(16) + bytes(range(48)),
    }
    for name, data in raws.items():
        with open(os.path.join(CORPUS, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
