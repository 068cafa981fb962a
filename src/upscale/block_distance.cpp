// Block distances of the fractal substitution on packed integer instructions.
// The baseline (SSE2) widens the bytes to 16 bits and squares and sums the
// differences pairwise with the 16-bit multiply-add; AVX2 does the same a
// block row at a time; on processors with AVX-512 VNNI the coarse search
// forms sum T^2 + sum S^2 - 2 sum S T with byte dot products, four candidate
// rows per register. Integer sums do not depend on their order, so every
// variant equals the scalar reference exactly.
#include "upscale/block_distance.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include <immintrin.h>

#include "base/threading.h"

namespace kestrune {

// GCC 12's AVX-512 headers initialise their "undefined" vectors from
// themselves, which its own uninitialised-value warnings then report.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace BlockDistance {

namespace {

constexpr int kRowBytes = 16;

// Keeps the first strict minimum in row-major order.
inline void Consider(SearchResult& best, int32_t d, int row, int col) {
  if (d < best.distance) best = {d, row, col};
}

}  // namespace

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

namespace {

// Sums the four 32-bit lanes of each of a0..a3 into one vector (a0, a1, a2, a3);
// on wider vectors, the same within every 128-bit lane.
inline __m128i Reduce4(__m128i a0, __m128i a1, __m128i a2, __m128i a3) {
  const __m128i s0 = _mm_add_epi32(_mm_unpacklo_epi32(a0, a1), _mm_unpackhi_epi32(a0, a1));
  const __m128i s1 = _mm_add_epi32(_mm_unpacklo_epi32(a2, a3), _mm_unpackhi_epi32(a2, a3));
  return _mm_add_epi32(_mm_unpacklo_epi64(s0, s1), _mm_unpackhi_epi64(s0, s1));
}

inline __m128i Load128(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

inline int64_t HorizontalSum(__m128i v) {
  alignas(16) int32_t r[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(r), v);
  return int64_t{r[0]} + r[1] + r[2] + r[3];
}

}  // namespace

SearchResult SearchSse2(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* src, std::ptrdiff_t srcStride,
                        int rows, int count, const int32_t*, std::ptrdiff_t) {
  const __m128i zero = _mm_setzero_si128();
  __m128i tv[8];
  for (int i = 0; i < 4; ++i) {
    const __m128i row = Load128(t + i * tStride);
    tv[2 * i] = _mm_unpacklo_epi8(row, zero);
    tv[2 * i + 1] = _mm_unpackhi_epi8(row, zero);
  }
  auto one = [&](const uint8_t* s) {
    __m128i acc = zero;
    for (int i = 0; i < 4; ++i) {
      const __m128i row = Load128(s + i * srcStride);
      const __m128i d0 = _mm_sub_epi16(tv[2 * i], _mm_unpacklo_epi8(row, zero));
      const __m128i d1 = _mm_sub_epi16(tv[2 * i + 1], _mm_unpackhi_epi8(row, zero));
      acc = _mm_add_epi32(acc, _mm_madd_epi16(d0, d0));
      acc = _mm_add_epi32(acc, _mm_madd_epi16(d1, d1));
    }
    return acc;
  };
  SearchResult best{INT32_MAX, 0, 0};
  alignas(16) int32_t d[16];
  for (int r = 0; r < rows; ++r) {
    const uint8_t* s = src + r * srcStride;
    for (int k = 0; k < count; k += 4) {
      __m128i a[4];
      for (int m = 0; m < 4; ++m) a[m] = k + m < count ? one(s + 4 * (k + m)) : zero;
      _mm_store_si128(reinterpret_cast<__m128i*>(d + k), Reduce4(a[0], a[1], a[2], a[3]));
    }
    for (int k = 0; k < count; ++k) Consider(best, d[k], r, k);
  }
  return best;
}

namespace {

__attribute__((target("avx2"))) inline __m256i Avx2Candidate(const __m256i* tv, const uint8_t* s,
                                                             std::ptrdiff_t srcStride) {
  __m256i sum = _mm256_setzero_si256();
  for (int i = 0; i < 4; ++i) {
    const __m256i d = _mm256_sub_epi16(tv[i], _mm256_cvtepu8_epi16(Load128(s + i * srcStride)));
    sum = _mm256_add_epi32(sum, _mm256_madd_epi16(d, d));
  }
  return sum;
}

// Lane sums of a[0..7], in order.
__attribute__((target("avx2"))) inline __m256i Avx2Reduce8(const __m256i* a) {
  const __m256i s0123 = _mm256_hadd_epi32(_mm256_hadd_epi32(a[0], a[1]), _mm256_hadd_epi32(a[2], a[3]));
  const __m256i s4567 = _mm256_hadd_epi32(_mm256_hadd_epi32(a[4], a[5]), _mm256_hadd_epi32(a[6], a[7]));
  return _mm256_add_epi32(_mm256_permute2x128_si256(s0123, s4567, 0x20),
                          _mm256_permute2x128_si256(s0123, s4567, 0x31));
}

}  // namespace

__attribute__((target("avx2"))) SearchResult SearchAvx2(const uint8_t* t, std::ptrdiff_t tStride,
                                                        const uint8_t* src, std::ptrdiff_t srcStride, int rows,
                                                        int count, const int32_t*, std::ptrdiff_t) {
  __m256i tv[4];
  for (int i = 0; i < 4; ++i) tv[i] = _mm256_cvtepu8_epi16(Load128(t + i * tStride));
  SearchResult best{INT32_MAX, 0, 0};
  alignas(32) int32_t d[16];
  for (int r = 0; r < rows; ++r) {
    const uint8_t* s = src + r * srcStride;
    for (int k = 0; k < count; k += 8) {
      __m256i a[8];
      for (int m = 0; m < 8; ++m) a[m] = k + m < count ? Avx2Candidate(tv, s + 4 * (k + m), srcStride)
                                                       : _mm256_setzero_si256();
      _mm256_store_si256(reinterpret_cast<__m256i*>(d + k), Avx2Reduce8(a));
    }
    for (int k = 0; k < count; ++k) Consider(best, d[k], r, k);
  }
  return best;
}

#define KESTRUNE_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vnni")))

KESTRUNE_AVX512 SearchResult SearchAvx512(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* src,
                                          std::ptrdiff_t srcStride, int rows, int count, const int32_t* terms,
                                          std::ptrdiff_t termsStride) {
  // T - 128 as signed bytes, each block row in all four 128-bit lanes, and
  // sum T^2.
  __m512i tv[4];
  int32_t tSq = 0;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < kRowBytes; ++j) tSq += int32_t{t[i * tStride + j]} * t[i * tStride + j];
    const __m128i row = _mm_xor_si128(Load128(t + i * tStride), _mm_set1_epi8(char(0x80)));
    tv[i] = _mm512_broadcast_i32x4(row);
  }
  // The 64-byte load at candidate k holds the block rows of candidates k,
  // k+4, k+8 and k+12 in its four lanes. Bytes beyond the last candidate's
  // block are masked off (never read).
  const int validBytes = 4 * (count + 3);
  __mmask64 mask[4];
  for (int k = 0; k < 4; ++k) {
    const int n = validBytes - 4 * k;
    mask[k] = n >= 64 ? ~__mmask64{0} : n <= 0 ? __mmask64{0} : (__mmask64{1} << n) - 1;
  }
  const __mmask16 outMask = static_cast<__mmask16>((1u << count) - 1);
  const __m512i tSqV = _mm512_set1_epi32(tSq);
  __m512i bestV = _mm512_set1_epi32(INT32_MAX);
  __m512i bestRow = _mm512_setzero_si512();
  for (int r = 0; r < rows; ++r) {
    const uint8_t* s = src + r * srcStride;
    __m512i acc[4];
    for (int k = 0; k < 4; ++k) {
      acc[k] = _mm512_setzero_si512();
      for (int i = 0; i < 4; ++i)
        acc[k] = _mm512_dpbusd_epi32(acc[k], _mm512_maskz_loadu_epi8(mask[k], s + i * srcStride + 4 * k), tv[i]);
    }
    // Within every lane: (acc0, acc1, acc2, acc3) summed, so lane m holds the
    // dot products of candidates 4m .. 4m+3: candidates 0..15 in order.
    const __m512i s0 = _mm512_add_epi32(_mm512_unpacklo_epi32(acc[0], acc[1]), _mm512_unpackhi_epi32(acc[0], acc[1]));
    const __m512i s1 = _mm512_add_epi32(_mm512_unpacklo_epi32(acc[2], acc[3]), _mm512_unpackhi_epi32(acc[2], acc[3]));
    const __m512i dot = _mm512_add_epi32(_mm512_unpacklo_epi64(s0, s1), _mm512_unpackhi_epi64(s0, s1));
    const __m512i termV = _mm512_maskz_loadu_epi32(outMask, terms + r * termsStride);
    const __m512i d = _mm512_sub_epi32(_mm512_add_epi32(tSqV, termV), _mm512_slli_epi32(dot, 1));
    const __mmask16 better = _mm512_mask_cmplt_epi32_mask(outMask, d, bestV);
    bestV = _mm512_mask_mov_epi32(bestV, better, d);
    bestRow = _mm512_mask_mov_epi32(bestRow, better, _mm512_set1_epi32(r));
  }
  // Each column keeps its earliest row of its minimum; the first column of
  // the smallest (row, column) among the overall minima wins.
  alignas(64) int32_t v[16], rowOf[16];
  _mm512_store_si512(v, bestV);
  _mm512_store_si512(rowOf, bestRow);
  SearchResult best{INT32_MAX, 0, 0};
  for (int k = 0; k < count; ++k)
    if (v[k] < best.distance || (v[k] == best.distance && rowOf[k] < best.row)) best = {v[k], rowOf[k], k};
  return best;
}

