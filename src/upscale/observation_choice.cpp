// EdgeSteepness: a histogram of the steepness of every edge position, read
// in one thread (a few milliseconds on the rows it reads), so the choice is
// the same for any thread count.
#include "upscale/observation_choice.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrune {

namespace {

constexpr int kBins = 1024;
constexpr float kSpan = 40.0f;

// Adds the steepness of every neighbour pair of n samples at `line` (stride
// `step`) whose window spans more than kSpan.
void AddLine(const float* line, std::ptrdiff_t step, int n, std::vector<uint64_t>& histogram) {
  for (int x = 0; x + 1 < n; ++x) {
    float lo = line[std::ptrdiff_t(std::clamp(x - 3, 0, n - 1)) * step], hi = lo;
    for (int t = -2; t <= 4; ++t) {
      const float v = line[std::ptrdiff_t(std::clamp(x + t, 0, n - 1)) * step];
      lo = std::min(lo, v), hi = std::max(hi, v);
    }
    const float span = hi - lo;
    if (!(span > kSpan)) continue;
    const float d = std::fabs(line[std::ptrdiff_t(x + 1) * step] - line[std::ptrdiff_t(x) * step]);
    ++histogram[std::size_t(std::min(kBins - 1, int(d / span * kBins)))];
  }
}

}  // namespace

float EdgeSteepness(const float* const src[3], int w, int h) {
  const int rows = std::min(h, kChoiceRows);
  std::vector<float> luma(std::size_t(w) * std::size_t(std::max(rows, 0)));
  for (std::size_t i = 0; i < luma.size(); ++i)
    luma[i] = std::nearbyint(0.299f * src[0][i] + 0.587f * src[1][i] + 0.114f * src[2][i]);
  std::vector<uint64_t> histogram(kBins);
  for (int y = 0; y < rows; ++y) AddLine(luma.data() + std::size_t(y) * w, 1, w, histogram);
  for (int x = 0; x < w; ++x) AddLine(luma.data() + x, w, rows, histogram);
  uint64_t total = 0;
  for (uint64_t count : histogram) total += count;
  // The first bin at which 98 % of the positions lie at or below it.
  uint64_t below = 0;
  for (int b = 0; b < kBins; ++b) {
    below += histogram[std::size_t(b)];
    if (total > 0 && below * 50 >= total * 49) return float(b) / kBins;
  }
  return 0.0f;
}

SRParams ResolveObservation(const SRParams& params, const float* const src[3], int w, int h) {
  SRParams p = params;
  if (p.observation == Observation::kFromPicture)
    p.observation = EdgeSteepness(src, w, h) > kSharpEdges ? Observation::kCentred : Observation::kAligned;
  return p;
}

}  // namespace kestrune
