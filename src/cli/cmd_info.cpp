// kestrune-cli info FILE: prints an image's size, BMP bit depth, alpha,
// format, sample depth and whether it embeds a profile or EXIF, from its
// header, without reading its pixels.
#include <iostream>

#include <kestrune/io.h>

#include "cli/cli_image_io.h"
#include "cli/command.h"

namespace {

const char* FormatWord(kestrune::FileFormat format) {
  switch (format) {
    case kestrune::FileFormat::kBmp: return "bmp";
    case kestrune::FileFormat::kPng: return "png";
    case kestrune::FileFormat::kJpeg: return "jpeg";
    case kestrune::FileFormat::kPfm: return "pfm";
    case kestrune::FileFormat::kTiff: return "tiff";
    case kestrune::FileFormat::kWebp: return "webp";
    case kestrune::FileFormat::kHeif: return "heif";
    case kestrune::FileFormat::kGif: return "gif";
    case kestrune::FileFormat::kPnm: return "pnm";
    default: return "other";
  }
}

const char* DepthWord(kestrune::SampleDepth depth) {
  switch (depth) {
    case kestrune::SampleDepth::k8: return "8";
    case kestrune::SampleDepth::k16: return "16";
    case kestrune::SampleDepth::k32Float: return "32f";
    default: return "unknown";
  }
}

class InfoCommand : public Command {
 public:
  void Setup(CLI::App& sub) override { sub.add_option("FILE", path_, kInputHelp)->required(); }

  int Run() override {
    const kestrune::Result<kestrune::ImageInfo> info = kestrune::ReadImageInfo(path_);
    if (!info.ok()) {
      std::cerr << "kestrune-cli: cannot read " << Quoted(path_) << ": " << Printable(info.error().message) << '\n';
      return info.error().code == kestrune::ErrorCode::kOutOfMemory ? kExitOutOfMemory : kExitUnreadable;
    }
    const uint32_t bmpDepth = info->format == kestrune::FileFormat::kBmp ? info->bitsPerPixel : 0;
    std::cout << "width=" << info->width << " height=" << info->height << " bitdepth=" << bmpDepth
              << " alpha=" << (info->hasAlpha ? 1 : 0) << " format=" << FormatWord(info->format)
              << " depth=" << DepthWord(info->depth) << " grey=" << (info->greyscale ? 1 : 0)
              << " profile=" << (info->hasProfile ? 1 : 0) << " exif=" << (info->hasExif ? 1 : 0) << '\n';
    return kExitOk;
  }

 private:
  std::string path_;
};

const CommandRegistration kInfoRegistration{
    {"info",
     "Print width, height, BMP bit depth (0 for other files), alpha, format, sample depth, greyscale, and whether "
     "a profile or EXIF is embedded",
     10, [] { return std::make_unique<InfoCommand>(); }}};

}  // namespace
