// Tests of NEDI: the least-squares fit against an independent solve and its
// fallback, flat and degenerate images, which sites change, and the strip
// bookkeeping.
#include "resampling/nedi.h"

#include <gtest/gtest.h>

#include "resampling/rgb_planes.h"

#include <cmath>
#include <functional>
#include <stdexcept>
#include <vector>

#include "image/test_chart.h"
#include "resampling/edge_dir_resampler.h"

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
// call covering everything); `after` is called once the strips are done.
Planes RunNedi(const Planes& in, int strip, float blurSpread = 0.2f, float noiseAmplitude = 4.0f,
               const std::function<void(Nedi&, const Planes&)>& after = {}) {
  Planes out(2 * in.w, 2 * in.h);
  Nedi nedi;
  nedi.referenceLoading = false;
  nedi.trainingCapture = false;
  nedi.blurSpread = blurSpread;
  nedi.noiseAmplitude = noiseAmplitude;
  nedi.Init(in.p[0].data(), in.p[1].data(), in.p[2].data(), out.p[0].data(), out.p[1].data(), out.p[2].data(), in.w,
            in.h, 1, 1.0f, nullptr, false, true);
  if (strip <= 0) {
    nedi.ProcessStrip(in.h);
  } else {
    for (int done = 0; done < in.h; done += strip) nedi.ProcessStrip(strip);
  }
  if (after) after(nedi, out);
  nedi.ReleaseBuffers();
  return out;
}

// Solves (X^T X) a = X^T b in double precision by Gaussian elimination with
// partial pivoting.
std::vector<double> SolveNormalEquations(const std::vector<float>& X, const std::vector<float>& b, int rows) {
  double M[6][7] = {};
  for (int s = 0; s < rows; ++s)
    for (int p = 0; p < 6; ++p) {
      for (int q = 0; q < 6; ++q) M[p][q] += double(X[s * 6 + p]) * X[s * 6 + q];
      M[p][6] += double(X[s * 6 + p]) * b[s];
    }
  for (int k = 0; k < 6; ++k) {
    int best = k;
    for (int i = k + 1; i < 6; ++i)
      if (std::fabs(M[i][k]) > std::fabs(M[best][k])) best = i;
    for (int j = 0; j < 7; ++j) std::swap(M[k][j], M[best][j]);
    for (int i = k + 1; i < 6; ++i) {
      const double f = M[i][k] / M[k][k];
      for (int j = k; j < 7; ++j) M[i][j] -= f * M[k][j];
    }
  }
  std::vector<double> a(6);
  for (int k = 5; k >= 0; --k) {
    double v = M[k][6];
    for (int j = k + 1; j < 6; ++j) v -= M[k][j] * a[j];
    a[k] = v / M[k][k];
  }
  return a;
}

TEST(NediFit, MatchesAnIndependentDoublePrecisionSolve) {
  // Pair sums of a smooth 0..255 signal plus a known linear law and a small
  // disturbance, like a training window.
  const int S = 192;
  std::vector<float> X(S * 6), b(S);
  const double truth[6] = {0.3, 0.22, -0.05, 0.04, 0.08, -0.1};
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1664525u + 1013904223u;
    return float(seed >> 8) / 16777216.0f;
  };
  for (int s = 0; s < S; ++s) {
    double t = 0;
    for (int k = 0; k < 6; ++k) {
      X[s * 6 + k] = 40.0f + 400.0f * next();
      t += truth[k] * X[s * 6 + k];
    }
    b[s] = float(t + 2.0 * (next() - 0.5));
  }
  float a[6];
  ASSERT_TRUE(Nedi::FitWeights(X.data(), b.data(), S, a));
  const std::vector<double> ref = SolveNormalEquations(X, b, S);
  for (int k = 0; k < 6; ++k) {
    EXPECT_NEAR(a[k], ref[k], 2e-3) << k;
    EXPECT_NEAR(a[k], truth[k], 0.02) << k;
  }
}

