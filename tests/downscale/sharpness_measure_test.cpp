// SharpnessMeasure: scores worked out by hand, the degenerate planes.
#include "downscale/sharpness_measure.h"

#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <hwy/targets.h>

using namespace kestrune;

namespace {

TEST(SharpnessMeasure, IsolatedBrightPixel) {
  // Differences of the four pixels that have a right and a lower neighbour:
  // (0,0): a = 0, b = 0; (1,0): a = 0, b = -40; (0,1): a = -40, b = 0;
  // (1,1): a = 40, b = 40. S1 = 160, S2 = 6400, n = (2*3 - 2)(3 - 1) = 8,
  // score = 8 * 6400 / 160^2 = 2.
  const std::vector<float> plane = {10, 10, 10,  //
                                    10, 50, 10,  //
                                    10, 10, 10};
  EXPECT_FLOAT_EQ(SharpnessMeasure(plane.data(), 3, 3), 2.0f);
}

TEST(SharpnessMeasure, RectangularPlane) {
  // Row 0 against its right neighbours and row 1:
  // x=0: a = -3, b = 0; x=1: a = 0, b = 3; x=2: a = 3, b = -1.
  // S1 = 10, S2 = 28, n = (2*4 - 2)(2 - 1) = 6, score = 6 * 28 / 100.
  const std::vector<float> plane = {0, 3, 3, 0,  //
                                    0, 0, 4, 0};
  EXPECT_FLOAT_EQ(SharpnessMeasure(plane.data(), 4, 2), 1.68f);
}

TEST(SharpnessMeasure, EqualMagnitudesScoreOne) {
  // A ramp p = x + 2y: every |a| is 1 and every |b| is 2.
  // S1 = 3m, S2 = 5m over m = 5 * 3 pixels, n = 2m: score 10/9.
  std::vector<float> plane(6 * 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) plane[y * 6 + x] = static_cast<float>(x + 2 * y);
  EXPECT_FLOAT_EQ(SharpnessMeasure(plane.data(), 6, 4), 10.0f / 9.0f);
  // Same magnitude in both directions: exactly 1 (Cauchy-Schwarz bound).
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) plane[y * 6 + x] = static_cast<float>(3 * x - 3 * y);
  EXPECT_FLOAT_EQ(SharpnessMeasure(plane.data(), 6, 4), 1.0f);
}

TEST(SharpnessMeasure, SingleRowColumnAndFlatPlanesScoreZero) {
  const std::vector<float> line = {0, 255, 0, 255, 7};
  EXPECT_EQ(SharpnessMeasure(line.data(), 5, 1), 0.0f);
  EXPECT_EQ(SharpnessMeasure(line.data(), 1, 5), 0.0f);
  EXPECT_EQ(SharpnessMeasure(line.data(), 1, 1), 0.0f);
  const std::vector<float> flat(12, 99.5f);
  EXPECT_EQ(SharpnessMeasure(flat.data(), 4, 3), 0.0f);  // S1 = S2 = 0: 0 / 1e-12
}

TEST(SharpnessMeasure, SquaresAreSinglePrecision) {
  // One difference a = 4097 (b = 0): its square 16785409 is not a float and
  // rounds to 16785408, so the score is 2 * 16785408 / 4097^2, which rounds
  // to the float just below 2, not to 2.
  const std::vector<float> plane = {4097.0f, 0.0f,  //
                                    4097.0f, 0.0f};
  EXPECT_EQ(SharpnessMeasure(plane.data(), 2, 2), 2.0f - 0x1p-23f);
}

// The score read literally: one pixel after another, scalar.
float PlainScore(const std::vector<float>& p, uint32_t w, uint32_t h) {
  if (w < 2 || h < 2) return 0.0f;
  double s1 = 0.0, s2 = 0.0;
  for (uint32_t y = 0; y + 1 < h; ++y)
    for (uint32_t x = 0; x + 1 < w; ++x) {
      const float a = p[y * w + x] - p[y * w + x + 1];
      const float b = p[y * w + x] - p[(y + 1) * w + x];
      const float a2 = a * a, b2 = b * b;
      s1 += static_cast<double>(std::fabs(a)) + static_cast<double>(std::fabs(b));
      s2 += static_cast<double>(a2) + static_cast<double>(b2);
    }
  const double n = 2.0 * (w - 1.0) * (h - 1.0);
  return static_cast<float>(n * s2 / (s1 * s1 + static_cast<double>(1e-12f)));
}

TEST(SharpnessMeasure, BatchesAndEveryInstructionSetGiveThePlainScore) {
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
    for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
      SCOPED_TRACE(::testing::Message() << hwy::TargetName(target) << " " << w << "x" << h);
      hwy::SetSupportedTargetsForTest(target);
      const float* pointers[6];
      for (int i = 0; i < 6; ++i) pointers[i] = planes[i].data();
      for (int count = 1; count <= 6; ++count) {
        float scores[6];
        SharpnessMeasureBatch(pointers, count, w, h, scores);
        for (int i = 0; i < count; ++i) EXPECT_EQ(scores[i], PlainScore(planes[i], w, h)) << count;
      }
      EXPECT_EQ(SharpnessMeasure(pointers[0], w, h), PlainScore(planes[0], w, h));
    }
    hwy::SetSupportedTargetsForTest(0);
  }
}

}  // namespace
