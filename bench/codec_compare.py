#!/usr/bin/env python3
"""Load and save speed of the JSON and CSV codecs next to Python's json and
csv modules, on the same generated files (about SIZE MB each, default 20),
in MB/s of the text. Kiv times each step itself with `dt`, so starting the
program and reading the file from disk are not counted on either side.

    codec_compare.py [kiv] [size-mb] [runs]
"""
import csv
import io
import json
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def json_text(size):
    rng = random.Random(34)
    records = []
    total = 0
    while total < size:
        record = {
            "id": rng.randint(0, 2**31 - 1),
            "name": "".join(rng.choice("abcdefghij é") for _ in range(rng.randint(3, 20))),
            "score": rng.uniform(-1000, 1000),
            "tags": [rng.choice(["x", "y", "zz", "\u4e2d"]) for _ in range(rng.randint(0, 4))],
            "active": rng.random() < 0.5,
            "parent": None,
            "pos": {"x": rng.randint(-500, 500), "y": rng.randint(-500, 500)},
        }
        records.append(record)
        total += 150
    return json.dumps(records, ensure_ascii=False)


def csv_text(size):
    rng = random.Random(34)
    buffer = io.StringIO(newline="")
    writer = csv.writer(buffer, lineterminator="\n")
    while buffer.tell() < size:
        writer.writerow([rng.randint(0, 10**6), "".join(rng.choice("abc de") for _ in range(8)),
                         rng.choice(["", "x,y", 'q"r', "plain"]), rng.uniform(0, 1), "tail"])
    return buffer.getvalue()


KIV_PROGRAM = """Kiv []
json-text: read %{json}
csv-text: read %{csv}
print ["json-load" to float! dt [value: load-json json-text]]
print ["json-save" to float! dt [to-json value]]
print ["csv-load" to float! dt [rows: load-csv csv-text]]
print ["csv-save" to float! dt [to-csv rows]]
"""


def python_times(json_path, csv_path):
    with open(json_path, encoding="utf-8") as f:
        jt = f.read()
    with open(csv_path, encoding="utf-8", newline="") as f:
        ct = f.read()
    times = {}
    start = time.perf_counter()
    value = json.loads(jt)
    times["json-load"] = time.perf_counter() - start
    start = time.perf_counter()
    json.dumps(value, ensure_ascii=False)
    times["json-save"] = time.perf_counter() - start
    start = time.perf_counter()
    rows = list(csv.reader(io.StringIO(ct, newline="")))
    times["csv-load"] = time.perf_counter() - start
    start = time.perf_counter()
    out = io.StringIO(newline="")
    csv.writer(out, lineterminator="\n").writerows(rows)
    out.getvalue()
    times["csv-save"] = time.perf_counter() - start
    return times


def main():
    kiv = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "kiv")
    size = int(float(sys.argv[2] if len(sys.argv) > 2 else 20) * 1e6)
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    with tempfile.TemporaryDirectory() as tmp:
        json_path, csv_path = os.path.join(tmp, "doc.json"), os.path.join(tmp, "table.csv")
        with open(json_path, "w", encoding="utf-8") as f:
            f.write(json_text(size))
        with open(csv_path, "w", encoding="utf-8", newline="") as f:
            f.write(csv_text(size))
        script = os.path.join(tmp, "codecs.kiv")
        with open(script, "w") as f:
            f.write(KIV_PROGRAM.format(json=json_path, csv=csv_path))
        sizes = {"json": os.path.getsize(json_path) / 1e6, "csv": os.path.getsize(csv_path) / 1e6}
        kiv_runs, py_runs = [], []
        for _ in range(runs):
            out = subprocess.run([kiv, script], capture_output=True, text=True, check=True).stdout
            kiv_runs.append({k: float(v) for k, v in (line.split() for line in out.splitlines())})
            py_runs.append(python_times(json_path, csv_path))
    print(f"json {sizes['json']:.1f} MB, csv {sizes['csv']:.1f} MB, median of {runs} runs")
    print(f"{'step':<10}{'kiv MB/s':>10}{'python MB/s':>13}{'kiv/python':>12}")
    for step in ["json-load", "json-save", "csv-load", "csv-save"]:
        mb = sizes[step.split("-")[0]]
        k = statistics.median(r[step] for r in kiv_runs)
        p = statistics.median(r[step] for r in py_runs)
        print(f"{step:<10}{mb / k:>10.2f}{mb / p:>13.2f}{p / k:>12.3f}")


if __name__ == "__main__":
    main()
