#!/usr/bin/python3
"""Trains the network of the "Learned" initial method and writes it as ONNX.

The network sees a source's luma only through its differences to the right
and downward neighbours (two planes, exactly zero on a flat picture) and
predicts, for every source sample, a correction of the four output samples
(2y + i, 2x + j) it covers over the cubic x2 enlargement of Kestrune's
bicubic start (sample (x, y) lands on output (2x, 2y); the sites between are
cubic convolution with parameter -1). Its convolutions are 3 x 3, unpadded
and without bias terms, with ReLU between them: a flat picture gets no
correction at all, and the correction scales with the picture's contrast, so
the value range of the planes does not matter. Kestrune adds the one
correction of the luma to every colour plane.

Training pairs are cut from the photographs marked `train` in
training/photos.txt (first made smaller by 2 or 3 with an antialiased
Lanczos reduction, which leaves them clean), then reduced on the
sample-aligned grid (source sample i is output sample 2i) by one of:
  - optics-like blur: Gaussian, sigma 0.6 .. 1.0 (mostly near 0.8), then every
    second sample;
  - antialiased bicubic reduction (Keys, a = -0.5, stretched by two) centred
    on the even samples;
(--optics gives the blurred ones' share, default a half) and rounded to whole
levels or, for a share of them (--jpeg, default 40 %), saved as JPEG at a quality
of 70 .. 95 and read back.

Torch runs on the CPU with --threads threads (default 1). --minutes bounds
the run; the learning rate follows a cosine from --lr down over the run.
--init goes on training from an ONNX file of this network (with --channels
wider than its, the new channels start without effect on the output).
--loss l2 trains on the squared error, which is what PSNR measures, instead
of the absolute one. --validate-every N scores the start every N steps, as
luma PSNR against the cubic start's, on the held-out photographs
bench/source_model_eval.py does not report (photos.txt's `eval` ones of
plasma-workspace-wallpapers), each 1024 x 768 and halved both ways (the
optics-blurred one also as JPEG at quality 80).

  training/train_learned_start.py --photos ROOT --out training/learned_start.onnx
  training/train_learned_start.py --smoke --out /tmp/smoke.onnx   # made-up images, a few steps

ROOT holds each package unpacked by dpkg -x into ROOT/PACKAGE (see photos.txt).
Needs python3-torch, python3-onnx, python3-numpy and python3-pil.
"""
import argparse
import io
import math
import os
import random
import sys
import time

import numpy as np
import torch
import torch.nn as nn
import torch.nn.functional as F
from PIL import Image

CHANNELS = 32
LAYERS = 6  # 3 x 3 convolutions: reach RADIUS = LAYERS source samples each way
RADIUS = LAYERS
PATCH = 48  # output sites (source samples) per side of a training patch
MARGIN = RADIUS + 2  # source samples around the patch: the differences and the cubic start
EDGE = 4  # original samples around the crop for the reduction's filters

HERE = os.path.dirname(os.path.abspath(__file__))


class LearnedStart(nn.Module):
    def __init__(self, channels=CHANNELS, layers=LAYERS):
        super().__init__()
        sizes = [2] + [channels] * (layers - 1) + [4]
        self.convs = nn.ModuleList(nn.Conv2d(a, b, 3, bias=False) for a, b in zip(sizes[:-1], sizes[1:]))
        nn.init.zeros_(self.convs[-1].weight)  # starts as the cubic enlargement

    def forward(self, diffs):
        x = diffs
        for conv in self.convs[:-1]:
            x = F.relu(conv(x))
        return self.convs[-1](x)


def differences(y):
    """Right and downward differences of (N, 1, h, w) luma: (N, 2, h - 1, w - 1)."""
    dx = y[:, :, :-1, 1:] - y[:, :, :-1, :-1]
    dy = y[:, :, 1:, :-1] - y[:, :, :-1, :-1]
    return torch.cat([dx, dy], 1)


def cubic_phases(y):
    """Kestrune's bicubic x2 start of (N, 1, h, w) at sources [1, h - 2) x [1, w - 2)
    as four phase planes (even/odd row, even/odd column)."""
    def between(a, b, c, d):
        return 0.625 * (b + c) - 0.125 * (a + d)

    # Along rows: even columns are the samples, odd columns between k and k + 1.
    even = y[:, :, :, 1:-2]
    odd = between(y[:, :, :, :-3], y[:, :, :, 1:-2], y[:, :, :, 2:-1], y[:, :, :, 3:])
    out = []
    for plane in (even, odd):
        out.append(plane[:, :, 1:-2, :])
    for plane in (even, odd):
        out.append(between(plane[:, :, :-3, :], plane[:, :, 1:-2, :], plane[:, :, 2:-1, :], plane[:, :, 3:, :]))
    return torch.cat(out, 1)  # order: (0,0), (0,1), (1,0), (1,1)


