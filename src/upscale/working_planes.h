// The fourteen working planes of an upscaling run, allocated zero-filled once
// per run and shared by the iteration and the edge-adaptive weights in fixed
// roles, so that the iteration loop allocates nothing.
#pragma once

#include <cstddef>
#include <vector>

#include "base/sample_buffer.h"

namespace kestrune {

struct WorkingPlanes {
  // w x h is the source size; the large planes are 2w x 2h.
  WorkingPlanes(int w, int h);

  SampleBuffer enlargedResidual[3];  // 2w x 2h: estimate snapshot, then enlarged residual
  SampleBuffer regularization[3];    // 2w x 2h: the fractal substitution's output
  SampleBuffer scratch;              // 2w x 2h: gradient map, row-pass temporary, sign plane
  SampleBuffer weights;              // 2w x 2h: edge-adaptive weights V
  SampleBuffer simulated[3];         // w x h: estimate through the downsampling model
  SampleBuffer residual[3];          // w x h: shaped residual
};

}  // namespace kestrune
