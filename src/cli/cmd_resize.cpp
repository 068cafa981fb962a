// kestrune-cli resize IN OUT: resizes the image with the linear resampler
// (filter, sub-pixel offset, scale deviation, smoothness); an alpha plane is
// kept and resized too.
#include <iostream>
#include <string>
#include <vector>

#include <kestrune/resize.h>

#include "cli/file_command.h"
#include "cli/options.h"

namespace {

class ResizeCommand : public FileCommand {
 protected:
  void AddSettings(CLI::App& sub) override {
    sub.add_option("--width", options_.width, "Output width in pixels (1..100000)")
        ->required()
        ->check(DecimalDigits)
        ->check(CLI::Range(1u, kestrune::kMaxImageSide));
    sub.add_option("--height", options_.height, "Output height in pixels (1..100000)")
        ->required()
        ->check(DecimalDigits)
        ->check(CLI::Range(1u, kestrune::kMaxImageSide));
    sub.add_option("--filter", filterName_, "Resizing filter (default " + filterName_ + ")")
        ->check(CLI::IsMember(kFilterNames, CLI::ignore_case));
    const CLI::Validator shift = NumberBetween(-100000.0f, 100000.0f);
    sub.add_option("--offset-x", options_.offsetX,
                   "Shift of the output grid in output pixels (default " + NumberText(options_.offsetX) + ")")
        ->check(shift);
    sub.add_option("--offset-y", options_.offsetY,
                   "Shift of the output grid in output pixels (default " + NumberText(options_.offsetY) + ")")
        ->check(shift);
    sub.add_option("--deviation-x", options_.deviationX,
                   "Change of the mapped input width in input pixels (default " + NumberText(options_.deviationX) + ")")
        ->check(shift);
    sub.add_option("--deviation-y", options_.deviationY,
                   "Change of the mapped input height in input pixels (default " + NumberText(options_.deviationY) +
                       ")")
        ->check(shift);
    sub.add_option("--smoothness", options_.smoothness,
                   "Kernel stretch factor, 0.5..2 (default " + NumberText(options_.smoothness) + ")")
        ->check(NumberBetween(0.5f, 2.0f));
  }

  int Prepare() override {
    for (std::size_t i = 0; i < kFilterNames.size(); ++i)
      if (CLI::detail::to_lower(filterName_) == kFilterNames[i]) options_.filter = static_cast<kestrune::Filter>(i);
    return kExitOk;
  }

  int Process(const std::string& in, const std::string& out, FileSizes& sizes) const override {
    kestrune::Image source;
    if (const int status = LoadInputImage(in, source); status != kExitOk) return status;
    const kestrune::Result<kestrune::Image> result = kestrune::Resize(source, options_);
    if (!result.ok()) {
      Diag() << "kestrune-cli resize: " << result.error().message << "\n";
      return result.error().code == kestrune::ErrorCode::kOutOfMemory ? kExitOutOfMemory : kExitUsage;
    }
    sizes = {source.Width(), source.Height(), result->Width(), result->Height()};
    return SaveOutputImage(out, result.value(), output_);
  }

 private:
  kestrune::ResizeOptions options_;
  std::string filterName_ = kFilterNames[static_cast<std::size_t>(options_.filter)];  // the library's default
};

const CommandRegistration kResizeRegistration{
    {"resize", "Resize an image with a linear filter, sub-pixel offset and scale deviation", 40,
     [] { return std::make_unique<ResizeCommand>(); }}};

}  // namespace
