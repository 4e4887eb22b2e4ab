#!/usr/bin/env python3
"""Compares vector! arithmetic with the same arithmetic done in Python.

One random stream makes COUNT cases: a vector of a random element type and
width (char! and integer! of 8, 16 and 32 bits, float! of 32 and 64,
percent!) combined with a number on either side, or with a second vector of
the same element type. The cases go to kiv as one script that prints each
result's elements (or the error id); Python computes the same with C integer
types (two's complement wrap, truncating division, width truncation) and
IEEE doubles and singles. Prints 'N passed, N failed'.

Usage: vector_oracle.py KIV SEED COUNT
"""
import ctypes
import math
import random
import subprocess
import sys
import tempfile

OPS = ["add", "subtract", "multiply", "divide", "remainder", "and~", "or~", "xor~"]
KINDS = [("char!", 1), ("char!", 2), ("char!", 4), ("integer!", 1), ("integer!", 2), ("integer!", 4),
         ("float!", 4), ("float!", 8), ("percent!", 8)]
SIGNED = {1: ctypes.c_int8, 2: ctypes.c_int16, 4: ctypes.c_int32}


class KivError(Exception):
    pass


def wrap(v, width):
    return SIGNED[width](v).value


def single(d):
    return ctypes.c_float(d).value


def int_op(a, b, op):
    if op == "add":
        return wrap(a + b, 4)
    if op == "subtract":
        return wrap(a - b, 4)
    if op == "multiply":
        return wrap(a * b, 4)
    if op in ("divide", "remainder"):
        if b == 0:
            raise KivError("zero-divide")
        if b == -1:
            return wrap(-a, 4) if op == "divide" else 0
        q = abs(a) // abs(b) * (1 if (a < 0) == (b < 0) else -1)
        return q if op == "divide" else a - b * q
    if op == "and~":
        return a & b
    if op == "or~":
        return a | b
    return a ^ b


def float_op(x, y, op):
    if op == "add":
        return x + y
    if op == "subtract":
        return x - y
    if op == "multiply":
        return x * y
    if op == "divide":
        if y == 0:
            if x == 0 or math.isnan(x):
                return math.nan
            return math.copysign(math.inf, x) * math.copysign(1.0, y)
        return x / y
    # remainder: fmod, NaN for a zero or NaN divisor or an infinite dividend
    if math.isnan(y):
        return y
    if math.isinf(y):
        return x if math.isfinite(x) else math.nan
    if y == 0 or not math.isfinite(x):
        return math.nan
    return math.fmod(x, y)


def integral(kind):
    return kind in ("char!", "integer!")


def store(kind, width, d):
    """A double stored into an element: floats round to the width, integers
    must have a 32-bit whole part, which is then cut to the width."""
    if not integral(kind):
        return single(d) if width == 4 else d
    if not (-2147483649.0 < d < 2147483648.0):
        raise KivError("out-of-range")
    return wrap(int(d), width)


def with_scalar(kind, width, elements, scalar, op, swapped):
    neutral = scalar == (0 if op in ("add", "subtract") else 1)
    if neutral and (op in ("add", "multiply") or (not swapped and op in ("subtract", "divide"))):
        return elements
    out = []
    for e in elements:
        if integral(kind) and isinstance(scalar, int):
            r = int_op(scalar, e, op) if swapped else int_op(e, scalar, op)
            out.append(wrap(r, width))
        else:
            r = float_op(float(scalar), float(e), op) if swapped else float_op(float(e), float(scalar), op)
            out.append(store(kind, width, r))
    return out


def with_vector(kind, w1, a, w2, b, op):
    width = max(w1, w2)
    out = []
    for x, y in zip(a, b):
        if integral(kind):
            out.append(wrap(int_op(x, y, op), width))
        else:
            out.append(store(kind, width, float_op(x, y, op)))
    return out


def random_elements(rng, kind, width, n):
    if integral(kind):
        bits = 8 * width
        pick = lambda: rng.choice([0, 1, -1, 2, -(1 << (bits - 1)), (1 << (bits - 1)) - 1,
                                    rng.randrange(-(1 << (bits - 1)), 1 << (bits - 1)), rng.randrange(-9, 10)])
        return [pick() for _ in range(n)]
    pick = lambda: rng.choice([0.0, 1.0, -1.5, 0.1, rng.uniform(-1e6, 1e6), rng.uniform(-1, 1), 1e300, -2.5e-300])
    return [store(kind, width, pick()) for _ in range(n)]


