#!/usr/bin/env python3
"""Decode and encode speed of the PNG and JPEG codecs next to Pillow, on the
same 4000x3000 picture (a photograph-like gradient with noise), in
milliseconds. Kiv times each step itself with `dt`, so starting the program
and reading the file from disk are not counted on either side. Pillow must
be Debian's python3-pil: run this with /usr/bin/python3.

    image_compare.py [kiv] [runs]
"""
import io
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
WIDTH, HEIGHT = 4000, 3000

KIV_PROGRAM = """Kiv []
png: read/binary %{png}
jpeg: read/binary %{jpeg}
print ["png-decode" to float! dt [img: load/as png 'png]]
print ["png-encode" to float! dt [save/as none img 'png]]
print ["jpeg-decode" to float! dt [img: load/as jpeg 'jpeg]]
print ["jpeg-encode" to float! dt [save/as none img 'jpeg]]
"""


def picture():
    rng = random.Random(5)
    # Smooth gradients with a little noise: compresses like a photograph.
    row = bytes(x * 255 // WIDTH for x in range(WIDTH))
    noise = bytes(rng.randrange(8) for _ in range(1 << 16))
    base = Image.frombytes("L", (WIDTH, 1), row).resize((WIDTH, HEIGHT))
    grain = Image.frombytes("L", (256, 256), noise).resize((WIDTH, HEIGHT))
    vertical = base.rotate(90, expand=True).resize((WIDTH, HEIGHT))
    return Image.merge("RGB", (base, vertical, Image.blend(base, grain, 0.5)))


def python_times(png_bytes, jpeg_bytes):
    times = {}
    for name, data, fmt in (("png", png_bytes, "PNG"), ("jpeg", jpeg_bytes, "JPEG")):
        start = time.perf_counter()
        im = Image.open(io.BytesIO(data))
        im.load()
        times[name + "-decode"] = time.perf_counter() - start
        start = time.perf_counter()
        im.save(io.BytesIO(), fmt)
        times[name + "-encode"] = time.perf_counter() - start
    return times


def main():
    kiv = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "kiv")
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    with tempfile.TemporaryDirectory() as tmp:
        png_path, jpeg_path = os.path.join(tmp, "p.png"), os.path.join(tmp, "p.jpg")
        im = picture()
        im.save(png_path)
        im.save(jpeg_path, quality=75)
        with open(png_path, "rb") as f:
            png_bytes = f.read()
        with open(jpeg_path, "rb") as f:
            jpeg_bytes = f.read()
        script = os.path.join(tmp, "images.kiv")
        with open(script, "w") as f:
            f.write(KIV_PROGRAM.format(png=png_path, jpeg=jpeg_path))
        kiv_runs, py_runs = [], []
        for _ in range(runs):
            out = subprocess.run([kiv, script], capture_output=True, text=True, check=True).stdout
            kiv_runs.append({k: float(v) for k, v in (line.split() for line in out.splitlines())})
            py_runs.append(python_times(png_bytes, jpeg_bytes))
    print(f"{WIDTH}x{HEIGHT}, png {len(png_bytes) / 1e6:.1f} MB, jpeg {len(jpeg_bytes) / 1e6:.1f} MB, "
          f"median of {runs} runs")
    print(f"{'step':<13}{'kiv ms':>9}{'pillow ms':>11}{'kiv/pillow':>12}")
    for step in ["png-decode", "png-encode", "jpeg-decode", "jpeg-encode"]:
        k = statistics.median(r[step] for r in kiv_runs)
        p = statistics.median(r[step] for r in py_runs)
        print(f"{step:<13}{k * 1000:>9.0f}{p * 1000:>11.0f}{p / k:>12.3f}")


if __name__ == "__main__":
    main()
