// Linear resampler: phase and tap counts, whole shifts, deviations, impulse
// responses and flat lines by hand; the block passes of ResizePlane and the
// hint search on every target and thread count against a plain two-pass reading.
#include "resampling/linear_resampler.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "resampling/resize_rows.h"
#include "support/simd_targets.h"

using namespace kestrune;

namespace {

using Plane = std::vector<float>;

Plane RandomPlane(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(0.0f, 255.0f);
  Plane p(n);
  for (float& v : p) v = value(rng);
  return p;
}

TEST(LinearResampler, PhaseAndTapCountsAndZeroLengths) {
  // in, out, filter, smoothness, phases, taps. 1000 -> 500: Q = 512 after nine
  // doublings, W = base width x 2 x smoothness; 3 -> 7: Q = 896, W fixed.
  const std::tuple<uint32_t, uint32_t, int, float, std::size_t, uint32_t> cases[] = {
      {1000, 500, FilterCatmullRom, 1.0f, 513, 8}, {1000, 500, FilterLanczos3, 1.0f, 513, 12},
      {3, 7, FilterCatmullRom, 1.0f, 897, 4},      {1000, 500, FilterCatmullRom, 0.8f, 513, 7},
      {1000, 1001, FilterBox, 1.0f, 1002, 1},      {5, 0, FilterCatmullRom, 1.0f, 1, 0}};
  Resampling::LinearResampler r;
  for (const auto& [in, out, type, smooth, phases, taps] : cases) {
    r.Configure(in, out, type, 0, 0, smooth);
    EXPECT_EQ(r.phaseWeights.size(), phases) << in << "->" << out;
    EXPECT_EQ(r.taps, taps) << in << "->" << out;
  }
  // No input: nothing is read and zeros are written.
  r.Configure(0, 3, FilterCatmullRom, 0, 0, 1.0f);
  Plane out(3, -1.0f);
  r.Resample(nullptr, out.data());
  EXPECT_EQ(out, Plane(3, 0.0f));
}

TEST(LinearResampler, WholeShiftsAreCopiesWithTheEdgesReplicated) {
  // Output o is input o + shift, clamped. Equal lengths copy (the single-
  // precision pi leaves tiny sinc weights); offset -2 puts output 0 on input
  // -2, taken as -3 with fraction 1 (phase Q); a deviation of 8 on 100
  // samples spans -4 .. 104, to 108 outputs a shift by 4.
  const struct {
    uint32_t in, out;
    int type;
    float offset, deviation;
    int shift;
    float tolerance;
  } cases[] = {{37, 37, FilterBox, 0, 0, 0, 0},          {37, 37, FilterBilinear, 0, 0, 0, 0},
               {37, 37, FilterCatmullRom, 0, 0, 0, 0},   {37, 37, FilterLanczos2, 0, 0, 0, 1e-3f},
               {37, 37, FilterLanczos3, 0, 0, 0, 1e-3f}, {37, 37, FilterSinc, 0, 0, 0, 1e-3f},
               {10, 10, FilterCatmullRom, -2, 0, -2, 0}, {100, 108, FilterCatmullRom, 0, 8, -4, 0}};
  Resampling::LinearResampler r;
  for (const auto& c : cases) {
    const Plane in = RandomPlane(c.in, c.in);
    Plane out(c.out);
    r.Configure(c.in, c.out, c.type, c.offset, c.deviation, 1.0f);
    r.Resample(in.data(), out.data());
    for (int o = 0; o < int(c.out); ++o)
      ASSERT_NEAR(out[o], in[std::clamp(o + c.shift, 0, int(c.in) - 1)], c.tolerance) << c.type << " at " << o;
  }
  // The same deviation to 100 outputs puts the first and last centres
  // 4.5 - 0.54 inside the extended extent: at -3.96 and 102.96.
  r.Configure(100, 100, FilterCatmullRom, 0, 8.0f, 1.0f);
  const float q = float(r.phaseWeights.size() - 1);
  EXPECT_EQ(r.outPhase[0], int(std::nearbyint(0.04f * q)));
  EXPECT_EQ(r.outStart[0] - r.phaseShift[r.outPhase[0]], -4);
  EXPECT_EQ(r.outStart[99] - r.phaseShift[r.outPhase[99]], 102);
  EXPECT_EQ(r.outPhase[99], int(q) - r.outPhase[0]);  // fractions 0.04 and 0.96
}

TEST(LinearResampler, ImpulseResponsesWorkedByHand) {
  // Equal lengths shifted by a half or a quarter sample: the outputs around an
  // impulse are its weights. Half-way: Catmull-Rom (-1, 9, 9, -1) / 16, the
  // B-spline (1, 23, 23, 1) / 48; a quarter: Catmull-Rom (-3, 29, 111, -9) /
  // 128. Unshifted, the B-spline blurs with (1, 4, 1) / 6.
  const struct {
    int type;
    float offset;
    double w[4];
  } cases[] = {{FilterCatmullRom, 0.5f, {-1 / 16.0, 9 / 16.0, 9 / 16.0, -1 / 16.0}},
               {FilterCubicBSpline, 0.5f, {1 / 48.0, 23 / 48.0, 23 / 48.0, 1 / 48.0}},
               {FilterCatmullRom, 0.25f, {-3 / 128.0, 29 / 128.0, 111 / 128.0, -9 / 128.0}},
               {FilterBilinear, 0.5f, {0, 0.5, 0.5, 0}},
               {FilterCubicBSpline, 0.0f, {0, 1 / 6.0, 4 / 6.0, 1 / 6.0}}};
  Plane impulse(21, 0.0f), out(21);
  impulse[10] = 1.0f;
  Resampling::LinearResampler r;
  for (const auto& c : cases) {
    r.Configure(21, 21, c.type, c.offset, 0, 1.0f);
    r.Resample(impulse.data(), out.data());
    for (int o = 0; o < 21; ++o)
      EXPECT_NEAR(out[o], o >= 8 && o <= 11 ? c.w[o - 8] : 0.0, 1e-6) << c.type << " output " << o;
  }
}

TEST(LinearResampler, FlatLinesStayFlat) {
  // Every filter and an unknown one, enlarging, reducing, with offsets,
  // deviations and smoothness (500 -> 3 sinc: only the phases in use filled).
  const struct {
    uint32_t in, out;
    int type;
    float offset, deviation, smooth;
  } cases[] = {{100, 30, FilterBox, -0.2f, 2.0f, 1.0f},
               {50, 71, FilterBilinear, 0.1f, -3.0f, 1.0f},
               {37, 37, FilterCubicBSpline, 0.3f, 0.0f, 1.37f},
               {1000, 500, FilterCatmullRom, 0.0f, 0.0f, 0.8f},
               {64, 29, FilterLanczos2, 0.25f, 1.5f, 1.0f},
               {400, 123, FilterLanczos3, -0.4f, 6.0f, 1.0f},
               {90, 200, FilterSinc, 0.0f, -2.0f, 0.5f},
               {500, 3, FilterSinc, 0.1f, 1.5f, 1.0f},
               {31, 45, 11, 0.2f, 0.5f, 2.0f}};
  for (const auto& c : cases) {
    Resampling::LinearResampler r;
    r.Configure(c.in, c.out, c.type, c.offset, c.deviation, c.smooth);
    const Plane flat(c.in, 100.0f);
    Plane out(c.out);
    r.Resample(flat.data(), out.data());
    for (uint32_t o = 0; o < c.out; ++o) ASSERT_NEAR(out[o], 100.0f, 2e-3f) << c.in << " -> " << c.out << ": " << o;
  }
}

// The plain two-pass reading: every column through v, then every row through h.
Plane TwoPass(const Plane& src, uint32_t sw, const Resampling::LinearResampler& v,
              const Resampling::LinearResampler& h) {
  const uint32_t sh = v.inLength, dh = v.outLength, dw = h.outLength;
  Plane column(sh), out(dh), mid(std::size_t(sw) * dh), dst(std::size_t(dw) * dh);
  for (uint32_t x = 0; x < sw; ++x) {
    for (uint32_t y = 0; y < sh; ++y) column[y] = src[std::size_t(y) * sw + x];
    v.Resample(column.data(), out.data());
    for (uint32_t y = 0; y < dh; ++y) mid[std::size_t(y) * sw + x] = out[y];
  }
  for (uint32_t y = 0; y < dh; ++y) h.Resample(mid.data() + std::size_t(y) * sw, dst.data() + std::size_t(y) * dw);
  return dst;
}

TEST(ResizeRows, EveryInstructionSetGivesThePlainTwoPassReading) {
  // One-sample sides, 1 x 1 targets, every vector tail, partial blocks,
  // windows beyond both edges, strong reductions, enlargements, every filter
  // and an unknown one; on any thread count, with blocks the threads share.
  const struct {
    uint32_t sw, sh, dw, dh;
    int type;
    float ox, oy, dx, dy, smooth;
  } cases[] = {
      {1, 1, 5, 3, FilterCatmullRom, 0.3f, -0.2f, 0, 0, 1.0f},
      {7, 5, 1, 1, FilterCatmullRom, 0, 0, 0, 0, 1.0f},
      {41, 9, 47, 17, FilterLanczos3, 0.25f, -0.125f, 1.5f, -0.75f, 1},
      {50, 40, 50, 40, 3, 0.5f, -0.5f, 0, 0, 1.0f},
      {403, 211, 201, 105, FilterCatmullRom, -0.1f, 0.4f, -2, 3, 1.0f},
      {300, 97, 611, 203, 4, 0.5f, 0, 0, 1, 0.8f},
      {1000, 9, 3, 25, FilterSinc, 0, 0, 0, 0, 1.0f},
      {3000, 2, 1, 2, FilterCatmullRom, 0, 0, 0, 0, 1},
      {300, 7, 1, 1, FilterCatmullRom, 0, 0, 64.0f, -32.0f, 0.8f},
      {39, 70, 13, 1, FilterBox, 0, 0.2f, 0, -1, 1.6f},
      {33, 20, 15, 31, FilterBilinear, -0.5f, 0.5f, 3.0f, 0, 2.0f},
      {20, 30, 9, 7, -1, 0.2f, 0.1f, 0, 0, 1.0f},
      {25, 12, 73, 8, FilterCubicBSpline, 0, 0, -1.0f, 2.0f, 0.5f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh << " type " << c.type);
    const Plane src = RandomPlane(std::size_t(c.sw) * c.sh, c.sw + c.dw);
    Resampling::LinearResampler vertical, horizontal, shifted, moved;
    vertical.Configure(c.sh, c.dh, c.type, c.oy, c.dy, c.smooth);
    horizontal.Configure(c.sw, c.dw, c.type, c.ox, c.dx, c.smooth);
    shifted.Configure(c.sh, c.dh, c.type, c.oy + 0.25f, c.dy, c.smooth);
    moved.Configure(c.sw, c.dw, c.type, c.ox - 0.125f, c.dx, c.smooth);
    const Plane expected[3] = {TwoPass(src, c.sw, shifted, horizontal), TwoPass(src, c.sw, vertical, horizontal),
                               TwoPass(src, c.sw, vertical, moved)};
    // Three resizes at once (two sharing a vertical set-up) through rings of
    // rows copied out as the rows are reported done.
    const Resampling::LinearResampler* verticals[3] = {&shifted, &vertical, &vertical};
    const Resampling::LinearResampler* horizontals[3] = {&horizontal, &horizontal, &moved};
    const std::ptrdiff_t ringRows = Resampling::kResizeBlockRows + 1, size = std::ptrdiff_t(c.dw) * c.dh;
    ForEachSimdTarget([&](const std::string&) {
      Plane dst(size, -1.0f), rings(c.dw * ringRows * 3, -1.0f), copied(size * 3, -1.0f);
      for (int threads : kThreadCountsToCompare) {
        ScopedThreadCount scope(threads);
        ResizePlane(src.data(), c.sw, c.sh, dst.data(), c.dw, c.dh, c.type, c.ox, c.oy, c.dx, c.dy, c.smooth);
        EXPECT_TRUE(SameBits(dst, expected[1])) << "ResizePlane on " << threads << " threads";
      }
      float* ring[3] = {rings.data(), rings.data() + c.dw * ringRows, rings.data() + 2 * c.dw * ringRows};
      std::ptrdiff_t next = 0;
      Resampling::ResizeRows(
          src.data(), c.sw, verticals, horizontals, 3, 0, c.dh, ring,
          [&](std::ptrdiff_t done) {
            for (; next < done; ++next)
              for (int i = 0; i < 3; ++i)
                std::copy_n(ring[i] + next % ringRows * c.dw, c.dw, copied.data() + i * size + next * c.dw);
          },
          ringRows);
      EXPECT_EQ(next, c.dh);
      for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(SameBits(Plane(copied.begin() + i * size, copied.begin() + (i + 1) * size), expected[i])) << i;
    });
  }
}

}  // namespace