TEST(NediFit, ZeroPivotGivesTheFallbackMean) {
  // A regressor that is 0 over the whole window (a pair that never sees any
  // signal) leaves a zero row and column in the normal matrix: the LU
  // factorisation meets an exactly zero pivot.
  const int S = 192;
  std::vector<float> X(S * 6), b(S);
  for (int s = 0; s < S; ++s) {
    for (int k = 0; k < 6; ++k) X[s * 6 + k] = float((s * 31 + k * 17) % 97);
    X[s * 6 + 3] = 0.0f;
    b[s] = float(s % 13);
  }
  float a[6];
  EXPECT_FALSE(Nedi::FitWeights(X.data(), b.data(), S, a));
  const float fallback[6] = {0.25f, 0.25f, 0, 0, 0, 0};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(a[k], fallback[k]);

  std::fill(X.begin(), X.end(), 0.0f);  // no information at all
  EXPECT_FALSE(Nedi::FitWeights(X.data(), b.data(), S, a));
  for (int k = 0; k < 6; ++k) EXPECT_EQ(a[k], fallback[k]);

  // Columns that are dependent only up to rounding are not singular for the
  // factorisation: the fit proceeds and returns finite weights.
  for (int s = 0; s < S; ++s) {
    for (int k = 0; k < 6; ++k) X[s * 6 + k] = float((s * 31 + k * 17) % 97);
    X[s * 6 + 4] = X[s * 6 + 2];
  }
  Nedi::FitWeights(X.data(), b.data(), S, a);
  for (int k = 0; k < 6; ++k) EXPECT_TRUE(std::isfinite(a[k]));
}

