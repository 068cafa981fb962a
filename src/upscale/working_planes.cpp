// Allocation of the fourteen zero-filled working planes of an upscaling run.
#include "upscale/working_planes.h"

WorkingPlanes::WorkingPlanes(int w, int h) {
  const std::size_t small = std::size_t(w > 0 ? w : 0) * std::size_t(h > 0 ? h : 0);
  const std::size_t large = small * 4;
  for (int c = 0; c < 3; ++c) {
    enlargedResidual[c].assign(large, 0.0f);
    regularization[c].assign(large, 0.0f);
    simulated[c].assign(small, 0.0f);
    residual[c].assign(small, 0.0f);
  }
  scratch.assign(large, 0.0f);
  weights.assign(large, 0.0f);
}
