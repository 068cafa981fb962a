// ResizeRows on Highway. The horizontal pass keeps eight rows side by side,
// in one vector of eight lanes or in several narrower ones; on x86 targets
// with 256-bit vectors the rows are interleaved by 8 x 8 transposes.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "resampling/resize_rows.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "resampling/resize_rows.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::Resampling {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using Index = std::ptrdiff_t;
constexpr Index kRows = 8;  // rows computed side by side in the horizontal pass

// out[x] = sum over j of rows[j][x] * w[j], accumulated in order of j.
void CombineRows(const float* const* rows, const float* w, Index taps, Index width, float* out) {
  const hn::ScalableTag<float> d;
  const Index N = static_cast<Index>(hn::Lanes(d));
  Index x = 0;
  for (; x + 4 * N <= width; x += 4 * N) {
    auto a0 = hn::Zero(d), a1 = hn::Zero(d), a2 = hn::Zero(d), a3 = hn::Zero(d);
    for (Index j = 0; j < taps; ++j) {
      const float* r = rows[j] + x;
      const auto wj = hn::Set(d, w[j]);
      a0 = hn::Add(a0, hn::Mul(hn::LoadU(d, r), wj));
      a1 = hn::Add(a1, hn::Mul(hn::LoadU(d, r + N), wj));
      a2 = hn::Add(a2, hn::Mul(hn::LoadU(d, r + 2 * N), wj));
      a3 = hn::Add(a3, hn::Mul(hn::LoadU(d, r + 3 * N), wj));
    }
    hn::StoreU(a0, d, out + x);
    hn::StoreU(a1, d, out + x + N);
    hn::StoreU(a2, d, out + x + 2 * N);
    hn::StoreU(a3, d, out + x + 3 * N);
  }
  for (; x + N <= width; x += N) {
    auto a = hn::Zero(d);
    for (Index j = 0; j < taps; ++j) a = hn::Add(a, hn::Mul(hn::LoadU(d, rows[j] + x), hn::Set(d, w[j])));
    hn::StoreU(a, d, out + x);
  }
  for (; x < width; ++x) {
    float a = 0.0f;
    for (Index j = 0; j < taps; ++j) a = a + rows[j][x] * w[j];
    out[x] = a;
  }
}

// Horizontal pass on eight interleaved rows: in[m * 8 + lane] holds sample m
// of row `lane`; out[o * 8 + lane] receives output o of that row.
void FilterInterleaved(const float* in, Index inLength, const int32_t* outStart, const float* const* outWeights,
                       Index outLength, Index taps, float* out) {
  const hn::CappedTag<float, kRows> d;
  constexpr Index N = static_cast<Index>(hn::MaxLanes(decltype(d)()));
  constexpr Index parts = kRows / N;
  for (Index o = 0; o < outLength; ++o) {
    const Index start = outStart[o];
    const float* w = outWeights[o];
    hn::Vec<decltype(d)> a[parts];
    for (Index h = 0; h < parts; ++h) a[h] = hn::Zero(d);
    if (start > 0 && start + taps <= inLength) {
      const float* s = in + start * kRows;
      for (Index j = 0; j < taps; ++j) {
        const auto wj = hn::Set(d, w[j]);
        for (Index h = 0; h < parts; ++h) a[h] = hn::Add(a[h], hn::Mul(hn::LoadU(d, s + j * kRows + h * N), wj));
      }
    } else {
      for (Index j = 0; j < taps; ++j) {
        const float* s = in + std::clamp<Index>(start + j, 0, inLength - 1) * kRows;
        const auto wj = hn::Set(d, w[j]);
        for (Index h = 0; h < parts; ++h) a[h] = hn::Add(a[h], hn::Mul(hn::LoadU(d, s + h * N), wj));
      }
    }
    for (Index h = 0; h < parts; ++h) hn::StoreU(a[h], d, out + o * kRows + h * N);
  }
}

#if HWY_TARGET == HWY_AVX2 || HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
using D8 = hn::FixedTag<float, 8>;

// 8 x 8 transpose: on return v[k] holds element k of every input vector.
HWY_INLINE void Transpose8(hn::Vec<D8> v[8]) {
  const D8 d;
  const hn::Repartition<double, D8> d64;
  hn::Vec<D8> t[8], u[8];
  for (int k = 0; k < 8; k += 2) {
    t[k] = hn::InterleaveLower(d, v[k], v[k + 1]);
    t[k + 1] = hn::InterleaveUpper(d, v[k], v[k + 1]);
  }
  auto lower64 = [&](hn::Vec<D8> a, hn::Vec<D8> b) {
    return hn::BitCast(d, hn::InterleaveLower(d64, hn::BitCast(d64, a), hn::BitCast(d64, b)));
  };
  auto upper64 = [&](hn::Vec<D8> a, hn::Vec<D8> b) {
    return hn::BitCast(d, hn::InterleaveUpper(d64, hn::BitCast(d64, a), hn::BitCast(d64, b)));
  };
  for (int k = 0; k < 8; k += 4) {
    u[k] = lower64(t[k], t[k + 2]);
    u[k + 1] = upper64(t[k], t[k + 2]);
    u[k + 2] = lower64(t[k + 1], t[k + 3]);
    u[k + 3] = upper64(t[k + 1], t[k + 3]);
  }
  for (int k = 0; k < 4; ++k) {
    v[k] = hn::ConcatLowerLower(d, u[k + 4], u[k]);
    v[k + 4] = hn::ConcatUpperUpper(d, u[k + 4], u[k]);
  }
}

