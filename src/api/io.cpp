// Reading and writing image files through the image layer's readers and
// writers.
#include "kestrune/io.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <new>

#include "api/image_access.h"
#include "image/atomic_output.h"
#include "image/image_readers.h"
#include "image/image_writers.h"
#include "image/jpeg_messages.h"
#include "image/pfm.h"

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

// The JPEG library's messages of the read running on this thread.
thread_local std::vector<std::string>* t_jpegMessages = nullptr;

void CollectJpegMessages() {
  static std::once_flag once;
  std::call_once(once, [] {
    SetJpegMessageHandler([](const std::string& message) {
      if (t_jpegMessages != nullptr) t_jpegMessages->push_back(message);
    });
  });
}

const char* FormatName(FileFormat format) {
  switch (format) {
    case FileFormat::kBmp: return "BMP";
    case FileFormat::kPng: return "PNG";
    case FileFormat::kJpeg: return "JPEG";
    case FileFormat::kPfm: return "PFM";
    default: return "unknown";
  }
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

Result<Image> ReadImage(const std::string& path, const ReadOptions&) {
  try {
    FloatImage planes;
    std::vector<std::string> messages;
    std::string reason;
    int code;
    if (FormatFromExtension(path) == FileFormat::kPfm) {
      code = ReadPfm(path, planes, reason);
    } else {
      CollectJpegMessages();
      t_jpegMessages = &messages;
      code = ReadImageFile(path, planes);
      t_jpegMessages = nullptr;
      if (code != kReadOk && code != kReadCannotOpen)
        reason = "not a readable BMP, PNG or JPEG image, or an unsupported kind";
    }
    if (code == kReadCannotOpen) return Error{ErrorCode::kCannotOpen, "the file cannot be opened"};
    if (code != kReadOk || planes.IsEmpty()) return Error{ErrorCode::kUnreadable, reason};
    Result<Image> result(ImageAccess::Adopt(std::move(planes)));
    result.warnings() = std::move(messages);
    return result;
  } catch (const std::bad_alloc&) {
    t_jpegMessages = nullptr;
    return Error{ErrorCode::kOutOfMemory, "not enough memory for the image"};
  }
}

Result<ImageInfo> ReadImageInfo(const std::string& path) {
  Result<Image> image = ReadImage(path);
  if (!image.has_value()) return image.error();
  ImageInfo info;
  info.format = FormatFromExtension(path);
  info.width = image->Width();
  info.height = image->Height();
  info.bitsPerPixel = image->SourceBitDepth();
  info.hasAlpha = image->HasAlpha();
  return info;
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
