// Fixed-weight x2 enlargements (bilinear, cubic convolution) and pixel
// replication of one plane; source sample (x, y) lands on target (2x, 2y).
// The cubic rows have a Highway form besides the scalar loops: it widens to
// double and forms each sum as the scalar Cubic does, so the bits agree.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "resampling/fixed_upscalers.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>
#include "base/sweep-inl.h"

#include <algorithm>
#include <cstddef>

#include "base/simd.h"
#include "base/threading.h"
#include "resampling/fixed_upscalers.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::cubic {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// 0.625 (b + c) - 0.125 (a + d) in double, rounded to float.
template <class DF>
HWY_INLINE hn::Vec<DF> Cubic(DF df, hn::Vec<DF> a, hn::Vec<DF> b, hn::Vec<DF> c, hn::Vec<DF> d) {
  const hn::Rebind<double, DF> dd;
  auto wide = [&](hn::Vec<DF> v) { return hn::PromoteTo(dd, v); };
  const auto near = hn::Mul(hn::Set(dd, 0.625), hn::Add(wide(b), wide(c)));
  const auto far = hn::Mul(hn::Set(dd, 0.125), hn::Add(wide(a), wide(d)));
  return hn::DemoteTo(df, hn::Sub(near, far));
}

// Samples k in [k0, k1) of a source row s to c[2k] = s[k] and
// c[2k+1] = Cubic(s[k-1], s[k], s[k+1], s[k+2]).
void EvenRowHwy(const float* s, std::ptrdiff_t k0, std::ptrdiff_t k1, float* c) {
  auto samples = [&](auto df, std::ptrdiff_t k) {
    const auto at = hn::LoadU(df, s + k);
    const auto between = Cubic(df, hn::LoadU(df, s + k - 1), at, hn::LoadU(df, s + k + 1), hn::LoadU(df, s + k + 2));
    hn::StoreInterleaved2(at, between, df, c + 2 * k);
  };
  kestrune::HWY_NAMESPACE::Sweep(hn::Rebind<float, hn::ScalableTag<double>>(), k0, k1, samples);
}

