#!/usr/bin/env python3
"""Runs each program of bench/programs in Kiv, Python 3 and Lua 5.4 and prints
the median times and the ratios Kiv/Python and Kiv/Lua.

The three contenders run in turn within each repetition, so that a load that
comes and goes on the machine weighs on all of them alike. Programs that read
a text get the path of a file generated here (the same text every run) as
their first argument.

    compare.py [--before=KIV] [kiv] [runs] [program ...]

With --before, a second kiv program (an earlier build) runs in the same
rounds and its times and ratio to Python are printed as well."""
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PROGRAMS = ["fib", "count", "strings", "blocks", "objects",
            "calls", "fields", "nested", "words", "floats", "form", "parse",
            "vector_add", "vector_sum", "maps_int", "maps_str", "hash_find", "block_find"]


def csv_like_text(size):
    """Eight fields a line: numbers, words, empty fields (as bench_parse.cpp)."""
    out = []
    total = 0
    state = 12345

    def next_value():
        nonlocal state
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        return (state >> 16) & 0x7FFF

    while total < size:
        fields = []
        for _ in range(8):
            kind, length = next_value() % 4, next_value() % 12
            if kind == 0:
                fields.append("")
            elif kind == 1:
                fields.append("".join(chr(48 + next_value() % 10) for _ in range(length)))
            else:
                fields.append("".join(chr(97 + next_value() % 26) for _ in range(length)))
        line = ",".join(fields) + "\n"
        out.append(line)
        total += len(line)
    return "".join(out)


def word_text(size):
    """Words of one to ten letters, one space apart, twelve to a line."""
    out = []
    total = 0
    state = 54321
    count = 0
    while total < size:
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        length = 1 + (state >> 16) % 10
        word = "".join(chr(97 + (state >> (i % 16)) % 26) for i in range(length))
        count += 1
        word += "\n" if count % 12 == 0 else " "
        out.append(word)
        total += len(word)
    return "".join(out)


DATA = {"words": lambda: word_text(5 << 20), "parse": lambda: csv_like_text(10 << 20)}


def run_time(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    args = sys.argv[1:]
    before = None
    if args and args[0].startswith("--before="):
        before = args.pop(0)[len("--before="):]
    kiv = args[0] if len(args) > 0 else "build/kiv"
    runs = int(args[1]) if len(args) > 1 else 3
    names = args[2:] or PROGRAMS
    head = f"{'program':10} {'kiv s':>8} {'python s':>9} {'lua s':>8} {'kiv/py':>7} {'kiv/lua':>8}"
    if before:
        head += f" {'before s':>9} {'before/py':>10}"
    print(f"{head}   (median of {runs})")
    with tempfile.TemporaryDirectory() as tmp:
        for name in names:
            base = os.path.join(HERE, "programs", name)
            data = []
            if name in DATA:
                path = os.path.join(tmp, name + ".txt")
                with open(path, "w", encoding="utf-8", newline="") as f:
                    f.write(DATA[name]())
                data = [path]
            contenders = [[kiv, base + ".kiv"], [sys.executable, base + ".py"], ["lua5.4", base + ".lua"]]
            if before:
                contenders.append([before, base + ".kiv"])
            times = [[] for _ in contenders]
            for _ in range(runs):
                for i, cmd in enumerate(contenders):
                    times[i].append(run_time(cmd + data))
            k, p, lua, *earlier = (statistics.median(t) for t in times)
            line = f"{name:10} {k:8.3f} {p:9.3f} {lua:8.3f} {k / p:7.2f} {k / lua:8.2f}"
            if earlier:
                line += f" {earlier[0]:9.3f} {earlier[0] / p:10.2f}"
            print(line, flush=True)


if __name__ == "__main__":
    main()
