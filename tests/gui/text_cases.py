"""Text on a virtual display: a rich-text face with three styles painted in
its window, compared with the same face drawn into an image without one.

Usage: text_cases.py KIV"""

import base64
import sys
import time

from gtk_cases import WHITE, wait_pixels
from xharness import Program, run_cases

# The window sits at 100x100 on a display without a window manager; the face
# at 10x10 inside it. The first word is red and bold, the second on a blue
# backdrop, the third green, italic and underlined.
RICH = r"""
f: make face! [
    type: 'rich-text offset: 10x10 size: 300x40 color: 255.255.255 text: "Wwww Wwww Wwww"
    font: make font! [name: "DejaVu Sans" size: 14]
    data: [1x4 255.0.0 bold 6x4 backdrop 0.0.255 11x4 0.160.0 italic underline]
    tabs: none line-spacing: none handles: none
]
img: draw 300x40 compose [text 0x0 (f)]
print ["image" enbase img/rgb]
print ["words" caret-to-offset f 1 caret-to-offset f 5 caret-to-offset f 6 caret-to-offset f 10 caret-to-offset f 11 caret-to-offset f 15]
win: make face! [type: 'window text: "text-rich" offset: 100x100 size: 320x60 color: 255.255.255 pane: reduce [f]]
view/no-wait win
print "ready"
do-events
"""

W, H = 300, 40


def words(line):
    """The x of each word's start and end from the printed caret points."""
    nums = [float(t.strip("(),")) for t in line.split()[1:]]
    xs = nums[0::2]
    return [(int(xs[i]), int(xs[i + 1])) for i in range(0, 6, 2)]


def colours_in(pixels, x0, x1, y0=0, y1=H):
    return [pixels[y * W + x] for y in range(y0, y1) for x in range(x0, x1)]


def reddish(p):
    return p[0] > p[1] + 60 and p[0] > p[2] + 60


def greenish(p):
    return p[1] > p[0] + 40 and p[1] > p[2] + 40


def blue(p):
    return p == (0, 0, 255)


def rich_text_styles(display, kiv):
    prog = Program(display, kiv, RICH)
    try:
        printed = {line.split(" ", 1)[0]: line for line in prog.expect("ready", timeout=15)}
        raw = base64.b64decode(printed["image"].split(" ", 1)[1])
        image = [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]
        spans = words(printed["words"])
        ox, oy = 110, 110
        wait_pixels(display, [(ox + spans[1][0] + 1, oy + 1, (0, 0, 255))])
        screen = [p for row in display.pixels(ox, oy, W, H) for p in row]
        # Each style where its range is, and not elsewhere.
        (a0, a1), (b0, b1), (c0, c1) = spans
        for name, pixels in (("screen", screen), ("image", image)):
            first, second, third = colours_in(pixels, a0, a1), colours_in(pixels, b0, b1), colours_in(pixels, c0, c1)
            assert sum(map(reddish, first)) > 20, name + ": no red in the first word"
            assert not any(map(reddish, second + third)), name + ": red past the first word"
            assert sum(map(blue, second)) > len(second) // 3, name + ": no backdrop behind the second word"
            assert not any(map(blue, first + third)), name + ": backdrop outside the second word"
            assert sum(map(greenish, third)) > 20, name + ": no green in the third word"
            # The underline: a run of green across most of the third word.
            rows = [sum(greenish(pixels[y * W + x]) for x in range(c0, c1)) for y in range(H)]
            assert max(rows) > (c1 - c0) * 3 // 4, name + ": no underline under the third word"
        # The window shows what the image holds, but for rounding.
        differ = sum(1 for s, i in zip(screen, image) if max(abs(s[k] - i[k]) for k in range(3)) > 16)
        assert differ == 0, f"{differ} pixels differ between the window and the image"
    finally:
        prog.kill()


# One font shared by a base face and a rich-text face: changing its size
# repaints both.
SHARED_FONT = r"""
fnt: make font! [name: "DejaVu Sans" size: 8]
b: make face! [type: 'base offset: 0x0 size: 300x50 color: 255.255.255 text: "WWW" font: fnt]
f: make face! [type: 'rich-text offset: 0x50 size: 300x50 color: 255.255.255 text: "WWW" font: fnt]
win: make face! [
    type: 'window text: "text-font" offset: 100x100 size: 300x100 color: 255.255.255 pane: reduce [b f]
    actors: object [on-key: func [face event] [if event/key = #"b" [fnt/size: 30 print "bigger"]]]
]
view/no-wait win
print "ready"
do-events
"""


def inked(display, x, y, w, h):
    return sum(1 for row in display.pixels(x, y, w, h) for p in row if p != WHITE)


