// kestrune-cli resize IN OUT: resizes the red, green and blue planes with the
// linear resampler (filter, sub-pixel offset, scale deviation, smoothness);
// the alpha plane is dropped.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_image_io.h"
#include "cli/command.h"
#include "resampling/linear_resampler.h"

using namespace kestrune;

namespace {

// Names in the order of the filter numbers.
const std::vector<std::string> kFilterNames{"box",      "bilinear", "bspline", "catmull-rom",
                                            "lanczos2", "lanczos3", "sinc"};

// Offsets and deviations beyond this many pixels make no sense for any image.
constexpr double kMaxShift = 100000.0;

class ResizeCommand : public Command {
 public:
  void Setup(CLI::App& sub) override {
    sub.add_option("IN", in_, "Input image (BMP, PNG, JPEG or PFM)")->required();
    sub.add_option("OUT", out_, "Output image (.bmp, .png or .pfm)")->required();
    sub.add_option("--width", width_, "Output width in pixels (1..100000)")
        ->required()
        ->check(CLI::Range(1u, kMaxImageSide));
    sub.add_option("--height", height_, "Output height in pixels (1..100000)")
        ->required()
        ->check(CLI::Range(1u, kMaxImageSide));
    sub.add_option("--filter", filterName_, "Resizing filter (default catmull-rom)")
        ->check(CLI::IsMember(kFilterNames, CLI::ignore_case));
    sub.add_option("--offset-x", offsetX_, "Shift of the output grid in output pixels (default 0)");
    sub.add_option("--offset-y", offsetY_, "Shift of the output grid in output pixels (default 0)");
    sub.add_option("--deviation-x", deviationX_, "Change of the mapped input width in input pixels (default 0)");
    sub.add_option("--deviation-y", deviationY_, "Change of the mapped input height in input pixels (default 0)");
    sub.add_option("--smoothness", smoothness_, "Kernel stretch factor, 0.5..2 (default 1)");
  }

  int Run() override {
    if (!ValidShift("--offset-x", offsetX_) || !ValidShift("--offset-y", offsetY_) ||
        !ValidShift("--deviation-x", deviationX_) || !ValidShift("--deviation-y", deviationY_))
      return kExitUsage;
    if (!(smoothness_ >= 0.5f && smoothness_ <= 2.0f)) {
      std::cerr << "resize: --smoothness must be a number from 0.5 to 2, not " << smoothness_ << "\n";
      return kExitUsage;
    }
    if (!ImageSizeAllowed(width_, height_)) {
      std::cerr << "resize: an output of " << width_ << " x " << height_ << " pixels is too large\n";
      return kExitUsage;
    }

    FloatImage source;
    if (const int status = LoadInputImage(in_, source); status != kExitOk) return status;
    // The mapped input extent must stay positive.
    if (!(double(source.width) + deviationX_ > 0.0) || !(double(source.height) + deviationY_ > 0.0)) {
      std::cerr << "resize: the deviations must be greater than minus the input size (" << source.width << " x "
                << source.height << ")\n";
      return kExitUsage;
    }

    std::string name = filterName_;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char ch) { return char(std::tolower(ch)); });
    const int filter = int(std::find(kFilterNames.begin(), kFilterNames.end(), name) - kFilterNames.begin());
    FloatImage result(width_, height_);
    for (int c = 0; c < 3; ++c)
      ResizePlane(source.samples(c), source.width, source.height, result.samples(c), width_, height_, filter,
                  offsetX_, offsetY_, deviationX_, deviationY_, smoothness_);
    return SaveOutputImage(out_, result);
  }

 private:
  static bool ValidShift(const char* name, float value) {
    if (std::isfinite(value) && std::abs(value) <= kMaxShift) return true;
    std::cerr << "resize: " << name << " must be a number from -100000 to 100000, not " << value << "\n";
    return false;
  }

  std::string in_, out_;
  uint32_t width_ = 0, height_ = 0;
  std::string filterName_ = "catmull-rom";
  float offsetX_ = 0, offsetY_ = 0, deviationX_ = 0, deviationY_ = 0;
  float smoothness_ = 1.0f;
};

const CommandRegistration registration{
    {"resize", "Resize an image with a linear filter, sub-pixel offset and scale deviation", 40,
     [] { return std::make_unique<ResizeCommand>(); }}};

}  // namespace
