// NormalSums: every product x[p] * x[q] of a training row added to its own
// running sum. The vector forms keep one sum per lane: on x86 with 256-bit
// or 512-bit vectors the row is permuted into the 28 products, elsewhere
// x[p] times the whole row for p = 0..6. Either way each lane adds exactly
// the products the scalar form adds, in the same order.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "resampling/normal_sums.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>

#include "base/simd.h"
#include "resampling/normal_sums.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::normal_sums {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Seven sums of whole rows: x[p] times x[0..7] for p = 0..6.
template <class D>
HWY_INLINE void BroadcastSums(D d, const float* rows, int count, float* sums) {
  constexpr int kRows = kNormalRowStride - 1;
  constexpr int lanes = static_cast<int>(hn::MaxLanes(D()));
  constexpr int parts = kNormalRowStride / lanes;
  hn::Vec<D> acc[kRows * parts];
  for (auto& a : acc) a = hn::Zero(d);
  for (int s = 0; s < count; ++s) {
    const float* x = rows + std::size_t(s) * kNormalRowStride;
    hn::Vec<D> row[parts];
    for (int h = 0; h < parts; ++h) row[h] = hn::LoadU(d, x + h * lanes);
    for (int p = 0; p < kRows; ++p) {
      const auto xp = hn::Set(d, x[p]);
      for (int h = 0; h < parts; ++h) acc[p * parts + h] = hn::Add(acc[p * parts + h], hn::Mul(xp, row[h]));
    }
  }
  for (int p = 0; p < kRows; ++p)
    for (int h = 0; h < parts; ++h) hn::StoreU(acc[p * parts + h], d, sums + p * kNormalRowStride + h * lanes);
}

// With eight lanes: the 28 products p <= q (and four spare) as four vectors
// of permuted copies of the row, one sum per lane.
template <class D>
HWY_INLINE void PermutedSums(D d, const float* rows, int count, float* sums) {
  const int32_t* left = kProducts.left;
  const int32_t* right = kProducts.right;
  using Indices = decltype(hn::SetTableIndices(d, left));
  Indices li[4], ri[4];
  hn::Vec<D> acc[4];
  for (int v = 0; v < 4; ++v) {
    li[v] = hn::SetTableIndices(d, left + 8 * v);
    ri[v] = hn::SetTableIndices(d, right + 8 * v);
    acc[v] = hn::Zero(d);
  }
  for (int s = 0; s < count; ++s) {
    const auto x = hn::LoadU(d, rows + std::size_t(s) * kNormalRowStride);
    for (int v = 0; v < 4; ++v)
      acc[v] = hn::Add(acc[v], hn::Mul(hn::TableLookupLanes(x, li[v]), hn::TableLookupLanes(x, ri[v])));
  }
  alignas(32) float lanes[32];
  for (int v = 0; v < 4; ++v) hn::Store(acc[v], d, lanes + 8 * v);
  for (int k = 0; k < 28; ++k) sums[left[k] * kNormalRowStride + right[k]] = lanes[k];
}

#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
// With sixteen lanes: the same 32 products in two vectors, the row loaded
// into the lower half (the indices only reach lanes 0..7).
template <class D>
HWY_INLINE void PermutedSums16(D d, const float* rows, int count, float* sums) {
  const int32_t* left = kProducts.left;
  const int32_t* right = kProducts.right;
  const hn::Half<D> dh;
  using Indices = decltype(hn::SetTableIndices(d, left));
  Indices li[2], ri[2];
  hn::Vec<D> acc[2];
  for (int v = 0; v < 2; ++v) {
    li[v] = hn::SetTableIndices(d, left + 16 * v);
    ri[v] = hn::SetTableIndices(d, right + 16 * v);
    acc[v] = hn::Zero(d);
  }
  for (int s = 0; s < count; ++s) {
    const auto x = hn::ZeroExtendVector(d, hn::LoadU(dh, rows + std::size_t(s) * kNormalRowStride));
    for (int v = 0; v < 2; ++v)
      acc[v] = hn::Add(acc[v], hn::Mul(hn::TableLookupLanes(x, li[v]), hn::TableLookupLanes(x, ri[v])));
  }
  alignas(64) float lanes[32];
  for (int v = 0; v < 2; ++v) hn::Store(acc[v], d, lanes + 16 * v);
  for (int k = 0; k < 28; ++k) sums[left[k] * kNormalRowStride + right[k]] = lanes[k];
}
#endif

