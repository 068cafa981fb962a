// WriteImageFile: the encoders behind an AtomicOutput.
#include <cerrno>
#include <cstring>

#include "image/atomic_output.h"
#include "image/image_writers.h"
#include "image/pfm.h"

namespace kestrune {

int WriteImageFile(const std::string& path, const FloatImage& image, FileFormat format, std::string* reason) {
  if (image.IsEmpty()) return kWriteEmptyImage;
  int (*encode)(std::FILE*, const FloatImage&) = nullptr;
  switch (format) {
    case FileFormat::kBmp: encode = WriteBmp; break;
    case FileFormat::kPng: encode = WritePng; break;
    case FileFormat::kPfm: encode = WritePfm; break;
    default:
      if (reason) *reason = "not a format this program writes";
      return kWriteFailed;
  }
  AtomicOutput output;
  if (!output.Open(path)) {
    if (reason) *reason = output.error();
    return kWriteFailed;
  }
  errno = 0;
  if (encode(output.file(), image) != kWriteOk) {
    // A failed write leaves its reason in errno; the encoders refuse sizes
    // their format cannot hold without one.
    const int errnum = errno;
    output.Abandon(errnum != 0 ? errnum : EFBIG);
    if (reason) *reason = errnum != 0 ? output.error() : "the image is too large for the format";
    return kWriteFailed;
  }
  if (!output.Commit()) {
    if (reason) *reason = output.error();
    return kWriteFailed;
  }
  return kWriteOk;
}

int WriteBmp(const std::string& path, const FloatImage& image) {
  return WriteImageFile(path, image, FileFormat::kBmp);
}

int WritePng(const std::string& path, const FloatImage& image) {
  return WriteImageFile(path, image, FileFormat::kPng);
}

}  // namespace kestrune
