// SharpnessMeasure: the crispness score of a plane. Each row's terms
// |a| + |b| and a^2 + b^2 are formed with vectors (Highway, the widest
// instruction set at run time): single-precision differences, absolute
// values and squares, widened to double and added in double, as the scalar
// expression would. The running sums then take the terms one at a time in
// row order, which fixes their rounding; scoring several planes together
// keeps several such sums in flight.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "downscale/sharpness_measure.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "base/simd.h"
#include "downscale/sharpness_measure.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::sharpness {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Terms of row `row` (with `below` the next row) for x = 0 .. count - 1.
void RowTerms(const float* row, const float* below, std::size_t count, double* t1, double* t2) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;  // as many floats as doubles
  const std::size_t lanes = hn::Lanes(dd);
  std::size_t x = 0;
  for (; x + lanes <= count; x += lanes) {
    const auto p = hn::LoadU(df, row + x);
    const auto a = hn::Sub(p, hn::LoadU(df, row + x + 1));
    const auto b = hn::Sub(p, hn::LoadU(df, below + x));
    hn::StoreU(hn::Add(hn::PromoteTo(dd, hn::Abs(a)), hn::PromoteTo(dd, hn::Abs(b))), dd, t1 + x);
    hn::StoreU(hn::Add(hn::PromoteTo(dd, hn::Mul(a, a)), hn::PromoteTo(dd, hn::Mul(b, b))), dd, t2 + x);
  }
  for (; x < count; ++x) {
    const float a = row[x] - row[x + 1];
    const float b = row[x] - below[x];
    t1[x] = static_cast<double>(std::fabs(a)) + static_cast<double>(std::fabs(b));
    t2[x] = static_cast<double>(a * a) + static_cast<double>(b * b);
  }
}

// Adds the terms of K planes (1 to 4), one after another in x order for each
// plane. The sums are named variables so that they stay in registers.
template <int K>
void Accumulate(const double* t1, const double* t2, std::size_t stride, std::size_t count, double* s1, double* s2) {
  double a0 = s1[0], b0 = s2[0];
  double a1 = K > 1 ? s1[1] : 0.0, b1 = K > 1 ? s2[1] : 0.0;
  double a2 = K > 2 ? s1[2] : 0.0, b2 = K > 2 ? s2[2] : 0.0;
  double a3 = K > 3 ? s1[3] : 0.0, b3 = K > 3 ? s2[3] : 0.0;
  for (std::size_t x = 0; x < count; ++x) {
    a0 += t1[x];
    b0 += t2[x];
    if constexpr (K > 1) {
      a1 += t1[stride + x];
      b1 += t2[stride + x];
    }
    if constexpr (K > 2) {
      a2 += t1[2 * stride + x];
      b2 += t2[2 * stride + x];
    }
    if constexpr (K > 3) {
      a3 += t1[3 * stride + x];
      b3 += t2[3 * stride + x];
    }
  }
  s1[0] = a0, s2[0] = b0;
  if constexpr (K > 1) s1[1] = a1, s2[1] = b1;
  if constexpr (K > 2) s1[2] = a2, s2[2] = b2;
  if constexpr (K > 3) s1[3] = a3, s2[3] = b3;
}

// Adds the terms of one row of `count` planes to the sums.
void AddRowHwy(const float* const* rows, const float* const* below, int count, std::size_t terms, double* t1,
               double* t2, double* s1, double* s2) {
  for (int p = 0; p < count; ++p) RowTerms(rows[p], below[p], terms, t1 + p * terms, t2 + p * terms);
  switch (count) {
    case 1: Accumulate<1>(t1, t2, terms, terms, s1, s2); break;
    case 2: Accumulate<2>(t1, t2, terms, terms, s1, s2); break;
    case 3: Accumulate<3>(t1, t2, terms, terms, s1, s2); break;
    default: Accumulate<4>(t1, t2, terms, terms, s1, s2); break;
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::sharpness
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune::sharpness {
HWY_EXPORT(AddRowHwy);

// The scalar twin: each plane's terms formed and added one at a time.
void AddRowScalar(const float* const* rows, const float* const* below, int count, std::size_t terms, double* s1,
                  double* s2) {
  for (int p = 0; p < count; ++p) {
    double a = s1[p], b = s2[p];
    for (std::size_t x = 0; x < terms; ++x) {
      const float d1 = rows[p][x] - rows[p][x + 1];
      const float d2 = rows[p][x] - below[p][x];
      a += static_cast<double>(std::fabs(d1)) + static_cast<double>(std::fabs(d2));
      b += static_cast<double>(d1 * d1) + static_cast<double>(d2 * d2);
    }
    s1[p] = a, s2[p] = b;
  }
}
}  // namespace kestrune::sharpness

namespace kestrune {

SharpnessAccumulator::SharpnessAccumulator(int count, uint32_t width)
    : count_(count < 1                 ? 1
             : count > kSharpnessBatch ? kSharpnessBatch
                                       : count),
      width_(width),
      t1_(static_cast<std::size_t>(count_) * (width > 1 ? width - 1 : 0)),
      t2_(t1_.size()) {}

void SharpnessAccumulator::AddRow(const float* const* rows, const float* const* below) {
  if (width_ < 2) return;
  if (simd::ScalarKernels()) return sharpness::AddRowScalar(rows, below, count_, width_ - 1, s1_, s2_);
  HWY_DYNAMIC_DISPATCH(kestrune::sharpness::AddRowHwy)
  (rows, below, count_, width_ - 1, t1_.data(), t2_.data(), s1_, s2_);
}

void SharpnessAccumulator::Scores(uint32_t height, float* scores) const {
  // n in double: in 32 bits it would overflow for large planes.
  const double n = (2.0 * width_ - 2.0) * (static_cast<double>(height) - 1.0);
  for (int p = 0; p < count_; ++p)
    scores[p] = width_ < 2 || height < 2
                    ? 0.0f
                    : static_cast<float>(n * s2_[p] / (s1_[p] * s1_[p] + static_cast<double>(1e-12f)));
}

void SharpnessMeasureBatch(const float* const* planes, int count, uint32_t width, uint32_t height, float* scores) {
  for (; count > kSharpnessBatch; count -= kSharpnessBatch, planes += kSharpnessBatch, scores += kSharpnessBatch)
    SharpnessMeasureBatch(planes, kSharpnessBatch, width, height, scores);
  if (count < 1) return;
  SharpnessAccumulator sums(count, width);
  const float* rows[kSharpnessBatch];
  const float* below[kSharpnessBatch];
  for (uint32_t y = 0; y + 1 < height; ++y) {
    for (int p = 0; p < count; ++p) {
      rows[p] = planes[p] + std::size_t{y} * width;
      below[p] = rows[p] + width;
    }
    sums.AddRow(rows, below);
  }
  sums.Scores(height, scores);
}

float SharpnessMeasure(const float* plane, uint32_t width, uint32_t height) {
  float score;
  SharpnessMeasureBatch(&plane, 1, width, height, &score);
  return score;
}

}  // namespace kestrune
#endif  // HWY_ONCE
