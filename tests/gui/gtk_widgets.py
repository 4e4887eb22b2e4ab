"""Native widgets, menus and requesters on a virtual display: real input
through xdotool and the events it raises, with `data` and `selected` as the
actors see them.

Usage: gtk_widgets.py KIV"""

import os
import sys
import tempfile
import time

from xharness import Program, run_cases
from gtk_cases import BLUE, RED, collect, wait_pixels

# The window's client area starts at 100x100 on a display without a window
# manager; every face below is placed from there.
WIDGETS = r"""
log: func [face event] [
    print rejoin [
        "ev " event/type " " face/extra " data=" mold face/data " sel=" mold face/selected
        " picked=" mold event/picked
    ]
]
acts: object [
    on-click: func [face event] [log face event]
    on-change: func [face event] [log face event]
    on-select: func [face event] [log face event]
]
mk: func [spec] [make face! append copy spec [actors: acts]]
btn: mk [type: 'button offset: 10x10 size: 80x30 text: "Go" extra: "btn"]
chk: mk [type: 'check offset: 10x50 size: 80x25 text: "Tri" data: false flags: [tri-state] extra: "chk"]
tgl: mk [type: 'toggle offset: 100x10 size: 80x30 text: "T" data: false extra: "tgl"]
rad: mk [type: 'radio offset: 100x50 size: 80x25 text: "R" data: false extra: "rad"]
fld: mk [type: 'field offset: 10x90 size: 150x25 options: [hint "type here"] extra: "fld"]
lst: mk [type: 'text-list offset: 200x10 size: 100x80 data: ["one" 2 "two" "three"] extra: "lst"]
sld: mk [type: 'slider offset: 10x130 size: 200x20 data: 0.0 extra: "sld"]
are: mk [type: 'area offset: 10x160 size: 150x50 extra: "are"]
dl: mk [type: 'drop-list offset: 200x100 size: 100x25 data: ["red" "green" "blue"] extra: "dl"]
win: make face! [
    type: 'window text: "gtk-widgets" offset: 100x100 size: 320x230
    pane: reduce [btn chk tgl rad fld lst sld are dl]
    actors: object [
        on-key: func [face event] [
            switch event/key [
                #"0" [lst/selected: 0 print ["list" mold lst/selected]]
                #"2" [insert at lst/data 3 "new" print ["list" mold lst/data]]
            ]
        ]
    ]
]
view/no-wait win
print "ready"
do-events
print "done"
"""


def click(display, x, y, button="1"):
    display.xdotool("mousemove", "--sync", str(x), str(y))
    display.xdotool("click", button)


