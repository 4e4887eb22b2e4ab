#!/usr/bin/env python3
"""The twin of bench_text.cpp: the same 10,000 text runs with Python's cairo
binding into an 800x600 image, in ms (best of 3). The binding has no pango:
it draws through cairo's own text calls, which neither shape nor lay out, so
its time is a floor for what a laid-out run costs."""
import time

import cairo

W, H, RUNS = 800, 600, 10000


def runs():
    x = 12345
    out = []

    def nxt():
        nonlocal x
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        return (x >> 8) & 0xFFFF

    for i in range(RUNS):
        a, b = nxt() % (W - 60), nxt() % (H - 20)
        out.append((a, b, f"run {i}"))
    return out


items = runs()
best = float("inf")
for run in range(3):
    surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, W, H)
    cr = cairo.Context(surface)
    cr.set_source_rgb(1, 1, 1)
    cr.paint()
    start = time.perf_counter()
    cr.select_font_face("DejaVu Sans")
    cr.set_font_size(10 * 96 / 72)
    cr.set_source_rgb(0, 0, 0)
    for a, b, text in items:
        cr.move_to(a, b + 13)
        cr.show_text(text)
    surface.flush()
    best = min(best, time.perf_counter() - start)
print(f"Python cairo: {RUNS} text runs into {W}x{H}: {best * 1000:.1f} ms (best of 3)")
