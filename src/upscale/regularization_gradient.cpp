// RegularizationGradient: for each of the eight neighbour shifts d, the
// sign S(q) = sign(x(q) - x(q + d)) and the divergence a_d (S(p) - S(p - d))
// added to every pixel p, with a_d = 0.5^|d|. Beyond the plane x is read
// mirrored about its first and last samples, the continuation the
// downsampling model assumes, so a border pixel is pulled by the same rule as
// any other instead of by signs left over from other shifts.
//
// A pixel's gradient depends on its 3 x 3 neighbourhood alone, with its
// eight terms added in shift order: one pass over the plane, rows shared out
// among the threads, the interior of a row as many pixels at a time as a
// Highway vector holds (or one at a time in the scalar form).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "upscale/regularization_gradient.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>
#include "base/sweep-inl.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "base/sample_buffer.h"
#include "base/simd.h"
#include "base/threading.h"
#include "upscale/estimate_update.h"
#include "upscale/regularization_gradient.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::regularization_gradient {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// sign(e): 1 for e > 0, 0 for e = 0, -1 otherwise (NaN included).
template <class D>
HWY_INLINE hn::Vec<D> Sign(D d, hn::Vec<D> e) {
  const auto zero = hn::Zero(d);
  return hn::IfThenZeroElse(hn::Eq(e, zero), hn::IfThenElse(hn::Gt(e, zero), hn::Set(d, 1.0f), hn::Set(d, -1.0f)));
}

// Columns [c0, c1) of an interior row (all neighbours inside the plane).
void InteriorRowHwy(const float* row, Index W, const float* a, Index c0, Index c1, float* r) {
  Index off[8];
  for (int k = 0; k < 8; ++k) off[k] = kShifts[k][0] * W + kShifts[k][1];
  auto pixels = [&](auto d, Index c) {
    const auto centre = hn::LoadU(d, row + c);
    auto sum = hn::Zero(d);
    for (int k = 0; k < 8; ++k) {
      const auto s = Sign(d, hn::Sub(centre, hn::LoadU(d, row + c + off[k])));
      const auto t = Sign(d, hn::Sub(hn::LoadU(d, row + c - off[k]), centre));
      sum = hn::Add(sum, hn::Mul(hn::Set(d, a[k]), hn::Sub(s, t)));
    }
    hn::StoreU(sum, d, r + c);
  };
  kestrune::HWY_NAMESPACE::Sweep(hn::ScalableTag<float>(), c0, c1, pixels);
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::regularization_gradient
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune {

namespace regularization_gradient {
HWY_EXPORT(InteriorRowHwy);
}  // namespace regularization_gradient

namespace {

using regularization_gradient::Index;
using regularization_gradient::kShifts;

// sign(e): 1 for e > 0, 0 for e = 0, -1 otherwise (NaN included).
inline float Sign(float e) { return e > 0.0f ? 1.0f : e == 0.0f ? 0.0f : -1.0f; }

// Whole-sample mirror of index i into 0 .. n-1 (i lies within one step).
inline Index Mirror(Index i, Index n) { return n == 1 ? 0 : i < 0 ? -i : i >= n ? 2 * (n - 1) - i : i; }

struct Plane {
  const float* x;
  Index W, H;
  float a[8];  // 0.5^|d| per shift

  float At(Index y, Index c) const { return x[Mirror(y, H) * W + Mirror(c, W)]; }

  // The gradient at pixel (y, c) with mirrored reads, in the vector order.
  float Pixel(Index y, Index c) const {
    const float centre = At(y, c);
    float r = 0.0f;
    for (int k = 0; k < 8; ++k) {
      const float s = Sign(centre - At(y + kShifts[k][0], c + kShifts[k][1]));
      const float t = Sign(At(y - kShifts[k][0], c - kShifts[k][1]) - centre);
      r = r + a[k] * (s - t);
    }
    return r;
  }
};

// Row y of r: the interior columns of an interior row by the vector kernel,
// everything else (and every column in the scalar form) pixel by pixel.
void GradientRow(const Plane& p, Index y, float* r) {
  const Index W = p.W;
  if (y > 0 && y + 1 < p.H && W > 2 && !simd::ScalarKernels()) {
    r[0] = p.Pixel(y, 0);
    HWY_DYNAMIC_DISPATCH(regularization_gradient::InteriorRowHwy)(p.x + y * W, W, p.a, 1, W - 1, r);
    r[W - 1] = p.Pixel(y, W - 1);
    return;
  }
  for (Index c = 0; c < W; ++c) r[c] = p.Pixel(y, c);
}

Plane MakePlane(const float* x, int W, int H) {
  Plane p{x, W, H, {}};
  for (int k = 0; k < 8; ++k) {
    const int dy = kShifts[k][0], dx = kShifts[k][1];
    p.a[k] = static_cast<float>(std::pow(0.5, std::sqrt(double(dy * dy + dx * dx))));
  }
  return p;
}

}  // namespace

void RegularizationGradient(const float* x, int W, int H, float* r) {
  if (W <= 0 || H <= 0) return;
  const Plane p = MakePlane(x, W, H);
  ParallelFor(0, H, RowGrain(W), [&](Index y0, Index y1) {
    for (Index y = y0; y < y1; ++y) GradientRow(p, y, r + y * p.W);
  });
}

void RegularizedUpdate(float* x, int W, int H, const float* e, const float* v, float beta, float lambda) {
  if (W <= 0 || H <= 0) return;
  const Plane p = MakePlane(x, W, H);
  // The threads take bands of rows. The first and last rows of a band read
  // rows of the bands beside it, so their gradients are all taken before any
  // band changes a row; inside a band, row y - 1 is updated as soon as the
  // gradient of row y, the last to read it, has been taken.
  constexpr Index kBand = 32;
  const Index bands = (H + kBand - 1) / kBand;
  SampleBuffer edges(std::size_t(2 * bands) * std::size_t(W));
  auto edge = [&](Index b, int last) { return edges.data() + (2 * b + last) * Index{W}; };
  auto band = [&](Index b) { return std::pair{b * kBand, std::min<Index>(H, (b + 1) * kBand)}; };
  ParallelFor(0, bands, 1, [&](Index b0, Index b1) {
    for (Index b = b0; b < b1; ++b) {
      const auto [y0, y1] = band(b);
      GradientRow(p, y0, edge(b, 0));
      if (y1 - 1 > y0) GradientRow(p, y1 - 1, edge(b, 1));
    }
  });
  ParallelFor(0, bands, 1, [&](Index b0, Index b1) {
    std::vector<float> ring(std::size_t(2) * std::size_t(W));
    auto update = [&](Index y, const float* r) {
      const Index at = y * W;
      UpdateEstimate(x + at, e + at, r, v != nullptr ? v + at : nullptr, beta, lambda, 0, W);
    };
    for (Index b = b0; b < b1; ++b) {
      const auto [y0, y1] = band(b);
      const float* pending = edge(b, 0);
      for (Index y = y0 + 1; y < y1; ++y) {
        float* gradient = y == y1 - 1 ? edge(b, 1) : ring.data() + (y & 1) * W;
        if (y != y1 - 1) GradientRow(p, y, gradient);
        update(y - 1, pending);
        pending = gradient;
      }
      update(y1 - 1, pending);
    }
  });
}

}  // namespace kestrune
#endif  // HWY_ONCE
