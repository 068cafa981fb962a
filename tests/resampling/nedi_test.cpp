// NEDI: the least-squares fit by hand and its fallback, every kind of site
// against a rebuild of its fit, which sites change, flat and small images,
// strips, threads and targets.
#include "resampling/nedi.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <stdexcept>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "resampling/edge_dir_resampler.h"
#include "resampling/inverse6.h"
#include "resampling/normal_sums.h"
#include "resampling/rgb_planes.h"
#include "support/simd_targets.h"

using namespace kestrune;

namespace {

Planes Chart(int w, int h, uint32_t seed = 7) { return ChartPlanes(w, h, seed); }

// The edge-directed enlargement NEDI starts from.
Planes InitialEstimate(const Planes& in) {
  Resampling::EdgeDirResampler r;
  r.SetSize(in.w, in.h);
  r.Analyze(in.p[0].data(), in.p[1].data(), in.p[2].data(), nullptr, nullptr, nullptr, 2);
  Planes out(2 * in.w, 2 * in.h);
  r.Apply(in.p[0].data(), in.p[1].data(), in.p[2].data(), out.p[0].data(), out.p[1].data(), out.p[2].data());
  return out;
}

// Runs NEDI as the pipeline configures it, in strips of `strip` rows (0: one
// call covering everything), then in the strips `more`.
Planes RunNedi(const Planes& in, int strip, float blurSpread = 0.2f, float noiseAmplitude = 4.0f,
               std::initializer_list<int> more = {}) {
  Planes out(2 * in.w, 2 * in.h);
  Nedi nedi;
  nedi.referenceLoading = false;
  nedi.trainingCapture = false;
  nedi.blurSpread = blurSpread;
  nedi.noiseAmplitude = noiseAmplitude;
  nedi.Init(in.p[0].data(), in.p[1].data(), in.p[2].data(), out.p[0].data(), out.p[1].data(), out.p[2].data(), in.w,
            in.h, 1, 1.0f, nullptr, false, true);
  if (strip <= 0) strip = in.h;
  for (int done = 0; done < in.h; done += strip) nedi.ProcessStrip(strip);
  for (int rows : more) nedi.ProcessStrip(rows);
  nedi.ReleaseBuffers();
  return out;
}

TEST(NediFit, HandWorkedLeastSquaresInverseAndTheZeroPivotFallback) {
  // Six rows e_k with targets t = (3, 1, 4, 1, 5, 9) and a seventh row
  // v = (1, 1, 2, 0, 0, 1) with target 5: the normal matrix is I + v v^T, so
  // a = u - v (v . u) / (1 + |v|^2) with u = t + 5 v = (8, 6, 14, 1, 5, 14),
  // v . u = 56 and 1 + |v|^2 = 8: a = (1, -1, 0, 1, 5, 7). No row fits
  // exactly: the residuals are 2v on the first six rows and -2 on the last.
  const float v[6] = {1, 1, 2, 0, 0, 1}, t[6] = {3, 1, 4, 1, 5, 9}, expect[6] = {1, -1, 0, 1, 5, 7};
  std::vector<float> X(7 * 6, 0.0f), b(t, t + 6);
  for (int k = 0; k < 6; ++k) X[k * 6 + k] = 1.0f, X[36 + k] = v[k];
  b.push_back(5.0f);
  float a[6];
  ASSERT_TRUE(Nedi::FitWeights(X.data(), b.data(), 7, a));
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(a[k], expect[k], 1e-4) << k;

  // A regressor that is 0 in every row (here e_3's 1 removed) leaves a zero
  // pivot: the fit falls back on the mean of the first two pairs. So does a
  // window without information.
  const float fallback[6] = {0.25f, 0.25f, 0, 0, 0, 0};
  X[3 * 6 + 3] = 0.0f;
  for (int empty = 0; empty < 2; ++empty) {
    if (empty) std::fill(X.begin(), X.end(), 0.0f);
    EXPECT_FALSE(Nedi::FitWeights(X.data(), b.data(), 7, a));
    for (int k = 0; k < 6; ++k) EXPECT_EQ(a[k], fallback[k]);
  }
  // Invert6: twice a permutation (every column needs a row interchange, first
  // column first): the inverse is half the transpose, exactly.
  const int perm[6] = {3, 0, 5, 1, 4, 2};  // column j has its 2 in row perm[j]
  float m[36] = {}, z[36];
  for (int j = 0; j < 6; ++j) m[j * 6 + perm[j]] = 2.0f;
  ASSERT_TRUE(Invert6(m));
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 6; ++i) EXPECT_EQ(m[j * 6 + i], j == perm[i] ? 0.5f : 0.0f) << i << ", " << j;
  // A column of zeros: an exactly zero pivot.
  for (int k = 0; k < 36; ++k) z[k] = k / 6 == 4 ? 0.0f : float(1 + (k * 7) % 11);
  EXPECT_FALSE(Invert6(z));
}

