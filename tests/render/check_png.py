#!/usr/bin/env python3
"""Independent PNG reader for the tests: check_png.py FILE.png OUT.rgba; prints "WxH"."""
import struct, sys, zlib


def need(ok, what):
    if not ok:
        sys.exit("check_png: " + what)


data, pos, chunks = open(sys.argv[1], "rb").read(), 8, []
need(data[:8] == b"\x89PNG\r\n\x1a\n", "bad signature")
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8].ljust(8, b"\0"))
    body, crc = data[pos + 8:pos + 8 + length], data[pos + 8 + length:pos + 12 + length]
    need(len(body) == length and crc == struct.pack(">I", zlib.crc32(kind + body)), "bad %r" % kind)
    chunks.append((kind, body))
    pos += 12 + length
need(chunks and chunks[0][0] == b"IHDR" and len(chunks[0][1]) == 13, "IHDR not first")
need(chunks[-1] == (b"IEND", b""), "IEND not last")
width, height, *rest = struct.unpack(">IIBBBBB", chunks[0][1])
need(width and height and rest == [8, 6, 0, 0, 0], "not non-empty 8-bit plain RGBA")
raw = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))  # or raises
stride = 4 * width + 1
rows = [raw[y * stride:(y + 1) * stride] for y in range(height)]
need(len(raw) == height * stride and all(row[0] == 0 for row in rows), "wrong data or filter")
open(sys.argv[2], "wb").write(b"".join(row[1:] for row in rows))
print("%dx%d" % (width, height))
