// Upscale and its checks over the public image: the enlargement itself is
// the core's (src/upscale/upscale_image.h).
#include "kestrune/upscale.h"

#include <new>
#include <string>

#include "api/image_access.h"
#include "api/upscale_params.h"
#include "upscale/upscale_image.h"

namespace kestrune {

uint64_t UpscaleMemoryNeeded(uint32_t w, uint32_t h, const UpscaleOptions& o, bool withAlpha) {
  return UpscaleMemoryEstimate(w, h, ToSettings(o), withAlpha);
}

Error CheckUpscale(uint32_t w, uint32_t h, const UpscaleOptions& o) {
  std::string problem = CheckUpscaleRun(w, h, ToSettings(o), true);
  if (problem.empty()) return {};
  return Error{ErrorCode::kInvalidArgument, std::move(problem)};
}

Result<Image> Upscale(const Image& source, const UpscaleOptions& options, Progress* progress) {
  Result<FloatImage> planes = UpscaleImage(ImageAccess::Planes(source), ToSettings(options), progress);
  if (!planes.has_value()) return planes.error();
  try {
    Image result = ImageAccess::ResultOf(std::move(planes).value(), source);
    if (planes.error()) return Result<Image>(std::move(result), planes.error());
    return result;
  } catch (const std::bad_alloc&) {
    return Error{ErrorCode::kOutOfMemory, "Not enough memory for this image."};
  }
}

}  // namespace kestrune
