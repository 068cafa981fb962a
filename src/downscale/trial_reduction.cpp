// The vertical and horizontal resampling passes of the hint search, with
// Highway choosing the widest instruction set at run time. The vertical pass
// computes four output rows at a time along the rows, many columns per
// vector, and stores them interleaved; the horizontal pass then reads the four
// rows of one column as one 4-lane vector, so it too runs four samples per
// instruction. Each lane sums its taps in order with a separate multiply and
// add, exactly as the scalar loop would.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "downscale/trial_reduction.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <array>
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
  // Source rows and weights of the four output rows of a group; a padding
  // row has no taps and so yields 0.
  std::array<std::vector<const float*>, 4> rows;
  std::array<const float*, 4> weights{};
  std::array<uint32_t, 4> count{};
  for (auto& list : rows) list.resize(taps);

  for (uint32_t y0 = 0; y0 < r.outLength; y0 += 4) {
    for (uint32_t i = 0; i < 4; ++i) {
      const uint32_t y = y0 + i;
      count[i] = y < r.outLength ? taps : 0;
      if (count[i] == 0) continue;
      weights[i] = r.phaseWeights[static_cast<std::size_t>(r.outPhase[y])].data();
      for (uint32_t j = 0; j < taps; ++j)
        rows[i][j] = src + static_cast<std::size_t>(std::clamp<int64_t>(r.outStart[y] + int64_t{j}, 0, last)) * width;
    }
    float* out = dst + static_cast<std::size_t>(y0) * width;  // group y0 / 4 starts at y0 * width

    std::size_t x = 0;
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
}

#if HWY_TARGET == HWY_SCALAR
// Without 4-lane vectors: the same sums, one sample at a time.
void ResampleRowsSimd(const float* src, uint32_t height, const Resampling::LinearResampler& r, float* dst) {
  const uint32_t taps = r.taps;
  const std::size_t inW = r.inLength;
  const std::size_t outW = r.outLength;
  const int64_t last = static_cast<int64_t>(r.inLength) - 1;
  for (uint32_t y = 0; y < height; ++y) {
    const float* row = src + static_cast<std::size_t>(y / 4) * inW * 4 + y % 4;
    for (std::size_t o = 0; o < outW; ++o) {
      const float* w = r.phaseWeights[static_cast<std::size_t>(r.outPhase[o])].data();
      float a = 0.0f;
      for (uint32_t j = 0; j < taps; ++j)
        a += row[static_cast<std::size_t>(std::clamp<int64_t>(r.outStart[o] + int64_t{j}, 0, last)) * 4] * w[j];
      dst[y * outW + o] = a;
    }
  }
}
#else
void ResampleRowsSimd(const float* src, uint32_t height, const Resampling::LinearResampler& r, float* dst) {
  const hn::FixedTag<float, 4> d;
  const hn::RepartitionToWide<decltype(d)> d64;
  const uint32_t taps = r.taps;
  const std::size_t inW = r.inLength;
  const std::size_t outW = r.outLength;
  const int64_t last = static_cast<int64_t>(r.inLength) - 1;

  // The four rows of a group at output sample o.
  auto column = [&](const float* group, std::size_t o) {
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

  for (uint32_t y0 = 0; y0 < height; y0 += 4) {
    const float* group = src + static_cast<std::size_t>(y0) * inW;
    const uint32_t rowsHere = std::min<uint32_t>(4, height - y0);
    float* out = dst + static_cast<std::size_t>(y0) * outW;
    std::size_t o = 0;
    if (rowsHere == 4) {
      for (; o + 4 <= outW; o += 4) {
        // Four output samples of four rows: transpose the 4 x 4 block so
        // that each row's four samples are stored together.
        const auto c0 = column(group, o), c1 = column(group, o + 1);
        const auto c2 = column(group, o + 2), c3 = column(group, o + 3);
        const auto t0 = hn::BitCast(d64, hn::InterleaveLower(d, c0, c1));  // r0: o, o+1 | r1: o, o+1
        const auto t1 = hn::BitCast(d64, hn::InterleaveLower(d, c2, c3));  // r0: o+2, o+3 | r1: ...
        const auto t2 = hn::BitCast(d64, hn::InterleaveUpper(d, c0, c1));  // r2 | r3
        const auto t3 = hn::BitCast(d64, hn::InterleaveUpper(d, c2, c3));
        hn::StoreU(hn::BitCast(d, hn::InterleaveLower(d64, t0, t1)), d, out + o);
        hn::StoreU(hn::BitCast(d, hn::InterleaveUpper(d64, t0, t1)), d, out + outW + o);
        hn::StoreU(hn::BitCast(d, hn::InterleaveLower(d64, t2, t3)), d, out + 2 * outW + o);
        hn::StoreU(hn::BitCast(d, hn::InterleaveUpper(d64, t2, t3)), d, out + 3 * outW + o);
      }
    }
    for (; o < outW; ++o) {
      HWY_ALIGN float lanes[4];
      hn::Store(column(group, o), d, lanes);
      for (uint32_t i = 0; i < rowsHere; ++i) out[i * outW + o] = lanes[i];
    }
  }
}
#endif  // HWY_TARGET == HWY_SCALAR

}  // namespace HWY_NAMESPACE
}  // namespace kestrune_trial
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune_trial {
HWY_EXPORT(ResampleColumnsSimd);
HWY_EXPORT(ResampleRowsSimd);
}  // namespace kestrune_trial

void ResampleColumns(const float* src, uint32_t width, const Resampling::LinearResampler& vertical, float* dst) {
  HWY_DYNAMIC_DISPATCH(kestrune_trial::ResampleColumnsSimd)(src, width, vertical, dst);
}

void ResampleRows(const float* src, uint32_t height, const Resampling::LinearResampler& horizontal, float* dst) {
  HWY_DYNAMIC_DISPATCH(kestrune_trial::ResampleRowsSimd)(src, height, horizontal, dst);
}
#endif  // HWY_ONCE
