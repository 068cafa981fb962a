// kestrune-cli info FILE: prints an image's size, BMP bit depth and alpha.
#include <iostream>

#include "cli/cli_image_io.h"
#include "cli/command.h"

namespace {

class InfoCommand : public Command {
 public:
  void Setup(CLI::App& sub) override { sub.add_option("FILE", path_, "Image file (BMP, PNG, JPEG or PFM)")->required(); }

  int Run() override {
    FloatImage image;
    if (const int status = LoadInputImage(path_, image); status != kExitOk) return status;
    std::cout << "width=" << image.width << " height=" << image.height << " bitdepth=" << image.sourceBitDepth
              << " alpha=" << (image.HasAlpha() ? 1 : 0) << '\n';
    return kExitOk;
  }

 private:
  std::string path_;
};

const CommandRegistration registration{
    {"info", "Print width, height, BMP bit depth (0 for other files) and alpha presence", 10,
     [] { return std::make_unique<InfoCommand>(); }}};

}  // namespace
