// Writing a FloatImage to a file all or nothing: BMP (24 bits, the
// program's own writer), PFM (the program's own, 1.0 is white) and through
// libvips PNG, JPEG, TIFF and WebP with the image's metadata. The alpha plane
// is written where the format holds one (PNG, TIFF, WebP); BMP, JPEG and PFM
// get the colour planes only. A greyscale image is written as one channel
// where the format has grey (PNG, JPEG, TIFF, WebP, PFM).
//
// Each answers with the library's Error: none when written; kCannotWrite
// when the file cannot be created or a write failed (also for an image or a
// depth the format cannot hold), with the reason when one is known;
// kInvalidArgument when the image is empty (no file is created then).
#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include "image/float_image.h"
#include "kestrune/io.h"

namespace kestrune {

inline Error WriteFailure(std::string reason = {}) { return Error{ErrorCode::kCannotWrite, std::move(reason)}; }
inline Error EmptyImageError() { return Error{ErrorCode::kInvalidArgument, "the image is empty"}; }

// Whether `format` can store samples of `depth`: BMP, JPEG and WebP 8 bits;
// PNG 8 or 16; TIFF 8, 16 or 32-bit float; PFM 32-bit float.
bool FormatHoldsDepth(FileFormat format, SampleDepth depth);

// The depth a write of `format` uses: `requested` when given, else the
// source's depth when the format holds it, else the nearest it holds
// (PNG: 16 for a float source).
SampleDepth DepthForWrite(FileFormat format, SampleDepth requested, SampleDepth source);

// Writes `image` to `path` ("-": standard output, which gets the file in one
// piece once it is encoded) in `options.format` (not kUnknown) all or
// nothing, through an AtomicOutput. A failure says the system's reason or
// what the format cannot hold.
Error WriteImageFile(const std::string& path, const FloatImage& image, const WriteOptions& options);

// The encoders on a stream open for writing; the caller closes it. A failed
// write leaves its reason in errno and none in the error.
// Uncompressed 24-bit bottom-up BMP with the 54-byte header.
Error WriteBmp(std::FILE* file, const FloatImage& image);
// PNG, JPEG, TIFF or WebP through libvips at `depth` (one the format holds).
Error WriteWithVips(std::FILE* file, const FloatImage& image, const WriteOptions& options, SampleDepth depth);

}  // namespace kestrune
