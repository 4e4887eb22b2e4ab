#!/usr/bin/env python3
"""The twin of bench_parse.cpp: the same three grammars as Python regular
expressions (possessive, so that neither side backtracks), on the text in
the file given, in MB/s, each the best of three runs."""
import re
import sys
import time

text = open(sys.argv[1], encoding="utf-8", newline="").read()
megabytes = len(text) / (1 << 20)


def shape():
    return re.fullmatch(r"(?:[^,\n]*+(?:,[^,\n]*+)*+\n)++", text) is not None


def copy_fields():
    n = 0
    for m in re.finditer(r"([^,\n]*+)[,\n]", text):
        m.group(1)
        n += 1
    return n > 0


def thru_lines():
    return re.fullmatch(r"(?:[^\n]*+\n)++", text) is not None


print(f"Python {sys.version.split()[0]} re on the same text, MB/s (best of 3 runs)")
for name, work in [("shape: some line", shape), ("copy every field, count", copy_fields),
                   ("thru each line end", thru_lines)]:
    best = float("inf")
    for run in range(3):
        start = time.perf_counter()
        ok = work()
        best = min(best, time.perf_counter() - start)
    print(f"  {name:40} {megabytes / best:8.1f}{'' if ok else '  (did not match!)'}")
