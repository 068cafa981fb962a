// EdgeWeightMap: the edge-adaptive weights of the de-ringing regulariser.
// Gradient magnitude of the estimate over all eight neighbours and three
// colours, its 5 x 5 maximum, a light raised-cosine smoothing, then a linear
// ramp that saturates at 4.
#include "upscale/edge_weight_map.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "upscale/hann_smooth.h"
#include "upscale/max_filter.h"

namespace {
constexpr int kMaxRadius = 2;
constexpr int kSmoothRadius = 1;
constexpr float kScale = 0.008f;
constexpr double kSaturation = 3.0;
constexpr double kOutputFactor = 4.0;
}  // namespace

void EdgeWeightMap(const float* const x[3], int W, int H, float* const snapshot[3], float* scratch,
                   float* weights) {
  if (W <= 0 || H <= 0) return;
  using Index = std::ptrdiff_t;
  const Index w = W, h = H, count = w * h;
  for (int c = 0; c < 3; ++c) std::copy(x[c], x[c] + count, snapshot[c]);

  float* g = scratch;
  std::fill(g, g + count, 0.0f);
  for (Index y = 1; y + 1 < h; ++y)
    for (Index i = 1; i + 1 < w; ++i) {
      float sum = 0.0f;
      for (int c = 0; c < 3; ++c) {
        const float* p = snapshot[c] + y * w + i;
        const float v = *p;
        for (Index dy = -1; dy <= 1; ++dy)
          for (Index dx = -1; dx <= 1; ++dx) {
            if (dy == 0 && dx == 0) continue;
            const float d = v - p[dy * w + dx];
            sum += d * d;
          }
      }
      g[y * w + i] = std::sqrt(sum);
    }

  MaxFilter2D(g, weights, W, H, kMaxRadius, 0.0f);
  HannSmooth(weights, weights, W, H, kSmoothRadius, scratch);

  for (Index i = 0; i < count; ++i) {
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
}
