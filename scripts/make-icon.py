#!/usr/bin/env python3
"""Regenerate qml/app_icon.ico from icons/caprello.svg.

Needs rsvg-convert (Debian package librsvg2-bin) and any Python 3; only the
standard library is used, so the pyenv python3 on PATH works as well as /usr/bin/python3.

    scripts/make-icon.py [--svg icons/caprello.svg] [--out qml/app_icon.ico]

Each size is rendered from the SVG on its own, so the small images are drawn
for their pixel grid instead of being shrunk from a big bitmap. 16..128 px are
stored as 32-bit BMP entries (what every Windows version reads); 256 px is
stored as PNG, as Windows Vista and later expect. The output only depends on
the SVG and the rsvg version: no timestamps and no ancillary PNG chunks.
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

BMP_SIZES = (16, 24, 32, 48, 64, 72, 96, 128)
PNG_SIZES = (256,)
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def render(svg_path, size):
    """Rasterise the SVG at size x size and return the PNG bytes."""
    result = subprocess.run(
        ["rsvg-convert", "--format=png", "--width", str(size), "--height", str(size), svg_path],
        check=True, stdout=subprocess.PIPE)
    return result.stdout


def _paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def decode_png_rgba(data):
    """Decode an 8-bit RGBA, non-interlaced PNG (what rsvg-convert writes).

    Returns (width, height, rows) with rows top-down, each a bytes of RGBA.
    """
    if not data.startswith(PNG_SIGNATURE):
        raise ValueError("not a PNG")
    pos = len(PNG_SIGNATURE)
    header = None
    idat = []
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
    if header is None:
        raise ValueError("PNG without IHDR")
    width, height, depth, colour, _compression, _filter, interlace = header
    if depth != 8 or colour != 6 or interlace != 0:
        raise ValueError("expected 8-bit RGBA non-interlaced PNG, got depth %d colour type %d "
                         "interlace %d" % (depth, colour, interlace))

    raw = zlib.decompress(b"".join(idat))
    stride = width * 4
    rows = []
    prev = bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        ftype = raw[start]
        line = bytearray(raw[start + 1:start + 1 + stride])
        if ftype == 1:
            for i in range(4, stride):
                line[i] = (line[i] + line[i - 4]) & 0xFF
        elif ftype == 2:
            for i in range(stride):
                line[i] = (line[i] + prev[i]) & 0xFF
        elif ftype == 3:
            for i in range(stride):
                left = line[i - 4] if i >= 4 else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 0xFF
        elif ftype == 4:
            for i in range(stride):
                left = line[i - 4] if i >= 4 else 0
                upleft = prev[i - 4] if i >= 4 else 0
                line[i] = (line[i] + _paeth(left, prev[i], upleft)) & 0xFF
        elif ftype != 0:
            raise ValueError("bad PNG filter type %d" % ftype)
        rows.append(bytes(line))
        prev = line
    return width, height, rows


def _png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def encode_png_rgba(width, height, rows):
    """Minimal PNG: IHDR, IDAT, IEND. Each row takes the filter with the smallest
    sum of absolute values, the usual heuristic that keeps the file small."""
    stride = width * 4
    prev = bytes(stride)
    out = bytearray()
    for line in rows:
        candidates = []
        sub = bytes((line[i] - (line[i - 4] if i >= 4 else 0)) & 0xFF for i in range(stride))
        up = bytes((line[i] - prev[i]) & 0xFF for i in range(stride))
        avg = bytes((line[i] - (((line[i - 4] if i >= 4 else 0) + prev[i]) >> 1)) & 0xFF
                    for i in range(stride))
        paeth = bytes((line[i] - _paeth(line[i - 4] if i >= 4 else 0, prev[i],
                                        prev[i - 4] if i >= 4 else 0)) & 0xFF
                      for i in range(stride))
        for ftype, filtered in enumerate((line, sub, up, avg, paeth)):
            cost = sum(b if b < 128 else 256 - b for b in filtered)
            candidates.append((cost, ftype, filtered))
        _cost, ftype, filtered = min(candidates, key=lambda c: (c[0], c[1]))
        out.append(ftype)
        out += filtered
        prev = line
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (PNG_SIGNATURE + _png_chunk(b"IHDR", ihdr)
            + _png_chunk(b"IDAT", zlib.compress(bytes(out), 9)) + _png_chunk(b"IEND", b""))


def encode_ico_bmp(width, height, rows):
    """ICO flavour of a DIB: BITMAPINFOHEADER with the height doubled (colour
    image plus AND mask), BGRA rows bottom-up, then the 1-bpp AND mask."""
    mask_stride = ((width + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for line in reversed(rows):
        for x in range(width):
            r, g, b, a = line[4 * x:4 * x + 4]
            xor += bytes((b, g, r, a))
        # Mask bit set = transparent; old renderers that ignore alpha use it.
        bits = bytearray(mask_stride)
        for x in range(width):
            if line[4 * x + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def build_ico(images):
    """images: list of (size, payload bytes), written in that order."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    directory = bytearray()
    for size, payload in images:
        dim = 0 if size >= 256 else size  # a 0 byte means 256
        directory += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(payload), offset)
        offset += len(payload)
    return header + bytes(directory) + b"".join(p for _s, p in images)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--svg", default=os.path.join(root, "icons", "caprello.svg"))
    parser.add_argument("--out", default=os.path.join(root, "qml", "app_icon.ico"))
    args = parser.parse_args()

    if shutil.which("rsvg-convert") is None:
        sys.exit("rsvg-convert not found: apt-get install librsvg2-bin")

    images = []
    for size in BMP_SIZES + PNG_SIZES:
        width, height, rows = decode_png_rgba(render(args.svg, size))
        if (width, height) != (size, size):
            sys.exit("rsvg-convert gave %dx%d for size %d" % (width, height, size))
        if size in PNG_SIZES:
            images.append((size, encode_png_rgba(width, height, rows)))
        else:
            images.append((size, encode_ico_bmp(width, height, rows)))

    data = build_ico(images)
    # Write beside the target and rename, so an interrupted run never leaves half a file.
    fd, tmp = tempfile.mkstemp(dir=os.path.dirname(os.path.abspath(args.out)), suffix=".tmp")
    with os.fdopen(fd, "wb") as f:
        f.write(data)
    os.chmod(tmp, 0o644)
    os.replace(tmp, args.out)
    print("wrote %s (%d bytes, %d images)" % (args.out, len(data), len(images)))


if __name__ == "__main__":
    main()
