// The bridge between the public Image and the FloatImage that implements it.
#pragma once

#include <memory>

#include "image/float_image.h"
#include "kestrune/image.h"

namespace kestrune {

struct ImageAccess {
  // The planes of `image`; an empty FloatImage for an empty image.
  static const FloatImage& Planes(const Image& image) {
    static const FloatImage empty;
    return image.impl_ ? *image.impl_ : empty;
  }
  // The result of an operation on `source`: takes over `planes` and the
  // source's metadata.
  static Image ResultOf(FloatImage&& planes, const Image& source) {
    planes.metadata = Planes(source).metadata;
    return Adopt(std::move(planes));
  }
  // An Image that takes over `planes` without copying them.
  static Image Adopt(FloatImage&& planes) {
    Image image;
    if (!planes.IsEmpty()) image.impl_ = std::make_unique<FloatImage>(std::move(planes));
    return image;
  }
};

}  // namespace kestrune
