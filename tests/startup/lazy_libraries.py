#!/usr/bin/env python3
"""The large libraries (GTK with cairo and pango, libcurl, the image codec
libraries, libcrypto) are loaded on first use only: kiv does not name them
as needed libraries, an empty script maps none of them, and each use maps
its own and works (without a display)."""
import hashlib
import os
import subprocess
import sys
import tempfile

KIV = sys.argv[1]
HEAVY = ["libgtk-3", "libcairo", "libpango", "libcurl", "libpng", "libjpeg", "libgif", "libtiff", "libcrypto"]


def needed_libraries():
    out = subprocess.run(["readelf", "-d", KIV], capture_output=True, text=True, check=True).stdout
    return [line.split("[")[1].split("]")[0] for line in out.splitlines() if "(NEEDED)" in line]


def run(body):
    """Runs a script that prints its results, then the libraries it mapped."""
    with tempfile.NamedTemporaryFile("w", suffix=".kiv", delete=False) as f:
        f.write("Kiv []\n" + body + "\nprint read %/proc/self/maps\n")
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    # Images alive at exit are not freed: an instrumented build would call
    # them leaks, which is not what this test is about.
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    try:
        p = subprocess.run([KIV, f.name], capture_output=True, text=True, env=env, timeout=60)
    finally:
        os.unlink(f.name)
    if p.returncode != 0:
        raise AssertionError(f"{body!r} failed: {p.stderr}")
    return p.stdout


def mapped(out):
    return {lib for lib in HEAVY if lib in out}


SHA = hashlib.sha256(b"abc").hexdigest().upper()
CASES = [
    # script, expected output lines before the map, libraries it maps at
    # least (an empty set: it maps none of them)
    ("", [], set()),
    ("print 1 + 1", ["2"], set()),
    ("i: make image! 8x8 draw i [pen off fill-pen 255.0.0 box 0x0 8x8] print i/(3x3)",
     ["255.0.0.0"], {"libgtk-3", "libcairo", "libpango"}),
    ("print type? :system/view/platform/make-view", ["routine"], set()),
    ("i: make image! [2x1 #{010203040506}] print i = load/as save/as none i 'png 'png", ["true"], {"libpng"}),
    ("i: make image! [2x1 #{010203040506}] print i = load/as save/as none i 'bmp 'bmp", ["true"], set()),
    ("print #{" + SHA + "} = checksum \"abc\" 'sha256", ["true"], {"libcrypto"}),
    ("print error? try [read http://127.0.0.1:9/]", ["true"], {"libcurl"}),
]


def main():
    failures = 0
    needed = needed_libraries()
    for lib in HEAVY:
        if any(n.startswith(lib) for n in needed):
            print(f"FAIL kiv names {lib} as a needed library")
            failures += 1
    for body, lines, libs in CASES:
        try:
            out = run(body)
        except AssertionError as e:
            print(f"FAIL {e}")
            failures += 1
            continue
        got = out.splitlines()[: len(lines)]
        if got != lines or not libs <= mapped(out) or (not libs and mapped(out)):
            print(f"FAIL {body!r}\n  expected {lines} mapping {sorted(libs)}\n"
                  f"  got      {got} mapping {sorted(mapped(out))}")
            failures += 1
    print(f"{len(CASES) + 1 - failures} passed, {failures} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
