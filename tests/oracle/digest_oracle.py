#!/usr/bin/env python3
"""Compares `checksum` with Python's zlib, hashlib and hmac on random data.

One random stream makes the inputs: byte strings of sizes from 0 to 1 MB
(the sizes around the digests' block lengths among them), UTF-8 texts,
and HMAC keys shorter than, as long as and longer than a block. They are
written to files; a generated Kiv script runs `checksum` on each (as a
file, as a binary from an index, as a string) and prints one line per case,
which is compared with the Python answer. With `big`, one 100 MB input is
checked with every integer method as well.

Prints every disagreement (at most 20) and 'N passed, N failed'; the exit
status is 1 when any case disagrees.

    digest_oracle.py KIV SEED COUNT [big]
"""
import array
import hashlib
import hmac
import os
import random
import subprocess
import sys
import tempfile
import zlib

DIGESTS = ["md5", "sha1", "sha256", "sha384", "sha512"]
SIZES = [0, 1, 2, 3, 55, 56, 63, 64, 65, 111, 112, 127, 128, 129, 3854, 5552, 5553, 65536, 131076, 1 << 20]


def signed(n):
    return n - (1 << 32) if n >= 1 << 31 else n


def tcp(data):
    words = array.array("H", data[: len(data) & ~1])
    if sys.byteorder == "little":
        words.byteswap()
    total = sum(words) + (data[-1] << 8 if len(data) & 1 else 0)
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def integer_answers(data):
    return {"crc32": signed(zlib.crc32(data)), "adler32": signed(zlib.adler32(data)), "tcp": tcp(data)}


def random_text(rng, n):
    pool = "abc xyz\n\t" + "éüß" + "€中文" + "\U0001F600"
    return "".join(rng.choice(pool) for _ in range(n))


def main():
    kiv, seed, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    big = len(sys.argv) > 4 and sys.argv[4] == "big"
    rng = random.Random(seed)
    cases = []  # (Kiv expression, expected text)
    with tempfile.TemporaryDirectory() as tmp:
        def put(name, data):
            path = os.path.join(tmp, name)
            with open(path, "wb") as f:
                f.write(data)
            return "%" + path

        for i in range(count):
            size = SIZES[i] if i < len(SIZES) else rng.choice([rng.randint(0, 300), rng.randint(0, 1 << 20)])
            data = rng.randbytes(size)
            if rng.random() < 0.2:  # long runs as well as noise
                data = bytes(rng.choice([0, 255, 7]) for _ in range(8)) * (size // 8)
            f = put(f"d{i}", data)
            for method, want in integer_answers(data).items():
                cases.append((f"checksum {f} '{method}", str(want)))
            for method in DIGESTS:
                cases.append((f"checksum {f} '{method}", hashlib.new(method, data).hexdigest()))
            skip = rng.randint(0, min(size, 100))
            cases.append((f"checksum skip read/binary {f} {skip} 'crc32", str(signed(zlib.crc32(data[skip:])))))
            cases.append((f"checksum skip read/binary {f} {skip} 'sha256",
                          hashlib.sha256(data[skip:]).hexdigest()))
            for method in DIGESTS:
                key = rng.randbytes(rng.choice([0, 1, 20, 63, 64, 65, 127, 128, 129, rng.randint(0, 400)]))
                k = put(f"k{i}{method}", key)
                cases.append((f"checksum/with {f} '{method} read/binary {k}",
                              hmac.new(key, data, method).hexdigest()))
            text = random_text(rng, rng.randint(0, 2000))
            t = put(f"t{i}", text.encode("utf-8"))
            tb = text.encode("utf-8")
            cases.append((f"checksum read {t} 'sha1", hashlib.sha1(tb).hexdigest()))
            cases.append((f"checksum read {t} 'adler32", str(signed(zlib.adler32(tb)))))
            cases.append((f"checksum/with read {t} 'md5 \"kéy\"",
                          hmac.new("kéy".encode(), tb, "md5").hexdigest()))
        if big:
            data = rng.randbytes(100 << 20)
            f = put("big", data)
            for method, want in integer_answers(data).items():
                cases.append((f"checksum {f} '{method}", str(want)))
            cases.append((f"checksum {f} 'sha256", hashlib.sha256(data).hexdigest()))
            ones = put("ones", b"\xff" * (100 << 20))
            cases.append((f"checksum {ones} 'tcp", "0"))
        script = ["Kiv []", "show: func [v] [print either binary? v [lowercase enbase/base v 16] [v]]"]
        script += [f"show try [{code}]" for code, _ in cases]
        path = os.path.join(tmp, "cases.kiv")
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n".join(script) + "\n")
        out = subprocess.run([kiv, path], capture_output=True, text=True).stdout.splitlines()
    failed = 0
    for n, (code, want) in enumerate(cases):
        got = out[n] if n < len(out) else "<no output>"
        if got != want:
            failed += 1
            if failed <= 20:
                print(f"FAILED: {code}\n  expected: {want}\n  got:      {got}")
    print(f"{len(cases) - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


main()
