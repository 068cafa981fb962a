// HannSmooth: separable raised-cosine (Hann window) smoothing of a plane at a
// constant cost per sample, computed with a recursive phasor filter.
#pragma once

namespace kestrune {

// Rows of src into tmp, then columns of tmp into dst (src and dst may be the
// same plane). All planes are W x H, row-major.
void HannSmooth(const float* src, float* dst, int W, int H, int r, float* tmp);

// The same smoothing with every output formed as its own weighted sum of the
// 2r + 1 samples around it (same window, same mirror rule). Slower, and its
// roundings differ from HannSmooth's, but a sample depends on nothing beyond
// its window: the running sums above carry their rounding along a whole row
// or column, which tiles of one picture cannot reproduce.
void HannSmoothLocal(const float* src, float* dst, int W, int H, int r, float* tmp);

// The outputs of HannSmooth (HannSmoothLocal) at the odd rows and columns
// only, with the same bits: sample (2y+1, 2x+1) goes to dst[y * (W/2) + x].
// The column pass runs on the odd columns alone, so this costs about three
// quarters of the whole smoothing. tmp holds W/2 x H samples; src and dst
// may be the same plane.
void HannSmoothOdd(const float* src, float* dst, int W, int H, int r, float* tmp);
void HannSmoothLocalOdd(const float* src, float* dst, int W, int H, int r, float* tmp);

}  // namespace kestrune
