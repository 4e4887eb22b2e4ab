#!/usr/bin/env python3
"""Feeds NAME.in to the console on the terminal (kiv --cli) and compares what
it prints with NAME.out and its exit status with NAME.status (0 when absent)."""
import difflib
import os
import subprocess
import sys


def main():
    kiv, base = sys.argv[1], sys.argv[2]
    with open(base + ".in", "rb") as f:
        given = f.read()
    with open(base + ".out", "rb") as f:
        expected = f.read().decode("utf-8")
    status = 0
    if os.path.exists(base + ".status"):
        with open(base + ".status") as f:
            status = int(f.read().strip())
    run = subprocess.run([kiv, "--cli"], input=given, capture_output=True, timeout=60)
    got = run.stdout.decode("utf-8")
    ok = True
    if got != expected:
        ok = False
        sys.stdout.writelines(difflib.unified_diff(expected.splitlines(True), got.splitlines(True),
                                                   "expected", "got"))
    if run.returncode != status:
        ok = False
        print(f"exit status {run.returncode}, expected {status}")
    if run.stderr:
        ok = False
        print("stderr:", run.stderr.decode("utf-8", "replace"))
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
