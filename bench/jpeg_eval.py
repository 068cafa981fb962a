#!/usr/bin/python3
"""Quality of the enlargement of JPEG sources, with and without the JPEG model.

Each photograph is cut to a 1024 x 768 original (libvips thumbnail, centre
crop), reduced by a Gaussian blur (sigma 0.8) and every second sample (the
sample-aligned grid the enhancement's downsampling model assumes: low-res
sample i is original sample 2i), and the 512 x 384 copy saved as PNG and as
JPEG at qualities 70, 80 and 92 with 4:2:0 chroma (libvips). Each copy is
enlarged by kestrune-cli upscale with the default settings, with
--jpeg-model on and off, and by Lanczos-4 on the same aligned grid (output
X reads input X / 2), and the luma (BT.601) PSNR and SSIM against the
original are reported, a 16-pixel border left out. --method runs another
initial method than the default (e.g. learned).

With --timing the default enlargement of a 1024 x 768 JPEG (quality 80, the
first photograph's original) is timed, model on and off in turn, three pairs
in the same run, and the median ratio reported. Camera sizes (tiles):
bench/jpeg_speed.sh.

With the model the enlargement starts from the decoding smoothed and held to
the file (JpegObservation::Start); the table is in docs/performance.md.

Photographs: Debian's mate-backgrounds package (apt-get download
mate-backgrounds; dpkg-deb -x the .deb into a folder), nature/ folder:
Garden, Wood, TwoWings, LadyBird, FreshFlower, Dune. Needs python3-numpy and
libvips-tools.

  bench/jpeg_eval.py --cli build/kestrune-cli --photos /tmp/bg/usr/share/backgrounds/mate/nature
"""
import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np

PHOTOS = ["Garden.jpg", "Wood.jpg", "TwoWings.jpg", "LadyBird.jpg", "FreshFlower.jpg", "Dune.jpg"]
QUALITIES = [70, 80, 92]
BORDER = 16


def run(*args):
    subprocess.run([str(a) for a in args], check=True, stdout=subprocess.DEVNULL)


def read_rgb(path, work):
    """Any image libvips reads, as float RGB 0..255 (through binary PPM)."""
    ppm = os.path.join(work, "read.ppm")
    run("vips", "copy", path, ppm)
    with open(ppm, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    w, h = int(fields[1]), int(fields[2])
    pixels = np.frombuffer(data[pos + 1:pos + 1 + w * h * 3], dtype=np.uint8)
    return pixels.reshape(h, w, 3).astype(np.float64)


def write_ppm(path, rgb):
    h, w, _ = rgb.shape
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h))
        f.write(np.clip(np.rint(rgb), 0, 255).astype(np.uint8).tobytes())


def filter_axis(a, kernel, axis):
    """Correlates `a` along `axis` with an odd kernel, edges mirrored."""
    r = len(kernel) // 2
    pad = [(0, 0)] * a.ndim
    pad[axis] = (r, r)
    p = np.pad(a, pad, mode="symmetric")
    out = np.zeros_like(a)
    n = a.shape[axis]
    for t, k in enumerate(kernel):
        out += k * np.take(p, range(t, t + n), axis=axis)
    return out


def gaussian(sigma, radius):
    x = np.arange(-radius, radius + 1)
    k = np.exp(-x * x / (2 * sigma * sigma))
    return k / k.sum()


def degrade(rgb):
    k = gaussian(0.8, 3)
    blurred = filter_axis(filter_axis(rgb, k, 0), k, 1)
    return blurred[0::2, 0::2]


def lanczos4_x2(rgb):
    """Lanczos-4 enlargement by two on the sample-aligned grid: output X is
    input X / 2 (even outputs copy the input), edges repeated."""
    def taps(phase):
        x = np.arange(-3, 5) - phase  # input offsets -3..4 around floor(X / 2)
        k = np.sinc(x) * np.sinc(x / 4)
        k[np.abs(x) >= 4] = 0
        return k / k.sum()

    def along(a, axis):
        n = a.shape[axis]
        out_shape = list(a.shape)
        out_shape[axis] = 2 * n
        out = np.zeros(out_shape)
        for parity, phase in ((0, 0.0), (1, 0.5)):
            k = taps(phase)
            acc = np.zeros_like(a)
            for t, w in enumerate(k):
                idx = np.clip(np.arange(n) + t - 3, 0, n - 1)
                acc += w * np.take(a, idx, axis=axis)
            sl = [slice(None)] * a.ndim
            sl[axis] = slice(parity, None, 2)
            out[tuple(sl)] = acc
        return out

    return along(along(rgb, 0), 1)


def luma(rgb):
    return 0.299 * rgb[..., 0] + 0.587 * rgb[..., 1] + 0.114 * rgb[..., 2]


