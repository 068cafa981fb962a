// RenderTestChart: a deterministic photograph-like sample image (smooth
// gradients, hard edges at many angles, thin lines, fine texture and a
// little noise), for the sample run, the tests and the benchmarks.
#pragma once

#include <cstdint>

#include "image/float_image.h"

namespace kestrune {

FloatImage RenderTestChart(uint32_t width, uint32_t height, uint32_t seed = 1);

}  // namespace kestrune
