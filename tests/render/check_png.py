#!/usr/bin/env python3
"""Independent PNG reader for the tests: check_png.py FILE.png OUT.rgba; prints "WxH"."""
import struct
import sys
import zlib

data, pos, chunks = open(sys.argv[1], "rb").read(), 8, []
if data[:8] != b"\x89PNG\r\n\x1a\n":
    sys.exit("check_png: bad signature")
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8].ljust(8, b"\0"))
    body, crc = data[pos + 8:pos + 8 + length], data[pos + 8 + length:pos + 12 + length]
    if len(body) != length or len(crc) != 4 or zlib.crc32(kind + body) != int.from_bytes(crc, "big"):
        sys.exit("check_png: bad or truncated chunk %r" % kind)
    chunks.append((kind, body))
    pos += 12 + length
if not chunks or chunks[0][0] != b"IHDR" or len(chunks[0][1]) != 13 or chunks[-1] != (b"IEND", b""):
    sys.exit("check_png: IHDR not first or IEND not last")
width, height, *rest = struct.unpack(">IIBBBBB", chunks[0][1])
if width == 0 or height == 0 or rest != [8, 6, 0, 0, 0]:
    sys.exit("check_png: not a non-empty 8-bit non-interlaced RGBA image")
try:
    raw = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
except zlib.error as e:
    sys.exit("check_png: bad zlib stream: %s" % e)
rows = [raw[y * (4 * width + 1):(y + 1) * (4 * width + 1)] for y in range(height)]
if len(raw) != height * (4 * width + 1) or any(row[0] != 0 for row in rows):
    sys.exit("check_png: wrong amount of image data or a filtered row")
open(sys.argv[2], "wb").write(b"".join(row[1:] for row in rows))
print("%dx%d" % (width, height))
