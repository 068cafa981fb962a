// The centred-grid observation model: a source pixel covers two by two
// estimate samples (source pixel (x, y) lies at estimate position
// (2x + 0.5, 2y + 0.5)), and the source is the estimate reduced by two with
// an antialiased bicubic, the way most programs halve a picture. The kernel
// is Keys' cubic convolution with a = -0.5 (Catmull-Rom), the one those
// reductions use and the only cubic convolution that reproduces quadratics,
// stretched by two: weights -3, -9, 29, 111, 111, 29, -9, -3 (/ 256) at
// distances 3.5 .. 0.5 from the pixel's centre, exact in binary and summing
// to exactly 1. Also what the enhancement needs around it on that grid: the
// residual's enlargement and the start moved from the sample-aligned grid.
#pragma once

#include "kestrune/upscale.h"

namespace kestrune {

// The kernel's taps over estimate samples 2x - 3 .. 2x + 4, in 256ths.
inline constexpr float kCentredTaps[8] = {-3, -9, 29, 111, 111, 29, -9, -3};

// src is W x H (both even, at least 4), dst (W/2) x (H/2); tmp holds at
// least (W/2) * H floats. Output x reads input samples 2x - 3 .. 2x + 4,
// mirrored about the edges between samples (-1 reads 0, W reads W - 1), as a
// picture's edge pixel continues past it. Sums are formed in double, taps in
// order, and stored as float; a flat plane stays exactly flat.
void DownsampleCentred(const float* src, int W, int H, float* dst, float* tmp);

// A W x H plane on the sample-aligned x2 grid (`in`, sample j at source
// position j / 2) resampled onto the centred grid (`out`, sample j at
// source position j / 2 - 1/4): half a sample up and left, by the mean of
// the two neighbours on each axis (`cubic` false: the centred bilinear
// enlargement when `in` is the aligned bilinear one) or by Catmull-Rom's
// half-way weights -1, 9, 9, -1 (/ 16), summed in double so that a flat
// plane stays exactly flat. Samples beyond the plane repeat its edge. in and
// out must not overlap.
void ShiftToCentredGrid(const float* in, int W, int H, float* out, bool cubic);

// The starting estimate on the centred grid for an initial method other
// than a loaded image: bilinear, the aligned one shifted by the mean (the
// centred bilinear enlargement); bicubic, the centred Catmull-Rom
// enlargement (as Resize makes it, with its weights exact: those of the
// reduction, doubled; summed in double); the edge-directed methods, their aligned
// result in `out` shifted with the cubic weights. `out` holds, for those,
// the aligned enlargement on entry; for the others it is written.
void StartOnCentredGrid(InitialMethod method, const float* const src[3], int w, int h, float* const out[3]);

// True when the start of `method` is made on the aligned grid and moved
// (the edge-directed ones); false when it is made on the centred grid.
bool StartsAligned(InitialMethod method);

}  // namespace kestrune
