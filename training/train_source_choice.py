#!/usr/bin/python3
"""Trains the network that tells a reduced picture from a camera one, and writes it as ONNX.

`--source-model auto` asks it which observation model a picture fits: the
camera model (optics-like blur, then every second sample) or the reduced one
(the antialiased bicubic reduction by two on the centred grid). The network
sees the luma only through its differences to the right and downward
neighbours, rounded to whole levels as an 8-bit picture holds them; its
3 x 3 convolutions are unpadded, without bias terms, ReLU between them, and
a 1 x 1 convolution ends it with one score per position. Kestrune sums the
scores over a few edge-rich crops: above zero, the picture is taken as
reduced. Without bias terms a flat region scores exactly zero and the sign
of a crop's sum does not change with the picture's contrast, so the edges
decide, each by its shape, not by its strength of contrast alone.

Training pairs are cut from the photographs marked `train` in
training/photos.txt (made smaller by 2 or 3 first, as for the learned start),
every crop degraded both ways:
  - camera: Gaussian blur, sigma 0.6 .. 1.0 (mostly near 0.8), every second
    sample;
  - reduced: Keys' cubic (a = -0.5) stretched by two, centred between two
    samples, every second pair;
scaled by a contrast of 0.4 .. 1 and rounded to whole levels; a share of the
pairs (--jpeg, none by default) is then saved as JPEG at one quality of
70 .. 95 for both and read back, as train_learned_start.py does, since
compression's loss of fine detail otherwise reads as the softer reduction.
The loss is the logistic one of each crop's mean score.

  training/train_source_choice.py --photos ROOT --out training/source_choice.onnx --minutes 15
  training/train_source_choice.py --smoke --out /tmp/smoke.onnx   # made-up images, a few steps

Needs what train_learned_start.py needs.
"""
import os
import sys
import time

import torch
import torch.nn as nn
import torch.nn.functional as F

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from train_learned_start import (differences, export, gaussian_taps, jpeg, keys, onnx_weights,  # noqa: E402
                                 random_crop, set_rate, training_arguments, training_setup)

CHANNELS = 16
LAYERS = 4  # 3 x 3 convolutions
PATCH = 64  # source samples per side of a training crop
EDGE = 4  # original samples around the crop for the reductions' filters


class SourceChoice(nn.Module):
    def __init__(self, channels=CHANNELS, layers=LAYERS):
        super().__init__()
        sizes = [2] + [channels] * layers
        self.convs = nn.ModuleList(nn.Conv2d(a, b, 3, bias=False) for a, b in zip(sizes[:-1], sizes[1:]))
        self.score = nn.Conv2d(channels, 1, 1, bias=False)

    def forward(self, diffs):
        x = diffs
        for conv in self.convs:
            x = F.relu(conv(x))
        return self.score(x)


CENTRED = torch.tensor([keys((t - 0.5) / 2.0) for t in range(-3, 5)], dtype=torch.float32)
CENTRED = CENTRED / CENTRED.sum()


def reduce(hr, taps, offset):
    """Separable filter then every second sample: source sample i reads the
    crop from EDGE + 2i + offset on."""
    k = taps.view(1, 1, 1, -1)
    x = F.conv2d(hr, k)
    x = F.conv2d(x, k.transpose(2, 3))
    return x[:, :, offset::2, offset::2][:, :, :PATCH, :PATCH]


def batch(photos, n, rng, jpeg_share=0.0):
    side = 2 * PATCH + 2 * EDGE
    lrs, labels = [], []
    for _ in range(n):
        crop = random_crop(photos, side, rng) * rng.uniform(0.4, 1.0)
        sigma = min(max(rng.gauss(0.8, 0.1), 0.6), 1.0)
        # Gaussian taps reach EDGE each way: output i is crop sample 2i + EDGE.
        pair = [reduce(crop, gaussian_taps(sigma), 0),
                # The centred taps cover 2i - 3 .. 2i + 4 around crop sample 2i + EDGE.
                reduce(crop, CENTRED, EDGE - 3 - 0)]
        if jpeg_share and rng.random() < jpeg_share:  # no draw without JPEG: the older runs stay as they were
            quality = rng.randint(70, 95)
            pair = [jpeg(lr, quality) for lr in pair]
        lrs += pair
        labels += [0.0, 1.0]
    return torch.round(torch.cat(lrs)), torch.tensor(labels)


def embed(net, weights):
    """Starts `net` as the network of `weights`, which may have fewer channels
    or layers: its channels come first, the added ones start with small
    weights in and none out, and each added layer passes the channels on
    (after a ReLU they are not negative), so the scores start as that
    network's, but for the border each added layer trims."""
    old_layers = sum(1 for k in weights if k.startswith("convs."))
    with torch.no_grad():
        for k, conv in enumerate(net.convs):
            w = conv.weight
            w.mul_(0.1)
            if k < old_layers:
                o = weights[f"convs.{k}.weight"]
                w[:, o.shape[1]:] = 0 if k > 0 else w[:, o.shape[1]:]
                w[:o.shape[0], :] = 0
                w[:o.shape[0], :o.shape[1]] = o
            else:
                n = weights["score.weight"].shape[1]
                w[:n, :] = 0
                w[:n, :n, 1, 1] = torch.eye(n)
        o = weights["score.weight"]
        net.score.weight.zero_()
        net.score.weight[:, :o.shape[1]] = o


def main():
    ap = training_arguments(__doc__, "crops per step, each degraded both ways")
    ap.add_argument("--init", help="an ONNX file of this network (or one with fewer channels or layers) to go on from")
    ap.add_argument("--channels", type=int, default=CHANNELS)
    ap.add_argument("--layers", type=int, default=LAYERS)
    ap.add_argument("--jpeg", type=float, default=0.0, help="share of the pairs saved as JPEG (quality 70 .. 95)")
    args = ap.parse_args()
    photos, steps, minutes, batch_size, rng = training_setup(args)

    net = SourceChoice(args.channels, args.layers)
    if args.init:
        embed(net, onnx_weights(args.init))
    opt = torch.optim.Adam(net.parameters(), lr=args.lr)
    start = time.time()
    running, right, seen, step = 0.0, 0, 0, 0
    while step < steps:
        elapsed = (time.time() - start) / 60
        if minutes and elapsed >= minutes:
            break
        set_rate(opt, args.lr, elapsed / minutes if minutes else step / steps)
        lr, labels = batch(photos, batch_size, rng, args.jpeg)
        # Contrast scales the scores: the loss sees them per unit of the
        # crop's mean difference, so that faint crops count as much.
        d = differences(lr)
        scale = d.abs().mean(dim=(1, 2, 3)).clamp(min=0.5)
        logits = net(d).mean(dim=(1, 2, 3)) / scale
        loss = F.binary_cross_entropy_with_logits(logits, labels)
        opt.zero_grad()
        loss.backward()
        opt.step()
        running += loss.item()
        right += int(((logits > 0).float() == labels).sum())
        seen += len(labels)
        step += 1
        if step % 100 == 0:
            print(f"step {step} {elapsed:.1f} min loss {running / 100:.3f} right {right / seen:.3f}", flush=True)
            running, right, seen = 0.0, 0, 0
        if step % args.save_every == 0:
            export(net, args.out, 32, "scores")
    export(net, args.out, 32, "scores")
    print(f"{step} steps in {(time.time() - start) / 60:.1f} min -> {args.out}", flush=True)


if __name__ == "__main__":
    main()
