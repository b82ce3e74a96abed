#!/usr/bin/python3
"""Writes res/tabs.bmp: the three 16x16 pictures the tab strips share, in one
strip, 24 bits per pixel: 0 a view (a sheet of list lines), 1 the add-tab
button (a sheet with a green plus), 2 a document (a page with a folded
corner).

The build never runs this; the bitmap is committed. The background is
magenta and the strip's top-left pixel has it, because the image list takes
that pixel's colour as the transparent one. Only the standard library is used.

    /usr/bin/python3 scripts/gen-tabs-bmp.py
"""
import pathlib

import bmpstrip
from bmpstrip import MASK

ROOT = pathlib.Path(__file__).resolve().parent.parent
OUT = ROOT / "res" / "tabs.bmp"

SIZE = 16
COUNT = 3
WHITE = (255, 255, 255)
EDGE = (90, 90, 90)

# Colours the tests look for stay named here and in the test.
VIEW_LINE = (40, 100, 200)
ADD_PLUS = (30, 150, 50)
DOC_FOLD = (200, 140, 40)


class Strip(bmpstrip.Strip):
    def sheet(self, image, left, top, right, bottom):
        self.rect(image, left, top, right, bottom, EDGE)
        self.rect(image, left + 1, top + 1, right - 1, bottom - 1, WHITE)


def view_sheet(s, i):
    s.sheet(i, 2, 1, 13, 14)
    for y in (4, 7, 10):
        s.rect(i, 4, y, 11, y, VIEW_LINE)


def add_sheet(s, i):
    s.sheet(i, 1, 3, 10, 14)
    # The plus stands out at the top right, over the sheet's corner.
    s.rect(i, 9, 1, 11, 9, ADD_PLUS)
    s.rect(i, 6, 4, 14, 6, ADD_PLUS)


def document_page(s, i):
    s.sheet(i, 3, 1, 12, 14)
    # Folded top-right corner.
    for d in range(4):
        s.rect(i, 9 + d, 1, 12, 1 + d, MASK)
    for d in range(4):
        s.put(i, 9 + d, 1 + d, EDGE)
    s.rect(i, 9, 2, 9, 4, DOC_FOLD)
    s.rect(i, 10, 4, 11, 4, DOC_FOLD)
    s.put(i, 10, 3, DOC_FOLD)
    for y in (7, 9, 11):
        s.rect(i, 5, y, 10, y, EDGE)


def main():
    s = Strip(COUNT, SIZE)
    view_sheet(s, 0)
    add_sheet(s, 1)
    document_page(s, 2)
    s.write_bmp(OUT)


if __name__ == "__main__":
    main()
