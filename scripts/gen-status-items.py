#!/usr/bin/python3
"""Writes res/status_items.bmp: the nine 16x16 pictures of the status bar's
items in one strip (filter, process, level, then debug, info, warning, error
and PII, then the filter item's picture while the shown view is filtered),
24 bits per pixel.

The build never runs this; the bitmap is committed. The background is
magenta and the strip's top-left pixel has it, because the image list takes
that pixel's colour as the transparent one. Only the standard library is used.

    /usr/bin/python3 scripts/gen-status-items.py
"""
import pathlib

import bmpstrip
from bmpstrip import MASK, Strip

ROOT = pathlib.Path(__file__).resolve().parent.parent
OUT = ROOT / "res" / "status_items.bmp"

SIZE = 16
COUNT = 9
WHITE = (255, 255, 255)

# Colours the tests look for stay named here and in the test.
FILTER_FILL = (60, 120, 220)
FILTER_EDGE = (20, 60, 140)
FILTER_ON_FILL = (240, 140, 0)
FILTER_ON_EDGE = (150, 70, 0)


def filter_funnel(s, i, fill=FILTER_FILL, edge=FILTER_EDGE):
    # A funnel: a trapezoid narrowing from 14 to 4 pixels, then a stem.
    for y in range(2, 8):
        left, right = y - 1, 16 - y
        s.rect(i, left, y, right, y, fill)
        s.put(i, left, y, edge)
        s.put(i, right, y, edge)
    s.rect(i, 1, 2, 14, 2, edge)
    s.rect(i, 6, 8, 9, 13, fill)
    s.rect(i, 6, 8, 6, 13, edge)
    s.rect(i, 9, 8, 9, 13, edge)
    s.rect(i, 6, 13, 9, 13, edge)


def filter_funnel_on(s, i):
    filter_funnel(s, i, FILTER_ON_FILL, FILTER_ON_EDGE)


def process_window(s, i):
    edge = (64, 64, 64)
    s.rect(i, 1, 2, 14, 13, edge)
    s.rect(i, 2, 3, 13, 4, (0, 100, 180))
    s.rect(i, 2, 5, 13, 12, WHITE)
    s.rect(i, 4, 7, 9, 7, (128, 128, 128))
    s.rect(i, 4, 9, 11, 9, (128, 128, 128))


def level_bars(s, i):
    for n, colour in enumerate([(70, 160, 70), (230, 180, 0), (210, 50, 40)]):
        left = 2 + n * 4
        s.rect(i, left, 13 - 4 * (n + 1), left + 2, 13, colour)


def round_badge(s, i, colour):
    s.disc(i, 8, 8, 7, colour)


def debug_bug(s, i):
    body = (110, 110, 110)
    for x, y in ((5, 1), (6, 2), (11, 1), (10, 2)):  # antennae
        s.put(i, x, y, body)
    s.disc(i, 8, 4, 2.2, body)
    s.disc(i, 8, 9.5, 4.5, body)
    for y in (6, 9, 12):  # legs
        s.rect(i, 2, y, 3, y, body)
        s.rect(i, 12, y, 13, y, body)
    s.rect(i, 8, 6, 8, 13, WHITE)


def info_badge(s, i):
    round_badge(s, i, (30, 110, 210))
    s.rect(i, 7, 3, 8, 4, WHITE)
    s.rect(i, 7, 6, 8, 12, WHITE)


def warning_triangle(s, i):
    fill, edge = (245, 195, 0), (150, 110, 0)
    for y in range(1, 15):
        half = (y - 1) * 7 // 13
        s.rect(i, 7 - half, y, 8 + half, y, fill)
        s.put(i, 7 - half, y, edge)
        s.put(i, 8 + half, y, edge)
    s.rect(i, 1, 14, 14, 14, edge)
    s.rect(i, 7, 5, 8, 10, (40, 40, 40))
    s.rect(i, 7, 12, 8, 12, (40, 40, 40))


def error_badge(s, i):
    round_badge(s, i, (210, 40, 40))
    for d in range(6):
        for w in (0, 1):
            s.put(i, 5 + d + w, 5 + d, WHITE)
            s.put(i, 10 - d + w, 5 + d, WHITE)


def pii_person(s, i):
    colour = (140, 60, 170)
    s.disc(i, 8, 5, 3, colour)
    for y in range(9, 15):
        half = min(6, 3 + (y - 9))
        s.rect(i, 8 - half, y, 7 + half, y, colour)


PAINTERS = [filter_funnel, process_window, level_bars, debug_bug, info_badge, warning_triangle, error_badge,
            pii_person, filter_funnel_on]


def main():
    strip = Strip(COUNT, SIZE)
    for index, painter in enumerate(PAINTERS):
        painter(strip, index)
    strip.write_bmp(OUT)


if __name__ == "__main__":
    main()
