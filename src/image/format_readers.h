// The reader of each format behind ReadImage and ReadImageHeader, and the
// status texts they share. Internal to the image layer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/image_readers.h"

namespace kestrune {

// The program's own readers, on a stream at the start of a file of
// `fileSize` bytes. Each fills `header` and checks it, then with `image` null
// stops (a probe) or decodes into *image.
ReadStatus ReadBmp(std::FILE* file, uint64_t fileSize, ImageInfo& header, FloatImage* image, DamagePolicy policy);
ReadStatus ReadPfm(std::FILE* file, uint64_t fileSize, ImageInfo& header, FloatImage* image, DamagePolicy policy);

// A whole file for libvips: an open descriptor (read from offset 0) or
// bytes in memory, with its first bytes at hand for the checks made before
// decoding.
struct VipsInput {
  int descriptor = -1;            // else `data` holds the file
  const uint8_t* data = nullptr;  // the file, when in memory
  uint64_t size = 0;              // the file's length
  const uint8_t* head = nullptr;  // its first `headSize` bytes
  std::size_t headSize = 0;
  FileFormat signature = FileFormat::kUnknown;  // what FormatOfSignature says of them
};

// Every other format, through libvips: PNG, JPEG, TIFF, WebP, HEIF and AVIF,
// GIF (the first frame), PNM and whatever else its trusted loaders take.
ReadStatus ReadWithVips(const VipsInput& input, ImageInfo& header, FloatImage* image, DamagePolicy policy);

// kUnreadable: no format starts like the file of `size` bytes (0: not known).
ReadStatus NotAnImage(uint64_t size);

// kUnreadable with `message`.
ReadStatus Refusal(FileFormat format, std::string message);

// A damaged file: no error when something could be read and the policy
// keeps it, else kUnreadable; `damaged` set either way.
ReadStatus Damage(FileFormat format, std::string message, bool readable, DamagePolicy policy);

// Empty when width x height is within the image limits, else why not.
std::string SizeLimitProblem(FileFormat format, uint64_t width, uint64_t height);

// Why a sample that is not a finite number is refused: one NaN would spread
// to every output sample. `row` counts from the top of the stored picture;
// `channel` is "red", "green", "blue", "grey" or "alpha".
std::string NonFiniteMessage(const std::string& name, uint64_t row, uint64_t column, const char* channel, double value);

// kOutOfMemory with the figures when decoding a width x height picture, which
// takes about `bytes` of memory, needs more than is available; else no error.
ReadStatus MemoryCheck(FileFormat format, uint64_t width, uint64_t height, uint64_t bytes);

// The text for a BMP or PFM file whose fixed-size rows stop early: `rows` of
// `height` rows are complete; `bottomUp` rows are stored bottom row first.
std::string TruncatedRowsMessage(FileFormat format, uint64_t rows, uint64_t height, bool bottomUp, uint64_t needed,
                                 uint64_t offset, uint64_t held);

}  // namespace kestrune