def shared_font_size(display, kiv):
    prog = Program(display, kiv, SHARED_FONT)
    try:
        prog.expect("ready", timeout=15)
        wid = display.window("text-font")
        display.focus(wid)
        time.sleep(0.5)
        # The ink of each face grows many times over.
        before = inked(display, 100, 100, 300, 50), inked(display, 100, 150, 300, 50)
        assert min(before) > 0, f"no text before the change: {before}"
        display.xdotool("key", "b")
        prog.expect("bigger")
        end = time.time() + 8
        while True:
            after = inked(display, 100, 100, 300, 50), inked(display, 100, 150, 300, 50)
            if all(a > 4 * b for a, b in zip(after, before)):
                break
            assert time.time() < end, f"ink of the base and rich-text faces before {before}, after {after}"
            time.sleep(0.2)
    finally:
        prog.kill()


ALIGNED = r"""
f: make font! [name: "DejaVu Sans" size: 14]
row: func [y p] [make face! [type: 'text offset: as-pair 0 y size: 300x40 text: "Wide" font: f para: p]]
win: make face! [
    type: 'window text: "text-align" offset: 100x100 size: 300x240 color: 255.255.255
    pane: reduce [
        row 0 none
        row 40 make para! [align: 'center]
        row 80 make para! [align: 'right]
        make face! [type: 'base offset: 0x120 size: 300x60 color: 255.255.255 text: "Wide" font: f]
        make face! [
            type: 'base offset: 0x180 size: 300x60 color: 255.255.255 text: "Wide" font: f
            para: make para! [align: 'right v-align: 'bottom]
        ]
    ]
]
view/no-wait win
print "ready"
do-events
"""


def ink_box(rows):
    """Left, right, top and bottom of the non-white pixels."""
    xs = [x for row in rows for x, p in enumerate(row) if p != WHITE]
    ys = [y for y, row in enumerate(rows) if any(p != WHITE for p in row)]
    return min(xs), max(xs), min(ys), max(ys)


def own_text_alignment(display, kiv):
    """Text and base faces place their own text by their para: text faces
    left and in the middle by default, base faces centred."""
    prog = Program(display, kiv, ALIGNED)
    try:
        prog.expect("ready", timeout=15)
        display.focus(display.window("text-align"))
        time.sleep(0.5)
        bands = [ink_box(display.pixels(100, 100 + y, 300, h)) for y, h in ((0, 40), (40, 40), (80, 40), (120, 60), (180, 60))]
        left, centre, right, base, corner = bands
        width = left[1] - left[0]
        assert left[0] < 4, bands
        assert abs((centre[0] + centre[1]) / 2 - 150) <= 2 and centre[1] - centre[0] == width, bands
        assert right[1] > 294 and right[1] - right[0] == width, bands
        assert abs((base[0] + base[1]) / 2 - 150) <= 2 and abs((base[2] + base[3]) / 2 - 30) <= 3, bands
        assert corner[1] > 294 and corner[3] > 52, bands
        # Left text stands in the middle of its row.
        assert abs((left[2] + left[3]) / 2 - 20) <= 3, bands
    finally:
        prog.kill()


GROUP = r"""
win: make face! [
    type: 'window text: "group-frame" offset: 100x100 size: 200x120 color: 255.255.255
    pane: reduce [make face! [
        type: 'group-box offset: 10x10 size: 180x100 text: "Caption"
        font: make font! [name: "DejaVu Sans" size: 12]
    ]]
]
view/no-wait win
print "ready"
do-events
"""


def group_box_frame(display, kiv):
    """A group box draws a frame whose top edge runs through its caption."""
    prog = Program(display, kiv, GROUP)
    try:
        prog.expect("ready", timeout=15)
        display.focus(display.window("group-frame"))
        time.sleep(0.5)
        rows = display.pixels(110, 110, 180, 100)
        column = [rows[y][170] for y in range(100)]
        top = next(y for y, p in enumerate(column) if p != WHITE)
        assert 3 <= top <= 12, column
        assert rows[60][0] != WHITE and rows[99][90] != WHITE and rows[60][179] != WHITE, "frame sides"
        assert rows[60][90] == WHITE, "inside stays clear"
        # The caption breaks the top edge and stands in from the left.
        dark = [x for y in range(top + 8) for x in range(120) if max(rows[y][x]) < 100]
        assert dark and min(dark) >= 8, dark
        assert rows[top][3] != WHITE and rows[top][7] == WHITE, rows[top][:12]
    finally:
        prog.kill()


CASES = [rich_text_styles, shared_font_size, own_text_alignment, group_box_frame]

if __name__ == "__main__":
    run_cases(CASES, sys.argv)
