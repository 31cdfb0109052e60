#!/usr/bin/env python3
"""Independent PNG reader for the tests: checks a file strictly and writes its pixels raw.

    check_png.py FILE.png OUT.rgba

Checks the signature, that every chunk's CRC-32 is right, that IHDR comes first and is an
8-bit RGBA, non-interlaced image, that IEND is last and empty, and that the IDAT data is one
zlib stream (Python's zlib verifies the Adler-32) holding exactly one filter byte plus
4 x width bytes per row. Undoes all five PNG row filters, writes the pixels to OUT.rgba
(rows top to bottom, R G B A) and prints "WIDTHxHEIGHT". Any fault: a message on stderr
and exit status 1.
"""
import struct
import sys
import zlib


def fail(message):
    sys.stderr.write("check_png: " + message + "\n")
    sys.exit(1)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def main():
    if len(sys.argv) != 3:
        fail("usage: check_png.py FILE.png OUT.rgba")
    data = open(sys.argv[1], "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail("bad signature")
    pos, chunks = 8, []
    while pos < len(data):
        if pos + 12 > len(data):
            fail("truncated chunk header")
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if len(body) != length or pos + 12 + length > len(data):
            fail("truncated chunk " + repr(kind))
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + body) != crc:
            fail("bad crc in chunk " + repr(kind))
        chunks.append((kind, body))
        pos += 12 + length
    if not chunks or chunks[0][0] != b"IHDR" or len(chunks[0][1]) != 13:
        fail("IHDR missing or not first")
    if chunks[-1] != (b"IEND", b""):
        fail("IEND missing or not last")
    width, height, depth, colour, compression, filtering, interlace = struct.unpack(
        ">IIBBBBB", chunks[0][1])
    if width == 0 or height == 0:
        fail("zero size")
    if (depth, colour, compression, filtering, interlace) != (8, 6, 0, 0, 0):
        fail("not 8-bit non-interlaced RGBA")
    try:
        raw = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
    except zlib.error as e:
        fail("bad zlib stream: " + str(e))
    stride = width * 4
    if len(raw) != height * (stride + 1):
        fail("wrong amount of image data: %d" % len(raw))
    out = bytearray()
    previous = bytearray(stride)
    for y in range(height):
        row_start = y * (stride + 1)
        kind = raw[row_start]
        row = bytearray(raw[row_start + 1:row_start + 1 + stride])
        if kind > 4:
            fail("bad filter type %d in row %d" % (kind, y))
        for i in range(stride) if kind != 0 else ():
            a = row[i - 4] if i >= 4 else 0
            b = previous[i]
            c = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                row[i] = (row[i] + a) & 255
            elif kind == 2:
                row[i] = (row[i] + b) & 255
            elif kind == 3:
                row[i] = (row[i] + (a + b) // 2) & 255
            else:
                row[i] = (row[i] + paeth(a, b, c)) & 255
        out += row
        previous = row
    open(sys.argv[2], "wb").write(bytes(out))
    print("%dx%d" % (width, height))


main()
