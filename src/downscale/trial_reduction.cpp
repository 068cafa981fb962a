// The vertical and horizontal resampling passes of the hint search, with
// Highway choosing the widest instruction set at run time. The vertical pass
// computes four output rows at a time along the rows, many columns per
// vector, and stores them interleaved; the horizontal pass then reads the four
// rows of one column as one 4-lane vector, so it too runs four samples per
// instruction. Each lane sums its taps in order with a separate multiply and
// add, exactly as the scalar twins beside them do. Both passes work group by
// group of four rows, so they can also run fused, a group at a time.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "downscale/trial_reduction.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <vector>

#include "base/simd.h"
#include "downscale/trial_reduction.h"

// Code outside the per-target namespace, compiled once: the scalar twins of
// the group kernels and the loop that runs the fused passes group by group.
#ifndef KESTRUNE_TRIAL_REDUCTION_COMMON
#define KESTRUNE_TRIAL_REDUCTION_COMMON
namespace kestrune::trial {

// Vertical pass of the output rows y0 .. y0 + 3 of `r` into `out` (4 x width
// floats, interleaved), one sample at a time; rows past the end are set to 0.
inline void VerticalGroupScalar(const float* src, uint32_t width, const Resampling::LinearResampler& r, uint32_t y0,
                                float* out) {
  const int64_t last = static_cast<int64_t>(r.inLength) - 1;
  for (uint32_t i = 0; i < 4; ++i) {
    const uint32_t y = y0 + i;
    if (y >= r.outLength) {
      for (std::size_t x = 0; x < width; ++x) out[x * 4 + i] = 0.0f;
      continue;
    }
    const float* w = r.phaseWeights[static_cast<std::size_t>(r.outPhase[y])].data();
    for (std::size_t x = 0; x < width; ++x) {
      float a = 0.0f;
      for (uint32_t j = 0; j < r.taps; ++j)
        a += src[static_cast<std::size_t>(std::clamp<int64_t>(r.outStart[y] + int64_t{j}, 0, last)) * width + x] * w[j];
      out[x * 4 + i] = a;
    }
  }
}

// Horizontal pass of one group (r.inLength columns of four interleaved rows)
// into the first `rowsHere` rows at `out` (stride r.outLength), one sample at
// a time.
inline void HorizontalGroupScalar(const float* group, uint32_t rowsHere, const Resampling::LinearResampler& r,
                                  float* out) {
  const std::size_t outW = r.outLength;
  const int64_t last = static_cast<int64_t>(r.inLength) - 1;
  for (uint32_t i = 0; i < rowsHere; ++i)
    for (std::size_t o = 0; o < outW; ++o) {
      const float* w = r.phaseWeights[static_cast<std::size_t>(r.outPhase[o])].data();
      float a = 0.0f;
      for (uint32_t j = 0; j < r.taps; ++j)
        a += group[static_cast<std::size_t>(std::clamp<int64_t>(r.outStart[o] + int64_t{j}, 0, last)) * 4 + i] * w[j];
      out[i * outW + o] = a;
    }
}

// The fused passes, group by group of four rows, with the group kernels
// vertical(r, y0, group) and horizontal(group, rowsHere, r, out).
template <class Vertical, class Horizontal>
void FuseGroups(uint32_t width, const Resampling::LinearResampler* const* verticals,
                const Resampling::LinearResampler* const* horizontals, int count, float* const* dst,
                const std::function<void(uint32_t)>& rowsDone, uint32_t ringRows, Vertical&& vertical,
                Horizontal&& horizontal) {
  std::vector<float> group(std::size_t{width} * 4);
  const uint32_t height = verticals[0]->outLength;
  for (uint32_t y0 = 0; y0 < height; y0 += 4) {
    const uint32_t rowsHere = std::min<uint32_t>(4, height - y0);
    for (int i = 0; i < count; ++i) {
      // Consecutive reductions with the same vertical set-up share the group.
      if (i == 0 || verticals[i] != verticals[i - 1]) vertical(*verticals[i], y0, group.data());
      horizontal(group.data(), rowsHere, *horizontals[i],
                 dst[i] + static_cast<std::size_t>(ringRows ? y0 % ringRows : y0) * horizontals[i]->outLength);
    }
    if (rowsDone) rowsDone(y0 + rowsHere);
  }
}

}  // namespace kestrune::trial
#endif  // KESTRUNE_TRIAL_REDUCTION_COMMON

