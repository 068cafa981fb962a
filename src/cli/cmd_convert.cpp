// kestrune-cli convert IN OUT: reads an image and writes it in the format of
// OUT's extension.
#include "cli/cli_image_io.h"
#include "cli/command.h"

namespace {

class ConvertCommand : public Command {
 public:
  void Setup(CLI::App& sub) override {
    sub.add_option("IN", in_, "Input image (BMP, PNG, JPEG or PFM)")->required();
    sub.add_option("OUT", out_, "Output image (.bmp, .png or .pfm)")->required();
  }

  int Run() override {
    if (const int status = CheckOutputImage(out_); status != kExitOk) return status;
    kestrune::Image image;
    if (const int status = LoadInputImage(in_, image); status != kExitOk) return status;
    return SaveOutputImage(out_, image);
  }

 private:
  std::string in_, out_;
};

const CommandRegistration registration{
    {"convert", "Read an image and write it as .bmp, .png or .pfm", 20,
     [] { return std::make_unique<ConvertCommand>(); }}};

}  // namespace
