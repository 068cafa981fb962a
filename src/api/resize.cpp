// Resize over the public image: the resize itself, its checks and alpha are
// the core's (src/resampling/resize_image.h).
#include "kestrune/resize.h"

#include <new>

#include "api/image_access.h"
#include "resampling/resize_image.h"

namespace kestrune {

static_assert(int(Filter::kBox) == FilterBox && int(Filter::kBilinear) == FilterBilinear &&
              int(Filter::kCubicBSpline) == FilterCubicBSpline && int(Filter::kCatmullRom) == FilterCatmullRom &&
              int(Filter::kLanczos2) == FilterLanczos2 && int(Filter::kLanczos3) == FilterLanczos3 &&
              int(Filter::kSinc) == FilterSinc);

namespace {

// The public options as the core takes them. The public filters and the
// core's name the same kernels in the same order; an unknown value stays
// unknown, for ResizeImage to refuse.
ResizeSettings ToSettings(const ResizeOptions& o) {
  ResizeSettings s;
  s.width = o.width;
  s.height = o.height;
  s.filterType = static_cast<int32_t>(o.filter);
  s.offsetX = o.offsetX;
  s.offsetY = o.offsetY;
  s.deviationX = o.deviationX;
  s.deviationY = o.deviationY;
  s.smoothness = o.smoothness;
  return s;
}

}  // namespace

Result<Image> Resize(const Image& source, const ResizeOptions& options) {
  Result<FloatImage> planes = ResizeImage(ImageAccess::Planes(source), ToSettings(options));
  if (!planes.has_value()) return planes.error();
  try {
    return ImageAccess::ResultOf(std::move(planes).value(), source);
  } catch (const std::bad_alloc&) {
    return Error{ErrorCode::kOutOfMemory, "not enough memory for the resized image"};
  }
}

}  // namespace kestrune
