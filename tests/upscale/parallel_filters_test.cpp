// The plane filters of the enhancement give the same bits for any thread
// count: HannSmooth (row groups and column bands), MaxFilter2D (both of its
// forms) and EdgeWeightMap.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "image/test_chart.h"
#include "support/thread_count.h"
#include "upscale/edge_weight_map.h"
#include "resampling/hann_smooth.h"
#include "upscale/max_filter.h"

using namespace kestrune;

namespace {

constexpr int kW = 413, kH = 301;  // odd sizes: partial row groups and bands

std::vector<float> ChartPlane(int c) {
  const FloatImage image = RenderTestChart(kW, kH);
  return std::vector<float>(image.samples(c), image.samples(c) + std::size_t(kW) * kH);
}

TEST(ParallelFilters, HannSmoothInPlaceAndApart) {
  const std::vector<float> src = ChartPlane(0);
  for (int radius : {1, 6, 40}) {
    ExpectSameForAnyThreadCount([&] {
      std::vector<float> dst(src.size()), tmp(src.size());
      HannSmooth(src.data(), dst.data(), kW, kH, radius, tmp.data());
      return dst;
    });
    ExpectSameForAnyThreadCount([&] {
      std::vector<float> plane = src, tmp(src.size());
      HannSmooth(plane.data(), plane.data(), kW, kH, radius, tmp.data());
      return plane;
    });
  }
}

TEST(ParallelFilters, MaxFilterBothForms) {
  std::vector<float> src = ChartPlane(1);
  for (int pass = 0; pass < 2; ++pass) {
    // Second pass: a sample below `initial` sends the filter to its running
    // form.
    if (pass == 1) src[std::size_t(kW) * 150 + 200] = -1.0f;
    ExpectSameForAnyThreadCount([&] {
      std::vector<float> dst(src.size());
      MaxFilter2D(src.data(), dst.data(), kW, kH, 2, 0.0f);
      return dst;
    });
  }
  // The split forms still compute the window maximum: a single bright
  // sample becomes a 5 x 5 square.
  std::vector<float> dot(std::size_t(kW) * kH, 1.0f), dst(dot.size());
  dot[std::size_t(kW) * 100 + 50] = 9.0f;
  ScopedThreadCount scope(5);
  MaxFilter2D(dot.data(), dst.data(), kW, kH, 2, 0.0f);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      ASSERT_EQ(dst[std::size_t(y) * kW + x], std::abs(y - 100) <= 2 && std::abs(x - 50) <= 2 ? 9.0f : 1.0f)
          << x << ", " << y;
}

TEST(ParallelFilters, EdgeWeightMap) {
  const std::vector<float> r = ChartPlane(0), g = ChartPlane(1), b = ChartPlane(2);
  ExpectSameForAnyThreadCount([&] {
    const float* const x[3] = {r.data(), g.data(), b.data()};
    std::vector<float> s0(r.size()), s1(r.size()), s2(r.size()), scratch(r.size()), weights(r.size());
    float* const snapshot[3] = {s0.data(), s1.data(), s2.data()};
    EdgeWeightMap(x, kW, kH, snapshot, scratch.data(), weights.data());
    EXPECT_TRUE(SameBits(s0, r) && SameBits(s1, g) && SameBits(s2, b));
    return weights;
  });
}

}  // namespace
