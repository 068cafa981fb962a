// The format a file is written in, and the checks of the write options made
// before any file is touched. FormatFromExtension and CanWrite, declared in
// kestrune/io.h, are defined beside these.
#pragma once

#include <string>

#include "image/float_image.h"
#include "kestrune/io.h"

namespace kestrune {

// The format `options` names, else the one `path`'s extension names.
FileFormat OutputFormat(const std::string& path, const WriteOptions& options);

// Why `options` cannot be used for `path` (a format not written, a depth it
// cannot hold, a quality out of range), else the empty error.
Error WriteOptionsProblem(const std::string& path, const WriteOptions& options);

// WriteImageFile in OutputFormat(path, options), after refusing an empty
// image and checking the options.
Error WriteImageChecked(const std::string& path, const FloatImage& image, const WriteOptions& options);

}  // namespace kestrune
