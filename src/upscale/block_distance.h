// Distances between 4 x 4 blocks of byte-quantised samples (R, G, B, 0: four
// bytes per sample, 16 bytes per block row), the inner loops of the fractal
// substitution. Each has a scalar form (the ...Scalar functions) and a vector
// form chosen at run time; every form returns exactly the same integer sums.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrune {

namespace block_distance {

// Bytes in a block row (four samples of four bytes).
constexpr int kRowBytes = 16;

// Per source block position (by, bx) with by <= h-4, bx <= w-4:
// sum S^2 - 256 sum S over the block's 64 bytes; the fast coarse search
// forms the squared distance as sum T^2 + this - 2 sum S (T - 128).
// The table is resized to w * h (positions beyond the limits hold 0).
void SourceBlockTerms(const uint8_t* src, int w, int h, std::vector<int32_t>& terms);

// The coarse search: candidates (r, k) for r in 0..rows-1, k in 0..count-1
// (count <= 15) start at src + r * srcStride + 4k bytes. Returns the first
// strict minimum of the squared distances in row-major order. terms is the
// table of SourceBlockTerms at candidate (0, 0) with row stride termsStride.
struct SearchResult {
  int32_t distance = 0;
  int row = 0;
  int col = 0;
};
SearchResult Search(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* src, std::ptrdiff_t srcStride, int rows,
                    int count, const int32_t* terms, std::ptrdiff_t termsStride);
SearchResult SearchScalar(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* src, std::ptrdiff_t srcStride,
                          int rows, int count, const int32_t* terms, std::ptrdiff_t termsStride);

// Keeps the first strict minimum in row-major order (the scalar and vector
// searches alike).
inline void Consider(SearchResult& best, int32_t d, int row, int col) {
  if (d < best.distance) best = {d, row, col};
}

// Sums for blending two source blocks P and Q towards a target block T:
// cross = sum (T - Q)(P - Q) and energy = sum (P - Q)^2. The blend search
// tries up to kMaxBlends second blocks beside one first block, so the sums
// for all of them, qs[0..n-1], come from one call: out[k] is BlendSumsScalar
// of qs[k].
constexpr int kMaxBlends = 8;
struct BlendSums {  // no default values: arrays of them are filled by the calls
  int64_t cross;
  int64_t energy;
};
void BlendSumsOf(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* const* qs, int n,
                 std::ptrdiff_t srcStride, BlendSums* out);
BlendSums BlendSumsScalar(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* q,
                          std::ptrdiff_t srcStride);

// sum |256 T - (256 P + (Q - P) * weight)| over the block, which is 256 times
// the sum of absolute differences between T and the blend
// P + (Q - P) * weight / 256; weight lies in 0..256. BlendSads gives it for
// n <= kMaxBlends second blocks qs[k] with weights[k] in one call.
void BlendSads(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* const* qs, const int* weights,
               int n, std::ptrdiff_t srcStride, int64_t* out);
int64_t BlendSadScalar(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* q,
                       std::ptrdiff_t srcStride, int weight);

// The blend search of one first block p against its second blocks qs[k]:
// the blend factor tq = clamp(1 - cross / energy, 0, 0.99) (0 where the
// energy is 0), the weight nint(256 tq), and the blended error
// nint(BlendSad^2 / 2^20), which is the rounded sum of squared differences
// when the absolute differences were all equal. The choice is the first
// second block whose error is below `error` and least (k = n, with the
// given error and tq 0, when there is none), as a block-by-block pass finds.
struct BlendChoice {
  int64_t error;
  double tq;
  int k;
};
BlendChoice BlendSearch(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* const* qs, int n,
                        std::ptrdiff_t srcStride, int64_t error);
BlendChoice BlendSearchScalar(const uint8_t* t, std::ptrdiff_t tStride, const uint8_t* p, const uint8_t* const* qs,
                              int n, std::ptrdiff_t srcStride, int64_t error);

}  // namespace block_distance

}  // namespace kestrune
