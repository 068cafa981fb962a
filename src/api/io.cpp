// Reading and writing image files through the image layer's readers and
// writers.
#include "kestrune/io.h"

#include <algorithm>
#include <cctype>
#include <new>

#include "api/image_access.h"
#include "image/atomic_output.h"
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

// The public error of a failed read.
Error ReadError(const ReadStatus& status) {
  const ErrorCode code = status.code == kReadCannotOpen ? ErrorCode::kCannotOpen : ErrorCode::kUnreadable;
  return Error{code, status.message};
}

ImageInfo InfoOf(const ImageHeader& header) {
  ImageInfo info;
  info.format = header.format;
  info.width = header.width;
  info.height = header.height;
  info.bitsPerPixel = header.bitsPerPixel;
  info.hasAlpha = header.alpha;
  return info;
}

}  // namespace

FileFormat FormatFromExtension(const std::string& path) {
  const std::string ext = LowerExtension(path);
  if (ext == "bmp") return FileFormat::kBmp;
  if (ext == "png") return FileFormat::kPng;
  if (ext == "jpg" || ext == "jpeg") return FileFormat::kJpeg;
  if (ext == "pfm") return FileFormat::kPfm;
  return FileFormat::kUnknown;
}

bool CanWrite(FileFormat format) {
  return format == FileFormat::kBmp || format == FileFormat::kPng || format == FileFormat::kPfm;
}

Result<Image> ReadImage(const std::string& path, const ReadOptions& options, FileFormat* format) {
  try {
    FloatImage planes;
    const ReadStatus status = ReadImageFile(
        path, planes, options.keepDamaged ? DamagePolicy::kKeepReadable : DamagePolicy::kRefuse);
    if (format != nullptr) *format = status.format;
    Result<Image> result = status.ok() && !planes.IsEmpty()
                               ? (status.damaged ? Result<Image>(ImageAccess::Adopt(std::move(planes)),
                                                                 Error{ErrorCode::kUnreadable, status.message})
                                                 : Result<Image>(ImageAccess::Adopt(std::move(planes))))
                               : Result<Image>(ReadError(status));
    result.warnings() = status.warnings;
    return result;
  } catch (const std::bad_alloc&) {
    return Error{ErrorCode::kOutOfMemory, "not enough memory for the image"};
  }
}

Result<ImageInfo> ReadImageInfo(const std::string& path) {
  ImageHeader header;
  const ReadStatus status = ReadImageHeader(path, header);
  // A BMP or PFM file cut short is damaged, which a header shows already.
  if (!status.ok() || status.damaged) return ReadError(status);
  return InfoOf(header);
}

Error CheckOutputPath(const std::string& path, const WriteOptions& options) {
  const FileFormat format = options.format != FileFormat::kUnknown ? options.format : FormatFromExtension(path);
  if (!CanWrite(format))
    return Error{ErrorCode::kInvalidArgument,
                 format == FileFormat::kUnknown ? "unknown output format (use .bmp, .png or .pfm)"
                                                : std::string("cannot write ") + FormatName(format) + " files"};
  if (std::string problem = OutputPathProblem(path); !problem.empty())
    return Error{ErrorCode::kCannotWrite, std::move(problem)};
  return {};
}

Error WriteImage(const Image& image, const std::string& path, const WriteOptions& options) {
  if (image.IsEmpty()) return Error{ErrorCode::kInvalidArgument, "the image is empty"};
  const FileFormat format = options.format != FileFormat::kUnknown ? options.format : FormatFromExtension(path);
  if (!CanWrite(format)) return CheckOutputPath(path, options);
  std::string reason;
  if (WriteImageFile(path, ImageAccess::Planes(image), format, &reason) != kWriteOk)
    return Error{ErrorCode::kCannotWrite, reason};
  return {};
}

void RemovePartialOutputs() { RemoveOpenTemporaryFiles(); }

}  // namespace kestrune
