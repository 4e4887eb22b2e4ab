#!/usr/bin/env python3
"""Compares kiv's image codecs with Pillow and ImageMagick, both ways.

Kiv to the tools: one random stream makes pictures (sizes from 1x1, opaque,
with every alpha, few and many colours); kiv saves each as PNG, BMP, TIFF,
GIF (at most 256 colours, alpha 0 or 255) and JPEG; Pillow reads the files
and must see the same pixels (JPEG: the pixels Pillow's own decoder gives
the same file, within a small tolerance).

The tools to kiv: Pillow and ImageMagick write the same kind of pictures in
the forms readers meet (palette, grey, grey with alpha, 16-bit, interlaced
PNG; progressive and grey JPEG; 1-, 4-, 8-, 24- and 32-bit BMP; animated
GIF; multi-page, LZW, deflate and grey TIFF); kiv loads each and must give
the pixels Pillow gives (16-bit: the high byte; JPEG within a tolerance).

Damaged files: every file cut short must give an error, and files with
random bytes changed must give an image or an error, never a crash.
Prints every disagreement (at most 20) and 'N passed, N failed'.

Usage: image_oracle.py KIV SEED
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

from PIL import Image

JPEG_TOLERANCE = 3  # per channel, between two decoders of the same file


def random_picture(rng, mode):
    w, h = rng.randint(1, 40), rng.randint(1, 40)
    if rng.random() < 0.15:
        w, h = rng.choice([(1, 1), (1, 17), (33, 1)])
    im = Image.new("RGBA", (w, h))
    palette = [tuple(rng.randrange(256) for _ in range(3)) for _ in range(rng.randint(1, 300))]
    px = []
    for _ in range(w * h):
        r, g, b = rng.choice(palette) if mode != "noise" else tuple(rng.randrange(256) for _ in range(3))
        a = 255
        if mode == "alpha":
            a = rng.choice([0, 1, 127, 128, 254, 255, rng.randrange(256)])
        elif mode == "binary-alpha":
            a = rng.choice([0, 255])
        px.append((r, g, b, a))
    im.putdata(px)
    return im


def bgra(im):
    return im.convert("RGBA").tobytes("raw", "BGRA")


def max_difference(a, b):
    return max((abs(x - y) for x, y in zip(a, b)), default=0)


def run_kiv(kiv, script_path):
    return subprocess.run([kiv, script_path], capture_output=True, text=True, timeout=600)


def kiv_load_script(pairs):
    """Loads each file and writes its pixels (argb: B, G, R, A bytes) or the error id."""
    lines = ["Kiv []"]
    for src, out in pairs:
        lines.append(
            f'r: try [i: load %{src} write %{out} to binary! i "ok"] '
            f'print either error? r [rejoin ["error " r/id]] [r]'
        )
    return "\n".join(lines) + "\n"


def tool_files(rng, d):
    """Pictures written by Pillow and ImageMagick, and the pixels expected of each."""
    files = []

    def pil(name, im, expected, **options):
        path = os.path.join(d, name)
        im.save(path, **options)
        files.append((path, expected, name.endswith((".jpg", ".jpeg"))))

    def magick(name, source, args, expected, prefix=""):
        src = os.path.join(d, "src-" + name + ".png")
        source.save(src)
        path = os.path.join(d, name)
        subprocess.run(["convert", src] + args + [prefix + path], check=True, capture_output=True)
        files.append((path, expected, name.endswith(".jpg")))

    for k in range(6):
        rgba = random_picture(rng, "alpha")
        rgb = random_picture(rng, "few").convert("RGB")
        noise = random_picture(rng, "noise").convert("RGB")
        grey = rgb.convert("L")
        pal = rgb.convert("P", palette=Image.ADAPTIVE, colors=16)
        pil(f"rgb{k}.png", rgb, bgra(rgb))
        pil(f"rgba{k}.png", rgba, bgra(rgba))
        pil(f"grey{k}.png", grey, bgra(grey))
        pil(f"greya{k}.png", rgba.convert("LA"), bgra(rgba.convert("LA")))
        pil(f"pal{k}.png", pal, bgra(pal))
        ptr = pal.copy()
        ptr.info["transparency"] = 0
        pil(f"paltr{k}.png", ptr, bgra(ptr), transparency=0)
        g16 = Image.new("I;16", grey.size)
        wide = [v * 256 + rng.randrange(256) for v in grey.getdata()]
        g16.putdata(wide)
        pil(f"grey16-{k}.png", g16, bgra(grey))
        magick(f"rgb16-{k}.png", rgba, ["-depth", "16"], bgra(rgba))
        magick(f"interlaced{k}.png", rgba, ["-interlace", "PNG"], bgra(rgba))
        pil(f"rgb{k}.bmp", rgb, bgra(rgb))
        pil(f"pal{k}.bmp", pal, bgra(pal))
        mono = rgb.convert("1")
        pil(f"mono{k}.bmp", mono, bgra(mono))
        magick(f"pal4-{k}.bmp", pal.convert("RGB"), ["-colors", "16", "-type", "Palette"], None, prefix="BMP3:")
        magick(f"argb{k}.bmp", rgba, [], bgra(rgba))
        gif_src = random_picture(rng, "binary-alpha")
        gif = gif_src.convert("RGB").convert("P", palette=Image.ADAPTIVE, colors=200)
        pil(f"pal{k}.gif", gif, bgra(gif))
        second = Image.new("P", gif.size)
        second.putpalette(gif.getpalette())
        path = os.path.join(d, f"anim{k}.gif")
        gif.save(path, save_all=True, append_images=[second], duration=100, loop=0)
        files.append((path, bgra(gif), False))
        pil(f"rgb{k}.tif", rgb, bgra(rgb))
        pil(f"rgba{k}.tif", rgba, bgra(rgba))
        pil(f"grey{k}.tif", grey, bgra(grey))
        pil(f"lzw{k}.tif", rgb, bgra(rgb), compression="tiff_lzw")
        pil(f"deflate{k}.tif", rgba, bgra(rgba), compression="tiff_adobe_deflate")
        path = os.path.join(d, f"pages{k}.tif")
        rgb.save(path, save_all=True, append_images=[grey, rgba])
        files.append((path, bgra(rgb), False))
        pil(f"base{k}.jpg", noise, None, quality=rng.choice([50, 75, 95]))
        pil(f"prog{k}.jpg", noise, None, progressive=True)
        pil(f"grey{k}.jpg", grey, None)
    return files


def main():
    kiv, seed = sys.argv[1], int(sys.argv[2])
    rng = random.Random(seed)
    d = tempfile.mkdtemp(prefix="kiv-image-oracle-")
    failures = []
    passed = 0

    def fail(text):
        failures.append(text)

    try:
        # Kiv writes, Pillow reads.
        pictures = []
        script = ["Kiv []"]
        for k in range(30):
            mode = rng.choice(["few", "noise", "alpha", "binary-alpha"])
            im = random_picture(rng, mode)
            rgb = im.convert("RGB").tobytes().hex()
            alpha = bytes(255 - a for a in im.getchannel("A").getdata()).hex()
            w, h = im.size
            script.append(f"i: make image! [{w}x{h} #{{{rgb}}} #{{{alpha}}}]")
            formats = ["png", "bmp", "tif", "jpg"]
            if mode != "alpha":
                # More than 255 colours are reduced: only the size is compared.
                exact = im.convert("RGB").getcolors(255) is not None
                formats.append("gif" if exact else "gif-reduced")
            for ext in formats:
                path = os.path.join(d, f"kiv{k}.{ext[:3]}")
                script.append(f"save %{path} i")
                pictures.append((path, im, ext))
        with open(os.path.join(d, "save.kiv"), "w") as f:
            f.write("\n".join(script) + "\n")
        result = run_kiv(kiv, os.path.join(d, "save.kiv"))
        if result.returncode != 0:
            fail("saving failed: " + result.stderr[-500:])
        for path, im, ext in pictures:
            try:
                got = Image.open(path)
                got.load()
            except Exception as e:  # noqa: BLE001 - every reader error is a failure
                fail(f"{path}: Pillow cannot read kiv's file: {e}")
                continue
            if ext == "jpg":
                ok = got.size == im.size and got.mode == "RGB"
            elif ext == "gif-reduced":
                ok = got.size == im.size and got.mode == "P"
            elif ext == "gif":
                # A transparent pixel's colour is not kept.
                expected = Image.new("RGBA", im.size)
                expected.putdata([p if p[3] else (0, 0, 0, 0) for p in im.getdata()])
                ok = got.size == im.size and bgra(got) == bgra(expected)
            else:
                expected = im
                ok = got.size == im.size and bgra(got) == bgra(expected)
            if ok:
                passed += 1
            else:
                first = next((i for i, (a, b) in enumerate(zip(got.convert("RGBA").getdata(), expected.getdata())) if a != b), None)
                fail(f"{path}: Pillow reads other pixels ({got.mode} {got.size}, first at {first})")

        # The tools write, kiv reads.
        files = tool_files(rng, d)
        pairs = [(path, path + ".out") for path, _, _ in files]
        with open(os.path.join(d, "load.kiv"), "w") as f:
            f.write(kiv_load_script(pairs))
        result = run_kiv(kiv, os.path.join(d, "load.kiv"))
        statuses = result.stdout.splitlines()
        if len(statuses) != len(files):
            fail("loading stopped: " + result.stderr[-500:])
        for (path, expected, jpeg), status in zip(files, statuses):
            if status != "ok":
                fail(f"{path}: kiv cannot load it: {status}")
                continue
            with open(path + ".out", "rb") as f:
                got = f.read()
            if expected is None:
                expected = bgra(Image.open(path))
            if jpeg:
                ok = len(got) == len(expected) and max_difference(got, expected) <= JPEG_TOLERANCE
            else:
                ok = got == expected
            if ok:
                passed += 1
            else:
                diff = max_difference(got, expected) if len(got) == len(expected) else "size"
                fail(f"{path}: kiv loads other pixels (difference {diff})")

        # Damaged files.
        damaged = []
        # Only single pictures: a file of many frames cut after its first
        # one still holds a whole first picture.
        singles = [f for f in files if "pages" not in f[0] and "anim" not in f[0]]
        for path, _, _ in singles[::3]:
            with open(path, "rb") as f:
                data = f.read()
            for j in range(3):
                cut = os.path.join(d, f"cut{j}-" + os.path.basename(path))
                with open(cut, "wb") as f:
                    f.write(data[: rng.randrange(len(data) * 9 // 10)])
                damaged.append((cut, True))
                bad = bytearray(data)
                for _ in range(rng.randint(1, 8)):
                    bad[rng.randrange(len(bad))] = rng.randrange(256)
                changed = os.path.join(d, f"bad{j}-" + os.path.basename(path))
                with open(changed, "wb") as f:
                    f.write(bytes(bad))
                damaged.append((changed, False))
        with open(os.path.join(d, "damaged.kiv"), "w") as f:
            f.write(kiv_load_script([(p, p + ".out") for p, _ in damaged]))
        result = run_kiv(kiv, os.path.join(d, "damaged.kiv"))
        statuses = result.stdout.splitlines()
        if len(statuses) != len(damaged) or result.returncode != 0:
            fail("damaged files stopped kiv: " + result.stderr[-500:])
        for (path, must_fail), status in zip(damaged, statuses):
            if must_fail and status == "ok":
                fail(f"{path}: a file cut short loads")
            elif status not in ("ok", "error cannot-open"):
                fail(f"{path}: unexpected result {status}")
            else:
                passed += 1
    finally:
        shutil.rmtree(d, ignore_errors=True)

    for text in failures[:20]:
        print(text)
    print(f"{passed} passed, {len(failures)} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
