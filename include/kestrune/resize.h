/// @file
/// Linear resizing of a whole image with one of seven filters, a sub-pixel
/// shift of the output grid and a change of the mapped input extent.
#pragma once

#include <cstdint>

#include "kestrune/export.h"
#include "kestrune/image.h"
#include "kestrune/result.h"

namespace kestrune {

/// The filters, in the order of the "Resizing filter" list.
enum class Filter : int {
  kBox = 0,
  kBilinear = 1,
  kCubicBSpline = 2,
  kCatmullRom = 3,
  kLanczos2 = 4,
  kLanczos3 = 5,
  kSinc = 6,
};

/// The settings of Resize.
struct ResizeOptions {
  ///@{
  /// Size of the result: each side 1 .. kMaxImageSide, within kMaxImagePixels.
  uint32_t width = 0;
  uint32_t height = 0;
  ///@}
  Filter filter = Filter::kCatmullRom;  ///< of both passes
  ///@{
  /// Shift of the output grid, in output pixels (-100000 .. 100000).
  float offsetX = 0.0f;
  float offsetY = 0.0f;
  ///@}
  ///@{
  /// Change of the input extent mapped onto the output, in input pixels; the
  /// mapped extent (source side + deviation) must stay positive.
  float deviationX = 0.0f;
  float deviationY = 0.0f;
  ///@}
  /// Stretch of the filter kernel, 0.5 .. 2 (above 1 softer, below 1 sharper).
  float smoothness = 1.0f;
};

/// `source` resized to options.width x options.height (vertical pass, then
/// horizontal). With an alpha plane that is not opaque throughout, the colour
/// is resized premultiplied by alpha, so that colour under transparent pixels
/// never shows; alpha is resized with the filter when it has no negative
/// lobes (box, bilinear, B-spline), else with the bilinear one, so that it
/// stays within 0..255 and never rings. The colour is then divided by alpha
/// resized with the colour's own filter (a uniformly coloured shape keeps its
/// exact colour up to its edge) and clamped to 0..255; pixels of alpha 0 get
/// colour 0. An opaque alpha plane (every sample 255 or more) leaves the
/// colour exactly as without one and gives an alpha of 255 throughout.
/// Errors: kInvalidArgument for an empty source or options out of range (the
/// message says which), kOutOfMemory.
KESTRUNE_API Result<Image> Resize(const Image& source, const ResizeOptions& options);

}  // namespace kestrune
