#!/usr/bin/python3
"""Tesselo's image operations beside ImageMagick, GraphicsMagick and Pillow, on the same photographs.

speed    each task as a whole process (read the JPEG, the operation, write the file), every program
         in turn run after run so that they share the machine's load: median seconds, megapixels per
         second, peak memory (the child's ru_maxrss), and every peer's time over ours.
quality  colour reduction to 255 and 16 colours of every photograph, decoded once to PPM so that all
         programs start from the same pixels: PSNR against the original, measured as it is without
         dithering and after a Gaussian blur (sigma 1) of both images with dithering (a dithered
         image is meant to be seen from a distance). Peers' scores are kept in a cache beside the
         photographs, keyed by the program's version.

Run through scripts/bench, which fetches the photographs and builds the benchmark program.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image, __version__ as pillow_version

PYTHON = "/usr/bin/python3"
CONVERT = "/usr/bin/convert"  # Debian's ImageMagick 6, not a wrapper that may come first on PATH
GM = "/usr/bin/gm"

# Pillow dithers only to a palette it is given: the palette is chosen first (median cut, its
# default for RGB, or its fast octree), then the image mapped to it.
PILLOW_REDUCE = """
import sys
from PIL import Image
src, dst, count, dither, method = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4] == '1', sys.argv[5]
im = Image.open(src).convert('RGB')
palette = im.quantize(count, method=getattr(Image.Quantize, method))
out = im.quantize(palette=palette, dither=Image.Dither.FLOYDSTEINBERG) if dither else palette
out.save(dst, compression='tiff_lzw') if dst.endswith('.tif') else out.convert('RGB').save(dst)
"""
PILLOW_GREY = "import sys\nfrom PIL import Image\nImage.open(sys.argv[1]).convert('L').save(sys.argv[2])"
PILLOW_HALF = """
import sys
from PIL import Image
im = Image.open(sys.argv[1])
im.resize((round(im.width / 2), round(im.height / 2)), Image.Resampling.LANCZOS).save(sys.argv[2])
"""


def speed_tasks(bench, baseline=None):
    """Each task: what it does, then the command of each program (input and output paths last).
    A baseline (imglib_bench of another commit) runs each task as "before"."""
    tasks = [
        ("tiff255", "read, 255 colours dithered, TIFF LZW", ".tif", {
            "tesselo": [bench, "run", "tiff255"],
            "floor": [bench, "run", "floor-tiff"],
            "ImageMagick": lambda i, o: [CONVERT, i, "-dither", "FloydSteinberg", "-colors", "255",
                                         "-compress", "LZW", o],
            "GraphicsMagick": lambda i, o: [GM, "convert", i, "-colors", "255", "-compress", "LZW", o],
            "Pillow": lambda i, o: [PYTHON, "-c", PILLOW_REDUCE, i, o, "255", "1", "MEDIANCUT"],
            "Pillow octree": lambda i, o: [PYTHON, "-c", PILLOW_REDUCE, i, o, "255", "1", "FASTOCTREE"],
        }),
        ("grey-bmp", "read, grey levels, BMP", ".bmp", {
            "tesselo": [bench, "run", "grey-bmp"],
            "floor": [bench, "run", "floor-bmp"],
            "ImageMagick": lambda i, o: [CONVERT, i, "-colorspace", "Gray", "-type", "Grayscale", o],
            "GraphicsMagick": lambda i, o: [GM, "convert", i, "-colorspace", "Gray", "-type", "Grayscale", o],
            "Pillow": lambda i, o: [PYTHON, "-c", PILLOW_GREY, i, o],
        }),
        ("half-bmp", "read, resize to 50 % (Lanczos), BMP", ".bmp", {
            "tesselo": [bench, "run", "half-bmp"],
            "floor": [bench, "run", "floor-half"],
            "ImageMagick": lambda i, o: [CONVERT, i, "-filter", "Lanczos", "-resize", "50%", o],
            "GraphicsMagick": lambda i, o: [GM, "convert", i, "-filter", "Lanczos", "-resize", "50%", o],
            "Pillow": lambda i, o: [PYTHON, "-c", PILLOW_HALF, i, o],
        }),
    ]
    if baseline:
        for name, _, _, programs in tasks:
            programs["before"] = [baseline, "run", name]
    return tasks


def command(program, src, dst):
    return program(src, dst) if callable(program) else program + [src, dst]


def run_measured(cmd):
    """Runs a command; returns its wall seconds and peak resident memory in MB."""
    start = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    error = child.stderr.read().decode(errors="replace")
    child.stderr.close()
    if child.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd[:3])} failed: {error.strip()[:300]}")
    return seconds, usage.ru_maxrss / 1024


def megapixels(path):
    with Image.open(path) as im:
        return im.width * im.height / 1e6


def speed(photos, runs, bench, scratch, from_ppm, baseline):
    for original in photos:
        mp = megapixels(original)
        name = os.path.basename(original)
        photo = original
        if from_ppm:
            # Decoded once beforehand: the programs are compared on the operation and the writing.
            photo = os.path.join(scratch, "speed.ppm")
            Image.open(original).convert("RGB").save(photo)
        print(f"\n== speed: {name} ({mp:.1f} MP{', from PPM' if from_ppm else ''}), median of {runs} runs")
        for name, what, suffix, programs in speed_tasks(bench, baseline):
            times = {p: [] for p in programs}
            peaks = {p: 0.0 for p in programs}
            failed = {}
            for _ in range(runs):
                for program, cmd in programs.items():
                    if program in failed:
                        continue
                    out = os.path.join(scratch, f"{name}.{program}{suffix}")
                    try:
                        seconds, peak = run_measured(command(cmd, photo, out))
                    except RuntimeError as error:
                        failed[program] = str(error)
                        continue
                    times[program].append(seconds)
                    peaks[program] = max(peaks[program], peak)
            print(f"-- {name}: {what}")
            print(f"   {'program':<16}{'median s':>10}{'MP/s':>8}{'peak MB':>9}  ratio")
            ours = statistics.median(times["tesselo"]) if times["tesselo"] else None
            for program in programs:
                if program in failed:
                    print(f"   {program:<16}{'failed':>10}  {failed[program][:100]}")
                    continue
                m = statistics.median(times[program])
                if ours is None or program == "tesselo":
                    ratio = ""
                elif program == "floor":
                    ratio = f"tesselo is {ours / m:.2f} x the floor"
                else:
                    ratio = f"{m / ours:.2f} x tesselo's time, {peaks[program] / peaks['tesselo']:.2f} x its memory"
                print(f"   {program:<16}{m:>10.3f}{mp / m:>8.1f}{peaks[program]:>9.0f}  {ratio}")


# Quality --------------------------------------------------------------------------------------

def gaussian_blur(a, sigma=1.0):
    radius = int(np.ceil(4 * sigma))
    x = np.arange(-radius, radius + 1)
    kernel = np.exp(-x * x / (2 * sigma * sigma))
    kernel /= kernel.sum()
    out = a
    for axis in (0, 1):
        pad = [(0, 0)] * 3
        pad[axis] = (radius, radius)
        padded = np.pad(out, pad, mode="edge")
        acc = np.zeros_like(a)
        for i, w in enumerate(kernel):
            acc += w * (padded[i:i + a.shape[0]] if axis == 0 else padded[:, i:i + a.shape[1]])
        out = acc
    return out


def psnr(a, b):
    mse = float(((a - b) ** 2).mean())
    return float("inf") if mse == 0 else 10 * np.log10(255 * 255 / mse)


def load_rgb(path):
    with Image.open(path) as im:
        return np.asarray(im.convert("RGB"), dtype=np.float32)


def quality_programs(bench):
    """Each program's ways of reducing colours, by dithering: (label, command for src dst count)."""
    return {
        "tesselo": {
            0: [("", lambda s, d, n: [bench, "reduce", str(n), "0", s, d])],
            1: [("", lambda s, d, n: [bench, "reduce", str(n), "1", s, d])],
        },
        "ImageMagick": {
            0: [("", lambda s, d, n: [CONVERT, s, "+dither", "-colors", str(n), d])],
            1: [("Floyd-Steinberg", lambda s, d, n: [CONVERT, s, "-dither", "FloydSteinberg", "-colors", str(n), d]),
                ("Riemersma", lambda s, d, n: [CONVERT, s, "-dither", "Riemersma", "-colors", str(n), d])],
        },
        "GraphicsMagick": {
            0: [("", lambda s, d, n: [GM, "convert", s, "+dither", "-colors", str(n), d])],
            1: [("", lambda s, d, n: [GM, "convert", s, "-dither", "-colors", str(n), d])],
        },
        "Pillow": {
            0: [("median cut", lambda s, d, n: [PYTHON, "-c", PILLOW_REDUCE, s, d, str(n), "0", "MEDIANCUT"]),
                ("octree", lambda s, d, n: [PYTHON, "-c", PILLOW_REDUCE, s, d, str(n), "0", "FASTOCTREE"])],
            1: [("median cut", lambda s, d, n: [PYTHON, "-c", PILLOW_REDUCE, s, d, str(n), "1", "MEDIANCUT"]),
                ("octree", lambda s, d, n: [PYTHON, "-c", PILLOW_REDUCE, s, d, str(n), "1", "FASTOCTREE"])],
        },
    }


