// Reading and writing image files for the commands of kestrune-cli, with the
// tool's messages on standard error.
#pragma once

#include <string>

#include <kestrune/image.h>

// Reads `path` into `image`. Returns kExitOk, else kExitUnreadable (or
// kExitOutOfMemory) after printing a message naming the file and the reason.
// A damaged file is refused; the decoder's warnings are printed.
int LoadInputImage(const std::string& path, kestrune::Image& image);

// Checks before long work that `path` can be written (a format the tool
// writes, a folder that exists and can be written). Returns kExitOk, else
// kExitUnwritable after printing why.
int CheckOutputImage(const std::string& path);

// Writes `image` by the extension of `path`, all or nothing. Returns
// kExitOk, else kExitUnwritable after printing a message naming the path.
int SaveOutputImage(const std::string& path, const kestrune::Image& image);
