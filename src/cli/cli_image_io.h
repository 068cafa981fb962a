// Reading and writing image files for the commands of kestrune-cli, with the
// tool's messages on standard error.
#pragma once

#include <string>

#include <kestrune/image.h>

// Reads `path` (BMP, PNG, JPEG or PFM, told by its first bytes) into `image`;
// a damaged file is refused. Returns kExitOk (after printing the decoding
// library's warnings, if any), else kExitUnreadable (or kExitOutOfMemory)
// after printing a message naming the file and the reason.
int LoadInputImage(const std::string& path, kestrune::Image& image);

// Checks before long work that `path` can be written (a format the tool
// writes, a folder that exists and can be written). Returns kExitOk, else
// kExitUnwritable after printing why.
int CheckOutputImage(const std::string& path);

// Writes `image` by the extension of `path`, all or nothing. Returns
// kExitOk, else kExitUnwritable after printing a message naming the path.
int SaveOutputImage(const std::string& path, const kestrune::Image& image);
