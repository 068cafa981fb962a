// DownscaleImage: the hint search, after checking the settings. With alpha,
// the search and the colour's scaling run on the premultiplied colour (the
// search so sees the picture as it shows over black: its luminance weighted
// by alpha), and alpha is scaled beside it.
#include "downscale/downscale_image.h"

#include <new>
#include <string>

#include "base/sample_buffer.h"
#include "downscale/hint_search.h"
#include "resampling/alpha_planes.h"

namespace kestrune {

Result<FloatImage> DownscaleImage(const FloatImage& src, const DownscaleParams& params, Progress* progress,
                                  Hint* chosen) {
  auto invalid = [](std::string message) { return Error{ErrorCode::kInvalidArgument, std::move(message)}; };
  if (src.IsEmpty()) return invalid("the image is empty");
  if (!ImageSizeAllowed(params.newWidth, params.newHeight))
    return invalid("a size of " + std::to_string(params.newWidth) + " x " + std::to_string(params.newHeight) +
                   " pixels is outside the image limits");
  if (params.filterType < FilterBox || params.filterType > FilterSinc) return invalid("unknown filter");
  if (!(params.smoothness >= 0.5f && params.smoothness <= 2.0f))
    return invalid("the smoothness must be a number from 0.5 to 2");
  if (params.trials < 4 || params.trials > 256) return invalid("the number of trials must be from 4 to 256");
  if (!(params.scaleDeviation >= 0.0f && params.scaleDeviation <= 64.0f))
    return invalid("the scale deviation must be a number from 0 to 64");
  try {
    if (!src.HasAlpha()) {
      FloatImage result;
      if (!HintSearch(result, src, params, progress, chosen))
        return Error{ErrorCode::kCancelled, "the search was stopped"};
      return result;
    }
    // An opaque alpha plane leaves the colour exactly as without one.
    const float* const alpha = src.samples(FloatImage::kAlpha);
    const bool transparent = !IsOpaque(alpha, src.PixelCount());
    FloatImage colour;
    if (transparent) colour = Premultiplied(src);
    Hint hint;
    if (!HintSearch(colour, transparent ? colour : src, params, progress, &hint))
      return Error{ErrorCode::kCancelled, "the search was stopped"};
    if (chosen) *chosen = hint;
    FloatImage result;
    result.Allocate(params.newWidth, params.newHeight, true);
    for (int c = 0; c < 3; ++c) CopyParallel(colour.samples(c), colour.PixelCount(), result.samples(c));
    colour.Release();
    if (transparent) {
      ResizeSettings scaling;
      scaling.width = params.newWidth;
      scaling.height = params.newHeight;
      scaling.filterType = params.filterType;
      scaling.offsetX = hint.offsetX;
      scaling.offsetY = hint.offsetY;
      scaling.deviationX = hint.deviationX;
      scaling.deviationY = hint.deviationY;
      scaling.smoothness = params.smoothness;
      FinishAlphaResize(alpha, src.width, src.height, result, scaling);
    } else {
      FillOpaque(result);
    }
    return result;
  } catch (const std::bad_alloc&) {
    return Error{ErrorCode::kOutOfMemory, "not enough memory for the search"};
  }
}

}  // namespace kestrune
