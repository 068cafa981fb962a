// The plane filters of the edge-adaptive weights: HannSmooth (running and
// local), MaxFilter2D against a brute-force maximum, EdgeWeightMap by hand;
// threads and targets. Tiles of the whole enlargement check the local form.
#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "image/test_chart.h"
#include "resampling/hann_smooth.h"
#include "support/simd_targets.h"
#include "upscale/edge_weight_map.h"
#include "upscale/max_filter.h"

using namespace kestrune;

namespace {

using Plane = std::vector<float>;

Plane RandomPlane(int W, int H, unsigned seed, float lo = 0.0f, float hi = 255.0f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(lo, hi);
  Plane p(std::size_t(W) * H);
  for (float& v : p) v = value(rng);
  return p;
}

// The running sums, and the direct sums that tiles rely on.
using Smoother = void (*)(const float*, float*, int, int, int, float*);
const std::pair<const char*, Smoother> kSmoothers[] = {{"running", HannSmooth}, {"local", HannSmoothLocal}};

TEST(HannSmooth, RadiusOneWeightsAndMirrorBorders) {
  for (const auto& [name, smooth] : kSmoothers) {
    const Plane x{8, 2, 6, 4, 10, 0, 12};
    Plane y(x.size()), tmp(x.size());
    smooth(x.data(), y.data(), int(x.size()), 1, 1, tmp.data());  // one row: columns are copied
    EXPECT_NEAR(y[0], (2 + 4 * 8 + 2) / 6.0, 1e-5) << name;
    EXPECT_NEAR(y[3], (6 + 4 * 4 + 10) / 6.0, 1e-5) << name;
    EXPECT_NEAR(y[6], (0 + 4 * 12 + 12) / 6.0, 1e-5) << name;
    // The same as a column.
    Plane yc(x.size());
    smooth(x.data(), yc.data(), 1, int(x.size()), 1, tmp.data());
    EXPECT_EQ(yc, y) << name;
  }
}

TEST(HannSmooth, RunningSumsAgreeWithTheDirectOnesAndFlatStaysFlat) {
  // Recursive and direct sums, the radius limited to the plane; flat stays flat.
  const int W = 41, H = 29;
  const Plane src = RandomPlane(W, H, 3), flat(W * H, 7.0f);
  Plane running(W * H), local(W * H), tmp(W * H);
  for (int r : {1, 2, 3, 5, 9, 14, 20, 100}) {
    HannSmooth(src.data(), running.data(), W, H, r, tmp.data());
    HannSmoothLocal(src.data(), local.data(), W, H, r, tmp.data());
    for (int i = 0; i < W * H; ++i) ASSERT_NEAR(running[i], local[i], 4e-3) << r << " at " << i;
    for (const auto& [name, smooth] : kSmoothers) {
      smooth(flat.data(), running.data(), W, H, r, tmp.data());
      for (float v : running) ASSERT_NEAR(v, 7.0f, 1e-4) << name << " " << r;
    }
  }
}

TEST(HannSmooth, InPlaceAndTinyPlanes) {
  for (const auto& [name, smooth] : kSmoothers) {
    const int W = 16, H = 12;
    Plane p = RandomPlane(W, H, 5), copy = p, out(p.size()), tmp(p.size());
    smooth(copy.data(), out.data(), W, H, 3, tmp.data());
    smooth(p.data(), p.data(), W, H, 3, tmp.data());
    EXPECT_EQ(p, out) << name;

    // Two samples per line: copied. Three samples with radius 1: the radius
    // limit leaves a one-sample window, which keeps the samples unchanged.
    for (const auto& [w, h, tiny] : {std::tuple{2, 2, Plane{1, 9, 4, 7}}, {3, 1, Plane{1, 9, 4}}}) {
      Plane out(tiny.size());
      smooth(tiny.data(), out.data(), w, h, 1, tmp.data());
      EXPECT_EQ(out, tiny) << name;
    }
  }
}

TEST(HannSmooth, OddFormKeepsTheOddSamplesBits) {
  // Odd and even sizes, partial row groups, tiles and column bands, a radius
  // beyond the plane; on every instruction set.
  const struct {
    const char* name;
    Smoother whole, odd;
  } forms[] = {{"running", HannSmooth, HannSmoothOdd}, {"local", HannSmoothLocal, HannSmoothLocalOdd}};
  const int sizes[][3] = {{16, 12, 3}, {413, 301, 6}, {37, 21, 40}, {7, 5, 1}, {3, 2, 1}, {2, 2, 1}};
  for (const auto& form : forms)
    for (const auto& [W, H, r] : sizes) {
      const Plane p = RandomPlane(W, H, 7);
      ForEachSimdTarget([&](const std::string&) {
        Plane whole(p.size()), odd = p, tmp(p.size());
        form.whole(p.data(), whole.data(), W, H, r, tmp.data());
        form.odd(odd.data(), odd.data(), W, H, r, tmp.data());  // in place
        for (int y = 0; y < H / 2; ++y)
          for (int x = 0; x < W / 2; ++x)
            ASSERT_EQ(odd[y * (W / 2) + x], whole[(2 * y + 1) * W + 2 * x + 1])
                << form.name << " " << W << "x" << H << " at " << x << "," << y;
      });
    }
}

// Brute force: the maximum over the window clipped to the plane.
Plane BruteMax(const Plane& src, int W, int H, int r) {
  Plane out(src.size());
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      float m = -INFINITY;
      for (int v = std::max(y - r, 0); v <= std::min(y + r, H - 1); ++v)
        for (int u = std::max(x - r, 0); u <= std::min(x + r, W - 1); ++u) m = std::max(m, src[v * W + u]);
      out[y * W + x] = m;
    }
  return out;
}