bool HaveAvx2() {
  static const bool have = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return have;
}

bool HaveAvx512Vnni() {
  static const bool have = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vnni");
  }();
  return have;
}

SearchFn Search() {
  static const SearchFn fn = HaveAvx512Vnni() ? &SearchAvx512 : HaveAvx2() ? &SearchAvx2 : &SearchSse2;
  return fn;
}

BlendSums BlendSumsScalar(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* q,
                          std::ptrdiff_t srcStride) {
  BlendSums sums;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < kRowBytes; ++j) {
      const int64_t tq = int{t[i * tStride + j]} - q[i * srcStride + j];
      const int64_t pq = int{p[i * srcStride + j]} - q[i * srcStride + j];
      sums.cross += tq * pq;
      sums.energy += pq * pq;
    }
  return sums;
}

BlendSums BlendSumsSse2(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* q,
                        std::ptrdiff_t srcStride) {
  // Per lane at most 8 products of magnitude <= 65025 each: no overflow.
  const __m128i zero = _mm_setzero_si128();
  __m128i cross = zero, energy = zero;
  for (int i = 0; i < 4; ++i) {
    const __m128i tr = Load128(t + i * tStride), pr = Load128(p + i * srcStride), qr = Load128(q + i * srcStride);
    for (int h = 0; h < 2; ++h) {
      const __m128i tv = h ? _mm_unpackhi_epi8(tr, zero) : _mm_unpacklo_epi8(tr, zero);
      const __m128i pv = h ? _mm_unpackhi_epi8(pr, zero) : _mm_unpacklo_epi8(pr, zero);
      const __m128i qv = h ? _mm_unpackhi_epi8(qr, zero) : _mm_unpacklo_epi8(qr, zero);
      const __m128i tq = _mm_sub_epi16(tv, qv);
      const __m128i pq = _mm_sub_epi16(pv, qv);
      cross = _mm_add_epi32(cross, _mm_madd_epi16(tq, pq));
      energy = _mm_add_epi32(energy, _mm_madd_epi16(pq, pq));
    }
  }
  return {HorizontalSum(cross), HorizontalSum(energy)};
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

int64_t BlendSadSse2(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* q,
                     std::ptrdiff_t srcStride, int weight) {
  // 256 (T - P) - weight (Q - P) as one multiply-add of the interleaved
  // differences with (256, -weight); |.| <= 130560, so 16 of them summed per
  // 32-bit lane stay far below 2^31.
  const __m128i zero = _mm_setzero_si128();
  const __m128i coeff = _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(-weight) << 16) | 256u));
  __m128i acc = zero;
  for (int i = 0; i < 4; ++i) {
    const __m128i tr = Load128(t + i * tStride), pr = Load128(p + i * srcStride), qr = Load128(q + i * srcStride);
    for (int h = 0; h < 2; ++h) {
      const __m128i tv = h ? _mm_unpackhi_epi8(tr, zero) : _mm_unpacklo_epi8(tr, zero);
      const __m128i pv = h ? _mm_unpackhi_epi8(pr, zero) : _mm_unpacklo_epi8(pr, zero);
      const __m128i qv = h ? _mm_unpackhi_epi8(qr, zero) : _mm_unpacklo_epi8(qr, zero);
      const __m128i tp = _mm_sub_epi16(tv, pv);
      const __m128i qp = _mm_sub_epi16(qv, pv);
      for (int half = 0; half < 2; ++half) {
        const __m128i pairs = half == 0 ? _mm_unpacklo_epi16(tp, qp) : _mm_unpackhi_epi16(tp, qp);
        const __m128i v = _mm_madd_epi16(pairs, coeff);
        const __m128i sign = _mm_srai_epi32(v, 31);
        acc = _mm_add_epi32(acc, _mm_sub_epi32(_mm_xor_si128(v, sign), sign));
      }
    }
  }
  return HorizontalSum(acc);
}

