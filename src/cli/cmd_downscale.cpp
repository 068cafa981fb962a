// kestrune-cli downscale IN OUT: "Downscale with hinting" from the command
// line. The settings are checked in the order and with the messages of the
// downscaling settings dialog; the search shows its progress on a terminal
// and the chosen hint is printed on standard error.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "cli/cli_image_io.h"
#include "cli/command.h"
#include "cli/terminal_progress.h"
#include "downscale/hint_search.h"

using namespace kestrune;

namespace {

// The "Resizing filter" list in FilterType order.
const std::vector<std::string> kFilterNames = {"box",      "bilinear", "bspline", "catmull-rom",
                                               "lanczos2", "lanczos3", "sinc"};

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A whole decimal integer with an optional sign; false for anything else.
// Values beyond the range of long long are clamped (they fail any range).
bool ParseInteger(const std::string& text, long long& value) {
  const std::string t = Trimmed(text);
  if (t.empty()) return false;
  std::size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
  if (i == t.size()) return false;
  for (std::size_t k = i; k < t.size(); ++k)
    if (t[k] < '0' || t[k] > '9') return false;
  value = std::strtoll(t.c_str(), nullptr, 10);
  return true;
}

std::string Between(const char* kind, const std::string& lo, const std::string& hi) {
  return std::string("Enter ") + kind + " between " + lo + " and " + hi + ".";
}

std::string Sig6(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

// An unsigned field (the sizes): "Enter a positive integer." when the text is
// no non-negative integer, the range message when it lies outside lo..hi.
bool CheckUnsigned(const std::string& text, uint32_t lo, uint32_t hi, uint32_t& value, std::string& message) {
  long long v;
  if (!ParseInteger(text, v) || Trimmed(text)[0] == '-') {
    message = "Enter a positive integer.";
    return false;
  }
  if (v < lo || v > hi) {
    message = Between("an integer", std::to_string(lo), std::to_string(hi));
    return false;
  }
  value = static_cast<uint32_t>(v);
  return true;
}

bool CheckInteger(const std::string& text, int32_t lo, int32_t hi, int32_t& value, std::string& message) {
  long long v;
  if (!ParseInteger(text, v)) {
    message = "Enter an integer.";
    return false;
  }
  if (v < lo || v > hi) {
    message = Between("an integer", std::to_string(lo), std::to_string(hi));
    return false;
  }
  value = static_cast<int32_t>(v);
  return true;
}

// A float field: read as a double, kept as a float, checked as a float.
bool CheckNumber(const std::string& text, float lo, float hi, float& value, std::string& message) {
  const std::string t = Trimmed(text);
  char* end = nullptr;
  const double v = t.empty() ? 0.0 : std::strtod(t.c_str(), &end);
  if (t.empty() || end != t.c_str() + t.size() || !std::isfinite(v)) {
    message = "Enter a number.";
    return false;
  }
  const float f = static_cast<float>(v);
  if (!(f >= lo && f <= hi)) {
    message = Between("a number", Sig6(lo), Sig6(hi));
    return false;
  }
  value = f;
  return true;
}

class DownscaleCommand : public Command {
 public:
  void Setup(CLI::App& sub) override {
    sub.add_option("IN", in_, "Input image (BMP, PNG, JPEG or PFM)")->required();
    sub.add_option("OUT", out_, "Output image (.bmp, .png or .pfm)")->required();
    widthOption_ = sub.add_option("--width", width_, "New width in pixels, 1..100000 (default: the input's width)");
    heightOption_ =
        sub.add_option("--height", height_, "New height in pixels, 1..100000 (default: the input's height)");
    sub.add_option("--filter", filter_, "Resizing filter (default catmull-rom)")
        ->check(CLI::IsMember(kFilterNames));
    sub.add_option("--smoothness", smoothness_, "Filtering smoothness, 0.5..2.0 (default 0.8)");
    sub.add_option("--trials", trials_, "Number of trials, 4..256 (default 12)");
    sub.add_option("--deviation", deviation_, "Allowed scale deviation in source pixels, 0.0..64.0 (default 8.0)");
    sub.add_flag("--quiet", quiet_, "Show neither the progress nor the chosen hint");
  }

  int Run() override {
    DownscaleParams params;
    for (std::size_t i = 0; i < kFilterNames.size(); ++i)
      if (kFilterNames[i] == filter_) params.filterType = static_cast<int32_t>(i);

    // The fields in the dialog's order; the first bad one is reported.
    std::string message;
    const char* field = nullptr;
    const bool widthGiven = widthOption_->count() > 0;
    const bool heightGiven = heightOption_->count() > 0;
    if (widthGiven && !CheckUnsigned(width_, 1, kMaxImageSide, params.newWidth, message))
      field = "--width";
    else if (heightGiven && !CheckUnsigned(height_, 1, kMaxImageSide, params.newHeight, message))
      field = "--height";
    else if (!CheckNumber(smoothness_, 0.5f, 2.0f, params.smoothness, message))
      field = "--smoothness";
    else if (!CheckInteger(trials_, 4, 256, params.trials, message))
      field = "--trials";
    else if (!CheckNumber(deviation_, 0.0f, 64.0f, params.scaleDeviation, message))
      field = "--deviation";
    if (field) {
      std::cerr << "kestrune-cli downscale: " << field << ": " << message << '\n';
      return kExitUsage;
    }

    FloatImage image;
    if (const int status = LoadInputImage(in_, image); status != kExitOk) return status;
    if (!widthGiven) params.newWidth = image.width;
    if (!heightGiven) params.newHeight = image.height;

    Hint hint;
    try {
      TerminalProgress progress(quiet_);
      if (!HintSearch(image, params, progress, &hint)) {
        std::cerr << "kestrune-cli downscale: the search did not complete\n";
        return kExitUnwritable;
      }
    } catch (const std::bad_alloc&) {
      std::cerr << "kestrune-cli downscale: not enough memory for a " << params.newWidth << " x "
                << params.newHeight << " result\n";
      return kExitUnwritable;
    }
    if (!quiet_) {
      char line[256];
      std::snprintf(line, sizeof line, "hint: offset-x=%.6g offset-y=%.6g deviation-x=%.6g deviation-y=%.6g score=%.6g\n",
                    static_cast<double>(hint.offsetX), static_cast<double>(hint.offsetY),
                    static_cast<double>(hint.deviationX), static_cast<double>(hint.deviationY),
                    static_cast<double>(hint.score));
      std::cerr << line;
    }
    return SaveOutputImage(out_, image);
  }

 private:
  std::string in_, out_;
  std::string width_, height_;  // when not given: the input's size
  CLI::Option* widthOption_ = nullptr;
  CLI::Option* heightOption_ = nullptr;
  std::string filter_ = "catmull-rom";
  std::string smoothness_ = "0.8";
  std::string trials_ = "12";
  std::string deviation_ = "8.0";
  bool quiet_ = false;
};

const CommandRegistration registration{
    {"downscale", "Reduce an image after searching for the crispest scale and sub-pixel shift", 50,
     [] { return std::make_unique<DownscaleCommand>(); }}};

}  // namespace
