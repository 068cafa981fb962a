// Reading and writing image files for the commands of kestrune-cli.
#pragma once

#include <string>

#include "image/float_image.h"

using namespace kestrune;

// Reads `path` into `image`: a .pfm file through the tool's own PFM reader,
// anything else through ReadImageFile. Returns kExitOk, or kExitUnreadable
// after printing a message naming the file and the reason on stderr.
int LoadInputImage(const std::string& path, FloatImage& image);

// Writes `image` by the extension of `path` (.bmp, .png or .pfm). Returns
// kExitOk, or kExitUnwritable after printing a message on stderr (also for an
// unknown extension).
int SaveOutputImage(const std::string& path, const FloatImage& image);
