#!/usr/bin/python3
"""Dithered colour reduction where banding shows first, beside pngquant --speed 1, in one run.

gradients  images the benchmark makes (a 256-level grey ramp, a two-colour sky, a hue x lightness
           sweep) and skies and a backdrop cropped from the photographs, at 255 and 16 colours
photos     the photographs whole, at 255 and 16 colours

Every result is dithered and scored twice against the original: PSNR as it is, and after a
Gaussian blur (sigma 1) of both images (bench/peers.py measures both). The grey ramp's count of
distinct levels kept is shown too. --baseline adds another build of imglib_bench (an earlier
commit, say), so that before and after are measured in the same run. pngquant's scores are kept
in a cache beside the photographs, keyed by its version and the image's content.

Run through scripts/bench dither, which fetches the photographs and builds the benchmark program.
"""
import argparse
import colorsys
import hashlib
import json
import os
import statistics
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peers import gaussian_blur, load_rgb, psnr, run_measured  # noqa: E402

PNGQUANT = "/usr/bin/pngquant"
COUNTS = (255, 16)


# The images ------------------------------------------------------------------------------------

def grey_ramp():
    """256 x 64: column x is level x."""
    return np.repeat(np.repeat(np.arange(256, dtype=np.uint8)[None, :, None], 64, 0), 3, 2)


def two_colour_sky():
    """512 x 384: deep blue at the top left to a pale warm haze at the bottom right, mostly downward."""
    top, bottom = np.array([38.0, 84.0, 168.0]), np.array([242.0, 196.0, 162.0])
    y, x = np.mgrid[0:384, 0:512]
    t = (0.85 * y / 383 + 0.15 * x / 511)[..., None]
    return np.rint(top + t * (bottom - top)).astype(np.uint8)


def hue_lightness_sweep():
    """360 x 256: every hue across, lightness from dark to pale down, full saturation."""
    hls = np.vectorize(colorsys.hls_to_rgb)
    hue, lightness = np.meshgrid(np.arange(360) / 360.0, 0.08 + 0.84 * np.arange(256) / 255.0)
    r, g, b = hls(hue, lightness, 0.9)
    return np.rint(np.stack([r, g, b], axis=-1) * 255).astype(np.uint8)


# Crops of the photographs (folder/name, left, top, right, bottom): smooth areas only.
CROPS = {
    "Dune sky": ("nature/Dune.jpg", (940, 0, 1660, 230)),
    "Storm sky": ("nature/Storm.jpg", (0, 0, 1920, 700)),
    "Aqua backdrop": ("nature/Aqua.jpg", (0, 300, 1200, 1600)),
}


def gradients(photos_dir):
    images = {"grey ramp": grey_ramp(), "two-colour sky": two_colour_sky(), "hue x lightness": hue_lightness_sweep()}
    for name, (path, box) in CROPS.items():
        with Image.open(os.path.join(photos_dir, path)) as im:
            images[name] = np.asarray(im.convert("RGB").crop(box))
    return images


# The programs ----------------------------------------------------------------------------------

def reduce_tesselo(bench):
    def reduce(src_ppm, src_png, dst, count):
        run_measured([bench, "reduce", str(count), "1", src_ppm, dst + ".ppm"])
        return dst + ".ppm"
    return reduce


def reduce_pngquant(src_ppm, src_png, dst, count):
    # Dithering is on by default (full Floyd-Steinberg level).
    run_measured([PNGQUANT, "--speed", "1", "--force", "--output", dst + ".png", str(count), src_png])
    return dst + ".png"


def pngquant_version():
    try:
        return subprocess.run([PNGQUANT, "--version"], capture_output=True, text=True).stdout.strip()
    except OSError:
        return "?"