// t[i] = Cubic(a[i], b[i], c[i], d[i]) for i in [0, n).
void CubicRowHwy(const float* a, const float* b, const float* c, const float* d, float* t, std::ptrdiff_t n) {
  auto samples = [&](auto df, std::ptrdiff_t i) {
    hn::StoreU(Cubic(df, hn::LoadU(df, a + i), hn::LoadU(df, b + i), hn::LoadU(df, c + i), hn::LoadU(df, d + i)), df,
               t + i);
  };
  kestrune::HWY_NAMESPACE::Sweep(hn::Rebind<float, hn::ScalableTag<double>>(), std::ptrdiff_t{0}, n, samples);
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::cubic
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune {

namespace cubic {
HWY_EXPORT(EvenRowHwy);
HWY_EXPORT(CubicRowHwy);
}  // namespace cubic

namespace {

using Index = std::ptrdiff_t;

// Cubic convolution (parameter -1) half-way between b and c, in double.
inline float Cubic(float a, float b, float c, float d) {
  return static_cast<float>(0.625 * (double(b) + double(c)) - 0.125 * (double(a) + double(d)));
}

inline float Mean(float a, float b) { return static_cast<float>((double(a) + double(b)) * 0.5); }

}  // namespace

void UpscaleBilinear2(const float* src, int w, int h, float* dst, int /*factor*/) {
  if (w <= 0 || h <= 0) return;
  const Index W = Index{2} * w;
  // Even rows, then the odd rows between them; the rows of each step are
  // independent, so the threads take runs of them.
  const Index grain = RowGrain(W);
  ParallelFor(0, h, grain, [&](Index y0, Index y1) {
    for (Index y = y0; y < y1; ++y) {
      const float* s = src + y * w;
      float* t = dst + 2 * y * W;
      for (Index x = 0; x < w; ++x) {
        t[2 * x] = s[x];
        t[2 * x + 1] = x + 1 < w ? (s[x] + s[x + 1]) * 0.5f : s[x];
      }
    }
  });
  ParallelFor(0, h - 1, grain, [&](Index y0, Index y1) {
    for (Index y = y0; y < y1; ++y) {
      const float* a = dst + 2 * y * W;
      const float* b = a + 2 * W;
      float* t = dst + (2 * y + 1) * W;
      for (Index j = 0; j < W; ++j) t[j] = (a[j] + b[j]) * 0.5f;
    }
  });
  const float* last = dst + (2 * Index{h} - 2) * W;
  float* t = dst + (2 * Index{h} - 1) * W;
  for (Index j = 0; j < W; ++j) t[j] = last[j];
}

void UpscaleBicubic2(const float* src, int w, int h, float* dst, int /*factor*/) {
  if (w <= 0 || h <= 0) return;
  const Index W = Index{2} * w, H = Index{2} * h;
  // Even rows: place the samples, then fill the odd columns. Then the odd
  // rows from the even rows. Rows of each step are independent, so the
  // threads take runs of them.
  const Index grain = RowGrain(W);
  const bool vector = !simd::ScalarKernels();
  ParallelFor(0, h, grain, [&](Index y0, Index y1) {
    for (Index y = y0; y < y1; ++y) {
      const float* s = src + y * w;
      float* c = dst + 2 * y * W;
      if (w >= 4 && vector) {
        // The odd samples between source samples 1 .. w-2 read the source
        // row itself, which is what the even samples hold.
        c[0] = s[0];
        HWY_DYNAMIC_DISPATCH(cubic::EvenRowHwy)(s, 1, w - 2, c);
        c[W - 4] = s[w - 2], c[W - 2] = s[w - 1];
        c[1] = Mean(c[0], c[2]);
        c[W - 3] = Mean(c[W - 4], c[W - 2]);
        c[W - 1] = c[W - 2];
        continue;
      }
      for (Index x = 0; x < w; ++x) c[2 * x] = s[x];
      if (w == 1) {  // a single column: its neighbour is repeated
        c[1] = c[0];
        continue;
      }
      c[1] = Mean(c[0], c[2]);
      for (Index k = 1; k <= w - 3; ++k) c[2 * k + 1] = Cubic(c[2 * k - 2], c[2 * k], c[2 * k + 2], c[2 * k + 4]);
      c[W - 3] = Mean(c[W - 4], c[W - 2]);
      c[W - 1] = c[W - 2];
    }
  });
  // Odd rows from the even rows, a whole row at a time.
  auto row = [&](Index j) { return dst + j * W; };
  auto meanRow = [&](Index j, Index a, Index b) {
    for (Index i = 0; i < W; ++i) row(j)[i] = Mean(row(a)[i], row(b)[i]);
  };
  if (h == 1) {  // a single row: its neighbour is repeated
    for (Index i = 0; i < W; ++i) row(1)[i] = row(0)[i];
    return;
  }
  meanRow(1, 0, 2);
  ParallelFor(0, std::max<Index>(0, (H - 3 - 3 + 1) / 2), grain, [&](Index k0, Index k1) {
    for (Index j = 3 + 2 * k0; j < std::min(H - 3, 3 + 2 * k1); j += 2) {
      const float *a = row(j - 3), *b = row(j - 1), *c = row(j + 1), *d = row(j + 3);
      float* t = row(j);
      if (vector) {
        HWY_DYNAMIC_DISPATCH(cubic::CubicRowHwy)(a, b, c, d, t, W);
        continue;
      }
      for (Index i = 0; i < W; ++i) t[i] = Cubic(a[i], b[i], c[i], d[i]);
    }
  });
  meanRow(H - 3, H - 4, H - 2);
  for (Index i = 0; i < W; ++i) row(H - 1)[i] = row(H - 2)[i];
}

void UpscaleReplicate(const float* src, int w, int h, float* dst, int factor) {
  if (w <= 0 || h <= 0 || factor <= 0) return;
  const Index f = factor, W = f * w;
  // Each source row makes its own f output rows.
  ParallelFor(0, h, RowGrain(f * W), [&](Index y0, Index y1) {
    for (Index y = y0; y < y1; ++y) {
      float* t = dst + f * y * W;
      for (Index x = 0; x < w; ++x)
        for (Index dx = 0; dx < f; ++dx) t[f * x + dx] = src[y * w + x];
      for (Index dy = 1; dy < f; ++dy)
        for (Index i = 0; i < W; ++i) t[dy * W + i] = t[i];
    }
  });
}

}  // namespace kestrune
#endif  // HWY_ONCE