// Without noise and with a blur too narrow to matter, the training copies
// equal the initial estimate and every fit can be rebuilt from public data:
// the diagonal pass from the initial estimate, the axial pass from the
// provisional planes, which follow from the finished diagonal sites. Both
// training sets are rebuilt here from the definition and solved with the
// fit checked above (a double-precision solve of these nearly collinear
// windows differs from the single-precision one by up to a few units).
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

  // Reads beyond the grid are mirrored about its first and last rows and
  // columns (neither repeated).
  auto mirror = [](int i, int n) { return i < 0 ? -i : i >= n ? 2 * (n - 1) - i : i; };
  auto read = [&](const Planes& p, int c, int r, int col) { return p.at(c, mirror(r, H), mirror(col, W)); };
  const std::vector<int> lows = {1, 2, 3, 8, 12, 16, 20, 24, 28, 30, 36, 37, 38};
  int checked = 0;
  // Diagonal sites, in the middle and near the borders.
  for (int y : lows)
    for (int x : lows) {
      const int r = 2 * y + 1, col = 2 * x + 1;
      if (out.at(0, r, col) == E.at(0, r, col)) continue;  // a flat site
      std::vector<float> X, b;
      for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j)
          for (int c = 0; c < 3; ++c) {
            const int ty = 2 * (y + i - 4), tx = 2 * (x + j - 4);
            b.push_back(read(E, c, ty, tx));
            for (int k = 0; k < 6; ++k)
              X.push_back(read(E, c, ty + diag[first[k]][0], tx + diag[first[k]][1]) +
                          read(E, c, ty + diag[second[k]][0], tx + diag[second[k]][1]));
          }
      float a[6];
      Nedi::FitWeights(X.data(), b.data(), 192, a);
      for (int c = 0; c < 3; ++c) {
        float v = 0;
        for (int k = 0; k < 6; ++k)
          v += a[k] * (E.at(c, r + diag[first[k]][0], col + diag[first[k]][1]) +
                       E.at(c, r + diag[second[k]][0], col + diag[second[k]][1]));
        EXPECT_NEAR(out.at(c, r, col), v, 1e-4f * std::fabs(v)) << "diagonal site " << r << ", " << col;
      }
      ++checked;
    }
  EXPECT_GT(checked, 40);

  // Provisional planes, formed from the output as the diagonal pass left it
  // (its results at the diagonal sites, the initial estimate elsewhere):
  // every axial site replaced by the gradient-weighted mean of its horizontal
  // and vertical pairs. The outer three rows, where no such mean is formed,
  // hold the initial estimate.
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
      float dh = 0, dv = 0;
      for (int c = 0; c < 3; ++c) {
        auto o = [&](int dy, int dx) { return read(S, c, r + dy, col + dx); };
        dh += std::fabs(o(0, 1) - o(0, -1));
        dh += std::fabs(o(0, -1) - o(0, -3));
        dh += std::fabs(o(0, 3) - o(0, 1));
        dh += std::fabs(o(-1, 0) - o(-1, -2));
        dh += std::fabs(o(-1, 2) - o(-1, 0));
        dh += std::fabs(o(1, 0) - o(1, -2));
        dh += std::fabs(o(1, 2) - o(1, 0));
        dv += std::fabs(o(1, 0) - o(-1, 0));
        dv += std::fabs(o(-1, 0) - o(-3, 0));
        dv += std::fabs(o(3, 0) - o(1, 0));
        dv += std::fabs(o(0, -1) - o(-2, -1));
        dv += std::fabs(o(2, -1) - o(0, -1));
        dv += std::fabs(o(0, 1) - o(-2, 1));
        dv += std::fabs(o(2, 1) - o(0, 1));
      }
      float wh = 1 / ((dh + 0.01f) * (dh + 0.01f)), wv = 1 / ((dv + 0.01f) * (dv + 0.01f));
      const float scale = 0.5f / (wh + wv);
      wh *= scale, wv *= scale;
      for (int c = 0; c < 3; ++c)
        P.at(c, r, col) = (read(S, c, r, col - 1) + read(S, c, r, col + 1)) * wh +
                          (read(S, c, r - 1, col) + read(S, c, r + 1, col)) * wv;
    }
  // The averaged fetch of a knight offset: the target and the sample next
  // to (r, c) on the way there, both read mirrored.
  auto fetch = [&](int c, int r, int col, int dy, int dx) -> float {
    const float v = read(P, c, r + dy, col + dx);
    if (dy < -1) return (v + read(P, c, r + dy + 1, col)) / 2;
    if (dy > 1) return (v + read(P, c, r + dy - 1, col)) / 2;
    if (dx < -1) return (v + read(P, c, r, col + dx + 1)) / 2;
    if (dx > 1) return (v + read(P, c, r, col + dx - 1)) / 2;
    return v;
  };
  const std::vector<int> highs = {1, 2, 3, 4, 9, 20, 31, 47, 58, 70, 71, 75, 76, 77};
  checked = 0;
  for (int r : highs)
    for (int col0 : highs) {
      const int col = col0 + ((r + col0 + 1) & 1);  // an axial site
      if (col > W - 3) continue;
      if (out.at(0, r, col) == E.at(0, r, col)) continue;
      std::vector<float> X, b;
      for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j)
          for (int c = 0; c < 3; ++c) {
            const int tr = r - 7 + i + j, tc = col - i + j;
            b.push_back(read(P, c, tr, tc));
            for (int k = 0; k < 6; ++k) {
              const int* e1 = axial[first[k]];
              const int* e2 = axial[second[k]];
              X.push_back(fetch(c, tr, tc, e1[0], e1[1]) + fetch(c, tr, tc, e2[0], e2[1]));
            }
          }
      float a[6];
      Nedi::FitWeights(X.data(), b.data(), 192, a);
      for (int c = 0; c < 3; ++c) {
        float v = 0;
        for (int k = 0; k < 6; ++k)
          v += a[k] * (fetch(c, r, col, axial[first[k]][0], axial[first[k]][1]) +
                       fetch(c, r, col, axial[second[k]][0], axial[second[k]][1]));
        EXPECT_NEAR(out.at(c, r, col), v, 1e-4f * std::fabs(v)) << "axial site " << r << ", " << col;
      }
      ++checked;
    }
  EXPECT_GT(checked, 40);
}

TEST(Nedi, ConstantImageKeepsTheInitialEstimate) {
  Planes in(30, 26);
  for (int c = 0; c < 3; ++c) in.p[c].assign(in.p[c].size(), 90.0f + c);
  const Planes out = RunNedi(in, 8);
  const Planes initial = InitialEstimate(in);
  EXPECT_TRUE(out == initial);
}

TEST(Nedi, DependentRegressorsTakeTheMeanOfTheFourNeighbours) {
  // Columns alternating between -100 and +100, with a noise-free, unblurred
  // training copy: the initial estimate is exactly 0 in every odd column, so
  // four of the six diagonal-pass regressors are 0 in the whole window and
  // the normal matrix has a zero pivot. The mean of the four diagonal
  // neighbours, -100 + 100 + -100 + 100, is 0; a solve through the singular
  // matrix would give no finite value.
  Planes in(32, 32);
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < in.h; ++y)
      for (int x = 0; x < in.w; ++x) in.at(c, y, x) = (x & 1) ? 100.0f : -100.0f;
  const Planes out = RunNedi(in, 8, 1e-3f, 0.0f);
  for (int c = 0; c < 3; ++c)
    for (int y = 6; y < 26; ++y)
      for (int x = 6; x < 24; ++x) ASSERT_EQ(out.at(c, 2 * y + 1, 2 * x + 1), 0.0f) << y << " " << x;
}

