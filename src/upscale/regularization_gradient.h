// RegularizationGradient: the gradient of the bilateral total-variation
// regulariser of one plane, which pulls ringing and small oscillations flat.
#pragma once

#include <cstddef>

namespace kestrune {

namespace regularization_gradient {

using Index = std::ptrdiff_t;

// The eight neighbour shifts (dy, dx), in the order the scalar and vector
// forms both sum them.
constexpr int kShifts[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};

}  // namespace regularization_gradient

// x and r are W x H planes; r receives the gradient.
void RegularizationGradient(const float* x, int W, int H, float* r);

// The regularised step in one pass over the W x H plane x: the gradient r as
// above, then UpdateEstimate(x, e, r, v, beta, lambda) on every sample (v may
// be null). Each row's gradient is taken before any row it reads changes, so
// the result is that of the two passes bit for bit, without a gradient plane.
void RegularizedUpdate(float* x, int W, int H, const float* e, const float* v, float beta, float lambda);

}  // namespace kestrune
