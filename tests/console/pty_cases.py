#!/usr/bin/env python3
"""The console on a real terminal: kiv runs in a pseudo-terminal and each case
types keys at it and waits for what a person would see. The history file goes
to a fresh data folder."""
import fcntl
import os
import pty
import re
import select
import signal
import struct
import sys
import tempfile
import termios
import time

# Colours (SGR sequences) are not text: what a person reads is matched
# without them, unless a case asks for the raw bytes.
SGR = re.compile(rb"\x1b\[[0-9;]*m")

UP, LEFT, CTRL_A, CTRL_C, CTRL_D, ALT_B = b"\x1b[A", b"\x1b[D", b"\x01", b"\x03", b"\x04", b"\x1bb"
BACKSPACE = b"\x7f"


class Console:
    def __init__(self, kiv, data, editing=True, **env):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            given = env
            env = dict(os.environ, XDG_DATA_HOME=data, TERM="xterm")
            env.pop("NO_COLOR", None)
            env.update(given)
            # The terminal console, even where a display is named.
            os.execve(kiv, [kiv, "--cli"], env)
        self.seen = b""
        self.shown = b""  # everything shown, as it came
        if editing:
            self.prompt()
        else:
            self.expect(b">> ")

    def expect(self, text, timeout=10, raw=False):
        """Reads until `text` has been shown since the last expectation."""
        end = time.time() + timeout
        while text not in (self.seen if raw else SGR.sub(b"", self.seen)):
            left = end - time.time()
            if left <= 0:
                raise AssertionError(f"waited for {text!r}, saw {self.seen!r}")
            if select.select([self.fd], [], [], left)[0]:
                try:
                    chunk = os.read(self.fd, 4096)
                except OSError:
                    chunk = b""
                if not chunk:
                    raise AssertionError(f"ended before {text!r}, saw {self.seen!r}")
                self.seen += chunk
                self.shown += chunk
        if not raw:
            self.seen = SGR.sub(b"", self.seen)
        self.seen = self.seen[self.seen.index(text) + len(text):]

    def resize(self, rows, columns):
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))

    def type(self, keys, then=None):
        os.write(self.fd, keys)
        if then:
            self.expect(then)

    def command(self, keys, shows):
        """Types keys, waits for what they show and for the next prompt."""
        self.type(keys, shows)
        self.prompt()

    def prompt(self, text=b">> "):
        """Waits for a prompt and for the line editor to read keys one by one:
        keys typed before that would go through the terminal's own line
        discipline, which takes Ctrl-D for itself."""
        self.expect(text)
        end = time.time() + 10
        while termios.tcgetattr(self.fd)[3] & termios.ICANON:
            if time.time() > end:
                raise AssertionError("the line editor did not take the terminal")
            time.sleep(0.01)

    def status(self):
        for _ in range(100):
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                return os.waitstatus_to_exitcode(status)
            time.sleep(0.05)
        os.kill(self.pid, signal.SIGKILL)
        raise AssertionError("the console did not end")


def editing_keys(c):
    c.command(b"1 3" + LEFT + b"+ \r", b"== 4")
    c.command(b"2 * 3" + CTRL_A + b"1 + \r", b"== 9")
    c.command(b"probe [b c]" + ALT_B + b"a \r", b"== [b a c]")


def unicode_text(c):
    c.command('print "été ✓"\r'.encode(), "été ✓".encode())
    c.command(b'x: "ab"' + LEFT + LEFT + "é".encode() + b"\r", '== "aéb"'.encode())


def interrupting(c):
    c.type(b"forever []\r", b"forever []")
    time.sleep(0.3)
    c.command(CTRL_C, b"(halted)")
    c.type(b"n: 0 loop 2000000000 [n: n + 1]\r", b"]")
    time.sleep(0.3)
    c.command(CTRL_C, b"(halted)")
    c.command(b"n > 0\r", b"== true")
    c.type(b"wait 30\r", b"wait 30")
    time.sleep(0.3)
    c.command(CTRL_C, b"(halted)")


def interrupt_at_prompt(c):
    c.type(b"abc", b"abc")
    c.type(CTRL_C)
    c.prompt()
    c.command(b"1 + 1\r", b"== 2")
    c.type(b"[1\r")
    c.prompt(b"[    ")
    c.command(CTRL_C, b"(escape)")
    c.command(b"2 + 2\r", b"== 4")


def output_before_prompt(c):
    c.type(b'prin "abc"\r', b"abc\r\n>> ")  # a line end before the prompt


def multi_line_history(c):
    c.type(b"[1\r")
    c.prompt(b"[    ")
    c.command(b"2]\r", b"== [1\r\n2]")
    c.command(UP + b"\r", b"== [1\r\n2]")


def painted(*runs):
    """The bytes of a line painted in colours: (text, SGR parameters) runs,
    None for the terminal's own colour."""
    out = b""
    for text, sgr in runs:
        out += (b"\x1b[0;" + sgr + b"m" if sgr else b"\x1b[0m") + text
    return out + b"\x1b[0m"