def widgets(display, kiv):
    prog = Program(display, kiv, WIDGETS)
    try:
        prog.expect("ready")
        wid = display.window("gtk-widgets")
        display.focus(wid)
        ox, oy = 100, 100
        time.sleep(0.5)
        click(display, ox + 50, oy + 25)
        assert collect(prog, 1) == ['ev click btn data=none sel=none picked=0'], prog.seen
        # The check with three states goes round them.
        for want in ["true", "none", "false"]:
            click(display, ox + 20, oy + 62)
            got = collect(prog, 1)
            assert got == [f'ev change chk data={want} sel=none picked=0'], got
        click(display, ox + 140, oy + 25)
        assert collect(prog, 1) == ['ev change tgl data=true sel=none picked=0']
        # A radio checks itself when pressed and raises `click`, which the
        # global radio handler passes on as `change`; pressed again it stays
        # as it is.
        click(display, ox + 110, oy + 62)
        got = collect(prog, 1)
        assert got == ['ev change rad data=true sel=none picked=0'], got
        click(display, ox + 110, oy + 62)
        collect(prog, 0)
        # Inserting a string before "two" (block index 2) adds its row in place.
        display.xdotool("key", "2")
        got = collect(prog, 1)
        assert got == ['list ["one" 2 "new" "two" "three"]'], got
        display.xdotool("key", "0")
        assert collect(prog, 1) == ['list 0']
        # Typing into the field: `change` for each character, the text
        # read back into `data` through the Kiv side.
        click(display, ox + 80, oy + 102)
        display.xdotool("type", "hi")
        got = collect(prog, 2)
        assert [g.split(" data=")[0] for g in got] == ['ev change fld'] * 2, got
        # The list skips the integer: the third row is "two".
        click(display, ox + 250, oy + 10 + 50)
        got = collect(prog, 2)
        assert got == ['ev select lst data=["one" 2 "new" "two" "three"] sel=0 picked=3',
                       'ev change lst data=["one" 2 "new" "two" "three"] sel=3 picked=3'], got
        # Picking the same row again raises nothing.
        click(display, ox + 250, oy + 10 + 50)
        collect(prog, 0)
        # The slider's position comes back as a fraction.
        click(display, ox + 110, oy + 140)
        got = collect(prog, 1, timeout=5)
        assert got[0].startswith("ev change sld data=0.") or got[0].startswith("ev change sld data=0.5"), got
        frac = float(got[0].split("data=")[1].split()[0])
        assert 0.3 < frac < 0.7, got
        click(display, ox + 80, oy + 185)
        display.xdotool("type", "x")
        got = collect(prog, 1)
        assert got[0].startswith("ev change are"), got
        # The drop-list from the keyboard: it opens, moves and picks.
        click(display, ox + 250, oy + 112)
        time.sleep(0.5)
        display.xdotool("key", "Down")
        display.xdotool("key", "Return")
        got = collect(prog, 2)
        assert got[0].startswith('ev select dl') and got[1].startswith('ev change dl data=["red" "green" "blue"] sel='), got
        display.close(wid)
        prog.expect("done")
        assert prog.finish()[0] == 0
    finally:
        prog.kill()


MENUS = r"""
target: make face! [
    type: 'base offset: 20x20 size: 100x60 color: 0.0.255
    menu: ["Copy" copy --- "Paste" paste "Plain"]
    actors: object [on-menu: func [face event] [print ["ctx" mold event/picked event/offset]]]
]
win: make face! [
    type: 'window text: "gtk-menus" offset: 100x100 size: 200x120
    menu: ["File" ["Open" open "Quit" quit]]
    pane: reduce [target make face! [type: 'base offset: 0x100 size: 200x20 color: 0.255.0]]
    actors: object [
        on-menu: func [face event] [if same? event/face face [print ["bar" mold event/picked]]]
        on-key: func [face event] [if event/key = #"m" [face/menu: none print "no bar"]]
    ]
]
view/no-wait win
print "ready"
do-events
print "done"
"""


def menus(display, kiv):
    prog = Program(display, kiv, MENUS)
    try:
        prog.expect("ready")
        wid = display.window("gtk-menus")
        display.focus(wid)
        click(display, 115, 108)
        time.sleep(0.4)
        display.xdotool("key", "Down")
        display.xdotool("key", "Down")
        display.xdotool("key", "Return")
        assert collect(prog, 1) == ["bar quit"], prog.seen
        # The menu bar sits above the client area: find the base face below it.
        rows = display.pixels(130, 100, 1, 150)
        top = next(i for i, r in enumerate(rows) if r[0] == (0, 0, 255)) - 20
        assert 10 < top < 60, top
        # The client area keeps the window's size below the bar, and when
        # the bar goes the window shrinks by it.
        green = (0, 255, 0)
        assert display.pixel(130, 100 + top + 119) == green, display.pixels(130, 100 + top + 100, 1, 30)
        assert display.pixel(130, 100 + top + 120) != green
        # A window without a colour shows the theme's background.
        assert display.pixel(280, 100 + top + 50) not in ((0, 0, 0), (255, 255, 255)), display.pixel(280, 100 + top + 50)
        click(display, 130, 100 + top + 40, "3")
        time.sleep(0.4)
        display.xdotool("key", "Down")
        display.xdotool("key", "Down")
        display.xdotool("key", "Return")
        assert collect(prog, 1) == ["ctx paste (10, 20)"], prog.seen
        click(display, 130, 100 + top + 40, "3")
        time.sleep(0.4)
        for _ in range(3):
            display.xdotool("key", "Down")
        display.xdotool("key", "Return")
        assert collect(prog, 1) == ["ctx none (10, 20)"], prog.seen
        display.xdotool("key", "m")
        assert collect(prog, 1) == ["no bar"], prog.seen
        wait_pixels(display, [(130, 219, green), (130, 140, (0, 0, 255))])
        assert display.pixel(130, 220) != green
        display.close(wid)
        prog.expect("done")
        assert prog.finish()[0] == 0
    finally:
        prog.kill()


