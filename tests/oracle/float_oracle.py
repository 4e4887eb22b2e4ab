#!/usr/bin/env python3
"""Compares the runtime's float text conversions with Python's.

Shortest digits: COUNT doubles from a splitmix64 stream (the same stream in
float_dump.cpp), plus subnormals, powers of two and 2^53 +- k, must give the
digits and decimal exponent of Python's repr. Reading: decimal texts
(random, long ties, around the subnormal boundary) must read back to the
same bits as Python's float(). Prints 'N passed, N failed'.
"""
import random
import struct
import subprocess
import sys
from decimal import Decimal

MASK = (1 << 64) - 1


def splitmix(state):
    while True:
        state = (state + 0x9E3779B97F4A7C15) & MASK
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        yield z ^ (z >> 31)


def expected_digits(bits):
    d = struct.unpack("<d", struct.pack("<Q", bits))[0]
    if d != d or d in (float("inf"), float("-inf")) or d == 0.0:
        return None  # specials and zeros have their own forms, tested elsewhere
    sign, digits, exponent = Decimal(repr(abs(d))).as_tuple()
    text = "".join(map(str, digits)).rstrip("0") or "0"
    stripped = len(digits) - len("".join(map(str, digits)).rstrip("0"))
    decpt = len(text) + exponent + stripped
    return text, decpt, 1 if bits >> 63 else 0


def main():
    dump, seed, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    passed = failed = 0
    out = subprocess.run([dump, "shortest", str(seed), str(count)], capture_output=True, text=True, check=True)
    gen = splitmix(seed)
    for line in out.stdout.splitlines():
        bits_text, text, decpt, sign = line.split()
        bits = next(gen)
        assert int(bits_text, 16) == bits
        want = expected_digits(bits)
        if want is None:
            continue
        if want == (text, int(decpt), int(sign)):
            passed += 1
        else:
            failed += 1
            if failed <= 10:
                print(f"shortest {bits_text}: got {text} {decpt} {sign}, want {want}")

    # Subnormals, powers of two and the integers around 2^53.
    special = [m for m in range(1, 2000)] + [(1 << 52) - m for m in range(1, 2000)]
    special += [(e << 52) for e in range(1, 2047)]
    special += [struct.unpack("<Q", struct.pack("<d", float(2 ** 53 + k)))[0] for k in range(-1000, 1001)]
    out = subprocess.run([dump, "digits"], input="\n".join(f"{b:x}" for b in special) + "\n",
                         capture_output=True, text=True, check=True)
    for line in out.stdout.splitlines():
        bits_text, text, decpt, sign = line.split()
        want = expected_digits(int(bits_text, 16))
        if want is None:
            continue
        if want == (text, int(decpt), int(sign)):
            passed += 1
        else:
            failed += 1
            if failed <= 10:
                print(f"digits {bits_text}: got {text} {decpt} {sign}, want {want}")

    rng = random.Random(seed)
    texts = []
    for _ in range(count // 10):
        texts.append(f"{rng.randint(1, 10**rng.randint(1, 25))}e{rng.randint(-330, 310)}")
        texts.append(repr(struct.unpack("<d", struct.pack("<Q", rng.getrandbits(63)))[0]))
    # Ties: exactly halfway between two doubles, written out in full.
    for _ in range(2000):
        m = rng.getrandbits(52) | (1 << 52)
        e = rng.randint(-1074, 970)
        half = Decimal(2 * m + 1) * Decimal(2) ** (e - 1)
        texts.append(format(half, "f") if abs(e) < 60 else format(half, "e"))
    for k in range(-5, 6):
        texts.append(repr(5e-324 * (2 ** 52) * (1 + k * 2 ** -52)))
        texts.append(f"{2.2250738585072014e-308 * (1 + k * 1e-16)!r}")
    texts = [t for t in texts if "inf" not in t and "nan" not in t]
    out = subprocess.run([dump, "read"], input="\n".join(texts) + "\n", capture_output=True, text=True, check=True)
    for text, got in zip(texts, out.stdout.splitlines()):
        want = struct.unpack("<Q", struct.pack("<d", float(text)))[0]
        if int(got, 16) == want:
            passed += 1
        else:
            failed += 1
            if failed <= 10:
                print(f"read {text}: got {got}, want {want:016x}")
    print(f"{passed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
