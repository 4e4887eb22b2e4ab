#!/usr/bin/env python3
"""Prints the oracle tables of the float/text conversion tests.

Python is the trusted reference: repr() gives the shortest round-trip digits,
the decimal module rounds exact binary values to a precision (half to even),
and float() reads decimal text correctly rounded.

    python3 tools/float_text_cases.py > tests/unit/float_text_cases.inc
"""
import math
import random
import struct
from decimal import Decimal, Context, ROUND_HALF_EVEN

EXACT = Context(prec=2000)
FLOAT_MAX = 1.7976931348623157e308
rng = random.Random(20240611)


def bits_of(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def from_bits(b):
    return struct.unpack("<d", struct.pack("<Q", b))[0]


def digits_and_decpt(d):
    """The digits (no trailing zeros) and decimal-point position of a
    positive Decimal: d = 0.DIGITS * 10**decpt."""
    sign, ds, exp = d.as_tuple()
    text = "".join(map(str, ds)).rstrip("0")
    return text, len(ds) + exp


def shortest(x):
    return digits_and_decpt(Decimal(repr(abs(x))))


def with_precision(x, p):
    """Digits capped at p: the shortest ones when they fit, else the exact
    value rounded half to even to p digits."""
    s = shortest(x)
    if len(s[0]) <= p:
        return s
    rounded = Context(prec=p, rounding=ROUND_HALF_EVEN).plus(Decimal(abs(x)))
    return digits_and_decpt(rounded)


def random_double():
    exponent = rng.randint(0, 2046)
    mantissa = rng.getrandbits(52)
    sign = rng.getrandbits(1)
    return from_bits(sign << 63 | exponent << 52 | mantissa)


def interesting_doubles():
    xs = [0.1, 0.2, 0.3, 1 / 3, 2 / 3, 0.1 + 0.2, 1.5, 100.0, 123.456,
          2.0 ** 53, 2.0 ** 53 + 2, 2.0 ** 63, 2.0 ** 64, 2.0 ** -1022,
          2.0 ** -1074, 2.0 ** 1023, math.pi, math.e, 267.49999999999997,
          FLOAT_MAX, -FLOAT_MAX, 2.2250738585072014e-308,
          2.225073858507201e-308, 4.9406564584124654e-324, 9.9e-324,
          1e15, 999999999999999.0, 1e16, 9999999999999998.0, 1e17,
          123456789012345678.0, 1e22, 1e23, 5e-324 * 3, 5e-324 * 12345]
    # Subnormals across their range.
    xs += [from_bits(rng.getrandbits(52) >> rng.randint(0, 51) | 1) for _ in range(12)]
    # Powers of ten and their neighbours.
    for k in list(range(-323, 309, 17)) + list(range(-9, 24)):
        x = float("1e%d" % k)
        xs += [x]
        if -8 <= k <= 19 or k % 3 == 0:
            xs += [math.nextafter(x, 0.0), math.nextafter(x, math.inf)]
    # The lowest double of a binade has an uneven rounding interval.
    xs += [2.0 ** e for e in range(-1021, 1024, 97)]
    return xs


def shortest_rows():
    xs = interesting_doubles() + [random_double() for _ in range(160)]
    xs += [-x for x in xs[:20]]
    rows = []
    for x in xs:
        assert x != 0.0 and math.isfinite(x)
        d, decpt = shortest(x)
        rows.append('    {0x%016XULL, "%s", %d},' % (bits_of(x), d, decpt))
    return rows


def precision_rows():
    cases = []
    # Exact ties between two candidates: half to even decides.
    ties = [(0.125, 2), (0.375, 2), (2.5, 1), (3.5, 1), (1.5, 1), (9.5, 1),
            (99.5, 2), (0.5, 0), (12345.0, 4), (12355.0, 4), (1234.5, 4),
            (1235.5, 4), (2.0 ** 60, 3), (2.0 ** 70, 5), (5e-324, 1),
            (5e-324, 3), (4503599627370497.5, 16), (0.0625, 3)]
    cases += [(x, p) for x, p in ties if p > 0]
    cases += [(123.456, 2), (0.1, 20), (1 / 3, 5), (2 / 3, 5), (9.999, 3),
              (99999.9, 5), (0.099999, 2), (FLOAT_MAX, 5),
              (1e23, 1), (9007199254740994.0, 3), (123456789.0, 3),
              (999999999999999.0, 14), (0.3, 17), (0.30000000000000004, 16)]
    # Random values, integers within and beyond the exact-integer range,
    # and halves of integers.
    cases += [(random_double(), rng.randint(1, 17)) for _ in range(110)]
    cases += [(float(rng.randint(1, 10 ** 15)), rng.randint(1, 15)) for _ in range(20)]
    cases += [(float(rng.randint(1, 10 ** 19)) * 16, rng.randint(1, 17)) for _ in range(10)]
    cases += [(rng.randint(1, 10 ** 6) + 0.5, rng.randint(1, 7)) for _ in range(20)]
    rows = []
    for x, p in cases:
        d, decpt = with_precision(x, p)
        rows.append('    {0x%016XULL, %d, "%s", %d},' % (bits_of(x), p, d, decpt))
    return rows


def exact_text(d):
    """Plain decimal text of an exact Decimal."""
    return format(d, "f") if -30 < d.adjusted() < 30 else format(d, "e")


def halfway_texts():
    """Points exactly between two neighbouring doubles, and a hair on either
    side of them."""
    texts = []
    xs = [2.0 ** 53, 1.0, 0.1, 1e22, 1e23, 123.456, 2.0 ** -1022, 2.0 ** -1074,
          3 * 2.0 ** -1074, FLOAT_MAX / 2]
    xs += [math.ldexp(1 + rng.random(), rng.randint(-80, 80)) for _ in range(24)]
    for x in xs:
        mid = EXACT.divide(EXACT.add(Decimal(x), Decimal(math.nextafter(x, math.inf))), 2)
        texts.append(exact_text(mid))
        if len(texts) % 3 == 0:
            hair = EXACT.scaleb(Decimal(1), mid.adjusted() - 40)
            texts.append(exact_text(EXACT.add(mid, hair)))
            texts.append(exact_text(EXACT.subtract(mid, hair)))
    texts += ["9007199254740993.0000", "9007199254740993.0000000000000000000001",
              "2.4703282292062327e-324", "2.4703282292062328e-324",
              "1.7976931348623158e308", "1.7976931348623159e308",
              "179769313486231580793728971405301e276",
              "179769313486231580793728971405302e276"]
    return texts


def random_texts():
    """Decimal texts in the reader's syntax: signs, leading zeros, points,
    exponents in either case, long digit strings."""
    texts = []
    for _ in range(120):
        n = rng.choice([1, 2, 5, 9, 15, 16, 17, 18, 19, 25, 45, 80])
        ds = str(rng.randint(1, 9)) + "".join(rng.choice("0123456789") for _ in range(n - 1))
        point = rng.randint(0, n)
        mantissa = ds[:point] + "." + ds[point:] if rng.random() < 0.7 else ds
        if rng.random() < 0.2:
            mantissa = "00" + mantissa
        text = mantissa
        if rng.random() < 0.75:
            exponent = rng.randint(-345, 330) if rng.random() < 0.5 else rng.randint(-30, 30)
            sign = rng.choice(["", "+", "-"]) if exponent >= 0 else "-"
            text += rng.choice("eE") + sign + str(abs(exponent))
        if rng.random() < 0.3 and float(text) != 0.0:
            text = "-" + text
        elif rng.random() < 0.1:
            text = "+" + text
        texts.append(text)
    for _ in range(40):
        x = abs(random_double())
        texts.append(rng.choice([repr(x), "%.17e" % x, "%.20g" % x, "%.25E" % x]))
    return texts


def reading_rows():
    cases = [(t, 0) for t in halfway_texts() + random_texts()]
    # The extra exponent of percent literals.
    cases += [(t, -2) for t in ["5", "12.5", "0.5", "1e-2", "99.999", "1e310",
                                "3.3333333333333333333", "-7.25", "1e-322"]]
    rows = []
    for text, extra in cases:
        value = float(str(EXACT.scaleb(EXACT.create_decimal(text), extra)))
        rows.append('    {"%s", %d, 0x%016XULL},' % (text, extra, bits_of(value)))
    return rows


def table(kind, name, rows):
    return ["const %s %s[] = {" % (kind, name)] + rows + ["};", ""]


def main():
    lines = ["// Generated by tools/float_text_cases.py from Python's repr(), decimal",
             "// module and float(); rerun the script to regenerate. Do not edit.",
             "",
             "// Shortest round-trip digits: bits, digits, decpt.",
             *table("shortest_case", "shortest_cases", shortest_rows()),
             "// Digits capped at a precision: bits, precision, digits, decpt.",
             *table("precision_case", "precision_cases", precision_rows()),
             "// Text read to a double: text, extra exponent, bits.",
             *table("reading_case", "reading_cases", reading_rows())]
    print("\n".join(lines))


if __name__ == "__main__":
    main()
