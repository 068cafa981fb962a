// EdgeWeightMap: the edge-adaptive weights of the de-ringing regulariser.
// Gradient magnitude of the estimate over all eight neighbours and three
// colours (mirrored beyond the plane), its 5 x 5 maximum, a light raised-cosine smoothing, then a linear
// ramp that saturates at 4.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "upscale/edge_weight_map.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>
#include "base/sweep-inl.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "base/simd.h"
#include "base/threading.h"
#include "resampling/hann_smooth.h"
#include "upscale/edge_weight_map.h"
#include "upscale/max_filter.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::edge_weight_map {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Sum of the 24 squared differences at columns 1..w-2 of row y (colour by
// colour, neighbour by neighbour, in single precision), into out[1..w-2].
void SquaredGradientRowHwy(const float* const* planes, Index w, Index y, float* out) {
  Index off[8];
  for (int k = 0; k < 8; ++k) off[k] = kNeighbours[k][0] * w + kNeighbours[k][1];
  auto samples = [&](auto d, Index i) {
    auto sum = hn::Zero(d);
    for (int c = 0; c < 3; ++c) {
      const float* p = planes[c] + y * w + i;
      const auto v = hn::LoadU(d, p);
      for (int k = 0; k < 8; ++k) {
        const auto diff = hn::Sub(v, hn::LoadU(d, p + off[k]));
        sum = hn::Add(sum, hn::Mul(diff, diff));
      }
    }
    hn::StoreU(sum, d, out + i);
  };
  kestrune::HWY_NAMESPACE::Sweep(hn::ScalableTag<float>(), Index{1}, w - 1, samples);
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::edge_weight_map
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune {

namespace edge_weight_map {
HWY_EXPORT(SquaredGradientRowHwy);
}  // namespace edge_weight_map

namespace {

using edge_weight_map::Index;
using edge_weight_map::kNeighbours;

// The same sum at (y, i) with the neighbours beyond the plane read mirrored
// about its first and last samples.
float SquaredGradientMirrored(const float* const planes[3], Index w, Index h, Index y, Index i) {
  auto mirror = [](Index j, Index n) { return n == 1 ? 0 : j < 0 ? -j : j >= n ? 2 * (n - 1) - j : j; };
  float sum = 0.0f;
  for (int c = 0; c < 3; ++c) {
    const float v = planes[c][y * w + i];
    for (int k = 0; k < 8; ++k) {
      const float d = v - planes[c][mirror(y + kNeighbours[k][0], h) * w + mirror(i + kNeighbours[k][1], w)];
      sum = sum + d * d;
    }
  }
  return sum;
}

constexpr int kMaxRadius = 2;
constexpr int kSmoothRadius = 1;
constexpr float kScale = 0.008f;
constexpr double kSaturation = 3.0;
constexpr double kOutputFactor = 4.0;
}  // namespace

void EdgeWeightMap(const float* const x[3], int W, int H, float* const snapshot[3], float* scratch, float* weights,
                   bool localSmoothing) {
  if (W <= 0 || H <= 0) return;
  const Index w = W, h = H;
  const Index grain = RowGrain(w);
  // Every step below works row by row (or sample by sample) without reading
  // what another row of the same step writes, so rows are shared out.
  ParallelFor(0, h, grain, [&](Index y0, Index y1) {
    for (int c = 0; c < 3; ++c) std::copy(x[c] + y0 * w, x[c] + y1 * w, snapshot[c] + y0 * w);
  });

  float* g = scratch;
  const float* const snap[3] = {snapshot[0], snapshot[1], snapshot[2]};
  ParallelFor(0, h, grain, [&](Index y0, Index y1) {
    for (Index y = y0; y < y1; ++y) {
      float* row = g + y * w;
      // The scalar form reads every sample mirrored: inside the plane that
      // is the plain read.
      const bool inner = y > 0 && y + 1 < h && !simd::ScalarKernels();
      if (inner) HWY_DYNAMIC_DISPATCH(edge_weight_map::SquaredGradientRowHwy)(snap, w, y, row);
      for (Index i = 0; i < w; ++i) {
        if (!inner || i == 0 || i + 1 == w) row[i] = SquaredGradientMirrored(snap, w, h, y, i);
        row[i] = std::sqrt(row[i]);
      }
    }
  });

  MaxFilter2D(g, weights, W, H, kMaxRadius, 0.0f);
  (localSmoothing ? HannSmoothLocal : HannSmooth)(weights, weights, W, H, kSmoothRadius, scratch);

  ParallelFor(0, h, grain, [&](Index y0, Index y1) {
    for (Index i = y0 * w; i < y1 * w; ++i) {
      const double t = double(kScale) * double(weights[i]);
      double weight;
      if (t <= 0.0)
        weight = 0.0;
      else if (t >= kSaturation)
        weight = 1.0;
      else
        weight = t / kSaturation;
      weights[i] = static_cast<float>(kOutputFactor * weight);
    }
  });
}

}  // namespace kestrune
#endif  // HWY_ONCE
