// Tests of the edge-directed x2 resampler: the bicubic fall-backs, flat
// images, Apply against a plain reading (the border frame included) and
// every instruction set against the scalar kernels, a 45-degree edge, reuse
// of the stored weights, small or extreme inputs and any thread count.
#include "resampling/edge_dir_resampler.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "resampling/fixed_upscalers.h"
#include "resampling/rgb_planes.h"
#include "support/simd_targets.h"

using namespace kestrune;

namespace {

using Resampling::EdgeDirResampler;

Planes Chart(int w, int h, uint32_t seed = 3) { return ChartPlanes(w, h, seed); }

Planes Bicubic(const Planes& in) {
  Planes out(2 * in.w, 2 * in.h);
  for (int c = 0; c < 3; ++c) UpscaleBicubic2(in.p[c].data(), in.w, in.h, out.p[c].data());
  return out;
}

Planes Apply(const EdgeDirResampler& r, const Planes& in) {
  Planes out(2 * in.w, 2 * in.h);
  r.Apply(in.p[0].data(), in.p[1].data(), in.p[2].data(), out.p[0].data(), out.p[1].data(), out.p[2].data());
  return out;
}

// Sizes `r` for `in`, analyses it with `iterations` and returns its Apply.
Planes Analyze(EdgeDirResampler& r, const Planes& in, unsigned iterations, const Planes* guide = nullptr) {
  r.SetSize(in.w, in.h);
  r.Analyze(in.p[0].data(), in.p[1].data(), in.p[2].data(), guide ? guide->p[0].data() : nullptr,
            guide ? guide->p[1].data() : nullptr, guide ? guide->p[2].data() : nullptr, iterations);
  return Apply(r, in);
}

TEST(EdgeDirResampler, WithoutWeightsApplyIsTheBicubicEnlargement) {
  const Planes in = Chart(37, 29);
  const Planes bicubic = Bicubic(in);

  EdgeDirResampler fresh;  // sized, never analysed
  fresh.SetSize(in.w, in.h);
  EXPECT_TRUE(Apply(fresh, in) == bicubic);

  EdgeDirResampler none;  // analysed with zero iterations
  EXPECT_TRUE(Analyze(none, in, 0) == bicubic);
}

TEST(EdgeDirResampler, ConstantImageStaysConstant) {
  for (float value : {0.0f, 128.0f, 37.25f, 250.1f}) {
    Planes in(24, 20);
    for (auto& p : in.p) p.assign(p.size(), value);
    EdgeDirResampler r;
    const Planes out = Analyze(r, in, 2);
    for (int c = 0; c < 3; ++c)
      for (float v : out.p[c]) ASSERT_EQ(v, value);
  }
}

TEST(EdgeDirResampler, FortyFiveDegreeEdgeIsFollowedNotBlurred) {
  // Pixels with x + y <= 24 are dark, the rest bright: an edge at 45 degrees.
  // An odd site (2y+1, 2x+1) with x + y = 24 lies on the bright side: its
  // pair along the edge, (y, x+1) and (y+1, x), is bright, and only its
  // pair across the edge mixes dark (y, x) with bright (y+1, x+1).
  Planes in(48, 48);
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < in.h; ++y)
      for (int x = 0; x < in.w; ++x) in.at(c, y, x) = x + y <= 24 ? 20.0f : 220.0f;
  const Planes bicubic = Bicubic(in);
  EdgeDirResampler r;
  const Planes out = Analyze(r, in, 2);
  for (int y = 0; y <= 23; ++y) {
    for (int side : {24, 23}) {  // bright side, dark side (x + y = 23: pair along the edge is dark)
      const int x = side - y;
      const float expect = side == 24 ? 220.0f : 20.0f;
      const int ry = 2 * y + 1, rx = 2 * x + 1;
      for (int c = 0; c < 3; ++c) {
        const float e = std::fabs(out.at(c, ry, rx) - expect);
        const float b = std::fabs(bicubic.at(c, ry, rx) - expect);
        EXPECT_LT(e, 0.5f) << "at (" << ry << ", " << rx << ")";
        EXPECT_GT(b, 15.0f);
        float u[14], q;
        ASSERT_EQ(r.StoredWeights(ry, rx, u, &q), 14);
        EXPECT_GT(q, 0.95f);  // one direction dominates
        EXPECT_GT(u[1], 0.95f * 0.5f);  // and it is (1, -1), along the edge
      }
    }
  }
  // Axial sites on the edge line sit half-way between dark and bright.
  for (int y = 6; y <= 18; ++y) {
    const int x = 24 - y;  // (y, x) dark, (y, x+1) bright: site (2y, 2x+1)
    EXPECT_NEAR(out.at(0, 2 * y, 2 * x + 1), 120.0f, 8.0f);
  }
}

