// kestrune-cli upscale: "Kestrune interpolation" of an image file, with the
// settings of the upscaling dialog as options, a progress bar on a terminal,
// and Ctrl+C to stop early (first press: keep the estimate so far; second:
// abort without writing).
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include <unistd.h>

#include "cli/cli_image_io.h"
#include "cli/command.h"
#include "cli/terminal_progress.h"
#include "resampling/linear_resampler.h"
#include "upscale/upscale_job.h"
#include "upscale/upscale_pipeline.h"

using namespace kestrune;

namespace {

// Set while a run is going on; the SIGINT handler asks it to stop.
std::atomic<bool>* gCancelFlag = nullptr;
volatile std::sig_atomic_t gInterrupts = 0;
// The result is written to this temporary file first and renamed when
// complete, so that an abort during the writing leaves no partial output.
char gPartialPath[4096] = {};
volatile std::sig_atomic_t gWriting = 0;

extern "C" void OnInterrupt(int) {
  const int before = gInterrupts;
  gInterrupts = before + 1;
  if (before > 0 || gCancelFlag == nullptr) {
    if (gWriting) ::unlink(gPartialPath);
    static const char message[] = "\nkestrune-cli: aborted, nothing written\n";
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, message, sizeof message - 1);
    ::_exit(130);
  }
  gCancelFlag->store(true);
}

// OUT with ".partial-PID" put before its extension, so that the writer still
// chooses the format by the extension.
std::string PartialPath(const std::string& out) {
  const std::filesystem::path path(out);
  std::filesystem::path partial = path;
  partial.replace_filename(path.stem().string() + ".partial-" + std::to_string(::getpid()) +
                           path.extension().string());
  return partial.string();
}

// The dialog's field checks, with its messages, prefixed by the option.
bool ParseInteger(const std::string& option, const std::string& text, long long lo, long long hi, bool unsignedField,
                  long long& value) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || (unsignedField && v < 0)) {
    std::cerr << option << ": " << (unsignedField ? "Enter a positive integer." : "Enter an integer.") << "\n";
    return false;
  }
  if (v < lo || v > hi) {
    std::cerr << option << ": Enter an integer between " << lo << " and " << hi << ".\n";
    return false;
  }
  value = v;
  return true;
}

bool ParseNumber(const std::string& option, const std::string& text, float& value) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0') {
    std::cerr << option << ": Enter a number.\n";
    return false;
  }
  value = static_cast<float>(v);
  return true;
}

class UpscaleCommand : public Command {
 public:
  void Setup(CLI::App& sub) override {
    sub.add_option("IN", in_, "Image to enlarge (BMP, PNG, JPEG or PFM)")->required();
    sub.add_option("OUT", out_, "Result (.bmp, .png or .pfm)")->required();
    sub.add_option("--method", method_, "Initial x2 enlargement")
        ->check(CLI::IsMember({"bilinear", "bicubic", "edge", "nedi"}))
        ->default_str("nedi");
    sub.add_option("--init", init_, "Initial image of exactly twice the source size (\"Load from file\")");
    sub.add_option("--iterations", iterations_, "Number of enhancement iterations (0..1000)")->default_str("16");
    sub.add_option("--fractal", fractal_, "Number of fractal substitutions (0..100)")->default_str("2");
    sub.add_option("--edge-iterations", edgeIterations_,
                   "Edge-dir interp. iterations for the residual (-1: bilinear)")
        ->default_str("2");
    sub.add_option("--strength", strength_, "Strength (initial step size)")->default_str("3.0");
    sub.add_option("--side-lobe", sideLobe_, "Side lobe of the downsampling filter")->default_str("0.0");
    sub.add_option("--regularization", regularization_, "Regularization amount")->default_str("0.03");
    sub.add_option("--variable-regularization", variableRegularization_,
                   "Variable regularization (0: uniform, else edge-adaptive)")
        ->default_str("1.0");
    sub.add_option("--width", width_, "Width of the result (1..100000; default twice the source)");
    sub.add_option("--height", height_, "Height of the result (1..100000; default twice the source)");
    sub.add_flag("--quiet", quiet_, "No progress bar");
  }

