// FractalTexture and its block distances: the packed kernels against plain
// integer sums, the blending window, and the edge cases (strength 0,
// a flat source block, an exact match, a blend half-way between two blocks,
// the border samples).
#include "upscale/fractal_texture.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <initializer_list>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "image/test_chart.h"
#include "support/thread_count.h"
#include "upscale/block_distance.h"

using namespace kestrune;

namespace {

// Plain sum of squared differences of two 4 x 4 blocks of 16 bytes per row.
int32_t PlainSsd(const uint8_t* a, std::ptrdiff_t aStride, const uint8_t* b, std::ptrdiff_t bStride) {
  int32_t sum = 0;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 16; ++j) {
      const int32_t d = int32_t{a[i * aStride + j]} - b[i * bStride + j];
      sum += d * d;
    }
  return sum;
}

TEST(BlockDistance, PackedSearchesEqualPlainSums) {
  // Random blocks, few byte values so that equal distances (ties) occur; the
  // source is exactly as large as the candidates need, so that a read past
  // it shows under the address sanitizer.
  std::mt19937 rng(7);
  for (int trial = 0; trial < 300; ++trial) {
    const int levels = trial % 3 == 0 ? 2 : 256;
    std::uniform_int_distribution<int> byte(0, levels - 1);
    auto value = [&] { return static_cast<uint8_t>(levels == 2 ? 255 * byte(rng) : byte(rng)); };
    const int rows = 1 + trial % 15, count = 1 + (trial / 15) % 15;
    const int w = count + 3, h = rows + 3;
    std::vector<uint8_t> src(std::size_t(w) * h * 4), t(4 * 24);
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = i % 4 == 3 ? 0 : value();
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = i % 4 == 3 ? 0 : value();
    if (trial == 1) {  // the largest differences: 255 against 0 in every colour byte
      for (std::size_t i = 0; i < src.size(); ++i) src[i] = i % 4 == 3 ? 0 : 255;
      std::fill(t.begin(), t.end(), 0);
    }
    std::vector<int32_t> terms;
    BlockDistance::SourceBlockTerms(src.data(), w, h, terms);

    BlockDistance::SearchResult ref{INT32_MAX, 0, 0};
    for (int r = 0; r < rows; ++r)
      for (int k = 0; k < count; ++k) {
        const int32_t d = PlainSsd(t.data(), 24, src.data() + std::ptrdiff_t(r) * w * 4 + 4 * k, w * 4);
        if (d < ref.distance) ref = {d, r, k};
      }
    if (trial == 1) {
      EXPECT_EQ(ref.distance, 48 * 255 * 255);
    }

    std::vector<BlockDistance::SearchFn> fns = {&BlockDistance::SearchScalar, &BlockDistance::SearchSse2};
    if (BlockDistance::HaveAvx2()) fns.push_back(&BlockDistance::SearchAvx2);
    if (BlockDistance::HaveAvx512Vnni()) fns.push_back(&BlockDistance::SearchAvx512);
    for (std::size_t f = 0; f < fns.size(); ++f) {
      const auto got = fns[f](t.data(), 24, src.data(), w * 4, rows, count, terms.data(), w);
      ASSERT_EQ(got.distance, ref.distance) << "variant " << f << " trial " << trial;
      ASSERT_EQ(got.row, ref.row) << "variant " << f << " trial " << trial;
      ASSERT_EQ(got.col, ref.col) << "variant " << f << " trial " << trial;
    }

    const uint8_t* p = src.data();
    const uint8_t* q = src.data() + (count > 1 ? 4 : std::ptrdiff_t(w) * 4 * (rows > 1));
    const auto sums = BlockDistance::BlendSumsScalar(t.data(), 24, p, q, w * 4);
    for (auto fn : {&BlockDistance::BlendSumsSse2, &BlockDistance::BlendSumsAvx2}) {
      if (fn == &BlockDistance::BlendSumsAvx2 && !BlockDistance::HaveAvx2()) {
        continue;
      }
      const auto got = fn(t.data(), 24, p, q, w * 4);
      ASSERT_EQ(got.cross, sums.cross);
      ASSERT_EQ(got.energy, sums.energy);
    }
    for (int weight : {0, 1, 77, 128, 253, 256}) {
      const int64_t sad = BlockDistance::BlendSadScalar(t.data(), 24, p, q, w * 4, weight);
      ASSERT_EQ(BlockDistance::BlendSadSse2(t.data(), 24, p, q, w * 4, weight), sad);
      if (BlockDistance::HaveAvx2()) {
        ASSERT_EQ(BlockDistance::BlendSadAvx2(t.data(), 24, p, q, w * 4, weight), sad);
      }
    }
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
  BlockDistance::SourceBlockTerms(p.data(), 4, 4, terms);
  EXPECT_EQ(terms[0], 48 * 400 - 256 * 48 * 20);
  EXPECT_EQ(BlockDistance::Search()(t.data(), 16, p.data(), 16, 1, 1, terms.data(), 4).distance, 48 * 100);
  const auto sums = BlockDistance::BlendSumsBest()(t.data(), 16, p.data(), q.data(), 16);
  EXPECT_EQ(sums.cross, 48 * (-20) * (-10));
  EXPECT_EQ(sums.energy, 48 * 100);
  // Blend with weight 128: P + (Q - P) / 2 = 25, |10 - 25| * 256 per value.
  EXPECT_EQ(BlockDistance::BlendSadBest()(t.data(), 16, p.data(), q.data(), 16, 128), 48 * 15 * 256);
}

struct Planes {
  Planes(int w, int h) : w(w), h(h) {
    for (int c = 0; c < 3; ++c) {
      y[c].assign(std::size_t(w) * h, 0.0f);
      x[c].assign(std::size_t(4) * w * h, 0.0f);
      o[c].assign(std::size_t(4) * w * h, -1000.0f);
    }
  }
  // One call without a row bound, or one call per bound in `limits`.
  void Run(FractalTexture& ft, std::initializer_list<unsigned> limits = {~0u}) {
    ft.Init(x[0].data(), x[1].data(), x[2].data(), 2 * w, 2 * h, y[0].data(), y[1].data(), y[2].data(), w, h,
            o[0].data(), o[1].data(), o[2].data());
    for (unsigned limit : limits) ft.Run(limit, 2 * h);
    ft.Finish();
  }
  int w, h;
  std::vector<float> y[3], x[3], o[3];
};

void FillRandom(std::vector<float>& v, std::mt19937& rng, int lo, int hi) {
  std::uniform_int_distribution<int> d(lo, hi);
  for (auto& s : v) s = static_cast<float>(d(rng));
}

TEST(FractalTexture, StrengthZeroWritesNothing) {
  Planes planes(12, 10);
  std::mt19937 rng(1);
  for (int c = 0; c < 3; ++c) FillRandom(planes.y[c], rng, 0, 255), FillRandom(planes.x[c], rng, 0, 255);
  FractalTexture ft;
  ft.strength = 0.0f;
  planes.Run(ft);
  for (int c = 0; c < 3; ++c)
    for (float v : planes.o[c]) ASSERT_EQ(v, -1000.0f);
}

TEST(FractalTexture, EverySampleIsSubstituted) {
  // Up to the last row and column: the blocks reach them, and there the
  // accumulator is divided by the window weights of the blocks that do.
  Planes planes(12, 10);
  std::mt19937 rng(2);
  for (int c = 0; c < 3; ++c) FillRandom(planes.y[c], rng, 0, 255), FillRandom(planes.x[c], rng, 0, 255);
  FractalTexture ft;
  planes.Run(ft);
  const int W = 24, H = 20;
  int band = 0, changed = 0;
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < H; ++r)
      for (int col = 0; col < W; ++col) {
        const std::size_t i = std::size_t(r) * W + col;
        ASSERT_NE(planes.o[c][i], -1000.0f) << r << " " << col;
        if (std::min({r, col, H - 1 - r, W - 1 - col}) < 4) ++band, changed += planes.o[c][i] != planes.x[c][i];
      }
  EXPECT_GT(changed, band * 9 / 10);
}