class Scores:
    """PSNR plain and blurred (and distinct colours) of each program's result on an image."""

    def __init__(self, programs, scratch, cache_path):
        self.programs, self.scratch, self.cache_path = programs, scratch, cache_path
        self.cache = {}
        if os.path.exists(cache_path):
            with open(cache_path) as f:
                self.cache = json.load(f)
        self.version = pngquant_version()

    def measure(self, pixels, counts):
        """{count: {program: (psnr, blurred psnr, colours)}} for an image given as an array."""
        ppm, png = os.path.join(self.scratch, "in.ppm"), os.path.join(self.scratch, "in.png")
        Image.fromarray(pixels).save(ppm)
        Image.fromarray(pixels).save(png)
        original = pixels.astype(np.float32)
        blurred = gaussian_blur(original)
        digest = hashlib.sha1(pixels.tobytes()).hexdigest()[:16]
        out = {}
        for count in counts:
            out[count] = {}
            for program, reduce in self.programs.items():
                key = f"{digest}|{self.version}|{count}" if program == "pngquant" else None
                if key and key in self.cache:
                    out[count][program] = tuple(self.cache[key])
                    continue
                result = load_rgb(reduce(ppm, png, os.path.join(self.scratch, "out"), count))
                colours = len(np.unique(result.reshape(-1, 3), axis=0))
                score = (psnr(original, result), psnr(blurred, gaussian_blur(result)), colours)
                out[count][program] = score
                if key:
                    self.cache[key] = score
                    with open(self.cache_path, "w") as f:
                        json.dump(self.cache, f, indent=0)
        return out


def print_table(title, results, programs):
    print(f"\n== {title}: dithered, PSNR / blurred PSNR in dB (and colours used)")
    print(f"{'image':<26}{'colours':>8}  " + "".join(f"{p:>26}" for p in programs) + "   tesselo - pngquant")
    for name, by_count in results.items():
        for count, scores in by_count.items():
            cells = "".join(f"{'%.2f / %.2f (%d)' % scores[p]:>26}" for p in programs)
            ours, theirs = scores["tesselo"], scores["pngquant"]
            print(f"{name:<26}{count:>8}  {cells}   {ours[0] - theirs[0]:+6.2f} / {ours[1] - theirs[1]:+6.2f}")


def print_summary(results, programs):
    """Per colour count: each program's mean, and the worst differences of tesselo to the others."""
    for count in COUNTS:
        rows = [by_count[count] for by_count in results.values() if count in by_count]
        if not rows:
            continue
        means = "  ".join(f"{p} {statistics.mean(r[p][0] for r in rows):.2f} / "
                          f"{statistics.mean(r[p][1] for r in rows):.2f}" for p in programs)
        print(f"-- {count:>3} colours, mean: {means}")
        for other in programs:
            if other == "tesselo":
                continue
            plain = [r["tesselo"][0] - r[other][0] for r in rows]
            blur = [r["tesselo"][1] - r[other][1] for r in rows]
            print(f"   tesselo - {other}: mean {statistics.mean(plain):+.2f} / {statistics.mean(blur):+.2f},"
                  f" worst {min(plain):+.2f} / {min(blur):+.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mode", choices=["gradients", "photos", "all"])
    parser.add_argument("--bench", required=True, help="the imglib_bench program")
    parser.add_argument("--baseline", help="another build's imglib_bench, shown as 'before'")
    parser.add_argument("--photos-dir", required=True, help="bench/photos")
    parser.add_argument("--photos", nargs="*", default=[], help="the photographs scored whole")
    args = parser.parse_args()
    programs = {"tesselo": reduce_tesselo(args.bench)}
    if args.baseline:
        programs["before"] = reduce_tesselo(args.baseline)
    programs["pngquant"] = reduce_pngquant
    with tempfile.TemporaryDirectory(prefix="tesselo-dither.") as scratch:
        scores = Scores(programs, scratch, os.path.join(args.photos_dir, ".pngquant-quality.json"))
        if args.mode in ("gradients", "all"):
            results = {name: scores.measure(pixels, COUNTS) for name, pixels in gradients(args.photos_dir).items()}
            print_table("gradients", results, programs)
            print_summary(results, programs)
        if args.mode in ("photos", "all"):
            results = {}
            for photo in args.photos:
                with Image.open(photo) as im:
                    results[os.path.basename(photo)] = scores.measure(np.asarray(im.convert("RGB")), COUNTS)
            print_table("photographs", results, programs)
            print_summary(results, programs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
