#!/usr/bin/env python3
"""The twin of bench_draw.cpp: the same 10,000 boxes, filled and stroked,
with Python's cairo binding into an 800x600 image, in ms (best of 3)."""
import time

import cairo

W, H, BOXES = 800, 600, 10000


def boxes():
    x = 12345
    out = []

    def nxt():
        nonlocal x
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        return (x >> 8) & 0xFFFF

    for _ in range(BOXES):
        a, b, w, h = nxt() % (W - 40), nxt() % (H - 40), nxt() % 40, nxt() % 40
        out.append((a, b, w, h))
    return out


rects = boxes()
best = float("inf")
for run in range(3):
    surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, W, H)
    cr = cairo.Context(surface)
    cr.set_source_rgb(1, 1, 1)
    cr.paint()
    start = time.perf_counter()
    cr.set_line_width(1)
    for a, b, w, h in rects:
        cr.rectangle(a, b, w, h)
        cr.set_source_rgb(200 / 255, 40 / 255, 40 / 255)
        cr.fill_preserve()
        cr.set_source_rgb(0, 0, 0)
        cr.stroke()
    surface.flush()
    best = min(best, time.perf_counter() - start)
print(f"Python cairo: {BOXES} boxes into {W}x{H}: {best * 1000:.1f} ms (best of 3)")
