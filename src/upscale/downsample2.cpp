// Downsample2: kernel (-s, -s, 0.5, 1, 0.5, -s, -s) normalised to sum 1, applied
// around every even sample, first along rows into the temporary plane, then
// along its columns. The weights are floats; each sum is formed in double
// precision, taps from left (top) to right (bottom), divided by the sum of the
// float weights and stored as float. Rounding the weights to float leaves
// their sum a few parts in 10^8 off 1, which would turn a flat plane into one
// a unit in the last place lower; the enhancement's fourth-root residual
// magnifies such a unit into a visible step.
// Both passes have a scalar form and a Highway form that widens the floats
// to double and adds the taps in the same order: the same bits. (A float
// times a float is exact in double, so the vector form may fuse each product
// with its addition: the one rounding is the addition's either way.)
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "upscale/downsample2.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>
#include "base/sweep-inl.h"

#include <cstddef>

#include "base/simd.h"
#include "base/threading.h"
#include "upscale/downsample2.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::downsample2 {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Outputs [x0, x1) of one row, all taps inside it (x0 >= 2, 2 x1 + 1 < n):
// output x sums w[t] src[2x - 3 + t], t = 0..6, in double.
void RowHwy(const float* src, std::ptrdiff_t x0, std::ptrdiff_t x1, float* dst, const float* w, double norm) {
  auto outputs = [&](auto dd, std::ptrdiff_t x) {
    const hn::Rebind<float, decltype(dd)> df;
    // Even and odd samples from 2x - 4 + 2m: tap t of lane j, sample
    // 2(x + j) - 3 + t, is odd[t / 2] for even t and even[(t + 1) / 2] for odd t.
    hn::Vec<decltype(df)> even[4], odd[4];
    for (int m = 0; m < 4; ++m) hn::LoadInterleaved2(df, src + 2 * x - 4 + 2 * m, even[m], odd[m]);
    const hn::Vec<decltype(df)> taps[7] = {odd[0], even[1], odd[1], even[2], odd[2], even[3], odd[3]};
    auto sum = hn::Zero(dd);
    for (int t = 0; t < 7; ++t) sum = hn::MulAdd(hn::Set(dd, double(w[t])), hn::PromoteTo(dd, taps[t]), sum);
    hn::StoreU(hn::DemoteTo(df, hn::Mul(sum, hn::Set(dd, norm))), df, dst + x);
  };
  kestrune::HWY_NAMESPACE::Sweep(hn::ScalableTag<double>(), x0, x1, outputs);
}

// One output row of the column pass: rows[0..6] are the taps' rows.
void ColumnsHwy(const float* const* rows, std::ptrdiff_t n, float* out, const float* w, double norm) {
  auto outputs = [&](auto dd, std::ptrdiff_t x) {
    const hn::Rebind<float, decltype(dd)> df;
    auto sum = hn::Zero(dd);
    for (int t = 0; t < 7; ++t)
      sum = hn::MulAdd(hn::Set(dd, double(w[t])), hn::PromoteTo(dd, hn::LoadU(df, rows[t] + x)), sum);
    hn::StoreU(hn::DemoteTo(df, hn::Mul(sum, hn::Set(dd, norm))), df, out + x);
  };
  kestrune::HWY_NAMESPACE::Sweep(hn::ScalableTag<double>(), std::ptrdiff_t{0}, n, outputs);
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::downsample2
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune {

namespace downsample2 {
HWY_EXPORT(RowHwy);
HWY_EXPORT(ColumnsHwy);
}  // namespace downsample2

namespace {

struct Kernel {
  float w[7];
  double norm;  // 1 / the sum of w
};

Kernel MakeKernel(float sideLobe) {
  const double s = sideLobe;
  const double n = 1.0 / ((0.5 - s - s) * 2.0 + 1.0);
  const float centre = static_cast<float>(n), near = static_cast<float>(0.5 * n), far = static_cast<float>(-s * n);
  // The sum of the float weights, formed in double.
  const double sum = double(centre) + 2.0 * double(near) + 4.0 * double(far);
  return {{far, far, near, centre, near, far, far}, 1.0 / sum};
}

// Whole-sample symmetric extension: -k reads k, N-1+k reads N-1-k.
inline int Mirror(int i, int n) { return i < 0 ? -i : i > n - 1 ? 2 * (n - 1) - i : i; }

// Output x of a row of n samples, taps mirrored at the ends.
float LineSample(const float* src, int n, int x, const Kernel& k) {
  const int c = 2 * x;
  double sum = 0.0;
  for (int t = 0; t < 7; ++t) sum += double(k.w[t]) * double(src[Mirror(c - 3 + t, n)]);
  return static_cast<float>(sum * k.norm);
}

// One line of n input samples (stride `in`) to n/2 outputs (stride `out`).
void Line(const float* src, std::ptrdiff_t inStride, int n, float* dst, std::ptrdiff_t outStride, const Kernel& k) {
  const int half = n / 2;
  // Along a row the vector form takes the outputs whose taps all lie inside.
  if (inStride == 1 && outStride == 1 && half >= 5 && !simd::ScalarKernels()) {
    for (int x = 0; x < 2; ++x) dst[x] = LineSample(src, n, x, k);
    HWY_DYNAMIC_DISPATCH(downsample2::RowHwy)(src, 2, half - 1, dst, k.w, k.norm);
    dst[half - 1] = LineSample(src, n, half - 1, k);
    return;
  }
  for (int x = 0; x < half; ++x) {
    const int c = 2 * x;
    double sum = 0.0;
    if (x >= 2 && x <= half - 2) {
      for (int t = 0; t < 7; ++t) sum += double(k.w[t]) * double(src[(c - 3 + t) * inStride]);
    } else {
      for (int t = 0; t < 7; ++t) sum += double(k.w[t]) * double(src[Mirror(c - 3 + t, n) * inStride]);
    }
    dst[x * outStride] = static_cast<float>(sum * k.norm);
  }
}

}  // namespace

void Downsample2(const float* src, int W, int H, float* dst, int /*factor*/, float* tmp, float sideLobe) {
  const Kernel k = MakeKernel(sideLobe);
  const std::size_t halfW = static_cast<std::size_t>(W / 2);
  // Both passes work row by row, each row its own set of sums, so the threads
  // take runs of rows.
  ParallelFor(0, H, RowGrain(W * 4), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
    for (std::ptrdiff_t y = y0; y < y1; ++y) Line(src + std::size_t(y) * W, 1, W, tmp + std::size_t(y) * halfW, 1, k);
  });

  // Columns of the temporary plane, all columns of an output row at once.
  const int halfH = H / 2;
  ParallelFor(0, halfH, RowGrain(std::ptrdiff_t(halfW) * 7), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
    for (int y = int(y0); y < int(y1); ++y) {
      const int c = 2 * y;
      const float* rows[7];
      for (int t = 0; t < 7; ++t) rows[t] = tmp + std::size_t(Mirror(c - 3 + t, H)) * halfW;
      float* out = dst + std::size_t(y) * halfW;
      if (!simd::ScalarKernels()) {
        HWY_DYNAMIC_DISPATCH(downsample2::ColumnsHwy)(rows, std::ptrdiff_t(halfW), out, k.w, k.norm);
        continue;
      }
      for (std::size_t x = 0; x < halfW; ++x) {
        double sum = 0.0;
        for (int t = 0; t < 7; ++t) sum += double(k.w[t]) * double(rows[t][x]);
        out[x] = static_cast<float>(sum * k.norm);
      }
    }
  });
}

}  // namespace kestrune
#endif  // HWY_ONCE
