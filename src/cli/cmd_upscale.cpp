// kestrune-cli upscale: "Kestrune interpolation" of an image file, with the
// settings of the upscaling dialog as options, a progress bar on a terminal,
// and Ctrl+C to stop early (first press: write the estimate so far and exit
// with status 5; second: end at once without writing).
#include <cfloat>
#include <csignal>
#include <cstdint>
#include <iostream>
#include <string>

#include <kestrune/upscale.h>

#include "cli/file_command.h"
#include "cli/options.h"
#include "cli/terminal_progress.h"

namespace {

const kestrune::UpscaleOptions kDefaults;

std::string OnOff(bool on) { return on ? "on" : "off"; }

// The --method name of an initial enlargement.
std::string MethodName(kestrune::InitialMethod method) {
  switch (method) {
    case kestrune::InitialMethod::kBilinear: return "bilinear";
    case kestrune::InitialMethod::kBicubic: return "bicubic";
    case kestrune::InitialMethod::kEdgeDirectional: return "edge";
    case kestrune::InitialMethod::kLearned: return "learned";
    default: return "nedi";
  }
}

// The --source-model name of an observation model.
std::string SourceModelName(kestrune::SourceModel model) {
  switch (model) {
    case kestrune::SourceModel::kReduced: return "reduced";
    case kestrune::SourceModel::kAuto: return "auto";
    default: return "camera";
  }
}

class UpscaleCommand : public FileCommand {
 protected:
  void AddSettings(CLI::App& sub) override {
    sub.add_option("--method", method_, "Initial x2 enlargement")
        ->check(CLI::IsMember({"bilinear", "bicubic", "edge", "nedi", "learned"}))
        ->default_str(MethodName(kDefaults.initialMethod));
    sub.add_option("--init", init_, "Initial image of exactly twice the source size (\"Load from file\")");
    sub.add_option("--iterations", iterations_, "Number of enhancement iterations (0..1000)")
        ->default_str(std::to_string(kDefaults.iterations));
    fractalOption_ = sub.add_option("--fractal", fractal_, "Number of fractal substitutions (0..100)");
    fractalOption_->default_str(std::to_string(kDefaults.fractalSubstitutions));
    sub.add_option("--edge-iterations", edgeIterations_, "Edge-dir interp. iterations for the residual (-1: bilinear)")
        ->default_str(std::to_string(kDefaults.edgeDirIterations));
    sub.add_option("--strength", strength_, "Strength (initial step size)")->default_str(strength_);
    sub.add_option("--side-lobe", sideLobe_, "Side lobe of the downsampling filter")->default_str(sideLobe_);
    sub.add_option("--regularization", regularization_, "Regularization amount")->default_str(regularization_);
    sub.add_option("--variable-regularization", variableRegularization_,
                   "Variable regularization (0: uniform, else edge-adaptive)")
        ->default_str(variableRegularization_);
    sub.add_option("--jpeg-model", jpegModel_,
                   "A JPEG source: hold the enlargement to the file's quantised coefficients (on) or to its "
                   "decoded pixels (off)")
        ->check(CLI::IsMember({"on", "off"}))
        ->default_str(OnOff(kDefaults.jpegModel));
    sub.add_option("--source-model", sourceModel_,
                   "How the source was made: camera optics (camera), halved by software with an antialiased "
                   "bicubic (reduced; the result is not shifted), or the one the picture fits (auto)")
        ->check(CLI::IsMember({"camera", "reduced", "auto"}))
        ->default_str(SourceModelName(kDefaults.sourceModel));
    sub.add_option("--width", width_, "Width of the result (1..100000; default twice the source)");
    sub.add_option("--height", height_, "Height of the result (1..100000; default twice the source)");
    sub.footer(std::string("Ctrl+C: the first press stops the run before its next iteration and writes the estimate\n"
                           "so far (exit status 5); a second press ends it at once, writing nothing. Sources of more\n"
                           "than 2048 x 2048 pixels are enlarged in tiles: the first press then writes nothing\n"
                           "(exit status 130) unless every tile is done.\n"
                           "In a batch (-o DIR) the first press ends it, keeping the results finished.\n") +
               kExitStatusHelp);
  }

  bool StopsEarly() const override { return true; }

