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
#include <type_traits>
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

// Vectors of one row each for the vertical pass, of one output sample's eight
// rows (or part of them) for the horizontal pass.
using DRow = hn::ScalableTag<float>;
using DLanes = hn::CappedTag<float, kRows>;
constexpr Index kRowLanes = static_cast<Index>(hn::MaxLanes(DRow()));
constexpr Index kParts = kRows / static_cast<Index>(hn::MaxLanes(DLanes()));

#if HWY_TARGET == HWY_AVX2 || HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
#define KESTRUNE_RESIZE_TRANSPOSES 1
using D8 = hn::FixedTag<float, 8>;

// 8 x 8 transpose: on return v[k] holds element k of every input vector.
HWY_INLINE void Transpose8(hn::Vec<D8> (&v)[8]) {
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
#endif

// kRowLanes columns of the block's eight rows, one vector per row, stored
// interleaved: block[i * 8 + lane] = element i of rows[lane].
// (A template, so that only the branch of the target's width is compiled.)
template <class D>
HWY_INLINE void StoreColumns(D d, hn::Vec<D> (&rows)[kRows], float* block) {
#if KESTRUNE_RESIZE_TRANSPOSES
  const D8 d8;
  if constexpr (kRowLanes == 8) {
    Transpose8(rows);
    for (Index k = 0; k < 8; ++k) hn::StoreU(rows[k], d8, block + k * kRows);
    return;
  } else if constexpr (kRowLanes == 16) {
    // The first two steps of Transpose8 within each 128-bit block leave
    // column 4b + c of rows 0-3 in block b of u[c], of rows 4-7 in block b
    // of u[4 + c]; block shuffles then gather two columns per vector.
    const hn::Repartition<double, D> d64;
    hn::Vec<D> t[8], u[8];
    for (int k = 0; k < 8; k += 2) {
      t[k] = hn::InterleaveLower(d, rows[k], rows[k + 1]);
      t[k + 1] = hn::InterleaveUpper(d, rows[k], rows[k + 1]);
    }
    auto lower64 = [&](hn::Vec<D> a, hn::Vec<D> b) {
      return hn::BitCast(d, hn::InterleaveLower(d64, hn::BitCast(d64, a), hn::BitCast(d64, b)));
    };
    auto upper64 = [&](hn::Vec<D> a, hn::Vec<D> b) {
      return hn::BitCast(d, hn::InterleaveUpper(d64, hn::BitCast(d64, a), hn::BitCast(d64, b)));
    };
    for (int k = 0; k < 8; k += 4) {
      u[k] = lower64(t[k], t[k + 2]);
      u[k + 1] = upper64(t[k], t[k + 2]);
      u[k + 2] = lower64(t[k + 1], t[k + 3]);
      u[k + 3] = upper64(t[k + 1], t[k + 3]);
    }
    auto blocks = [](hn::Vec<D> a, hn::Vec<D> b, auto imm) {
      return hn::Vec<D>{_mm512_shuffle_f32x4(a.raw, b.raw, decltype(imm)::value)};
    };
    using Low = std::integral_constant<int, _MM_SHUFFLE(1, 0, 1, 0)>;
    using High = std::integral_constant<int, _MM_SHUFFLE(3, 2, 3, 2)>;
    using Even = std::integral_constant<int, _MM_SHUFFLE(2, 0, 2, 0)>;
    using Odd = std::integral_constant<int, _MM_SHUFFLE(3, 1, 3, 1)>;
    for (int c = 0; c < 4; c += 2) {
      // Blocks 0, 1 (and 2, 3) of rows 0-3 and 4-7 of columns c and c + 1.
      const auto s0 = blocks(u[c], u[4 + c], Low()), s1 = blocks(u[c + 1], u[5 + c], Low());
      const auto h0 = blocks(u[c], u[4 + c], High()), h1 = blocks(u[c + 1], u[5 + c], High());
      hn::StoreU(blocks(s0, s1, Even()), d, block + c * kRows);
      hn::StoreU(blocks(s0, s1, Odd()), d, block + (4 + c) * kRows);
      hn::StoreU(blocks(h0, h1, Even()), d, block + (8 + c) * kRows);
      hn::StoreU(blocks(h0, h1, Odd()), d, block + (12 + c) * kRows);
    }
    return;
  }
#endif
  HWY_ALIGN float lanes[kRows * kRowLanes];
  for (Index l = 0; l < kRows; ++l) hn::Store(rows[l], d, lanes + l * kRowLanes);
  for (Index i = 0; i < kRowLanes; ++i)
    for (Index l = 0; l < kRows; ++l) block[i * kRows + l] = lanes[l * kRowLanes + i];
}

// out[x] = sum over j of rows[j][x] * w[j] for x in [x, end), accumulated in
// order of j. One row at a time keeps the source rows read at once to the
// taps of one.
void CombineRows(const float* const* rows, const float* w, Index taps, Index x, Index end, float* out) {
  const DRow d;
  constexpr Index N = kRowLanes;
  for (; x + 4 * N <= end; x += 4 * N) {
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
  for (; x + N <= end; x += N) {
    auto a = hn::Zero(d);
    for (Index j = 0; j < taps; ++j) a = hn::Add(a, hn::Mul(hn::LoadU(d, rows[j] + x), hn::Set(d, w[j])));
    hn::StoreU(a, d, out + x);
  }
  for (; x < end; ++x) {
    float a = 0.0f;
    for (Index j = 0; j < taps; ++j) a = a + rows[j][x] * w[j];
    out[x] = a;
  }
}

// rows[lane][x] -> block[x * 8 + lane] for x in [x, end).
void Interleave(const float* const (&rows)[kRows], Index x, Index end, float* block) {
  const DRow d;
  for (; x + kRowLanes <= end; x += kRowLanes) {
    hn::Vec<DRow> v[kRows];
    for (Index l = 0; l < kRows; ++l) v[l] = hn::LoadU(d, rows[l] + x);
    StoreColumns(d, v, block + x * kRows);
  }
  for (; x < end; ++x)
    for (Index l = 0; l < kRows; ++l) block[x * kRows + l] = rows[l][x];
}

// Horizontal pass of a block (inLength samples of eight interleaved rows):
// output sample o of row l to out[l][o] for the first `lanes` rows. Eight
// output samples at a time when the transposes turn their vectors into rows.
void HorizontalBlock(const float* block, Index inLength, const LinearResampler& r, Index lanes, float* const* out) {
  const DLanes d;
  constexpr Index N = kRows / kParts;
  const Index taps = r.taps, outLength = r.outLength;
  auto inside = [&](Index o) { return r.outStart[o] >= 0 && r.outStart[o] + taps <= inLength; };
  // The eight rows of output sample o.
  auto sample = [&](Index o, hn::Vec<DLanes> (&a)[kParts]) {
    const Index start = r.outStart[o];
    const float* w = WeightsOf(r, o);
    for (Index h = 0; h < kParts; ++h) a[h] = hn::Zero(d);
    for (Index j = 0; j < taps; ++j) {
      const float* s = block + (inside(o) ? start + j : std::clamp<Index>(start + j, 0, inLength - 1)) * kRows;
      const auto wj = hn::Set(d, w[j]);
      for (Index h = 0; h < kParts; ++h) a[h] = hn::Add(a[h], hn::Mul(hn::LoadU(d, s + h * N), wj));
    }
  };
  Index o = 0;
#if KESTRUNE_RESIZE_TRANSPOSES
  if constexpr (kParts == 1) {
    for (; o + 8 <= outLength; o += 8) {
      hn::Vec<D8> v[8];
      bool allInside = true;
      for (Index k = 0; k < 8; ++k) allInside = allInside && inside(o + k);
      if (allInside) {
        // Four independent sums at a time, so that the additions overlap
        // (with eight, their pointers would not fit in registers).
        for (Index k = 0; k < 8; k += 4) {
          const float* s0 = block + r.outStart[o + k] * kRows;
          const float* s1 = block + r.outStart[o + k + 1] * kRows;
          const float* s2 = block + r.outStart[o + k + 2] * kRows;
          const float* s3 = block + r.outStart[o + k + 3] * kRows;
          const float *w0 = WeightsOf(r, o + k), *w1 = WeightsOf(r, o + k + 1), *w2 = WeightsOf(r, o + k + 2),
                      *w3 = WeightsOf(r, o + k + 3);
          auto a0 = hn::Zero(d), a1 = hn::Zero(d), a2 = hn::Zero(d), a3 = hn::Zero(d);
          for (Index j = 0; j < taps; ++j) {
            a0 = hn::Add(a0, hn::Mul(hn::LoadU(d, s0 + j * kRows), hn::Set(d, w0[j])));
            a1 = hn::Add(a1, hn::Mul(hn::LoadU(d, s1 + j * kRows), hn::Set(d, w1[j])));
            a2 = hn::Add(a2, hn::Mul(hn::LoadU(d, s2 + j * kRows), hn::Set(d, w2[j])));
            a3 = hn::Add(a3, hn::Mul(hn::LoadU(d, s3 + j * kRows), hn::Set(d, w3[j])));
          }
          v[k] = a0, v[k + 1] = a1, v[k + 2] = a2, v[k + 3] = a3;
        }
      } else {
        for (Index k = 0; k < 8; ++k) {
          hn::Vec<DLanes> a[kParts];
          sample(o + k, a);
          v[k] = a[0];
        }
      }
      Transpose8(v);
      for (Index l = 0; l < lanes; ++l) hn::StoreU(v[l], d, out[l] + o);
    }
  }
#endif
  for (; o < outLength; ++o) {
    hn::Vec<DLanes> a[kParts];
    sample(o, a);
    HWY_ALIGN float rows[kRows];
    for (Index h = 0; h < kParts; ++h) hn::Store(a[h], d, rows + h * N);
    for (Index l = 0; l < lanes; ++l) out[l][o] = rows[l];
  }
}

// A block's intermediate rows, interleaved, and the horizontal pass on them.
struct VectorKernel {
  static constexpr Index kStrip = 256;

  const float* src;
  Index width;
  std::vector<float> rows, block;
  std::vector<const float*> taps;

  void Vertical(const LinearResampler& r, Index y, Index lanes) {
    rows.resize(std::size_t(kRows * width));
    block.resize(std::size_t(kRows * width));
    taps.resize(std::size_t(kRows) * r.taps);
    const float* rowPtr[kRows];
    for (Index l = 0; l < lanes; ++l) {
      TapRows(src, width, r, y + l, taps.data() + l * r.taps);
      rowPtr[l] = rows.data() + l * width;
    }
    // Lanes past the last row repeat the first; their outputs are never
    // stored.
    for (Index l = lanes; l < kRows; ++l) rowPtr[l] = rowPtr[0];
    // Strips of columns, so that the source rows a strip shares between its
    // output rows are still in the first-level cache.
    for (Index x = 0; x < width; x += kStrip) {
      const Index end = std::min(width, x + kStrip);
      for (Index l = 0; l < lanes; ++l)
        CombineRows(taps.data() + l * r.taps, WeightsOf(r, y + l), r.taps, x, end, rows.data() + l * width);
      Interleave(rowPtr, x, end, block.data());
    }
  }

  void Horizontal(const LinearResampler& r, Index lanes, float* const* out) const {
    HorizontalBlock(block.data(), width, r, lanes, out);
  }
};

void ResizeRowsHwy(const float* src, Index width, const LinearResampler* const* verticals,
                   const LinearResampler* const* horizontals, int count, Index y0, Index y1, float* const* dst,
                   const std::function<void(Index)>& rowsDone, Index ringRows) {
  VectorKernel k{src, width, {}, {}, {}};
  RunBlocks(k, verticals, horizontals, count, y0, y1, dst, rowsDone, ringRows);
}

#undef KESTRUNE_RESIZE_TRANSPOSES
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
