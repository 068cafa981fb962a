// SharpnessMeasure: how crisp a plane looks, from the distribution of its
// neighbour differences (larger when they concentrate on few pixels).
#pragma once

#include <cstdint>

// Score of a row-major width x height plane: n * S2 / (S1^2 + 1e-12) over the
// n horizontal and vertical differences a, b of every pixel but the last row
// and column, with S1 = sum(|a| + |b|) and S2 = sum(a^2 + b^2). 0 for a plane
// of one row or one column.
float SharpnessMeasure(const float* plane, uint32_t width, uint32_t height);
