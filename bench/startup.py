#!/usr/bin/env python3
"""Start-up time of the kiv program to a ready runtime (its console reads an
empty input and quits at once),
against `python3 -c pass`: the median of many runs of each."""
import statistics
import subprocess
import sys
import time


def median_run(cmd, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(cmd, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    kiv = sys.argv[1] if len(sys.argv) > 1 else "build/kiv"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 101
    k = median_run([kiv], runs)
    p = median_run([sys.executable, "-c", "pass"], runs)
    print(f"start-up, median of {runs}: kiv {k * 1000:.2f} ms, python3 -c pass {p * 1000:.2f} ms, ratio {k / p:.2f}")


if __name__ == "__main__":
    main()
