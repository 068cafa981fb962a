// Output formats by extension, and the write options checked before a write.
#include "image/output_format.h"

#include <algorithm>
#include <cctype>

#include "image/image_readers.h"
#include "image/image_writers.h"

namespace kestrune {

namespace {

std::string LowerExtension(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

}  // namespace

FileFormat FormatFromExtension(const std::string& path) {
  const std::string ext = LowerExtension(path);
  if (ext == "bmp") return FileFormat::kBmp;
  if (ext == "png") return FileFormat::kPng;
  if (ext == "jpg" || ext == "jpeg") return FileFormat::kJpeg;
  if (ext == "pfm") return FileFormat::kPfm;
  if (ext == "tif" || ext == "tiff") return FileFormat::kTiff;
  if (ext == "webp") return FileFormat::kWebp;
  if (ext == "heic" || ext == "heif" || ext == "avif") return FileFormat::kHeif;
  if (ext == "gif") return FileFormat::kGif;
  if (ext == "pbm" || ext == "pgm" || ext == "ppm" || ext == "pnm") return FileFormat::kPnm;
  return FileFormat::kUnknown;
}

bool CanWrite(FileFormat format) {
  switch (format) {
    case FileFormat::kBmp:
    case FileFormat::kPng:
    case FileFormat::kJpeg:
    case FileFormat::kPfm:
    case FileFormat::kTiff:
    case FileFormat::kWebp: return true;
    default: return false;
  }
}

FileFormat OutputFormat(const std::string& path, const WriteOptions& options) {
  return options.format != FileFormat::kUnknown ? options.format : FormatFromExtension(path);
}

Error WriteOptionsProblem(const std::string& path, const WriteOptions& options) {
  const FileFormat format = OutputFormat(path, options);
  if (!CanWrite(format)) {
    if (format != FileFormat::kUnknown)
      return Error{ErrorCode::kInvalidArgument, std::string("cannot write ") + FormatName(format) + " files"};
    return Error{ErrorCode::kInvalidArgument,
                 path == "-" ? "standard output needs a format"
                             : "unknown output format (use .bmp, .png, .jpg, .tif, .webp or .pfm)"};
  }
  if (options.depth != SampleDepth::kUnknown && !FormatHoldsDepth(format, options.depth))
    return Error{ErrorCode::kInvalidArgument, std::string(FormatName(format)) + " cannot hold " +
                                                  (options.depth == SampleDepth::k32Float
                                                       ? "32-bit float"
                                                       : std::to_string(static_cast<int>(options.depth)) + "-bit") +
                                                  " samples"};
  if (options.quality < 1 || options.quality > 100)
    return Error{ErrorCode::kInvalidArgument, "the quality must be from 1 to 100"};
  return {};
}

Error WriteImageChecked(const std::string& path, const FloatImage& image, const WriteOptions& options) {
  if (image.IsEmpty()) return EmptyImageError();
  if (Error problem = WriteOptionsProblem(path, options)) return problem;
  WriteOptions resolved = options;
  resolved.format = OutputFormat(path, options);
  return WriteImageFile(path, image, resolved);
}

}  // namespace kestrune