  int Run() override {
    SRParams params;
    long long v = 0;
    if (!ParseInteger("--iterations", iterations_, 0, 1000, false, v)) return kExitUsage;
    params.iterations = static_cast<uint32_t>(v);
    if (!ParseInteger("--fractal", fractal_, 0, 100, false, v)) return kExitUsage;
    params.fractalSubsts = static_cast<uint32_t>(v);
    if (!ParseInteger("--edge-iterations", edgeIterations_, INT32_MIN, INT32_MAX, false, v)) return kExitUsage;
    params.edgeDirIterations = static_cast<int32_t>(v);
    if (!ParseNumber("--strength", strength_, params.beta) || !ParseNumber("--side-lobe", sideLobe_, params.sideLobe) ||
        !ParseNumber("--regularization", regularization_, params.regularization) ||
        !ParseNumber("--variable-regularization", variableRegularization_, params.variableRegularization))
      return kExitUsage;
    long long width = 0, height = 0;
    if (!width_.empty() && !ParseInteger("--width", width_, 1, 100000, true, width)) return kExitUsage;
    if (!height_.empty() && !ParseInteger("--height", height_, 1, 100000, true, height)) return kExitUsage;
    params.initialMethod = method_ == "bilinear" ? 0 : method_ == "bicubic" ? 1 : method_ == "edge" ? 2 : 3;

    FloatImage input;
    if (const int status = LoadInputImage(in_, input); status != kExitOk) return status;
    const uint32_t w = input.width, h = input.height;
    if (const std::string problem = CheckUpscaleSettings(w, h, params); !problem.empty()) {
      std::cerr << problem << "\n";
      return kExitUsage;
    }

    UpscaleJob job;
    if (!init_.empty()) {
      if (const int status = LoadInputImage(init_, job.initialImage); status != kExitOk) return status;
      if (job.initialImage.width != 2 * w || job.initialImage.height != 2 * h) {
        std::cerr << "Image dimensions do not match!\n";
        return kExitUsage;
      }
      params.initialMethod = 4;  // "Load from file"
    }

    // A private copy of the colour planes; alpha is not enlarged.
    job.source.Allocate(w, h);
    for (int c = 0; c < 3; ++c) std::copy_n(input.samples(c), input.PixelCount(), job.source.samples(c));
    input.Release();
    FloatImage result(2 * w, 2 * h);
    for (int c = 0; c < 3; ++c) job.output[c] = result.samples(c);
    job.srcWidth = w, job.srcHeight = h;
    job.newWidth = width_.empty() ? 2 * w : static_cast<uint32_t>(width);
    job.newHeight = height_.empty() ? 2 * h : static_cast<uint32_t>(height);
    job.params = params;

    TerminalProgress bar(quiet_);
    bar.Start("", true);
    job.notify = [&bar](UpscaleJob& j) {
      bar.SetStatusText(j.statusText);
      bar.SetProgress(j.progress);
    };

    struct sigaction action {}, previous{};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    gInterrupts = 0;
    gCancelFlag = &job.cancelRequested;
    ::sigaction(SIGINT, &action, &previous);
    UpscaleThreadProc(&job);
    gCancelFlag = nullptr;  // a press from here on aborts
    bar.Finish();
    if (job.cancelRequested && !quiet_) std::cerr << "Cancelled: writing the estimate so far.\n";

    FloatImage final;
    if (job.newWidth == 2 * w && job.newHeight == 2 * h) {
      final = std::move(result);
    } else {
      final.Allocate(job.newWidth, job.newHeight);
      for (int c = 0; c < 3; ++c)
        ResizePlane(result.samples(c), 2 * w, 2 * h, final.samples(c), job.newWidth, job.newHeight, FilterCatmullRom,
                    0.0f, 0.0f, 0.0f, 0.0f, 1.0f);
    }
    const std::string partial = PartialPath(out_);
    int status = kExitUnwritable;
    if (partial.size() < sizeof gPartialPath) {
      std::copy(partial.begin(), partial.end(), gPartialPath);
      gPartialPath[partial.size()] = '\0';
      gWriting = 1;
      status = SaveOutputImage(partial, final);
      if (status == kExitOk && std::rename(partial.c_str(), out_.c_str()) != 0) {
        std::cerr << "Cannot write " << out_ << ": " << std::strerror(errno) << "\n";
        status = kExitUnwritable;
      }
      if (status != kExitOk) ::unlink(partial.c_str());
      gWriting = 0;
    } else {
      status = SaveOutputImage(out_, final);
    }
    ::sigaction(SIGINT, &previous, nullptr);
    return status;
  }

 private:
  std::string in_, out_, method_ = "nedi", init_;
  std::string iterations_ = "16", fractal_ = "2", edgeIterations_ = "2";
  std::string strength_ = "3.0", sideLobe_ = "0.0", regularization_ = "0.03", variableRegularization_ = "1.0";
  std::string width_, height_;
  bool quiet_ = false;
};

const CommandRegistration kRegistration{{"upscale", "Enlarge an image by two with Kestrune interpolation", 40,
                                         [] { return std::make_unique<UpscaleCommand>(); }}};

}  // namespace
