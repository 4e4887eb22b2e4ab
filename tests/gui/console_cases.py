"""The console window on a virtual display: kiv without a script opens it and
runs the read-eval-print loop in it; typed lines, printed results, hidden
input, scrolling and the window's close button. The terminal's state is read
back by a command typed into the window that writes it to a file; pixels
show that the text is painted. `--cli`, a script, or a display that cannot be
opened keep the console on the terminal.

Usage: console_cases.py KIV [CASE...]"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from xharness import PATIENCE, run_cases

BACKGROUND = (252, 252, 252)


class Console:
    """kiv with its console window, its settings in a folder of its own."""

    def __init__(self, display, kiv, config=None):
        self.display = display
        self.home = tempfile.mkdtemp(prefix="kiv-console-")
        self.config = config or os.path.join(self.home, "config")
        env = display.env()
        env["HOME"] = self.home
        env["XDG_CONFIG_HOME"] = self.config
        env.pop("APPDATA", None)
        # What kiv writes (printed text goes to its standard output too) is
        # kept in a file, never left to fill a pipe.
        self.log = os.path.join(self.home, "output.txt")
        with open(self.log, "wb") as out:
            self.proc = subprocess.Popen([kiv], env=env, cwd=self.home, stdin=subprocess.DEVNULL,
                                         stdout=out, stderr=subprocess.STDOUT)
        self.wid = display.window("Kiv Console")
        display.focus(self.wid)
        self.dumps = 0

    def type(self, text):
        self.display.xdotool("type", "--delay", "20", text)

    def enter(self, line):
        self.type(line)
        self.display.xdotool("key", "Return")

    def value(self, expression, timeout=10):
        """The molded value of an expression, typed into the window."""
        self.dumps += 1
        path = os.path.join(self.home, f"dump{self.dumps}.txt")
        self.enter(f"write %{path} mold {expression}")
        end = time.time() + timeout * PATIENCE
        while not os.path.exists(path):
            if time.time() > end:
                raise AssertionError(f"no answer for {expression!r}")
            time.sleep(0.1)
        time.sleep(0.1)
        with open(path, encoding="utf-8") as f:
            return f.read()

    def lines(self):
        """The terminal's entries, through Python's reading of the molded
        block of strings (no escapes but ^/ and ^" are expected here)."""
        text = self.value("gui-console-ctx/terminal/lines")
        return eval_strings(text)

    def geometry(self):
        return geometry(self.display, self.wid)

    def close(self, timeout=10):
        self.display.close(self.wid)
        return self.finish(timeout)

    def finish(self, timeout=10):
        try:
            status = self.proc.wait(timeout * PATIENCE)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise AssertionError("kiv did not end")
        return status

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        with open(self.log, errors="replace") as f:
            output = f.read()
        shutil.rmtree(self.home, ignore_errors=True)
        assert "Sanitizer" not in output and "*** Runtime Error" not in output, output[-3000:]


def geometry(display, wid):
    """A window's place and size on screen: x, y, width, height."""
    out = display.xdotool("getwindowgeometry", wid)
    return tuple(map(int, re.search(r"Position: (\d+),(\d+).*Geometry: (\d+)x(\d+)", out, re.S).groups()))


def eval_strings(text):
    """The strings of a molded block of strings."""
    text = text.strip()
    assert text.startswith("[") and text.endswith("]"), text
    out, i = [], 1
    while i < len(text) - 1:
        c = text[i]
        if c == '"':
            j, s = i + 1, []
            while text[j] != '"':
                if text[j] == "^":
                    j += 1
                    s.append({"/": "\n", '"': '"', "^": "^", "-": "\t"}.get(text[j], text[j]))
                else:
                    s.append(text[j])
                j += 1
            out.append("".join(s))
            i = j + 1
        elif c == "{":
            depth, j = 1, i + 1
            while depth:
                depth += {"{": 1, "}": -1}.get(text[j], 0)
                j += 1
            out.append(text[i + 1:j - 1])
            i = j
        else:
            i += 1
    return out


def wait_until(check, what, timeout=10):
    end = time.time() + timeout * PATIENCE
    while True:
        got = check()
        if got:
            return got
        if time.time() > end:
            raise AssertionError(what)
        time.sleep(0.1)


def ink_rows(display, x, y, w, h):
    """The rows of a screen rectangle that hold anything but the background."""
    rows = display.pixels(x, y, w, h)
    return [r for r, row in enumerate(rows) if any(p != BACKGROUND for p in row)]


def text_bands(display, x, y, w, h):
    """The rows of text in a screen rectangle, top first: runs of rows that
    hold anything but the background, each as (width of ink, its pixels,
    its first row on screen, the screen column after its ink)."""
    rows = display.pixels(x, y, w, h)
    bands, run = [], []
    for n, row in enumerate(rows + [[BACKGROUND] * w]):
        if any(p != BACKGROUND for p in row):
            run.append(row)
        elif run:
            inked = [c for c in range(w) if any(r[c] != BACKGROUND for r in run)]
            bands.append((max(inked) - min(inked), tuple(map(tuple, run)), y + n - len(run), x + max(inked) + 1))
            run = []
    return bands


def with_console(case):
    def run(display, kiv):
        console = Console(display, kiv)
        try:
            case(display, console)
        finally:
            console.kill()
    run.__name__ = case.__name__
    return run


@with_console
def typed_lines_are_evaluated(display, console):
    x, y, w, h = console.geometry()
    before = ink_rows(display, x + 10, y + 40, 300, 200)
    console.enter("1 + 1")
    console.enter("print 1 + 1")
    lines = console.lines()
    assert lines[-5:-1] == [">> 1 + 1", "== 2", ">> print 1 + 1", "2"], lines
    assert lines[-1].startswith(">> write"), lines
    # The new rows are painted below the banner.
    after = wait_until(lambda: (lambda r: len(r) > len(before) and r)(ink_rows(display, x + 10, y + 40, 300, 200)),
                       "no new text on screen")
    assert max(after) > max(before or [0]), (before, after)
    assert console.value("system/console/gui?") == "true"


@with_console
def hidden_input_stays_out_of_the_history(display, console):
    console.enter('secret: ask/hide "Password: "')
    console.enter("hunter2")
    console.enter("visible-line: 1")
    assert console.value("secret") == '"hunter2"'
    history = console.value("system/console/history")
    assert "hunter2" not in history and "visible-line: 1" in history, history
    lines = console.lines()
    entry = lines.index("Password: hunter2")
    flags = console.value(f"pick gui-console-ctx/terminal/flags {entry + 1}")
    # Only the prompt is shown in clear: the rest is painted as stars, the
    # same pixels as the stars printed in the line below it.
    assert flags == str(len("Password: ")), flags
    console.enter('print "Password: *******"')
    x, y, w, h = console.geometry()
    bands = wait_until(lambda: text_bands(display, x + 2, y + 30, 400, h - 40), "no text on screen")
    printed = bands[-2][1]
    assert sum(1 for b in bands if b[1] == printed) == 2, [b[0] for b in bands]


@with_console
def input_has_no_prompt(display, console):
    console.enter("got: input")
    console.enter("typed text")
    assert console.value("got") == '"typed text"'
    assert "typed text" in console.lines()


@with_console
def long_output_scrolls(display, console):
    console.enter('repeat i 200 [print ["row" i]]')
    lines = console.lines()
    assert "row 200" in lines, lines[-5:]
    top = int(console.value("gui-console-ctx/terminal/top"))
    assert top > 150, top
    position = int(console.value("gui-console-ctx/scroller/position"))
    assert position > 150, position


@with_console
def caret_blink_time_comes_from_the_toolkit(display, console):
    # GTK's default cycle is 1200 ms: the caret changes every 600 ms.
    assert console.value("get-caret-blink-time") == "600"
    assert console.value("gui-console-ctx/caret-rate") == "0:00:00.6"


def caret_that_does_not_blink(display, kiv):
    config = tempfile.mkdtemp(prefix="kiv-config-")
    os.makedirs(os.path.join(config, "gtk-3.0"))
    with open(os.path.join(config, "gtk-3.0", "settings.ini"), "w") as f:
        f.write("[Settings]\ngtk-cursor-blink=false\n")
    console = Console(display, kiv, config)
    try:
        assert console.value("get-caret-blink-time") == "-1"
        assert console.value("reduce [gui-console-ctx/caret-rate gui-console-ctx/caret/rate]") == "[none none]"
    finally:
        console.kill()
        shutil.rmtree(config, ignore_errors=True)


def settings_survive_a_restart(display, kiv):
    config = tempfile.mkdtemp(prefix="kiv-config-")
    first = Console(display, kiv, config)
    try:
        display.xdotool("windowmove", first.wid, "50", "60")
        display.xdotool("windowsize", first.wid, "700", "450")
        # The face's size is the client area's, below the menu bar.
        wait_until(lambda: re.fullmatch(r"700x4[0-4]\d", first.value("gui-console-ctx/win/size")),
                   "the window keeps its old size")
        size = first.value("gui-console-ctx/win/size")
        # Ctrl and the wheel: two points larger.
        x, y, w, h = first.geometry()
        display.xdotool("mousemove", str(x + 200), str(y + 200))
        for _ in range(2):
            display.xdotool("keydown", "ctrl", "click", "4", "keyup", "ctrl")
        wait_until(lambda: first.value("gui-console-ctx/console/font/size") == "13", "no zoom")
        first.enter("gui-console-ctx/cfg/background: 200.220.240")
        first.enter("gui-console-ctx/cfg/font-color: 0.0.128")
        first.enter("remembered: 42")
        assert first.value("gui-console-ctx/win/offset") == "(50, 60)"
        first.enter("quit")
        assert first.finish() == 0
    finally:
        first.kill()
    assert os.path.exists(os.path.join(config, "Kiv", "console-cfg.kiv"))
    second = Console(display, kiv, config)
    try:
        assert second.value("gui-console-ctx/win/size") == size
        assert second.geometry()[2:] == (700, 450)
        assert second.value("gui-console-ctx/win/offset") == "(50, 60)"
        assert second.value("gui-console-ctx/console/font/size") == "13"
        assert second.value("reduce [gui-console-ctx/console/color gui-console-ctx/terminal/foreground]") == \
            "[200.220.240 0.0.128]"
        assert '"remembered: 42"' in second.value("system/console/history")
        x, y, w, h = second.geometry()
        assert display.pixel(x + w - 40, y + h - 20) == (200, 220, 240)
    finally:
        second.kill()
        shutil.rmtree(config, ignore_errors=True)


@with_console
def drag_selection_copied_to_the_clipboard(display, console):
    x, y, w, h = console.geometry()
    banner = wait_until(lambda: text_bands(display, x + 2, y + 30, w - 40, 60), "no banner")
    # Across the banner's second line, from its first character to its end.
    _, _, top, right = banner[1]
    row = top + 5
    display.xdotool("mousemove", str(x + 4), str(row), "mousedown", "1")
    for step in range(1, 6):
        display.xdotool("mousemove", str(x + 4 + (right + 2 - x - 4) * step // 5), str(row))
        time.sleep(0.05)
    display.xdotool("mouseup", "1")
    display.xdotool("key", "ctrl+c")
    assert console.value("read-clipboard") == '"Type HELP for starting information."'


# The settings but the history, and what they put into effect.
SETTINGS_STATE = ("reduce [copy/part gui-console-ctx/cfg 20 gui-console-ctx/console/color "
                  "gui-console-ctx/caret-clr gui-console-ctx/terminal/max-lines]")


@with_console
def settings_dialog_cancel_changes_nothing(display, console):
    # Where the dialog's Cancel button lies, written once the dialog is up.
    spot = os.path.join(console.home, "spot.txt")
    console.enter("insert-event-func 'cancel-spot func [f e /local w b] [w: window-of f "
                  "if all [object? w w/text = \"Settings\" not exists? %spot.txt] ["
                  "foreach-face w [if face/text = \"Cancel\" [b: face]] "
                  "if b [write %spot.txt mold b/offset + (b/size / 2)]] none]")
    before = console.value(SETTINGS_STATE)
    display.xdotool("key", "alt+o")
    dialog = display.window("Settings")
    display.focus(dialog)
    x, y, w, h = geometry(display, dialog)
    display.xdotool("mousemove", str(x + 10), str(y + 10))
    wait_until(lambda: os.path.exists(spot), "no Cancel button seen")
    time.sleep(0.2)
    with open(spot) as f:
        bx, by = (int(float(n)) for n in re.findall(r"[\d.]+", f.read()))
    display.xdotool("type", "123")
    display.xdotool("mousemove", str(x + bx), str(y + by), "click", "1")
    wait_until(lambda: display.xdotool("search", "--onlyvisible", "--name", "^Settings$") == "", "the dialog stays")
    display.focus(console.wid)
    after = console.value(SETTINGS_STATE)
    assert after == before, (before, after)


@with_console
def closing_the_window_ends_kiv(display, console):
    console.enter("1 + 1")
    assert console.close() == 0


def cli_keeps_the_terminal(display, kiv):
    run = subprocess.run([kiv, "--cli"], env=display.env(), input=b"1 + 1\n", capture_output=True, timeout=60)
    assert b"== 2" in run.stdout, run
    assert display.xdotool("search", "--name", "^Kiv Console$") == ""


def scripts_print_to_standard_output(display, kiv):
    with tempfile.NamedTemporaryFile("w", suffix=".kiv", delete=False) as f:
        f.write('Kiv []\nprint 1 + 1\n')
    try:
        run = subprocess.run([kiv, f.name], env=display.env(), capture_output=True, timeout=60)
    finally:
        os.unlink(f.name)
    assert run.stdout == b"2\n" and run.returncode == 0, run


def unopenable_display_keeps_the_terminal(display, kiv):
    env = display.env()
    env["DISPLAY"] = ":9999"
    run = subprocess.run([kiv], env=env, input=b"1 + 1\n", capture_output=True, timeout=60)
    assert b"== 2" in run.stdout and run.returncode == 0, run


CASES = [typed_lines_are_evaluated, hidden_input_stays_out_of_the_history, input_has_no_prompt,
         long_output_scrolls, caret_blink_time_comes_from_the_toolkit, caret_that_does_not_blink,
         settings_survive_a_restart, drag_selection_copied_to_the_clipboard,
         settings_dialog_cancel_changes_nothing, closing_the_window_ends_kiv,
         cli_keeps_the_terminal, scripts_print_to_standard_output, unopenable_display_keeps_the_terminal]

if __name__ == "__main__":
    run_cases(CASES, sys.argv)