REQUESTERS = r"""
win: make face! [
    type: 'window text: "gtk-requesters" offset: 100x100 size: 200x120
    actors: object [
        on-key: func [face event] [
            switch event/key [
                #"f" [print ["file" mold system/view/platform/request-file "Pick a file" none none false false]]
                #"m" [print ["multi" mold system/view/platform/request-file "Pick files" none none false true]]
                #"d" [print ["dir" mold system/view/platform/request-dir "Pick a folder" %/tmp/ none false false]]
                #"x" [e: try [system/view/platform/request-file "x" none ["Kiv" 3] false false] print ["bad" e/id]]
                #"n" [
                    f: request-font/font make font! [name: "DejaVu Serif" size: 14 style: [bold italic]]
                    print ["font" f/name f/size mold f/style]
                ]
                #"c" [print ["font" mold request-font/mono]]
            ]
        ]
    ]
]
view/no-wait win
print "ready"
do-events
print "done"
"""


def requesters(display, kiv):
    prog = Program(display, kiv, REQUESTERS)
    folder = tempfile.mkdtemp(prefix="kivpick")
    path = os.path.join(folder, "picked.txt")
    open(path, "w").close()
    try:
        prog.expect("ready")
        wid = display.window("gtk-requesters")

        def pick(key, title, typed, presses=1):
            display.focus(wid)
            display.xdotool("key", key)
            dialog = display.window(title)
            display.focus(dialog)
            time.sleep(0.5)
            # The location entry first, then the path typed into it.
            display.xdotool("key", "ctrl+l")
            time.sleep(0.5)
            display.xdotool("type", "--delay", "20", typed)
            time.sleep(1.0)  # the location entry completes as it is typed
            for _ in range(presses):
                display.xdotool("key", "Return")
                time.sleep(0.3)

        pick("f", "Pick a file", path)
        prog.expect(f"file %{path}")
        pick("m", "Pick files", path)
        prog.expect(f"multi [%{path}]")
        # A folder: Return takes the typed folder into the entry, the
        # dialog's Select button answers it.
        pick("d", "Pick a folder", folder, 1)
        time.sleep(0.7)
        display.xdotool("key", "alt+s")
        prog.expect(f"dir %{folder}/")
        display.focus(wid)
        display.xdotool("key", "x")
        assert collect(prog, 1) == ["bad invalid-arg"]
        # The font requester opens on the font given; confirmed, it fills the
        # new font with that font's name, size and styles; cancelled, none.
        for key, answer, want in [("n", "Return", "font DejaVu Serif 14 [bold italic]"), ("c", "Escape", "font none")]:
            display.focus(wid)
            display.xdotool("key", key)
            dialog = display.window("Font")
            display.focus(dialog)
            time.sleep(0.7)
            display.xdotool("key", answer)
            prog.expect(want)
        display.close(wid)
        prog.expect("done")
        assert prog.finish()[0] == 0
    finally:
        prog.kill()
        os.unlink(path)
        os.rmdir(folder)


BASES = r"""
red: make face! [type: 'base offset: 10x10 size: 40x40 color: 255.0.0.128]
blue: make face! [type: 'base offset: 10x10 size: 100x100 color: 0.0.255 pane: reduce [red]]
pic: make face! [type: 'base offset: 130x10 size: 40x40 image: make image! [2x2 255.255.0]
                 options: [cursor hand]]
win: make face! [
    type: 'window text: "gtk-bases" offset: 100x100 size: 200x150 color: 0.255.0.128
    pane: reduce [blue pic]
]
view/no-wait win
print "ready"
do-events
print "done"
"""