def random_scalar(rng, kind):
    if rng.random() < 0.5 or kind in ("char!",):
        return rng.choice([0, 1, -1, 2, 3, 7, -2147483648, 2147483647, rng.randrange(-1000, 1000),
                           rng.randrange(-2 ** 31, 2 ** 31)])
    return rng.choice([0.0, 1.0, 0.5, -2.25, 3.0, rng.uniform(-1e3, 1e3), 1e10])


def kiv_number(v, kind=None):
    if isinstance(v, int):
        return str(v)
    if math.isnan(v):
        return "1.#NaN"
    if math.isinf(v):
        return "1.#INF" if v > 0 else "-1.#INF"
    return repr(v)


def kiv_vector(kind, width, elements):
    # Percent elements are given as fractions: a float! stores its value.
    return "make vector! [%s %d [%s]]" % (kind, width * 8, " ".join(kiv_number(e) for e in elements))


def parse_number(text):
    if text == "1.#NaN":
        return math.nan
    if text == "1.#INF":
        return math.inf
    if text == "-1.#INF":
        return -math.inf
    return float(text) if any(c in text for c in ".eE") else int(text)


def same(a, b):
    if len(a) != len(b):
        return False
    for x, y in zip(a, b):
        if isinstance(x, float) or isinstance(y, float):
            x, y = float(x), float(y)
            if math.isnan(x) and math.isnan(y):
                continue
            if x != y:
                return False
        elif x != y:
            return False
    return True


def main():
    kiv, seed, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(seed)
    cases = []
    lines = ["Kiv []",
             "show: func [v] [foreach e to block! v [prin case [char? e [to integer! e] percent? e [mold to float! e] true [mold e]] prin \" \"] print \"\"]",
             "run: func [code] [either error? r: try code [print [\"error\" r/id]] [show r]]"]
    for _ in range(count):
        kind, width = rng.choice(KINDS)
        ops = OPS if integral(kind) else OPS[:5]
        op = rng.choice(ops)
        # A vector holds at least one element.
        a = random_elements(rng, kind, width, rng.randrange(1, 9))
        shape = rng.choice(["right", "left", "vector"])
        try:
            if shape == "vector":
                w2 = rng.choice([w for k, w in KINDS if k == kind])
                b = random_elements(rng, kind, w2, rng.randrange(1, 9))
                code = "%s (%s) (%s)" % (op, kiv_vector(kind, width, a), kiv_vector(kind, w2, b))
                want = with_vector(kind, width, a, w2, b, op)
            else:
                s = random_scalar(rng, kind)
                if op.endswith("~") and isinstance(s, float):
                    s = rng.randrange(-1000, 1000)
                v = kiv_vector(kind, width, a)
                swapped = shape == "left"
                code = "%s %s (%s)" % (op, kiv_number(s), v) if swapped else "%s (%s) %s" % (op, v, kiv_number(s))
                want = with_scalar(kind, width, a, s, op, swapped)
        except KivError as e:
            want = "error %s" % e
        lines.append("run [%s]" % code)
        cases.append((code, want))
    with tempfile.NamedTemporaryFile("w", suffix=".kiv", delete=False) as f:
        f.write("\n".join(lines) + "\n")
        script = f.name
    out = subprocess.run([kiv, script], capture_output=True, text=True, timeout=300)
    got_lines = out.stdout.splitlines()
    passed = failed = 0
    for i, (code, want) in enumerate(cases):
        got = got_lines[i] if i < len(got_lines) else "<missing>"
        if isinstance(want, str):
            ok = got.strip() == want
        else:
            try:
                ok = not got.startswith("error") and same([parse_number(t) for t in got.split()], want)
            except ValueError:
                ok = False
        if ok:
            passed += 1
        else:
            failed += 1
            if failed <= 20:
                print("FAIL %s\n  expected: %s\n  got:      %s" % (code, want, got))
    if out.returncode != 0 or out.stderr:
        print("kiv exited with %d: %s" % (out.returncode, out.stderr[:500]))
        failed += 1
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
