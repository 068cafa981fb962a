// The centred-grid model: DownsampleCentred (rows into the temporary plane,
// then its columns, each a scalar form and a Highway form that widens to
// double and adds the taps in the same order, so the bits agree; a float
// times a weight of 9 bits is exact in double, so the vector form may fuse
// each product with its sum), the half-sample shift from the aligned grid
// and the starting estimates on the centred grid.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "upscale/centred_grid.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>
#include "base/sweep-inl.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "base/sample_buffer.h"
#include "base/simd.h"
#include "base/threading.h"
#include "resampling/fixed_upscalers.h"
#include "upscale/centred_grid.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::centred {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Outputs [x0, x1) of one row, all taps inside it (x0 >= 2, 2 x1 + 2 <= n):
// output x sums w[t] src[2x - 3 + t], t = 0..7, in double.
void RowHwy(const float* src, std::ptrdiff_t x0, std::ptrdiff_t x1, float* dst, const double* w) {
  auto outputs = [&](auto dd, std::ptrdiff_t x) {
    const hn::Rebind<float, decltype(dd)> df;
    // Tap 2m of lane j is sample 2(x + j) - 3 + 2m, tap 2m + 1 the next one.
    hn::Vec<decltype(df)> taps[8];
    for (int m = 0; m < 4; ++m) hn::LoadInterleaved2(df, src + 2 * x - 3 + 2 * m, taps[2 * m], taps[2 * m + 1]);
    auto sum = hn::Zero(dd);
    for (int t = 0; t < 8; ++t) sum = hn::MulAdd(hn::Set(dd, w[t]), hn::PromoteTo(dd, taps[t]), sum);
    hn::StoreU(hn::DemoteTo(df, sum), df, dst + x);
  };
  kestrune::HWY_NAMESPACE::Sweep(hn::ScalableTag<double>(), x0, x1, outputs);
}

// One output row of the column pass: rows[0..7] are the taps' rows.
void ColumnsHwy(const float* const* rows, std::ptrdiff_t n, float* out, const double* w) {
  auto outputs = [&](auto dd, std::ptrdiff_t x) {
    const hn::Rebind<float, decltype(dd)> df;
    auto sum = hn::Zero(dd);
    for (int t = 0; t < 8; ++t) sum = hn::MulAdd(hn::Set(dd, w[t]), hn::PromoteTo(dd, hn::LoadU(df, rows[t] + x)), sum);
    hn::StoreU(hn::DemoteTo(df, sum), df, out + x);
  };
  kestrune::HWY_NAMESPACE::Sweep(hn::ScalableTag<double>(), std::ptrdiff_t{0}, n, outputs);
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::centred
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune {

namespace centred {
HWY_EXPORT(RowHwy);
HWY_EXPORT(ColumnsHwy);
}  // namespace centred

namespace {

struct Weights {
  double w[8];
  Weights() {
    for (int t = 0; t < 8; ++t) w[t] = double(kCentredTaps[t]) / 256.0;
  }
};
const Weights kWeights;

// Half-sample symmetric extension: -1 reads 0, n reads n - 1.
inline int Mirror(int i, int n) { return i < 0 ? -i - 1 : i > n - 1 ? 2 * n - 1 - i : i; }

float LineSample(const float* src, std::ptrdiff_t stride, int n, int x) {
  double sum = 0.0;
  for (int t = 0; t < 8; ++t) sum += kWeights.w[t] * double(src[std::ptrdiff_t(Mirror(2 * x - 3 + t, n)) * stride]);
  return static_cast<float>(sum);
}

// One row of n samples to n/2 outputs.
void Row(const float* src, int n, float* dst) {
  const int half = n / 2;
  // Outputs 2 .. half - 3 have all their taps inside the row.
  const int x0 = std::min(2, half), x1 = std::max(x0, half - 2);
  for (int x = 0; x < x0; ++x) dst[x] = LineSample(src, 1, n, x);
  if (!simd::ScalarKernels()) {
    HWY_DYNAMIC_DISPATCH(centred::RowHwy)(src, x0, x1, dst, kWeights.w);
  } else {
    for (int x = x0; x < x1; ++x) {
      double sum = 0.0;
      for (int t = 0; t < 8; ++t) sum += kWeights.w[t] * double(src[2 * x - 3 + t]);
      dst[x] = static_cast<float>(sum);
    }
  }
  for (int x = x1; x < half; ++x) dst[x] = LineSample(src, 1, n, x);
}

// The mean of the two neighbours, or Catmull-Rom half-way between them.
struct ShiftTaps {
  int count, first;  // taps at offsets first .. first + count - 1
  double w[4];
};
constexpr ShiftTaps kMeanShift{2, -1, {0.5, 0.5}};
constexpr ShiftTaps kCubicShift{4, -2, {-0.0625, 0.5625, 0.5625, -0.0625}};

// Catmull-Rom at a quarter sample before source sample i (taps i - 2 ..
// i + 1, at distances 1.75, 0.75, 0.25, 1.25) and a quarter after (i - 1 ..
// i + 2), in 128ths: the reduction's weights doubled.
constexpr double kQuarterBefore[4] = {-3.0 / 128, 29.0 / 128, 111.0 / 128, -9.0 / 128};
constexpr double kQuarterAfter[4] = {-9.0 / 128, 111.0 / 128, 29.0 / 128, -3.0 / 128};

// n samples at stride `in` to 2n at stride `out`, mirrored between samples.
void CubicLine(const float* src, std::ptrdiff_t in, int n, float* dst, std::ptrdiff_t out) {
  for (int i = 0; i < n; ++i) {
    double before = 0.0, after = 0.0;
    for (int t = 0; t < 4; ++t) {
      before += kQuarterBefore[t] * double(src[std::ptrdiff_t(Mirror(i - 2 + t, n)) * in]);
      after += kQuarterAfter[t] * double(src[std::ptrdiff_t(Mirror(i - 1 + t, n)) * in]);
    }
    dst[std::ptrdiff_t(2 * i) * out] = static_cast<float>(before);
    dst[std::ptrdiff_t(2 * i + 1) * out] = static_cast<float>(after);
  }
}

}  // namespace

void DownsampleCentred(const float* src, int W, int H, float* dst, float* tmp) {
  const std::size_t halfW = std::size_t(W / 2);
  ParallelFor(0, H, RowGrain(W * 4), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
    for (std::ptrdiff_t y = y0; y < y1; ++y) Row(src + std::size_t(y) * W, W, tmp + std::size_t(y) * halfW);
  });
  const int halfH = H / 2;
  const bool scalar = simd::ScalarKernels();
  ParallelFor(0, halfH, RowGrain(std::ptrdiff_t(halfW) * 8), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
    for (int y = int(y0); y < int(y1); ++y) {
      const float* rows[8];
      for (int t = 0; t < 8; ++t) rows[t] = tmp + std::size_t(Mirror(2 * y - 3 + t, H)) * halfW;
      float* out = dst + std::size_t(y) * halfW;
      if (!scalar) {
        HWY_DYNAMIC_DISPATCH(centred::ColumnsHwy)(rows, std::ptrdiff_t(halfW), out, kWeights.w);
        continue;
      }
      for (std::size_t x = 0; x < halfW; ++x) {
        double sum = 0.0;
        for (int t = 0; t < 8; ++t) sum += kWeights.w[t] * double(rows[t][x]);
        out[x] = static_cast<float>(sum);
      }
    }
  });
}

