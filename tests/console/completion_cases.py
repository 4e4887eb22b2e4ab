#!/usr/bin/env python3
"""Tab at the console on a real terminal: kiv runs in a pseudo-terminal, keys
are typed at it and what a person would see is awaited."""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pty_cases import Console, CTRL_D, LEFT  # noqa: E402

TAB = b"\t"


def one_candidate(c):
    # "prob" has one completion: the line becomes "probe" with the caret after it.
    c.command(b"prob" + TAB + b" 41 + 1\r", b"== 42")


def several_candidates(c):
    # The candidates are listed, and the line keeps their common beginning.
    c.type(b"pri" + TAB, b"prin")
    c.expect(b"print")
    c.command(b"t 5 + 1\r", b"6")


def inside_a_block(c):
    # A word after "[" completes in place; the text after the caret stays.
    c.command(b"reverse [prob 1]" + LEFT * 3 + TAB + b"\r", b"== [1 probe]")


def nothing_to_complete(c):
    # A complete word, or none at all, leaves the line as it was.
    c.command(b"zzqq: 7\r", b"== 7")
    c.command(b"zzqq" + TAB + b" + 1\r", b"== 8")
    c.command(b"7" + TAB + b"\r", b"== 7")


def file_name(c):
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "unique-name.txt"), "w") as f:
            f.write("text")
        path = folder.encode() + b"/uniq"
        c.command(b"probe %" + path + TAB + b"\r", b"== %" + path + b"ue-name.txt")


CASES = [one_candidate, several_candidates, inside_a_block, nothing_to_complete, file_name]


def main():
    kiv = os.path.abspath(sys.argv[1])
    failed = 0
    for case in CASES:
        with tempfile.TemporaryDirectory() as data:
            try:
                c = Console(kiv, data)
                case(c)
                c.type(CTRL_D)
                assert c.status() == 0, "the console did not end with status 0"
            except AssertionError as e:
                failed += 1
                print(f"FAIL {case.__name__}: {e}")
    print(f"{len(CASES) - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