TEST(MaxFilter2D, MatchesBruteForceWithTheRadiusLimitedToThePlane) {
  // W, H, radius, the radius used: a plane 4 wide or high cannot hold a
  // 5 x 5 window. Under five threads the large plane is split into row groups.
  ScopedThreadCount threads(5);
  for (auto [W, H, r, used] : {std::tuple{30, 20, 2, 2},
                               {17, 23, 1, 1},
                               {6, 6, 2, 2},
                               {40, 9, 4, 4},
                               {5, 8, 0, 0},
                               {4, 9, 2, 1},
                               {9, 4, 2, 1},
                               {1, 1, 2, 0},
                               {413, 301, 2, 2}}) {
    // Negative samples and a negative zero take the running-maximum path;
    // with an initial value below every sample it is the true maximum too.
    for (const float low : {0.0f, -50.0f}) {
      Plane src = RandomPlane(W, H, unsigned(W * H), low, 50.0f), dst(src.size(), -1.0f);
      src[src.size() / 2] = -0.0f;
      MaxFilter2D(src.data(), dst.data(), W, H, r, low * 20);
      EXPECT_TRUE(dst == BruteMax(src, W, H, used)) << W << "x" << H << " r " << r << " from " << low;
    }
  }
}

struct ColourPlanes {
  ColourPlanes(int W, int H) : W(W), H(H) {
    for (auto* set : {&x, &snap})
      for (auto& p : *set) p.assign(std::size_t(W) * H, 0.0f);
    scratch.assign(std::size_t(W) * H, 0.0f);
    weights.assign(std::size_t(W) * H, -1.0f);
  }
  void Run() {
    const float* in[3] = {x[0].data(), x[1].data(), x[2].data()};
    float* const s[3] = {snap[0].data(), snap[1].data(), snap[2].data()};
    EdgeWeightMap(in, W, H, s, scratch.data(), weights.data());
  }
  int W, H;
  Plane x[3], snap[3], scratch, weights;
};

