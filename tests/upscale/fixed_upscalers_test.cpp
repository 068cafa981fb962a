// Fixed x2 upscalers, pixel replication and the mirrored border: small planes
// by hand, a ramp and a step on every instruction set, the mirror layout.
#include "resampling/fixed_upscalers.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/simd_targets.h"
#include "upscale/mirror_border.h"

using namespace kestrune;

namespace {

using Plane = std::vector<float>;

TEST(FixedUpscalers, SmallPlanesByHand) {
  // Source samples land on the even positions. Bilinear: means of two and of
  // four neighbours; bicubic: two-point means next to the borders. Both
  // repeat the last row and column; a single row or column is repeated.
  // Replication makes blocks of the factor's size.
  const struct {
    void (*up)(const float*, int, int, float*, int);
    int w, h, factor;
    Plane src, expect;
  } cases[] = {
      {UpscaleBilinear2, 1, 1, 2, {7}, {7, 7, 7, 7}},
      {UpscaleBilinear2, 3, 2, 2, {0, 2, 4, 10, 12, 14}, {0,  1,  2,  3,  4,  4,  5,  6,  7,  8,  9,  9,
                                                          10, 11, 12, 13, 14, 14, 10, 11, 12, 13, 14, 14}},
      {UpscaleBicubic2, 2, 2, 2, {1, 3, 5, 11}, {1, 2, 3, 3, 3, 5, 7, 7, 5, 8, 11, 11, 5, 8, 11, 11}},
      {UpscaleBicubic2, 1, 3, 2, {1, 2, 3}, {1, 1, 1.5f, 1.5f, 2, 2, 2.5f, 2.5f, 3, 3, 3, 3}},
      {UpscaleBicubic2, 3, 1, 2, {1, 2, 3}, {1, 1.5f, 2, 2.5f, 3, 3, 1, 1.5f, 2, 2.5f, 3, 3}},
      {UpscaleReplicate, 2, 1, 3, {1, 2}, {1, 1, 1, 2, 2, 2, 1, 1, 1, 2, 2, 2, 1, 1, 1, 2, 2, 2}},
      {UpscaleReplicate, 1, 2, 3, {1, 2}, {1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2}},
  };
  for (const auto& c : cases) {
    Plane dst(c.factor * c.factor * c.w * c.h, -1.0f);
    c.up(c.src.data(), c.w, c.h, dst.data(), c.factor);
    EXPECT_EQ(dst, c.expect) << c.w << "x" << c.h;
  }
}

TEST(UpscaleBicubic2, RampAndStepOnEveryInstructionSet) {
  ForEachSimdTarget([&](const std::string&) {
    const int w = 8, h = 8, W = 16;
    Plane src(w * h), dst(W * 2 * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) src[y * w + x] = float(3 * x + 2 * y);
    UpscaleBicubic2(src.data(), w, h, dst.data());
    // Exact away from the borders; the two-point averages are exact on a ramp too.
    for (int y = 0; y <= 2 * h - 2; ++y)
      for (int x = 0; x <= W - 2; ++x) EXPECT_EQ(dst[y * W + x], 1.5f * x + 1.0f * y) << x << "," << y;
    for (int y = 0; y < 2 * h; ++y) EXPECT_EQ(dst[y * W + W - 1], dst[y * W + W - 2]);

    // Step from 0 to 1 between source columns 3 and 4: 0.625 of the near pair
    // and -0.125 of the far pair overshoot on both sides.
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) src[y * w + x] = x >= 4 ? 1.0f : 0.0f;
    UpscaleBicubic2(src.data(), w, h, dst.data());
    const Plane row{0, 0, 0, 0, 0, -0.125f, 0, 0.5f, 1, 1.125f, 1, 1, 1, 1, 1, 1};
    for (int y = 0; y < 2 * h; ++y) EXPECT_EQ(Plane(&dst[y * W], &dst[y * W] + W), row) << y;
  });
}

TEST(UpscaleBicubic2, EveryInstructionSetGivesTheScalarPlane) {
  // Irregular samples whose double sums round differently in float, widths
  // that leave partial vectors and the narrowest widths of each path.
  for (const auto& [w, h] : {std::pair{37, 5}, std::pair{4, 4}, std::pair{5, 3}, std::pair{19, 9}}) {
    Plane src(w * h);
    for (int i = 0; i < w * h; ++i) src[i] = float((i * 7919) % 251) * 0.37f + float(i) * 0.013f;
    SCOPED_TRACE(testing::Message() << w << " x " << h);
    ExpectSameOnEveryTarget([&] {
      Plane dst(4 * w * h);
      UpscaleBicubic2(src.data(), w, h, dst.data());
      return dst;
    });
  }
}

TEST(PadMirror, LayoutAndCropRoundTrip) {
  // A border wider than the row folds back: -k reads k and 3+k reads 4-k,
  // period 7; the single row fills every row of the destination.
  const int w = 4, h = 1, p = 8, pw = w + 2 * p;
  Plane src{10, 11, 12, 13}, dst(pw * (h + 2 * p), -1.0f);
  PadMirror(src.data(), w, h, p, dst.data());
  const Plane expect{11, 10, 11, 12, 13, 13, 12, 11, 10, 11, 12, 13, 13, 12, 11, 10, 11, 12, 13, 13};
  for (int y = 0; y < h + 2 * p; ++y) EXPECT_EQ(Plane(&dst[y * pw], &dst[y * pw] + pw), expect) << y;
  // The corners are mirrored both ways: the top-left one reads (3, 3), the
  // bottom-right one (-3 from the end repeated: row 2, column 3). Cropping
  // gives the plane back; fewer rows leave the rest alone.
  const int w2 = 6, h2 = 5, p2 = 3, pw2 = w2 + 2 * p2, ph2 = h2 + 2 * p2;
  Plane plane(w2 * h2), padded(pw2 * ph2, -7.0f), back(w2 * h2, -1.0f);
  for (int i = 0; i < w2 * h2; ++i) plane[i] = float(i);
  PadMirror(plane.data(), w2, h2, p2, padded.data());
  EXPECT_EQ(padded[0], 21.0f);
  EXPECT_EQ(padded[pw2 * ph2 - 1], 15.0f);
  CropPadded(back.data(), w2, 2, p2, padded.data());
  for (int i = 0; i < w2 * h2; ++i) EXPECT_EQ(back[i], i < 2 * w2 ? plane[i] : -1.0f);
  CropPadded(back.data(), w2, h2, p2, padded.data());
  EXPECT_EQ(back, plane);
}

}  // namespace
