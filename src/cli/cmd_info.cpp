// kestrune-cli info FILE: prints an image's size, BMP bit depth and alpha
// from its header, without reading its pixels.
#include <iostream>

#include <kestrune/io.h>

#include "cli/command.h"

namespace {

class InfoCommand : public Command {
 public:
  void Setup(CLI::App& sub) override { sub.add_option("FILE", path_, "Image file (BMP, PNG, JPEG or PFM)")->required(); }

  int Run() override {
    const kestrune::Result<kestrune::ImageInfo> info = kestrune::ReadImageInfo(path_);
    if (!info.ok()) {
      std::cerr << "kestrune-cli: cannot read '" << path_ << "': " << info.error().message << '\n';
      return info.error().code == kestrune::ErrorCode::kOutOfMemory ? kExitOutOfMemory : kExitUnreadable;
    }
    const uint32_t bmpDepth = info->format == kestrune::FileFormat::kBmp ? info->bitsPerPixel : 0;
    std::cout << "width=" << info->width << " height=" << info->height << " bitdepth=" << bmpDepth
              << " alpha=" << (info->hasAlpha ? 1 : 0) << '\n';
    return kExitOk;
  }

 private:
  std::string path_;
};

const CommandRegistration registration{
    {"info", "Print width, height, BMP bit depth (0 for other files) and alpha presence", 10,
     [] { return std::make_unique<InfoCommand>(); }}};

}  // namespace
