#!/usr/bin/env python3
"""Generates runtime/evaluator/lexer_tables.h: the lexer's byte classes and
its state machine (transition, skip, line and token-type tables).

The tables are written below in the form a reader checks them in: each byte
class with its bytes and flags, and each state of the machine with its role,
its default next state and the byte classes that lead elsewhere. The script
turns them into plain arrays and refuses anything inconsistent (a byte in two
classes, a class named twice in one row, an unknown label).

    tools/lexer_tables.py            rewrites the header
    tools/lexer_tables.py --check    fails when the header is not current
"""
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
OUTPUT = ROOT / "runtime" / "evaluator" / "lexer_tables.h"

# Byte classes: label, bytes, flag. The flags of a token's bytes are ORed
# together while it is scanned, so handlers know what the token holds.
CLASSES = [
    ("blank", [0x09, 0x0D, 0x20], 0),
    ("lf", [0x0A], 0),
    ("digit", "123456789", 0),
    ("zero", "0", 0),
    ("lbracket", "[", 0),
    ("rbracket", "]", 0),
    ("lparen", "(", 0),
    ("rparen", ")", 0),
    ("lbrace", "{", 0),
    ("rbrace", "}", 0),
    ("dquote", '"', 0),
    ("sharp", "#", 0x800000),
    ("quote", "'", 0x2000000),
    ("colon", ":", 0x4000000),
    ("x", "xX", 0),
    ("T", "T", 0),
    ("h", "h", 0),
    ("e", "e", 0x1000000),
    ("E", "E", 0x1000000),
    ("hexlow", "abcdf", 0),
    ("hexup", "ABCDF", 0),
    ("slash", "/", 0),
    ("backslash", "\\", 0),
    ("less", "<", 0x100000),
    ("greater", ">", 0x80000),
    ("equal", "=", 0),
    ("percent", "%", 0x40000),
    ("comma", ",", 0x8000000),
    ("semicolon", ";", 0),
    ("at", "@", 0),
    ("dot", ".", 0x10000000),
    ("dollar", "$", 0),
    ("plus", "+", 0x200000),
    ("minus", "-", 0x200000),
    ("caret", "^", 0x20000000),
    ("control", list(range(0x01, 0x09)) + [0x0B, 0x0C] + list(range(0x0E, 0x20)), 0),
    ("ext", list(range(0x7F, 0xC0)), 0),
    ("letter", "!&*?GHIJKLMNOPQRSUVWYZ_`gijklmnopqrstuvwyz|~" + "".join(map(chr, range(0xC2, 0xF8))), 0),
    ("illegal", [0xC0, 0xC1] + list(range(0xF8, 0x100)), 0),
    ("end", [0x00], 0x400000),
]

# Flags of the UTF-8 lead bytes: bits 30-31 tell the widest sequence.
LEAD_FLAGS = [(range(0xC2, 0xF0), 0x40000000), (range(0xF0, 0xF8), 0x80000000)]

