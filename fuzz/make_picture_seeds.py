#!/usr/bin/env python3
"""Writes the saved inputs of the picture readers: small PNG files (written
here byte by byte), JPEG files (through the system's TurboJPEG), bitmaps of
every depth, and damaged or over-claiming ones of each, into
fuzz/corpus/readPngJpeg and fuzz/corpus/loadBitmap.

    fuzz/make_picture_seeds.py

The same bytes every run (for one TurboJPEG version)."""
import ctypes
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png(width, height, depth, colour, rows, interlace=0, extra=b""):
    """rows: the filtered scanlines as they go into the image data (already
    split into Adam7 passes for an interlaced file)."""
    ihdr = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))


def plain_rows(width, height, bytes_per_pixel, value):
    out = b""
    for y in range(height):
        out += bytes([y % 5]) + bytes(value(x, y, k) & 0xFF for x in range(width) for k in range(bytes_per_pixel))
    return out


def png_seeds():
    seeds = {}
    seeds["rgb8_4x3.png"] = png(4, 3, 8, 2, plain_rows(4, 3, 3, lambda x, y, k: x * 60 + y * 20 + k * 7))
    seeds["rgba8_3x3.png"] = png(3, 3, 8, 6, plain_rows(3, 3, 4, lambda x, y, k: x * 90 + k * 50 + y))
    seeds["grey16_3x2.png"] = png(3, 2, 16, 0, plain_rows(3, 2, 2, lambda x, y, k: x * 70 + y * 31 + k))
    seeds["grey_alpha8_2x2.png"] = png(2, 2, 8, 4, plain_rows(2, 2, 2, lambda x, y, k: x * 100 + y + k * 9))
    # 2-bit palette, four entries, two of them transparent: rows of 5 pixels in 2 bytes.
    palette = chunk(b"PLTE", bytes([0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255])) + chunk(b"tRNS", bytes([0, 128]))
    seeds["palette2_5x4.png"] = png(5, 4, 2, 3, plain_rows(2, 4, 1, lambda x, y, k: 0x1B + x * 0x40 + y), extra=palette)
    # 1-bit grey, 9 x 9, interlaced: the seven passes' rows, each with its filter byte.
    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
    data = b""
    for x0, y0, dx, dy in passes:
        columns = len(range(x0, 9, dx))
        for _ in range(y0, 9, dy):
            if columns:
                data += b"\x00" + bytes([0xA5] * ((columns + 7) // 8))
    seeds["grey1_9x9_interlaced.png"] = png(9, 9, 1, 0, data, interlace=1)
    # A claim of 1 000 000 x 1 000 000 pixels in a few bytes, and a cut file.
    seeds["huge_claim.png"] = png(1000000, 1000000, 8, 2, plain_rows(2, 2, 3, lambda x, y, k: 0))
    whole = seeds["rgb8_4x3.png"]
    seeds["cut.png"] = whole[: len(whole) // 2]
    return seeds


def jpeg_seeds():
    turbo = ctypes.CDLL("libturbojpeg.so.0")
    turbo.tjInitCompress.restype = ctypes.c_void_p
    turbo.tjCompress2.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                  ctypes.c_int, ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_ulong),
                                  ctypes.c_int, ctypes.c_int, ctypes.c_int]
    turbo.tjFree.argtypes = [ctypes.c_void_p]
    turbo.tjDestroy.argtypes = [ctypes.c_void_p]
    handle = turbo.tjInitCompress()
    TJPF_RGB, TJPF_CMYK = 0, 11
    TJSAMP_444, TJSAMP_420, TJSAMP_GRAY = 0, 2, 3
    TJFLAG_PROGRESSIVE = 16384

    def compress(width, height, pixel_format, subsampling, flags=0, size=3):
        pixels = bytes((x * 37 + y * 11 + k * 70) & 0xFF for y in range(height) for x in range(width) for k in range(size))
        out = ctypes.c_void_p()
        length = ctypes.c_ulong()
        if turbo.tjCompress2(handle, pixels, width, 0, height, pixel_format, ctypes.byref(out), ctypes.byref(length),
                             subsampling, 50, flags) != 0:
            raise SystemExit("TurboJPEG refused to compress")
        data = ctypes.string_at(out, length.value)
        turbo.tjFree(out)
        return data

    seeds = {}
    seeds["colour420_16x16.jpg"] = compress(16, 16, TJPF_RGB, TJSAMP_420)
    seeds["grey_8x8.jpg"] = compress(8, 8, TJPF_RGB, TJSAMP_GRAY)
    seeds["progressive_17x9.jpg"] = compress(17, 9, TJPF_RGB, TJSAMP_444, TJFLAG_PROGRESSIVE)
    seeds["cmyk_8x8.jpg"] = compress(8, 8, TJPF_CMYK, TJSAMP_444, size=4)
    turbo.tjDestroy(handle)
    whole = seeds["colour420_16x16.jpg"]
    seeds["cut.jpg"] = whole[: len(whole) * 2 // 3]
    # The frame header claims 65 535 x 65 535 pixels.
    at = whole.index(b"\xff\xc0")
    seeds["huge_claim.jpg"] = whole[: at + 5] + b"\xff\xff\xff\xff" + whole[at + 9:]
    return seeds


def bmp(width, height, bits, raw, palette=(), header=40, compression=0, masks=(), top_down=False):
    row = (width * bits + 7) // 8
    stride = (row + 3) // 4 * 4
    headers = 14 + header + (4 * len(masks) if header == 40 else 0)
    offset = headers + 4 * len(palette)
    info = struct.pack("<IiiHHIIiiII", header, width, -height if top_down else height, 1, bits, compression,
                       stride * height, 0, 0, len(palette), 0)
    info = (info + b"".join(struct.pack("<I", m) for m in masks)).ljust(header if header > 40 else 40 + 4 * len(masks), b"\0")
    body = b""
    for y in range(height):
        line = bytearray(stride)
        for x in range(width):
            v = raw(x, y)
            if bits < 8:
                per = 8 // bits
                line[x // per] |= v << (8 - bits * (x % per + 1))
            else:
                line[x * bits // 8: (x + 1) * bits // 8] = v.to_bytes(bits // 8, "little")
        body += bytes(line)
    head = b"BM" + struct.pack("<IHHI", offset + len(body), 0, 0, offset)
    return head + info + b"".join(bytes(p) for p in palette) + body


def bitmap_seeds():
    grey = [(i * 17, i * 17, i * 17, 0) for i in range(16)]
    return {
        "depth1_13x3.bmp": bmp(13, 3, 1, lambda x, y: (x + y) & 1, [(0, 0, 0, 0), (255, 255, 255, 0)]),
        "depth4_7x3.bmp": bmp(7, 3, 4, lambda x, y: (x * 3 + y) & 15, grey),
        "depth8_5x3_topdown.bmp": bmp(5, 3, 8, lambda x, y: (x + y * 5) & 15, grey, top_down=True),
        "depth16_555_4x3.bmp": bmp(4, 3, 16, lambda x, y: (x * 8 + y) * 1021 & 0x7FFF),
        "depth16_565_v5_4x3.bmp": bmp(4, 3, 16, lambda x, y: (x * 8 + y) * 2039 & 0xFFFF, header=124,
                                      compression=3, masks=(0xF800, 0x7E0, 0x1F)),
        "depth32_masks_3x3.bmp": bmp(3, 3, 32, lambda x, y: 0x80000000 | (x * 80) << 16 | (y * 90) << 8 | 7,
                                     compression=3, masks=(0xFF0000, 0xFF00, 0xFF)),
        "depth32_v4_3x2.bmp": bmp(3, 2, 32, lambda x, y: (x * 80) << 8 | (y * 90) << 16, header=108),
        "rle8_4x2.bmp": bmp(4, 2, 8, lambda x, y: x, grey, compression=1),
    }


def write(folder, seeds):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    for name, data in sorted(seeds.items()):
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    photos = dict(png_seeds())
    photos.update(jpeg_seeds())
    write("readPngJpeg", photos)
    write("loadBitmap", bitmap_seeds())
    write("loadBitmap", {"photo_" + k: v for k, v in photos.items() if k in ("rgb8_4x3.png", "colour420_16x16.jpg",
                                                                           "grey1_9x9_interlaced.png")})
