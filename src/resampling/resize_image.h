// The resize of a whole image as the library offers it: its checks, alpha,
// and the colour planes through the linear resampler.
#pragma once

#include <cstdint>

#include "image/float_image.h"
#include "kestrune/result.h"
#include "resampling/linear_resampler.h"

namespace kestrune {

// One resize's settings, as ResizePlane takes them. The library's
// ResizeOptions translate into this record (ToSettings in src/api/resize.cpp).
struct ResizeSettings {
  uint32_t width = 0, height = 0;         // the size of the result
  int32_t filterType = FilterCatmullRom;  // of both passes
  float offsetX = 0.0f, offsetY = 0.0f;
  float deviationX = 0.0f, deviationY = 0.0f;
  float smoothness = 1.0f;
};

// Resizes `source` with `settings` after checking them (see kestrune::Resize
// for what it does with alpha). The result carries no metadata.
Result<FloatImage> ResizeImage(const FloatImage& source, const ResizeSettings& settings);

}  // namespace kestrune
