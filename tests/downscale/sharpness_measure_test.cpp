// SharpnessMeasure: scores worked out by hand, the degenerate planes.
#include "downscale/sharpness_measure.h"

#include <vector>

#include <gtest/gtest.h>

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

}  // namespace
