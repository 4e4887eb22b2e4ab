"""Drawing in windows on a virtual display: a face's draw block painted on
screen gives the same pixels as the block drawn into an image without a
display; a face's image; an actor drawing on its face while it paints; a
face captured into an image.

Usage: draw_cases.py KIV"""

import sys
import time

from xharness import Program, run_cases

RED, BLUE, WHITE = (255, 0, 0), (0, 0, 255), (255, 255, 255)

SCRIPT = r"""
blk: [
    pen 0.0.0 line-width 3 fill-pen 255.0.0 box 5x5 40x30 8
    fill-pen linear 0.0.255 0.255.0 circle 65x25 15
    pen off fill-pen 255.255.0 triangle 10x45 50x50 30x70
    pen 0.0.255 line-width 2 fill-pen off spline 70x50 90x70 110x50 closed
    pen off fill-pen 0.128.0 shadow 3x3 4 0 0.0.0.128 box 80x5 110x20
    shadow off image pic 5x75 crop 0x0 30x5
]
pic: draw 30x20 [pen off fill-pen 255.0.0 box 0x0 15x10 fill-pen 0.0.255 box 15x10 30x20]
b1: make face! [type: 'base offset: 10x10 size: 120x80 color: 255.255.255 draw: blk]
b2: make face! [type: 'base offset: 140x10 size: 30x20 image: pic]
b3: make face! [
    type: 'base offset: 140x40 size: 40x40 color: 255.255.255
    actors: object [
        on-drawing: func [face event] [
            system/view/platform/draw-face face [pen off fill-pen 0.0.255 box 5x5 25x25]
        ]
    ]
]
b4: make face! [
    type: 'base offset: 0x0 size: 20x20 color: 255.255.255 visible?: false
    draw: [pen off fill-pen 0.0.255 box 0x0 10x10]
]
win: make face! [
    type: 'window text: "gtk-draw" offset: 100x100 size: 200x100 color: 200.200.200 pane: reduce [b1 b2 b3 b4]
    actors: object [
        on-key: func [face event] [
            if event/key = #"c" [
                cap: to image! b1
                print ["cap" cap/size mold/flat cap/rgb]
                hid: to image! b4
                print ["hidden" hid/size hid/(5x5) hid/(15x15)]
                print "captured"
            ]
            if event/key = #"s" [
                scr: to image! first system/view/screens
                print ["screen" scr/size scr/(131x131) scr/(106x106) scr/(91x91)]
            ]
        ]
    ]
]
ref: draw 120x80 blk
print ["ref" ref/size mold/flat ref/rgb]
view/no-wait win
print "ready"
do-events
print "done"
"""


def rgb_rows(line, tag):
    """The rows of (r, g, b) of a printed `tag WxH #{...}` line."""
    parts = line.split()
    assert parts[0] == tag, line
    w, h = (int(n) for n in parts[1].split("x"))
    data = bytes.fromhex(parts[2][2:-1])
    assert len(data) == w * h * 3, (len(data), w, h)
    return [[tuple(data[(y * w + x) * 3:(y * w + x) * 3 + 3]) for x in range(w)] for y in range(h)]


def differences(a, b, tolerance):
    out = []
    for y, (ra, rb) in enumerate(zip(a, b)):
        for x, (pa, pb) in enumerate(zip(ra, rb)):
            if max(abs(p - q) for p, q in zip(pa, pb)) > tolerance:
                out.append((x, y, pa, pb))
    return out


def wait_same(display, x, y, want, tolerance=1, timeout=60):
    end = time.time() + timeout
    while True:
        got = display.pixels(x, y, len(want[0]), len(want))
        bad = differences(got, want, tolerance)
        if not bad:
            return
        if time.time() > end:
            raise AssertionError("%d pixels differ (x, y, screen, image), first: %s" % (len(bad), bad[:8]))
        time.sleep(0.1)


def same_block_in_window_and_image(display, kiv):
    prog = Program(display, kiv, SCRIPT)
    try:
        before = prog.expect("ready", timeout=120)
        ref = rgb_rows([l for l in before if l.startswith("ref ")][0], "ref")
        wid = display.window("gtk-draw")
        display.focus(wid)
        ox, oy = 100, 100
        # The draw block on screen, pixel for pixel as in the image.
        wait_same(display, ox + 10, oy + 10, ref)
        # The face's image at its size; the actor's box on its face.
        got = display.pixels(ox + 140, oy + 10, 30, 20)
        assert got[2][2] == RED and got[15][25] == BLUE and got[15][5] not in (RED, BLUE), (got[2][2], got[15][5])
        got = display.pixels(ox + 140, oy + 40, 40, 40)
        assert got[10][10] == BLUE and got[30][30] == WHITE and got[2][2] == WHITE, (got[10][10], got[30][30])
        # The face captured into an image shows what the screen shows.
        display.xdotool("key", "c")
        lines = prog.expect("captured", timeout=120)
        # A face not on screen is rendered at its size.
        assert "hidden 20x20 0.0.255.0 255.255.255.0" in lines, lines[-1:]
        cap = rgb_rows([l for l in lines if l.startswith("cap ")][0], "cap")
        bad = differences(cap, ref, 1)
        assert not bad, "%d pixels differ (x, y, capture, image), first: %s" % (len(bad), bad[:8])
        # The screen captured whole.
        display.xdotool("key", "s")
        prog.expect("screen 1280x1024 255.0.0.0 200.200.200.0 0.0.0.0", timeout=60)
        display.close(wid)
        prog.expect("done")
        status, rest = prog.finish()
        assert status == 0, (status, rest)
    finally:
        prog.kill()


CASES = [same_block_in_window_and_image]

if __name__ == "__main__":
    run_cases(CASES, sys.argv)