TEST(NediFit, NormalSumsOnEveryInstructionSet) {
  // Two rows (1, ..., 7): every sum is 2 p q (p, q counted from 1); no rows:
  // 0. The rounding of real windows is compared through whole runs below.
  std::vector<float> rows;
  for (int s = 0; s < 2; ++s)
    for (int k = 0; k < 8; ++k) rows.push_back(k < 7 ? float(k + 1) : 0.0f);
  ForEachSimdTarget([&](const std::string&) {
    float sums[64], none[64];
    NormalSums(rows.data(), 2, sums);
    NormalSums(rows.data(), 0, none);
    for (int p = 0; p < 7; ++p)
      for (int q = p; q < 7; ++q) {
        EXPECT_EQ(sums[p * 8 + q], float(2 * (p + 1) * (q + 1))) << p << ", " << q;
        EXPECT_EQ(none[p * 8 + q], 0.0f) << p << ", " << q;
      }
  });
}

// Reads beyond the grid mirrored about its first and last rows and columns.
float Read(const Planes& p, int c, int r, int col) {
  auto mirror = [](int i, int n) { return i < 0 ? -i : i >= n ? 2 * (n - 1) - i : i; };
  return p.at(c, mirror(r, p.h), mirror(col, p.w));
}

// Fits the pair weights to the 8 x 8 training positions at(i, j), three
// colours each, targets from T and pair sums pairs(c, r, col, k); site
// (r, col) of `out` must be the fitted weights applied to its own pair sums.
template <class At, class Pairs>
void ExpectFittedSite(const Planes& out, const Planes& T, int r, int col, At at, Pairs pairs) {
  std::vector<float> X, b;
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j)
      for (int c = 0; c < 3; ++c) {
        const auto [tr, tc] = at(i, j);
        b.push_back(Read(T, c, tr, tc));
        for (int k = 0; k < 6; ++k) X.push_back(pairs(c, tr, tc, k));
      }
  float a[6];
  Nedi::FitWeights(X.data(), b.data(), 192, a);
  for (int c = 0; c < 3; ++c) {
    float v = 0;
    for (int k = 0; k < 6; ++k) v += a[k] * pairs(c, r, col, k);
    EXPECT_NEAR(out.at(c, r, col), v, 1e-4f * std::fabs(v)) << "site " << r << ", " << col;
  }
}

