#!/usr/bin/env python3
"""The twin of bench_draw.cpp: the same 10,000 boxes, filled and stroked, and
the same 10,000 text runs, with Python's cairo binding into an 800x600 image,
in ms (best of 3). The binding has no pango: text goes through cairo's own
text calls, which neither shape nor lay out, so that time is a floor for
what a laid-out run costs."""
import time

import cairo

W, H, COUNT = 800, 600, 10000


def walk():
    """The placing walk bench_draw.cpp uses."""
    x = 12345
    while True:
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        yield (x >> 8) & 0xFFFF


def boxes():
    r = walk()
    return [(next(r) % (W - 40), next(r) % (H - 40), next(r) % 40, next(r) % 40) for _ in range(COUNT)]


def runs():
    r = walk()
    return [(next(r) % (W - 60), next(r) % (H - 20), f"run {i}") for i in range(COUNT)]


def draw_boxes(cr, rects):
    cr.set_line_width(1)
    for a, b, w, h in rects:
        cr.rectangle(a, b, w, h)
        cr.set_source_rgb(200 / 255, 40 / 255, 40 / 255)
        cr.fill_preserve()
        cr.set_source_rgb(0, 0, 0)
        cr.stroke()


def draw_runs(cr, items):
    cr.select_font_face("DejaVu Sans")
    cr.set_font_size(10 * 96 / 72)
    cr.set_source_rgb(0, 0, 0)
    for a, b, text in items:
        cr.move_to(a, b + 13)
        cr.show_text(text)


def best_ms(draw, items):
    best = float("inf")
    for _ in range(3):
        surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, W, H)
        cr = cairo.Context(surface)
        cr.set_source_rgb(1, 1, 1)
        cr.paint()
        start = time.perf_counter()
        draw(cr, items)
        surface.flush()
        best = min(best, time.perf_counter() - start)
    return best * 1000


print(f"Python cairo: {COUNT} boxes into {W}x{H}: {best_ms(draw_boxes, boxes()):.1f} ms (best of 3)")
print(f"Python cairo: {COUNT} text runs into {W}x{H}: {best_ms(draw_runs, runs()):.1f} ms (best of 3)")