namespace {

__attribute__((target("avx2"))) inline int64_t HorizontalSum256(__m256i v) {
  return HorizontalSum(_mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
}

__attribute__((target("avx2"))) inline __m256i Widen(const uint8_t* p) { return _mm256_cvtepu8_epi16(Load128(p)); }

}  // namespace

__attribute__((target("avx2"))) BlendSums BlendSumsAvx2(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p,
                                                        const uint8_t* q, std::ptrdiff_t srcStride) {
  __m256i cross = _mm256_setzero_si256(), energy = _mm256_setzero_si256();
  for (int i = 0; i < 4; ++i) {
    const __m256i qv = Widen(q + i * srcStride);
    const __m256i tq = _mm256_sub_epi16(Widen(t + i * tStride), qv);
    const __m256i pq = _mm256_sub_epi16(Widen(p + i * srcStride), qv);
    cross = _mm256_add_epi32(cross, _mm256_madd_epi16(tq, pq));
    energy = _mm256_add_epi32(energy, _mm256_madd_epi16(pq, pq));
  }
  return {HorizontalSum256(cross), HorizontalSum256(energy)};
}

__attribute__((target("avx2"))) int64_t BlendSadAvx2(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p,
                                                     const uint8_t* q, std::ptrdiff_t srcStride, int weight) {
  const __m256i coeff = _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(-weight) << 16) | 256u));
  __m256i acc = _mm256_setzero_si256();
  for (int i = 0; i < 4; ++i) {
    const __m256i pv = Widen(p + i * srcStride);
    const __m256i tp = _mm256_sub_epi16(Widen(t + i * tStride), pv);
    const __m256i qp = _mm256_sub_epi16(Widen(q + i * srcStride), pv);
    acc = _mm256_add_epi32(acc, _mm256_abs_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(tp, qp), coeff)));
    acc = _mm256_add_epi32(acc, _mm256_abs_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(tp, qp), coeff)));
  }
  return HorizontalSum256(acc);
}

BlendSumsFn BlendSumsBest() {
  static const BlendSumsFn fn = HaveAvx2() ? &BlendSumsAvx2 : &BlendSumsSse2;
  return fn;
}

BlendSadFn BlendSadBest() {
  static const BlendSadFn fn = HaveAvx2() ? &BlendSadAvx2 : &BlendSadSse2;
  return fn;
}

}  // namespace BlockDistance

}  // namespace kestrune
