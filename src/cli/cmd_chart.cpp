// kestrune-cli chart OUT: writes the library's photograph-like test chart,
// the sample image of the run script and the tests.
#include <cstdio>

#include <kestrune/image.h>

#include "cli/cli_image_io.h"
#include "cli/command.h"
#include "cli/options.h"

namespace {

class ChartCommand : public Command {
 public:
  void Setup(CLI::App& sub) override {
    sub.add_option("OUT", out_, kOutputHelp)->required();
    output_.Add(sub);
    sub.add_option("--width", width_, "Width in pixels (1..100000)")
        ->check(DecimalDigits)
        ->check(CLI::Range(1u, kestrune::kMaxImageSide))
        ->capture_default_str();
    sub.add_option("--height", height_, "Height in pixels (1..100000)")
        ->check(DecimalDigits)
        ->check(CLI::Range(1u, kestrune::kMaxImageSide))
        ->capture_default_str();
    sub.add_option("--seed", seed_, "Seed of the chart's noise")->check(DecimalDigits)->capture_default_str();
  }

  int Run() override {
    if (!kestrune::ImageSizeAllowed(width_, height_)) {
      std::fprintf(stderr, "kestrune-cli: chart: %u x %u exceeds the image size limit\n", width_, height_);
      return kExitUsage;
    }
    if (const int status = CheckOutputImage(out_, output_); status != kExitOk) return status;
    return SaveOutputImage(out_, kestrune::MakeTestChart(width_, height_, seed_), output_);
  }

 private:
  OutputOptions output_;
  std::string out_;
  uint32_t width_ = 640, height_ = 480, seed_ = 1;
};

const CommandRegistration kChartRegistration{
    {"chart", "Write a generated photograph-like test chart", 30, [] { return std::make_unique<ChartCommand>(); }}};

}  // namespace
