// Reading and writing the image files of kestrune-cli's commands.
#include "cli/cli_image_io.h"

#include <iostream>

#include <kestrune/io.h>

#include "cli/command.h"

int LoadInputImage(const std::string& path, kestrune::Image& image) {
  kestrune::Result<kestrune::Image> read = kestrune::ReadImage(path);
  if (!read.ok()) {
    std::cerr << "kestrune-cli: cannot read '" << path << "': " << read.error().message << '\n';
    return read.error().code == kestrune::ErrorCode::kOutOfMemory ? kExitOutOfMemory : kExitUnreadable;
  }
  for (const std::string& warning : read.warnings())
    std::cerr << "kestrune-cli: " << path << ": warning: " << warning << '\n';
  image = std::move(read).value();
  return kExitOk;
}

int CheckOutputImage(const std::string& path) {
  if (const kestrune::Error error = kestrune::CheckOutputPath(path)) {
    std::cerr << "kestrune-cli: cannot write '" << path << "': " << error.message << '\n';
    return kExitUnwritable;
  }
  return kExitOk;
}

int SaveOutputImage(const std::string& path, const kestrune::Image& image) {
  if (const kestrune::Error error = kestrune::WriteImage(image, path)) {
    std::cerr << "kestrune-cli: cannot write '" << path << "': " << error.message << '\n';
    return kExitUnwritable;
  }
  return kExitOk;
}
