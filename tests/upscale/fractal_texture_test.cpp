// FractalTexture and its block distances: every instruction set against the
// scalar sums, sums worked out by hand, the edge cases (strength 0, a flat
// source block, an exact match, a blend half-way between two blocks, the
// border samples), and bounded calls, lent buffers and threads.
#include "upscale/fractal_texture.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "support/simd_targets.h"
#include "support/thread_count.h"
#include "upscale/block_distance.h"

using namespace kestrune;

namespace {

TEST(BlockDistance, EveryInstructionSetGivesTheScalarSums) {
  // Random blocks, few byte values so that equal distances (ties) occur,
  // every count of rows and candidates up to 15; the source is exactly as
  // large as the candidates need, so that a read past it shows under the
  // address sanitizer. Searches, blend sums and blended distances on every
  // instruction set equal the scalar ones.
  using namespace block_distance;
  std::mt19937 rng(7);
  for (int trial = 0; trial < 300; ++trial) {
    const int levels = trial % 3 == 0 ? 2 : 256;
    std::uniform_int_distribution<int> byte(0, levels - 1);
    // Trial 1: the largest differences, 255 against 0 in every colour byte.
    auto value = [&](bool source) {
      return static_cast<uint8_t>(trial == 1 ? (source ? 255 : 0) : levels == 2 ? 255 * byte(rng) : byte(rng));
    };
    const int rows = 1 + trial % 15, count = 1 + (trial / 15) % 15;
    const int w = count + 3, h = rows + 3;
    std::vector<uint8_t> src(std::size_t(w) * h * 4), t(4 * 24);
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = i % 4 == 3 ? 0 : value(true);
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = i % 4 == 3 ? 0 : value(false);
    std::vector<int32_t> terms;
    SourceBlockTerms(src.data(), w, h, terms);
    // The first block and up to kMaxBlends second blocks: the candidates
    // after the first (the first itself when there is no other).
    const uint8_t* p = src.data();
    const uint8_t* qs[kMaxBlends];
    int n = 0;
    for (int r = 0; r < rows && n < kMaxBlends; ++r)
      for (int k = 0; k < count && n < kMaxBlends; ++k)
        if (r > 0 || k > 0) qs[n++] = src.data() + std::ptrdiff_t(r) * w * 4 + 4 * k;
    if (n == 0) qs[n++] = p;

    const SearchResult ref = SearchScalar(t.data(), 24, src.data(), w * 4, rows, count, terms.data(), w);
    if (trial == 1) {
      EXPECT_EQ(ref.distance, 48 * 255 * 255);
    }
    const int weights[] = {0, 1, 77, 128, 253, 256};
    BlendSums plain[kMaxBlends];
    int64_t sads[kMaxBlends][6];
    for (int k = 0; k < n; ++k) {
      plain[k] = BlendSumsScalar(t.data(), 24, p, qs[k], w * 4);
      for (int i = 0; i < 6; ++i) sads[k][i] = BlendSadScalar(t.data(), 24, p, qs[k], w * 4, weights[i]);
    }
    ForEachSimdTarget([&](const std::string& target) {
      const SearchResult got = Search(t.data(), 24, src.data(), w * 4, rows, count, terms.data(), w);
      ASSERT_TRUE(got.distance == ref.distance && got.row == ref.row && got.col == ref.col)
          << target << " trial " << trial << ": " << got.distance << " at " << got.row << ", " << got.col;
      BlendSums sums[kMaxBlends];
      BlendSumsOf(t.data(), 24, p, qs, n, w * 4, sums);
      for (int k = 0; k < n; ++k)
        ASSERT_TRUE(sums[k].cross == plain[k].cross && sums[k].energy == plain[k].energy) << "trial " << trial << ", block " << k;
      // Each call mixes the weights over its second blocks.
      for (int i = 0; i < 6; ++i) {
        int ws[kMaxBlends];
        int64_t got[kMaxBlends];
        for (int k = 0; k < n; ++k) ws[k] = weights[(i + k) % 6];
        BlendSads(t.data(), 24, p, qs, ws, n, w * 4, got);
        for (int k = 0; k < n; ++k) ASSERT_EQ(got[k], sads[k][(i + k) % 6]) << ws[k];
      }
      // The whole blend search, below the coarse distance or any.
      for (const int64_t error : {int64_t{ref.distance}, int64_t{INT32_MAX}}) {
        const BlendChoice want = BlendSearchScalar(t.data(), 24, p, qs, n, w * 4, error);
        const BlendChoice choice = BlendSearch(t.data(), 24, p, qs, n, w * 4, error);
        ASSERT_TRUE(choice.error == want.error && choice.k == want.k && choice.tq == want.tq) << "trial " << trial;
      }
    });
  }
}

TEST(BlockDistance, PlainSumsByHand) {
  // T all 10, P all 20, Q all 30 in the colour bytes, 0 in the fourth byte:
  // 48 colour values per block.
  std::vector<uint8_t> t(64), p(64), q(64);
  for (int i = 0; i < 64; ++i) {
    const bool colour = i % 4 != 3;
    t[i] = colour ? 10 : 0, p[i] = colour ? 20 : 0, q[i] = colour ? 30 : 0;
  }
  std::vector<int32_t> terms;
  block_distance::SourceBlockTerms(p.data(), 4, 4, terms);
  EXPECT_EQ(terms[0], 48 * 400 - 256 * 48 * 20);
  ForEachSimdTarget([&](const std::string&) {
    EXPECT_EQ(block_distance::Search(t.data(), 16, p.data(), 16, 1, 1, terms.data(), 4).distance, 48 * 100);
    const uint8_t* qs[] = {q.data()};
    block_distance::BlendSums sums;
    block_distance::BlendSumsOf(t.data(), 16, p.data(), qs, 1, 16, &sums);
    EXPECT_EQ(sums.cross, 48 * (-20) * (-10));
    EXPECT_EQ(sums.energy, 48 * 100);
    // Blend with weight 128: P + (Q - P) / 2 = 25, |10 - 25| * 256 per value.
    const int weight[] = {128};
    int64_t sad = 0;
    block_distance::BlendSads(t.data(), 16, p.data(), qs, weight, 1, 16, &sad);
    EXPECT_EQ(sad, 48 * 15 * 256);
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
      if (seed) FillRandom(y[c], rng, 0, 255), FillRandom(x[c], rng, 0, 255);
    }
  }
  static void FillRandom(std::vector<float>& v, std::mt19937& rng, int lo, int hi) {
    std::uniform_int_distribution<int> d(lo, hi);
    for (auto& s : v) s = static_cast<float>(d(rng));
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
  const int W = 24, H = 20;
  int band = 0, changed = 0;
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < H; ++r)
      for (int col = 0; col < W; ++col) {
        const std::size_t i = std::size_t(r) * W + col;
        ASSERT_EQ(off.o[c][i], -1000.0f) << r << " " << col;
        ASSERT_NE(on.o[c][i], -1000.0f) << r << " " << col;
        if (std::min({r, col, H - 1 - r, W - 1 - col}) < 4) ++band, changed += on.o[c][i] != on.x[c][i];
      }
  EXPECT_GT(changed, band * 9 / 10);
}

TEST(FractalTexture, ExactMatchReplacesTheBlockByTheSourceBlock) {
  // Source block (5, 9) planted in the estimate at (12, 14): its search
  // centre is ys = nint(14 * 16/32 - 2) = 5, xs = nint(16 * 16/32 - 2) = 6.
  // The last source block (12, 12) planted in the last estimate block
  // (28, 28): centre nint(15 - 2) = 13, clamped to 12.
  for (const auto [y, x, sy, sx] : {std::array{12, 14, 5, 9}, std::array{28, 28, 12, 12}}) {
    Planes planes(16, 16, 3);
    const int W = 32;
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) planes.x[c][std::size_t(y + i) * W + x + j] = planes.y[c][(sy + i) * 16 + sx + j];
    FractalTexture ft;
    planes.Run(ft);
    const auto m = ft.MatchBlock(y, x);
    EXPECT_EQ(m.by, sy);
    EXPECT_EQ(m.bx, sx);
    EXPECT_EQ(m.error, 0);
    EXPECT_EQ(m.lambda, 0.0f);
    EXPECT_EQ(m.u, 0.0f);  // no blend beats an error of 0
  }
}

