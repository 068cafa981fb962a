// kestrune-cli info FILE: prints an image's size, BMP bit depth and alpha
// from its header, without reading its pixels.
#include <iostream>

#include "cli/cli_image_io.h"
#include "cli/command.h"

namespace {

class InfoCommand : public Command {
 public:
  void Setup(CLI::App& sub) override { sub.add_option("FILE", path_, "Image file (BMP, PNG, JPEG or PFM)")->required(); }

  int Run() override {
    ImageHeader header;
    if (const int status = ProbeInputImage(path_, header); status != kExitOk) return status;
    const uint32_t bmpDepth = header.format == ImageFormat::kBmp ? header.bitsPerPixel : 0;
    std::cout << "width=" << header.width << " height=" << header.height << " bitdepth=" << bmpDepth
              << " alpha=" << (header.alpha ? 1 : 0) << '\n';
    return kExitOk;
  }

 private:
  std::string path_;
};

const CommandRegistration registration{
    {"info", "Print width, height, BMP bit depth (0 for other files) and alpha presence", 10,
     [] { return std::make_unique<InfoCommand>(); }}};

}  // namespace
