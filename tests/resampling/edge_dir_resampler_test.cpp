// The edge-directed x2 resampler: bicubic fall-backs, flat and small inputs, a
// 45-degree edge, Apply against a plain reading, targets and threads.
#include "resampling/edge_dir_resampler.h"

#include <cmath>
#include <string>
#include <tuple>
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

TEST(EdgeDirResampler, WithoutWeightsApplyIsTheBicubicEnlargementWhichAsAGuideChangesNothing) {
  // Sized and never analysed, or analysed with zero iterations: the bicubic
  // enlargement. Analysed with it as the guide: as without a guide; with a
  // different guide: different weights.
  const Planes in = Chart(37, 29), bicubic = Bicubic(in), other = Bicubic(Chart(37, 29, 8));
  EdgeDirResampler fresh, none, plain, guided, otherGuided;
  fresh.SetSize(in.w, in.h);
  EXPECT_TRUE(Apply(fresh, in) == bicubic);
  EXPECT_TRUE(Analyze(none, in, 0) == bicubic);
  const Planes unguided = Analyze(plain, in, 2);
  EXPECT_TRUE(unguided == Analyze(guided, in, 2, &bicubic));
  EXPECT_FALSE(unguided == Analyze(otherGuided, in, 2, &other));
}

TEST(EdgeDirResampler, FortyFiveDegreeEdgeIsFollowedNotBlurred) {
  // Pixels with x + y <= 24 dark, the rest bright. An odd site (2y+1, 2x+1)
  // with x + y = 24 has its pair along the edge, (y, x+1) and (y+1, x),
  // bright; only its pair across the edge mixes dark and bright.
  Planes in(48, 48);
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < in.h; ++y)
      for (int x = 0; x < in.w; ++x) in.at(c, y, x) = x + y <= 24 ? 20.0f : 220.0f;
  const Planes bicubic = Bicubic(in);
  EdgeDirResampler r;
  const Planes out = Analyze(r, in, 2);
  for (int y = 0; y <= 23; ++y)
    for (int side : {24, 23}) {  // bright side, dark side (x + y = 23: pair along the edge is dark)
      const int ry = 2 * y + 1, rx = 2 * (side - y) + 1;
      const float expect = side == 24 ? 220.0f : 20.0f;
      float u[14], q;
      ASSERT_EQ(r.StoredWeights(ry, rx, u, &q), 14);
      // One direction dominates, and it is (1, -1), along the edge.
      EXPECT_TRUE(q > 0.95f && u[1] > 0.95f * 0.5f) << q << " " << u[1];
      for (int c = 0; c < 3; ++c) {
        EXPECT_LT(std::fabs(out.at(c, ry, rx) - expect), 0.5f) << "at (" << ry << ", " << rx << ")";
        EXPECT_GT(std::fabs(bicubic.at(c, ry, rx) - expect), 15.0f);
      }
    }
  // Axial sites on the edge line, (2y, 2x+1) between dark (y, x) and bright
  // (y, x+1), sit half-way.
  for (int y = 6; y <= 18; ++y) EXPECT_NEAR(out.at(0, 2 * y, 2 * (24 - y) + 1), 120.0f, 8.0f);
}

// Apply read straight from the definition: the bicubic enlargement, then
// every odd site, then every axial site moved by the weighted deviations of
// its direction pairs from twice the site, with the stored weights. Pairs
// beyond the plane are read mirrored about its first and last samples.
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
  // Widths that leave partial vector blocks. The scalar kernels are checked
  // against the reading, every vector form against the scalar bits.
  for (int w : {29, 40, 53}) {
    const Planes in = Chart(w, 23, 6), other = Chart(w, 23, 12);
    Planes scalar(0, 0), scalarOther(0, 0);
    ForEachSimdTarget([&](const std::string& target) {
      EdgeDirResampler r;
      const Planes out = Analyze(r, in, 2);
      // The stored weights serve any input.
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
  }
}

TEST(EdgeDirResampler, FlatSmallAndExtremeInputs) {
  // Flat stays flat, also on one pixel.
  for (const auto& [w, h, value] : {std::tuple{24, 20, 37.25f}, {24, 20, 250.1f}, {1, 1, 5.0f}}) {
    Planes in(w, h);
    for (int c = 0; c < 3; ++c) in.p[c].assign(in.p[c].size(), value + float(c));
    EdgeDirResampler r;
    const Planes out = Analyze(r, in, 2);
    for (int c = 0; c < 3; ++c)
      for (float v : out.p[c]) ASSERT_EQ(v, value + float(c));
  }
  // A single column is repeated sideways and enlarged bicubically downwards:
  // 0, 8, 16 becomes 0, 4, 8, 12, 16, 16 (two-point means at rows 1 and 3,
  // the last row repeated).
  Planes column(1, 3);
  for (int c = 0; c < 3; ++c) column.p[c] = {0.0f, 8.0f, 16.0f};
  EdgeDirResampler r;
  const Planes out = Analyze(r, column, 2);
  const float expect[6] = {0, 4, 8, 12, 16, 16};
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 2; ++x) EXPECT_EQ(out.at(c, y, x), expect[y]);
  // Planes narrower than the longest pairs: their reads fold back more than
  // once (the sanitizer build checks that nothing outside the planes is
  // read), and the low-resolution samples stay.
  const int sizes[][2] = {{2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 7}, {3, 12}, {12, 3}, {4, 9}, {2, 20}};
  for (const auto& size : sizes) {
    const Planes in = Chart(size[0], size[1], 2);
    const Planes out = Analyze(r, in, 2);
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < out.h; y += 2)
        for (int x = 0; x < out.w; x += 2) EXPECT_EQ(out.at(c, y, x), in.at(c, y / 2, x / 2));
  }
  EdgeDirResampler empty;
  empty.SetSize(0, 0);
  empty.Apply(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  // Costs so large that every direction weight underflows: the site keeps
  // its bicubic value instead of becoming 0/0, on every instruction set.
  Planes huge(20, 20);
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 400; ++i) huge.p[c][i] = ((i / 20 + i % 20) & 1) ? 1e8f : 0.0f;
  ForEachSimdTarget([&](const std::string&) { EXPECT_TRUE(Analyze(r, huge, 2) == Bicubic(huge)); });
}

TEST(EdgeDirResampler, SameForAnyThreadCount) {
  // Analyze shares its rows out too: the stored weights as well.
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
