// MaxFilter2D: the maximum over the (2r+1) x (2r+1) square around each sample
// through one RunningMax fed column by column, with the border filled from
// the nearest interior result.
#include "upscale/max_filter.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "resampling/running_max.h"

namespace {

using Index = std::ptrdiff_t;

// The running maximum returns the true window maximum when no sample is NaN
// and none lies below `initial`; with no negative zero either, the plain
// separable maximum gives the same bits much faster.
bool PlainMaximumApplies(const float* src, std::size_t count, float initial) {
  for (std::size_t i = 0; i < count; ++i) {
    const float v = src[i];
    if (!(v >= initial) || (v == 0.0f && std::signbit(v))) return false;
  }
  return true;
}

void RunningMaximum(const float* src, float* dst, Index W, Index H, Index r, float initial) {
  const Index n = 2 * r + 1;
  RunningMax<float> window(static_cast<unsigned>(n * n), initial);
  for (Index x = r; x < W - r; ++x) {
    float m = initial;
    for (Index y = 0; y < n; ++y)
      for (Index i = x - r; i <= x + r; ++i) m = window.Push(src[y * W + i]);
    dst[r * W + x] = m;
    for (Index y = r + 1; y < H - r; ++y) {
      for (Index i = x - r; i <= x + r; ++i) m = window.Push(src[(y + r) * W + i]);
      dst[y * W + x] = m;
    }
  }
}

void SeparableMaximum(const float* src, float* dst, Index W, Index H, Index r) {
  // Columns: dst row y = maximum of source rows y-r..y+r.
  for (Index y = r; y < H - r; ++y) {
    float* d = dst + y * W;
    std::copy(src + (y - r) * W, src + (y - r + 1) * W, d);
    for (Index k = y - r + 1; k <= y + r; ++k) {
      const float* s = src + k * W;
      for (Index x = 0; x < W; ++x) d[x] = std::max(d[x], s[x]);
    }
  }
  // Rows: maximum of 2r+1 neighbours, through a copy of the row.
  std::vector<float> row(static_cast<std::size_t>(W));
  for (Index y = r; y < H - r; ++y) {
    float* d = dst + y * W;
    std::copy(d, d + W, row.begin());
    for (Index x = r; x < W - r; ++x) {
      float m = row[x - r];
      for (Index i = x - r + 1; i <= x + r; ++i) m = std::max(m, row[i]);
      d[x] = m;
    }
  }
}

}  // namespace

void MaxFilter2D(const float* src, float* dst, int width, int height, int radius, float initial) {
  if (width <= 0 || height <= 0) return;
  const Index W = width, H = height;
  // The window must fit inside the plane.
  const Index r = std::max<Index>(0, std::min<Index>({radius, (W - 1) / 2, (H - 1) / 2}));
  if (PlainMaximumApplies(src, static_cast<std::size_t>(W * H), initial))
    SeparableMaximum(src, dst, W, H, r);
  else
    RunningMaximum(src, dst, W, H, r, initial);
  // Border: the nearest interior result.
  for (Index y = 0; y < r; ++y) std::copy(dst + r * W, dst + (r + 1) * W, dst + y * W);
  for (Index y = H - r; y < H; ++y) std::copy(dst + (H - 1 - r) * W, dst + (H - r) * W, dst + y * W);
  for (Index y = 0; y < H; ++y) {
    float* d = dst + y * W;
    std::fill(d, d + r, d[r]);
    std::fill(d + W - r, d + W, d[W - 1 - r]);
  }
}