# The machine: state, role, default next state, other transitions.
ROWS = """
0 | between tokens (initial) | 52 | blank, lf, control to 0; semicolon to 1; dquote to 2; percent to 6; slash to 13; sharp to 16; digit, zero to 23; dollar to 36; E, hexup to 40; less to 43; plus, minus to 47; dot to 49; quote, colon to 51; at to 57; equal to 58; end to 66; rbrace, backslash, ext, illegal to 67; lbracket to 68; rbracket to 69; lparen to 70; rparen to 71; lbrace to 72; comma to 78
1 | comment, after ";" up to the line end | 1 | illegal to 67; lf, end to 77
2 | string body after a double quote | 2 | caret to 3; lf, illegal, end to 67; dquote to 79
3 | string, after "^" | 2 | illegal, end to 67
4 | multi-line string body | 4 | caret to 5; illegal, end to 67; lbrace to 72; rbrace to 73
5 | multi-line string, after "^" | 4 | illegal, end to 67
6 | after "%" | 7 | dquote to 8; percent to 9; lbrace to 10; colon to 54; illegal to 67; blank, lf, lbracket, rbracket, lparen, rparen, rbrace, semicolon, at, control, end to 80
7 | file body | 7 | dquote, illegal to 67; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, colon, semicolon, at, end to 85
8 | quoted file body after a percent sign and a double quote | 8 | lf, illegal, end to 67; dquote to 85
9 | run of "%" before a raw string | 7 | percent to 9; lbrace to 10; illegal to 67; blank, lf, lbracket, rbracket, lparen, rparen, rbrace, dquote, backslash, semicolon, control, end to 80
10 | raw string body after percent signs and an opening brace | 10 | rbrace to 11; illegal, end to 67
11 | raw string, after "}" | 10 | rbrace to 11; percent to 12; illegal, end to 67
12 | raw string, closing "%" run | 67 | percent to 12; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, dquote, less, semicolon, control, end to 100
13 | after "/" at token start | 14 | slash to 15; colon to 53; comma, illegal to 67; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, sharp, semicolon, at, control, end to 80
14 | refinement body | 14 | colon, comma, illegal to 67; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, slash, semicolon, at, control, end to 83
15 | word of slashes | 52 | slash to 15; percent, comma, dollar, illegal to 67; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, sharp, semicolon, at, control, end to 80
16 | after "#" | 22 | lbrace to 17; dquote to 19; lparen to 21; blank, lf, rbracket, rparen, rbrace, colon, less, greater, comma, illegal to 67; lbracket to 74; semicolon, at, control, end to 81
17 | binary body after "#{" | 67 | blank, lf, digit, zero, x, T, h, e, E, hexlow, hexup, slash, equal, plus, letter to 17; semicolon to 18; rbrace to 86
18 | binary, comment up to the line end | 18 | lf to 17; illegal, end to 67
19 | char body after a sharp sign and a double quote | 19 | caret to 20; illegal, end to 67; dquote to 84
20 | char, after "^" | 19 | illegal, end to 67
21 | construction body after "#(" | 21 | illegal, end to 67; rparen to 76
22 | issue body | 22 | colon, slash, illegal to 67; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, semicolon, at, control, end to 81
23 | integer digits | 82 | sharp to 16; digit, zero, quote to 23; dot to 24; e to 26; E to 27; T, slash, minus to 30; colon to 31; x to 33; hexup to 39; h to 42; at to 56; hexlow, backslash, greater, equal, dollar, plus, caret, ext, letter, illegal to 67; percent to 87
24 | digits and one dot | 67 | digit, zero, quote to 25; e, E to 26; sharp to 28; x to 33; percent to 87; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, slash, less, comma, semicolon, control, end to 88
25 | decimal fraction digits | 88 | digit, zero, quote to 25; e, E to 26; dot to 29; x to 33; at to 56; sharp, T, h, hexlow, hexup, backslash, greater, equal, dollar, plus, minus, caret, ext, letter, illegal to 67; percent to 87
26 | exponent digits | 67 | digit, zero, plus, minus to 26; at to 56; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, colon, slash, less, comma, semicolon, control, end to 88
27 | digits then "E" | 88 | plus, minus to 26; digit, zero to 27; dot to 29; E, hexup to 40; h to 42; at to 56; sharp, quote, x, T, e, hexlow, backslash, greater, equal, semicolon, dollar, caret, ext, letter, illegal to 67; percent to 87
28 | after "1.#" (special float) | 89 | x, T, h, e, E, hexlow, hexup, greater, equal, dot, plus, minus, ext, letter to 28; sharp, quote, colon, percent, at, dollar, caret, illegal to 67; digit to 88
29 | tuple, after the second dot | 67 | digit, zero, dot to 29; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, colon, slash, less, semicolon, control, end to 90
30 | date body | 30 | percent, comma, at, caret, ext, illegal to 67; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, less, semicolon, dollar, control, end to 91
31 | time, after the first colon | 67 | digit, zero to 32
32 | time body | 67 | digit, zero, colon, dot to 32; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, slash, less, semicolon, control, end to 94
33 | pair, after "x" | 67 | digit, zero, plus, minus to 34; at to 56
34 | pair, second coordinate | 67 | digit, zero, e, E, dot to 34; at to 56; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, colon, slash, less, semicolon, control, end to 92
35 | point body inside parentheses | 67 | blank, digit, zero, rbracket, sharp, e, E, hexlow, hexup, comma, dot, plus, minus, letter to 35; rparen to 93
36 | money, after "$" | 67 | digit, zero to 37
37 | money digits | 67 | digit, zero, quote to 37; dot to 38; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, sharp, colon, slash, less, semicolon, control, end to 95
38 | money fraction digits | 67 | digit, zero, quote to 38; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, sharp, colon, slash, less, semicolon, control, end to 95
39 | hexadecimal digits | 67 | digit, zero, E, hexup to 39; h to 41; at to 56
40 | word that may be a hexadecimal integer | 80 | dollar to 37; digit, zero, E, hexup to 40; h to 41; quote, x, T, e, hexlow, less, greater, equal, dot, plus, minus, caret, ext, letter to 52; colon to 53; at to 56; percent, comma, illegal to 67; slash to 75
41 | hexadecimal letters then "h" | 52 | dollar to 37; colon to 53; at to 56; sharp, percent, comma, illegal to 67; slash to 75; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, backslash, semicolon, control, end to 99
42 | digits then "h" | 67 | dollar to 37; at to 56; slash to 75; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, backslash, less, semicolon, control, end to 99
43 | after "<" | 44 | less to 43; quote to 46; greater, equal, minus to 52; colon to 53; illegal to 67; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, semicolon, control, end to 80
44 | tag body | 44 | dquote to 45; quote to 46; illegal, end to 67; greater to 96
45 | tag, inside double quotes | 45 | dquote to 44; illegal, end to 67
46 | tag, inside single quotes | 46 | quote to 44; illegal, end to 67
47 | after a leading sign | 52 | digit, zero to 23; dollar to 37; dot to 49; quote, percent, caret, illegal to 67; slash to 75; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, sharp, backslash, semicolon, control, end to 80
48 | after a quote or colon and a sign | 52 | quote, percent, dollar, caret, illegal to 67; slash to 75; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, sharp, backslash, semicolon, control, end to 80
49 | after a leading dot | 52 | digit, zero, plus, minus to 50; colon to 53; at to 56; percent, comma, dollar, illegal to 67; slash to 75; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, sharp, backslash, semicolon, control, end to 80
50 | fraction after a leading dot | 67 | x to 33; digit, zero, e, E, plus, minus to 50; at to 56; percent to 87; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, colon, slash, less, control, end to 88
51 | after a leading quote or colon | 67 | slash to 13; less to 43; plus, minus to 48; x, T, h, e, E, hexlow, hexup, greater, dot, caret, ext, letter to 52; percent to 54; equal to 58
52 | word body | 52 | dollar to 36; colon to 53; at to 56; percent, comma, illegal to 67; slash to 75; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, sharp, backslash, less, semicolon, control, end to 80
53 | word then ":" (set-word or url) | 55 | less, illegal to 67; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, backslash, semicolon, control, end to 80
54 | word of "%" signs | 67 | percent to 54; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, backslash, semicolon, control, end to 80
55 | url body | 55 | greater, caret, illegal to 67; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, backslash, less, semicolon, control, end to 97
56 | email body after "@" | 98 | digit, zero, x, T, h, e, E, hexlow, hexup, percent, dot, plus, minus, ext, letter to 56; sharp, quote, colon, greater, equal, comma, at, dollar, caret, illegal to 67
57 | ref body after "@" | 57 | sharp, quote, backslash, greater, equal, comma, at, dollar, caret, illegal to 67; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, less, semicolon, control, end to 101
58 | after "=" | 52 | sharp, percent, comma, at, dollar, illegal to 67; slash to 75; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, colon, backslash, semicolon, control, end to 80
59 | path element start | 67 | dquote to 2; dollar to 36; less to 43; at to 57; digit, zero to 60; quote, colon to 61; x, T, h, e, E, hexlow, hexup, greater, equal, dot, ext, letter to 62; sharp to 63; plus, minus to 64; lparen to 70; rparen to 71
60 | path element, digits | 67 | dot to 24; e, E to 26; x to 33; at to 56; digit, zero, quote to 60; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, colon, slash, less, semicolon, control, end to 82; percent to 87
61 | path element, after a quote or colon | 67 | x, T, h, e, E, hexlow, hexup, less, greater, equal, dot, plus, minus, ext, letter to 62
62 | path element, word | 62 | dollar to 36; at to 56; sharp, percent, comma, illegal to 67; blank, lf, lbracket, rbracket, lparen, rparen, lbrace, rbrace, dquote, colon, slash, backslash, semicolon, control, end to 80
63 | path element, after "#" | 22 | dquote to 19; lbracket to 21; blank, lf, rbracket, lparen, rparen, lbrace, rbrace, colon, slash, less, greater, equal, comma, semicolon, at, control, illegal, end to 67
64 | path element, after a sign | 80 | dollar to 36; at to 56; digit, zero to 60; x, T, h, e, E, hexlow, hexup, greater, equal, dot, ext, letter to 62; plus, minus to 64; sharp, quote, less, percent, comma, caret, illegal to 67
"""

