// Downscale: the hint search over the public image, after checking the
// options.
#include "kestrune/downscale.h"

#include <cmath>
#include <new>
#include <string>

#include "api/image_access.h"
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
    FloatImage result;
    if (!HintSearch(result, ImageAccess::Planes(source), params, progress, chosen))
      return Error{ErrorCode::kCancelled, "the search was stopped"};
    return ImageAccess::ResultOf(std::move(result), source);
  } catch (const std::bad_alloc&) {
    return Error{ErrorCode::kOutOfMemory, "not enough memory for the search"};
  }
}

}  // namespace kestrune