TEST(EdgeDirResampler, BicubicGuideMatchesNoGuide) {
  const Planes in = Chart(26, 22, 4);
  const Planes guide = Bicubic(in);
  EdgeDirResampler plain, guided;
  const Planes unguided = Analyze(plain, in, 2);
  EXPECT_TRUE(unguided == Analyze(guided, in, 2, &guide));
  // A different guide gives different weights.
  Planes other = Bicubic(Chart(26, 22, 8));
  EdgeDirResampler otherGuided;
  EXPECT_FALSE(unguided == Analyze(otherGuided, in, 2, &other));
}

// Apply read straight from the definition: the bicubic enlargement, then
// every odd site, then every axial site moved towards the weighted mean of
// its direction pairs (by the weighted deviations of the pairs from twice the
// site), with the stored weights. Pairs beyond the plane are read mirrored
// about its first and last samples.
Planes ReferenceApply(const EdgeDirResampler& r, const Planes& in) {
  static const int odd[14][2] = {{1, 1},  {1, -1}, {3, -1}, {1, -3}, {1, 3}, {3, 1}, {5, -1},
                                 {5, -3}, {3, -5}, {1, -5}, {1, 5},  {3, 5}, {5, 3}, {5, 1}};
  static const int axial[6][2] = {{0, 1}, {1, 0}, {-2, 1}, {-1, 2}, {1, 2}, {2, 1}};
  Planes out = Bicubic(in);
  const int W = out.w, H = out.h;
  auto mirror = [](int i, int n) { return i < 0 ? -i : i >= n ? 2 * (n - 1) - i : i; };
  auto at = [&](int c, int y, int x) { return out.at(c, mirror(y, H), mirror(x, W)); };
  auto step = [&](bool oddStep) {
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        if (oddStep ? !((y & 1) && (x & 1)) : !((y + x) & 1)) continue;
        float u[14], q;
        const int n = r.StoredWeights(y, x, u, &q);
        EXPECT_EQ(n, oddStep ? 14 : 6);
        for (int c = 0; c < 3; ++c) {
          const float p = out.at(c, y, x);
          float d = 0;
          for (int k = 0; k < n; ++k) {
            const int* o = oddStep ? odd[k] : axial[k];
            const float pair = at(c, y - o[0], x - o[1]) + at(c, y + o[0], x + o[1]);
            d = k == 0 ? u[k] * (pair - (p + p)) : d + u[k] * (pair - (p + p));
          }
          out.at(c, y, x) = p + d * q;
        }
      }
  };
  step(true);
  step(false);
  return out;
}

TEST(EdgeDirResampler, ApplyMatchesTheStraightforwardReadingOnEveryInstructionSet) {
  // Widths that leave partial vector blocks at the row ends. The scalar
  // kernels are checked against the reading, which leaves the low-resolution
  // samples as they are; every vector form must give the scalar bits.
  int oddFrame = 0, oddFrameChanged = 0, axialFrame = 0, axialFrameChanged = 0;
  for (int w : {29, 40, 53}) {
    const Planes in = Chart(w, 23, 6), other = Chart(w, 23, 12);
    Planes scalar(0, 0), scalarOther(0, 0);
    ForEachSimdTarget([&](const std::string& target) {
      EdgeDirResampler r;
      const Planes out = Analyze(r, in, 2);
      // The stored weights serve any input: a different picture through the
      // same weights.
      const Planes outOther = Apply(r, other);
      if (target != "scalar") {
        EXPECT_TRUE(out == scalar) << "width " << w;
        EXPECT_TRUE(outOther == scalarOther) << "width " << w;
        return;
      }
      scalar = out, scalarOther = outOther;
      EXPECT_TRUE(out == ReferenceApply(r, in)) << "width " << w;
      EXPECT_TRUE(outOther == ReferenceApply(r, other)) << "width " << w;
    });
    // The chart has structure everywhere, so the analysis moves nearly all
    // sites of the frame too, some of whose pairs lie beyond the plane.
    const Planes bicubic = Bicubic(in);
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < scalar.h; ++y)
        for (int x = 0; x < scalar.w; ++x) {
          const int border = std::min({y, x, scalar.h - 1 - y, scalar.w - 1 - x});
          const bool changed = scalar.at(c, y, x) != bicubic.at(c, y, x);
          const bool odd = (y & 1) && (x & 1) && border < 5, axial = ((y + x) & 1) && border < 2;
          oddFrame += odd, oddFrameChanged += odd && changed;
          axialFrame += axial, axialFrameChanged += axial && changed;
        }
  }
  EXPECT_GT(oddFrameChanged, oddFrame * 9 / 10);
  EXPECT_GT(axialFrameChanged, axialFrame * 9 / 10);
}

