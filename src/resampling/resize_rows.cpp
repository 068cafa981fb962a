// ResizeRows: the block loop, once, with two kernels: a plain scalar one and
// one on Highway. The Highway kernel keeps a block's eight intermediate rows
// as two halves of four rows each interleaved (sample m of row 4h + i at
// h * 4 * width + m * 4 + i). The vertical pass makes a half with four rows
// side by side, or, for long windows, row by row (it then reads only one
// row's source rows at a time) before interleaving them. The horizontal pass
// computes the eight rows of an output sample in one vector of eight lanes
// (or several narrower ones) and, on x86 targets with 256-bit vectors, eight
// output samples at a time, turned into rows by an 8 x 8 transpose.
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

HWY_BEFORE_NAMESPACE();
namespace kestrune::resize_rows {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

constexpr Index kHalf = kRows / 2;  // rows per interleaved half
// Longest window for which the vertical pass makes four rows side by side;
// longer ones read too many source rows at once.
constexpr Index kSideBySideTaps = 12;

// Vectors of one row each for the vertical pass, of one output sample's eight
// rows (or part of them) for the horizontal pass.
using DRow = hn::ScalableTag<float>;
using DLanes = hn::CappedTag<float, kRows>;
constexpr Index kRowLanes = static_cast<Index>(hn::MaxLanes(DRow()));
constexpr Index kLanes = static_cast<Index>(hn::MaxLanes(DLanes()));
constexpr Index kParts = kRows / kLanes;

// Vertical pass of one half: half[x * 4 + i] = sum over j of taps[i][j][x] *
// w[i][j], accumulated in order of j, the four rows side by side.
void SideBySide(const float* const* const* taps, const float* const* w, Index nTaps, Index width, float* half) {
  const DRow d;
  const float *const *t0 = taps[0], *const *t1 = taps[1], *const *t2 = taps[2], *const *t3 = taps[3];
  const float *w0 = w[0], *w1 = w[1], *w2 = w[2], *w3 = w[3];
  Index x = 0;
  for (; x + kRowLanes <= width; x += kRowLanes) {
    auto a0 = hn::Zero(d), a1 = hn::Zero(d), a2 = hn::Zero(d), a3 = hn::Zero(d);
    for (Index j = 0; j < nTaps; ++j) {
      a0 = hn::Add(a0, hn::Mul(hn::LoadU(d, t0[j] + x), hn::Set(d, w0[j])));
      a1 = hn::Add(a1, hn::Mul(hn::LoadU(d, t1[j] + x), hn::Set(d, w1[j])));
      a2 = hn::Add(a2, hn::Mul(hn::LoadU(d, t2[j] + x), hn::Set(d, w2[j])));
      a3 = hn::Add(a3, hn::Mul(hn::LoadU(d, t3[j] + x), hn::Set(d, w3[j])));
    }
    hn::StoreInterleaved4(a0, a1, a2, a3, d, half + x * kHalf);
  }
  for (; x < width; ++x)
    for (Index i = 0; i < kHalf; ++i) {
      float a = 0.0f;
      for (Index j = 0; j < nTaps; ++j) a = a + taps[i][j][x] * w[i][j];
      half[x * kHalf + i] = a;
    }
}

// out[x] = sum over j of rows[j][x] * w[j], accumulated in order of j.
void CombineRows(const float* const* rows, const float* w, Index taps, Index width, float* out) {
  const DRow d;
  constexpr Index N = kRowLanes;
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

// rows[i][x] -> half[x * 4 + i].
void Interleave(const float* const (&rows)[kHalf], Index width, float* half) {
  const DRow d;
  Index x = 0;
  for (; x + kRowLanes <= width; x += kRowLanes)
    hn::StoreInterleaved4(hn::LoadU(d, rows[0] + x), hn::LoadU(d, rows[1] + x), hn::LoadU(d, rows[2] + x),
                          hn::LoadU(d, rows[3] + x), d, half + x * kHalf);
  for (; x < width; ++x)
    for (Index i = 0; i < kHalf; ++i) half[x * kHalf + i] = rows[i][x];
}

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

// Part p of the eight rows of intermediate sample m: rows p * kLanes onward,
// from one half or, with eight lanes, from both.
HWY_INLINE hn::Vec<DLanes> LoadSample(const float* block, Index width, Index m, Index p) {
  const DLanes d;
#if KESTRUNE_RESIZE_TRANSPOSES
  static_assert(kLanes == 8);
  (void)p;
  const hn::Half<DLanes> dh;
  return hn::Combine(d, hn::LoadU(dh, block + kHalf * width + m * kHalf), hn::LoadU(dh, block + m * kHalf));
#else
  const Index row = p * kLanes;
  return hn::LoadU(d, block + (row / kHalf) * kHalf * width + m * kHalf + row % kHalf);
#endif
}

// Horizontal pass of a block (inLength samples of eight rows): output sample
// o of row l to out[l][o] for the first `lanes` rows.
void HorizontalBlock(const float* block, Index inLength, const LinearResampler& r, Index lanes, float* const* out) {
  const DLanes d;
  const Index taps = r.taps, outLength = r.outLength;
  auto inside = [&](Index o) { return r.outStart[o] >= 0 && r.outStart[o] + taps <= inLength; };
  // The eight rows of output sample o, in kParts vectors.
  auto sample = [&](Index o, hn::Vec<DLanes>(&a)[kParts]) {
    const Index start = r.outStart[o];
    const float* w = WeightsOf(r, o);
    for (Index p = 0; p < kParts; ++p) a[p] = hn::Zero(d);
    for (Index j = 0; j < taps; ++j) {
      const Index m = inside(o) ? start + j : std::clamp<Index>(start + j, 0, inLength - 1);
      const auto wj = hn::Set(d, w[j]);
      for (Index p = 0; p < kParts; ++p) a[p] = hn::Add(a[p], hn::Mul(LoadSample(block, inLength, m, p), wj));
    }
  };
  Index o = 0;
#if KESTRUNE_RESIZE_TRANSPOSES
  for (; o + 8 <= outLength; o += 8) {
    hn::Vec<D8> v[8];
    bool allInside = true;
    for (Index k = 0; k < 8; ++k) allInside = allInside && inside(o + k);
    if (allInside) {
      // Four independent sums at a time, so that the additions overlap
      // (with eight, their pointers would not fit in registers).
      for (Index k = 0; k < 8; k += 4) {
        const Index s0 = r.outStart[o + k], s1 = r.outStart[o + k + 1], s2 = r.outStart[o + k + 2],
                    s3 = r.outStart[o + k + 3];
        const float *w0 = WeightsOf(r, o + k), *w1 = WeightsOf(r, o + k + 1), *w2 = WeightsOf(r, o + k + 2),
                    *w3 = WeightsOf(r, o + k + 3);
        auto a0 = hn::Zero(d), a1 = hn::Zero(d), a2 = hn::Zero(d), a3 = hn::Zero(d);
        for (Index j = 0; j < taps; ++j) {
          a0 = hn::Add(a0, hn::Mul(LoadSample(block, inLength, s0 + j, 0), hn::Set(d, w0[j])));
          a1 = hn::Add(a1, hn::Mul(LoadSample(block, inLength, s1 + j, 0), hn::Set(d, w1[j])));
          a2 = hn::Add(a2, hn::Mul(LoadSample(block, inLength, s2 + j, 0), hn::Set(d, w2[j])));
          a3 = hn::Add(a3, hn::Mul(LoadSample(block, inLength, s3 + j, 0), hn::Set(d, w3[j])));
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
#endif
  for (; o < outLength; ++o) {
    hn::Vec<DLanes> a[kParts];
    sample(o, a);
    HWY_ALIGN float rows[kRows];
    for (Index p = 0; p < kParts; ++p) hn::Store(a[p], d, rows + p * kLanes);
    for (Index l = 0; l < lanes; ++l) out[l][o] = rows[l];
  }
}

// A block's intermediate rows, in two interleaved halves, and the horizontal
// pass on them.
struct VectorKernel {
  const float* src;
  Index width;
  std::vector<float> rows, block;
  std::vector<const float*> taps;

  void Vertical(const LinearResampler& r, Index y, Index lanes) {
    block.resize(std::size_t(kRows * width));
    for (Index h = 0; h < 2; ++h) {
      float* half = block.data() + h * kHalf * width;
      if (Index(r.taps) <= kSideBySideTaps) {
        // Rows past the last one repeat the first; their outputs are never
        // stored.
        taps.resize(std::size_t(kHalf) * r.taps);
        const float* const* rowTaps[kHalf];
        const float* w[kHalf];
        for (Index i = 0; i < kHalf; ++i) {
          const Index row = h * kHalf + i < lanes ? y + h * kHalf + i : y;
          rowTaps[i] = taps.data() + i * r.taps;
          TapRows(src, width, r, row, taps.data() + i * r.taps);
          w[i] = WeightsOf(r, row);
        }
        SideBySide(rowTaps, w, r.taps, width, half);
      } else {
        // One row's source rows at a time; rows past the last one take any
        // row already made.
        taps.resize(r.taps);
        rows.resize(std::size_t(kHalf * width));
        const float* rowPtr[kHalf];
        for (Index i = 0; i < kHalf; ++i) {
          rowPtr[i] = rows.data();
          if (h * kHalf + i >= lanes) continue;
          float* row = rows.data() + i * width;
          TapRows(src, width, r, y + h * kHalf + i, taps.data());
          CombineRows(taps.data(), WeightsOf(r, y + h * kHalf + i), r.taps, width, row);
          rowPtr[i] = row;
        }
        Interleave(rowPtr, width, half);
      }
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
}  // namespace kestrune::resize_rows
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune {

namespace resize_rows {
HWY_EXPORT(ResizeRowsHwy);

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

}  // namespace resize_rows

void Resampling::ResizeRows(const float* src, std::ptrdiff_t width, const LinearResampler* const* verticals,
                            const LinearResampler* const* horizontals, int count, std::ptrdiff_t y0, std::ptrdiff_t y1,
                            float* const* dst, const std::function<void(std::ptrdiff_t)>& rowsDone,
                            std::ptrdiff_t ringRows) {
  if (count < 1 || width < 1) return;
  if (simd::ScalarKernels()) {
    resize_rows::ScalarKernel k{src, width, {}, {}};
    return resize_rows::RunBlocks(k, verticals, horizontals, count, y0, y1, dst, rowsDone, ringRows);
  }
  HWY_DYNAMIC_DISPATCH(resize_rows::ResizeRowsHwy)
  (src, width, verticals, horizontals, count, y0, y1, dst, rowsDone, ringRows);
}

}  // namespace kestrune
#endif  // HWY_ONCE