# Final states, one per token class: label and the datatype recorded as the
# token's type (None for structural tokens).
FINALS = [
    ("END", None), ("ERROR", "error"), ("BLOCK_OPEN", None), ("BLOCK_CLOSE", None),
    ("PAREN_OPEN", None), ("PAREN_CLOSE", None), ("STRING_OPEN", None), ("STRING_CLOSE", "string"),
    ("MAP_OPEN", None), ("PATH_OPEN", None), ("CONSTRUCT", None), ("COMMENT", None),
    ("COMMA", None), ("STRING", "string"), ("WORD", "word"), ("ISSUE", "issue"),
    ("INTEGER", "integer"), ("REFINEMENT", "refinement"), ("CHAR", "char"), ("FILE", "file"),
    ("BINARY", "binary"), ("PERCENT", "percent"), ("FLOAT", "float"), ("SPECIAL_FLOAT", "float"),
    ("TUPLE", "tuple"), ("DATE", "date"), ("PAIR", "pair"), ("POINT", "point2d"),
    ("TIME", "time"), ("MONEY", "money"), ("TAG", "tag"), ("URL", "url"),
    ("EMAIL", "email"), ("HEX", "integer"), ("RAW_STRING", "string"), ("REF", "ref"),
]

# The intermediate states' types name the token each state is reading, so
# that an error token reports "invalid <type>" for what was being written;
# None reports a bad character instead.
READING = {
    0: None, 1: None, 2: "string", 3: "string", 4: "string", 5: "string",
    6: "file", 7: "file", 8: "file", 9: "string", 10: "string", 11: "string", 12: "string",
    13: "refinement", 14: "refinement", 15: "word", 16: "issue", 17: "binary", 18: "binary",
    19: "char", 20: "char", 21: None, 22: "issue", 23: "integer", 24: "float", 25: "float",
    26: "float", 27: "float", 28: "float", 29: "tuple", 30: "date", 31: "time", 32: "time",
    33: "pair", 34: "pair", 35: "point2d", 36: "money", 37: "money", 38: "money",
    39: "integer", 40: "word", 41: "integer", 42: "integer", 43: "tag", 44: "tag", 45: "tag",
    46: "tag", 47: "word", 48: "word", 49: "word", 50: "float", 51: "word", 52: "word",
    53: "word", 54: "word", 55: "url", 56: "email", 57: "ref", 58: "word",
    59: "path", 60: "path", 61: "path", 62: "path", 63: "path", 64: "path",
}

