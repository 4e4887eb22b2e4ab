#!/usr/bin/env python3
"""The profiler's report at the console: exact call counts, durations present
and ordered, the column layout, the sort keys and anonymous functions. The
durations change from run to run, so the report is checked by its shape."""
import re
import subprocess
import sys

SESSION = b"""f: func [x][x + 1]
g: func [y][f y * 2]
a-very-long-function-name: does [1]
profile [g 1 g 2 f 5 loop 3 [f 1]]
profile/by [g 1 g 2 f 5] 'name
profile/by [loop 50 [g 1] f 1] 'time
profile [do reduce [func [][1]] do reduce [func [][2]] a-very-long-function-name]
system/tools/options/profile/sort-by
"""

ROW = re.compile(r"^#(\d+) +(\S+) +\| (\d+) +\| (\d+):(\d\d):(\d\d)(\.\d+)? *$")

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def seconds(m):
    return int(m.group(4)) * 3600 + int(m.group(5)) * 60 + int(m.group(6)) + float(m.group(7) or 0)


def reports(text):
    """Splits the transcript into the reports, each a list of its row lines."""
    out, rows = [], None
    for line in text.splitlines():
        if line.startswith(">> "):
            line = line[3:]
            if rows is not None:
                out.append(rows)
            rows = [] if line.startswith("== ") else None
            continue
        if rows is not None and line.startswith("#"):
            rows.append(line)
    if rows:
        out.append(rows)
    return [rows for rows in out if rows]


def main():
    kiv = sys.argv[1]
    run = subprocess.run([kiv, "--cli"], input=SESSION, capture_output=True, timeout=60)
    text = run.stdout.decode()
    check(run.returncode == 0 and not run.stderr, f"status {run.returncode}, stderr {run.stderr!r}")
    found = reports(text)
    check(len(found) == 4, f"4 reports expected, got {len(found)}:\n{text}")
    if len(found) != 4:
        return
    for rows in found:
        for i, line in enumerate(rows, 1):
            m = ROW.match(line)
            check(m is not None, f"row layout: {line!r}")
            if m:
                check(int(m.group(1)) == i, f"row number: {line!r}")
                name = m.group(2)
                # "#n" padded to 4, the name to 16, the count to 10, single blanks between.
                check(line[:5] == f"#{i}".ljust(4) + " ", f"number column: {line!r}")
                if len(name) <= 16:
                    check(line[5:22] == name.ljust(16) + " ", f"name column: {line!r}")
                    check(line[22:24] == "| " and line[34:37] == " | ", f"count column: {line!r}")

    def table(rows):
        return [ROW.match(line) for line in rows if ROW.match(line)]

    # Default: by count, descending; the counts are exact.
    first = table(found[0])
    counts = {m.group(2): int(m.group(3)) for m in first}
    check(counts == {"+": 6, "f": 6, "*": 2, "g": 2, "loop": 1}, f"counts {counts}")
    seq = [int(m.group(3)) for m in first]
    check(seq == sorted(seq, reverse=True), f"count order {seq}")
    check("== 2" in text, "the code's value is shown")

    # By name, ascending.
    names = [m.group(2) for m in table(found[1])]
    check(names == sorted(names), f"name order {names}")
    check(sorted(names) == ["*", "+", "f", "g"], f"names {names}")

    # By time, descending; the loop encloses every other call.
    third = table(found[2])
    times = [seconds(m) for m in third]
    check(times == sorted(times, reverse=True), f"time order {times}")
    check(third and third[0].group(2) == "loop", f"longest first: {[m.group(2) for m in third]}")
    counts = {m.group(2): int(m.group(3)) for m in third}
    check(counts.get("g") == 50 and counts.get("f") == 51, f"counts {counts}")

    # Anonymous functions get consecutive numbers; a long name widens its row.
    fourth = found[3]
    anon = sorted(int(n) for n in re.findall(r"<anon(\d+)>", "\n".join(fourth)))
    check(len(anon) == 2 and anon[1] == anon[0] + 1, f"anonymous rows {anon}")
    long = [line for line in fourth if "a-very-long-function-name" in line]
    check(len(long) == 1 and "a-very-long-function-name | 1 " in long[0], f"long name row {long}")

    check(text.splitlines()[-2:] == [">> == count", ">> "], "sort-by restored")


if __name__ == "__main__":
    main()
    if failures:
        print("\n".join(failures))
        sys.exit(1)
    print("profile cases passed")
