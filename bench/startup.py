#!/usr/bin/env python3
"""Start-up time of the kiv program to a ready runtime (its console on the
terminal reads an empty input and quits at once),
against `python3 -c pass`: the median of many runs of each, the two run in
turn so that a load on the machine weighs on both alike. With valgrind on
the machine, the instructions of one run are counted as well (callgrind):
a figure that the load does not change."""
import os
import re
import shutil
import tempfile
import statistics
import subprocess
import sys
import time


def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def instructions(cmd):
    """Instructions of one run under callgrind, None without valgrind."""
    if not shutil.which("valgrind"):
        return None
    with tempfile.TemporaryDirectory() as d:
        p = subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={os.path.join(d, 'out')}"] + cmd,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    m = re.search(r"Collected : (\d+)", p.stderr)
    return int(m.group(1)) if m else None


def main():
    kiv = sys.argv[1] if len(sys.argv) > 1 else "build/kiv"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 101
    ks, ps = [], []
    for _ in range(runs):
        ks.append(timed([kiv, "--cli"]))
        ps.append(timed([sys.executable, "-c", "pass"]))
    k, p = statistics.median(ks), statistics.median(ps)
    print(f"start-up, median of {runs}: kiv {k * 1000:.2f} ms, python3 -c pass {p * 1000:.2f} ms, ratio {k / p:.2f}")
    n = instructions([kiv, "--cli"])
    if n:
        print(f"start-up instructions (callgrind): kiv {n / 1e6:.1f}M")


if __name__ == "__main__":
    main()