TEST(FractalTexture, WindowIsAPartitionOfUnity) {
  // A flat source and a flat estimate of the same value: every block matches
  // exactly (E = 0, lambda = 0), so the accumulated image is the source value
  // times the window sums, which are 1 in the interior; the output keeps the
  // flat value.
  Planes planes(10, 9);
  for (int c = 0; c < 3; ++c) {
    std::fill(planes.y[c].begin(), planes.y[c].end(), 100.0f);
    std::fill(planes.x[c].begin(), planes.x[c].end(), 100.0f);
  }
  FractalTexture ft;
  planes.Run(ft);
  const auto m = ft.MatchBlock(6, 7);
  EXPECT_EQ(m.error, 0);
  EXPECT_EQ(m.lambda, 0.0f);
  for (int c = 0; c < 3; ++c)
    for (float v : planes.o[c]) ASSERT_NEAR(v, 100.0f, 1e-3f);
}

TEST(FractalTexture, ExactMatchReplacesTheBlockByTheSourceBlock) {
  // Source block (5, 9) planted in the estimate at (12, 14): its search
  // centre is ys = nint(14 * 16/32 - 2) = 5, xs = nint(16 * 16/32 - 2) = 6.
  // The last source block (12, 12) planted in the last estimate block
  // (28, 28): centre nint(15 - 2) = 13, clamped to 12.
  for (const auto [y, x, sy, sx] : {std::array{12, 14, 5, 9}, std::array{28, 28, 12, 12}}) {
    Planes planes(16, 16);
    std::mt19937 rng(3);
    for (int c = 0; c < 3; ++c) FillRandom(planes.y[c], rng, 0, 255), FillRandom(planes.x[c], rng, 0, 255);
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
    FillRandom(planes.x[c], rng, 60, 255);
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
    FillRandom(planes.y[c], rng, 0, 127);
    for (auto& v : planes.y[c]) v *= 2.0f;
    FillRandom(planes.x[c], rng, 0, 255);
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

// Random source and estimate planes in `a`, the same in `b`.
void FillTwins(Planes& a, Planes& b, unsigned seed) {
  std::mt19937 rng(seed);
  for (int c = 0; c < 3; ++c) {
    FillRandom(a.y[c], rng, 0, 255), FillRandom(a.x[c], rng, 0, 255);
    b.y[c] = a.y[c], b.x[c] = a.x[c];
  }
}

TEST(FractalTexture, LentBuffersGiveTheSameResult) {
  Planes own(14, 12), lent(14, 12);
  FillTwins(own, lent, 6);
  FractalTexture a, b;
  own.Run(a);
  std::vector<float> acc[3], bytes(28 * 24, 123.0f);
  for (auto& p : acc) p.assign(28 * 24, 55.0f);  // stale contents: Init clears them
  b.LendBuffers(acc[0].data(), acc[1].data(), acc[2].data(), bytes.data());
  lent.Run(b);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(own.o[c], lent.o[c]);
}

TEST(FractalTexture, RowBoundedCallsEqualOneCall) {
  // A caller whose estimate rows arrive in steps passes the rows it has as
  // the bound; an output row must wait until every block over the
  // accumulator rows it reads has been added.
  Planes whole(15, 14), steps(15, 14);
  FillTwins(whole, steps, 7);
  FractalTexture a, b;
  whole.Run(a);
  steps.Run(b, {9, 10, 16, 23, 27, ~0u});
  for (int c = 0; c < 3; ++c) EXPECT_EQ(whole.o[c], steps.o[c]) << c;
}

TEST(FractalTexture, SameForAnyThreadCountInBoundedSteps) {
  // Bounded calls stop between block rows at many points; the accumulators
  // of overlapping block rows must still add up in one fixed order.
  const FloatImage source = RenderTestChart(40, 36, 3);
  const int w = 40, h = 36, W = 80, H = 72;
  std::vector<float> x[3];
  for (int c = 0; c < 3; ++c) {
    x[c].resize(std::size_t(W) * H);
    for (int r = 0; r < H; ++r)
      for (int col = 0; col < W; ++col) x[c][std::size_t(r) * W + col] = source.samples(c)[std::size_t(r / 2) * w + col / 2];
  }
  std::vector<std::vector<float>> results;
  for (int threads : kThreadCountsToCompare) {
    ScopedThreadCount scope(threads);
    for (unsigned step : {1u, 7u, 1000u}) {
      std::vector<float> o[3];
      for (auto& plane : o) plane.assign(std::size_t(W) * H, -1.0f);
      FractalTexture ft;
      ft.Init(x[0].data(), x[1].data(), x[2].data(), W, H, source.samples(0), source.samples(1), source.samples(2), w,
              h, o[0].data(), o[1].data(), o[2].data());
      for (unsigned limit = step; limit < unsigned(H) + step; limit += step) ft.Run(std::min(limit, unsigned(H)), H);
      ft.Run(~0u, H);
      ft.Finish();
      std::vector<float> all;
      for (auto& plane : o) all.insert(all.end(), plane.begin(), plane.end());
      results.push_back(all);
    }
  }
  // Each step size against the same step size on one thread.
  for (std::size_t i = 3; i < results.size(); ++i) EXPECT_TRUE(SameBits(results[i], results[i % 3])) << i;
}

}  // namespace
