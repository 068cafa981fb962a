// FractalTexture and its block distances: sums and edge cases by hand, and
// bounded calls, lent buffers, threads and instruction sets.
#include "upscale/fractal_texture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "support/simd_targets.h"
#include "upscale/block_distance.h"

using namespace kestrune;

namespace {

TEST(BlockDistance, PlainSumsByHand) {
  // T all 10, P all 20, Q all 30 in the colour bytes, 0 in the fourth byte:
  // 48 colour values per block.
  std::vector<uint8_t> t(64), p(64), q(64);
  for (int i = 0; i < 64; ++i) t[i] = i % 4 != 3 ? 10 : 0, p[i] = 2 * t[i], q[i] = 3 * t[i];
  std::vector<int32_t> terms;
  block_distance::SourceBlockTerms(p.data(), 4, 4, terms);
  EXPECT_EQ(terms[0], 48 * 400 - 256 * 48 * 20);
  ForEachSimdTarget([&](const std::string&) {
    EXPECT_EQ(block_distance::Search(t.data(), 16, p.data(), 16, 1, 1, terms.data(), 4).distance, 48 * 100);
    // Blend with weight 128: P + (Q - P) / 2 = 25, |10 - 25| * 256 per value.
    const uint8_t* qs[] = {q.data()};
    const int weight[] = {128};
    block_distance::BlendSums sums;
    int64_t sad = 0;
    block_distance::BlendSumsOf(t.data(), 16, p.data(), qs, 1, 16, &sums);
    block_distance::BlendSads(t.data(), 16, p.data(), qs, weight, 1, 16, &sad);
    EXPECT_EQ(std::vector<int64_t>({sums.cross, sums.energy, sad}),
              std::vector<int64_t>({48 * 200, 48 * 100, 48 * 15 * 256}));
  });
}

struct Planes {
  // Source and estimate planes random from `seed` (0: zero), outputs -1000.
  Planes(int w, int h, unsigned seed = 0) : w(w), h(h) {
    std::mt19937 rng(seed);
    for (int c = 0; c < 3; ++c) {
      y[c].assign(std::size_t(w) * h, 0.0f);
      x[c].assign(std::size_t(4) * w * h, 0.0f);
      o[c].assign(std::size_t(4) * w * h, -1000.0f);
      if (seed)
        for (auto* v : {&y[c], &x[c]})
          for (auto& s : *v) s = static_cast<float>(std::uniform_int_distribution<int>(0, 255)(rng));
    }
  }
  // One call without a row bound, or one call per bound in `limits`.
  void Run(FractalTexture& ft, const std::vector<unsigned>& limits = {~0u}) {
    ft.Init(x[0].data(), x[1].data(), x[2].data(), 2 * w, 2 * h, y[0].data(), y[1].data(), y[2].data(), w, h,
            o[0].data(), o[1].data(), o[2].data());
    for (unsigned limit : limits) ft.Run(limit, 2 * h);
    ft.Finish();
  }
  bool operator==(const Planes& other) const {
    return SameBits(o[0], other.o[0]) && SameBits(o[1], other.o[1]) && SameBits(o[2], other.o[2]);
  }
  int w, h;
  std::vector<float> y[3], x[3], o[3];
};

TEST(FractalTexture, StrengthZeroWritesNothingOtherwiseEverySample) {
  // Up to the last row and column: the blocks reach them, and there the
  // accumulator is divided by the window weights of the blocks that do.
  Planes off(12, 10, 2), on(12, 10, 2);
  FractalTexture zero, one;
  zero.strength = 0.0f;
  off.Run(zero);
  on.Run(one);
  int band = 0, changed = 0;
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 24 * 20; ++i) {
      ASSERT_TRUE(off.o[c][i] == -1000.0f && on.o[c][i] != -1000.0f) << i;
      if (std::min({i / 24, i % 24, 19 - i / 24, 23 - i % 24}) < 4) ++band, changed += on.o[c][i] != on.x[c][i];
    }
  EXPECT_GT(changed, band * 9 / 10);
}

TEST(FractalTexture, FlatSourceBlockKeepsTheEstimate) {
  // Source flat 50 (all variances 0), estimate a 100 / 200 checkerboard:
  // every match error is large and lambda = 1 (0.1 sqrt(2/16) / 10^-1.5 > 1).
  // The accumulated image A is then the estimate itself, and the output
  // (1 - 0.75)(X - LX) + LX + (A - LA) = X + 0.25 (X - LX), where the 1 2 1
  // low pass LX is 150 everywhere (mirrored beyond the plane): 212.5, 87.5.
  Planes planes(10, 10);
  for (int c = 0; c < 3; ++c) {
    std::fill(planes.y[c].begin(), planes.y[c].end(), 50.0f);
    for (int i = 0; i < 400; ++i) planes.x[c][i] = (i / 20 + i % 20) % 2 ? 100.0f : 200.0f;
  }
  FractalTexture ft;
  planes.Run(ft);
  for (int by = 0; by < 16; ++by)
    for (int bx = 0; bx < 16; ++bx) ASSERT_EQ(ft.MatchBlock(by, bx).lambda, 1.0f);
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 400; ++i) ASSERT_NEAR(planes.o[c][i], planes.x[c][i] > 150 ? 212.5 : 87.5, 2e-3) << i;
}

