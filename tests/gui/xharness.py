"""A virtual X display for GUI tests: Xvfb on a free display number, input
through xdotool, pixels read back with ImageMagick's import, and a window
closed the way a window manager asks (WM_DELETE_WINDOW)."""

import ctypes
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import traceback


# Under collector stress every allocation collects: a program takes many
# times longer to start and to answer, so every wait grows alike.
PATIENCE = 8 if os.environ.get("KIV_GC_STRESS") else 1


def missing_tools():
    return [t for t in ("Xvfb", "xdotool", "import") if not shutil.which(t)]


class Display:
    def __init__(self, width=1280, height=1024):
        self.size = (width, height)
        self.proc = None
        self.name = None

    def __enter__(self):
        # Xvfb picks a free display number itself and writes it to the pipe:
        # choosing one here would race with other tests starting displays.
        r, w = os.pipe()
        proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", f"{self.size[0]}x{self.size[1]}x24", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(w,))
        os.close(w)
        with os.fdopen(r) as pipe:
            number = pipe.readline().strip()
        if not number.isdigit() or proc.poll() is not None:
            proc.kill()
            raise RuntimeError("Xvfb did not start")
        self.proc, self.name = proc, f":{number}"
        return self

    def __exit__(self, *exc):
        if self.proc:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.name
        env.pop("WAYLAND_DISPLAY", None)
        env["GDK_BACKEND"] = "x11"
        env["GDK_SCALE"] = "1"
        env["NO_AT_BRIDGE"] = "1"
        return env

    def xdotool(self, *args):
        out = subprocess.run(["xdotool", *args], env=self.env(), capture_output=True, text=True, timeout=20)
        return out.stdout.strip()

    def window(self, title):
        ids = self.xdotool("search", "--sync", "--onlyvisible", "--name", f"^{title}$").split()
        return ids[0]

    def focus(self, wid):
        self.xdotool("windowfocus", "--sync", wid)
        time.sleep(0.2)  # the toolkit takes the focus change first

    def pixels(self, x, y, w, h):
        """The screen's pixels in a rectangle, as rows of (r, g, b)."""
        data = subprocess.run(
            ["import", "-silent", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-depth", "8", "ppm:-"],
            env=self.env(), capture_output=True, timeout=20, check=True).stdout
        # P6 header: magic, width, height, maximum, each followed by whitespace.
        fields, pos = [], 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            start = pos
            while not data[pos:pos + 1].isspace():
                pos += 1
            fields.append(data[start:pos])
        pos += 1
        width, height = int(fields[1]), int(fields[2])
        body = data[pos:]
        return [[tuple(body[(r * width + c) * 3:(r * width + c) * 3 + 3]) for c in range(width)]
                for r in range(height)]

    def pixel(self, x, y):
        return self.pixels(x, y, 1, 1)[0][0]

    def close(self, wid):
        """Asks the window to close, as a window manager's close button does."""
        x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

        class ClientMessage(ctypes.Structure):
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                        ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                        ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                        ("data", ctypes.c_long * 5), ("pad", ctypes.c_char * 64)]

        dpy = x11.XOpenDisplay(self.name.encode())
        msg = ClientMessage()
        msg.type = 33  # ClientMessage
        msg.window = int(wid)
        msg.message_type = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        msg.format = 32
        msg.data[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        msg.data[1] = 0  # CurrentTime
        x11.XSendEvent(dpy, int(wid), 0, 0, ctypes.byref(msg))
        x11.XFlush(dpy)
        x11.XCloseDisplay(dpy)


class Program:
    """A Kiv script running on the display; its printed lines are read as
    they come."""

    def __init__(self, display, kiv, source):
        self.file = tempfile.NamedTemporaryFile("w", suffix=".kiv", delete=False)
        self.file.write("Kiv []\n" + source)
        self.file.close()
        self.proc = subprocess.Popen([kiv, self.file.name], env=display.env(), stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def expect(self, wanted, timeout=10):
        """Waits for a line; returns the lines read before it."""
        before = []
        timeout *= PATIENCE
        end = time.time() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(0.01, end - time.time()))
            except queue.Empty:
                raise AssertionError(f"no line {wanted!r} within {timeout}s; read: {before}")
            if line is None:
                raise AssertionError(f"program ended before {wanted!r}; read: {before}")
            self.seen.append(line)
            if line == wanted:
                return before
            before.append(line)

    def finish(self, timeout=10):
        try:
            status = self.proc.wait(timeout * PATIENCE)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise AssertionError("program did not end")
        rest = []
        while True:
            line = self.lines.get(timeout=5)
            if line is None:
                break
            rest.append(line)
        os.unlink(self.file.name)
        return status, rest

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()


if __name__ == "__main__":
    sys.exit("a module of the GUI tests")


def run_cases(cases, argv):
    """Runs each case on one virtual display: `argv` is KIV [CASE...], the
    names limiting the run to those cases. Exits 77 (skipped) without the
    tools, 1 when a case fails."""
    missing = missing_tools()
    if missing:
        print("SKIP: missing " + " ".join(missing))
        sys.exit(77)
    kiv, only = argv[1], argv[2:]
    chosen = [c for c in cases if not only or c.__name__ in only]
    failed = 0
    with Display() as display:
        for case in chosen:
            try:
                case(display, kiv)
                print(f"ok {case.__name__}")
            except AssertionError as e:
                failed += 1
                print(f"FAIL {case.__name__}: {e}")
                traceback.print_exc(file=sys.stdout)
    print(f"{len(chosen) - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)

