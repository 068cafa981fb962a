// NormalSums: every product x[p] * x[q] of a training row added to its own
// running sum. The vector form keeps seven sums of eight lanes, x[p] times
// the whole row for p = 0..6, so each lane adds exactly the products the
// scalar form adds, in the same order.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "resampling/normal_sums.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>

#include "base/simd.h"
#include "resampling/normal_sums.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::normal {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void NormalSumsHwy(const float* rows, int count, float* sums) {
  constexpr int kRows = kNormalRowStride - 1;  // p = 0..6
  const hn::CappedTag<float, kNormalRowStride> d;
  constexpr int lanes = static_cast<int>(hn::MaxLanes(decltype(d)()));
  constexpr int parts = kNormalRowStride / lanes;
  hn::Vec<decltype(d)> acc[kRows * parts];
  for (auto& a : acc) a = hn::Zero(d);
  for (int s = 0; s < count; ++s) {
    const float* x = rows + std::size_t(s) * kNormalRowStride;
    hn::Vec<decltype(d)> row[parts];
    for (int h = 0; h < parts; ++h) row[h] = hn::LoadU(d, x + h * lanes);
    for (int p = 0; p < kRows; ++p) {
      const auto xp = hn::Set(d, x[p]);
      for (int h = 0; h < parts; ++h) acc[p * parts + h] = hn::Add(acc[p * parts + h], hn::Mul(xp, row[h]));
    }
  }
  for (int p = 0; p < kRows; ++p)
    for (int h = 0; h < parts; ++h) hn::StoreU(acc[p * parts + h], d, sums + p * kNormalRowStride + h * lanes);
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::normal
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune {

namespace normal {
HWY_EXPORT(NormalSumsHwy);
}  // namespace normal

void NormalSumsScalar(const float* rows, int count, float* sums) {
  for (int p = 0; p < kNormalRowStride - 1; ++p)
    for (int q = p; q < kNormalRowStride - 1; ++q) sums[p * kNormalRowStride + q] = 0.0f;
  for (int s = 0; s < count; ++s) {
    const float* x = rows + std::size_t(s) * kNormalRowStride;
    for (int p = 0; p < kNormalRowStride - 1; ++p)
      for (int q = p; q < kNormalRowStride - 1; ++q) sums[p * kNormalRowStride + q] += x[p] * x[q];
  }
}

void NormalSums(const float* rows, int count, float* sums) {
  if (simd::ScalarKernels()) return NormalSumsScalar(rows, count, sums);
  HWY_DYNAMIC_DISPATCH(normal::NormalSumsHwy)(rows, count, sums);
}

}  // namespace kestrune
#endif  // HWY_ONCE
