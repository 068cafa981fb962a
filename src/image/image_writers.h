// Writing a FloatImage as a 24-bit BMP file or an 8-bit RGB PNG file. The
// samples pass through the byte conversion; the alpha plane is ignored.
//
// Result codes: 0 written; 1 the file cannot be created or a write failed
// (also for an image too large for the format's size fields); 2 the image is
// empty (no file is created then).
#pragma once

#include <string>

#include "image/float_image.h"

namespace kestrune {

enum WriteResult : int {
  kWriteOk = 0,
  kWriteFailed = 1,
  kWriteEmptyImage = 2,
};

// Uncompressed 24-bit bottom-up BMP with the 54-byte header.
int WriteBmp(const std::string& path, const FloatImage& image);

// 8-bit RGB PNG, not interlaced.
int WritePng(const std::string& path, const FloatImage& image);

}  // namespace kestrune
