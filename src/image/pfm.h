// Portable FloatMap files: the exact float samples of an image, unclamped.
// Written as colour "PF", little-endian (negative scale), rows bottom to
// top; read in both byte orders, colour "PF" and greyscale "Pf" (the grey
// plane goes into all three colour planes). Reading goes through
// ReadImageFile (image/image_readers.h).
#pragma once

#include <string>

#include "image/float_image.h"

namespace kestrune {

// Writes the red, green and blue planes. Returns 0, 1 when the file cannot
// be written, 2 when the image is empty (no file is created).
int WritePfm(const std::string& path, const FloatImage& image);

}  // namespace kestrune