void ShiftToCentredGrid(const float* in, int W, int H, float* out, bool cubic) {
  const ShiftTaps& k = cubic ? kCubicShift : kMeanShift;
  std::vector<int> columns(std::size_t(W) * std::size_t(k.count));
  for (int x = 0; x < W; ++x)
    for (int i = 0; i < k.count; ++i) columns[std::size_t(x) * k.count + i] = std::clamp(x + k.first + i, 0, W - 1);
  // Each output row from its own rows of `in`: the threads take runs of rows.
  ParallelFor(0, H, RowGrain(std::ptrdiff_t(W) * k.count * k.count), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
    for (std::ptrdiff_t y = y0; y < y1; ++y) {
      const float* rows[4];
      for (int i = 0; i < k.count; ++i)
        rows[i] = in + std::size_t(std::clamp(int(y) + k.first + i, 0, H - 1)) * std::size_t(W);
      float* o = out + std::size_t(y) * std::size_t(W);
      for (int x = 0; x < W; ++x) {
        const int* at = &columns[std::size_t(x) * k.count];
        double sum = 0.0;
        for (int j = 0; j < k.count; ++j) {
          double across = 0.0;
          for (int i = 0; i < k.count; ++i) across += k.w[i] * double(rows[j][at[i]]);
          sum += k.w[j] * across;
        }
        o[x] = static_cast<float>(sum);
      }
    }
  });
}

bool StartsAligned(InitialMethod method) {
  return method == InitialMethod::kEdgeDirectional || method == InitialMethod::kNedi ||
         method == InitialMethod::kLearned;
}

void StartOnCentredGrid(InitialMethod method, const float* const src[3], int w, int h, float* const out[3]) {
  const int W = 2 * w, H = 2 * h;
  SampleBuffer aligned;
  AssignParallel(aligned, std::size_t(W) * std::size_t(H));
  if (method == InitialMethod::kBicubic) {
    // Rows into the temporary plane (its first h rows), then its columns.
    for (int c = 0; c < 3; ++c) {
      ParallelFor(0, h, RowGrain(W * 4), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
        for (std::ptrdiff_t y = y0; y < y1; ++y) CubicLine(src[c] + y * w, 1, w, aligned.data() + y * W, 1);
      });
      ParallelFor(0, W, RowGrain(H * 4), [&](std::ptrdiff_t x0, std::ptrdiff_t x1) {
        for (std::ptrdiff_t x = x0; x < x1; ++x) CubicLine(aligned.data() + x, W, h, out[c] + x, W);
      });
    }
    return;
  }
  for (int c = 0; c < 3; ++c) {
    if (method == InitialMethod::kBilinear)
      UpscaleBilinear2(src[c], w, h, aligned.data(), 2);
    else
      CopyParallel(out[c], std::size_t(W) * std::size_t(H), aligned.data());
    ShiftToCentredGrid(aligned.data(), W, H, out[c], method != InitialMethod::kBilinear);
  }
}

}  // namespace kestrune
#endif  // HWY_ONCE
