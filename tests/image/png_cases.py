#!/usr/bin/python3
"""PNG test pictures and their pixels as Pillow decodes them.

  png_cases.py DIR           DIR/NAME.png, DIR/NAME.rgb (the pixels over white,
                             3 bytes each), DIR/manifest: "NAME W H INDEXED"
  png_cases.py --small DIR   only small pictures: the fuzz target's seeds
  png_cases.py --decode PNG  prints "MODE W H" and Pillow's RGB bytes

Pillow writes what it can (not interlaced, 16-bit colour or 2- and 4-bit
grey); the rest is encoded here. Expected pixels come from Pillow's decoding.
"""
import io
import os
import random
import struct
import sys
import zlib

from PIL import Image

GREY, RGB, PALETTE, GREY_ALPHA, RGBA = 0, 2, 3, 4, 6
CHANNELS = {GREY: 1, RGB: 3, PALETTE: 1, GREY_ALPHA: 2, RGBA: 4}
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def pack_row(samples, depth):
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    bits = "".join(format(s, "0%db" % depth) for s in samples)
    bits += "0" * (-len(bits) % 8)
    return int(bits, 2).to_bytes(len(bits) // 8, "big")


def encode(w, h, kind, depth, pixels, interlace, extra=b""):
    """pixels[y][x] is a tuple of samples; rows are stored unfiltered."""
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    raw = bytearray()
    for x0, y0, dx, dy in passes:
        if x0 >= w:
            continue
        for y in range(y0, h, dy):
            raw += b"\0" + pack_row([s for x in range(x0, w, dx) for s in pixels[y][x]], depth)
    head = struct.pack(">IIBBBBB", w, h, depth, kind, 0, 0, 1 if interlace else 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + extra + chunk(b"IDAT", zlib.compress(bytes(raw))) +
            chunk(b"IEND", b""))


def own_cases(w, h, rng):
    """Every colour type and depth, with and without tRNS, plain and interlaced:
    (name, png, the 16-bit transparent colour or None, pixels)."""
    combos = [(GREY, d) for d in (1, 2, 4, 8, 16)] + [(PALETTE, d) for d in (1, 2, 4, 8)]
    combos += [(RGB, 8), (RGB, 16), (GREY_ALPHA, 8), (GREY_ALPHA, 16), (RGBA, 8), (RGBA, 16)]
    for kind, depth in combos:
        top = (1 << depth) - 1
        n = CHANNELS[kind]
        if kind == PALETTE:
            # Enough entries for every index, so that no index is out of range.
            entries = 1 << depth
            plte = bytes(rng.randrange(256) for _ in range(3 * entries))
            pixels = [[(rng.randrange(entries),) for _ in range(w)] for _ in range(h)]
        else:
            # A few colours, repeated, so that the transparent one occurs.
            colours = [tuple(rng.choice((0, top, rng.randrange(top + 1))) for _ in range(n)) for _ in range(5)]
            pixels = [[rng.choice(colours) for _ in range(w)] for _ in range(h)]
        for with_trns in (False, True):
            if with_trns and kind in (GREY_ALPHA, RGBA):
                continue
            extra, trns = b"", None
            if kind == PALETTE:
                extra = chunk(b"PLTE", plte)
                if with_trns:
                    extra += chunk(b"tRNS", bytes(rng.randrange(256) for _ in range(entries - 1)))
            elif with_trns:
                trns = pixels[0][0]
                if depth == 16:
                    # The same high bytes with other low bytes stay opaque.
                    pixels[h - 1][w - 1] = tuple(s ^ 1 for s in trns)
                extra = chunk(b"tRNS", b"".join(struct.pack(">H", s) for s in trns))
            for interlace in (False, True):
                name = "own-t%d-d%d%s%s" % (kind, depth, "-trns" if with_trns else "", "-adam7" if interlace else "")
                yield name, encode(w, h, kind, depth, pixels, interlace, extra), trns if depth == 16 else None, pixels


def pillow_cases(w, h, rng):
    """What Pillow writes: 1, L, LA, I (16-bit grey), P of 2 to 256 colours, RGB, RGBA; tRNS for L, P, RGB."""
    def noise(mode, bands, top=255):
        im = Image.new(mode, (w, h))
        im.putdata([tuple(rng.randrange(top + 1) for _ in range(bands)) if bands > 1 else rng.randrange(top + 1)
                    for _ in range(w * h)])
        return im
    few = lambda mode, colours: noise(mode, 1, colours - 1)
    yield "pil-1", noise("1", 1, 1), {}
    yield "pil-L", noise("L", 1), {}
    yield "pil-L-trns", few("L", 7), {"transparency": 3}
    yield "pil-LA", noise("LA", 2), {}
    yield "pil-I16", noise("I", 1, 65535), {}
    for colours, trns in ((2, None), (4, None), (16, None), (256, None), (16, bytes(range(0, 256, 16)))):
        im = few("P", colours)
        im.putpalette([rng.randrange(256) for _ in range(3 * colours)])
        yield "pil-P%d%s" % (colours, "-trns" if trns else ""), im, {"transparency": trns} if trns else {}
    yield "pil-RGB", noise("RGB", 3), {}
    im = noise("RGB", 3, 1)
    yield "pil-RGB-trns", im.point(lambda v: v * 255), {"transparency": (255, 0, 255)}
    yield "pil-RGBA", noise("RGBA", 4), {}


def over_white(c, a):
    return (c * a + 255 * (255 - a) + 127) // 255


def expected(data, trns16=None, pixels=None):
    """RGB over white from Pillow's decoding. Pillow keeps tRNS as the file's
    samples: low-depth grey is compared scaled back, 16-bit colour in the samples."""
    im = Image.open(io.BytesIO(data))
    im.load()
    depth = data[24]
    t = im.info.get("transparency")
    w, h = im.size
    out = bytearray()
    for i, p in enumerate((im.convert("RGBA") if im.mode == "P" else im).getdata()):
        if im.mode in ("P", "RGBA"):
            r, g, b, a = p
        elif im.mode == "RGB":
            (r, g, b), a = p, 255
            if t is not None and (pixels[i // w][i % w] == trns16 if trns16 else p == t):
                a = 0
        elif im.mode == "LA":
            r, a = p
            g = b = r
        else:
            v = p >> 8 if im.mode == "I" else 255 if im.mode == "1" and p else p
            raw = p if im.mode == "I" else p * ((1 << depth) - 1) // 255 if im.mode == "L" else p // 255
            r = g = b = v
            a = 0 if t is not None and raw == t else 255
        out += bytes((over_white(r, a), over_white(g, a), over_white(b, a)))
    return im.size, bytes(out)


def write_cases(out, sizes, pictures_only=False):
    rng = random.Random(22)
    lines = []
    for w, h in sizes:
        cases = [(n + "-%dx%d" % (w, h), d, t, p) for n, d, t, p in own_cases(w, h, rng)]
        for name, im, params in pillow_cases(w, h, rng):
            buf = io.BytesIO()
            im.save(buf, "PNG", **params)
            cases.append(("%s-%dx%d" % (name, w, h), buf.getvalue(), None, None))
        for name, data, trns16, pixels in cases:
            open(os.path.join(out, name + ".png"), "wb").write(data)
            if not pictures_only:
                (pw, ph), rgb = expected(data, trns16, pixels)
                open(os.path.join(out, name + ".rgb"), "wb").write(rgb)
                indexed = data[25] == PALETTE or (data[25] == GREY and data[24] <= 8)
                lines.append("%s %d %d %d\n" % (name, pw, ph, indexed))
    if not pictures_only:
        open(os.path.join(out, "manifest"), "w").writelines(lines)


def main():
    if sys.argv[1] == "--decode":
        im = Image.open(sys.argv[2])
        sys.stdout.buffer.write(b"%s %d %d\n" % (im.mode.encode(), im.size[0], im.size[1]))
        sys.stdout.buffer.write(im.convert("RGB").tobytes())
    elif sys.argv[1] == "--small":
        write_cases(sys.argv[2], [(3, 2)], True)
    else:
        write_cases(sys.argv[1], [(37, 23), (1, 1), (5, 3)])


if __name__ == "__main__":
    main()
