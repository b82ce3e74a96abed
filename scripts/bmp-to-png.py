#!/usr/bin/env python3
"""Converts a 24- or 32-bit BMP file (as the tests write them) to PNG, with
the standard library only, so screenshots can be viewed anywhere."""
import struct
import sys
import zlib


def read_bmp(path):
    data = open(path, 'rb').read()
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height = struct.unpack_from('<ii', data, 18)
    bits = struct.unpack_from('<H', data, 28)[0]
    if bits not in (24, 32):
        raise SystemExit(f'{path}: {bits}-bit BMP files are not supported')
    step = bits // 8
    row_bytes = (width * step + 3) & ~3
    rows = []
    for y in range(abs(height)):
        source = y if height < 0 else abs(height) - 1 - y
        start = offset + source * row_bytes
        row = bytearray()
        for x in range(width):
            b, g, r = data[start + x * step:start + x * step + 3]
            row += bytes((r, g, b))
        rows.append(bytes(row))
    return width, abs(height), rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xFFFFFFFF)
    raw = b''.join(b'\x00' + row for row in rows)
    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
    open(path, 'wb').write(png)


if __name__ == '__main__':
    if len(sys.argv) != 3:
        raise SystemExit('usage: bmp-to-png.py IN.bmp OUT.png')
    write_png(sys.argv[2], *read_bmp(sys.argv[1]))
