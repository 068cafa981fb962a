// RobustResidual: the derivative of the 5/4-power data term of the
// enhancement, applied to the difference between simulation and source.
#pragma once

#include <cstddef>

namespace kestrune {

// residual[i] = sign(e) |e|^(1/4) with e = simulated[i] - source[i], or with
// e = simulated[i] when `source` is null (an error formed elsewhere).
void RobustResidual(const float* simulated, const float* source, std::size_t n, float* residual);

}  // namespace kestrune
