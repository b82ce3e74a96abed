#!/usr/bin/python3
"""Writes res/toolbar.bmp: the five 16x16 pictures of the toolbar's
non-separator buttons, in button order: 0 the view-strip placeholder (the
strip covers it), 1 the file drop-down (an open folder), 2 the tools
drop-down (a wrench), 3 the quick-filter placeholder (the box covers it),
4 the quick-filter button (a funnel).

The build never runs this; the bitmap is committed.

    /usr/bin/python3 scripts/gen-toolbar-bmp.py
"""
import pathlib

from bmpstrip import Strip

ROOT = pathlib.Path(__file__).resolve().parent.parent
OUT = ROOT / "res" / "toolbar.bmp"

SIZE = 16
COUNT = 5
EDGE = (90, 90, 90)
WHITE = (255, 255, 255)
FOLDER = (230, 180, 60)
FOLDER_DARK = (170, 120, 30)
STEEL = (110, 120, 140)
FUNNEL = (60, 120, 220)
FUNNEL_EDGE = (20, 60, 140)


def tabs_placeholder(s, i):
    s.rect(i, 1, 5, 14, 12, EDGE)
    s.rect(i, 2, 6, 13, 11, WHITE)
    s.rect(i, 2, 3, 6, 5, EDGE)


def open_folder(s, i):
    s.rect(i, 1, 3, 6, 4, FOLDER_DARK)
    s.rect(i, 1, 5, 13, 13, FOLDER_DARK)
    for y in range(7, 14):
        s.rect(i, 3 + (13 - y) // 3, y, 15 - (13 - y) // 3, y, FOLDER)


def wrench(s, i):
    for d in range(9):
        s.rect(i, 2 + d, 12 - d, 3 + d, 13 - d, STEEL)
    s.disc(i, 12, 4, 3.2, STEEL)
    s.disc(i, 13, 3, 1.3, (255, 0, 255))


def box_placeholder(s, i):
    s.rect(i, 0, 4, 15, 11, EDGE)
    s.rect(i, 1, 5, 14, 10, WHITE)


def funnel(s, i):
    s.rect(i, 1, 2, 14, 3, FUNNEL_EDGE)
    for y in range(4, 9):
        s.rect(i, 1 + (y - 3), y, 14 - (y - 3), y, FUNNEL)
    s.rect(i, 6, 9, 9, 14, FUNNEL_EDGE)


def main():
    strip = Strip(COUNT, SIZE)
    for index, painter in enumerate([tabs_placeholder, open_folder, wrench, box_placeholder, funnel]):
        painter(strip, index)
    strip.write_bmp(OUT)


if __name__ == "__main__":
    main()
