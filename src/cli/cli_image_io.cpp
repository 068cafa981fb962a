// Reading and writing the image files of kestrune-cli's commands, with the
// tool's messages on standard error.
#include "cli/cli_image_io.h"

#include <algorithm>
#include <cctype>
#include <iostream>

#include "cli/command.h"
#include "image/image_writers.h"
#include "image/pfm.h"

using namespace kestrune;

namespace {

std::string LowerExtension(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

// The tool refuses damaged files, which a header probe may already show.
int Report(const std::string& path, const ReadStatus& status) {
  if (status.ok() && !status.damaged) {
    for (const std::string& warning : status.warnings)
      std::cerr << "kestrune-cli: " << path << ": warning: " << warning << '\n';
    return kExitOk;
  }
  std::cerr << "kestrune-cli: cannot read '" << path << "': " << status.message << '\n';
  return kExitUnreadable;
}

}  // namespace

int LoadInputImage(const std::string& path, FloatImage& image) { return Report(path, ReadImageFile(path, image)); }

int ProbeInputImage(const std::string& path, ImageHeader& header) {
  return Report(path, ReadImageHeader(path, header));
}

int SaveOutputImage(const std::string& path, const FloatImage& image) {
  const std::string ext = LowerExtension(path);
  int result;
  if (ext == "bmp")
    result = WriteBmp(path, image);
  else if (ext == "png")
    result = WritePng(path, image);
  else if (ext == "pfm")
    result = WritePfm(path, image);
  else {
    std::cerr << "kestrune-cli: cannot write '" << path << "': unknown output format (use .bmp, .png or .pfm)\n";
    return kExitUnwritable;
  }
  if (result == 0) return kExitOk;
  std::cerr << "kestrune-cli: cannot write '" << path
            << (result == 2 ? "': the image is empty\n" : "': the file cannot be created or written\n");
  return kExitUnwritable;
}
