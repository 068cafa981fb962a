// DownscaleParams: the settings of one "Downscale with hinting" run, and the
// hint the search chooses.
#pragma once

#include <cstdint>

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

// The change of scale and the shift of the output grid handed to ResizePlane:
// offsets in output pixels, deviations in source pixels.
struct Hint {
  float offsetX = 0.0f;
  float offsetY = 0.0f;
  float deviationX = 0.0f;
  float deviationY = 0.0f;
  float score = 0.0f;  // the sharpness score that chose it
};

}  // namespace kestrune
