"""The clipboard under Xvfb: Kiv's own round trips, text, files and images
exchanged with xclip (paths encoded and decoded by Python's urllib), and
no display."""

import os
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

from xharness import PATIENCE, Program, run_cases

# Each round trip prints the molded value read back.
ROUND_TRIPS = r'''
show: func [v] [print mold/flat :v]
show write-clipboard "one^/two"
show read-clipboard
show write-clipboard "a^M^/b^M^Mc"
show read-clipboard
show write-clipboard "ünï €"
show read-clipboard
show write-clipboard [%/tmp/plain %"/tmp/with space" %/tmp/100%25 %"/tmp/é"]
show read-clipboard
show write-clipboard []
show read-clipboard
i: make image! 3x2 i/1: 255.0.0.0 i/2: 0.255.0.100 i/6: 1.2.3.255
show write-clipboard i
j: read-clipboard
show reduce [type? j j/size j/1 j/2 j/3 j/6]
show write-clipboard none
show read-clipboard
show write-clipboard "kept"
e: try [write-clipboard 5] show reduce [e/id e/arg1]
e: try [write-clipboard [%a 5]] show reduce [e/id e/arg1]
show read-clipboard
show write-clipboard make image! 0x0
show read-clipboard
print "end"
'''

EXPECTED = [
    "true", '"one^/two"',
    "true", '"a^/bc"',
    "true", '"ünï €"',
    "true", '[%/tmp/plain %"/tmp/with space" %"/tmp/100%" %/tmp/é]',
    "true", "none",
    "true", "[image! 3x2 255.0.0.0 0.255.0.100 255.255.255.0 1.2.3.255]",
    "true", "none",
    "true", "[invalid-arg 5]", "[invalid-arg 5]", '"kept"',
    "true", "none",
]


def xclip(display, *args, data=None):
    out = subprocess.run(["xclip", "-selection", "clipboard", *args], env=display.env(), input=data,
                         capture_output=True, timeout=10 * PATIENCE)
    return out.stdout


def set_by_xclip(display, target, data):
    """xclip keeps serving in the background until another owner comes."""
    subprocess.Popen(["xclip", "-selection", "clipboard", "-t", target, "-i"], env=display.env(),
                     stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL).communicate(data, timeout=10)


def needs_xclip():
    if not shutil.which("xclip"):
        raise AssertionError("xclip missing: run tools/setup.sh")


def round_trips(display, kiv):
    """What Kiv writes, Kiv reads back, while it owns the clipboard."""
    prog = Program(display, kiv, ROUND_TRIPS)
    try:
        lines = prog.expect("end", timeout=30)
        assert lines == EXPECTED, "\n".join(lines)
        assert prog.finish()[0] == 0
    finally:
        prog.kill()


def run_script(display, kiv, source):
    with tempfile.NamedTemporaryFile("w", suffix=".kiv", delete=False) as f:
        f.write("Kiv []\n" + source)
    try:
        out = subprocess.run([kiv, f.name], env=display.env(), capture_output=True, text=True,
                             timeout=30 * PATIENCE)
    finally:
        os.unlink(f.name)
    return out.stdout.strip() + out.stderr.strip()


def reads_from_others(display, kiv):
    """Text with CR LF, a URI list (paths encoded by urllib) and a PNG set by
    another program."""
    needs_xclip()
    names = ["/tmp/plain.txt", "/tmp/with space/é ü.kiv", "/tmp/100%", "/tmp/a#b?c"]
    uris = "# a comment\r\n" + "".join("file://" + urllib.parse.quote(n) + "\r\n" for n in names)
    uris += "http://example.com/not-a-file\r\nfile://elsewhere/tmp/x\r\nfile://localhost/tmp//y\n"
    png = subprocess.run(["convert", "-size", "2x1", "xc:#ff0000", "-fill", "#0000ff", "-draw", "point 1,0",
                          "PNG32:-"], capture_output=True, check=True).stdout
    cases = [
        ("UTF8_STRING", "line1\r\nline2\r\n".encode(), "print mold read-clipboard", '"line1^/line2^/"'),
        ("text/uri-list", uris.encode(), "foreach f read-clipboard [print to-local-file f]",
         "\n".join(names + ["/tmp/y"])),
        ("image/png", png, "i: read-clipboard print mold reduce [i/size i/1 i/2]",
         "[2x1 255.0.0.0 0.0.255.0]"),
    ]
    for target, data, source, wanted in cases:
        set_by_xclip(display, target, data)
        got = run_script(display, kiv, source)
        assert got == wanted, f"{target}: {got!r} != {wanted!r}"


# Each step writes, then serves the clipboard from an event loop until the
# test closes its window.
SERVER = r'''
steps: [
    [write-clipboard "one^/two"]
    [write-clipboard [%/tmp/x %"/tmp/with space/é"]]
    [i: make image! 2x1 i/2: 0.0.255.0 write-clipboard i]
]
n: 0
foreach step steps [
    n: n + 1
    print do step
    view/no-wait make face! [type: 'window text: rejoin ["clip-" n] size: 60x40]
    print ["ready" n]
    do-events
]
print "end"
'''


def others_read(display, kiv):
    """Kiv writes; xclip reads while the kiv process keeps running."""
    needs_xclip()
    prog = Program(display, kiv, SERVER)
    try:
        prog.expect("ready 1")
        assert xclip(display, "-o") == b"one\ntwo"
        display.close(display.window("clip-1"))
        prog.expect("ready 2")
        uris = xclip(display, "-o", "-t", "text/uri-list").decode().split("\r\n")
        assert [urllib.parse.unquote(u.removeprefix("file://")) for u in uris if u] == \
            ["/tmp/x", "/tmp/with space/é"], uris
        assert xclip(display, "-o").decode() == "/tmp/x\n/tmp/with space/é"
        display.close(display.window("clip-2"))
        prog.expect("ready 3")
        png = xclip(display, "-o", "-t", "image/png")
        pixels = subprocess.run(["convert", "png:-", "-depth", "8", "rgba:-"], input=png, capture_output=True,
                                check=True).stdout
        assert pixels == bytes([255, 255, 255, 255, 0, 0, 255, 255]), pixels
        display.close(display.window("clip-3"))
        prog.expect("end")
        assert prog.finish()[0] == 0
    finally:
        prog.kill()


def no_display(display, kiv):
    """Without a display reading gives false, writing false, and a bad value
    is still an error."""
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    source = ('print mold read-clipboard print mold write-clipboard "x" print mold write-clipboard none\n'
              'e: try [write-clipboard 1.5] print e/id\n')
    out = subprocess.run([kiv, "--cli"], input=source, env=env, capture_output=True, text=True,
                         timeout=30 * PATIENCE)
    lines = [l.removeprefix(">> ").strip() for l in out.stdout.splitlines()]
    lines = [l for l in lines if l and not l.startswith("--==") and "HELP" not in l]
    assert lines[:4] == ["false", "false", "false", "invalid-arg"], out.stdout + out.stderr
    assert out.returncode == 0


CASES = [round_trips, reads_from_others, others_read, no_display]

if __name__ == "__main__":
    run_cases(CASES, sys.argv)