  int Prepare() override {
    kestrune::UpscaleOptions& options = options_;
    // The fields in the dialog's order; the first bad one is reported.
    std::string message;
    const char* field = nullptr;
    int32_t iterations = 0, fractal = 0;
    if (!ParseInteger(iterations_, 0, 1000, iterations, message))
      field = "--iterations";
    else if (!ParseInteger(fractal_, 0, 100, fractal, message))
      field = "--fractal";
    else if (!ParseNumber(strength_, -FLT_MAX, FLT_MAX, options.strength, message))
      field = "--strength";
    else if (!ParseNumber(sideLobe_, -FLT_MAX, FLT_MAX, options.sideLobe, message))
      field = "--side-lobe";
    else if (!ParseNumber(regularization_, -FLT_MAX, FLT_MAX, options.regularization, message))
      field = "--regularization";
    else if (!ParseNumber(variableRegularization_, -FLT_MAX, FLT_MAX, options.variableRegularization, message))
      field = "--variable-regularization";
    else if (!ParseInteger(edgeIterations_, INT32_MIN, INT32_MAX, options.edgeDirIterations, message))
      field = "--edge-iterations";
    else if (!width_.empty() && !ParseUnsigned(width_, 1, kestrune::kMaxImageSide, options.width, message))
      field = "--width";
    else if (!height_.empty() && !ParseUnsigned(height_, 1, kestrune::kMaxImageSide, options.height, message))
      field = "--height";
    if (field != nullptr) {
      std::cerr << "kestrune-cli upscale: " << field << ": " << message << "\n";
      return kExitUsage;
    }
    options.jpegModel = jpegModel_ == "on";
    options.sourceModel = sourceModel_ == "reduced" ? kestrune::SourceModel::kReduced
                          : sourceModel_ == "auto"  ? kestrune::SourceModel::kAuto
                                                    : kestrune::SourceModel::kCamera;
    options.iterations = static_cast<uint32_t>(iterations);
    options.fractalSubstitutions = static_cast<uint32_t>(fractal);
    // The reduced model and the learned start enhance without substitutions:
    // asked for, they are not silently dropped.
    if (fractal > 0 && fractalOption_->count() > 0) {
      if (options.sourceModel == kestrune::SourceModel::kReduced)
        std::cerr << "kestrune-cli upscale: --fractal: no fractal substitutions under --source-model reduced\n";
      else if (method_ == "learned" && init_.empty())
        std::cerr << "kestrune-cli upscale: --fractal: no fractal substitutions with --method learned\n";
    }
    options.initialMethod = method_ == "bilinear"  ? kestrune::InitialMethod::kBilinear
                            : method_ == "bicubic" ? kestrune::InitialMethod::kBicubic
                            : method_ == "edge"    ? kestrune::InitialMethod::kEdgeDirectional
                            : method_ == "learned" ? kestrune::InitialMethod::kLearned
                                                   : kestrune::InitialMethod::kNedi;
    if (!init_.empty() && InBatch()) {
      std::cerr << "kestrune-cli upscale: --init takes one file's initial image, not a batch's\n";
      return kExitUsage;
    }
    return kExitOk;
  }

