// The split and fused passes of the hint search against whole ResizePlane
// calls: every sample must be the same, for every filter, for reductions and
// enlargements, for offsets and deviations that push windows over the edges,
// for widths that are no multiple of the SIMD width, on every instruction set.
#include "downscale/trial_reduction.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include <gtest/gtest.h>

#include "support/simd_targets.h"

using namespace kestrune;

namespace {

std::vector<float> TestPlane(uint32_t width, uint32_t height) {
  std::vector<float> plane(std::size_t{width} * height);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      plane[std::size_t{y} * width + x] = 128.0f + 90.0f * std::sin(0.37f * x + 0.11f * y * y) +
                                          ((x / 5 + y / 3) % 2 ? 30.0f : -30.0f);
  return plane;
}

struct Case {
  uint32_t srcW, srcH, dstW, dstH;
  int filter;
  float offX, offY, devX, devY, smoothness;
};

TEST(TrialReduction, PassesEqualResizePlane) {
  const Case cases[] = {
      {97, 61, 40, 25, 3, 0.0f, 0.0f, 0.0f, 0.0f, 0.8f},         // the default filter
      {97, 61, 40, 25, 0, -0.5f, 0.25f, 3.0f, -4.0f, 0.8f},      // box
      {97, 61, 40, 25, 1, 0.4f, -0.3f, -2.5f, 1.5f, 1.0f},       // bilinear
      {97, 61, 40, 25, 2, 0.1f, 0.1f, 0.0f, 8.0f, 2.0f},         // cubic B-spline
      {97, 61, 40, 25, 4, -0.25f, 0.0f, 1.0f, 0.0f, 0.5f},       // Lanczos-2
      {97, 61, 40, 25, 5, 0.0f, -0.5f, 0.0f, -6.0f, 0.8f},       // Lanczos-3
      {97, 61, 31, 17, 6, 0.3f, 0.2f, 2.0f, 2.0f, 0.8f},         // sinc, long windows
      {97, 61, 33, 20, 9, 0.0f, 0.0f, 0.0f, 21.0f, 0.8f},        // other type: Catmull-Rom
      {50, 40, 50, 40, 3, 0.5f, -0.5f, 0.0f, 0.0f, 1.0f},        // own size, shifted
      {13, 9, 29, 23, 5, 0.1f, 0.0f, -1.0f, 1.0f, 1.0f},         // enlargement
      {300, 7, 1, 1, 3, 0.0f, 0.0f, 64.0f, -32.0f, 0.8f},        // to one pixel
      {33, 50, 33, 1, 3, -0.5f, 0.0f, 0.0f, 32.0f, 0.8f},        // one row
      {1, 1, 3, 2, 3, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f},             // from one pixel
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.srcW << "x" << c.srcH << " -> " << c.dstW << "x" << c.dstH
                                      << " filter " << c.filter);
    const std::vector<float> src = TestPlane(c.srcW, c.srcH);
    // Whole ResizePlane calls with the offsets moved by (dx, dy), and the
    // set-ups of one pass.
    auto plain = [&](float dx, float dy) {
      std::vector<float> out(std::size_t{c.dstW} * c.dstH);
      ResizePlane(src.data(), c.srcW, c.srcH, out.data(), c.dstW, c.dstH, c.filter, c.offX + dx, c.offY + dy, c.devX,
                  c.devY, c.smoothness);
      return out;
    };
    const std::vector<float> expected = plain(0, 0), shiftedY = plain(0, 0.25f), shiftedX = plain(-0.125f, 0);
    Resampling::LinearResampler vertical, horizontal, shifted, moved;
    vertical.Configure(c.srcH, c.dstH, c.filter, c.offY, c.devY, c.smoothness);
    horizontal.Configure(c.srcW, c.dstW, c.filter, c.offX, c.devX, c.smoothness);
    shifted.Configure(c.srcH, c.dstH, c.filter, c.offY + 0.25f, c.devY, c.smoothness);
    moved.Configure(c.srcW, c.dstW, c.filter, c.offX - 0.125f, c.devX, c.smoothness);
    // Fused: the same vertical set-up between two others that differ in
    // offset, and one vertical set-up shared by two horizontal ones.
    const Resampling::LinearResampler* verticals[3] = {&shifted, &vertical, &shifted};
    const Resampling::LinearResampler* horizontals[3] = {&horizontal, &horizontal, &horizontal};
    const Resampling::LinearResampler* sameVertical[2] = {&vertical, &vertical};
    const Resampling::LinearResampler* twoHorizontals[2] = {&moved, &horizontal};
    std::vector<float> intermediate(InterleavedPlaneSize(c.srcW, c.dstH));
    std::vector<float> fused[3];
    float* planes[3];
    auto reset = [&] {
      for (int k = 0; k < 3; ++k) fused[k].assign(expected.size(), -1.0f), planes[k] = fused[k].data();
    };
    ForEachSimdTarget([&](const std::string&) {
      reset();
      ResampleColumns(src.data(), c.srcW, vertical, intermediate.data());
      ResampleRows(intermediate.data(), c.dstH, horizontal, planes[0]);
      EXPECT_EQ(fused[0], expected) << "split passes";

      reset();
      ReduceFused(src.data(), c.srcW, verticals, horizontals, 3, planes);
      EXPECT_EQ(fused[0], shiftedY) << "fused";
      EXPECT_EQ(fused[1], expected) << "fused";
      EXPECT_EQ(fused[2], shiftedY) << "fused";

      reset();
      ReduceFused(src.data(), c.srcW, sameVertical, twoHorizontals, 2, planes);
      EXPECT_EQ(fused[0], shiftedX) << "shared vertical";
      EXPECT_EQ(fused[1], expected) << "shared vertical";

      // Through an eight-row ring, copied out as the rows are reported done.
      std::vector<float> ring(std::size_t{c.dstW} * 8, -1.0f), copied(expected.size(), -1.0f);
      float* ringPlane[1] = {ring.data()};
      uint32_t next = 0;
      ReduceFused(src.data(), c.srcW, verticals + 1, horizontals, 1, ringPlane, [&](uint32_t done) {
        for (; next < done; ++next)
          std::copy_n(ring.data() + std::size_t{next % 8} * c.dstW, c.dstW, copied.data() + std::size_t{next} * c.dstW);
      }, 8);
      EXPECT_EQ(next, c.dstH);
      EXPECT_EQ(copied, expected) << "ring";
    });
  }
}

}  // namespace