void NormalSumsHwy(const float* rows, int count, float* sums) {
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  PermutedSums16(hn::FixedTag<float, 2 * kNormalRowStride>(), rows, count, sums);
#elif HWY_TARGET == HWY_AVX2
  PermutedSums(hn::FixedTag<float, kNormalRowStride>(), rows, count, sums);
#else
  BroadcastSums(hn::CappedTag<float, kNormalRowStride>(), rows, count, sums);
#endif
}

void NoisyTrainingRowsHwy(const float* const* entries, int positions, const float* noise, float* rows) {
  const hn::CappedTag<float, kNormalRowStride> d;
  constexpr int lanes = static_cast<int>(hn::MaxLanes(decltype(d)()));
  for (int h = 0; h < kNormalRowStride; h += lanes) {
    // Lanes 0..5 of a row take the noise, lane 6 (the target) is copied,
    // lane 7 is the zero pad.
    const auto index = hn::Iota(d, float(h));
    const auto noisy = hn::Lt(index, hn::Set(d, 6.0f)), kept = hn::Lt(index, hn::Set(d, 7.0f));
    for (int p = 0; p < positions; ++p)
      for (int ch = 0; ch < 3; ++ch) {
        const auto e = hn::LoadU(d, entries[p] + 7 * ch + h);
        if (noise == nullptr) {
          hn::StoreU(hn::IfThenElseZero(kept, e), d, rows + (3 * p + ch) * kNormalRowStride + h);
          continue;
        }
        const auto u = hn::LoadU(d, noise + (3 * p + ch) * 6 + h);
        const auto v = hn::IfThenElseZero(kept, hn::IfThenElse(noisy, hn::Add(e, u), e));
        hn::StoreU(v, d, rows + (3 * p + ch) * kNormalRowStride + h);
      }
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::normal_sums
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune {

namespace normal_sums {
HWY_EXPORT(NormalSumsHwy);
HWY_EXPORT(NoisyTrainingRowsHwy);
}  // namespace normal_sums

void NormalSumsScalar(const float* rows, int count, float* sums) {
  for (int p = 0; p < kNormalRowStride - 1; ++p)
    for (int q = p; q < kNormalRowStride - 1; ++q) sums[p * kNormalRowStride + q] = 0.0f;
  for (int s = 0; s < count; ++s) {
    const float* x = rows + std::size_t(s) * kNormalRowStride;
    for (int p = 0; p < kNormalRowStride - 1; ++p)
      for (int q = p; q < kNormalRowStride - 1; ++q) sums[p * kNormalRowStride + q] += x[p] * x[q];
  }
}

void NoisyTrainingRowsScalar(const float* const* entries, int positions, const float* noise, float* rows) {
  for (int p = 0; p < positions; ++p)
    for (int ch = 0; ch < 3; ++ch, rows += kNormalRowStride, noise += noise != nullptr ? 6 : 0) {
      const float* e = entries[p] + 7 * ch;
      for (int k = 0; k < 6; ++k) rows[k] = noise != nullptr ? e[k] + noise[k] : e[k];
      rows[6] = e[6];
      rows[7] = 0.0f;
    }
}

void NoisyTrainingRows(const float* const* entries, int positions, const float* noise, float* rows) {
  if (simd::ScalarKernels()) return NoisyTrainingRowsScalar(entries, positions, noise, rows);
  HWY_DYNAMIC_DISPATCH(normal_sums::NoisyTrainingRowsHwy)(entries, positions, noise, rows);
}

void NormalSums(const float* rows, int count, float* sums) {
  if (simd::ScalarKernels()) return NormalSumsScalar(rows, count, sums);
  HWY_DYNAMIC_DISPATCH(normal_sums::NormalSumsHwy)(rows, count, sums);
}

}  // namespace kestrune
#endif  // HWY_ONCE
