// The reader of each format behind ReadImage and ReadImageHeader, and the
// status texts they share. Internal to the image layer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/image_readers.h"

namespace kestrune {

// One reader per format, on a stream at the start of a file of `fileSize`
// bytes. Each fills `header` and checks it, then with `image` null stops (a
// probe) or decodes into *image.
ReadStatus ReadBmp(std::FILE* file, uint64_t fileSize, ImageHeader& header, FloatImage* image,
                   DamagePolicy policy);
ReadStatus ReadPng(std::FILE* file, uint64_t fileSize, ImageHeader& header, FloatImage* image,
                   DamagePolicy policy);
ReadStatus ReadJpeg(std::FILE* file, uint64_t fileSize, ImageHeader& header, FloatImage* image,
                    DamagePolicy policy);
ReadStatus ReadPfm(std::FILE* file, uint64_t fileSize, ImageHeader& header, FloatImage* image,
                   DamagePolicy policy);

// Code 2 with `message`.
ReadStatus Refusal(FileFormat format, std::string message);

// A damaged file: code 0 when something could be read and the policy keeps
// it, else 2; `damaged` set either way.
ReadStatus Damage(FileFormat format, std::string message, bool readable, DamagePolicy policy);

// Empty when width x height is within the image limits, else why not.
std::string SizeLimitProblem(FileFormat format, uint64_t width, uint64_t height);

// The text for a BMP or PFM file whose fixed-size rows stop early: `rows` of
// `height` rows are complete; `bottomUp` rows are stored bottom row first.
std::string TruncatedRowsMessage(FileFormat format, uint64_t rows, uint64_t height, bool bottomUp, uint64_t needed,
                                 uint64_t offset, uint64_t held);

}  // namespace kestrune
