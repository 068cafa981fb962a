// HannSmooth: separable raised-cosine (Hann window) smoothing of a plane at a
// constant cost per sample, computed with a recursive phasor filter.
#pragma once

#include <cstddef>

namespace kestrune {

// What the scalar and vector forms of the smoothing share.
namespace hann_smooth {

using Index = std::ptrdiff_t;

// Mirror rule: position -j reads j (the first sample is not repeated),
// position N-1+j reads N-j (the last sample is repeated).
inline Index Mirror(Index q, Index N) {
  if (q < 0) return -q;
  if (q >= N) return 2 * N - 1 - q;
  return q;
}

// The constants of one slide: the step's rotation (c2, s2), the entering
// sample's phasor (-c1, s1), the window radius and length.
struct Slide {
  double c1, s1, c2, s2;
  int r;
  float n;
};

// Output row i of y: row i, or with `odd` row i / 2 for odd i and none
// (nullptr) for even i.
inline float* OutputRow(float* y, Index i, Index stride, bool odd) {
  if (!odd) return y + i * stride;
  return (i & 1) ? y + (i >> 1) * stride : nullptr;
}

}  // namespace hann_smooth

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
