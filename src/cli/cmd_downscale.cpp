// kestrune-cli downscale IN OUT: "Downscale with hinting" from the command
// line. The settings are checked in the order and with the messages of the
// downscaling settings dialog; the search shows its progress on a terminal
// and the chosen hint is printed on standard error.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <kestrune/downscale.h>

#include "cli/file_command.h"
#include "cli/options.h"
#include "cli/terminal_progress.h"

namespace {

class DownscaleCommand : public FileCommand {
 protected:
  void AddSettings(CLI::App& sub) override {
    widthOption_ = sub.add_option("--width", width_, "New width in pixels, 1..100000 (default: the input's width)");
    heightOption_ =
        sub.add_option("--height", height_, "New height in pixels, 1..100000 (default: the input's height)");
    sub.add_option("--filter", filter_, "Resizing filter (default " + filter_ + ")")
        ->check(CLI::IsMember(kFilterNames));
    sub.add_option("--smoothness", smoothness_, "Filtering smoothness, 0.5..2.0 (default " + smoothness_ + ")");
    sub.add_option("--trials", trials_, "Number of trials, 4..256 (default " + trials_ + ")");
    sub.add_option("--deviation", deviation_,
                   "Allowed scale deviation in source pixels, 0.0..64.0 (default " + deviation_ + ")");
    sub.footer(std::string("Ctrl+C stops the search before its next trial; nothing is written (exit status 130).\n") +
               kExitStatusHelp);
  }

  bool StopsEarly() const override { return true; }

  int Prepare() override {
    kestrune::DownscaleOptions& params = params_;
    for (std::size_t i = 0; i < kFilterNames.size(); ++i)
      if (kFilterNames[i] == filter_) params.filter = static_cast<kestrune::Filter>(i);

    // The fields in the dialog's order; the first bad one is reported.
    std::string message;
    const char* field = nullptr;
    if (widthGiven() && !ParseUnsigned(width_, 1, kestrune::kMaxImageSide, params.width, message))
      field = "--width";
    else if (heightGiven() && !ParseUnsigned(height_, 1, kestrune::kMaxImageSide, params.height, message))
      field = "--height";
    else if (!ParseNumber(smoothness_, 0.5f, 2.0f, params.smoothness, message))
      field = "--smoothness";
    else if (!ParseInteger(trials_, 4, 256, params.trials, message))
      field = "--trials";
    else if (!ParseNumber(deviation_, 0.0f, 64.0f, params.scaleDeviation, message))
      field = "--deviation";
    if (field) {
      std::cerr << "kestrune-cli downscale: " << field << ": " << message << '\n';
      return kExitUsage;
    }
    return kExitOk;
  }

  int Process(const std::string& in, const std::string& out, FileSizes& sizes) const override {
    // One file alone shows the search and can be stopped; a batch shows its own line.
    TerminalProgress progress(quiet_ || InBatch());
    kestrune::DownscaleOptions params = params_;
    kestrune::Image image;
    if (const int status = LoadInputImage(in, image); status != kExitOk) return status;
    if (!widthGiven()) params.width = image.Width();
    if (!heightGiven()) params.height = image.Height();

    kestrune::Hint hint;
    kestrune::Result<kestrune::Image> result =
        kestrune::Downscale(image, params, InBatch() ? nullptr : &progress, &hint);
    progress.Finish();
    if (!result.ok()) {
      const kestrune::ErrorCode code = result.error().code;
      if (code == kestrune::ErrorCode::kCancelled) {
        std::cerr << "kestrune-cli downscale: stopped by Ctrl+C, nothing written\n";
        return 128 + SIGINT;
      }
      Diag() << "kestrune-cli downscale: " << result.error().message << '\n';
      return code == kestrune::ErrorCode::kOutOfMemory ? kExitOutOfMemory : kExitUsage;
    }
    if (!quiet_ && !InBatch()) {
      char line[256];
      std::snprintf(line, sizeof line,
                    "hint: offset-x=%.6g offset-y=%.6g deviation-x=%.6g deviation-y=%.6g score=%.6g\n",
                    static_cast<double>(hint.offsetX), static_cast<double>(hint.offsetY),
                    static_cast<double>(hint.deviationX), static_cast<double>(hint.deviationY),
                    static_cast<double>(hint.score));
      std::cerr << line;
    }
    sizes = {image.Width(), image.Height(), result->Width(), result->Height()};
    return SaveOutputImage(out, result.value(), output_);
  }

 private:
  bool widthGiven() const { return widthOption_->count() > 0; }
  bool heightGiven() const { return heightOption_->count() > 0; }

  kestrune::DownscaleOptions params_;
  std::string width_, height_;  // when not given: the input's size
  CLI::Option* widthOption_ = nullptr;
  CLI::Option* heightOption_ = nullptr;
  // The library's defaults, as the option texts show them.
  std::string filter_ = kFilterNames[static_cast<std::size_t>(params_.filter)];
  std::string smoothness_ = DecimalText(params_.smoothness);
  std::string trials_ = std::to_string(params_.trials);
  std::string deviation_ = DecimalText(params_.scaleDeviation);
};

const CommandRegistration kDownscaleRegistration{
    {"downscale", "Reduce an image after searching for the crispest scale and sub-pixel shift", 50,
     [] { return std::make_unique<DownscaleCommand>(); }}};

}  // namespace
