// ResizeRows: the block loop, once, with two kernels: a plain scalar one and
// one on Highway. The Highway kernel makes a block's eight intermediate rows
// along the rows, many columns per vector, then interleaves them (sample m of
// row `lane` at m * 8 + lane) so that the horizontal pass computes the eight
// rows of an output sample in one vector of eight lanes (or several narrower
// ones), four output samples at a time; on x86 targets with 256-bit vectors
// the rows are interleaved by 8 x 8 transposes.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "resampling/resize_rows.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <vector>

#include "base/simd.h"
#include "resampling/resize_rows.h"

// Code outside the per-target namespace, compiled once: the block loop and
// the scalar kernel.
#ifndef KESTRUNE_RESIZE_ROWS_COMMON
#define KESTRUNE_RESIZE_ROWS_COMMON
namespace kestrune::Resampling::rows {

using Index = std::ptrdiff_t;
constexpr Index kRows = kResizeBlockRows;

// The weights of output sample o.
inline const float* WeightsOf(const LinearResampler& r, Index o) {
  return r.phaseWeights[static_cast<std::size_t>(r.outPhase[static_cast<std::size_t>(o)])].data();
}

// The source rows of output row y's taps, edge rows replicated where the
// window leaves the plane.
inline void TapRows(const float* src, Index width, const LinearResampler& r, Index y, const float** taps) {
  const Index last = Index(r.inLength) - 1;
  for (Index j = 0; j < Index(r.taps); ++j) taps[j] = src + std::clamp<Index>(r.outStart[y] + j, 0, last) * width;
}

// The blocks of rows [y0, y1) with a kernel k: k.Vertical(r, y, lanes) makes
// intermediate rows y .. y + lanes - 1, k.Horizontal(r, lanes, rows)
// resamples them into the output rows at rows[0 .. lanes - 1].
template <class Kernel>
void RunBlocks(Kernel& k, const LinearResampler* const* verticals, const LinearResampler* const* horizontals,
               int count, Index y0, Index y1, float* const* dst, const std::function<void(Index)>& rowsDone,
               Index ringRows) {
  float* out[kRows];
  for (Index y = y0; y < y1; y += kRows) {
    const Index lanes = std::min(kRows, y1 - y);
    for (int i = 0; i < count; ++i) {
      if (i == 0 || verticals[i] != verticals[i - 1]) k.Vertical(*verticals[i], y, lanes);
      const Index dw = horizontals[i]->outLength;
      for (Index l = 0; l < lanes; ++l) out[l] = dst[i] + (ringRows ? (y + l) % ringRows : y + l) * dw;
      k.Horizontal(*horizontals[i], lanes, out);
    }
    if (rowsDone) rowsDone(y + lanes);
  }
}

// The plain reading: each intermediate row as a weighted sum of source rows,
// then each through LinearResampler::Resample.
struct ScalarKernel {
  const float* src;
  Index width;
  std::vector<float> rows;
  std::vector<const float*> taps;

  void Vertical(const LinearResampler& r, Index y, Index lanes) {
    rows.resize(std::size_t(kRows * width));
    taps.resize(r.taps);
    for (Index l = 0; l < lanes; ++l) {
      TapRows(src, width, r, y + l, taps.data());
      const float* w = WeightsOf(r, y + l);
      float* row = rows.data() + l * width;
      std::fill_n(row, width, 0.0f);
      for (Index j = 0; j < Index(r.taps); ++j)
        for (Index x = 0; x < width; ++x) row[x] = row[x] + taps[j][x] * w[j];
    }
  }
  void Horizontal(const LinearResampler& r, Index lanes, float* const* out) const {
    for (Index l = 0; l < lanes; ++l) r.Resample(rows.data() + l * width, out[l]);
  }
};

}  // namespace kestrune::Resampling::rows
#endif  // KESTRUNE_RESIZE_ROWS_COMMON

