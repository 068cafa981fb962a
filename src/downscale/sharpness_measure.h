// SharpnessMeasure: how crisp a plane looks, from the distribution of its
// neighbour differences (larger when they concentrate on few pixels).
#pragma once

#include <cstdint>

// Score of a row-major width x height plane: n * S2 / (S1^2 + 1e-12) over the
// n horizontal and vertical differences a, b of every pixel but the last row
// and column, with S1 = sum(|a| + |b|) and S2 = sum(a^2 + b^2). The
// differences, absolute values and squares are single-precision values; the
// sums are formed in double precision, pixel by pixel in row order. 0 for a
// plane of one row or one column.
float SharpnessMeasure(const float* plane, uint32_t width, uint32_t height);

// The scores of `count` planes of the same size (count 1 to
// kSharpnessBatch), each exactly what SharpnessMeasure returns for it.
// Several planes at once are faster: the double-precision sums must be
// formed one after another, and the sums of different planes can overlap.
inline constexpr int kSharpnessBatch = 4;
void SharpnessMeasureBatch(const float* const* planes, int count, uint32_t width, uint32_t height, float* scores);
