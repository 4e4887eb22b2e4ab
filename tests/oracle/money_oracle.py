#!/usr/bin/env python3
"""Compares money! arithmetic with Python's decimal on random operations.

Each case is one operation on random amounts: add, subtract, multiply and
divide (by money, integers and decimal floats), remainder, round (every
refinement, with and without /to) and the comparisons < = > against money,
integers and floats. Kiv runs them all in one script through the kiv
program, printing each result molded with all its digits (or the error's
id); the oracle computes them with decimal in a context of the money!
layout: 22 digits, 5 of them after the point, results truncated toward
zero, and an amount that needs more digits is the `type-limit` error. So the
oracle decides both the digits and where overflow must be raised.

    money_oracle.py KIV SEED COUNT

Prints every disagreement (at most 20) and 'N passed, N failed'; the exit
status is 1 when any case disagrees.
"""
import decimal
import os
import random
import subprocess
import sys
import tempfile
from decimal import Decimal

LAYOUT = decimal.Context(prec=22, rounding=decimal.ROUND_DOWN, traps=[decimal.InvalidOperation])
WIDE = decimal.Context(prec=80, rounding=decimal.ROUND_DOWN)
STEP = Decimal("0.00001")
LIMIT = Decimal(10) ** 17

MODES = {
    "": decimal.ROUND_HALF_UP,
    "/even": decimal.ROUND_HALF_EVEN,
    "/down": decimal.ROUND_DOWN,
    "/half-down": decimal.ROUND_HALF_DOWN,
    "/floor": decimal.ROUND_FLOOR,
    "/ceiling": decimal.ROUND_CEILING,
    "/half-ceiling": None,  # halves toward +infinity, the rest to nearest
}


class Overflow(Exception):
    pass


class Refused(Exception):
    """A float that cannot become money (strictly: nor with more than five
    fraction digits)."""


def fit(x):
    """The amount as money! holds it: truncated to 5 places, or overflow."""
    try:
        return x.quantize(STEP, context=LAYOUT)
    except decimal.InvalidOperation:
        raise Overflow()


def random_money(rng):
    whole_digits = rng.choice([0, 1, 2, 3, 5, 8, 10, 12, 15, 16, 17, 17])
    fraction_digits = rng.randint(0, 5)
    whole = "".join(rng.choice("0123456789") for _ in range(whole_digits)) or "0"
    fraction = "".join(rng.choice("0123456789") for _ in range(fraction_digits))
    text = whole + ("." + fraction if fraction else "")
    value = Decimal(text)
    if rng.random() < 0.5:
        value = -value
    return value


def money_text(value):
    sign = "-" if value < 0 else ""
    return sign + "$" + format(abs(value), "f")


def random_integer(rng):
    kind = rng.random()
    if kind < 0.3:
        return rng.randint(-9, 9)
    if kind < 0.6:
        return rng.randint(-100000, 100000)
    return rng.randint(-2147483648, 2147483647)


def random_float_text(rng, strict_digits=True):
    """A decimal literal whose shortest double digits are its own digits."""
    kind = rng.random()
    if kind < 0.05:
        return rng.choice(["1e-6", "-1e-6", "1e18", "-1e18", "0.0"])
    whole = str(rng.randint(0, 10 ** rng.randint(0, 8)))
    places = min(rng.randint(0, 5 if strict_digits else 7), 15 - len(whole))
    fraction = "".join(rng.choice("0123456789") for _ in range(places))
    text = whole + "." + (fraction or "0")
    if rng.random() < 0.5:
        text = "-" + text
    return text


def float_amount(text, strict):
    """The money a float literal becomes: strictly, or dropping digits."""
    value = Decimal(text)
    if (value != 0 and abs(value) < STEP) or abs(value) >= LIMIT:
        raise Refused()
    exact = value.quantize(STEP, rounding=decimal.ROUND_DOWN)
    if strict and exact != value:
        raise Refused()
    return exact


def round_money(value, scale, mode):
    if value == 0 or scale == 0:
        return value
    x = WIDE.divide(value, scale)
    if mode is None:
        half = abs(x - x.to_integral_value(rounding=decimal.ROUND_DOWN)) == Decimal("0.5")
        mode = decimal.ROUND_CEILING if half else decimal.ROUND_HALF_UP
    return fit(x.to_integral_value(rounding=mode) * scale)


def compare(a, b, op):
    return {"<": a < b, "=": a == b, ">": a > b}[op]