HWY_BEFORE_NAMESPACE();
namespace kestrune::Resampling::rows {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

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
// of row `lane`; out[o * 8 + lane] receives output o of that row. With one
// vector per output sample, four output samples whose windows lie inside the
// row are summed side by side, so that their additions overlap.
void FilterInterleaved(const float* in, Index inLength, const LinearResampler& r, float* out) {
  const hn::CappedTag<float, kRows> d;
  constexpr Index N = static_cast<Index>(hn::MaxLanes(decltype(d)()));
  constexpr Index parts = kRows / N;
  const Index taps = r.taps, outLength = r.outLength;
  auto inside = [&](Index o) { return r.outStart[o] >= 0 && r.outStart[o] + taps <= inLength; };
  Index o = 0;
  if constexpr (parts == 1) {
    for (; o + 4 <= outLength && inside(o) && inside(o + 1) && inside(o + 2) && inside(o + 3); o += 4) {
      const float *w0 = WeightsOf(r, o), *w1 = WeightsOf(r, o + 1), *w2 = WeightsOf(r, o + 2),
                  *w3 = WeightsOf(r, o + 3);
      const float* s0 = in + r.outStart[o] * kRows;
      const float* s1 = in + r.outStart[o + 1] * kRows;
      const float* s2 = in + r.outStart[o + 2] * kRows;
      const float* s3 = in + r.outStart[o + 3] * kRows;
      auto a0 = hn::Zero(d), a1 = hn::Zero(d), a2 = hn::Zero(d), a3 = hn::Zero(d);
      for (Index j = 0; j < taps; ++j) {
        a0 = hn::Add(a0, hn::Mul(hn::LoadU(d, s0 + j * kRows), hn::Set(d, w0[j])));
        a1 = hn::Add(a1, hn::Mul(hn::LoadU(d, s1 + j * kRows), hn::Set(d, w1[j])));
        a2 = hn::Add(a2, hn::Mul(hn::LoadU(d, s2 + j * kRows), hn::Set(d, w2[j])));
        a3 = hn::Add(a3, hn::Mul(hn::LoadU(d, s3 + j * kRows), hn::Set(d, w3[j])));
      }
      hn::StoreU(a0, d, out + o * kRows);
      hn::StoreU(a1, d, out + (o + 1) * kRows);
      hn::StoreU(a2, d, out + (o + 2) * kRows);
      hn::StoreU(a3, d, out + (o + 3) * kRows);
    }
  }
  for (; o < outLength; ++o) {
    const Index start = r.outStart[o];
    const float* w = WeightsOf(r, o);
    hn::Vec<decltype(d)> a[parts];
    for (Index h = 0; h < parts; ++h) a[h] = hn::Zero(d);
    if (inside(o)) {
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

// A block's intermediate rows, interleaved, and the horizontal pass on them.
struct VectorKernel {
  const float* src;
  Index width;
  std::vector<float> rows, block, outBlock, spare;
  std::vector<const float*> taps;

  void Vertical(const LinearResampler& r, Index y, Index lanes) {
    rows.resize(std::size_t(kRows * width));
    block.resize(std::size_t(kRows * width));
    taps.resize(r.taps);
    const float* rowPtr[kRows];
    for (Index l = 0; l < lanes; ++l) {
      TapRows(src, width, r, y + l, taps.data());
      float* row = rows.data() + l * width;
      CombineRows(taps.data(), WeightsOf(r, y + l), r.taps, width, row);
      rowPtr[l] = row;
    }
    // Lanes past the last row repeat row 0; their outputs are thrown away.
    for (Index l = lanes; l < kRows; ++l) rowPtr[l] = rowPtr[0];
    Interleave(rowPtr, width, block.data());
  }

  void Horizontal(const LinearResampler& r, Index lanes, float* const* out) {
    const Index dw = r.outLength;
    outBlock.resize(std::size_t(kRows * dw));
    spare.resize(std::size_t(dw));
    float* rowsOut[kRows];
    for (Index l = 0; l < kRows; ++l) rowsOut[l] = l < lanes ? out[l] : spare.data();
    FilterInterleaved(block.data(), width, r, outBlock.data());
    Deinterleave(outBlock.data(), dw, rowsOut);
  }
};

void ResizeRowsHwy(const float* src, Index width, const LinearResampler* const* verticals,
                   const LinearResampler* const* horizontals, int count, Index y0, Index y1, float* const* dst,
                   const std::function<void(Index)>& rowsDone, Index ringRows) {
  VectorKernel k{src, width, {}, {}, {}, {}, {}};
  RunBlocks(k, verticals, horizontals, count, y0, y1, dst, rowsDone, ringRows);
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::Resampling::rows
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune::Resampling {

namespace rows {
HWY_EXPORT(ResizeRowsHwy);
}  // namespace rows

void ResizeRows(const float* src, std::ptrdiff_t width, const LinearResampler* const* verticals,
                const LinearResampler* const* horizontals, int count, std::ptrdiff_t y0, std::ptrdiff_t y1,
                float* const* dst, const std::function<void(std::ptrdiff_t)>& rowsDone, std::ptrdiff_t ringRows) {
  if (count < 1 || width < 1) return;
  if (simd::ScalarKernels()) {
    rows::ScalarKernel k{src, width, {}, {}};
    return rows::RunBlocks(k, verticals, horizontals, count, y0, y1, dst, rowsDone, ringRows);
  }
  HWY_DYNAMIC_DISPATCH(rows::ResizeRowsHwy)(src, width, verticals, horizontals, count, y0, y1, dst, rowsDone,
                                            ringRows);
}

}  // namespace kestrune::Resampling
#endif  // HWY_ONCE