SET_WORD, STRING, NUMBER, COMMENT = b"38;5;63", b"38;5;28", b"38;5;166", b"38;5;244"
DATATYPE, LIT_WORD, URL, TUPLE = b"38;5;30", b"38;5;63;1", b"38;5;63;4", b"38;5;133"


def coloured_line(c):
    # Every token in the colour of its kind, the rest in the terminal's own.
    c.type(b"x: \"s\" 10 1.5 ; c")
    c.expect(b">> " + painted((b"x:", SET_WORD), (b" ", None), (b'"s"', STRING), (b" ", None), (b"10", NUMBER),
                              (b" ", None), (b"1.5", NUMBER), (b" ", None), (b"; c", COMMENT)), raw=True)
    c.command(b"\r", b"== 1.5")
    c.type(b"probe reduce [\'w 2x3 5% integer! 1.2.3 http://a.b]")
    c.expect(b" [" + painted((b"\'w", LIT_WORD), (b" ", None), (b"2x3", NUMBER), (b" ", None),
                             (b"5%", b"38;5;167"), (b" ", None), (b"integer!", DATATYPE), (b" ", None),
                             (b"1.2.3", TUPLE), (b" ", None), (b"http://a.b", URL)), raw=True)
    c.command(b"\r", b"== [w 2x3 5% integer! 1.2.3 http://a.b]")


def colours_follow_editing(c):
    # An open string has no colour; the closing quote gives it one, and an
    # edit before it repaints the whole line.
    c.type(b'"abc')
    c.expect(b'>> "abc', raw=True)
    c.type(b'"')
    c.expect(b">> " + painted((b'"abc"', STRING)), raw=True)
    c.type(CTRL_A + b"x: ")
    c.expect(b"\r\x1b[J>> " + painted((b"x:", SET_WORD), (b" ", None), (b'"abc"', STRING)) + b"\r\x1b[6C",
             raw=True)
    c.type(b"\x1b[F" + BACKSPACE * 2)
    c.expect(b"\r\x1b[J>> " + painted((b"x:", SET_WORD)) + b' "ab', raw=True)
    c.command(b'"\r', b'== "ab"')


def wrapping_and_resizing(c):
    # A line longer than the window wraps; the caret finds its row; a new
    # width repaints the line at once.
    c.resize(24, 20)
    c.type(b"probe 123456789012 + 1")
    c.type(CTRL_A)
    c.expect(b"\x1b[1A\r\x1b[3C", raw=True)
    c.resize(24, 60)
    c.expect(b"\r\x1b[J>> probe ", raw=True)
    c.command(b"\x1b[F\r", b"== 123456789013")


def history_search(c):
    # Ctrl-R finds the newest command holding what is typed; Enter runs it.
    c.command(b"40 + 2\r", b"== 42")
    c.command(b"1 + 1\r", b"== 2")
    c.type(b"\x12" + b"40", b"(search)'40': 40 + 2")
    c.command(b"\r", b"== 42")


CASES = [history_search, coloured_line, colours_follow_editing, wrapping_and_resizing, editing_keys, unicode_text, interrupting, interrupt_at_prompt, output_before_prompt, multi_line_history]


def history_across_runs(kiv, data):
    first = Console(kiv, data)
    first.command(b"40 + 2\r", b"== 42")
    first.type(CTRL_D)
    assert first.status() == 0, "Ctrl-D did not end the console with status 0"
    second = Console(kiv, data)
    second.command(UP + b"\r", b"== 42")
    second.type(b"quit\r")
    second.status()


def without_colours(kiv, data):
    """NO_COLOR keeps the editing and drops the colours; a dumb terminal
    reads lines as they come, the terminal's own way."""
    plain = Console(kiv, data, NO_COLOR="1")
    plain.command(b'x: "s"' + LEFT + b"t\r", b'== "st"')
    plain.type(CTRL_D)
    assert plain.status() == 0, "the console did not end with status 0"
    assert not SGR.search(plain.shown), f"colours with NO_COLOR: {plain.shown!r}"
    dumb = Console(kiv, data, editing=False, TERM="dumb")
    dumb.type(b'x: "s" 10\r', b"== 10")
    dumb.type(b"quit\r")
    dumb.status()
    assert b"\x1b" not in dumb.shown, f"escape sequences on a dumb terminal: {dumb.shown!r}"


def main():
    kiv = os.path.abspath(sys.argv[1])
    failed = 0
    whole_runs = {"history_across_runs": history_across_runs, "without_colours": without_colours}
    cases = [(case.__name__, case) for case in CASES] + [(name, None) for name in whole_runs]
    for name, case in cases:
        with tempfile.TemporaryDirectory() as data:
            try:
                if case is None:
                    whole_runs[name](kiv, data)
                else:
                    c = Console(kiv, data)
                    case(c)
                    c.type(CTRL_D)
                    assert c.status() == 0, "the console did not end with status 0"
            except AssertionError as e:
                failed += 1
                print(f"FAIL {name}: {e}")
    print(f"{len(cases) - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