def make_case(rng):
    """Kiv code and the expected text of its result."""
    op = rng.choice(["add", "subtract", "multiply", "divide", "remainder", "round", "compare"])
    a = random_money(rng)
    code = ""
    try:
        if op in ("add", "subtract"):
            b = random_money(rng)
            if rng.random() < 0.3:
                # Near the limit, so that sums overflow often.
                a = (Decimal(10) ** 17 - Decimal(rng.randint(1, 10 ** 6)) * STEP) * (1 if a >= 0 else -1)
            sign = "+" if op == "add" else "-"
            code = f"{money_text(a)} {sign} {money_text(b)}"
            return code, ("money", fit(WIDE.add(a, b) if op == "add" else WIDE.subtract(a, b)))
        if op == "multiply":
            if rng.random() < 0.5:
                n = random_integer(rng)
                code = f"{money_text(a)} * {n}"
                return code, ("money", fit(WIDE.multiply(a, Decimal(n))))
            text = random_float_text(rng, strict_digits=False)
            code = f"{money_text(a)} * {text}"
            try:
                return code, ("money", fit(WIDE.multiply(a, float_amount(text, False))))
            except Refused:
                return code, ("error", "bad-make-arg")
        if op in ("divide", "remainder"):
            kind = rng.random()
            if kind < 0.3:
                b = random_money(rng)
                divisor = b
                b_text = money_text(b)
            elif kind < 0.6:
                divisor = Decimal(random_integer(rng))
                b_text = str(divisor)
            else:
                b_text = random_float_text(rng, strict_digits=False)
                try:
                    divisor = float_amount(b_text, False)
                except Refused:
                    return f"{money_text(a)} / {b_text}", ("error", "bad-make-arg")
            code = f"{money_text(a)} / {b_text}" if op == "divide" else f"remainder {money_text(a)} {b_text}"
            if divisor == 0:
                return code, ("error", "zero-divide")
            if op == "remainder":
                return code, ("money", fit(WIDE.remainder(a, divisor)))
            if kind < 0.3:
                return code, ("float", float(a) / float(divisor))
            return code, ("money", fit(WIDE.divide(a, divisor)))
        if op == "round":
            refinement = rng.choice(list(MODES))
            kind = rng.random()
            if kind < 0.3:
                code = f"round{refinement} {money_text(a)}"
                return code, ("money", round_money(a, Decimal(1), MODES[refinement]))
            if kind < 0.5:
                n = rng.choice([0, 1, 2, 3, 5, 10, 25, 100, -7, 1000000])
                scale, scale_text = Decimal(n), str(n)
            else:
                # Scales of a few digits, so that halves come up.
                digits = rng.randint(1, 3)
                unit = Decimal(10) ** rng.randint(-5, 3)
                scale = Decimal(rng.randint(1, 10 ** digits - 1)) * unit
                if rng.random() < 0.3:
                    # An amount on a half of the scale.
                    a = (Decimal(rng.randint(0, 10 ** 6)) + Decimal("0.5")) * scale * rng.choice([1, -1])
                    try:
                        a = fit(a)
                    except Overflow:
                        a = Decimal(0)
                scale_text = money_text(scale)
            code = f"round{refinement}/to {money_text(a)} {scale_text}"
            return code, ("money", round_money(a, abs(scale), MODES[refinement]))
        # compare
        relation = rng.choice(["<", "=", ">"])
        kind = rng.random()
        if kind < 0.4:
            b = random_money(rng) if rng.random() < 0.8 else a
            b_text = money_text(b)
        elif kind < 0.6:
            b = Decimal(random_integer(rng))
            b_text = str(b)
        else:
            b_text = random_float_text(rng, strict_digits=rng.random() < 0.8)
            b = Decimal(b_text)
            # Amounts that cannot be money order by sign and size; the rest
            # must convert strictly.
            if b != 0 and STEP <= abs(b) < LIMIT:
                try:
                    float_amount(b_text, True)
                except Refused:
                    # The signs decide before any conversion.
                    if (a > 0) == (b > 0) and a != 0:
                        return f"{money_text(a)} {relation} {b_text}", ("error", "bad-make-arg")
        return f"{money_text(a)} {relation} {b_text}", ("logic", compare(a, b, relation))
    except Overflow:
        return code, ("error", "type-limit")


def parse_result(line):
    if line.startswith("error "):
        return ("error", line[6:])
    if line in ("#(true)", "#(false)"):
        return ("logic", line == "#(true)")
    if "$" in line:
        negative = line.startswith("-")
        value = Decimal(line[line.index("$") + 1:])
        return ("money", -value if negative else value)
    return ("float", float(line))


def same(expected, got):
    if expected[0] != got[0]:
        return False
    if expected[0] == "money":
        return expected[1] == got[1]
    return expected[1] == got[1]


def main():
    kiv, seed, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(seed)
    cases = [make_case(rng) for _ in range(count)]
    lines = [
        "Kiv []",
        "t: func [code /local r] [",
        "    either error? set/any 'r try code [print ['error r/id]] [print mold/all :r]",
        "]",
    ]
    lines += [f"t [{code}]" for code, _ in cases]
    with tempfile.NamedTemporaryFile("w", suffix=".kiv", delete=False) as f:
        f.write("\n".join(lines) + "\n")
        script = f.name
    try:
        out = subprocess.run([kiv, script], capture_output=True, text=True, timeout=600)
    finally:
        os.unlink(script)
    results = out.stdout.splitlines()
    if len(results) != count:
        print(f"kiv printed {len(results)} lines for {count} cases (status {out.returncode})")
        print(out.stderr[-2000:])
        return 1
    failed = 0
    for (code, expected), line in zip(cases, results):
        got = parse_result(line)
        if not same(expected, got):
            failed += 1
            if failed <= 20:
                print(f"FAIL {code}\n  expected: {expected}\n  got:      {line}")
    print(f"{count - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
