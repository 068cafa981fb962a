// EdgeSteepness and ReducedScore read the first rows in one thread (a few
// milliseconds; the network's crops some more), so the choice is the same
// for any thread count.
#include "upscale/observation_choice.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "learned/source_choice.h"

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

// The luma of rows [0, rows), rounded to whole levels.
std::vector<float> RoundedLuma(const float* const src[3], int w, int rows) {
  std::vector<float> luma(std::size_t(w) * std::size_t(std::max(rows, 0)));
  for (std::size_t i = 0; i < luma.size(); ++i)
    luma[i] = std::nearbyint(0.299f * src[0][i] + 0.587f * src[1][i] + 0.114f * src[2][i]);
  return luma;
}

}  // namespace

double ReducedScore(const float* const src[3], int w, int h) {
  const int rows = std::min(h, kChoiceRows), across = w / kChoiceCrop, down = rows / kChoiceCrop;
  if (!SourceChoiceBuilt() || across < 1 || down < 1) return std::numeric_limits<double>::quiet_NaN();
  const std::vector<float> luma = RoundedLuma(src, w, rows);
  const auto corner = [&](int b) {
    return luma.data() + std::size_t(b / across) * kChoiceCrop * w + std::size_t(b % across) * kChoiceCrop;
  };
  std::vector<std::pair<double, int>> crops;  // (minus the crop's differences, its index)
  for (int b = 0; b < across * down; ++b) {
    const float* first = corner(b);
    double sum = 0.0;
    for (int i = 0; i < kChoiceCrop; ++i)
      for (int j = 0; j < kChoiceCrop; ++j) {
        const float* at = first + std::size_t(i) * w + j;
        if (j + 1 < kChoiceCrop) sum += std::fabs(at[1] - at[0]);
        if (i + 1 < kChoiceCrop) sum += std::fabs(at[w] - at[0]);
      }
    crops.emplace_back(-sum, b);
  }
  const std::size_t count = std::min<std::size_t>(crops.size(), kChoiceCrops);
  std::partial_sort(crops.begin(), crops.begin() + std::ptrdiff_t(count), crops.end());
  double score = 0.0;
  std::vector<float> crop(std::size_t(kChoiceCrop) * kChoiceCrop);
  for (std::size_t k = 0; k < count; ++k) {
    const float* first = corner(crops[k].second);
    for (int i = 0; i < kChoiceCrop; ++i)
      std::copy(first + std::size_t(i) * w, first + std::size_t(i) * w + kChoiceCrop,
                crop.data() + std::size_t(i) * kChoiceCrop);
    score += SourceChoiceScore(crop.data());
  }
  return score;
}

float EdgeSteepness(const float* const src[3], int w, int h) {
  const int rows = std::min(h, kChoiceRows);
  const std::vector<float> luma = RoundedLuma(src, w, rows);
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
  if (p.observation == Observation::kFromPicture) {
    const double score = ReducedScore(src, w, h);
    const bool reduced = std::isnan(score) ? EdgeSteepness(src, w, h) > kSharpEdges : score > 0.0;
    p.observation = reduced ? Observation::kCentred : Observation::kAligned;
  }
  return p;
}

}  // namespace kestrune
