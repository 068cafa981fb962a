// Writing a FloatImage to a file all or nothing: BMP (24 bits, the
// program's own writer), PFM (the program's own, 1.0 is white) and through
// libvips PNG, JPEG, TIFF and WebP with the image's metadata. The alpha plane
// is written where the format holds one (PNG, TIFF, WebP); BMP, JPEG and PFM
// get the colour planes only. A greyscale image is written as one channel
// where the format has grey (PNG, JPEG, TIFF, WebP, PFM).
//
// Result codes: 0 written; 1 the file cannot be created or a write failed
// (also for an image or a depth the format cannot hold); 2 the image is empty
// (no file is created then).
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

// Whether `format` can store samples of `depth`: BMP, JPEG and WebP 8 bits;
// PNG 8 or 16; TIFF 8, 16 or 32-bit float; PFM 32-bit float.
bool FormatHoldsDepth(FileFormat format, SampleDepth depth);

// The depth a write of `format` uses: `requested` when given, else the
// source's depth when the format holds it, else the nearest it holds
// (PNG: 16 for a float source).
SampleDepth DepthForWrite(FileFormat format, SampleDepth requested, SampleDepth source);

// Writes `image` to `path` ("-": standard output, which gets the file in one
// piece once it is encoded) in `options.format` (not kUnknown) all or
// nothing, through an AtomicOutput. On failure `reason` (when given)
// receives the system's reason or what the format cannot hold.
int WriteImageFile(const std::string& path, const FloatImage& image, const WriteOptions& options,
                   std::string* reason = nullptr);

// The encoders on a stream open for writing; the caller closes it.
// Uncompressed 24-bit bottom-up BMP with the 54-byte header.
int WriteBmp(std::FILE* file, const FloatImage& image);
// PNG, JPEG, TIFF or WebP through libvips at `depth` (one the format holds).
int WriteWithVips(std::FILE* file, const FloatImage& image, const WriteOptions& options, SampleDepth depth,
                  std::string& reason);

}  // namespace kestrune
