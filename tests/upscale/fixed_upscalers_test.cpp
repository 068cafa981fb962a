// Fixed x2 upscalers, pixel replication and the mirrored border: ramps,
// steps, small planes and the exact mirror layout.
#include "resampling/fixed_upscalers.h"

#include <vector>

#include <gtest/gtest.h>

#include "upscale/mirror_border.h"

using namespace kestrune;

namespace {

using Plane = std::vector<float>;

TEST(UpscaleBilinear2, OnePixelAndRamp) {
  Plane one{7.0f}, out(4, -1.0f);
  UpscaleBilinear2(one.data(), 1, 1, out.data());
  EXPECT_EQ(out, Plane(4, 7.0f));

  const int w = 5, h = 3;
  Plane src(w * h), dst(4 * w * h, -1.0f);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) src[y * w + x] = float(x);
  UpscaleBilinear2(src.data(), w, h, dst.data());
  for (int y = 0; y < 2 * h; ++y) {
    for (int j = 0; j <= 2 * w - 2; ++j) EXPECT_EQ(dst[y * 2 * w + j], j / 2.0f);
    EXPECT_EQ(dst[y * 2 * w + 2 * w - 1], float(w - 1));
  }
  // Vertical ramp: odd rows are the averages, the last row repeats.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) src[y * w + x] = float(10 * y);
  UpscaleBilinear2(src.data(), w, h, dst.data());
  for (int j = 0; j < 2 * w; ++j) {
    EXPECT_EQ(dst[1 * 2 * w + j], 5.0f);
    EXPECT_EQ(dst[3 * 2 * w + j], 15.0f);
    EXPECT_EQ(dst[5 * 2 * w + j], 20.0f);
  }
}

TEST(UpscaleBicubic2, TwoByTwoAverages) {
  Plane src{1, 3, 5, 11}, dst(16, -1.0f);
  UpscaleBicubic2(src.data(), 2, 2, dst.data());
  const Plane expect{1, 2, 3, 3,  //
                     3, 5, 7, 7,  //
                     5, 8, 11, 11,
                     5, 8, 11, 11};
  EXPECT_EQ(dst, expect);
}

TEST(UpscaleBicubic2, RampAndStep) {
  const int w = 8, h = 8, W = 16;
  Plane src(w * h), dst(W * 2 * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) src[y * w + x] = float(3 * x + 2 * y);
  UpscaleBicubic2(src.data(), w, h, dst.data());
  // Exact away from the borders; the two-point averages are exact on a ramp too.
  for (int y = 0; y <= 2 * h - 2; ++y)
    for (int x = 0; x <= W - 2; ++x) EXPECT_EQ(dst[y * W + x], 1.5f * x + 1.0f * y) << x << "," << y;
  for (int y = 0; y < 2 * h; ++y) EXPECT_EQ(dst[y * W + W - 1], dst[y * W + W - 2]);

  // Step from 0 to 1 between source columns 3 and 4.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) src[y * w + x] = x >= 4 ? 1.0f : 0.0f;
  UpscaleBicubic2(src.data(), w, h, dst.data());
  for (int y = 0; y < 2 * h; ++y) {
    const float* row = &dst[y * W];
    EXPECT_EQ(row[7], 0.5f);
    EXPECT_EQ(row[5], -0.125f);
    EXPECT_EQ(row[9], 1.125f);
    EXPECT_EQ(row[3], 0.0f);
    EXPECT_EQ(row[11], 1.0f);
  }
}

TEST(UpscaleBicubic2, SingleColumnOrRowRepeats) {
  Plane col{1, 2, 3}, dst(12, -1.0f);
  UpscaleBicubic2(col.data(), 1, 3, dst.data());
  EXPECT_EQ(dst, (Plane{1, 1, 1.5f, 1.5f, 2, 2, 2.5f, 2.5f, 3, 3, 3, 3}));
  Plane row{1, 2, 3};
  UpscaleBicubic2(row.data(), 3, 1, dst.data());
  EXPECT_EQ(dst, (Plane{1, 1.5f, 2, 2.5f, 3, 3, 1, 1.5f, 2, 2.5f, 3, 3}));
}

TEST(UpscaleReplicate, Blocks) {
  Plane src{1, 2, 3, 4, 5, 6}, dst(54, -1.0f);
  UpscaleReplicate(src.data(), 3, 2, dst.data(), 3);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(dst[y * 9 + x], src[(y / 3) * 3 + x / 3]);
}

TEST(PadMirror, FourWideRowWithWideBorder) {
  // A border wider than the row folds back: -k reads k and 3+k reads 4-k,
  // period 7; the single row fills every row of the destination.
  const int w = 4, h = 1, p = 8, pw = w + 2 * p;
  Plane src{10, 11, 12, 13}, dst(pw * (h + 2 * p), -1.0f);
  PadMirror(src.data(), w, h, p, dst.data());
  const Plane expect{11, 10, 11, 12, 13, 13, 12, 11, 10, 11, 12, 13, 13, 12, 11, 10, 11, 12, 13, 13};
  for (int y = 0; y < h + 2 * p; ++y) EXPECT_EQ(Plane(&dst[y * pw], &dst[y * pw] + pw), expect) << y;
}

TEST(PadMirror, LayoutAndCropRoundTrip) {
  // Every sample is written, corners too: the same mirror in both directions
  // (first row and column not repeated, last ones repeated).
  const int w = 6, h = 5, p = 3, pw = w + 2 * p, ph = h + 2 * p;
  Plane src(w * h), dst(pw * ph, -7.0f);
  for (int i = 0; i < w * h; ++i) src[i] = float(i);
  PadMirror(src.data(), w, h, p, dst.data());
  auto m = [](int i, int n) { return i < 0 ? -i : i >= n ? 2 * n - 1 - i : i; };
  for (int y = 0; y < ph; ++y)
    for (int x = 0; x < pw; ++x) EXPECT_EQ(dst[y * pw + x], src[m(y - p, h) * w + m(x - p, w)]) << x << "," << y;
  Plane back(w * h, 0.0f);
  CropPadded(back.data(), w, h, p, dst.data());
  EXPECT_EQ(back, src);
  // Cropping fewer rows leaves the rest alone.
  Plane part(w * h, -1.0f);
  CropPadded(part.data(), w, 2, p, dst.data());
  for (int i = 0; i < w * h; ++i) EXPECT_EQ(part[i], i < 2 * w ? src[i] : -1.0f);
}

}  // namespace
