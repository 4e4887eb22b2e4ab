#!/usr/bin/env python3
"""Deflate next to Python's zlib in one run, on the same data: 50 MB of
text (this tree's sources, repeated), its zlib stream at level 6, then
the inflate time of that stream and the deflate time and size of the
text, Kiv's (bench_deflate) and zlib's (level 6), each the best of three.

    deflate_compare.py BENCH_DEFLATE SOURCE_DIR
"""
import glob
import os
import subprocess
import sys
import tempfile
import time
import zlib

bench, source_dir = sys.argv[1], sys.argv[2]
SIZE = 50 << 20
files = sorted(glob.glob(os.path.join(source_dir, "**", "*.[ch]pp"), recursive=True) +
               glob.glob(os.path.join(source_dir, "**", "*.kiv"), recursive=True))
corpus = b"".join(open(p, "rb").read() for p in files)
text = (corpus * (SIZE // len(corpus) + 1))[:SIZE]
stream = zlib.compress(text, 6)


def best(work):
    t = float("inf")
    for _ in range(3):
        start = time.perf_counter()
        work()
        t = min(t, time.perf_counter() - start)
    return t


with tempfile.TemporaryDirectory() as tmp:
    tp, sp = os.path.join(tmp, "text"), os.path.join(tmp, "stream")
    open(tp, "wb").write(text)
    open(sp, "wb").write(stream)
    print(f"50 MB of text ({len(corpus)} bytes of sources repeated); its zlib level 6 stream is {len(stream)} bytes")
    sys.stdout.flush()
    subprocess.run([bench, tp, sp], check=True)
mb = SIZE / 1048576
ti = best(lambda: zlib.decompress(stream))
# The output size known in advance, as Kiv's routine is given it.
tis = best(lambda: zlib.decompress(stream, bufsize=SIZE))
td = best(lambda: zlib.compress(text, 6))
print(f"zlib   inflate {ti:7.3f} s  {mb / ti:7.1f} MB/s")
print(f"zlib   inflate {tis:7.3f} s  {mb / tis:7.1f} MB/s  (bufsize given)")
print(f"zlib   deflate {td:7.3f} s  {mb / td:7.1f} MB/s  {len(stream)} bytes ({100 * len(stream) / SIZE:.1f}%)  level 6")
td1 = best(lambda: zlib.compress(text, 1))
print(f"zlib   deflate {td1:7.3f} s  {mb / td1:7.1f} MB/s  {len(zlib.compress(text, 1))} bytes  level 1")
