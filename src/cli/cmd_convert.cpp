// kestrune-cli convert IN OUT: reads an image and writes it in the format of
// OUT's extension (or --format), with its metadata.
#include "cli/cli_image_io.h"
#include "cli/command.h"

namespace {

class ConvertCommand : public Command {
 public:
  void Setup(CLI::App& sub) override {
    sub.add_option("IN", in_, kInputHelp)->required();
    sub.add_option("OUT", out_, kOutputHelp)->required();
    output_.Add(sub);
  }

  int Run() override {
    if (const int status = CheckOutputImage(out_, output_); status != kExitOk) return status;
    kestrune::Image image;
    if (const int status = LoadInputImage(in_, image); status != kExitOk) return status;
    return SaveOutputImage(out_, image, output_);
  }

 private:
  OutputOptions output_;
  std::string in_, out_;
};

const CommandRegistration registration{
    {"convert", "Read an image and write it in another format or depth", 20,
     [] { return std::make_unique<ConvertCommand>(); }}};

}  // namespace