// Without noise and with a blur too narrow to matter, the training copies
// equal the initial estimate and every fit can be rebuilt: the diagonal pass
// from the initial estimate, the axial pass from the provisional planes that
// follow from the finished diagonal sites; solved with the fit checked above
// (a double-precision solve of these nearly collinear windows differs).
TEST(Nedi, SitesMatchAnIndependentRebuildOfTheirFits) {
  const Planes in = Chart(40, 40, 21);
  const Planes E = InitialEstimate(in);
  const Planes out = RunNedi(in, 8, 1e-3f, 0.0f);
  const int W = out.w, H = out.h;
  static const int diag[12][2] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1},  {-2, -1}, {-2, 1},
                                  {-1, 2},  {1, 2},  {2, 1},  {2, -1}, {1, -2},  {-1, -2}};
  static const int axial[12][2] = {{-1, 0}, {0, 1}, {0, -1}, {1, 0},  {-2, 1},  {-1, 2},
                                   {1, 2},  {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}};
  static const int first[6] = {0, 1, 4, 5, 6, 7}, second[6] = {3, 2, 8, 9, 10, 11};

  // Diagonal sites, in the middle and near the borders: training positions
  // on the low-resolution pixels around the site.
  auto diagPairs = [&](int c, int r, int col, int k) {
    return Read(E, c, r + diag[first[k]][0], col + diag[first[k]][1]) +
           Read(E, c, r + diag[second[k]][0], col + diag[second[k]][1]);
  };
  const std::vector<int> lows = {1, 2, 3, 8, 12, 16, 20, 24, 28, 30, 36, 37, 38};
  int checked = 0;
  for (int y : lows)
    for (int x : lows) {
      if (out.at(0, 2 * y + 1, 2 * x + 1) == E.at(0, 2 * y + 1, 2 * x + 1)) continue;  // a flat site
      ExpectFittedSite(
          out, E, 2 * y + 1, 2 * x + 1,
          [&](int i, int j) {
            return std::pair{2 * (y + i - 4), 2 * (x + j - 4)};
          },
          diagPairs);
      ++checked;
    }
  EXPECT_GT(checked, 40);

  // Provisional planes, from the diagonal pass's output (the initial estimate
  // elsewhere): every axial site the gradient-weighted mean of its horizontal
  // and vertical pairs; the outer three rows hold the initial estimate.
  Planes S = E;
  for (int c = 0; c < 3; ++c)
    for (int r = 1; r < H; r += 2)
      for (int col = 1; col < W; col += 2) S.at(c, r, col) = out.at(c, r, col);
  Planes P = S;
  for (int c = 0; c < 3; ++c)
    for (int r : {0, 1, 2, H - 3, H - 2, H - 1})
      for (int col = 0; col < W; ++col) P.at(c, r, col) = E.at(c, r, col);
  // Every column of rows 3 .. H-4, columns beyond the edges mirrored.
  for (int r = 3; r < H - 3; ++r)
    for (int col = 0; col < W; ++col) {
      if (!((r + col) & 1)) continue;
      // Seven differences along each axis, the vertical ones transposed.
      static const int diffs[7][4] = {{0, 1, 0, -1},  {0, -1, 0, -3}, {0, 3, 0, 1}, {-1, 0, -1, -2},
                                      {-1, 2, -1, 0}, {1, 0, 1, -2},  {1, 2, 1, 0}};
      float dh = 0, dv = 0;
      for (int c = 0; c < 3; ++c)
        for (const int* d : diffs) {
          dh += std::fabs(Read(S, c, r + d[0], col + d[1]) - Read(S, c, r + d[2], col + d[3]));
          dv += std::fabs(Read(S, c, r + d[1], col + d[0]) - Read(S, c, r + d[3], col + d[2]));
        }
      float wh = 1 / ((dh + 0.01f) * (dh + 0.01f)), wv = 1 / ((dv + 0.01f) * (dv + 0.01f));
      const float scale = 0.5f / (wh + wv);
      wh *= scale, wv *= scale;
      for (int c = 0; c < 3; ++c)
        P.at(c, r, col) = (Read(S, c, r, col - 1) + Read(S, c, r, col + 1)) * wh +
                          (Read(S, c, r - 1, col) + Read(S, c, r + 1, col)) * wv;
    }
  // Axial sites: training positions on a diamond of even coordinate sum, a
  // knight offset fetched as the mean of its target and the sample next to
  // the position on the way there, both read mirrored.
  auto fetch = [&](int c, int r, int col, const int* d) -> float {
    const float v = Read(P, c, r + d[0], col + d[1]);
    if (d[0] < -1) return (v + Read(P, c, r + d[0] + 1, col)) / 2;
    if (d[0] > 1) return (v + Read(P, c, r + d[0] - 1, col)) / 2;
    if (d[1] < -1) return (v + Read(P, c, r, col + d[1] + 1)) / 2;
    if (d[1] > 1) return (v + Read(P, c, r, col + d[1] - 1)) / 2;
    return v;
  };
  auto axialPairs = [&](int c, int r, int col, int k) {
    return fetch(c, r, col, axial[first[k]]) + fetch(c, r, col, axial[second[k]]);
  };
  const std::vector<int> highs = {1, 2, 3, 4, 9, 20, 31, 47, 58, 70, 71, 75, 76, 77};
  checked = 0;
  for (int r : highs)
    for (int col0 : highs) {
      const int col = col0 + ((r + col0 + 1) & 1);  // an axial site
      if (col > W - 3 || out.at(0, r, col) == E.at(0, r, col)) continue;
      ExpectFittedSite(
          out, P, r, col,
          [&](int i, int j) {
            return std::pair{r - 7 + i + j, col - i + j};
          },
          axialPairs);
      ++checked;
    }
  EXPECT_GT(checked, 40);
}

