// DownscaleParams: the settings of one "Downscale with hinting" run; the
// hint it chooses is the public Hint.
#pragma once

#include <cstdint>

#include "kestrune/downscale.h"
#include "resampling/linear_resampler.h"

namespace kestrune {

struct DownscaleParams {
  int32_t filterType = FilterCatmullRom;  // filter of the horizontal search and the final scaling
  uint32_t newWidth = 1;                  // target size in pixels, 1..100000
  uint32_t newHeight = 1;
  float smoothness = 0.8f;      // kernel stretch, 0.5..2.0
  int32_t trials = 12;          // N: deviations and offsets tried per axis, 4..256
  float scaleDeviation = 8.0f;  // D: source pixels, 0.0..64.0
};

}  // namespace kestrune