# Enumerator names where the upper-cased label would clash.
ENUM_NAMES = {"e": "LOWER_E", "E": "UPPER_E"}

STATES = 65
FIRST_FINAL = 66


def fail(message):
    sys.exit("lexer_tables.py: " + message)


def byte_table():
    entries = [None] * 256
    for index, (label, members, flag) in enumerate(CLASSES):
        for member in members:
            b = ord(member) if isinstance(member, str) else member
            if entries[b] is not None:
                fail(f"byte {b:#04x} is in two classes")
            entries[b] = index | flag
    for b, entry in enumerate(entries):
        if entry is None:
            fail(f"byte {b:#04x} has no class")
    for bytes_, flag in LEAD_FLAGS:
        for b in bytes_:
            entries[b] |= flag
    return entries


def transition_table():
    labels = {label: i for i, (label, _, _) in enumerate(CLASSES)}
    rows = {}
    for line in ROWS.strip().splitlines():
        state, role, default, others = (part.strip() for part in line.split("|"))
        state, default = int(state), int(default)
        row = [default] * len(CLASSES)
        seen = set()
        for group in others.split(";"):
            names, target = group.rsplit(" to ", 1)
            for name in (n.strip() for n in names.split(",")):
                if name not in labels:
                    fail(f"state {state}: unknown class {name!r}")
                if name in seen:
                    fail(f"state {state}: class {name!r} named twice")
                seen.add(name)
                row[labels[name]] = int(target)
        if state in rows:
            fail(f"state {state} given twice")
        rows[state] = (role, row)
    if sorted(rows) != list(range(STATES)):
        fail("states 0 to 64 must each have one row")
    for state, (_, row) in rows.items():
        for target in row:
            if not (0 <= target < STATES or FIRST_FINAL <= target < FIRST_FINAL + len(FINALS)):
                fail(f"state {state}: no state {target}")
    return rows


def type_name(t):
    return "0" if t is None else {"point2d": "TYPE_POINT2D"}.get(t, "TYPE_" + t.upper())


