// Downscale over the public image: the reduction itself, its checks and alpha
// are the core's (src/downscale/downscale_image.h).
#include "kestrune/downscale.h"

#include <new>

#include "api/image_access.h"
#include "downscale/downscale_image.h"

namespace kestrune {

namespace {

// The public options as the core takes them; the filters are numbered alike
// (checked beside Resize), and an unknown one stays unknown, for
// DownscaleImage to refuse.
DownscaleParams ToParams(const DownscaleOptions& o) {
  DownscaleParams params;
  params.filterType = static_cast<int32_t>(o.filter);
  params.newWidth = o.width;
  params.newHeight = o.height;
  params.smoothness = o.smoothness;
  params.trials = o.trials;
  params.scaleDeviation = o.scaleDeviation;
  return params;
}

}  // namespace

Result<Image> Downscale(const Image& source, const DownscaleOptions& options, Progress* progress, Hint* chosen) {
  Result<FloatImage> planes = DownscaleImage(ImageAccess::Planes(source), ToParams(options), progress, chosen);
  if (!planes.has_value()) return planes.error();
  try {
    return ImageAccess::ResultOf(std::move(planes).value(), source);
  } catch (const std::bad_alloc&) {
    return Error{ErrorCode::kOutOfMemory, "not enough memory for the search"};
  }
}

}  // namespace kestrune