def predict(net, lr):
    """The learned start of (N, 1, h, w) sources at sources [MARGIN, h - MARGIN) as
    phases (N, 4, h - 2 MARGIN, w - 2 MARGIN)."""
    m = MARGIN
    d = differences(lr[:, :, m - RADIUS:lr.shape[2] - m + RADIUS + 1, m - RADIUS:lr.shape[3] - m + RADIUS + 1])
    start = cubic_phases(lr[:, :, m - 1:lr.shape[2] - m + 2, m - 1:lr.shape[3] - m + 2])
    return start + net(d)


def to_phases(hr):
    """(N, 1, 2h, 2w) output samples as (N, 4, h, w) phases in cubic_phases' order."""
    return torch.cat([hr[:, :, 0::2, 0::2], hr[:, :, 0::2, 1::2], hr[:, :, 1::2, 0::2], hr[:, :, 1::2, 1::2]], 1)


def gaussian_taps(sigma):
    t = torch.arange(-EDGE, EDGE + 1, dtype=torch.float32)
    k = torch.exp(-0.5 * (t / sigma) ** 2)
    return k / k.sum()


def keys(x, a=-0.5):
    """Keys' cubic convolution kernel."""
    x = abs(x)
    if x < 1:
        return (a + 2) * x ** 3 - (a + 3) * x ** 2 + 1
    if x < 2:
        return a * x ** 3 - 5 * a * x ** 2 + 8 * a * x - 4 * a
    return 0.0


def bicubic_taps():
    """Antialiased Keys (a = -0.5) reduction by two on the aligned grid."""
    k = torch.tensor([keys(t / 2.0) for t in range(-EDGE, EDGE + 1)], dtype=torch.float32)
    return k / k.sum()


def reduce_aligned(hr, taps):
    """Separable filter then every second sample, keeping sample 2i + EDGE of the
    (N, 1, 2n + 2 EDGE, ...) crop as source sample i."""
    k = taps.view(1, 1, 1, -1)
    x = F.conv2d(hr, k)
    x = F.conv2d(x, k.transpose(2, 3))
    return x[:, :, ::2, ::2]


def jpeg(lr, quality):
    a = np.clip(np.rint(lr[0, 0].numpy()), 0, 255).astype(np.uint8)
    buf = io.BytesIO()
    Image.fromarray(a, "L").save(buf, "JPEG", quality=int(quality))
    buf.seek(0)
    return torch.from_numpy(np.asarray(Image.open(buf), dtype=np.float32).copy())[None, None]


def luma(img):
    a = np.asarray(img.convert("RGB"), dtype=np.float32)
    return 0.299 * a[..., 0] + 0.587 * a[..., 1] + 0.114 * a[..., 2]


def load_photos(root, use):
    photos = []
    with open(os.path.join(HERE, "photos.txt")) as f:
        for line in f:
            fields = line.split()
            if not fields or fields[0].startswith("#") or fields[0] != use:
                continue
            path = os.path.join(root, fields[1], fields[2])
            img = Image.open(path)
            img.load()
            for width in (1280, 880):
                f_ = width / img.width
                small = img.convert("RGB").resize((width, round(img.height * f_)), Image.LANCZOS)
                photos.append(torch.from_numpy(luma(small)))
    return photos


def made_up_photos(count=3, size=160, seed=1):
    """Small pictures of soft discs and bars on gradients, for the smoke run."""
    rng = np.random.default_rng(seed)
    yy, xx = np.mgrid[0:size, 0:size].astype(np.float32)
    out = []
    for _ in range(count):
        a = 60 + 0.5 * xx + 0.3 * yy
        for _ in range(12):
            cx, cy, r = rng.uniform(0, size, 2).tolist() + [rng.uniform(4, 30)]
            a += rng.uniform(-80, 80) / (1 + np.exp(np.clip((np.hypot(xx - cx, yy - cy) - r) * 2, -30, 30)))
        out.append(torch.from_numpy(np.clip(a, 0, 255).astype(np.float32)))
    return out


