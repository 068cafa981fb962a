// Block distances of the fractal substitution on packed integers: a plain
// scalar form of each sum and a Highway form that widens the bytes to 16 or
// 32 bits and sums the products lane by lane. On processors with AVX-512
// VNNI the coarse search instead forms sum T^2 + sum S^2 - 2 sum S T with
// byte dot products, one candidate per 32-bit lane, which Highway has no
// operation for. Integer sums do not depend on their order, so every form
// equals the scalar one exactly.
#ifndef HWY_WANT_AVX3_DL
#define HWY_WANT_AVX3_DL  // the VNNI search
#endif
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "upscale/block_distance.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "base/simd.h"
#include "base/threading.h"
#include "upscale/block_distance.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::block_distance {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// One block row (16 bytes) widened to 16 bits fills one or two vectors.
using D16 = hn::CappedTag<int16_t, kRowBytes>;
using D32 = hn::Repartition<int32_t, D16>;
using DBytes = hn::Rebind<uint8_t, D16>;

HWY_INLINE hn::Vec<D16> Widen(const uint8_t* p) {
  const D16 d16;
  return hn::PromoteTo(d16, hn::LoadU(DBytes(), p));
}

#if HWY_TARGET == HWY_AVX3_DL
// GCC 12's AVX-512 headers initialise their "undefined" vectors from
// themselves, which its own uninitialised-value warnings then report.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Highway chooses its AVX3_DL target only on processors with AVX-512 VNNI
// (it checks VNNI among that target's features), so this form needs no
// check of its own; the target attribute below names the instructions for
// the compiler, whose AVX3_DL flags (in this Highway) name only the VEX
// form of VNNI. Lane k of
// every vector is candidate k of the row: the source row r + i loaded from
// byte 4j holds sample k + j of candidate k in lane k, which meets sample
// (i, j) of T broadcast to every lane, so the 16 products of a candidate
// row need no shuffles to add up. The minimum is taken of the keys
// distance * 256 + row * 16 + column (a distance is below 64 * 255^2 <
// 2^22), whose least is the first strict minimum in row-major order.
__attribute__((target("avx512f,avx512vl,avx512dq,avx512bw,avx512vnni"))) SearchResult SearchVnni(
    const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* src, std::ptrdiff_t srcStride, int rows, int count,
    const int32_t* terms, std::ptrdiff_t termsStride) {
  // T - 128 as signed bytes, one sample per word, and sum T^2.
  alignas(16) int32_t tw[16];
  int32_t tSq = 0;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < kRowBytes; ++j) tSq += int32_t{t[i * tStride + j]} * t[i * tStride + j];
    const __m128i row =
        _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i * tStride)), _mm_set1_epi8(char(0x80)));
    _mm_store_si128(reinterpret_cast<__m128i*>(tw + 4 * i), row);
  }
  // Bytes beyond the last candidate's samples are masked off (never read).
  const __mmask64 m = (__mmask64{1} << (4 * count)) - 1;
  const __mmask16 outMask = static_cast<__mmask16>((1u << count) - 1);
  // Source row r + i at byte 4j is l<i><j>: each row is loaded once and kept
  // in registers for the four candidate rows that read it (named variables,
  // so that the compiler keeps them out of memory).
  auto load = [&](int row, int j) { return _mm512_maskz_loadu_epi8(m, src + row * srcStride + 4 * j); };
  __m512i l00, l01, l02, l03;
  __m512i l10 = load(0, 0), l11 = load(0, 1), l12 = load(0, 2), l13 = load(0, 3);
  __m512i l20 = load(1, 0), l21 = load(1, 1), l22 = load(1, 2), l23 = load(1, 3);
  __m512i l30 = load(2, 0), l31 = load(2, 1), l32 = load(2, 2), l33 = load(2, 3);
  // tSq * 256 + the candidate's row * 16 + column.
  __m512i base = _mm512_add_epi32(_mm512_set1_epi32(tSq * 256),
                                  _mm512_set_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
  __m512i best = _mm512_set1_epi32(INT32_MAX);
  for (int r = 0; r < rows; ++r) {
    l00 = l10, l01 = l11, l02 = l12, l03 = l13;
    l10 = l20, l11 = l21, l12 = l22, l13 = l23;
    l20 = l30, l21 = l31, l22 = l32, l23 = l33;
    l30 = load(r + 3, 0), l31 = load(r + 3, 1), l32 = load(r + 3, 2), l33 = load(r + 3, 3);
    // Row i of the candidates against row i of T.
    auto dot4 = [&](int i, __m512i a, __m512i b, __m512i c, __m512i d) {
      __m512i v = _mm512_dpbusd_epi32(_mm512_setzero_si512(), a, _mm512_set1_epi32(tw[4 * i]));
      v = _mm512_dpbusd_epi32(v, b, _mm512_set1_epi32(tw[4 * i + 1]));
      v = _mm512_dpbusd_epi32(v, c, _mm512_set1_epi32(tw[4 * i + 2]));
      return _mm512_dpbusd_epi32(v, d, _mm512_set1_epi32(tw[4 * i + 3]));
    };
    const __m512i dot = _mm512_add_epi32(_mm512_add_epi32(dot4(0, l00, l01, l02, l03), dot4(1, l10, l11, l12, l13)),
                                         _mm512_add_epi32(dot4(2, l20, l21, l22, l23), dot4(3, l30, l31, l32, l33)));
    const __m512i termV = _mm512_maskz_loadu_epi32(outMask, terms + r * termsStride);
    // (tSq + term - 2 dot) * 256 + r * 16 + k.
    const __m512i key =
        _mm512_sub_epi32(_mm512_add_epi32(base, _mm512_slli_epi32(termV, 8)), _mm512_slli_epi32(dot, 9));
    best = _mm512_mask_min_epi32(best, outMask, best, key);
    base = _mm512_add_epi32(base, _mm512_set1_epi32(16));
  }
  const int32_t least = _mm512_reduce_min_epi32(best);
  return {least >> 8, (least >> 4) & 15, least & 15};
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif  // HWY_TARGET == HWY_AVX3_DL

#if HWY_TARGET != HWY_SCALAR
// Adds the 128-bit blocks of v.
template <class D>
HWY_INLINE hn::Vec<hn::CappedTag<int32_t, 4>> AddBlocks(D d, hn::Vec<D> v) {
  if constexpr (hn::MaxLanes(D()) > 4) {
    const hn::Half<D> dh;
    return AddBlocks(dh, hn::Add(hn::LowerHalf(dh, v), hn::UpperHalf(dh, v)));
  } else {
    (void)d;
    return v;
  }
}

// Sums the lanes of each of a0..a3 into lanes 0..3 of one vector.
template <class D>
HWY_INLINE hn::Vec<hn::CappedTag<int32_t, 4>> Reduce4(D d32, hn::Vec<D> a0, hn::Vec<D> a1, hn::Vec<D> a2,
                                                      hn::Vec<D> a3) {
  const hn::Repartition<int64_t, D> d64;
  // Within every 128-bit block: (a0, a1, a2, a3) summed lane-wise.
  const auto s0 = hn::Add(hn::InterleaveLower(d32, a0, a1), hn::InterleaveUpper(d32, a0, a1));
  const auto s1 = hn::Add(hn::InterleaveLower(d32, a2, a3), hn::InterleaveUpper(d32, a2, a3));
  // The 64-bit interleaves only move lane pairs; the sums stay 32-bit, so a
  // negative lane carries nothing into its neighbour.
  const auto b0 = hn::BitCast(d64, s0), b1 = hn::BitCast(d64, s1);
  return AddBlocks(d32, hn::Add(hn::BitCast(d32, hn::InterleaveLower(d64, b0, b1)),
                                hn::BitCast(d32, hn::InterleaveUpper(d64, b0, b1))));
}
#endif  // HWY_TARGET != HWY_SCALAR

SearchResult SearchLanes(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* src, std::ptrdiff_t srcStride,
                         int rows, int count) {
  const D32 d32;
  constexpr int step = static_cast<int>(hn::MaxLanes(D16())), parts = kRowBytes / step;
  hn::Vec<D16> tv[4 * parts];
  for (int i = 0; i < 4; ++i)
    for (int h = 0; h < parts; ++h) tv[i * parts + h] = Widen(t + i * tStride + h * step);
  // Lane sums of the squared differences at candidate s.
  auto candidate = [&](const uint8_t* s) {
    auto acc0 = hn::Zero(d32), acc1 = hn::Zero(d32);
    for (int i = 0; i < 4; ++i)
      for (int h = 0; h < parts; ++h) {
        const auto d = hn::Sub(tv[i * parts + h], Widen(s + i * srcStride + h * step));
        acc0 = hn::ReorderWidenMulAccumulate(d32, d, d, acc0, acc1);
      }
    return hn::Add(acc0, acc1);
  };
  SearchResult best{INT32_MAX, 0, 0};
  HWY_ALIGN int32_t d[16];
  for (int r = 0; r < rows; ++r) {
    const uint8_t* s = src + r * srcStride;
    for (int k = 0; k < count; k += 4) {
      hn::Vec<D32> a[4];
      for (int m = 0; m < 4; ++m) a[m] = k + m < count ? candidate(s + 4 * (k + m)) : hn::Zero(d32);
#if HWY_TARGET == HWY_SCALAR
      for (int m = 0; m < 4; ++m) d[k + m] = hn::GetLane(a[m]);
#else
      hn::StoreU(Reduce4(d32, a[0], a[1], a[2], a[3]), hn::CappedTag<int32_t, 4>(), d + k);
#endif
    }
    for (int k = 0; k < count; ++k) Consider(best, d[k], r, k);
  }
  return best;
}

SearchResult SearchHwy(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* src, std::ptrdiff_t srcStride, int rows,
                       int count, const int32_t* terms, std::ptrdiff_t termsStride) {
#if HWY_TARGET == HWY_AVX3_DL
  // The keys of SearchVnni hold rows 0..15.
  if (rows <= 16) return SearchVnni(t, tStride, src, srcStride, rows, count, terms, termsStride);
#else
  (void)terms, (void)termsStride;
#endif
  return SearchLanes(t, tStride, src, srcStride, rows, count);
}

// Stores the lane sums of a[0..3] to out[0..3].
template <class D>
HWY_INLINE void StoreSums4(D d32, const hn::Vec<D>* a, int32_t* out) {
#if HWY_TARGET == HWY_SCALAR
  (void)d32;
  for (int m = 0; m < 4; ++m) out[m] = hn::GetLane(a[m]);
#else
  hn::StoreU(Reduce4(d32, a[0], a[1], a[2], a[3]), hn::CappedTag<int32_t, 4>(), out);
#endif
}

// The blend sums of qs[0..n-1] to cross[] and energy[] (n rounded up to a
// multiple of 4 entries, the extra ones 0).
HWY_INLINE void BlendSumsTo(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* const* qs, int n,
                            std::ptrdiff_t srcStride, int32_t* cross, int32_t* energy) {
  // Per lane at most 16 products of magnitude <= 65025 each: no overflow.
  const D32 d32;
  constexpr int step = static_cast<int>(hn::MaxLanes(D16())), parts = kRowBytes / step;
  hn::Vec<D16> tv[4 * parts], pv[4 * parts];
  for (int i = 0; i < 4; ++i)
    for (int h = 0; h < parts; ++h) {
      tv[i * parts + h] = Widen(t + i * tStride + h * step);
      pv[i * parts + h] = Widen(p + i * srcStride + h * step);
    }
  for (int k = 0; k < n; k += 4) {
    hn::Vec<D32> c[4], e[4];
    for (int m = 0; m < 4; ++m) {
      auto c0 = hn::Zero(d32), c1 = hn::Zero(d32), e0 = hn::Zero(d32), e1 = hn::Zero(d32);
      if (k + m < n) {
        const uint8_t* q = qs[k + m];
        for (int i = 0; i < 4; ++i)
          for (int h = 0; h < parts; ++h) {
            const auto qv = Widen(q + i * srcStride + h * step);
            const auto tq = hn::Sub(tv[i * parts + h], qv);
            const auto pq = hn::Sub(pv[i * parts + h], qv);
            c0 = hn::ReorderWidenMulAccumulate(d32, tq, pq, c0, c1);
            e0 = hn::ReorderWidenMulAccumulate(d32, pq, pq, e0, e1);
          }
      }
      c[m] = hn::Add(c0, c1), e[m] = hn::Add(e0, e1);
    }
    StoreSums4(d32, c, cross + k);
    StoreSums4(d32, e, energy + k);
  }
}

void BlendSumsHwy(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* const* qs, int n,
                  std::ptrdiff_t srcStride, BlendSums* out) {
  HWY_ALIGN int32_t cross[kMaxBlends + 4], energy[kMaxBlends + 4];
  BlendSumsTo(t, tStride, p, qs, n, srcStride, cross, energy);
  for (int k = 0; k < n; ++k) out[k] = {cross[k], energy[k]};
}

// The blended distances of qs[0..n-1] to sums[] (n rounded up to a multiple
// of 4 entries).
HWY_INLINE void BlendSadsTo(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* const* qs,
                            const int* weights, int n, std::ptrdiff_t srcStride, int32_t* sums) {
  // |256 (T - P) - weight (Q - P)| <= 130560 per value, so 64 of them summed
  // in 32 bits stay far below 2^31.
  using DS = hn::CappedTag<int32_t, kRowBytes>;
  const DS d32;
  const hn::Rebind<uint8_t, DS> d8;
  constexpr int step = static_cast<int>(hn::MaxLanes(DS())), parts = kRowBytes / step;
  hn::Vec<DS> tp[4 * parts], pv[4 * parts];
  for (int i = 0; i < 4; ++i)
    for (int h = 0; h < parts; ++h) {
      pv[i * parts + h] = hn::PromoteTo(d32, hn::LoadU(d8, p + i * srcStride + h * step));
      tp[i * parts + h] =
          hn::ShiftLeft<8>(hn::Sub(hn::PromoteTo(d32, hn::LoadU(d8, t + i * tStride + h * step)), pv[i * parts + h]));
    }
  for (int k = 0; k < n; k += 4) {
    hn::Vec<DS> a[4];
    for (int m = 0; m < 4; ++m) {
      auto acc = hn::Zero(d32);
      if (k + m < n) {
        const uint8_t* q = qs[k + m];
        const auto w = hn::Set(d32, weights[k + m]);
        for (int i = 0; i < 4; ++i)
          for (int h = 0; h < parts; ++h) {
            const auto qp = hn::Sub(hn::PromoteTo(d32, hn::LoadU(d8, q + i * srcStride + h * step)), pv[i * parts + h]);
            acc = hn::Add(acc, hn::Abs(hn::Sub(tp[i * parts + h], hn::Mul(qp, w))));
          }
      }
      a[m] = acc;
    }
    StoreSums4(d32, a, sums + k);
  }
}

void BlendSadsHwy(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* const* qs,
                  const int* weights, int n, std::ptrdiff_t srcStride, int64_t* out) {
  HWY_ALIGN int32_t sums[kMaxBlends + 4];
  BlendSadsTo(t, tStride, p, qs, weights, n, srcStride, sums);
  for (int k = 0; k < n; ++k) out[k] = sums[k];
}

// The scalar formulas of BlendSearchScalar on up to kMaxBlends doubles at a
// time: the same IEEE operations per value, so the same bits.
BlendChoice BlendSearchHwy(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* const* qs, int n,
                           std::ptrdiff_t srcStride, int64_t error) {
  const hn::CappedTag<double, kMaxBlends> dd;
  const hn::Rebind<int32_t, decltype(dd)> di;
  const int lanes = static_cast<int>(hn::Lanes(dd));
  HWY_ALIGN int32_t cross[kMaxBlends + 4] = {}, energy[kMaxBlends + 4] = {};
  BlendSumsTo(t, tStride, p, qs, n, srcStride, cross, energy);
  HWY_ALIGN double tqs[kMaxBlends];
  HWY_ALIGN int32_t weights[kMaxBlends], errors[kMaxBlends + 4] = {};
  const auto zero = hn::Zero(dd), one = hn::Set(dd, 1.0), half = hn::Set(dd, 0.5);
  for (int k = 0; k < n; k += lanes) {
    const auto e = hn::PromoteTo(dd, hn::Load(di, energy + k));
    const auto flat = hn::Eq(e, zero);
    const auto ratio = hn::Div(hn::PromoteTo(dd, hn::Load(di, cross + k)), hn::IfThenElse(flat, one, e));
    // tq is never -0 or NaN, so Max and Min agree with the clamp.
    const auto tq = hn::Min(hn::Max(hn::IfThenZeroElse(flat, hn::Sub(one, ratio)), zero), hn::Set(dd, 0.99));
    hn::Store(tq, dd, tqs + k);
    // Nint of a value >= 0: truncation of v + 0.5.
    hn::Store(hn::DemoteTo(di, hn::Add(hn::Mul(hn::Set(dd, 256.0), tq), half)), di, weights + k);
  }
  BlendSadsTo(t, tStride, p, qs, weights, n, srcStride, errors);
  for (int k = 0; k < n; k += lanes) {
    const auto sad = hn::PromoteTo(dd, hn::Load(di, errors + k));
    // Over 2^20 as times 2^-20: both are exact for these values.
    const auto v = hn::Mul(hn::Mul(sad, sad), hn::Set(dd, 1.0 / (65536.0 * 16.0)));
    hn::Store(hn::DemoteTo(di, hn::Add(v, half)), di, errors + k);
  }
  // Selects rather than branches: the order of the errors is unpredictable.
  BlendChoice best{error, 0.0, n};
  for (int k = 0; k < n; ++k) {
    const bool better = errors[k] < best.error;
    best.error = better ? errors[k] : best.error;
    best.k = better ? k : best.k;
  }
  if (best.k < n) best.tq = tqs[best.k];
  return best;
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::block_distance
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune::block_distance {

HWY_EXPORT(SearchHwy);
HWY_EXPORT(BlendSumsHwy);
HWY_EXPORT(BlendSadsHwy);
HWY_EXPORT(BlendSearchHwy);

void SourceBlockTerms(const uint8_t* src, int w, int h, std::vector<int32_t>& terms) {
  terms.assign(std::size_t(w) * std::size_t(h), 0);
  const std::ptrdiff_t stride = std::ptrdiff_t(w) * 4;
  // Each block's term is its own sum; the threads take runs of block rows.
  ParallelFor(0, std::max(h - 3, 0), RowGrain(std::ptrdiff_t(w) * 48), [&](std::ptrdiff_t by0, std::ptrdiff_t by1) {
    for (std::ptrdiff_t by = by0; by < by1; ++by)
      for (int bx = 0; bx + 4 <= w; ++bx) {
        int32_t sum = 0, sq = 0;
        for (int i = 0; i < 4; ++i)
          for (int j = 0; j < kRowBytes; ++j) {
            const int32_t v = src[(by + i) * stride + std::ptrdiff_t(bx) * 4 + j];
            sum += v, sq += v * v;
          }
        terms[std::size_t(by) * w + bx] = sq - 256 * sum;
      }
  });
}

SearchResult SearchScalar(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* src, std::ptrdiff_t srcStride,
                          int rows, int count, const int32_t*, std::ptrdiff_t) {
  SearchResult best{INT32_MAX, 0, 0};
  for (int r = 0; r < rows; ++r)
    for (int k = 0; k < count; ++k) {
      int32_t sum = 0;
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < kRowBytes; ++j) {
          const int32_t d = t[i * tStride + j] - src[r * srcStride + i * srcStride + 4 * k + j];
          sum += d * d;
        }
      Consider(best, sum, r, k);
    }
  return best;
}

SearchResult Search(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* src, std::ptrdiff_t srcStride, int rows,
                    int count, const int32_t* terms, std::ptrdiff_t termsStride) {
  if (simd::ScalarKernels()) return SearchScalar(t, tStride, src, srcStride, rows, count, terms, termsStride);
  return HWY_DYNAMIC_DISPATCH(SearchHwy)(t, tStride, src, srcStride, rows, count, terms, termsStride);
}

BlendSums BlendSumsScalar(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* q,
                          std::ptrdiff_t srcStride) {
  BlendSums sums{0, 0};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < kRowBytes; ++j) {
      const int64_t tq = int{t[i * tStride + j]} - q[i * srcStride + j];
      const int64_t pq = int{p[i * srcStride + j]} - q[i * srcStride + j];
      sums.cross += tq * pq;
      sums.energy += pq * pq;
    }
  return sums;
}

void BlendSumsOf(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* const* qs, int n,
                 std::ptrdiff_t srcStride, BlendSums* out) {
  if (simd::ScalarKernels()) {
    for (int k = 0; k < n; ++k) out[k] = BlendSumsScalar(t, tStride, p, qs[k], srcStride);
    return;
  }
  HWY_DYNAMIC_DISPATCH(BlendSumsHwy)(t, tStride, p, qs, n, srcStride, out);
}

int64_t BlendSadScalar(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* q,
                       std::ptrdiff_t srcStride, int weight) {
  int64_t sum = 0;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < kRowBytes; ++j) {
      const int32_t tv = t[i * tStride + j], pv = p[i * srcStride + j], qv = q[i * srcStride + j];
      sum += std::abs(256 * tv - (256 * pv + (qv - pv) * weight));
    }
  return sum;
}

