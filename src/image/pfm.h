// Portable FloatMap files: the exact float samples of an image, unclamped.
// Written as colour "PF", little-endian (negative scale), rows bottom to
// top; read in both byte orders, colour "PF" and greyscale "Pf" (the grey
// plane goes into all three colour planes).
#pragma once

#include <cstdio>
#include <string>

#include "image/float_image.h"

namespace kestrune {

// Returns 0, 1 when the file cannot be opened, 2 when it is not a usable PFM
// file (then `reason` says why).
int ReadPfm(const std::string& path, FloatImage& image, std::string& reason);

// Writes the red, green and blue planes to a stream open for writing.
// Returns 0, 1 when a write fails, 2 when the image is empty (nothing
// written). Files are written through WriteImageFile.
int WritePfm(std::FILE* file, const FloatImage& image);

}  // namespace kestrune