def generate():
    classes = byte_table()
    rows = transition_table()
    out = []
    w = out.append
    w("#pragma once")
    w("// The lexer's byte classes and state machine. Generated by")
    w("// tools/lexer_tables.py from its readable form of the tables; do not edit.")
    w("#include <cstdint>")
    w("")
    w('#include "runtime/value.h"')
    w("")
    w("namespace kiv::lexer {")
    w("")
    w("// Byte classes: the low 8 bits of a byte's entry.")
    w("enum byte_class : uint8_t {")
    for i, (label, _, _) in enumerate(CLASSES):
        w(f"    C_{ENUM_NAMES.get(label, label.upper())} = {i},")
    w(f"    CLASS_COUNT = {len(CLASSES)}")
    w("};")
    w("")
    w("// Flags in the upper bits of the byte entries, ORed over a token.")
    flag_names = {
        0x800000: "SHARP", 0x2000000: "QUOTE", 0x4000000: "COLON", 0x1000000: "EXPONENT",
        0x100000: "LESS", 0x80000: "GREATER", 0x40000: "PERCENT", 0x8000000: "COMMA",
        0x10000000: "DOT", 0x200000: "SIGN", 0x20000000: "CARET", 0x400000: "END",
        0x40000000: "UTF8_WIDE", 0x80000000: "UTF8_FOUR",
    }
    for value, name in sorted(flag_names.items()):
        w(f"constexpr uint32_t F_{name} = {value:#010x};")
    w("constexpr uint32_t F_AFTER_LINE = 0x00020000;  // a multi-line string began after a line feed")
    w("constexpr uint32_t F_UTF8_SHIFT = 30;  // flags >> 30: widest UTF-8 sequence, 0 none, 1 two or three bytes, 2 four")
    w("")
    w("// Final states, one per token class (class = state - S_END).")
    w("enum final_state : uint8_t {")
    for i, (label, _) in enumerate(FINALS):
        w(f"    S_{label} = {FIRST_FINAL + i},")
    w("};")
    w(f"constexpr uint32_t STATE_COUNT = {STATES};  // intermediate states 0 to {STATES - 1}")
    w(f"constexpr uint32_t FINAL_COUNT = {len(FINALS)};")
    w("constexpr uint32_t S_LAST_INTERMEDIATE = 65;")
    w("// Start states that a scanner sets for the next token.")
    w("constexpr uint8_t S_BETWEEN = 0, S_MULTILINE = 4, S_IN_POINT = 35, S_PATH_ELEMENT = 59;")
    w("")
    w("inline constexpr uint32_t byte_classes[256] = {")
    for i in range(0, 256, 8):
        w("    " + " ".join(f"{e:#010x}," for e in classes[i:i + 8]))
    w("};")
    w("")
    w(f"inline constexpr uint8_t transitions[{STATES}][{len(CLASSES)}] = {{")
    for state in range(STATES):
        role, row = rows[state]
        w(f"    // {state}: {role}")
        w("    {" + ", ".join(str(t) for t in row) + "},")
    w("};")
    w("")
    total = FIRST_FINAL + len(FINALS)
    w("// Added to the count of bytes skipped before a token on entering a state.")
    skip = [1 if s == 0 else 0 for s in range(total)]
    w(f"inline constexpr uint8_t skip_table[{total}] = {{" + ", ".join(map(str, skip)) + "};")
    w("")
    w("// Added to the line counter for each byte consumed, by its class.")
    line = [1 if label == "lf" else 0 for label, _, _ in CLASSES]
    w(f"inline constexpr uint8_t line_table[{len(CLASSES)}] = {{" + ", ".join(map(str, line)) + "};")
    w("")
    w("// The datatype of a token ending in each state: for an intermediate state")
    w("// the kind of token it was reading (reported when an error cuts it short),")
    w("// for a final state the token's type.")
    w(f"inline constexpr uint8_t type_table[{total}] = {{")
    for s in range(STATES):
        w(f"    {type_name(READING[s])},  // {s}")
    w("    0,  // 65: never reached")
    for i, (label, t) in enumerate(FINALS):
        w(f"    {type_name(t)},  // {FIRST_FINAL + i} {label.lower()}")
    w("};")
    w("")
    w("}  // namespace kiv::lexer")
    return "\n".join(out) + "\n"


def main():
    text = generate()
    if sys.argv[1:] == ["--check"]:
        if not OUTPUT.exists() or OUTPUT.read_text() != text:
            fail(f"{OUTPUT.relative_to(ROOT)} is out of date: run tools/lexer_tables.py")
        return
    OUTPUT.write_text(text)


if __name__ == "__main__":
    main()