TEST(FractalTexture, FlatSourceBlockKeepsTheEstimate) {
  // Source: flat 50 everywhere (all variances 0); estimate: random, so every
  // match error is at least 2 and lambda = 1 (0.1 sqrt(2/16) / 10^-1.5 > 1).
  // Then the accumulated image A is the estimate itself, and the output is
  // (1 - 0.75)(X - LX) + LX + (A - LA) = X + 0.25 (X - LX) everywhere, the
  // low-pass reading mirrored samples beyond the plane.
  Planes planes(10, 10);
  std::mt19937 rng(4);
  for (int c = 0; c < 3; ++c) {
    std::fill(planes.y[c].begin(), planes.y[c].end(), 50.0f);
    Planes::FillRandom(planes.x[c], rng, 60, 255);
  }
  FractalTexture ft;
  planes.Run(ft);
  for (int by = 0; by < 16; ++by)
    for (int bx = 0; bx < 16; ++bx) ASSERT_EQ(ft.MatchBlock(by, bx).lambda, 1.0f);
  const int W = 20, H = 20;
  auto mirror = [](int i, int n) { return i < 0 ? -i : i >= n ? 2 * (n - 1) - i : i; };
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < H; ++r)
      for (int col = 0; col < W; ++col) {
        auto X = [&](int dy, int dx) {
          return double(planes.x[c][std::size_t(mirror(r + dy, H)) * W + mirror(col + dx, W)]);
        };
        const double lx = (X(-1, -1) + 2 * X(-1, 0) + X(-1, 1) + 2 * X(0, -1) + 4 * X(0, 0) + 2 * X(0, 1) +
                           X(1, -1) + 2 * X(1, 0) + X(1, 1)) / 16;
        ASSERT_NEAR(planes.o[c][std::size_t(r) * W + col], X(0, 0) + 0.25 * (X(0, 0) - lx), 2e-3) << r << " " << col;
      }
}

