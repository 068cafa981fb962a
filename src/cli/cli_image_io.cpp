// Reading and writing the image files of kestrune-cli's commands, with the
// tool's messages on standard error.
#include "cli/cli_image_io.h"

#include <algorithm>
#include <cctype>
#include <iostream>

#include "cli/command.h"
#include "image/pfm.h"
#include "image/image_readers.h"
#include "image/image_writers.h"
#include "image/jpeg_messages.h"

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

}  // namespace

int LoadInputImage(const std::string& path, FloatImage& image) {
  std::string reason;
  if (LowerExtension(path) == "pfm") {
    if (ReadPfm(path, image, reason) == 0) return kExitOk;
  } else {
    // The JPEG library's messages (a warning about a truncated file, a
    // fatal error) go to standard error, naming the file.
    SetJpegMessageHandler([path](const std::string& message) {
      std::cerr << "kestrune-cli: " << path << ": JPEG library: " << message << '\n';
    });
    const int result = ReadImageFile(path, image);
    SetJpegMessageHandler({});
    if (result == kReadOk) return kExitOk;
    reason = result == kReadCannotOpen ? "the file cannot be opened"
                                       : "not a readable BMP, PNG or JPEG image, or an unsupported kind";
  }
  std::cerr << "kestrune-cli: cannot read '" << path << "': " << reason << '\n';
  return kExitUnreadable;
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
