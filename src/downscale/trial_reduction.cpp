// The vertical and horizontal resampling passes of the hint search. The
// vertical pass runs along rows, many columns at once in SIMD registers
// (Highway picks the widest instruction set at run time); each lane still
// sums its taps in order with a separate multiply and add, so the result is
// that of the scalar loop. The horizontal pass is scalar and interleaves four
// rows, which share the weights, to keep the arithmetic units busy.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "downscale/trial_reduction.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "downscale/trial_reduction.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune_trial {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void ResampleColumnsSimd(const float* src, uint32_t width, const Resampling::LinearResampler& r, float* dst) {
  const hn::ScalableTag<float> d;
  const std::size_t lanes = hn::Lanes(d);
  const uint32_t taps = r.taps;
  const int64_t last = static_cast<int64_t>(r.inLength) - 1;
  std::vector<const float*> rows(taps);

  for (uint32_t o = 0; o < r.outLength; ++o) {
    const float* w = r.phaseWeights[static_cast<std::size_t>(r.outPhase[o])].data();
    const int64_t start = r.outStart[o];
    for (uint32_t j = 0; j < taps; ++j)
      rows[j] = src + static_cast<std::size_t>(std::clamp<int64_t>(start + j, 0, last)) * width;
    float* out = dst + static_cast<std::size_t>(o) * width;

    std::size_t x = 0;
    for (; x + 4 * lanes <= width; x += 4 * lanes) {
      auto a0 = hn::Zero(d), a1 = hn::Zero(d), a2 = hn::Zero(d), a3 = hn::Zero(d);
      for (uint32_t j = 0; j < taps; ++j) {
        const auto wj = hn::Set(d, w[j]);
        const float* p = rows[j] + x;
        a0 = hn::Add(a0, hn::Mul(hn::LoadU(d, p), wj));
        a1 = hn::Add(a1, hn::Mul(hn::LoadU(d, p + lanes), wj));
        a2 = hn::Add(a2, hn::Mul(hn::LoadU(d, p + 2 * lanes), wj));
        a3 = hn::Add(a3, hn::Mul(hn::LoadU(d, p + 3 * lanes), wj));
      }
      hn::StoreU(a0, d, out + x);
      hn::StoreU(a1, d, out + x + lanes);
      hn::StoreU(a2, d, out + x + 2 * lanes);
      hn::StoreU(a3, d, out + x + 3 * lanes);
    }
    for (; x + lanes <= width; x += lanes) {
      auto a = hn::Zero(d);
      for (uint32_t j = 0; j < taps; ++j) a = hn::Add(a, hn::Mul(hn::LoadU(d, rows[j] + x), hn::Set(d, w[j])));
      hn::StoreU(a, d, out + x);
    }
    for (; x < width; ++x) {
      float a = 0.0f;
      for (uint32_t j = 0; j < taps; ++j) a += rows[j][x] * w[j];
      out[x] = a;
    }
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune_trial
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune_trial {
HWY_EXPORT(ResampleColumnsSimd);
}  // namespace kestrune_trial

void ResampleColumns(const float* src, uint32_t width, const Resampling::LinearResampler& vertical, float* dst) {
  HWY_DYNAMIC_DISPATCH(kestrune_trial::ResampleColumnsSimd)(src, width, vertical, dst);
}

namespace {

// One output sample of one row, edge samples replicated.
inline float ClampedSample(const float* row, int64_t start, const float* w, uint32_t taps, int64_t last) {
  float a = 0.0f;
  for (uint32_t j = 0; j < taps; ++j) a += row[std::clamp<int64_t>(start + j, 0, last)] * w[j];
  return a;
}

}  // namespace

void ResampleRows(const float* src, uint32_t height, const Resampling::LinearResampler& r, float* dst) {
  const uint32_t taps = r.taps;
  const std::size_t inW = r.inLength;
  const std::size_t outW = r.outLength;
  const int64_t last = static_cast<int64_t>(r.inLength) - 1;

  uint32_t y = 0;
  for (; y + 4 <= height; y += 4) {
    const float* s0 = src + y * inW;
    const float* s1 = s0 + inW;
    const float* s2 = s1 + inW;
    const float* s3 = s2 + inW;
    float* d0 = dst + y * outW;
    for (std::size_t o = 0; o < outW; ++o) {
      const float* w = r.phaseWeights[static_cast<std::size_t>(r.outPhase[o])].data();
      const int64_t start = r.outStart[o];
      if (start >= 0 && start + taps <= static_cast<int64_t>(inW)) {
        const float *p0 = s0 + start, *p1 = s1 + start, *p2 = s2 + start, *p3 = s3 + start;
        float a0 = 0.0f, a1 = 0.0f, a2 = 0.0f, a3 = 0.0f;
        for (uint32_t j = 0; j < taps; ++j) {
          const float wj = w[j];
          a0 += p0[j] * wj;
          a1 += p1[j] * wj;
          a2 += p2[j] * wj;
          a3 += p3[j] * wj;
        }
        d0[o] = a0;
        d0[o + outW] = a1;
        d0[o + 2 * outW] = a2;
        d0[o + 3 * outW] = a3;
      } else {
        d0[o] = ClampedSample(s0, start, w, taps, last);
        d0[o + outW] = ClampedSample(s1, start, w, taps, last);
        d0[o + 2 * outW] = ClampedSample(s2, start, w, taps, last);
        d0[o + 3 * outW] = ClampedSample(s3, start, w, taps, last);
      }
    }
  }
  for (; y < height; ++y) {
    const float* s = src + y * inW;
    float* d = dst + y * outW;
    for (std::size_t o = 0; o < outW; ++o)
      d[o] = ClampedSample(s, r.outStart[o], r.phaseWeights[static_cast<std::size_t>(r.outPhase[o])].data(),
                           taps, last);
  }
}
#endif  // HWY_ONCE
