#!/usr/bin/python3
"""Writes the program icon (res/app.ico, 16x16 and 32x32, 32 bits per pixel)
and the drag image strip (res/drag.bmp, two 16x16 pictures: 0 a row,
1 the dragged rows, on magenta).

The build never runs this; the files are committed. Standard library only.

    /usr/bin/python3 scripts/gen-app-art.py
"""
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent
MAGENTA = (255, 0, 255)


def icon_picture(size):
    """A blue document with three trace lines in level colours."""
    px = [[None] * size for _ in range(size)]
    s = size / 16.0
    for y in range(size):
        for x in range(size):
            if int(2 * s) <= x < int(14 * s) and int(1 * s) <= y < int(15 * s):
                edge = x in (int(2 * s), int(14 * s) - 1) or y in (int(1 * s), int(15 * s) - 1)
                px[y][x] = (30, 70, 150, 255) if edge else (240, 246, 255, 255)
    lines = [((0, 120, 215), 4), ((240, 160, 0), 7), ((210, 30, 30), 10)]
    for colour, row in lines:
        for y in range(int(row * s), int(row * s) + max(1, int(s))):
            for x in range(int(4 * s), int(12 * s)):
                px[y][x] = colour + (255,)
    return px


def icon_entry(size):
    px = icon_picture(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            p = px[y][x] or (0, 0, 0, 0)
            xor += bytes((p[2], p[1], p[0], p[3]))
    mask_stride = ((size + 31) // 32) * 4
    andmask = bytearray()
    for y in reversed(range(size)):
        row = bytearray(mask_stride)
        for x in range(size):
            if px[y][x] is None:
                row[x // 8] |= 0x80 >> (x % 8)
        andmask += row
    return header + bytes(xor) + bytes(andmask)


def write_icon(path):
    entries = [icon_entry(16), icon_entry(32)]
    out = bytearray(struct.pack("<HHH", 0, 1, len(entries)))
    offset = 6 + 16 * len(entries)
    for size, data in zip((16, 32), entries):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in entries:
        out += data
    path.write_bytes(bytes(out))


def write_drag(path):
    width, height = 32, 16
    px = [[MAGENTA] * width for _ in range(height)]
    for x in range(1, 15):  # image 0: one list row
        for y in range(6, 10):
            px[y][x] = (0, 120, 215) if y in (6, 9) or x in (1, 14) else (220, 235, 250)
    for k in range(3):  # image 1: three stacked rows, the dragged selection
        top = 2 + 4 * k
        for x in range(17, 31):
            for y in range(top, top + 3):
                px[y][x] = (30, 70, 150) if y == top or x in (17, 30) else (200, 220, 245)
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for y in reversed(range(height)):
        row = bytearray()
        for x in range(width):
            r, g, b = px[y][x]
            row += bytes((b, g, r))
        row += bytes(stride - len(row))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    path.write_bytes(head + info + bytes(pixels))


if __name__ == "__main__":
    write_icon(ROOT / "res" / "app.ico")
    write_drag(ROOT / "res" / "drag.bmp")
