// Allocation of the fourteen zero-filled working planes of an upscaling run,
// cleared by all threads.
#include "upscale/working_planes.h"

namespace kestrune {

WorkingPlanes::WorkingPlanes(int w, int h) {
  const std::size_t small = std::size_t(w > 0 ? w : 0) * std::size_t(h > 0 ? h : 0);
  const std::size_t large = small * 4;
  for (int c = 0; c < 3; ++c) {
    AssignParallel(enlargedResidual[c], large);
    AssignParallel(regularization[c], large);
    AssignParallel(simulated[c], small);
    AssignParallel(residual[c], small);
  }
  AssignParallel(scratch, large);
  AssignParallel(weights, large);
}

}  // namespace kestrune