void BlendSads(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* const* qs, const int* weights,
               int n, std::ptrdiff_t srcStride, int64_t* out) {
  if (simd::ScalarKernels()) {
    for (int k = 0; k < n; ++k) out[k] = BlendSadScalar(t, tStride, p, qs[k], srcStride, weights[k]);
    return;
  }
  HWY_DYNAMIC_DISPATCH(BlendSadsHwy)(t, tStride, p, qs, weights, n, srcStride, out);
}

BlendChoice BlendSearchScalar(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* const* qs,
                              int n, std::ptrdiff_t srcStride, int64_t error) {
  double tqs[kMaxBlends];
  int weights[kMaxBlends];
  for (int k = 0; k < n; ++k) {
    const BlendSums sums = BlendSumsScalar(t, tStride, p, qs[k], srcStride);
    double tq = sums.energy == 0 ? 0.0 : 1.0 - double(sums.cross) / double(sums.energy);
    tq = std::clamp(tq, 0.0, 0.99);
    tqs[k] = tq;
    weights[k] = static_cast<int>(256.0 * tq + 0.5);
  }
  BlendChoice best{error, 0.0, n};
  for (int k = 0; k < n; ++k) {
    // The sum is 256 times the sum of absolute differences; squared and
    // over 16 that is exact in double.
    const double sad = double(BlendSadScalar(t, tStride, p, qs[k], srcStride, weights[k]));
    const int64_t e = static_cast<int64_t>(sad * sad / (65536.0 * 16.0) + 0.5);
    if (e < best.error) best = {e, tqs[k], k};
  }
  return best;
}

BlendChoice BlendSearch(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* const* qs, int n,
                        std::ptrdiff_t srcStride, int64_t error) {
  if (simd::ScalarKernels()) return BlendSearchScalar(t, tStride, p, qs, n, srcStride, error);
  return HWY_DYNAMIC_DISPATCH(BlendSearchHwy)(t, tStride, p, qs, n, srcStride, error);
}

}  // namespace kestrune::block_distance
#endif  // HWY_ONCE