def psnr(a, b):
    mse = np.mean((a - b) ** 2)
    return 10 * np.log10(255.0 ** 2 / mse)


def ssim(a, b):
    k = gaussian(1.5, 5)
    f = lambda x: filter_axis(filter_axis(x, k, 0), k, 1)
    c1, c2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2
    ma, mb = f(a), f(b)
    va, vb, cov = f(a * a) - ma * ma, f(b * b) - mb * mb, f(a * b) - ma * mb
    s = ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2))
    return float(np.mean(s))


def scores(result, original):
    y1, y0 = luma(np.clip(np.rint(result), 0, 255)), luma(original)
    c = (slice(BORDER, -BORDER), slice(BORDER, -BORDER))
    return psnr(y1[c], y0[c]), ssim(y1[c], y0[c])


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", default="build/kestrune-cli")
    ap.add_argument("--photos", required=True, help="folder holding the photographs listed above")
    ap.add_argument("--only", type=int, default=len(PHOTOS), help="the first N photographs")
    ap.add_argument("--timing", action="store_true")
    ap.add_argument("--qualities", default=",".join(map(str, QUALITIES)), help="JPEG qualities, comma-separated")
    ap.add_argument("--models", default="on,off", help="--jpeg-model settings to run")
    ap.add_argument("--no-png", action="store_true", help="leave out the uncompressed source")
    ap.add_argument("--method", help="kestrune-cli's --method (default: its default)")
    args = ap.parse_args()
    cli = os.path.abspath(args.cli)
    rows = {}  # source -> method -> list of (psnr, ssim)
    with tempfile.TemporaryDirectory(prefix="jpeg_eval.") as work:
        for name in PHOTOS[:args.only]:
            path = os.path.join(args.photos, name)
            original_file = os.path.join(work, "original.png")
            run("vips", "thumbnail", path, original_file, 1024, "--height", 768, "--crop", "centre")
            original = read_rgb(original_file, work)
            low = os.path.join(work, "low.ppm")
            write_ppm(low, degrade(original))
            sources = {}
            if not args.no_png:
                sources["PNG"] = os.path.join(work, "low.png")
                run("vips", "copy", low, sources["PNG"])
            for q in map(int, args.qualities.split(",")):
                sources[f"q{q}"] = os.path.join(work, f"low{q}.jpg")
                run("vips", "jpegsave", low, sources[f"q{q}"], "--Q", q, "--subsample-mode", "on")
            for label, src in sources.items():
                got = rows.setdefault(label, {})
                got.setdefault("Lanczos-4", []).append(scores(lanczos4_x2(read_rgb(src, work)), original))
                for model in args.models.split(","):
                    out = os.path.join(work, f"up_{model}.png")
                    run(cli, "upscale", src, out, "--quiet", "--jpeg-model", model,
                        *(["--method", args.method] if args.method else []))
                    got.setdefault(f"model {model}", []).append(scores(read_rgb(out, work), original))
            print(f"{name}: done", file=sys.stderr)

        print(f"Luma PSNR (dB) / SSIM, mean of {min(args.only, len(PHOTOS))} photographs, 512 x 384 -> 1024 x 768")
        print(f"{'source':8} {'Lanczos-4':>16} {'model off':>16} {'model on':>16} {'lead off':>9} {'lead on':>9}")
        for label, got in rows.items():
            m = {k: np.mean(np.array(v), axis=0) for k, v in got.items()}
            cells = " ".join(f"{m[k][0]:7.2f} / {m[k][1]:.4f}" if k in m else f"{'-':>16}"
                             for k in ("Lanczos-4", "model off", "model on"))
            lead = lambda k: f"{m[k][0] - m['Lanczos-4'][0]:+9.2f}" if k in m else f"{'-':>9}"
            print(f"{label:8} {cells} {lead('model off')} {lead('model on')}")

        if args.timing:
            big = os.path.join(work, "big80.jpg")
            run("vips", "thumbnail", os.path.join(args.photos, PHOTOS[0]), big + "[Q=80,subsample-mode=on]",
                1024, "--height", 768, "--crop", "centre")
            ratios = []
            for _ in range(3):
                seconds = {}
                for model in ("on", "off"):
                    t = subprocess.run(["/usr/bin/time", "-f", "%e %M", cli, "upscale", big,
                                        os.path.join(work, "big.png"), "--quiet", "--jpeg-model", model],
                                       check=True, capture_output=True, text=True)
                    s, kb = t.stderr.strip().splitlines()[-1].split()
                    seconds[model] = float(s)
                    print(f"1024 x 768 JPEG, model {model}: {s} s, {kb} KB")
                ratios.append(seconds["on"] / seconds["off"])
            print(f"time on / off: median {sorted(ratios)[1]:.3f}")

if __name__ == "__main__":
    main()
