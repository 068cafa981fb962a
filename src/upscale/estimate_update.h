// The enhancement's update of the estimate: a step against the enlarged
// residual and the (weighted) regulariser, clamped to the sample range.
#pragma once

#include <cstddef>

namespace kestrune {

// x[i] = clamp(x[i] - beta * (e[i] + lambda * g), -0.5, 255.5) for i in
// [i0, i1), with g = r[i] * v[i] where v is given and g = r[i] otherwise
// (the clamp keeps NaN). Neither r nor v is changed.
void UpdateEstimate(float* x, const float* e, const float* r, const float* v, float beta, float lambda,
                    std::ptrdiff_t i0, std::ptrdiff_t i1);

}  // namespace kestrune
