#!/usr/bin/env python3
"""Runs each program of bench/programs in Kiv, Python 3 and Lua 5.4 and prints
the median times and the ratios Kiv/Python and Kiv/Lua."""
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PROGRAMS = ["fib", "count", "strings", "blocks", "objects", "maps_int", "maps_str", "hash_find", "block_find"]


def kiv_command(kiv, path):
    return [kiv, path]


def median_time(cmd, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(cmd, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    kiv = sys.argv[1] if len(sys.argv) > 1 else "build/kiv"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    print(f"{'program':10} {'kiv s':>8} {'python s':>9} {'lua s':>8} {'kiv/py':>7} {'kiv/lua':>8}")
    for name in PROGRAMS:
        base = os.path.join(HERE, "programs", name)
        k = median_time(kiv_command(kiv, base + ".kiv"), runs)
        p = median_time([sys.executable, base + ".py"], runs)
        lua = median_time(["lua5.4", base + ".lua"], runs)
        print(f"{name:10} {k:8.3f} {p:9.3f} {lua:8.3f} {k / p:7.2f} {k / lua:8.2f}")


if __name__ == "__main__":
    main()
