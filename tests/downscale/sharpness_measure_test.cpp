// SharpnessMeasure: scores worked out by hand, the degenerate planes, and
// every instruction set against the scalar kernel.
#include "downscale/sharpness_measure.h"

#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "support/simd_targets.h"

using namespace kestrune;

namespace {

// n S2 / S1^2 over the differences a (to the right neighbour) and b (to the
// one below) of the n / 2 pixels that have both, worked out by hand.
TEST(SharpnessMeasure, ScoresWorkedOutByHand) {
  auto ramp = [](float dx, float dy) {
    std::vector<float> plane;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) plane.push_back(dx * float(x) + dy * float(y));
    return plane;
  };
  const struct {
    uint32_t w, h;
    std::vector<float> plane;
    float score;
  } cases[] = {
      // An isolated bright pixel: (a, b) = (0, 0), (0, -40), (-40, 0),
      // (40, 40); S1 = 160, S2 = 6400, n = 8: 8 * 6400 / 160^2.
      {3, 3, {10, 10, 10, 10, 50, 10, 10, 10, 10}, 2.0f},
      // (a, b) = (-3, 0), (0, 3), (3, -1); S1 = 10, S2 = 28, n = 6.
      {4, 2, {0, 3, 3, 0, 0, 0, 4, 0}, 1.68f},
      // Every |a| 1 and |b| 2 over m = 15 pixels: 2m * 5m / (3m)^2.
      {6, 4, ramp(1, 2), 10.0f / 9.0f},
      {6, 4, ramp(3, -3), 1.0f},  // equal magnitudes: the bound
      // a = 4097: its square is not a float and rounds down, so the score is
      // the float just below 2.
      {2, 2, {4097, 0, 4097, 0}, 2.0f - 0x1p-23f},
      // Nothing to compare, or no difference (0 / 1e-12).
      {5, 1, {0, 255, 0, 255, 7}, 0.0f},
      {1, 5, {0, 255, 0, 255, 7}, 0.0f},
      {1, 1, {7}, 0.0f},
      {4, 3, std::vector<float>(12, 99.5f), 0.0f},
  };
  ForEachSimdTarget([&](const std::string&) {
    for (const auto& c : cases) EXPECT_EQ(SharpnessMeasure(c.plane.data(), c.w, c.h), c.score) << c.w << "x" << c.h;
  });
}

TEST(SharpnessMeasure, BatchesOnEveryInstructionSetGiveTheScalarScores) {
  // Samples of very different magnitudes make the rounding of every sum
  // matter, so any change of order or precision would show.
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const uint32_t sizes[][2] = {{2, 2}, {3, 5}, {17, 4}, {37, 11}, {64, 9}, {101, 3}};
  for (const auto& size : sizes) {
    const uint32_t w = size[0], h = size[1];
    std::vector<std::vector<float>> planes(6, std::vector<float>(std::size_t{w} * h));
    for (auto& plane : planes)
      for (float& v : plane) v = unit(random) < 0.1f ? unit(random) * 3e5f : unit(random) * 1e-3f + 100.0f;
    const float* pointers[6];
    for (int i = 0; i < 6; ++i) pointers[i] = planes[i].data();
    float scalar[6];
    for (int i = 0; i < 6; ++i) scalar[i] = OnScalar([&] { return SharpnessMeasure(pointers[i], w, h); });
    ForEachSimdTarget([&](const std::string&) {
      SCOPED_TRACE(::testing::Message() << w << "x" << h);
      for (int count = 1; count <= 6; ++count) {
        float scores[6];
        SharpnessMeasureBatch(pointers, count, w, h, scores);
        for (int i = 0; i < count; ++i) EXPECT_EQ(scores[i], scalar[i]) << count;
      }
    });
  }
}

}  // namespace
