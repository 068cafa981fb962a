// RobustResidual: sign(e) |e|^(1/4), the fourth root taken as two square roots.
#include "upscale/robust_residual.h"

#include <cmath>

#include "base/threading.h"

namespace kestrune {

void RobustResidual(const float* simulated, const float* source, std::size_t n, float* residual) {
  // Sample by sample; the threads take runs of samples.
  ParallelFor(0, std::ptrdiff_t(n), 16384, [&](std::ptrdiff_t i0, std::ptrdiff_t i1) {
    for (std::ptrdiff_t i = i0; i < i1; ++i) {
      const float e = simulated[i] - source[i];
      const float sign = e > 0.0f ? 1.0f : e == 0.0f ? 0.0f : -1.0f;
      residual[i] = sign * std::sqrt(std::sqrt(std::fabs(e)));
    }
  });
}

}  // namespace kestrune
