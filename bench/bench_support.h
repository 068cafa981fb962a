// Helpers shared by the benchmarks.
#pragma once

#include <cstdint>
#include <vector>

#include "image/float_image.h"

// One plane of a photograph-like test chart (its luminance), w x h.
std::vector<float> ChartPlane(uint32_t width, uint32_t height, uint32_t seed = 1);