HWY_BEFORE_NAMESPACE();
namespace kestrune::trial {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Vertical pass of the output rows y0 .. y0 + 3 of `r` into `out` (4 x width
// floats, interleaved); rows past the end are set to 0. `rows` is scratch.
void VerticalGroup(const float* src, uint32_t width, const Resampling::LinearResampler& r, uint32_t y0, float* out,
                   std::array<std::vector<const float*>, 4>& rows) {
  const hn::ScalableTag<float> d;
  const std::size_t lanes = hn::Lanes(d);
  const uint32_t taps = r.taps;
  const int64_t last = static_cast<int64_t>(r.inLength) - 1;
  // Source rows and weights of the group's four output rows; a padding row
  // has no taps and so yields 0.
  std::array<const float*, 4> weights{};
  std::array<uint32_t, 4> count{};
  for (uint32_t i = 0; i < 4; ++i) {
    const uint32_t y = y0 + i;
    count[i] = y < r.outLength ? taps : 0;
    if (count[i] == 0) continue;
    rows[i].resize(taps);
    weights[i] = r.phaseWeights[static_cast<std::size_t>(r.outPhase[y])].data();
    for (uint32_t j = 0; j < taps; ++j)
      rows[i][j] = src + static_cast<std::size_t>(std::clamp<int64_t>(r.outStart[y] + int64_t{j}, 0, last)) * width;
  }

  std::size_t x = 0;
  if (count[3] == taps) {
    // A full group: the four rows' sums in one loop, independent of each
    // other, so that the additions overlap.
    const float *w0 = weights[0], *w1 = weights[1], *w2 = weights[2], *w3 = weights[3];
    const float *const *r0 = rows[0].data(), *const *r1 = rows[1].data();
    const float *const *r2 = rows[2].data(), *const *r3 = rows[3].data();
    for (; x + lanes <= width; x += lanes) {
      auto a0 = hn::Zero(d), a1 = hn::Zero(d), a2 = hn::Zero(d), a3 = hn::Zero(d);
      for (uint32_t j = 0; j < taps; ++j) {
        a0 = hn::Add(a0, hn::Mul(hn::LoadU(d, r0[j] + x), hn::Set(d, w0[j])));
        a1 = hn::Add(a1, hn::Mul(hn::LoadU(d, r1[j] + x), hn::Set(d, w1[j])));
        a2 = hn::Add(a2, hn::Mul(hn::LoadU(d, r2[j] + x), hn::Set(d, w2[j])));
        a3 = hn::Add(a3, hn::Mul(hn::LoadU(d, r3[j] + x), hn::Set(d, w3[j])));
      }
      hn::StoreInterleaved4(a0, a1, a2, a3, d, out + x * 4);
    }
  }
  for (; x + lanes <= width; x += lanes) {
    hn::Vec<decltype(d)> sum[4];
    for (uint32_t i = 0; i < 4; ++i) {
      auto a = hn::Zero(d);
      for (uint32_t j = 0; j < count[i]; ++j)
        a = hn::Add(a, hn::Mul(hn::LoadU(d, rows[i][j] + x), hn::Set(d, weights[i][j])));
      sum[i] = a;
    }
    hn::StoreInterleaved4(sum[0], sum[1], sum[2], sum[3], d, out + x * 4);
  }
  for (; x < width; ++x)
    for (uint32_t i = 0; i < 4; ++i) {
      float a = 0.0f;
      for (uint32_t j = 0; j < count[i]; ++j) a += rows[i][j][x] * weights[i][j];
      out[x * 4 + i] = a;
    }
}

#if HWY_TARGET == HWY_SCALAR
// Without 4-lane vectors: the scalar twin.
void HorizontalGroup(const float* group, uint32_t rowsHere, const Resampling::LinearResampler& r, float* out) {
  HorizontalGroupScalar(group, rowsHere, r, out);
}
#else
// Horizontal pass of one group (r.inLength columns of four interleaved rows)
// into the first `rowsHere` rows at `out` (stride r.outLength).
void HorizontalGroup(const float* group, uint32_t rowsHere, const Resampling::LinearResampler& r, float* out) {
  const hn::FixedTag<float, 4> d;
  const hn::RepartitionToWide<decltype(d)> d64;
  const uint32_t taps = r.taps;
  const std::size_t inW = r.inLength;
  const std::size_t outW = r.outLength;
  const int64_t last = static_cast<int64_t>(r.inLength) - 1;

  // The four rows at output sample o.
  auto column = [&](std::size_t o) {
    const float* w = r.phaseWeights[static_cast<std::size_t>(r.outPhase[o])].data();
    const int64_t start = r.outStart[o];
    auto a = hn::Zero(d);
    if (start >= 0 && start + int64_t{taps} <= static_cast<int64_t>(inW)) {
      const float* p = group + static_cast<std::size_t>(start) * 4;
      for (uint32_t j = 0; j < taps; ++j) a = hn::Add(a, hn::Mul(hn::LoadU(d, p + j * 4), hn::Set(d, w[j])));
    } else {
      for (uint32_t j = 0; j < taps; ++j) {
        const std::size_t m = static_cast<std::size_t>(std::clamp<int64_t>(start + int64_t{j}, 0, last));
        a = hn::Add(a, hn::Mul(hn::LoadU(d, group + m * 4), hn::Set(d, w[j])));
      }
    }
    return a;
  };

  std::size_t o = 0;
  if (rowsHere == 4) {
    for (; o + 4 <= outW; o += 4) {
      // Four output samples of four rows: transpose the 4 x 4 block so that
      // each row's four samples are stored together.
      hn::Vec<decltype(d)> c0, c1, c2, c3;
      if (r.outStart[o] >= 0 && r.outStart[o + 3] + int64_t{taps} <= static_cast<int64_t>(inW)) {
        // All four windows inside the row (the starts never decrease): one
        // loop with four independent sums, so that the additions overlap.
        const float* w0 = r.phaseWeights[static_cast<std::size_t>(r.outPhase[o])].data();
        const float* w1 = r.phaseWeights[static_cast<std::size_t>(r.outPhase[o + 1])].data();
        const float* w2 = r.phaseWeights[static_cast<std::size_t>(r.outPhase[o + 2])].data();
        const float* w3 = r.phaseWeights[static_cast<std::size_t>(r.outPhase[o + 3])].data();
        const float* p0 = group + static_cast<std::size_t>(r.outStart[o]) * 4;
        const float* p1 = group + static_cast<std::size_t>(r.outStart[o + 1]) * 4;
        const float* p2 = group + static_cast<std::size_t>(r.outStart[o + 2]) * 4;
        const float* p3 = group + static_cast<std::size_t>(r.outStart[o + 3]) * 4;
        c0 = hn::Zero(d), c1 = hn::Zero(d), c2 = hn::Zero(d), c3 = hn::Zero(d);
        for (uint32_t j = 0; j < taps; ++j) {
          c0 = hn::Add(c0, hn::Mul(hn::LoadU(d, p0 + j * 4), hn::Set(d, w0[j])));
          c1 = hn::Add(c1, hn::Mul(hn::LoadU(d, p1 + j * 4), hn::Set(d, w1[j])));
          c2 = hn::Add(c2, hn::Mul(hn::LoadU(d, p2 + j * 4), hn::Set(d, w2[j])));
          c3 = hn::Add(c3, hn::Mul(hn::LoadU(d, p3 + j * 4), hn::Set(d, w3[j])));
        }
      } else {
        c0 = column(o), c1 = column(o + 1), c2 = column(o + 2), c3 = column(o + 3);
      }
      const auto t0 = hn::BitCast(d64, hn::InterleaveLower(d, c0, c1));  // rows 0, 1 of o, o+1
      const auto t1 = hn::BitCast(d64, hn::InterleaveLower(d, c2, c3));  // rows 0, 1 of o+2, o+3
      const auto t2 = hn::BitCast(d64, hn::InterleaveUpper(d, c0, c1));  // rows 2, 3 of o, o+1
      const auto t3 = hn::BitCast(d64, hn::InterleaveUpper(d, c2, c3));  // rows 2, 3 of o+2, o+3
      hn::StoreU(hn::BitCast(d, hn::InterleaveLower(d64, t0, t1)), d, out + o);
      hn::StoreU(hn::BitCast(d, hn::InterleaveUpper(d64, t0, t1)), d, out + outW + o);
      hn::StoreU(hn::BitCast(d, hn::InterleaveLower(d64, t2, t3)), d, out + 2 * outW + o);
      hn::StoreU(hn::BitCast(d, hn::InterleaveUpper(d64, t2, t3)), d, out + 3 * outW + o);
    }
  }
  for (; o < outW; ++o) {
    HWY_ALIGN float lanes[4];
    hn::Store(column(o), d, lanes);
    for (uint32_t i = 0; i < rowsHere; ++i) out[i * outW + o] = lanes[i];
  }
}
#endif  // HWY_TARGET == HWY_SCALAR

void ResampleColumnsHwy(const float* src, uint32_t width, const Resampling::LinearResampler& r, float* dst) {
  std::array<std::vector<const float*>, 4> rows;
  // Group y0 / 4 starts at y0 * width.
  for (uint32_t y0 = 0; y0 < r.outLength; y0 += 4)
    VerticalGroup(src, width, r, y0, dst + static_cast<std::size_t>(y0) * width, rows);
}

void ResampleRowsHwy(const float* src, uint32_t height, const Resampling::LinearResampler& r, float* dst) {
  for (uint32_t y0 = 0; y0 < height; y0 += 4)
    HorizontalGroup(src + static_cast<std::size_t>(y0) * r.inLength, std::min<uint32_t>(4, height - y0), r,
                    dst + static_cast<std::size_t>(y0) * r.outLength);
}

void ReduceFusedHwy(const float* src, uint32_t width, const Resampling::LinearResampler* const* verticals,
                    const Resampling::LinearResampler* const* horizontals, int count, float* const* dst,
                    const std::function<void(uint32_t)>& rowsDone, uint32_t ringRows) {
  std::array<std::vector<const float*>, 4> rows;
  FuseGroups(
      width, verticals, horizontals, count, dst, rowsDone, ringRows,
      [&](const Resampling::LinearResampler& r, uint32_t y0, float* group) {
        VerticalGroup(src, width, r, y0, group, rows);
      },
      HorizontalGroup);
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::trial
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune::trial {
HWY_EXPORT(ResampleColumnsHwy);
HWY_EXPORT(ResampleRowsHwy);
HWY_EXPORT(ReduceFusedHwy);
}  // namespace kestrune::trial

namespace kestrune {

void ResampleColumns(const float* src, uint32_t width, const Resampling::LinearResampler& vertical, float* dst) {
  if (simd::ScalarKernels()) {
    for (uint32_t y0 = 0; y0 < vertical.outLength; y0 += 4)
      trial::VerticalGroupScalar(src, width, vertical, y0, dst + static_cast<std::size_t>(y0) * width);
    return;
  }
  HWY_DYNAMIC_DISPATCH(kestrune::trial::ResampleColumnsHwy)(src, width, vertical, dst);
}

void ResampleRows(const float* src, uint32_t height, const Resampling::LinearResampler& horizontal, float* dst) {
  if (simd::ScalarKernels()) {
    for (uint32_t y0 = 0; y0 < height; y0 += 4)
      trial::HorizontalGroupScalar(src + static_cast<std::size_t>(y0) * horizontal.inLength,
                                   std::min<uint32_t>(4, height - y0), horizontal,
                                   dst + static_cast<std::size_t>(y0) * horizontal.outLength);
    return;
  }
  HWY_DYNAMIC_DISPATCH(kestrune::trial::ResampleRowsHwy)(src, height, horizontal, dst);
}

void ReduceFused(const float* src, uint32_t width, const Resampling::LinearResampler* const* verticals,
                 const Resampling::LinearResampler* const* horizontals, int count, float* const* dst,
                 const std::function<void(uint32_t)>& rowsDone, uint32_t ringRows) {
  if (count < 1) return;
  if (simd::ScalarKernels())
    return trial::FuseGroups(
        width, verticals, horizontals, count, dst, rowsDone, ringRows,
        [&](const Resampling::LinearResampler& r, uint32_t y0, float* group) {
          trial::VerticalGroupScalar(src, width, r, y0, group);
        },
        trial::HorizontalGroupScalar);
  HWY_DYNAMIC_DISPATCH(kestrune::trial::ReduceFusedHwy)(src, width, verticals, horizontals, count, dst, rowsDone,
                                                        ringRows);
}

}  // namespace kestrune
#endif  // HWY_ONCE
