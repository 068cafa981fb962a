// Portable FloatMap files: the exact float samples of an image, unclamped.
// Written as colour "PF", little-endian (negative scale), rows bottom to
// top; read in both byte orders, colour "PF" and greyscale "Pf" (the grey
// plane goes into all three colour planes). Reading goes through
// ReadImageFile (image/image_readers.h).
#pragma once

#include <cstdio>
#include <string>

#include "image/float_image.h"

namespace kestrune {

// Writes the red, green and blue planes to a stream open for writing.
// Returns 0, 1 when a write fails, 2 when the image is empty (nothing
// written). Files are written through WriteImageFile.
int WritePfm(std::FILE* file, const FloatImage& image);

}  // namespace kestrune