TEST(Nedi, OnlyTheDesignatedSitesChange) {
  const Planes in = Chart(40, 36);
  const Planes initial = InitialEstimate(in);
  const Planes out = RunNedi(in, 8);
  const int W = out.w, H = out.h;
  int diagonalChanged = 0, axialChanged = 0;
  for (int c = 0; c < 3; ++c) {
    for (int r = 0; r < H; ++r) {
      for (int col = 0; col < W; ++col) {
        const bool changed = out.at(c, r, col) != initial.at(c, r, col);
        const bool diagonal = (r & 1) && (col & 1) && r >= 3 && r <= H - 3 && col >= 3 && col <= W - 3;
        const bool axial = ((r + col) & 1) && r >= 1 && r <= H - 3 && col >= 1 && col <= W - 3;
        if (!diagonal && !axial) {
          ASSERT_FALSE(changed) << "(" << r << ", " << col << ")";
        }
        diagonalChanged += diagonal && changed;
        axialChanged += axial && changed;
        ASSERT_TRUE(std::isfinite(out.at(c, r, col)));
      }
    }
  }
  EXPECT_GT(diagonalChanged, 3 * 100);
  EXPECT_GT(axialChanged, 3 * 200);
}

TEST(Nedi, StripsGiveTheSameResultAsOneCall) {
  const Planes in = Chart(36, 45, 11);
  const Planes whole = RunNedi(in, 0);
  for (int strip : {8, 3, 1, 20}) {
    const Planes parts = RunNedi(in, strip);
    EXPECT_TRUE(parts == whole) << "strips of " << strip;
  }
}

TEST(Nedi, FurtherStripsAfterTheEndChangeNothing) {
  const Planes in = Chart(28, 24, 5);
  Planes done(0, 0);
  const Planes out = RunNedi(in, 8, 0.2f, 4.0f, [&](Nedi& nedi, const Planes& sofar) {
    done = sofar;
    for (int rows : {8, 1000, 0, -5}) nedi.ProcessStrip(rows);
  });
  EXPECT_TRUE(out == done);
  // The same input always gives the same output.
  EXPECT_TRUE(RunNedi(in, 8) == done);
}

TEST(Nedi, RefusesUnsupportedSettings) {
  Planes in(8, 8), out(16, 16);
  auto init = [&](Nedi& n, int ext, float div, bool clean, bool sym) {
    n.Init(in.p[0].data(), in.p[1].data(), in.p[2].data(), out.p[0].data(), out.p[1].data(), out.p[2].data(), 8, 8,
           ext, div, nullptr, clean, sym);
  };
  Nedi fresh;  // reference loading is on until the caller switches it off
  EXPECT_THROW(init(fresh, 1, 1.0f, false, true), std::invalid_argument);
  Nedi n;
  n.referenceLoading = false;
  EXPECT_THROW(init(n, 0, 1.0f, false, true), std::invalid_argument);
  EXPECT_THROW(init(n, 1, 2.0f, false, true), std::invalid_argument);
  EXPECT_THROW(init(n, 1, 1.0f, true, true), std::invalid_argument);
  EXPECT_THROW(init(n, 1, 1.0f, false, false), std::invalid_argument);
  n.blurSpread = 0.0f;
  EXPECT_THROW(init(n, 1, 1.0f, false, true), std::invalid_argument);
  n.blurSpread = 0.2f;
  EXPECT_NO_THROW(init(n, 1, 1.0f, false, true));
}

TEST(Nedi, SmallImagesStayInsideTheirPlanes) {
  // The sanitizer build checks the reads; every size must run and keep the
  // samples finite.
  for (int w = 1; w <= 12; w += 1) {
    const int h = 13 - w;
    const Planes in = Chart(w, h, 3);
    const Planes out = RunNedi(in, 8);
    for (int c = 0; c < 3; ++c)
      for (float v : out.p[c]) ASSERT_TRUE(std::isfinite(v)) << w << " x " << h;
  }
}

}  // namespace
