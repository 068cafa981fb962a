/// @file
/// "Downscale with hinting": a reduction with one of seven linear filters after
/// a search, on luminance (weighted by alpha), for the small change of scale and the sub-pixel
/// shift of the output grid (the hint) that make the result crispest.
#pragma once

#include <cstdint>

#include "kestrune/export.h"
#include "kestrune/image.h"
#include "kestrune/progress.h"
#include "kestrune/resize.h"
#include "kestrune/result.h"

namespace kestrune {

/// The settings of a run; the defaults are those of the settings dialog.
struct DownscaleOptions {
  ///@{
  /// Size of the result: each side 1 .. kMaxImageSide, within kMaxImagePixels.
  uint32_t width = 0;
  uint32_t height = 0;
  ///@}
  Filter filter = Filter::kCatmullRom;  ///< of the horizontal search and the final scaling
  float smoothness = 0.8f;              ///< kernel stretch, 0.5 .. 2
  int32_t trials = 12;                  ///< deviations and offsets tried per axis, 4 .. 256
  float scaleDeviation = 8.0f;          ///< the largest change of scale tried, in source pixels, 0 .. 64
};

/// The hint the search chose: the shift of the output grid in output pixels
/// and the change of the mapped extent in source pixels (as ResizeOptions
/// takes them), and the sharpness score that chose it.
struct Hint {
  ///@{
  /// Shift of the output grid, in output pixels (ResizeOptions::offsetX, offsetY).
  float offsetX = 0.0f;
  float offsetY = 0.0f;
  ///@}
  ///@{
  /// Change of the mapped input extent, in source pixels
  /// (ResizeOptions::deviationX, deviationY).
  float deviationX = 0.0f;
  float deviationY = 0.0f;
  ///@}
  float score = 0.0f;  ///< the sharpness of the trial reduction the hint gave; higher is crisper
};

/// Searches, then resizes `source` with the hint, reporting to `progress`
/// (may be null) on the calling thread; `chosen`, when given, receives the
/// hint. With an alpha plane that is not opaque throughout, the search and
/// the colour's scaling work on the colour premultiplied by alpha (the search
/// judges the picture as it shows over black: luminance weighted by alpha),
/// and alpha is scaled as Resize scales it. Errors:
/// kInvalidArgument (empty source, options out of range), kCancelled (no
/// result), kOutOfMemory.
KESTRUNE_API Result<Image> Downscale(const Image& source, const DownscaleOptions& options, Progress* progress = nullptr,
                                     Hint* chosen = nullptr);

}  // namespace kestrune