def bases(display, kiv):
    """A translucent red face over its blue parent blends with it; a window
    whose colour is translucent is opaque without a compositor; an image
    fills its face."""
    prog = Program(display, kiv, BASES)
    try:
        prog.expect("ready")
        wid = display.window("gtk-bases")
        # Red at 127/255 opacity over blue.
        wait_pixels(display, [(100 + 30, 100 + 30, (127, 0, 128)), (100 + 15, 100 + 80, (0, 0, 255)),
                              (100 + 190, 100 + 140, (0, 255, 0)), (100 + 150, 100 + 30, (255, 255, 0))])
        display.close(wid)
        prog.expect("done")
        assert prog.finish()[0] == 0
    finally:
        prog.kill()


CAMERA = r"""
cam: make face! [type: 'camera offset: 10x10 size: 80x60 selected: 1]
win: make face! [type: 'window text: "gtk-camera" offset: 100x100 size: 200x100 pane: reduce [cam]]
view/no-wait win
print ["devices" mold cam/data]
e: try [cam/selected: 1]
print ["select" either error? e [e/id] ["started"]]
cam/image: none
print ["image" either image? cam/image [reduce [cam/image/size copy/part mold cam/image/1 6]] ["none"]]
unview/all
print "done"
"""


def camera(display, kiv):
    """No camera here: without devices `data` is empty and selecting one
    raises `cannot-open`; the synthetic device of the environment goes
    through the same face path and gives frames."""
    runs = [(None, ["devices []", "select cannot-open", "image none"]),
            ("4x2", ['devices ["Synthetic camera"]', "select started", "image 4x2 32.64."])]
    for synthetic, want in runs:
        if synthetic:
            os.environ["KIV_CAMERA_SYNTHETIC"] = synthetic
        try:
            prog = Program(display, kiv, CAMERA)
        finally:
            os.environ.pop("KIV_CAMERA_SYNTHETIC", None)
        try:
            got = prog.expect("done")
            assert [g for g in got if g] == want, got
            assert prog.finish()[0] == 0
        finally:
            prog.kill()


TABS = r"""
p1: make face! [type: 'panel color: 255.0.0]
p2: make face! [type: 'panel color: 0.0.255]
tabs: make face! [
    type: 'tab-panel offset: 10x10 size: 180x120 data: ["One" "Two"] selected: 1 pane: reduce [p1 p2]
    actors: object [
        on-select: func [face event] [print ["select" event/picked face/selected]]
        on-change: func [face event] [print ["change" event/picked face/selected]]
    ]
]
win: make face! [type: 'window text: "gtk-tabs" offset: 100x100 size: 200x140 pane: reduce [tabs]]
view/no-wait win
print "ready"
do-events
print "done"
"""


def tabs(display, kiv):
    """A tab-panel shows the page of its selected tab over its display area;
    picking the other tab raises `select` with the old tab, then `change`
    with the new one."""
    prog = Program(display, kiv, TABS)
    try:
        prog.expect("ready")
        wid = display.window("gtk-tabs")
        display.focus(wid)
        wait_pixels(display, [(100 + 100, 100 + 90, RED)])
        # The second tab's label sits right of the first one's.
        click(display, 100 + 107, 100 + 28)
        got = collect(prog, 2)
        assert got == ["select 1 1", "change 2 2"], got
        wait_pixels(display, [(100 + 100, 100 + 90, BLUE)])
        display.close(wid)
        prog.expect("done")
        assert prog.finish()[0] == 0
    finally:
        prog.kill()


CASES = [widgets, menus, requesters, bases, camera, tabs]

if __name__ == "__main__":
    # No settings daemon here: settings the file chooser saves stay in memory.
    os.environ["GSETTINGS_BACKEND"] = "memory"
    run_cases(CASES, sys.argv)
