// HannSmooth: separable raised-cosine smoothing with a recursive phasor filter.
// The window sum and the first Fourier coefficient of the window (a complex
// running sum) are updated in constant time per sample, so the cost does not
// depend on the radius. Rows and columns compute exactly the same thing: the
// column pass runs along rows for all columns at once, and the row pass lays
// 8 or 16 rows side by side and runs the same column routine on them. Row
// groups and column bands are independent, so the threads share them out.
// The column updates have a scalar form and a Highway form that widens the
// floats to double as the scalar expressions do; both give the same bits.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "resampling/hann_smooth.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <numbers>
#include <vector>

#include "base/simd.h"
#include "base/threading.h"
#include "resampling/hann_smooth.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::hann_smooth {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// As many columns per vector as there are double lanes.
using DD = hn::ScalableTag<double>;
using DF = hn::Rebind<float, DD>;

// AddRow for the columns a whole vector covers; returns the first column left.
Index AddRowHwy(const float* row, Index W, double pr, double pi, float* sum, float* re, float* im) {
  const DD dd;
  const DF df;
  const Index lanes = static_cast<Index>(hn::Lanes(dd));
  const auto prv = hn::Set(dd, pr), piv = hn::Set(dd, pi);
  Index c = 0;
  for (; c + lanes <= W; c += lanes) {
    const auto v = hn::LoadU(df, row + c);
    const auto vd = hn::PromoteTo(dd, v);
    hn::StoreU(hn::Add(hn::LoadU(df, sum + c), v), df, sum + c);
    hn::StoreU(hn::DemoteTo(df, hn::Add(hn::PromoteTo(dd, hn::LoadU(df, re + c)), hn::Mul(vd, prv))), df, re + c);
    hn::StoreU(hn::DemoteTo(df, hn::Add(hn::PromoteTo(dd, hn::LoadU(df, im + c)), hn::Mul(vd, piv))), df, im + c);
  }
  return c;
}

// SlideColumns for the columns whole vectors cover; returns the first column
// left.
Index SlideColumnsHwy(const float* x, float* y, Index H, Index stride, Index W, const Slide& k, float* sum_, float* re_,
                      float* im_, bool odd) {
  const DD dd;
  const DF df;
  const Index lanes = static_cast<Index>(hn::Lanes(dd));
  const Index end = W / lanes * lanes;
  const auto c1 = hn::Set(dd, k.c1), s1 = hn::Set(dd, k.s1), c2 = hn::Set(dd, k.c2), s2 = hn::Set(dd, k.s2);
  const auto n = hn::Set(df, k.n);
  for (Index i = 1; i < H; ++i) {
    const float* in = x + Mirror(i + k.r, H) * stride;
    const float* out = x + Mirror(i - 1 - k.r, H) * stride;
    float* yr = OutputRow(y, i, stride, odd);
    for (Index c = 0; c < end; c += lanes) {
      const auto a = hn::LoadU(df, in + c), b = hn::LoadU(df, out + c);
      const auto sum = hn::Sub(hn::Add(hn::LoadU(df, sum_ + c), a), b);
      const auto d = hn::PromoteTo(dd, hn::Sub(a, b));
      const auto re = hn::PromoteTo(dd, hn::LoadU(df, re_ + c)), im = hn::PromoteTo(dd, hn::LoadU(df, im_ + c));
      const auto nre = hn::DemoteTo(df, hn::Add(hn::Add(hn::Mul(re, c2), hn::Mul(im, s2)), hn::Mul(d, c1)));
      const auto nim = hn::DemoteTo(df, hn::Add(hn::Sub(hn::Mul(im, c2), hn::Mul(re, s2)), hn::Mul(d, s1)));
      hn::StoreU(sum, df, sum_ + c);
      hn::StoreU(nre, df, re_ + c);
      hn::StoreU(nim, df, im_ + c);
      if (yr) hn::StoreU(hn::Div(hn::Add(sum, nre), n), df, yr + c);
    }
  }
  return end;
}

