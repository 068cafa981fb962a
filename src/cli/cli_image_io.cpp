// Reading and writing the image files of kestrune-cli's commands.
#include "cli/cli_image_io.h"

#include <iostream>

#include "cli/command.h"
#include "cli/options.h"

namespace {

kestrune::FileFormat FormatNamed(const std::string& name) {
  if (name.empty()) return kestrune::FileFormat::kUnknown;
  return kestrune::FormatFromExtension("." + name);
}

std::string Shown(const std::string& path) { return path == "-" ? "standard output" : "'" + path + "'"; }

thread_local std::ostream* t_diag = nullptr;

}  // namespace

std::ostream& Diag() { return t_diag ? *t_diag : std::cerr; }

DiagCapture::DiagCapture() : previous_(t_diag) { t_diag = &text_; }
DiagCapture::~DiagCapture() { t_diag = previous_; }

void OutputOptions::Add(CLI::App& sub) {
  sub.add_option("--format", format, "Output format, whatever the name (required for -)")
      ->check(CLI::IsMember({"bmp", "png", "jpeg", "jpg", "tiff", "tif", "webp", "pfm"}, CLI::ignore_case));
  sub.add_option("--depth", depth, "Bits per sample: 8, 16 (PNG, TIFF) or 32f (TIFF, PFM); default: the source's")
      ->check(CLI::IsMember({"8", "16", "32f"}));
  sub.add_option("--quality", quality, "JPEG and lossy WebP quality, 1..100")
      ->check(DecimalDigits)
      ->check(CLI::Range(1, 100))
      ->capture_default_str();
  sub.add_flag("--lossless", lossless, "Lossless WebP");
}

kestrune::WriteOptions OutputOptions::ToWriteOptions() const {
  kestrune::WriteOptions options;
  options.format = FormatNamed(CLI::detail::to_lower(format));
  options.depth = depth == "8"    ? kestrune::SampleDepth::k8
                  : depth == "16" ? kestrune::SampleDepth::k16
                  : depth == "32f" ? kestrune::SampleDepth::k32Float
                                   : kestrune::SampleDepth::kUnknown;
  options.quality = quality;
  options.lossless = lossless;
  return options;
}

int LoadInputImage(const std::string& path, kestrune::Image& image) {
  kestrune::Result<kestrune::Image> read = kestrune::ReadImage(path);
  const std::string shown = path == "-" ? "standard input" : "'" + path + "'";
  if (!read.ok()) {
    Diag() << "kestrune-cli: cannot read " << shown << ": " << read.error().message << '\n';
    return read.error().code == kestrune::ErrorCode::kOutOfMemory ? kExitOutOfMemory : kExitUnreadable;
  }
  for (const std::string& warning : read.warnings())
    Diag() << "kestrune-cli: " << (path == "-" ? "standard input" : path) << ": warning: " << warning << '\n';
  image = std::move(read).value();
  return kExitOk;
}

int CheckOutputImage(const std::string& path, const OutputOptions& output) {
  kestrune::WriteOptions options = output.ToWriteOptions();
  const kestrune::SampleDepth depth = options.depth;
  options.depth = kestrune::SampleDepth::kUnknown;
  if (const kestrune::Error error = kestrune::CheckOutputPath(path, options)) {
    Diag() << "kestrune-cli: cannot write " << Shown(path) << ": " << error.message << '\n';
    return kExitUnwritable;
  }
  options.depth = depth;
  if (const kestrune::Error error = kestrune::CheckOutputPath(path, options)) {
    Diag() << "kestrune-cli: --depth " << output.depth << ": " << error.message << '\n';
    return kExitUsage;
  }
  return kExitOk;
}

int SaveOutputImage(const std::string& path, const kestrune::Image& image, const OutputOptions& output) {
  if (const kestrune::Error error = kestrune::WriteImage(image, path, output.ToWriteOptions())) {
    Diag() << "kestrune-cli: cannot write " << Shown(path) << ": " << error.message << '\n';
    return kExitUnwritable;
  }
  return kExitOk;
}
