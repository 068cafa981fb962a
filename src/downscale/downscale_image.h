// The reduction of a whole image as the library offers it: its checks, alpha,
// and the hint search.
#pragma once

#include "downscale/downscale_params.h"
#include "image/float_image.h"
#include "kestrune/progress.h"
#include "kestrune/result.h"

namespace kestrune {

// Reduces `source` with `params` after checking them (see
// kestrune::Downscale for what it does with alpha and cancellation);
// `chosen`, when given, receives the hint. The library's DownscaleOptions
// translate into `params` (ToParams in src/api/downscale.cpp). The result
// carries no metadata.
Result<FloatImage> DownscaleImage(const FloatImage& source, const DownscaleParams& params, Progress* progress,
                                  Hint* chosen);

}  // namespace kestrune
