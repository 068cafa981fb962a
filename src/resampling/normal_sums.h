// The sums of products that form the normal equations of NEDI's least-squares
// fits, over training rows of eight floats (six regressors, the target and a
// zero pad).
#pragma once

#include <cstdint>

namespace kestrune {

// Floats per training row, and per row of the table of sums.
constexpr int kNormalRowStride = 8;

// sums[p * 8 + q] = sum over the `count` rows x of x[p] * x[q], for
// 0 <= p <= q <= 6, each a single-precision sum in row order; the other
// entries are left unspecified. A scalar form and a vector form chosen at
// run time give the same bits.
void NormalSums(const float* rows, int count, float* sums);
void NormalSumsScalar(const float* rows, int count, float* sums);

// Training rows from entries of seven floats per colour (six pair sums and
// the target), the three colours' entries of position p being the 21 floats
// from entries[p], and six noise values per colour and position, in order
// from noise: per position and colour one row of the pair sums plus their
// noise, the target and a 0 pad, 3 * positions rows in all (no noise: null,
// and the pair sums as they are). The vector form
// may read up to kNoisyRowsOverread floats past an entry or the last noise
// value (never using them); both forms give the same bits.
constexpr int kNoisyRowsOverread = 8;
void NoisyTrainingRows(const float* const* entries, int positions, const float* noise, float* rows);
void NoisyTrainingRowsScalar(const float* const* entries, int positions, const float* noise, float* rows);

namespace normal_sums {

// The products x[left] * x[right] with left <= right <= 6, in 32 slots (the
// last four multiply the zero pad).
struct ProductTable {
  alignas(64) int32_t left[32];
  alignas(64) int32_t right[32];
  constexpr ProductTable() : left(), right() {
    int n = 0;
    for (int p = 0; p < kNormalRowStride - 1; ++p)
      for (int q = p; q < kNormalRowStride - 1; ++q) left[n] = p, right[n] = q, ++n;
    for (; n < 32; ++n) left[n] = right[n] = kNormalRowStride - 1;
  }
};
inline constexpr ProductTable kProducts;

}  // namespace normal_sums

}  // namespace kestrune
