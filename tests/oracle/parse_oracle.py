#!/usr/bin/env python3
"""Compares PARSE with Python's re on random strings and random rules.

Each case is a random rule block and its equivalent regular expression, in
which every rule is an atomic group, so that neither backtracks into a rule
that has matched:

    literal string or char    the text, case-folded unless /case
    bitset                    a class, never case-folded: (?-i:[...])
    skip, end, none, fail     (?s:.)  \\Z  (?:)  (?!)
    [a b]                     (?>a)(?>b)
    [a | b]                   (?>a|b)
    some r, any r, opt r      (?>r)++  (?>r)*+  (?>r)?+
    n r, n m r                (?>r){n}  (?>r){n,m}+
    not r, ahead r            (?!r)  (?=r)
    to r, thru r              (?>[\\s\\S]*?(?=r))  (?>[\\s\\S]*?(?>r))

The rules run through tests/oracle/parse_run.cpp and re.fullmatch is the
oracle. Prints every disagreement (at most 20) and 'N passed, N failed';
the exit status is 1 when any case disagrees.

With `binary` the input is the UTF-8 of the text as a binary!, which is
always matched exactly, and some literals are binaries. The oracle then
sees the bytes as the Latin-1 characters of the same numbers, so that a
string or char rule stands for its code units, one byte each, and `skip`
for one byte.

    parse_oracle.py PARSE_RUN SEED COUNT [binary]
"""
import random
import re
import subprocess
import sys

if sys.version_info < (3, 11):
    sys.exit("atomic groups and possessive quantifiers need Python 3.11")

LETTERS = "abAB"
RARE = "cé"  # a letter no rule names, and one outside ASCII with a case pair


def random_text(rng, length):
    return "".join(rng.choice(RARE) if rng.random() < 0.08 else rng.choice(LETTERS) for _ in range(length))


def recase(rng, text):
    return "".join(c.swapcase() if rng.random() < 0.3 else c for c in text)


def as_bytes(text):
    """The UTF-8 of a text, one Latin-1 character per byte."""
    return text.encode("utf-8").decode("latin-1")


class Generator:
    """Random rules as (Kiv text, pattern, sampler): the sampler makes a text
    that the rule is likely to match, so that both outcomes are common."""

    def __init__(self, rng, binary):
        self.rng = rng
        self.binary = binary
        self.bitsets = []  # (word, characters)

    def literal(self):
        text = random_text(self.rng, self.rng.choice([0, 1, 1, 1, 2, 2, 3]))
        sample = lambda: recase(self.rng, text)
        if self.binary and self.rng.random() < 0.4:
            return f"#{{{text.encode('utf-8').hex()}}}", f"(?:{re.escape(as_bytes(text))})", sample
        if len(text) == 1 and self.rng.random() < 0.5:
            return f'#"{text}"', re.escape(text), sample
        return f'"{text}"', f"(?:{re.escape(text)})", sample

    def bitset(self):
        chars = "".join(sorted(set(random_text(self.rng, self.rng.randint(1, 3)))))
        word = f"b{len(self.bitsets)}"
        self.bitsets.append((word, chars))
        return word, "(?-i:[" + "".join(re.escape(c) for c in chars) + "])", lambda: self.rng.choice(chars)

    def atom(self):
        r = self.rng.random()
        if r < 0.55:
            return self.literal()
        if r < 0.72:
            return self.bitset()
        nothing = lambda: ""
        return self.rng.choice([("skip", "(?s:.)", lambda: random_text(self.rng, 1))] * 2 +
                               [("end", r"\Z", nothing), ("none", "(?:)", nothing), ("fail", "(?!)", nothing)])

    def sequence(self, depth, count):
        items = [self.rule(depth) for _ in range(count)]
        return (" ".join(k for k, _, _ in items), "".join(f"(?>{p})" for _, p, _ in items),
                lambda: "".join(f() for _, _, f in items))

    def block(self, depth):
        alternatives = [self.sequence(depth, self.rng.randint(1, 3)) for _ in range(self.rng.choice([1, 1, 2, 3]))]
        kiv = " | ".join(k for k, _, _ in alternatives)
        return (f"[{kiv}]", "(?>" + "|".join(f"(?:{p})" for _, p, _ in alternatives) + ")",
                lambda: self.rng.choice(alternatives)[2]())

    def rule(self, depth):
        if depth <= 0 or self.rng.random() < 0.35:
            return self.atom()
        r = self.rng.random()
        if r < 0.3:
            return self.block(depth - 1)
        kiv, pattern, sample = self.rule(depth - 1)
        counted = f"[{kiv}]" if kiv[0].isdigit() else kiv  # two counts in a row are one range
        n = self.rng.randint(0, 3)
        m = n + self.rng.randint(0, 2)
        times = lambda low, high: lambda: "".join(sample() for _ in range(self.rng.randint(low, high)))
        nothing = lambda: ""
        prefix = lambda: random_text(self.rng, self.rng.randint(0, 2))
        forms = [
            (f"some {kiv}", f"(?>{pattern})++", times(1, 3)),
            (f"any {kiv}", f"(?>{pattern})*+", times(0, 3)),
            (f"opt {kiv}", f"(?>{pattern})?+", times(0, 1)),
            (f"{n} {counted}", f"(?>{pattern}){{{n}}}", times(n, n)),
            (f"{n} {m} {counted}", f"(?>(?>{pattern}){{{n},{m}}}+)", times(n, m)),
            (f"not {kiv}", f"(?!{pattern})", nothing),
            (f"ahead {kiv}", f"(?={pattern})", nothing),
            (f"to {kiv}", rf"(?>[\s\S]*?(?={pattern}))", prefix),
            (f"thru {kiv}", rf"(?>[\s\S]*?(?>{pattern}))", lambda: prefix() + sample()),
        ]
        return self.rng.choice(forms)


def make_case(rng, binary):
    g = Generator(rng, binary)
    rules, pattern, sample = g.block(rng.randint(1, 4))
    exact = rng.random() < 0.3
    setup = " ".join(f'{word}: make bitset! "{chars}"' for word, chars in g.bitsets)
    if binary:
        setup += " s: to binary! s"
    code = f"{setup} parse{'/case' if exact else ''} s {rules}".strip()
    text = sample() if rng.random() < 0.7 else random_text(rng, rng.randint(0, 8))
    if binary:
        expected = re.fullmatch(pattern, as_bytes(text)) is not None
    else:
        expected = re.fullmatch(pattern, text, 0 if exact else re.IGNORECASE) is not None
    return text, code, pattern, "true" if expected else "false"


def main():
    runner, seed, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    binary = sys.argv[4:] == ["binary"]
    rng = random.Random(seed)
    cases = [make_case(rng, binary) for _ in range(count)]
    lines = "".join(f"{text}\t{code}\n" for text, code, _, _ in cases)
    out = subprocess.run([runner], input=lines, capture_output=True, text=True, check=True).stdout.splitlines()
    if len(out) != len(cases):
        print(f"the runner answered {len(out)} of {len(cases)} cases")
        return 1
    passed = failed = 0
    for (text, code, pattern, expected), got in zip(cases, out):
        if got == expected:
            passed += 1
            continue
        failed += 1
        if failed <= 20:
            print(f"{code!r} on {text!r}: parse says {got}, re says {expected} ({pattern})")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
