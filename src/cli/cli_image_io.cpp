// Reading and writing the image files of kestrune-cli's commands.
#include "cli/cli_image_io.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "cli/command.h"
#include "cli/options.h"

namespace {

kestrune::FileFormat FormatNamed(const std::string& name) {
  if (name.empty()) return kestrune::FileFormat::kUnknown;
  return kestrune::FormatFromExtension("." + name);
}

std::string Shown(const std::string& path) { return path == "-" ? "standard output" : Quoted(path); }

// The length of the well-formed UTF-8 sequence at text[i], else 0.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto at = [&](std::size_t k) { return i + k < text.size() ? (unsigned char)text[i + k] : 0u; };
  const unsigned c = at(0);
  const std::size_t n = c < 0x80                ? 1
                        : c >= 0xc2 && c < 0xe0 ? 2
                        : c >= 0xe0 && c < 0xf0 ? 3
                        : c >= 0xf0 && c < 0xf5 ? 4
                                                : 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((at(k) & 0xc0) != 0x80) return 0;
  // Overlong forms, surrogates and code points beyond U+10FFFF.
  if ((c == 0xe0 && at(1) < 0xa0) || (c == 0xed && at(1) >= 0xa0) || (c == 0xf0 && at(1) < 0x90) ||
      (c == 0xf4 && at(1) >= 0x90))
    return 0;
  return n;
}

thread_local std::ostream* t_diag = nullptr;

}  // namespace

std::string Printable(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = text[i];
    const std::size_t n = Utf8Length(text, i);
    const bool control = c < 0x20 || c == 0x7f || (c == 0xc2 && n == 2 && (unsigned char)text[i + 1] < 0xa0);
    if (n > 0 && !control) {
      out.append(text, i, n);
      i += n;
      continue;
    }
    for (const std::size_t end = i + std::max<std::size_t>(n, 1); i < end; ++i) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", (unsigned char)text[i]);
      out += escape;
    }
  }
  return out;
}

std::string Quoted(const std::string& path) { return "'" + Printable(path) + "'"; }

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
  options.depth = depth == "8"     ? kestrune::SampleDepth::k8
                  : depth == "16"  ? kestrune::SampleDepth::k16
                  : depth == "32f" ? kestrune::SampleDepth::k32Float
                                   : kestrune::SampleDepth::kUnknown;
  options.quality = quality;
  options.lossless = lossless;
  options.within = within;
  return options;
}

int LoadInputImage(const std::string& path, kestrune::Image& image) {
  kestrune::Result<kestrune::Image> read = kestrune::ReadImage(path);
  const std::string shown = path == "-" ? "standard input" : Quoted(path);
  if (!read.ok()) {
    Diag() << "kestrune-cli: cannot read " << shown << ": " << Printable(read.error().message) << '\n';
    return read.error().code == kestrune::ErrorCode::kOutOfMemory ? kExitOutOfMemory : kExitUnreadable;
  }
  for (const std::string& warning : read.warnings())
    Diag() << "kestrune-cli: " << (path == "-" ? "standard input" : Printable(path))
           << ": warning: " << Printable(warning) << '\n';
  image = std::move(read).value();
  return kExitOk;
}

int CheckOutputImage(const std::string& path, const OutputOptions& output) {
  kestrune::WriteOptions options = output.ToWriteOptions();
  const kestrune::SampleDepth depth = options.depth;
  options.depth = kestrune::SampleDepth::kUnknown;
  if (const kestrune::Error error = kestrune::CheckOutputPath(path, options)) {
    Diag() << "kestrune-cli: cannot write " << Shown(path) << ": " << Printable(error.message) << '\n';
    // Standard output without --format is a bad argument, not a bad place.
    return path == "-" && output.format.empty() ? kExitUsage : kExitUnwritable;
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
    Diag() << "kestrune-cli: cannot write " << Shown(path) << ": " << Printable(error.message) << '\n';
    return kExitUnwritable;
  }
  return kExitOk;
}