TEST(FractalTexture, BlendHalfWayBetweenNeighbouringBlocks) {
  // Even random source values; the estimate block at (12, 14) is the exact
  // mean of source blocks P = (5, 9) and Q = (5, 10). The coarse search finds
  // P first (P and Q are equally far), the blend search finds t = 0.5 with a
  // blended error of 0: second block Q, u = 0.5^1.5.
  Planes planes(16, 16);
  std::mt19937 rng(5);
  for (int c = 0; c < 3; ++c) {
    Planes::FillRandom(planes.y[c], rng, 0, 127);
    for (auto& v : planes.y[c]) v *= 2.0f;
    Planes::FillRandom(planes.x[c], rng, 0, 255);
  }
  const int y = 12, x = 14, W = 32;
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j)
        planes.x[c][std::size_t(y + i) * W + x + j] =
            (planes.y[c][(5 + i) * 16 + 9 + j] + planes.y[c][(5 + i) * 16 + 10 + j]) / 2;
  FractalTexture ft;
  planes.Run(ft);
  const auto m = ft.MatchBlock(y, x);
  EXPECT_EQ(m.by, 5);
  EXPECT_EQ(m.bx, 9);
  EXPECT_EQ(m.cy, 5);
  EXPECT_EQ(m.cx, 10);
  EXPECT_EQ(m.error, 0);
  EXPECT_FLOAT_EQ(m.blend, 0.5f);
  EXPECT_FLOAT_EQ(m.u, static_cast<float>(0.5 * std::sqrt(0.5)));
  EXPECT_EQ(m.lambda, 0.0f);
}

TEST(FractalTexture, BoundedCallsLentBuffersAndThreadsGiveTheOneCallResult) {
  // A caller whose estimate rows arrive in steps passes the rows it has as
  // the bound: an output row must wait until every block over the
  // accumulator rows it reads has been added, and the accumulators of
  // overlapping block rows must add up in one fixed order whatever the
  // steps and threads. Lent buffers with stale contents (Init clears them)
  // change nothing, and neither does the instruction set (the scalar result
  // is the reference).
  const int w = 40, h = 36;
  Planes whole(w, h, 7);
  {
    ScopedThreadCount one(1);
    FractalTexture ft;
    OnScalar([&] { return whole.Run(ft), 0; });
  }
  ForEachSimdTarget([&](const std::string& target) {
    Planes planes(w, h, 7);
    FractalTexture ft;
    planes.Run(ft);
    EXPECT_TRUE(planes == whole) << target;
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
