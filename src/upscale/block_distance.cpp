// Block distances of the fractal substitution on packed integer instructions:
// 16-bit differences squared and summed pairwise into 32-bit lanes with the
// multiply-add instruction (SSE2 baseline, AVX2 when the processor has it).
// Integer sums do not depend on their order, so every variant equals the
// scalar reference exactly.
#include "upscale/block_distance.h"

#include <cstdlib>

#include <emmintrin.h>
#include <immintrin.h>

namespace BlockDistance {

void SsdRowScalar(const int16_t* t, std::ptrdiff_t tStride, const int16_t* src, std::ptrdiff_t srcStride, int count,
                  int32_t* out) {
  for (int k = 0; k < count; ++k) {
    int32_t sum = 0;
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < kRowValues; ++j) {
        const int32_t d = t[i * tStride + j] - src[i * srcStride + 4 * k + j];
        sum += d * d;
      }
    out[k] = sum;
  }
}

namespace {

// Sums the four 32-bit lanes of each of a0..a3 into one vector (a0, a1, a2, a3).
inline __m128i Reduce4(__m128i a0, __m128i a1, __m128i a2, __m128i a3) {
  const __m128i s0 = _mm_add_epi32(_mm_unpacklo_epi32(a0, a1), _mm_unpackhi_epi32(a0, a1));
  const __m128i s1 = _mm_add_epi32(_mm_unpacklo_epi32(a2, a3), _mm_unpackhi_epi32(a2, a3));
  return _mm_add_epi32(_mm_unpacklo_epi64(s0, s1), _mm_unpackhi_epi64(s0, s1));
}

inline __m128i Load(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

}  // namespace

void SsdRowSse2(const int16_t* t, std::ptrdiff_t tStride, const int16_t* src, std::ptrdiff_t srcStride, int count,
                int32_t* out) {
  __m128i tv[8];
  for (int i = 0; i < 4; ++i) {
    tv[2 * i] = Load(t + i * tStride);
    tv[2 * i + 1] = Load(t + i * tStride + 8);
  }
  auto one = [&](const int16_t* s) {
    __m128i acc = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) {
      const __m128i d0 = _mm_sub_epi16(tv[2 * i], Load(s + i * srcStride));
      const __m128i d1 = _mm_sub_epi16(tv[2 * i + 1], Load(s + i * srcStride + 8));
      acc = _mm_add_epi32(acc, _mm_madd_epi16(d0, d0));
      acc = _mm_add_epi32(acc, _mm_madd_epi16(d1, d1));
    }
    return acc;
  };
  int k = 0;
  for (; k + 4 <= count; k += 4) {
    const __m128i r = Reduce4(one(src + 4 * k), one(src + 4 * k + 4), one(src + 4 * k + 8), one(src + 4 * k + 12));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), r);
  }
  if (k < count) {
    __m128i a[4];
    for (int m = 0; m < 4; ++m) a[m] = k + m < count ? one(src + 4 * (k + m)) : _mm_setzero_si128();
    alignas(16) int32_t r[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(r), Reduce4(a[0], a[1], a[2], a[3]));
    for (int m = 0; k + m < count; ++m) out[k + m] = r[m];
  }
}

namespace {

__attribute__((target("avx2"))) inline void Avx2Candidate(const __m256i* tv, const int16_t* s,
                                                         std::ptrdiff_t srcStride, __m256i* acc) {
  __m256i sum = _mm256_setzero_si256();
  for (int i = 0; i < 4; ++i) {
    const __m256i d = _mm256_sub_epi16(tv[i], _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i * srcStride)));
    sum = _mm256_add_epi32(sum, _mm256_madd_epi16(d, d));
  }
  *acc = sum;
}

// Lane sums of a[0..7], in order, into out[0..7].
__attribute__((target("avx2"))) inline void Avx2Reduce8(const __m256i* a, int32_t* out) {
  const __m256i s01 = _mm256_hadd_epi32(a[0], a[1]);
  const __m256i s23 = _mm256_hadd_epi32(a[2], a[3]);
  const __m256i s45 = _mm256_hadd_epi32(a[4], a[5]);
  const __m256i s67 = _mm256_hadd_epi32(a[6], a[7]);
  const __m256i s0123 = _mm256_hadd_epi32(s01, s23);
  const __m256i s4567 = _mm256_hadd_epi32(s45, s67);
  const __m256i r = _mm256_add_epi32(_mm256_permute2x128_si256(s0123, s4567, 0x20),
                                     _mm256_permute2x128_si256(s0123, s4567, 0x31));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), r);
}

}  // namespace

__attribute__((target("avx2"))) void SsdRowAvx2(const int16_t* t, std::ptrdiff_t tStride, const int16_t* src,
                                                std::ptrdiff_t srcStride, int count, int32_t* out) {
  __m256i tv[4];
  for (int i = 0; i < 4; ++i) tv[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + i * tStride));
  // Eight candidates at a time, reduced together.
  __m256i a[8];
  int k = 0;
  for (; k + 8 <= count; k += 8) {
    for (int m = 0; m < 8; ++m) Avx2Candidate(tv, src + 4 * (k + m), srcStride, &a[m]);
    Avx2Reduce8(a, out + k);
  }
  if (k < count) {
    for (int m = 0; m < 8; ++m) {
      if (k + m < count) Avx2Candidate(tv, src + 4 * (k + m), srcStride, &a[m]);
      else a[m] = _mm256_setzero_si256();
    }
    int32_t r[8];
    Avx2Reduce8(a, r);
    for (int m = 0; k + m < count; ++m) out[k + m] = r[m];
  }
}

