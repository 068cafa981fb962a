// kestrune-cli convert IN OUT: reads an image and writes it in the format of
// OUT's extension (or --format), with its metadata.
#include "cli/file_command.h"

namespace {

class ConvertCommand : public FileCommand {
 protected:
  void AddSettings(CLI::App&) override {}

  int Process(const std::string& in, const std::string& out, FileSizes& sizes) const override {
    kestrune::Image image;
    if (const int status = LoadInputImage(in, image); status != kExitOk) return status;
    sizes = {image.Width(), image.Height(), image.Width(), image.Height()};
    return SaveOutputImage(out, image, output_);
  }
};

const CommandRegistration kConvertRegistration{{"convert", "Read an image and write it in another format or depth", 20,
                                                [] { return std::make_unique<ConvertCommand>(); }}};

}  // namespace
