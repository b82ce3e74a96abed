"""A strip of square pictures and its 24-bit BMP writer, shared by the
bitmap generators under scripts/ (standard library only).

The background is magenta and the strip's top-left pixel keeps it, because
the image lists take that pixel's colour as the transparent one.
"""
import struct

MASK = (255, 0, 255)


class Strip:
    def __init__(self, count, size=16):
        self.size = size
        self.width = size * count
        self.pixels = [[MASK] * self.width for _ in range(size)]

    def put(self, image, x, y, colour):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.pixels[y][image * self.size + x] = colour

    def rect(self, image, left, top, right, bottom, colour):
        """Fills [left, right] x [top, bottom], both ends included."""
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                self.put(image, x, y, colour)

    def disc(self, image, cx, cy, radius, colour):
        for y in range(self.size):
            for x in range(self.size):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= radius * radius:
                    self.put(image, x, y, colour)

    def write_bmp(self, path):
        assert self.pixels[0][0] == MASK, "the top-left pixel must stay transparent"
        row_bytes = (self.width * 3 + 3) & ~3
        image = bytearray()
        for row in reversed(self.pixels):  # bottom row first
            line = bytearray()
            for r, g, b in row:
                line += bytes((b, g, r))
            line += b"\0" * (row_bytes - len(line))
            image += line
        header_size = 14 + 40
        file_header = struct.pack("<2sIHHI", b"BM", header_size + len(image), 0, 0, header_size)
        info_header = struct.pack("<IiiHHIIiiII", 40, self.width, self.size, 1, 24, 0, len(image),
                                  2835, 2835, 0, 0)
        path.write_bytes(file_header + info_header + bytes(image))
