// Reading and writing image files for the commands of kestrune-cli.
#pragma once

#include <string>

#include "image/float_image.h"
#include "image/image_readers.h"

using namespace kestrune;

// Reads `path` (BMP, PNG, JPEG or PFM, told by its first bytes) into `image`;
// a damaged file is refused. Returns kExitOk (after printing the decoding
// library's warnings, if any, on stderr), or kExitUnreadable after printing
// a message naming the file and the reason on stderr.
int LoadInputImage(const std::string& path, FloatImage& image);

// The same for the header alone (no pixels are read).
int ProbeInputImage(const std::string& path, ImageHeader& header);

// Writes `image` by the extension of `path` (.bmp, .png or .pfm). Returns
// kExitOk, or kExitUnwritable after printing a message on stderr (also for an
// unknown extension).
int SaveOutputImage(const std::string& path, const FloatImage& image);