def random_crop(photos, side, rng):
    """A side x side crop of a random photograph, perhaps transposed and
    mirrored, as (1, 1, side, side)."""
    p = photos[rng.randrange(len(photos))]
    y0, x0 = rng.randrange(p.shape[0] - side + 1), rng.randrange(p.shape[1] - side + 1)
    crop = p[y0:y0 + side, x0:x0 + side]
    if rng.random() < 0.5:
        crop = crop.t()
    if rng.random() < 0.5:
        crop = crop.flip(1)
    return crop.contiguous()[None, None]


def batch(photos, n, rng, optics=0.5, jpeg_share=0.4):
    side = 2 * (PATCH + 2 * MARGIN) + 2 * EDGE
    lrs, hrs = [], []
    for _ in range(n):
        crop = random_crop(photos, side, rng)
        if rng.random() < optics:
            taps = gaussian_taps(min(max(rng.gauss(0.8, 0.12), 0.6), 1.0))
        else:
            taps = bicubic_taps()
        lr = reduce_aligned(crop, taps)
        lr = jpeg(lr, rng.randint(70, 95)) if rng.random() < jpeg_share else torch.round(lr.clamp(0, 255))
        o = EDGE + 2 * MARGIN
        lrs.append(lr)
        hrs.append(to_phases(crop[:, :, o:o + 2 * PATCH, o:o + 2 * PATCH]))
    return torch.cat(lrs), torch.cat(hrs)


def validation_set(root):
    """(name, source, truth as phases) of the held-out plasma photographs,
    each cut to 1024 x 768 and halved both ways on the aligned grid, rounded,
    and the optics-blurred one also as JPEG at quality 80."""
    out = []
    with open(os.path.join(HERE, "photos.txt")) as f:
        for line in f:
            fields = line.split()
            if len(fields) < 3 or fields[0] != "eval" or fields[1] != "plasma-workspace-wallpapers":
                continue
            img = Image.open(os.path.join(root, fields[1], fields[2])).convert("RGB")
            f_ = max(1024 / img.width, 768 / img.height)
            img = img.resize((round(img.width * f_), round(img.height * f_)), Image.LANCZOS)
            x0, y0 = (img.width - 1024) // 2, (img.height - 768) // 2
            hr = torch.from_numpy(luma(img.crop((x0, y0, x0 + 1024, y0 + 768))))[None, None]
            padded = F.pad(hr, (EDGE,) * 4, mode="reflect")
            for name, taps in (("optics", gaussian_taps(0.8)), ("bicubic", bicubic_taps())):
                lr = torch.round(reduce_aligned(padded, taps).clamp(0, 255))
                m = MARGIN
                out.append((name, lr, to_phases(hr)[:, :, m:lr.shape[2] - m, m:lr.shape[3] - m]))
                if name == "optics":
                    out.append(("optics-q80", jpeg(lr, 80), out[-1][2]))
    return out


def validate(net, pairs):
    """Mean luma PSNR per degradation of the learned start and of the cubic start alone."""
    scores = {}
    with torch.no_grad():
        for name, lr, truth in pairs:
            learned = predict(net, lr)
            cubic = predict(lambda d: 0, lr)
            for label, est in (("learned", learned), ("cubic", cubic)):
                mse = F.mse_loss(est.clamp(0, 255), truth).item()
                scores.setdefault(f"{name} {label}", []).append(10 * math.log10(255 ** 2 / mse))
    return " ".join(f"{k} {np.mean(v):.3f}" for k, v in scores.items())


def onnx_weights(path):
    """The weights of an ONNX file by name, as tensors."""
    import onnx
    from onnx import numpy_helper
    return {i.name: torch.from_numpy(numpy_helper.to_array(i).copy()) for i in onnx.load(path).graph.initializer}


def load_weights(net, path):
    """Weights from an ONNX file of this network, perhaps narrower: a new
    channel keeps its random incoming weights and gets zero outgoing ones."""
    given = onnx_weights(path)
    state = net.state_dict()
    for name, w in state.items():
        g = given[name]
        if name != "convs.0.weight":
            w[:, g.shape[1]:] = 0
        w[:g.shape[0], :g.shape[1]] = g
    net.load_state_dict(state)


