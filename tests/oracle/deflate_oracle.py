#!/usr/bin/env python3
"""Compares compress and decompress with Python's zlib and gzip.

The inputs (one random stream, plus files of this tree as real text and
the kiv program as a real binary): empty, one byte, random text, random
bytes (incompressible), long runs and repeated phrases (highly repetitive),
and 10 MB of text. Both directions are checked for each input:

- Kiv compresses with each method (zlib, deflate, gzip) and Python's
  zlib.decompress, a raw decompressobj and gzip.decompress must give the
  input back;
- Python compresses at every level 0-9 (and with the Huffman-only, RLE and
  fixed strategies) in each framing, gzip members also with a file name,
  comment and extra field, and Kiv's decompress must give the input back.

Prints every disagreement (at most 20) and 'N passed, N failed'; the exit
status is 1 when any case disagrees.

    deflate_oracle.py KIV SOURCE_DIR SEED
"""
import glob
import gzip
import io
import os
import random
import subprocess
import sys
import tempfile
import zlib

METHODS = ["zlib", "deflate", "gzip"]


def python_compress(data, method, level, strategy=zlib.Z_DEFAULT_STRATEGY):
    wbits = {"zlib": 15, "deflate": -15, "gzip": 31}[method]
    c = zlib.compressobj(level, zlib.DEFLATED, wbits, 9 if level % 2 else 8, strategy)
    return c.compress(data) + c.flush()


def python_decompress(data, method):
    if method == "zlib":
        return zlib.decompress(data)
    if method == "deflate":
        d = zlib.decompressobj(-15)
        out = d.decompress(data) + d.flush()
        if not d.eof:
            raise ValueError("stream not finished")
        return out
    return gzip.decompress(data)


def gzip_with_fields(data, level):
    buf = io.BytesIO()
    with gzip.GzipFile(filename="name.txt", mode="wb", fileobj=buf, compresslevel=level, mtime=0) as f:
        f.write(data)
    raw = bytearray(buf.getvalue())
    # Add an extra field and a comment (FEXTRA, FCOMMENT) after the name.
    flags = raw[3]
    name_end = raw.index(0, 10) + 1
    extra = b"\x05\x00hello"
    raw[3] = flags | 4 | 16
    return bytes(raw[:10]) + extra + bytes(raw[10:name_end]) + b"a comment\x00" + bytes(raw[name_end:])


def inputs(rng, source_dir, kiv):
    words = ["the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "été", "ünï", "\n", "  "]
    text = lambda n: "".join(rng.choice(words) + " " for _ in range(n)).encode("utf-8")
    yield "empty", b""
    yield "one byte", bytes([rng.randrange(256)])
    yield "two bytes", b"ab"
    yield "four equal bytes", b"zzzz"
    yield "random text", text(rng.randint(100, 20000))
    yield "random bytes", rng.randbytes(rng.randint(1, 200000))
    yield "one run", bytes([rng.randrange(256)]) * rng.randint(1000, 300000)
    yield "short runs", b"".join(bytes([rng.randrange(4)]) * rng.randint(1, 300) for _ in range(2000))
    yield "repeated phrase", b"abcdefghij0123456789" * 5000
    yield "long distances", rng.randbytes(40000) * 3
    sources = sorted(glob.glob(os.path.join(source_dir, "runtime", "**", "*.cpp"), recursive=True))
    yield "sources", b"".join(open(p, "rb").read() for p in sources)[: 3 << 20]
    yield "kiv program", open(kiv, "rb").read()[: 3 << 20]
    yield "10 MB text", text(1_800_000)[: 10 << 20]


def main():
    kiv, source_dir, seed = sys.argv[1], sys.argv[2], int(sys.argv[3])
    rng = random.Random(seed)
    failures = []
    passed = 0
    with tempfile.TemporaryDirectory() as tmp:
        script = ["Kiv []"]
        checks = []  # (description, path of Kiv's output, expected bytes or None, method for Python)
        expected = {}
        for i, (name, data) in enumerate(inputs(rng, source_dir, kiv)):
            src = os.path.join(tmp, f"in{i}")
            open(src, "wb").write(data)
            expected[i] = data
            for method in METHODS:
                out = os.path.join(tmp, f"k{i}{method}")
                script.append(f"attempt [write/binary %{out} compress read/binary %{src} '{method}]")
                checks.append((f"{name}: Kiv compress {method}", out, i, method))
            levels = [0, 1, 6, 9] if len(data) > (4 << 20) else range(10)
            variants = [(level, zlib.Z_DEFAULT_STRATEGY) for level in levels]
            variants += [(6, zlib.Z_HUFFMAN_ONLY), (6, zlib.Z_RLE), (6, zlib.Z_FIXED)]
            for method in METHODS:
                for level, strategy in variants:
                    packed = python_compress(data, method, level, strategy)
                    tag = f"p{i}{method}{level}s{strategy}"
                    p = os.path.join(tmp, tag)
                    open(p, "wb").write(packed)
                    out = p + ".out"
                    script.append(f"attempt [write/binary %{out} decompress read/binary %{p} '{method}]")
                    checks.append((f"{name}: Python {method} level {level} strategy {strategy}", out, i, None))
            p = os.path.join(tmp, f"f{i}")
            open(p, "wb").write(gzip_with_fields(data, 6))
            script.append(f"attempt [write/binary %{p}.out decompress read/binary %{p} 'gzip]")
            checks.append((f"{name}: gzip with name, comment and extra field", p + ".out", i, None))
        path = os.path.join(tmp, "cases.kiv")
        open(path, "w", encoding="utf-8").write("\n".join(script) + "\n")
        run = subprocess.run([kiv, path], capture_output=True, text=True)
        if run.returncode:
            print(run.stdout[-2000:], run.stderr[-2000:])
        for description, out, i, method in checks:
            if not os.path.exists(out):
                failures.append(f"{description}: Kiv gave no output")
                continue
            got = open(out, "rb").read()
            if method:
                try:
                    got = python_decompress(got, method)
                except Exception as e:  # a stream Python refuses
                    failures.append(f"{description}: Python refuses it: {e}")
                    continue
            if got == expected[i]:
                passed += 1
            else:
                failures.append(f"{description}: {len(got)} bytes differ from the {len(expected[i])} expected")
    for f in failures[:20]:
        print("FAILED:", f)
    print(f"{passed} passed, {len(failures)} failed")
    sys.exit(1 if failures else 0)


main()