// Transposes 8 x 8 blocks: dst[j * dstStride + i] = src[i * srcStride + j]
// for i < 8 rows and the columns j < n (a multiple of 8); returns the
// columns done (0 where vectors hold fewer than eight floats).
Index Transpose8Hwy(const float* src, Index srcStride, Index n, float* dst, Index dstStride) {
#if HWY_TARGET == HWY_AVX2 || HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  const hn::FixedTag<float, 8> d;
  const hn::Repartition<double, decltype(d)> d64;
  using V = hn::Vec<decltype(d)>;
  // Pairs of rows interleaved, then pairs of pairs, then the 128-bit halves;
  // written out in full so that the compiler keeps all in registers.
  auto pairs = [&](V a, V b, V& lo, V& hi) {
    lo = hn::InterleaveLower(d, a, b);
    hi = hn::InterleaveUpper(d, a, b);
  };
  auto pairsOfPairs = [&](V a, V b, V& lo, V& hi) {
    lo = hn::BitCast(d, hn::InterleaveLower(d64, hn::BitCast(d64, a), hn::BitCast(d64, b)));
    hi = hn::BitCast(d, hn::InterleaveUpper(d64, hn::BitCast(d64, a), hn::BitCast(d64, b)));
  };
  auto halves = [&](V a, V b, Index j) {
    hn::StoreU(hn::ConcatLowerLower(d, b, a), d, dst + j * dstStride);
    hn::StoreU(hn::ConcatUpperUpper(d, b, a), d, dst + (j + 4) * dstStride);
  };
  Index m0 = 0;
  for (; m0 + 8 <= n; m0 += 8) {
    const float* s = src + m0;
    V t0, t1, t2, t3, t4, t5, t6, t7, r0, r1, r2, r3, r4, r5, r6, r7;
    pairs(hn::LoadU(d, s), hn::LoadU(d, s + srcStride), t0, t1);
    pairs(hn::LoadU(d, s + 2 * srcStride), hn::LoadU(d, s + 3 * srcStride), t2, t3);
    pairs(hn::LoadU(d, s + 4 * srcStride), hn::LoadU(d, s + 5 * srcStride), t4, t5);
    pairs(hn::LoadU(d, s + 6 * srcStride), hn::LoadU(d, s + 7 * srcStride), t6, t7);
    pairsOfPairs(t0, t2, r0, r1);
    pairsOfPairs(t1, t3, r2, r3);
    pairsOfPairs(t4, t6, r4, r5);
    pairsOfPairs(t5, t7, r6, r7);
    halves(r0, r4, m0);
    halves(r1, r5, m0 + 1);
    halves(r2, r6, m0 + 2);
    halves(r3, r7, m0 + 3);
  }
  return m0;
#else
  (void)src, (void)srcStride, (void)n, (void)dst, (void)dstStride;
  return 0;
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::hann_smooth
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune::hann_smooth {
HWY_EXPORT(AddRowHwy);
HWY_EXPORT(SlideColumnsHwy);
HWY_EXPORT(Transpose8Hwy);

// The scalar forms of the column updates.
// Adds window position `row` (phasor pr, pi) to the W running sums.
inline void AddRow(const float* row, Index W, double pr, double pi, float* sum, float* re, float* im, Index c) {
  for (; c < W; ++c) {
    const float v = row[c];
    sum[c] += v;
    re[c] = static_cast<float>(double(re[c]) + double(v) * pr);
    im[c] = static_cast<float>(double(im[c]) + double(v) * pi);
  }
}

// Slides the W windows by one sample per output row 1..H-1 (samples
// `stride` apart) and writes (sum + re) / n to the output rows (OutputRow),
// from column c on.
inline void SlideColumns(const float* x, float* y, Index H, Index stride, Index W, const Slide& k, float* sum_,
                         float* re_, float* im_, Index c0, bool odd) {
  for (Index i = 1; i < H; ++i) {
    const float* in = x + Mirror(i + k.r, H) * stride;
    const float* out = x + Mirror(i - 1 - k.r, H) * stride;
    float* yr = OutputRow(y, i, stride, odd);
    for (Index c = c0; c < W; ++c) {
      const float a = in[c], b = out[c];
      const float sum = sum_[c] + a - b;
      const double d = double(a - b);
      const double re = re_[c], im = im_[c];
      const float nre = static_cast<float>(re * k.c2 + im * k.s2 + d * k.c1);
      const float nim = static_cast<float>(im * k.c2 - re * k.s2 + d * k.s1);
      sum_[c] = sum;
      re_[c] = nre;
      im_[c] = nim;
      if (yr) yr[c] = (sum + nre) / k.n;
    }
  }
}

}  // namespace kestrune::hann_smooth

namespace kestrune {

namespace {

using hann_smooth::Index;

// Rows laid side by side in the row pass: sixteen make two vectors of
// doubles on AVX-512, whose recursions are independent and so overlap instead
// of waiting on each other; short planes take eight, keeping the laid-out
// copy below the size of a plane.
constexpr Index kMaxLanes = 16;
constexpr Index kTile = 16;

struct Window {
  int r = 0;      // radius after limiting to the sequence length
  int n = 1;      // window length 2r + 1
  double c1 = 0;  // cos(pi / n)
  double s1 = 0;  // sin(pi / n)
  double c2 = 0;  // cos(2 pi / n)
  double s2 = 0;  // sin(2 pi / n)
};

// Radius limited to the sequence length; r <= 0 means "copy unchanged".
Window MakeWindow(int radius, Index length) {
  Window wnd;
  Index r = radius;
  if (r >= length / 2) r = length / 2 - 1;
  wnd.r = static_cast<int>(std::max<Index>(r, 0));
  wnd.n = 2 * wnd.r + 1;
  const float pi = 3.14159265358979323846f;
  const float half = pi / static_cast<float>(wnd.n);
  const float full = 2.0f * pi / static_cast<float>(wnd.n);
  wnd.c1 = std::cos(double(half));
  wnd.s1 = std::sin(double(half));
  wnd.c2 = std::cos(double(full));
  wnd.s2 = std::sin(double(full));
  return wnd;
}

// The running sums of W sequences side by side (the columns of a W x H
// plane): the window sum and the real and imaginary parts of the phasor sum,
// all kept in float. Each column is computed exactly as a single sequence
// would be: the lanes never mix.
class ColumnSums {
 public:
  // W sequences whose consecutive samples lie `stride` floats apart.
  ColumnSums(const Window& wnd, Index W, Index stride) : wnd_(wnd), W_(W), stride_(stride), sum_(W), re_(W), im_(W) {}

  // Sums for output 0: window positions -r..r through the mirror rule.
  void Start(const float* x, Index H) {
    std::fill(sum_.begin(), sum_.end(), 0.0f);
    std::fill(re_.begin(), re_.end(), 0.0f);
    std::fill(im_.begin(), im_.end(), 0.0f);
    const bool scalar = simd::ScalarKernels();
    double pr = -wnd_.c1, pi = -wnd_.s1;  // phasor of window position 0
    for (Index q = -wnd_.r; q <= wnd_.r; ++q) {
      const float* row = x + hann_smooth::Mirror(q, H) * stride_;
      const Index c =
          scalar ? 0
                 : HWY_DYNAMIC_DISPATCH(hann_smooth::AddRowHwy)(row, W_, pr, pi, sum_.data(), re_.data(), im_.data());
      hann_smooth::AddRow(row, W_, pr, pi, sum_.data(), re_.data(), im_.data(), c);
      const double nr = pr * wnd_.c2 - pi * wnd_.s2;
      const double ni = pr * wnd_.s2 + pi * wnd_.c2;
      pr = nr;
      pi = ni;
    }
  }

  // Writes output rows 1..H-1 of the W sequences (samples `stride` apart in
  // x and y), sliding every window by one row per output row; with `odd`
  // only the odd rows, packed (row i to row i / 2 of y).
  void Slide(const float* x, float* y, Index H, bool odd) {
    const hann_smooth::Slide k{-wnd_.c1, wnd_.s1, wnd_.c2, wnd_.s2, wnd_.r, static_cast<float>(wnd_.n)};
    const Index c = simd::ScalarKernels()
                        ? 0
                        : HWY_DYNAMIC_DISPATCH(hann_smooth::SlideColumnsHwy)(x, y, H, stride_, W_, k, sum_.data(),
                                                                             re_.data(), im_.data(), odd);
    if (c < W_) hann_smooth::SlideColumns(x, y, H, stride_, W_, k, sum_.data(), re_.data(), im_.data(), c, odd);
  }

  void Value(float* y) const {
    const float n = static_cast<float>(wnd_.n);
    for (Index c = 0; c < W_; ++c) y[c] = (sum_[c] + re_[c]) / n;
  }

 private:
  Window wnd_;
  Index W_, stride_;
  std::vector<float> sum_, re_, im_;
};

// Columns [c0, c1) of the W x H plane x into y (distinct buffers), all of
// them advancing together; with `odd` only the odd rows are written, as the
// rows of a W x H/2 plane y.
void SmoothColumnRange(const float* x, float* y, Index W, Index H, Index c0, Index c1, const Window& wnd, bool odd) {
  x += c0;
  y += c0;
  ColumnSums sums(wnd, c1 - c0, W);
  sums.Start(x, H);
  if (!odd) sums.Value(y);
  sums.Slide(x, y, H, odd);
}

// Every column of the W x H plane x into y (distinct buffers), with `odd`
// the odd rows only (y is W x H/2). Columns are independent; the threads
// take bands of them.
void SmoothColumns(const float* x, float* y, Index W, Index H, const Window& wnd, bool odd) {
  if (H <= 2 || wnd.r == 0) {
    for (Index i = odd ? 1 : 0; i < H; i += odd ? 2 : 1) std::copy_n(x + i * W, W, y + (odd ? i / 2 : i) * W);
    return;
  }
  constexpr Index kBand = 256;
  const Index bands = (W + kBand - 1) / kBand;
  ParallelFor(0, bands, RowGrain(kBand * H), [&](Index b0, Index b1) {
    SmoothColumnRange(x, y, W, H, b0 * kBand, std::min(W, b1 * kBand), wnd, odd);
  });
}

// Every row of the W x H plane x into y: groupRows rows at a time (8 or 16)
// are laid side by side (sample m of row l at m * groupRows + l), which makes
// them the columns of a groupRows-wide plane for the column routine. With
// `odd` only the odd columns are kept: y is W/2 x H, its column j holding
// column 2j + 1.
void SmoothRows(const float* x, float* y, Index W, Index H, const Window& wnd, bool odd) {
  const Index outW = odd ? W / 2 : W;
  if (W <= 2 || wnd.r == 0) {
    for (Index i = 0; i < H; ++i)
      for (Index j = 0; j < outW; ++j) y[i * outW + j] = x[i * W + (odd ? 2 * j + 1 : j)];
    return;
  }
  // Groups of rows are independent; the threads take runs of them.
  const Index groupRows = H >= 8 * kMaxLanes ? kMaxLanes : kMaxLanes / 2;
  const Index groups = (H + groupRows - 1) / groupRows;
  const bool vector = !simd::ScalarKernels();
  ParallelFor(0, groups, RowGrain(groupRows * W), [&](Index g0, Index g1) {
    std::vector<float> in(std::size_t(W * groupRows)), out(std::size_t(outW * groupRows));
    for (Index y0 = g0 * groupRows; y0 < std::min(H, g1 * groupRows); y0 += groupRows) {
      const Index lanes = std::min(groupRows, H - y0);
      // Both copies go through tiles of kTile columns: a tile's share of a row
      // is one cache line, and the laid-out tile stays in the first level
      // cache, whose sets the rows of a power-of-two width would otherwise
      // crowd.
      // A full group goes through 8 x 8 vector transposes where the vectors
      // hold eight floats, the columns they leave one by one.
      for (Index m0 = 0; m0 < W; m0 += kTile) {
        const Index m1 = std::min(W, m0 + kTile);
        Index done = 0;
        if (lanes == groupRows && vector)
          for (Index l = 0; l < groupRows; l += 8)
            done = HWY_DYNAMIC_DISPATCH(hann_smooth::Transpose8Hwy)(x + (y0 + l) * W + m0, W, m1 - m0,
                                                                    in.data() + m0 * groupRows + l, groupRows);
        for (Index l = 0; l < groupRows; ++l)
          for (Index m = m0 + done; m < m1; ++m) in[m * groupRows + l] = l < lanes ? x[(y0 + l) * W + m] : 0.0f;
      }
      SmoothColumnRange(in.data(), out.data(), groupRows, W, 0, groupRows, wnd, odd);
      for (Index m0 = 0; m0 < outW; m0 += kTile) {
        const Index m1 = std::min(outW, m0 + kTile);
        Index done = 0;
        if (lanes == groupRows && vector)
          for (Index l = 0; l < groupRows; l += 8)
            for (Index j = 0; j + 8 <= m1 - m0; j += 8) {
              // Rows m0 + j .. of the laid-out plane, lanes l .. l + 7.
              if (HWY_DYNAMIC_DISPATCH(hann_smooth::Transpose8Hwy)(out.data() + (m0 + j) * groupRows + l, groupRows, 8,
                                                                   y + (y0 + l) * outW + m0 + j, outW) == 0)
                break;
              done = j + 8;
            }
        for (Index l = 0; l < lanes; ++l)
          for (Index m = m0 + done; m < m1; ++m) y[(y0 + l) * outW + m] = out[m * groupRows + l];
      }
    }
  });
}

// The window's weights as the running sums apply them: position j of the
// 2r + 1 carries (1 - cos(pi (2j + 1) / n)) / n.
std::vector<double> LocalWeights(const Window& wnd) {
  std::vector<double> weights(std::size_t(wnd.n));
  const double n = double(float(wnd.n));
  for (int j = 0; j < wnd.n; ++j)
    weights[std::size_t(j)] = (1.0 - std::cos(std::numbers::pi * double(2 * j + 1) / n)) / n;
  return weights;
}

// Rows of the W x H plane x into y as direct sums, sums in double, taps in
// window order; with `odd` only the odd columns, as the columns of a W/2 x H
// plane y.
void LocalRows(const float* x, float* y, Index W, Index H, const Window& wnd, bool odd) {
  const Index outW = odd ? W / 2 : W, first = odd ? 1 : 0, step = odd ? 2 : 1;
  if (W <= 2 || wnd.r == 0) {
    for (Index l = 0; l < H; ++l)
      for (Index i = first; i < W; i += step) y[l * outW + i / step] = x[l * W + i];
    return;
  }
  const std::vector<double> weights = LocalWeights(wnd);
  const int r = wnd.r;
  ParallelFor(0, H, RowGrain(W * wnd.n), [&](Index l0, Index l1) {
    for (Index l = l0; l < l1; ++l) {
      const float* in = x + l * W;
      float* out = y + l * outW;
      for (Index i = first; i < W; i += step) {
        double sum = 0.0;
        if (i >= r && i + r < W) {
          for (int j = 0; j < wnd.n; ++j) sum += weights[std::size_t(j)] * double(in[i - r + j]);
        } else {
          for (int j = 0; j < wnd.n; ++j)
            sum += weights[std::size_t(j)] * double(in[hann_smooth::Mirror(i - r + j, W)]);
        }
        out[i / step] = static_cast<float>(sum);
      }
    }
  });
}

// Columns of x into y as direct sums, a whole row of outputs at a time; with
// `odd` only the odd rows, as the rows of a W x H/2 plane y.
void LocalColumns(const float* x, float* y, Index W, Index H, const Window& wnd, bool odd) {
  const Index first = odd ? 1 : 0, step = odd ? 2 : 1;
  if (H <= 2 || wnd.r == 0) {
    for (Index i = first; i < H; i += step) std::copy_n(x + i * W, W, y + i / step * W);
    return;
  }
  const std::vector<double> weights = LocalWeights(wnd);
  const int r = wnd.r;
  // Output rows first + step * i for i in [i0, i1).
  ParallelFor(0, (H - first + step - 1) / step, RowGrain(W * wnd.n), [&](Index i0, Index i1) {
    std::vector<double> sum(static_cast<std::size_t>(W));
    for (Index i = i0; i < i1; ++i) {
      const Index row = first + step * i;
      std::fill(sum.begin(), sum.end(), 0.0);
      for (int j = 0; j < wnd.n; ++j) {
        const float* in = x + hann_smooth::Mirror(row - r + j, H) * W;
        const double wj = weights[std::size_t(j)];
        for (Index c = 0; c < W; ++c) sum[std::size_t(c)] += wj * double(in[c]);
      }
      float* out = y + i * W;
      for (Index c = 0; c < W; ++c) out[c] = static_cast<float>(sum[std::size_t(c)]);
    }
  });
}

}  // namespace

void HannSmoothLocal(const float* src, float* dst, int W, int H, int r, float* tmp) {
  if (W <= 0 || H <= 0) return;
  LocalRows(src, tmp, W, H, MakeWindow(r, W), false);
  LocalColumns(tmp, dst, W, H, MakeWindow(r, H), false);
}

void HannSmooth(const float* src, float* dst, int W, int H, int r, float* tmp) {
  if (W <= 0 || H <= 0) return;
  SmoothRows(src, tmp, W, H, MakeWindow(r, W), false);
  SmoothColumns(tmp, dst, W, H, MakeWindow(r, H), false);
}

// Columns are independent: the column pass takes the odd ones alone, and
// writes their odd rows only.
void HannSmoothOdd(const float* src, float* dst, int W, int H, int r, float* tmp) {
  if (W <= 1 || H <= 1) return;
  SmoothRows(src, tmp, W, H, MakeWindow(r, W), true);
  SmoothColumns(tmp, dst, W / 2, H, MakeWindow(r, H), true);
}

void HannSmoothLocalOdd(const float* src, float* dst, int W, int H, int r, float* tmp) {
  if (W <= 1 || H <= 1) return;
  LocalRows(src, tmp, W, H, MakeWindow(r, W), true);
  LocalColumns(tmp, dst, W / 2, H, MakeWindow(r, H), true);
}

}  // namespace kestrune
#endif  // HWY_ONCE