TEST(EdgeWeightMap, IsolatedBrightPixelAndStrongEdgeByHand) {
  const int W = 20, H = 18, cx = 9, cy = 8;
  const double v = 40.0;  // low enough that the weight does not saturate at the rim
  ColourPlanes p(W, H);
  for (int c = 0; c < 3; ++c) p.x[c][cy * W + cx] = float(v);
  p.Run();
  // Gradient: a = sqrt(24) v at the pixel, b = sqrt(3) v at its eight
  // neighbours. The 5 x 5 maximum spreads them to a 7 x 7 block (a inside,
  // b on its rim); then 1/6, 2/3, 1/6 both ways, and the weight is
  // 4 min(1, 0.008 s / 3). Beyond the reach the recursion leaves rounding.
  const double k = 4 * 0.008 / 3, a = std::sqrt(24.0) * v, b = std::sqrt(3.0) * v;
  const std::tuple<int, int, double> at[] = {
      {0, 0, k * a}, {3, 0, k * (a + 4 * b) / 6}, {0, -3, k * (a + 4 * b) / 6}, {4, 4, k * b / 36}, {-5, 0, 0.0},
      {6, 8, 0.0}};
  for (const auto& [dx, dy, expect] : at)
    EXPECT_NEAR(p.weights[(cy + dy) * W + cx + dx], expect, expect == 0.0 ? 1e-6 : 1e-4) << dx << "," << dy;
  // A strong edge saturates at 4 along its length, frame rows included.
  ColourPlanes e(16, 16);
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 256; ++i) e.x[c][i] = i % 16 >= 8 ? 255.0f : 0.0f;
  e.Run();
  for (int y = 0; y < 16; ++y) EXPECT_TRUE(e.weights[y * 16 + 8] == 4.0f && e.weights[y * 16] == 0.0f) << y;
}

TEST(EdgeWeightMap, BorderSeesTheMirroredPicture) {
  // A picture and the picture mirrored about its first row and column, the
  // original being the bottom-right quadrant: the gradient, the maximum and
  // the smoothing must treat the first row and column as that mirror line,
  // so the weights agree up to the smoothing's rounding.
  const int W = 14, H = 12, W2 = 2 * W - 1, H2 = 2 * H - 1;
  ColourPlanes a(W, H), b(W2, H2);
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> value(0.0f, 40.0f);
  for (int c = 0; c < 3; ++c) {
    for (float& v : a.x[c]) v = value(rng);
    for (int y = 0; y < H2; ++y)
      for (int x = 0; x < W2; ++x) b.x[c][y * W2 + x] = a.x[c][std::abs(y - H + 1) * W + std::abs(x - W + 1)];
  }
  a.Run();
  b.Run();
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      EXPECT_NEAR(a.weights[y * W + x], b.weights[(y + H - 1) * W2 + x + W - 1], 1e-4) << y << "," << x;
}

TEST(PlaneFilters, SameForAnyThreadCountAndInstructionSet) {
  // Odd sizes: partial row groups and column bands. MaxFilter2D in both
  // forms: a sample below `initial` sends it to its running form.
  const int W = 413, H = 301;
  const FloatImage chart = RenderTestChart(W, H);
  const Plane r(chart.samples(0), chart.samples(0) + W * H), g(chart.samples(1), chart.samples(1) + W * H),
      b(chart.samples(2), chart.samples(2) + W * H);
  for (int radius : {1, 6, 40}) {
    auto smooth = [&] {
      Plane out(r.size()), tmp(r.size());
      HannSmooth(r.data(), out.data(), W, H, radius, tmp.data());
      return out;
    };
    ExpectSameForAnyThreadCount(smooth);
    ExpectSameOnEveryTarget(smooth);
  }
  Plane low = g;
  low[W * 150 + 200] = -1.0f;
  for (const Plane* src : {&g, static_cast<const Plane*>(&low)}) {
    auto maximum = [&] {
      Plane dst(src->size());
      MaxFilter2D(src->data(), dst.data(), W, H, 2, 0.0f);
      return dst;
    };
    ExpectSameForAnyThreadCount(maximum);
    ExpectSameOnEveryTarget(maximum);
  }
  auto weightMap = [&] {
    const float* const x[3] = {r.data(), g.data(), b.data()};
    Plane s0(r.size()), s1(r.size()), s2(r.size()), scratch(r.size()), weights(r.size());
    float* const snapshot[3] = {s0.data(), s1.data(), s2.data()};
    EdgeWeightMap(x, W, H, snapshot, scratch.data(), weights.data());
    EXPECT_TRUE(SameBits(s0, r) && SameBits(s1, g) && SameBits(s2, b));
    return weights;
  };
  ExpectSameForAnyThreadCount(weightMap);
  ExpectSameOnEveryTarget(weightMap);
}

}  // namespace