def export(net, path, side=2 * RADIUS + 16, output="corrections"):
    """Writes `net`, which maps the (N, 2, h, w) differences to `output`, as
    ONNX of any h and w; the file appears whole or not at all."""
    net.eval()
    dummy = torch.zeros(1, 2, side, side)
    tmp = path + ".part"
    torch.onnx.export(net, dummy, tmp, input_names=["differences"], output_names=[output],
                      dynamic_axes={"differences": {2: "h", 3: "w"}, output: {2: "h", 3: "w"}},
                      opset_version=11, do_constant_folding=True)
    import onnx
    onnx.checker.check_model(onnx.load(tmp))
    os.replace(tmp, path)
    net.train()


def training_arguments(description, batch_help=None):
    """The options both training scripts take."""
    ap = argparse.ArgumentParser(description=description, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--photos", help="ROOT with the packages of photos.txt unpacked")
    ap.add_argument("--smoke", action="store_true", help="a few steps on made-up pictures")
    ap.add_argument("--out", required=True, help="the ONNX file to write")
    ap.add_argument("--steps", type=int, default=1000000)
    ap.add_argument("--minutes", type=float, default=0, help="stop after this long (0: after --steps)")
    ap.add_argument("--batch", type=int, default=16, help=batch_help)
    ap.add_argument("--lr", type=float, default=2e-3)
    ap.add_argument("--threads", type=int, default=1)
    ap.add_argument("--seed", type=int, default=29)
    ap.add_argument("--save-every", type=int, default=500, help="steps between exports")
    return ap


def training_setup(args):
    """Threads, seeds and the pictures: (photos, steps, minutes, batch size, rng)."""
    torch.set_num_threads(args.threads)
    torch.manual_seed(args.seed)
    rng = random.Random(args.seed)
    if args.smoke:
        photos, steps, minutes, batch_size = made_up_photos(), min(args.steps, 3), 0, 2
    else:
        if not args.photos:
            sys.exit("--photos ROOT or --smoke is needed")
        photos, steps, minutes, batch_size = load_photos(args.photos, "train"), args.steps, args.minutes, args.batch
    print(f"{len(photos)} pictures", flush=True)
    return photos, steps, minutes, batch_size, rng


def set_rate(opt, base, share):
    """Cosine decay from `base` to a fiftieth of it over the run's share done."""
    for g in opt.param_groups:
        g["lr"] = base * (0.02 + 0.98 * 0.5 * (1 + math.cos(math.pi * min(share, 1.0))))


def main():
    ap = training_arguments(__doc__)
    ap.add_argument("--init", help="an ONNX file of this network to go on training from")
    ap.add_argument("--channels", type=int, default=CHANNELS)
    ap.add_argument("--optics", type=float, default=0.5, help="the share of optics-blurred pairs")
    ap.add_argument("--jpeg", type=float, default=0.4, help="the share of pairs saved as JPEG (quality 70 .. 95)")
    ap.add_argument("--loss", choices=["l1", "l2"], default="l1")
    ap.add_argument("--validate-every", type=int, default=0, help="steps between scores on held-out photographs")
    args = ap.parse_args()
    photos, steps, minutes, batch_size, rng = training_setup(args)
    pairs = validation_set(args.photos) if args.validate_every and not args.smoke else []

    net = LearnedStart(args.channels)
    if args.init:
        load_weights(net, args.init)
    if pairs:
        print(f"step 0 {validate(net, pairs)}", flush=True)
    loss_of = F.l1_loss if args.loss == "l1" else F.mse_loss
    opt = torch.optim.Adam(net.parameters(), lr=args.lr)
    start = time.time()
    running = 0.0
    step = 0
    while step < steps:
        elapsed = (time.time() - start) / 60
        if minutes and elapsed >= minutes:
            break
        set_rate(opt, args.lr, elapsed / minutes if minutes else step / steps)
        lr, hr = batch(photos, batch_size, rng, args.optics, args.jpeg)
        loss = loss_of(predict(net, lr), hr)
        opt.zero_grad()
        loss.backward()
        opt.step()
        running += loss.item()
        step += 1
        if step % 50 == 0:
            print(f"step {step} {elapsed:.1f} min {args.loss.upper()} {running / 50:.3f}", flush=True)
            running = 0.0
        if pairs and step % args.validate_every == 0:
            print(f"step {step} {validate(net, pairs)}", flush=True)
        if step % args.save_every == 0:
            export(net, args.out)
    export(net, args.out)
    print(f"{step} steps in {(time.time() - start) / 60:.1f} min -> {args.out}", flush=True)


if __name__ == "__main__":
    main()