  int Process(const std::string& in, const std::string& out, FileSizes& sizes) const override {
    // One file alone shows its iterations and stops early on Ctrl+C; a batch
    // shows its own line.
    TerminalProgress progress(quiet_ || InBatch());
    kestrune::UpscaleOptions options = options_;
    if (const int status = ProcessLarge(in, out, sizes, progress); status >= 0) return status;
    kestrune::Image source, initial;
    if (const int status = LoadInputImage(in, source); status != kExitOk) return status;
    if (!init_.empty()) {
      if (const int status = LoadInputImage(init_, initial); status != kExitOk) return status;
      options.initialMethod = kestrune::InitialMethod::kFromImage;
      options.initialImage = &initial;
    }
    // Unset sizes follow from the source: twice its side.
    if (width_.empty()) options.width = 2 * source.Width();
    if (height_.empty()) options.height = 2 * source.Height();
    if (const kestrune::Error problem = kestrune::CheckUpscale(source.Width(), source.Height(), options)) {
      Diag() << "kestrune-cli upscale: " << problem.message << "\n";
      return kExitUsage;
    }

    kestrune::Result<kestrune::Image> result = kestrune::Upscale(source, options, InBatch() ? nullptr : &progress);
    progress.Finish();
    const kestrune::ErrorCode code = result.error().code;
    if (!result.has_value() && code == kestrune::ErrorCode::kCancelled) {
      Diag() << "kestrune-cli upscale: stopped by Ctrl+C before every tile was done: nothing written\n";
      return 128 + SIGINT;
    }
    if (!result.has_value()) {
      Diag() << "kestrune-cli upscale: " << result.error().message << "\n";
      return code == kestrune::ErrorCode::kOutOfMemory ? kExitOutOfMemory : kExitUsage;
    }
    if (code == kestrune::ErrorCode::kCancelled)
      std::cerr << "kestrune-cli upscale: stopped by Ctrl+C: writing the unfinished estimate\n";
    sizes = {source.Width(), source.Height(), result->Width(), result->Height()};
    const int status = SaveOutputImage(out, result.value(), output_);
    return status == kExitOk && code == kestrune::ErrorCode::kCancelled ? kExitStopped : status;
  }

 private:
  // A large picture without alpha, enlarged x2 from a file without an
  // initial image, goes from file to file in tiles, never held whole. -1
  // for any other.
  int ProcessLarge(const std::string& in, const std::string& out, FileSizes& sizes, TerminalProgress& progress) const {
    if (in == "-" || !init_.empty() || !width_.empty() || !height_.empty()) return -1;
    const kestrune::Result<kestrune::ImageInfo> info = kestrune::ReadImageInfo(in);
    if (!info.ok() || info->hasAlpha || uint64_t{info->width} * info->height <= kLargePixels) return -1;
    const kestrune::Error error =
        kestrune::UpscaleFile(in, out, options_, output_.ToWriteOptions(), InBatch() ? nullptr : &progress);
    progress.Finish();
    switch (error.code) {
      case kestrune::ErrorCode::kNone:
        sizes = {info->width, info->height, 2 * info->width, 2 * info->height};
        return kExitOk;
      case kestrune::ErrorCode::kCancelled:
        Diag() << "kestrune-cli upscale: stopped by Ctrl+C before every tile was done: nothing written\n";
        return 128 + SIGINT;
      case kestrune::ErrorCode::kCannotOpen:
      case kestrune::ErrorCode::kUnreadable:
        Diag() << "kestrune-cli: cannot read " << Quoted(in) << ": " << Printable(error.message) << "\n";
        return kExitUnreadable;
      case kestrune::ErrorCode::kCannotWrite:
        Diag() << "kestrune-cli: cannot write " << Printable(error.message) << "\n";
        return kExitUnwritable;
      case kestrune::ErrorCode::kOutOfMemory:
        Diag() << "kestrune-cli upscale: " << error.message << "\n";
        return kExitOutOfMemory;
      default: Diag() << "kestrune-cli upscale: " << error.message << "\n"; return kExitUsage;
    }
  }
  // Pictures enlarged in tiles by the library.
  static constexpr uint64_t kLargePixels = uint64_t{2048} * 2048;

  kestrune::UpscaleOptions options_;
  std::string method_ = MethodName(kDefaults.initialMethod), init_;
  std::string iterations_ = std::to_string(kDefaults.iterations);
  std::string fractal_ = std::to_string(kDefaults.fractalSubstitutions);
  CLI::Option* fractalOption_ = nullptr;
  std::string edgeIterations_ = std::to_string(kDefaults.edgeDirIterations);
  std::string strength_ = DecimalText(kDefaults.strength), sideLobe_ = DecimalText(kDefaults.sideLobe);
  std::string regularization_ = DecimalText(kDefaults.regularization);
  std::string variableRegularization_ = DecimalText(kDefaults.variableRegularization);
  std::string width_, height_;
  std::string jpegModel_ = OnOff(kDefaults.jpegModel);
  std::string sourceModel_ = SourceModelName(kDefaults.sourceModel);
};

const CommandRegistration kUpscaleRegistration{{"upscale", "Enlarge an image by two with Kestrune interpolation", 40,
                                                [] { return std::make_unique<UpscaleCommand>(); }}};

}  // namespace
