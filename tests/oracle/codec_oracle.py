#!/usr/bin/env python3
"""Compares load-json/to-json and load-csv/to-csv with Python's json and csv.

One random stream makes COUNT JSON documents (random trees of every value
kind, unicode and escapes in strings and names, integers inside and beyond
the 32-bit range, floats, deep nesting) and COUNT CSV tables (fields holding
the delimiter, quotes, spaces, CR and LF, other delimiters and quote
characters). Python writes each one (json.dumps with and without
ensure_ascii, with and without indentation; csv.writer); kiv reads it and
writes it back (to-json, to-json/ascii, to-json/pretty; to-csv); Python reads
kiv's text and must get the value it started from. Integers beyond the
32-bit range load as floats in kiv, so they are compared as floats.
Prints every disagreement (at most 20) and 'N passed, N failed'.

Usage: codec_oracle.py KIV SEED COUNT
"""
import csv
import io
import json
import os
import random
import subprocess
import sys
import tempfile

ALPHABET = "abcxyz019 -_'\"\\/:,{}[]\t\n\r\x00\x1f\x7féñ中€😀𝄞"
NAME_ALPHABET = "abcxyz019 -_'\"\\/:,\t\né中😀"


def random_text(rng, alphabet, limit=12):
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(0, limit)))


def random_number(rng):
    kind = rng.random()
    if kind < 0.4:
        return rng.randint(-2**31, 2**31 - 1)
    if kind < 0.5:
        return rng.choice([-1, 1]) * rng.randint(2**31, 2**62)
    if kind < 0.8:
        return rng.uniform(-1e6, 1e6)
    return rng.choice([-1, 1]) * rng.random() * 10.0 ** rng.randint(-300, 300)


def random_tree(rng, depth):
    kind = rng.random()
    if depth > 4 or kind < 0.45:
        scalar = rng.random()
        if scalar < 0.1:
            return rng.choice([True, False, None])
        if scalar < 0.5:
            return random_number(rng)
        return random_text(rng, ALPHABET)
    if kind < 0.7:
        return [random_tree(rng, depth + 1) for _ in range(rng.randint(0, 5))]
    # Map keys compare without case, so names differ in more than case.
    names = {random_text(rng, NAME_ALPHABET, 6).lower() for _ in range(rng.randint(0, 5))}
    return {name: random_tree(rng, depth + 1) for name in names}


def deep_tree(rng):
    value = random_number(rng)
    for _ in range(rng.randint(100, 500)):
        value = [value] if rng.random() < 0.5 else {"k": value}
    return value


def normal(value):
    """The value as kiv keeps it: integers beyond 32 bits become floats."""
    if isinstance(value, bool) or value is None:
        return value
    if isinstance(value, int):
        return value if -2**31 <= value < 2**31 else float(value)
    if isinstance(value, list):
        return [normal(v) for v in value]
    if isinstance(value, dict):
        return {k: normal(v) for k, v in value.items()}
    return value


def random_table(rng):
    width = rng.randint(2, 5)
    delimiter = rng.choice([",", ",", ";", "\t", "|"])
    quote = rng.choice(['"', '"', "'"])
    alphabet = "ab 1" + delimiter + quote + "\r\n,;é😀"
    rows = [[random_text(rng, alphabet, 8) for _ in range(width)] for _ in range(rng.randint(1, 8))]
    return rows, delimiter, quote


def kiv_string(text):
    return "{" + "".join("^{" if c == "{" else "^}" if c == "}" else "^^" if c == "^" else c for c in text) + "}"


def main():
    kiv, seed, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(seed)
    cases = []
    with tempfile.TemporaryDirectory() as tmp:
        lines = ["Kiv []"]
        for i in range(count):
            doc = deep_tree(rng) if i % 25 == 0 else random_tree(rng, 0)
            style = i % 4
            text = json.dumps(doc, ensure_ascii=style % 2 == 0, indent=2 if style == 3 else None)
            source = os.path.join(tmp, f"j{i}.json")
            target = os.path.join(tmp, f"j{i}.out")
            with open(source, "w", encoding="utf-8") as f:
                f.write(text)
            writer = ["to-json", "to-json/ascii", "to-json/pretty", "to-json/pretty"][style]
            indent = ' "  "' if writer == "to-json/pretty" else ""
            lines.append(f"attempt/safer [write %{target} {writer} load-json read %{source}{indent}]")
            cases.append(("json", i, doc, target))
        for i in range(count):
            rows, delimiter, quote = random_table(rng)
            buffer = io.StringIO(newline="")
            csv.writer(buffer, delimiter=delimiter, quotechar=quote).writerows(rows)
            source = os.path.join(tmp, f"c{i}.csv")
            target = os.path.join(tmp, f"c{i}.out")
            with open(source, "w", encoding="utf-8", newline="") as f:
                f.write(buffer.getvalue())
            quote_char = '#"^""' if quote == '"' else '#"' + quote + '"'
            options = f"{kiv_string(delimiter)} {quote_char}"
            lines.append(f"attempt/safer [write %{target} to-csv/with/quote "
                         f"load-csv/with/quote read %{source} {options} {options}]")
            cases.append(("csv", i, (rows, delimiter, quote), target))
        script = os.path.join(tmp, "run.kiv")
        with open(script, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        subprocess.run([kiv, script], check=False, timeout=600)
        passed = failed = 0
        for kind, i, expected, target in cases:
            try:
                with open(target, encoding="utf-8", newline="") as f:
                    text = f.read()
                if kind == "json":
                    got, want = json.loads(text), normal(expected)
                else:
                    rows, delimiter, quote = expected
                    got = list(csv.reader(io.StringIO(text, newline=""), delimiter=delimiter, quotechar=quote))
                    want = rows
                ok = got == want
            except (OSError, ValueError) as e:
                ok, got, want = False, e, expected
            if ok:
                passed += 1
            else:
                failed += 1
                if failed <= 20:
                    print(f"{kind} case {i}: want {want!r}\n    got {got!r}"[:2000])
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
