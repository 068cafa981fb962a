// SharpnessMeasure: scores by hand, degenerate planes, every instruction set.
#include "downscale/sharpness_measure.h"

#include <random>
#include <utility>
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
  } cases[] = {// An isolated bright pixel: (a, b) = (0, 0), (0, -40), (-40, 0),
               // (40, 40); S1 = 160, S2 = 6400, n = 8: 8 * 6400 / 160^2.
               {3, 3, {10, 10, 10, 10, 50, 10, 10, 10, 10}, 2.0f},
               // (a, b) = (-3, 0), (0, 3), (3, -1); S1 = 10, S2 = 28, n = 6.
               {4, 2, {0, 3, 3, 0, 0, 0, 4, 0}, 1.68f},
               // Every |a| 1 and |b| 2 over m = 15 pixels: 2m * 5m / (3m)^2.
               {6, 4, ramp(1, 2), 10.0f / 9.0f},
               {6, 4, ramp(3, -3), 1.0f},  // equal magnitudes: the bound
                                           // a = 4097: its square is not a float and rounds down: the float below 2.
               {2, 2, {4097, 0, 4097, 0}, 2.0f - 0x1p-23f},
               // Nothing to compare, or no difference (0 / 1e-12).
               {5, 1, {0, 255, 0, 255, 7}, 0.0f},
               {1, 5, {0, 255, 0, 255, 7}, 0.0f},
               {1, 1, {7}, 0.0f},
               {4, 3, std::vector<float>(12, 99.5f), 0.0f}};
  ForEachSimdTarget([&](const std::string&) {
    for (const auto& c : cases) EXPECT_EQ(SharpnessMeasure(c.plane.data(), c.w, c.h), c.score) << c.w << "x" << c.h;
  });
}

TEST(SharpnessMeasure, BatchesOnEveryInstructionSetGiveTheScalarScores) {
  // Samples of very different magnitudes make the rounding of every sum
  // matter, so any change of order or precision would show.
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (const auto& [w, h] : {std::pair{2u, 2u}, {3u, 5u}, {17u, 4u}, {37u, 11u}, {64u, 9u}, {101u, 3u}}) {
    std::vector<std::vector<float>> planes(6, std::vector<float>(std::size_t{w} * h));
    const float* pointers[6];
    float scalar[6];
    for (int i = 0; i < 6; ++i) {
      for (float& v : planes[i]) v = unit(random) < 0.1f ? unit(random) * 3e5f : unit(random) * 1e-3f + 100.0f;
      pointers[i] = planes[i].data();
      scalar[i] = OnScalar([&] { return SharpnessMeasure(pointers[i], w, h); });
    }
    ForEachSimdTarget([&](const std::string&) {
      for (int count = 1; count <= 6; ++count) {
        float scores[6];
        SharpnessMeasureBatch(pointers, count, w, h, scores);
        for (int i = 0; i < count; ++i) EXPECT_EQ(scores[i], scalar[i]) << w << "x" << h << ", " << count;
      }
    });
  }
}

}  // namespace