TEST(FractalTexture, PlantedBlocksAreFoundExactlyOrAsABlend) {
  // Source block (5, 9) planted at (12, 14): search centre ys = nint(14 *
  // 16/32 - 2) = 5, xs = nint(16 * 16/32 - 2) = 6. The last source block
  // (12, 12) in the last estimate block (28, 28): centre 13, clamped to 12.
  // An exact match leaves no blend. The mean of source blocks P = (5, 9) and
  // Q = (5, 10) (even values): the coarse search finds P first (both equally
  // far), the blend search t = 0.5 with error 0: second block Q, u = 0.5^1.5.
  for (const auto [y, x, sy, sx, blend] : {std::array{12, 14, 5, 9, 0}, {28, 28, 12, 12, 0}, {12, 14, 5, 9, 1}}) {
    Planes planes(16, 16, 3);
    for (int c = 0; c < 3; ++c) {
      for (auto& v : planes.y[c]) v = 2.0f * std::floor(v / 2.0f);
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
          planes.x[c][std::size_t(y + i) * 32 + x + j] =
              (planes.y[c][(sy + i) * 16 + sx + j] + planes.y[c][(sy + i) * 16 + sx + j + blend]) / 2;
    }
    FractalTexture ft;
    planes.Run(ft);
    const auto m = ft.MatchBlock(y, x);
    EXPECT_EQ(std::vector<int64_t>({m.by, m.bx, m.error}), std::vector<int64_t>({sy, sx, 0}));
    EXPECT_EQ(m.lambda, 0.0f);
    if (!blend) {
      EXPECT_EQ(m.u, 0.0f);  // no blend beats an error of 0
      continue;
    }
    EXPECT_EQ(std::pair(m.cy, m.cx), std::pair(5, 10));
    EXPECT_FLOAT_EQ(m.blend, 0.5f);
    EXPECT_FLOAT_EQ(m.u, static_cast<float>(0.5 * std::sqrt(0.5)));
  }
}

TEST(FractalTexture, BoundedCallsLentBuffersAndThreadsGiveTheOneCallResult) {
  // A caller whose estimate rows arrive in steps passes the rows it has as
  // the bound: an output row must wait until every block over the
  // accumulator rows it reads has been added, and the accumulators of
  // overlapping block rows must add up in one fixed order whatever the
  // steps and threads. Lent buffers with stale contents (Init clears them)
  // change nothing, and neither does the instruction set (the scalar result
  // is the reference), also on pictures of 0 and 255 only: many equal
  // distances (ties) and the largest differences.
  const int w = 40, h = 36;
  Planes whole(w, h, 7), binary(w, h, 8);
  for (auto* set : {binary.y, binary.x})
    for (int c = 0; c < 3; ++c)
      for (auto& v : set[c]) v = v < 128.0f ? 0.0f : 255.0f;
  Planes wholeBinary = binary;
  {
    ScopedThreadCount one(1);
    FractalTexture ft, other;
    OnScalar([&] { return whole.Run(ft), wholeBinary.Run(other), 0; });
  }
  ForEachSimdTarget([&](const std::string& target) {
    for (const Planes* want : {&whole, &wholeBinary}) {
      Planes planes = want == &whole ? Planes(w, h, 7) : binary;
      FractalTexture ft;
      planes.Run(ft);
      EXPECT_TRUE(planes == *want) << target;
    }
  });
  auto steps = [&](unsigned step) {
    std::vector<unsigned> limits;
    for (unsigned limit = step; limit < 2 * h + step; limit += step) limits.push_back(std::min(limit, 2u * h));
    limits.push_back(~0u);
    return limits;
  };
  for (int threads : kThreadCountsToCompare) {
    ScopedThreadCount scope(threads);
    for (const auto& limits : {steps(1), steps(7), std::vector<unsigned>{9, 10, 16, 23, 27, ~0u}}) {
      Planes planes(w, h, 7);
      FractalTexture ft;
      planes.Run(ft, limits);
      EXPECT_TRUE(planes == whole) << threads << " threads, first bound " << limits[0];
    }
    Planes lent(w, h, 7);
    std::vector<float> acc[3], bytes(4 * w * h, 123.0f);
    for (auto& p : acc) p.assign(4 * w * h, 55.0f);
    FractalTexture ft;
    ft.LendBuffers(acc[0].data(), acc[1].data(), acc[2].data(), bytes.data());
    lent.Run(ft);
    EXPECT_TRUE(lent == whole) << threads << " threads, lent buffers";
  }
}

}  // namespace
