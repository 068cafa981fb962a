// MaxFilter2D: the maximum over the (2r+1) x (2r+1) square around each sample
// through one RunningMax fed column by column, with the border filled from
// the nearest interior result.
#include "upscale/max_filter.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "resampling/running_max.h"

namespace {

using Index = std::ptrdiff_t;

// GCC vector extensions; vectors never cross function boundaries.
#pragma GCC diagnostic ignored "-Wpsabi"
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define KESTRUNE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KESTRUNE_VECTOR_CLONES
#endif

typedef float Vec8 __attribute__((vector_size(32)));
typedef int Vec8i __attribute__((vector_size(32)));

inline Vec8 Load(const float* p) {
  Vec8 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store(float* p, Vec8 v) { std::memcpy(p, &v, sizeof v); }
inline Vec8 Max(Vec8 a, Vec8 b) { return a < b ? b : a; }

// The running maximum returns the true window maximum when no sample is NaN
// and none lies below `initial`; with no negative zero either, the plain
// separable maximum gives the same bits much faster.
KESTRUNE_VECTOR_CLONES
bool PlainMaximumApplies(const float* src, std::size_t count, float initial) {
  std::size_t i = 0;
  const Vec8 zero = {};
  Vec8i bad = {};
  for (; i + 8 <= count; i += 8) {
    const Vec8 v = Load(src + i);
    Vec8i sign;
    std::memcpy(&sign, &v, sizeof sign);
    bad |= ~(v >= initial) | ((v == zero) & (sign < 0));
    if ((i & 4095) == 0) {
      for (int k = 0; k < 8; ++k)
        if (bad[k]) return false;
    }
  }
  for (int k = 0; k < 8; ++k)
    if (bad[k]) return false;
  for (; i < count; ++i) {
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

KESTRUNE_VECTOR_CLONES
void SeparableMaximum(const float* src, float* dst, Index W, Index H, Index r) {
  // Columns: dst row y = maximum of source rows y-r..y+r.
  for (Index y = r; y < H - r; ++y) {
    float* d = dst + y * W;
    const float* first = src + (y - r) * W;
    Index x = 0;
    for (; x + 8 <= W; x += 8) {
      Vec8 m = Load(first + x);
      for (Index k = 1; k <= 2 * r; ++k) m = Max(m, Load(first + k * W + x));
      Store(d + x, m);
    }
    for (; x < W; ++x) {
      float m = first[x];
      for (Index k = 1; k <= 2 * r; ++k) m = std::max(m, first[k * W + x]);
      d[x] = m;
    }
  }
  // Rows: maximum of 2r+1 neighbours, through a copy of the row.
  std::vector<float> row(static_cast<std::size_t>(W));
  for (Index y = r; y < H - r; ++y) {
    float* d = dst + y * W;
    std::copy(d, d + W, row.begin());
    const float* s = row.data();
    Index x = r;
    for (; x + 8 <= W - r; x += 8) {
      Vec8 m = Load(s + x - r);
      for (Index i = 1; i <= 2 * r; ++i) m = Max(m, Load(s + x - r + i));
      Store(d + x, m);
    }
    for (; x < W - r; ++x) {
      float m = s[x - r];
      for (Index i = x - r + 1; i <= x + r; ++i) m = std::max(m, s[i]);
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
