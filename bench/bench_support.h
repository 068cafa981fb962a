// Helpers shared by the benchmarks.
#pragma once

#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "image/float_image.h"

// One plane of a photograph-like test chart (its luminance), w x h.
std::vector<float> ChartPlane(uint32_t width, uint32_t height, uint32_t seed = 1);

// Times the default hint search (Catmull-Rom, smoothness 0.8, 12 trials,
// deviation 8, final scaling included) of a 2000 x 1500 chart to
// newWidth x newHeight, once per iteration.
void TimeDefaultHintSearch(benchmark::State& state, uint32_t newWidth, uint32_t newHeight);