TEST(Nedi, AnyStripsThreadCountAndInstructionSetGiveTheOneCallResult) {
  // Strips of 8 rows as the pipeline runs them, of 3, of 1 and one taller than
  // the rest, on every thread count and instruction set (the training rows and
  // normal sums have vector forms): the bits of one call on one thread with
  // the scalar kernels. Large enough for the second pass's training band.
  const Planes in = Chart(36, 45, 11);
  Planes whole(0, 0);
  {
    ScopedThreadCount one(1);
    whole = OnScalar([&] { return RunNedi(in, 0); });
  }
  ForEachSimdTarget([&](const std::string&) { EXPECT_TRUE(RunNedi(in, 8) == whole); });
  for (int threads : kThreadCountsToCompare) {
    ScopedThreadCount scope(threads);
    for (int strip : {0, 8, 3, 1, 20})
      EXPECT_TRUE(RunNedi(in, strip) == whole) << "strips of " << strip << ", " << threads << " threads";
  }
  // Further strips after the end, and empty or negative ones, change nothing.
  EXPECT_TRUE(RunNedi(in, 8, 0.2f, 4.0f, {8, 1000, 0, -5}) == whole);
  // Only the diagonal and axial sites away from the frame change.
  const Planes initial = InitialEstimate(in);
  const int W = whole.w, H = whole.h;
  int diagonalChanged = 0, axialChanged = 0;
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < H; ++r)
      for (int col = 0; col < W; ++col) {
        const bool changed = whole.at(c, r, col) != initial.at(c, r, col);
        const bool diagonal = (r & 1) && (col & 1) && r >= 3 && r <= H - 3 && col >= 3 && col <= W - 3;
        const bool axial = ((r + col) & 1) && r >= 1 && r <= H - 3 && col >= 1 && col <= W - 3;
        ASSERT_TRUE((diagonal || axial || !changed) && std::isfinite(whole.at(c, r, col))) << r << ", " << col;
        diagonalChanged += diagonal && changed, axialChanged += axial && changed;
      }
  EXPECT_GT(diagonalChanged, 3 * 100);
  EXPECT_GT(axialChanged, 3 * 200);
}

TEST(Nedi, RefusesUnsupportedSettings) {
  // Reference loading is on until the caller switches it off; then only one
  // extension, divisor 1, no cleaning, symmetric, and a blur spread above 0.
  Planes in(8, 8), out(16, 16);
  for (int bad = 0; bad <= 6; ++bad) {
    Nedi n;
    n.referenceLoading = bad == 0;
    n.blurSpread = bad == 5 ? 0.0f : 0.2f;
    auto init = [&] {
      n.Init(in.p[0].data(), in.p[1].data(), in.p[2].data(), out.p[0].data(), out.p[1].data(), out.p[2].data(), 8, 8,
             bad == 1 ? 0 : 1, bad == 2 ? 2.0f : 1.0f, nullptr, bad == 3, bad != 4);
    };
    if (bad == 6) {
      EXPECT_NO_THROW(init());
    } else
      EXPECT_THROW(init(), std::invalid_argument) << bad;
  }
}

TEST(Nedi, ConstantAndSmallImages) {
  // A constant picture keeps the initial estimate. The sanitizer build checks
  // the reads of the small ones; every size must run and keep the samples
  // finite.
  Planes flat(30, 26);
  for (int c = 0; c < 3; ++c) flat.p[c].assign(flat.p[c].size(), 90.0f + c);
  EXPECT_TRUE(RunNedi(flat, 8) == InitialEstimate(flat));
  for (int w = 1; w <= 12; w += 1) {
    const Planes out = RunNedi(Chart(w, 13 - w, 3), 8);
    for (int c = 0; c < 3; ++c)
      for (float v : out.p[c]) ASSERT_TRUE(std::isfinite(v)) << w << " x " << 13 - w;
  }
}

}  // namespace
