// RobustResidual: sign(e) |e|^(1/4), the fourth root taken as two square roots.
#include "upscale/robust_residual.h"

#include <cmath>

void RobustResidual(const float* simulated, const float* source, std::size_t n, float* residual) {
  for (std::size_t i = 0; i < n; ++i) {
    const float e = simulated[i] - source[i];
    const float sign = e > 0.0f ? 1.0f : e == 0.0f ? 0.0f : -1.0f;
    residual[i] = sign * std::sqrt(std::sqrt(std::fabs(e)));
  }
}
