#!/usr/bin/env python3
"""The console on a real terminal: kiv runs in a pseudo-terminal and each case
types keys at it and waits for what a person would see. The history file goes
to a fresh data folder."""
import os
import pty
import re
import select
import signal
import sys
import tempfile
import termios
import time

# Colours (SGR sequences) are not text: what a person reads is matched
# without them, unless a case asks for the raw bytes.
SGR = re.compile(rb"\x1b\[[0-9;]*m")

UP, LEFT, CTRL_A, CTRL_C, CTRL_D, ALT_B = b"\x1b[A", b"\x1b[D", b"\x01", b"\x03", b"\x04", b"\x1bb"


class Console:
    def __init__(self, kiv, data):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            env = dict(os.environ, XDG_DATA_HOME=data, TERM="xterm")
            os.execve(kiv, [kiv], env)
        self.seen = b""
        self.prompt()

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
        if not raw:
            self.seen = SGR.sub(b"", self.seen)
        self.seen = self.seen[self.seen.index(text) + len(text):]

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


CASES = [editing_keys, unicode_text, interrupting, interrupt_at_prompt, output_before_prompt, multi_line_history]


def history_across_runs(kiv, data):
    first = Console(kiv, data)
    first.command(b"40 + 2\r", b"== 42")
    first.type(CTRL_D)
    assert first.status() == 0, "Ctrl-D did not end the console with status 0"
    second = Console(kiv, data)
    second.command(UP + b"\r", b"== 42")
    second.type(b"quit\r")
    second.status()


def main():
    kiv = os.path.abspath(sys.argv[1])
    failed = 0
    cases = [(case.__name__, case) for case in CASES] + [("history_across_runs", None)]
    for name, case in cases:
        with tempfile.TemporaryDirectory() as data:
            try:
                if case is None:
                    history_across_runs(kiv, data)
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