def program_versions():
    def first_line(cmd):
        try:
            return subprocess.run(cmd, capture_output=True, text=True).stdout.splitlines()[0]
        except (OSError, IndexError):
            return "?"
    return {"ImageMagick": first_line([CONVERT, "-version"]), "GraphicsMagick": first_line([GM, "version"]),
            "Pillow": pillow_version}


def quality(photos, bench, scratch, cache_path, counts=(255, 16)):
    cache = {}
    if os.path.exists(cache_path):
        with open(cache_path) as f:
            cache = json.load(f)
    versions = program_versions()
    programs = quality_programs(bench)
    # scores[(count, dither)][program] = list of per-photo scores (best variant of each program)
    scores = {}
    print("\n== quality: PSNR in dB against the original; dithered results after a blur of sigma 1")
    for photo in photos:
        name = os.path.basename(photo)
        ppm = os.path.join(scratch, "original.ppm")
        Image.open(photo).convert("RGB").save(ppm)
        original = load_rgb(ppm)
        blurred = {}
        for count in counts:
            for dither in (0, 1):
                line = []
                for program, ways in programs.items():
                    best = None
                    for label, cmd in ways[dither]:
                        key = f"{name}|{program}|{versions.get(program, '')}|{label}|{count}|{dither}"
                        score = cache.get(key) if program != "tesselo" else None
                        if score is None:
                            out = os.path.join(scratch, "reduced.ppm")
                            run_measured(cmd(ppm, out, count))
                            result = load_rgb(out)
                            if dither:
                                if "original" not in blurred:
                                    blurred["original"] = gaussian_blur(original)
                                score = psnr(blurred["original"], gaussian_blur(result))
                            else:
                                score = psnr(original, result)
                            if program != "tesselo":
                                cache[key] = score
                                with open(cache_path, "w") as f:
                                    json.dump(cache, f, indent=0)
                        best = score if best is None else max(best, score)
                        line.append(f"{program}{' ' + label if label else ''} {score:.2f}")
                    scores.setdefault((count, dither), {}).setdefault(program, []).append(best)
                print(f"{name:<28} {count:>3} {'dithered' if dither else 'nearest ':<9} " + ", ".join(line))
    print("\n-- mean over the photographs (each program's best variant), and tesselo against the best peer")
    for (count, dither), by_program in sorted(scores.items(), key=lambda kv: (-kv[0][0], kv[0][1])):
        means = {p: statistics.mean(v) for p, v in by_program.items()}
        peers = {p: m for p, m in means.items() if p != "tesselo"}
        best_peer = max(peers, key=peers.get)
        ours = by_program["tesselo"]
        wins = sum(1 for i, s in enumerate(ours) if s >= max(by_program[p][i] for p in peers))
        kind = "dithered, blurred" if dither else "nearest"
        print(f"{count:>3} colours, {kind:<18} " + "  ".join(f"{p} {m:.2f}" for p, m in means.items()) +
              f"  | tesselo - {best_peer} = {means['tesselo'] - peers[best_peer]:+.2f} dB,"
              f" at least the best peer on {wins}/{len(ours)} photographs")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mode", choices=["speed", "quality", "all"])
    parser.add_argument("--bench", required=True, help="the imglib_bench program")
    parser.add_argument("--baseline", help="speed: another build's imglib_bench (an earlier commit), shown as 'before'")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--from-ppm", action="store_true",
                        help="speed: give every program the photograph decoded to PPM beforehand")
    parser.add_argument("--speed-photos", nargs="+", default=[])
    parser.add_argument("--quality-photos", nargs="+", default=[])
    parser.add_argument("--cache", default=None, help="where peers' quality scores are kept")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="tesselo-bench.") as scratch:
        if args.mode in ("speed", "all"):
            speed(args.speed_photos, args.runs, args.bench, scratch, args.from_ppm, args.baseline)
        if args.mode in ("quality", "all"):
            cache = args.cache or os.path.join(os.path.dirname(args.quality_photos[0]), ".peer-quality.json")
            quality(args.quality_photos, args.bench, scratch, cache)
    return 0


if __name__ == "__main__":
    sys.exit(main())
