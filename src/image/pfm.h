// Portable FloatMap files: float samples whose 1.0 is white, unclamped
// (read x 255 onto the program's scale, written / 255). Written
// little-endian (negative scale), rows bottom to top, as colour "PF" or, for
// a greyscale image, "Pf"; read in both byte orders (the grey plane goes
// into all three colour planes). Reading goes through ReadImageFile
// (image/image_readers.h).
#pragma once

#include <cstdio>
#include <string>

#include "image/float_image.h"
#include "kestrune/result.h"

namespace kestrune {

// Writes the red, green and blue planes (a greyscale image: the red one) to a stream open for writing.
// Errors as WriteBmp's (image_writers.h). Files are written through
// WriteImageFile.
Error WritePfm(std::FILE* file, const FloatImage& image);

}  // namespace kestrune
