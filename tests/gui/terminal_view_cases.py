"""The console's terminal painting on a virtual display: entries drawn through
draw-face by the console face's drawing actor, one per text row, and moved
by row scrolling.

Usage: terminal_view_cases.py KIV"""

import sys
import time

from xharness import PATIENCE, Program, run_cases

# A terminal made as the console window makes its own, on a rich-text face
# 5 rows high whose drawing actor paints it. Entry k is k letters "W" long,
# so each row's ink ends where its entry's text does.
TERMINAL = r"""
ctx: make object! compose/only [
    cfg: none
    font: make font! [name: "DejaVu Sans Mono" size: 11 color: 0.0.0]
    caret-clr: 0.0.0.1
    caret-rate: 2
    scroller: make scroller! [position: 1 page-size: 1 min-size: 1 max-size: 2]
    focused?: true
    console: make face! [
        type: 'rich-text offset: 0x0 size: 400x85 tabs: none line-spacing: 'default handles: none
        actors: object [on-drawing: func [face event] [ctx/terminal/paint]]
    ]
    caret: make face! [type: 'base color: 0.0.0.1 offset: 0x0 size: 1x17 enabled?: false]
    win: none
    terminal: make object! (append copy/deep gui-terminal-core copy/deep gui-terminal-view)
]
t: ctx/terminal
ctx/console/font: ctx/font
ctx/win: make face! [
    type: 'window text: "term-view" offset: 100x100 size: 400x85 pane: reduce [ctx/console ctx/caret]
    actors: object [
        on-key: func [face event] [
            if event/key = #"u" [
                t/scroll-lines 3
                system/view/platform/redraw ctx/console
                print "scrolled"
            ]
        ]
    ]
]
view/no-wait ctx/win
t/box/data: make block! 200
ctx/scroller/parent: ctx/console
t/update-cfg ctx/font none
t/resize ctx/console/size
t/adjust-console-size ctx/console/size
repeat k 8 [t/vprint append/dup copy "" #"W" k true]
t/refresh/force
print ["metrics" t/line-h t/char-width t/page-cnt t/top t/scroll-y]
print "ready"
do-events
"""

OX, OY = 100, 100


def ink_ends(display, rows, line_h):
    """The x of the rightmost dark pixel in each text row, None for a row
    without ink."""
    pixels = display.pixels(OX, OY, 400, rows * line_h)
    ends = []
    for r in range(rows):
        xs = [x for y in range(r * line_h, (r + 1) * line_h) for x, p in enumerate(pixels[y]) if max(p) < 128]
        ends.append(max(xs) if xs else None)
    return ends


def wait_rows(display, entries, line_h, char_w, timeout=8):
    """Waits until row i ends where the text of entry entries[i] does."""
    end = time.time() + timeout * PATIENCE
    while True:
        got = ink_ends(display, len(entries), line_h)
        ok = all(e is not None and 3 + (k - 1) * char_w < e <= 3 + k * char_w + 2 for e, k in zip(got, entries))
        if ok:
            return
        if time.time() > end:
            raise AssertionError(f"row ink ends {got} for entries {entries} (char width {char_w})")
        time.sleep(0.1)


def painted_rows(display, kiv):
    prog = Program(display, kiv, TERMINAL)
    try:
        before = prog.expect("ready")
        metrics = [l for l in before if l.startswith("metrics")][0].split()
        line_h, char_w, page = int(metrics[1]), float(metrics[2]), int(metrics[3])
        assert page == 5 and metrics[4:] == ["4", "0"], metrics
        # The end of the buffer: entries 4 to 8 fill the five rows.
        wait_rows(display, [4, 5, 6, 7, 8], line_h, char_w)
        wid = display.window("term-view")
        display.focus(wid)
        display.xdotool("key", "u")
        prog.expect("scrolled")
        # Three rows back: entries 1 to 5.
        wait_rows(display, [1, 2, 3, 4, 5], line_h, char_w)
    finally:
        prog.kill()


if __name__ == "__main__":
    run_cases([painted_rows], sys.argv)