bool HaveAvx2() {
  static const bool have = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return have;
}

SsdRowFn SsdRow() {
  static const SsdRowFn fn = HaveAvx2() ? &SsdRowAvx2 : &SsdRowSse2;
  return fn;
}

BlendSums BlendSumsScalar(const int16_t* t, std::ptrdiff_t tStride, const int16_t* p, const int16_t* q,
                          std::ptrdiff_t srcStride) {
  BlendSums sums;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < kRowValues; ++j) {
      const int64_t tq = t[i * tStride + j] - q[i * srcStride + j];
      const int64_t pq = p[i * srcStride + j] - q[i * srcStride + j];
      sums.cross += tq * pq;
      sums.energy += pq * pq;
    }
  return sums;
}

namespace {

inline int64_t HorizontalSum(__m128i v) {
  alignas(16) int32_t r[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(r), v);
  return int64_t{r[0]} + r[1] + r[2] + r[3];
}

}  // namespace

BlendSums BlendSumsSse2(const int16_t* t, std::ptrdiff_t tStride, const int16_t* p, const int16_t* q,
                        std::ptrdiff_t srcStride) {
  // Per lane at most 8 products of magnitude <= 65025 each: no overflow.
  __m128i cross = _mm_setzero_si128(), energy = _mm_setzero_si128();
  for (int i = 0; i < 4; ++i)
    for (int h = 0; h < 2; ++h) {
      const __m128i qv = Load(q + i * srcStride + 8 * h);
      const __m128i tq = _mm_sub_epi16(Load(t + i * tStride + 8 * h), qv);
      const __m128i pq = _mm_sub_epi16(Load(p + i * srcStride + 8 * h), qv);
      cross = _mm_add_epi32(cross, _mm_madd_epi16(tq, pq));
      energy = _mm_add_epi32(energy, _mm_madd_epi16(pq, pq));
    }
  return {HorizontalSum(cross), HorizontalSum(energy)};
}

int64_t BlendSadScalar(const int16_t* t, std::ptrdiff_t tStride, const int16_t* p, const int16_t* q,
                       std::ptrdiff_t srcStride, int weight) {
  int64_t sum = 0;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < kRowValues; ++j) {
      const int32_t tv = t[i * tStride + j], pv = p[i * srcStride + j], qv = q[i * srcStride + j];
      sum += std::abs(256 * tv - (256 * pv + (qv - pv) * weight));
    }
  return sum;
}

int64_t BlendSadSse2(const int16_t* t, std::ptrdiff_t tStride, const int16_t* p, const int16_t* q,
                     std::ptrdiff_t srcStride, int weight) {
  // 256 (T - P) - weight (Q - P) as one multiply-add of the interleaved
  // differences with (256, -weight); |.| <= 65280 + 65280, 16 lanes summed
  // per 32-bit lane stay far below 2^31.
  const __m128i coeff = _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(-weight) << 16) | 256u));
  __m128i acc = _mm_setzero_si128();
  for (int i = 0; i < 4; ++i)
    for (int h = 0; h < 2; ++h) {
      const __m128i pv = Load(p + i * srcStride + 8 * h);
      const __m128i tp = _mm_sub_epi16(Load(t + i * tStride + 8 * h), pv);
      const __m128i qp = _mm_sub_epi16(Load(q + i * srcStride + 8 * h), pv);
      for (int half = 0; half < 2; ++half) {
        const __m128i pairs = half == 0 ? _mm_unpacklo_epi16(tp, qp) : _mm_unpackhi_epi16(tp, qp);
        const __m128i v = _mm_madd_epi16(pairs, coeff);
        const __m128i sign = _mm_srai_epi32(v, 31);
        acc = _mm_add_epi32(acc, _mm_sub_epi32(_mm_xor_si128(v, sign), sign));
      }
    }
  return HorizontalSum(acc);
}

namespace {

__attribute__((target("avx2"))) inline int64_t HorizontalSum256(__m256i v) {
  return HorizontalSum(_mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
}

__attribute__((target("avx2"))) inline __m256i Load256(const int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

}  // namespace

__attribute__((target("avx2"))) BlendSums BlendSumsAvx2(const int16_t* t, std::ptrdiff_t tStride, const int16_t* p,
                                                        const int16_t* q, std::ptrdiff_t srcStride) {
  __m256i cross = _mm256_setzero_si256(), energy = _mm256_setzero_si256();
  for (int i = 0; i < 4; ++i) {
    const __m256i qv = Load256(q + i * srcStride);
    const __m256i tq = _mm256_sub_epi16(Load256(t + i * tStride), qv);
    const __m256i pq = _mm256_sub_epi16(Load256(p + i * srcStride), qv);
    cross = _mm256_add_epi32(cross, _mm256_madd_epi16(tq, pq));
    energy = _mm256_add_epi32(energy, _mm256_madd_epi16(pq, pq));
  }
  return {HorizontalSum256(cross), HorizontalSum256(energy)};
}

__attribute__((target("avx2"))) int64_t BlendSadAvx2(const int16_t* t, std::ptrdiff_t tStride, const int16_t* p,
                                                     const int16_t* q, std::ptrdiff_t srcStride, int weight) {
  const __m256i coeff = _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(-weight) << 16) | 256u));
  __m256i acc = _mm256_setzero_si256();
  for (int i = 0; i < 4; ++i) {
    const __m256i pv = Load256(p + i * srcStride);
    const __m256i tp = _mm256_sub_epi16(Load256(t + i * tStride), pv);
    const __m256i qp = _mm256_sub_epi16(Load256(q + i * srcStride), pv);
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
