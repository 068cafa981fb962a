// The sums of products that form the normal equations of NEDI's least-squares
// fits, over training rows of eight floats (six regressors, the target and a
// zero pad).
#pragma once

namespace kestrune {

// Floats per training row, and per row of the table of sums.
constexpr int kNormalRowStride = 8;

// sums[p * 8 + q] = sum over the `count` rows x of x[p] * x[q], for
// 0 <= p <= q <= 6, each a single-precision sum in row order; the other
// entries are left unspecified. A scalar form and a vector form chosen at
// run time give the same bits.
void NormalSums(const float* rows, int count, float* sums);
void NormalSumsScalar(const float* rows, int count, float* sums);

}  // namespace kestrune