TEST(EdgeDirResampler, SmallInputs) {
  // A single column is repeated sideways and enlarged bicubically downwards:
  // 0, 8, 16 becomes 0, 4, 8, 12, 16, 16 (two-point means at rows 1 and 3,
  // the last row repeated).
  {
    Planes in(1, 3);
    for (int c = 0; c < 3; ++c) in.p[c] = {0.0f, 8.0f, 16.0f};
    EdgeDirResampler r;
    const Planes out = Analyze(r, in, 2);
    const float expect[6] = {0, 4, 8, 12, 16, 16};
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(out.at(c, y, x), expect[y]);
  }
  {
    Planes in(1, 1);
    for (int c = 0; c < 3; ++c) in.p[c] = {float(c + 5)};
    EdgeDirResampler r;
    const Planes out = Analyze(r, in, 3);
    for (int c = 0; c < 3; ++c)
      for (float v : out.p[c]) EXPECT_EQ(v, float(c + 5));
  }
  // Planes narrower than the longest pairs: their reads fold back more than
  // once (the sanitizer build checks that nothing outside the planes is
  // read), and the low-resolution samples stay.
  const int sizes[][2] = {{2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 7}, {3, 12}, {12, 3}, {4, 9}, {2, 20}};
  for (const auto& size : sizes) {
    const Planes in = Chart(size[0], size[1], 2);
    EdgeDirResampler r;
    const Planes out = Analyze(r, in, 2);
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < out.h; y += 2)
        for (int x = 0; x < out.w; x += 2) EXPECT_EQ(out.at(c, y, x), in.at(c, y / 2, x / 2));
  }
  EdgeDirResampler empty;
  empty.SetSize(0, 0);
  empty.Apply(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

TEST(EdgeDirResampler, HugeContrastGivesNoNaN) {
  // Costs so large that every direction weight underflows: the site keeps
  // its bicubic value instead of becoming 0/0, on every instruction set.
  Planes in(20, 20);
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 20; ++x) in.at(c, y, x) = ((x + y) & 1) ? 1e8f : 0.0f;
  ForEachSimdTarget([&](const std::string&) {
    EdgeDirResampler r;
    EXPECT_TRUE(Analyze(r, in, 2) == Bicubic(in));
  });
}

TEST(EdgeDirResampler, KeepsWellUnderHalfOfTheNaiveMemory) {
  EdgeDirResampler r;
  Analyze(r, Chart(200, 150), 1);
  // 29 bytes of weights and confidences per output position, against 96
  // for 24 floats.
  EXPECT_LT(double(r.HeldBytes()) / (400.0 * 300.0), 29.5);
}

TEST(EdgeDirResampler, SameForAnyThreadCount) {
  // Analyze shares its rows out too: the stored weights as well as the
  // enlargement.
  const Planes in = Chart(150, 110, 1);
  ExpectSameForAnyThreadCount([&] {
    EdgeDirResampler r;
    const Planes out = Analyze(r, in, 2);
    Planes weights(15, 4 * in.w * in.h);
    for (int row = 0; row < 2 * in.h; ++row)
      for (int col = 0; col < 2 * in.w; ++col) {
        const std::size_t i = std::size_t(row) * 2 * in.w + col;
        r.StoredWeights(row, col, &weights.p[0][i * 14], &weights.p[1][i]);
      }
    return std::make_pair(out, weights);
  });
}

}  // namespace
