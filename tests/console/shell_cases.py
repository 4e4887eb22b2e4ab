#!/usr/bin/env python3
"""The shell words at the console (kiv --cli) on a temporary folder: listings
in columns and in one column, with long names cut, the working folder, cd and
the errors of list-dir. The listing order is the folder's own, as os.listdir
reads it."""
import os
import subprocess
import sys
import tempfile

NAMES = ["a.txt", "b" * 19, "c" * 30 + ".kiv", "d", "e" * 18]


def run(kiv, folder, commands):
    run = subprocess.run([kiv, "--cli"], cwd=folder, input=commands.encode(), capture_output=True, timeout=60)
    return run.stdout.decode()


def cell(name, width):
    if len(name) >= width:
        name = name[:width - 4] + "..."
    return "\t" + name.ljust(width) + " "


def listing(names, columns, width):
    rows = [names[i:i + columns] for i in range(0, len(names), columns)]
    return "".join("".join(cell(n, width) for n in row) + "\n" for row in rows)


def main():
    kiv = os.path.abspath(sys.argv[1])
    failed = 0
    with tempfile.TemporaryDirectory() as d:
        d = os.path.realpath(d)
        for name in NAMES:
            open(os.path.join(d, name), "w").close()
        os.mkdir(os.path.join(d, "sub"))
        open(os.path.join(d, "sub", "inner.kiv"), "w").close()
        names = [n + "/" if os.path.isdir(os.path.join(d, n)) else n for n in os.listdir(d)]
        # An 80-column console (not a terminal): 3 columns of 19, or one
        # column of 80 - 14.
        cases = [
            ("ls", "ls\n", listing(names, 3, 19)),
            ("dir is ls", "dir\n", listing(names, 3, 19)),
            ("ll", "ll\n", listing(names, 1, 66)),
            ("ls of a folder named by a word", "ls sub\n", listing(["inner.kiv"], 3, 19)),
            ("list-dir in columns", "list-dir/col %. 2\n", listing(names, 2, 31)),
            ("pwd", "pwd\n", f"%{d}/\n"),
            ("cd then pwd", "cd sub\npwd\n", f"== %{d}/sub/\n>> %{d}/sub/\n"),
            ("cd to a missing folder", "cd nowhere\n",
             f"*** Access Error: cannot open: %{d}/nowhere/\n*** Where: do\n*** Near : do make error! [type: err-type id: err-i \n\n"),
            ("a column count below one", "list-dir/col %. 0\n",
             "*** Script Error: invalid argument: 0\n*** Where: do\n*** Near : do make error! [type: err-type id: err-i \n\n"),
            ("list-dir of a number", "list-dir 1\n",
             "*** Script Error: list-dir does not allow integer! for its dir argument\n*** Where: do\n"
             "*** Near : do make error! [type: err-type id: err-i \n\n"),
            ("halt", "halt\n", "(halted)\n"),
        ]
        for name, commands, expected in cases:
            got = run(kiv, d, commands)
            want = "--== Kiv 0.1.0 ==-- \nType HELP for starting information. \n\n>> " + expected + ">> "
            if got != want:
                failed += 1
                print(f"FAIL {name}\n  expected: {want!r}\n  got:      {got!r}")
    print(f"{len(cases) - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
