// Writing a FloatImage as a 24-bit BMP file, an 8-bit RGB PNG file or a PFM
// file. The samples pass through the byte conversion (PFM keeps the floats);
// the alpha plane is ignored.
//
// Result codes: 0 written; 1 the file cannot be created or a write failed
// (also for an image too large for the format's size fields); 2 the image is
// empty (no file is created then).
#pragma once

#include <cstdio>
#include <string>

#include "image/float_image.h"
#include "kestrune/io.h"

namespace kestrune {

enum WriteResult : int {
  kWriteOk = 0,
  kWriteFailed = 1,
  kWriteEmptyImage = 2,
};

// Writes `image` to `path` in `format` (kBmp, kPng or kPfm) all or nothing,
// through an AtomicOutput. On failure `reason` (when given) receives the
// system's reason or what the format cannot hold.
int WriteImageFile(const std::string& path, const FloatImage& image, FileFormat format,
                   std::string* reason = nullptr);

// Uncompressed 24-bit bottom-up BMP with the 54-byte header.
int WriteBmp(const std::string& path, const FloatImage& image);
// 8-bit RGB PNG, not interlaced.
int WritePng(const std::string& path, const FloatImage& image);

// The encoders on a stream open for writing; the caller closes it.
int WriteBmp(std::FILE* file, const FloatImage& image);
int WritePng(std::FILE* file, const FloatImage& image);

}  // namespace kestrune
