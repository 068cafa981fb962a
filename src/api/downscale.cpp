// Downscale: the hint search over the public image, after checking the
// options. With alpha, the search and the colour's scaling run on the
// premultiplied colour (the search so sees the picture as it shows over
// black: its luminance weighted by alpha), and alpha is scaled beside it.
#include "kestrune/downscale.h"

#include <cmath>
#include <new>
#include <string>

#include "resampling/alpha_planes.h"
#include "api/image_access.h"
#include "base/sample_buffer.h"
#include "downscale/downscale_params.h"
#include "downscale/hint_search.h"

namespace kestrune {

Result<Image> Downscale(const Image& source, const DownscaleOptions& o, Progress* progress, Hint* chosen) {
  auto invalid = [](std::string message) { return Error{ErrorCode::kInvalidArgument, std::move(message)}; };
  if (source.IsEmpty()) return invalid("the image is empty");
  if (!ImageSizeAllowed(o.width, o.height))
    return invalid("a size of " + std::to_string(o.width) + " x " + std::to_string(o.height) +
                   " pixels is outside the image limits");
  if (static_cast<int>(o.filter) < 0 || static_cast<int>(o.filter) > 6) return invalid("unknown filter");
  if (!(o.smoothness >= 0.5f && o.smoothness <= 2.0f)) return invalid("the smoothness must be a number from 0.5 to 2");
  if (o.trials < 4 || o.trials > 256) return invalid("the number of trials must be from 4 to 256");
  if (!(o.scaleDeviation >= 0.0f && o.scaleDeviation <= 64.0f))
    return invalid("the scale deviation must be a number from 0 to 64");

  DownscaleParams params;
  params.filterType = static_cast<int32_t>(o.filter);
  params.newWidth = o.width;
  params.newHeight = o.height;
  params.smoothness = o.smoothness;
  params.trials = o.trials;
  params.scaleDeviation = o.scaleDeviation;
  try {
    const FloatImage& src = ImageAccess::Planes(source);
    if (!src.HasAlpha()) {
      FloatImage result;
      if (!HintSearch(result, src, params, progress, chosen))
        return Error{ErrorCode::kCancelled, "the search was stopped"};
      return ImageAccess::ResultOf(std::move(result), source);
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
    result.Allocate(o.width, o.height, true);
    for (int c = 0; c < 3; ++c) CopyParallel(colour.samples(c), colour.PixelCount(), result.samples(c));
    colour.Release();
    if (transparent) {
      ResizeOptions scaling;
      scaling.width = o.width;
      scaling.height = o.height;
      scaling.filter = o.filter;
      scaling.offsetX = hint.offsetX;
      scaling.offsetY = hint.offsetY;
      scaling.deviationX = hint.deviationX;
      scaling.deviationY = hint.deviationY;
      scaling.smoothness = o.smoothness;
      FinishAlphaResize(alpha, src.width, src.height, result, scaling);
    } else {
      FillOpaque(result);
    }
    return ImageAccess::ResultOf(std::move(result), source);
  } catch (const std::bad_alloc&) {
    return Error{ErrorCode::kOutOfMemory, "not enough memory for the search"};
  }
}

}  // namespace kestrune