// rows[lane][x] -> block[x * 8 + lane].
void Interleave(const float* const* rows, Index width, float* block) {
  const D8 d;
  Index x = 0;
  for (; x + 8 <= width; x += 8) {
    hn::Vec<D8> v[8];
    for (int l = 0; l < 8; ++l) v[l] = hn::LoadU(d, rows[l] + x);
    Transpose8(v);
    for (int k = 0; k < 8; ++k) hn::StoreU(v[k], d, block + (x + k) * kRows);
  }
  for (; x < width; ++x)
    for (Index l = 0; l < kRows; ++l) block[x * kRows + l] = rows[l][x];
}

// block[x * 8 + lane] -> rows[lane][x].
void Deinterleave(const float* block, Index width, float* const* rows) {
  const D8 d;
  Index x = 0;
  for (; x + 8 <= width; x += 8) {
    hn::Vec<D8> v[8];
    for (int k = 0; k < 8; ++k) v[k] = hn::LoadU(d, block + (x + k) * kRows);
    Transpose8(v);
    for (int l = 0; l < 8; ++l) hn::StoreU(v[l], d, rows[l] + x);
  }
  for (; x < width; ++x)
    for (Index l = 0; l < kRows; ++l) rows[l][x] = block[x * kRows + l];
}
#else
void Interleave(const float* const* rows, Index width, float* block) {
  for (Index x = 0; x < width; ++x)
    for (Index l = 0; l < kRows; ++l) block[x * kRows + l] = rows[l][x];
}

void Deinterleave(const float* block, Index width, float* const* rows) {
  for (Index x = 0; x < width; ++x)
    for (Index l = 0; l < kRows; ++l) rows[l][x] = block[x * kRows + l];
}
#endif

void ResizeRowsHwy(const float* src, Index sw, Index sh, const LinearResampler& vertical, const float* const* vWeights,
                   const LinearResampler& horizontal, const float* const* hWeights, Index y0, Index y1, float* dst,
                   Index dw) {
  const Index vTaps = vertical.taps, hTaps = horizontal.taps;
  std::vector<float> rowsBlock(std::size_t(kRows) * sw), inBlock(std::size_t(kRows) * sw),
      outBlock(std::size_t(kRows) * dw), spareRow(static_cast<std::size_t>(dw));
  std::vector<const float*> taps(std::size_t(std::max<Index>(vTaps, 1)));
  const float* rowPtr[kRows];
  float* dstRows[kRows];
  for (Index y = y0; y < y1; y += kRows) {
    const Index lanes = std::min(kRows, y1 - y);
    // Vertical pass: intermediate rows y.. as weighted sums of source rows
    // (edge rows replicated where the window leaves the plane).
    for (Index l = 0; l < lanes; ++l) {
      const Index start = vertical.outStart[y + l];
      for (Index j = 0; j < vTaps; ++j) taps[j] = src + std::clamp<Index>(start + j, 0, sh - 1) * sw;
      float* row = rowsBlock.data() + l * sw;
      CombineRows(taps.data(), vWeights[y + l], vTaps, sw, row);
      rowPtr[l] = row;
      dstRows[l] = dst + (y + l) * dw;
    }
    // Lanes past the last row repeat row 0 and are thrown away.
    for (Index l = lanes; l < kRows; ++l) {
      rowPtr[l] = rowPtr[0];
      dstRows[l] = spareRow.data();
    }
    // Horizontal pass on the eight rows side by side.
    Interleave(rowPtr, sw, inBlock.data());
    FilterInterleaved(inBlock.data(), sw, horizontal.outStart.data(), hWeights, dw, hTaps, outBlock.data());
    Deinterleave(outBlock.data(), dw, dstRows);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::Resampling
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune::Resampling {

HWY_EXPORT(ResizeRowsHwy);

void ResizeRows(const float* src, std::ptrdiff_t sw, std::ptrdiff_t sh, const LinearResampler& vertical,
                const float* const* vWeights, const LinearResampler& horizontal, const float* const* hWeights,
                std::ptrdiff_t y0, std::ptrdiff_t y1, float* dst, std::ptrdiff_t dw) {
  HWY_DYNAMIC_DISPATCH(ResizeRowsHwy)(src, sw, sh, vertical, vWeights, horizontal, hWeights, y0, y1, dst, dw);
}

}  // namespace kestrune::Resampling
#endif  // HWY_ONCE
