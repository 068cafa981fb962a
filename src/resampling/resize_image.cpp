// ResizeImage: ResizePlane over the colour planes, after checking the
// settings; with alpha, over the premultiplied colour, and alpha beside it.
#include "resampling/resize_image.h"

#include <cmath>
#include <new>
#include <string>

#include "resampling/alpha_planes.h"

namespace kestrune {

namespace {

// Offsets and deviations beyond this many pixels make no sense for any image.
constexpr double kMaxShift = 100000.0;

Error Invalid(std::string message) { return Error{ErrorCode::kInvalidArgument, std::move(message)}; }

bool ValidShift(float value) { return std::isfinite(value) && std::abs(value) <= kMaxShift; }

}  // namespace

Result<FloatImage> ResizeImage(const FloatImage& src, const ResizeSettings& o) {
  if (src.IsEmpty()) return Invalid("the image is empty");
  if (!ImageSizeAllowed(o.width, o.height))
    return Invalid("a size of " + std::to_string(o.width) + " x " + std::to_string(o.height) +
                   " pixels is outside the image limits");
  if (o.filterType < FilterBox || o.filterType > FilterSinc) return Invalid("unknown filter");
  if (!ValidShift(o.offsetX) || !ValidShift(o.offsetY) || !ValidShift(o.deviationX) || !ValidShift(o.deviationY))
    return Invalid("offsets and deviations must be numbers from -100000 to 100000");
  if (!(o.smoothness >= 0.5f && o.smoothness <= 2.0f)) return Invalid("the smoothness must be a number from 0.5 to 2");
  // The mapped input extent must stay positive.
  if (!(double(src.width) + o.deviationX > 0.0) || !(double(src.height) + o.deviationY > 0.0))
    return Invalid("the deviations must be greater than minus the source size");
  try {
    // An opaque alpha plane leaves the colour exactly as without one.
    const bool transparent = src.HasAlpha() && !IsOpaque(src.samples(FloatImage::kAlpha), src.PixelCount());
    FloatImage premultiplied;
    if (transparent) premultiplied = Premultiplied(src);
    const FloatImage& colour = transparent ? premultiplied : src;
    FloatImage result;
    result.Allocate(o.width, o.height, src.HasAlpha());
    for (int c = 0; c < 3; ++c)
      ResizePlane(colour.samples(c), src.width, src.height, result.samples(c), o.width, o.height, o.filterType,
                  o.offsetX, o.offsetY, o.deviationX, o.deviationY, o.smoothness);
    if (transparent)
      FinishAlphaResize(src.samples(FloatImage::kAlpha), src.width, src.height, result, o);
    else if (src.HasAlpha())
      FillOpaque(result);
    return result;
  } catch (const std::bad_alloc&) {
    return Error{ErrorCode::kOutOfMemory, "not enough memory for the resized image"};
  }
}

}  // namespace kestrune
