#!/usr/bin/python3
"""Quality of the "Learned" initial method, alone and under the enhancement.

Each photograph marked `eval` in training/photos.txt (never used in
training) is cut to a 1024 x 768 original (libvips thumbnail, centre crop)
and reduced to 512 x 384 three ways:
  optics        Gaussian blur (sigma 0.8), then every second sample: the
                sample-aligned grid the enhancement's model assumes (source
                sample i is original sample 2i);
  bicubic       the usual antialiased bicubic reduction (Keys, a = -0.5,
                stretched by two) on the centred grid: source sample i
                covers original samples 2i and 2i + 1;
  bicubic-al    the same filter centred on the even samples (the aligned
                grid, as the network was trained).
Each is saved as PNG and enlarged by Lanczos-4 on the aligned grid (output X
reads input X / 2), by kestrune-cli upscale with the default settings, by
the learned start alone (--method learned --iterations 0 --fractal 0) and
by the learned start with the default enhancement (--method learned). Luma
(BT.601) PSNR and SSIM against the original, a 16-pixel border left out.

With --timing, a 2000 x 1500 source (the first photograph's centre) is
enlarged by the default settings, the learned start alone and the learned
start with the enhancement, timed by /usr/bin/time in the same run.

  bench/learned_eval.py --cli build/kestrune-cli --photos ROOT [--timing]

ROOT holds each package of training/photos.txt unpacked by dpkg -x into
ROOT/PACKAGE. Needs python3-numpy and libvips-tools.
"""
import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from jpeg_eval import filter_axis, gaussian, lanczos4_x2, read_rgb, run, scores, write_ppm  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
METHODS = {
    "default": [],
    "learned alone": ["--method", "learned", "--iterations", "0", "--fractal", "0"],
    "learned + enh.": ["--method", "learned"],
}


def keys(x, a=-0.5):
    x = np.abs(x)
    return np.where(x < 1, (a + 2) * x ** 3 - (a + 3) * x ** 2 + 1,
                    np.where(x < 2, a * x ** 3 - 5 * a * x ** 2 + 8 * a * x - 4 * a, 0.0))


def reduce_centred(rgb):
    """Antialiased bicubic halving: source i centred on original 2i + 0.5."""
    d = np.arange(-3, 5) - 0.5  # original samples 2i - 3 .. 2i + 4
    k = keys(d / 2)
    k /= k.sum()

    def along(a, axis):
        n = a.shape[axis]
        out = 0
        for t, w in zip(range(-3, 5), k):
            idx = np.clip(np.arange(0, n, 2) + t, 0, n - 1)
            out = out + w * np.take(a, idx, axis=axis)
        return out

    return along(along(rgb, 0), 1)


def reduce_aligned(rgb, k):
    return filter_axis(filter_axis(rgb, k, 0), k, 1)[0::2, 0::2]


def degradations():
    kb = keys(np.arange(-3, 4) / 2.0)
    kb /= kb.sum()
    return {
        "optics": lambda rgb: reduce_aligned(rgb, gaussian(0.8, 3)),
        "bicubic": reduce_centred,
        "bicubic-al": lambda rgb: reduce_aligned(rgb, kb),
    }


def eval_photos(root):
    out = []
    with open(os.path.join(HERE, "..", "training", "photos.txt")) as f:
        for line in f:
            fields = line.split()
            if len(fields) >= 3 and fields[0] == "eval":
                out.append(os.path.join(root, fields[1], fields[2]))
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", default="build/kestrune-cli")
    ap.add_argument("--photos", required=True, help="ROOT with the packages of training/photos.txt unpacked")
    ap.add_argument("--only", type=int, default=0, help="the first N photographs (0: all)")
    ap.add_argument("--timing", action="store_true")
    ap.add_argument("--methods", default=",".join(METHODS), help="of: " + ", ".join(METHODS))
    args = ap.parse_args()
    methods = {m: METHODS[m] for m in args.methods.split(",")}
    cli = os.path.abspath(args.cli)
    photos = eval_photos(args.photos)
    if args.only:
        photos = photos[:args.only]
    rows = {}  # degradation -> method -> list of (psnr, ssim)
    with tempfile.TemporaryDirectory(prefix="learned_eval.") as work:
        for path in photos:
            original_file = os.path.join(work, "original.png")
            run("vips", "thumbnail", path, original_file, 1024, "--height", 768, "--crop", "centre")
            original = read_rgb(original_file, work)
            for label, degrade in degradations().items():
                low = os.path.join(work, "low.ppm")
                write_ppm(low, degrade(original))
                src = os.path.join(work, "low.png")
                run("vips", "copy", low, src)
                got = rows.setdefault(label, {})
                got.setdefault("Lanczos-4", []).append(scores(lanczos4_x2(read_rgb(src, work)), original))
                for method, flags in methods.items():
                    out = os.path.join(work, "up.png")
                    run(cli, "upscale", src, out, "--quiet", *flags)
                    got.setdefault(method, []).append(scores(read_rgb(out, work), original))
            print(f"{os.path.relpath(path, args.photos)}: done", file=sys.stderr)

        names = ["Lanczos-4"] + list(methods)
        print(f"Luma PSNR (dB) / SSIM, mean of {len(photos)} held-out photographs, 512 x 384 -> 1024 x 768;"
              " lead: PSNR over Lanczos-4")
        print(f"{'source':11} " + " ".join(f"{n:>16}" for n in names) + " " +
              " ".join(f"{'lead ' + n:>22}" for n in names[1:]))
        for label, got in rows.items():
            m = {k: np.mean(np.array(v), axis=0) for k, v in got.items()}
            cells = " ".join(f"{m[k][0]:7.2f} / {m[k][1]:.4f}" for k in names)
            leads = " ".join(f"{m[k][0] - m['Lanczos-4'][0]:+22.2f}" for k in names[1:])
            print(f"{label:11} {cells} {leads}")

        if args.timing:
            big = os.path.join(work, "big.png")
            run("vips", "thumbnail", photos[0], big, 2000, "--height", 1500, "--crop", "centre")
            for method, flags in methods.items():
                t = subprocess.run(["/usr/bin/time", "-f", "%e s, %M KB", cli, "upscale", big,
                                    os.path.join(work, "big2.png"), "--quiet", *flags],
                                   check=True, capture_output=True, text=True)
                print(f"2000 x 1500, {method}: {t.stderr.strip().splitlines()[-1]}")


if __name__ == "__main__":
    main()
