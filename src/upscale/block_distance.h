// Distances between 4 x 4 blocks of byte-quantised RGB0 samples (4 bytes per
// sample, so 16 values per block row), the inner loops of the fractal
// substitution. Every variant returns exactly the plain integer sums.
#pragma once

#include <cstddef>
#include <cstdint>

namespace BlockDistance {

// Values per block row: 4 samples of 4 bytes.
inline constexpr int kRowValues = 16;

// out[k] = sum over the 4 x 16 values of (t - s_k)^2, where block t starts at
// `t` (row stride tStride values) and candidate k starts at src + 4k (row
// stride srcStride values), for k = 0..count-1. The values are bytes held in
// 16-bit integers (0..255).
using SsdRowFn = void (*)(const int16_t* t, std::ptrdiff_t tStride, const int16_t* src, std::ptrdiff_t srcStride,
                          int count, int32_t* out);

void SsdRowScalar(const int16_t* t, std::ptrdiff_t tStride, const int16_t* src, std::ptrdiff_t srcStride, int count,
                  int32_t* out);
void SsdRowSse2(const int16_t* t, std::ptrdiff_t tStride, const int16_t* src, std::ptrdiff_t srcStride, int count,
                int32_t* out);
void SsdRowAvx2(const int16_t* t, std::ptrdiff_t tStride, const int16_t* src, std::ptrdiff_t srcStride, int count,
                int32_t* out);

// The fastest variant this processor runs (chosen once, at first use).
SsdRowFn SsdRow();
bool HaveAvx2();

// Sums for blending two source blocks P and Q towards a target block T:
// cross = sum (T - Q)(P - Q) and energy = sum (P - Q)^2.
struct BlendSums {
  int64_t cross = 0;
  int64_t energy = 0;
};
BlendSums BlendSumsScalar(const int16_t* t, std::ptrdiff_t tStride, const int16_t* p, const int16_t* q,
                          std::ptrdiff_t srcStride);
BlendSums BlendSumsSse2(const int16_t* t, std::ptrdiff_t tStride, const int16_t* p, const int16_t* q,
                        std::ptrdiff_t srcStride);
BlendSums BlendSumsAvx2(const int16_t* t, std::ptrdiff_t tStride, const int16_t* p, const int16_t* q,
                        std::ptrdiff_t srcStride);
using BlendSumsFn = BlendSums (*)(const int16_t*, std::ptrdiff_t, const int16_t*, const int16_t*, std::ptrdiff_t);
BlendSumsFn BlendSumsBest();

// sum |256 T - (256 P + (Q - P) * weight)|, which is 256 times the sum of
// absolute differences between T and the blend P + (Q - P) * weight / 256.
// weight lies in 0..256.
int64_t BlendSadScalar(const int16_t* t, std::ptrdiff_t tStride, const int16_t* p, const int16_t* q,
                       std::ptrdiff_t srcStride, int weight);
int64_t BlendSadSse2(const int16_t* t, std::ptrdiff_t tStride, const int16_t* p, const int16_t* q,
                     std::ptrdiff_t srcStride, int weight);
int64_t BlendSadAvx2(const int16_t* t, std::ptrdiff_t tStride, const int16_t* p, const int16_t* q,
                     std::ptrdiff_t srcStride, int weight);
using BlendSadFn = int64_t (*)(const int16_t*, std::ptrdiff_t, const int16_t*, const int16_t*, std::ptrdiff_t, int);
BlendSadFn BlendSadBest();

}  // namespace BlockDistance
