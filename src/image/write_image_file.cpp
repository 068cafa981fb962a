// WriteImageFile: the encoders behind an AtomicOutput, or in one piece to
// standard output.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "image/atomic_output.h"
#include "image/image_writers.h"
#include "image/pfm.h"

namespace kestrune {

namespace {

// Runs the encoder of `options.format` on `file`.
int Encode(std::FILE* file, const FloatImage& image, const WriteOptions& options, SampleDepth depth,
           std::string& reason) {
  switch (options.format) {
    case FileFormat::kBmp: return WriteBmp(file, image);
    case FileFormat::kPfm: return WritePfm(file, image);
    default: return WriteWithVips(file, image, options, depth, reason);
  }
}

// Standard output gets the file once it is complete, so that a failed
// encoding writes nothing.
int WriteToStandardOutput(const FloatImage& image, const WriteOptions& options, SampleDepth depth,
                          std::string& reason) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* memory = open_memstream(&buffer, &size);
  if (memory == nullptr) {
    reason = std::strerror(errno);
    return kWriteFailed;
  }
  const int result = Encode(memory, image, options, depth, reason);
  const bool closed = std::fclose(memory) == 0;
  errno = 0;
  const bool written = result == kWriteOk && closed && std::fwrite(buffer, 1, size, stdout) == size &&
                       std::fflush(stdout) == 0;
  if (result == kWriteOk && !written) reason = std::string("standard output: ") + std::strerror(errno != 0 ? errno : EIO);
  std::free(buffer);
  return written ? kWriteOk : kWriteFailed;
}

}  // namespace

bool FormatHoldsDepth(FileFormat format, SampleDepth depth) {
  switch (format) {
    case FileFormat::kBmp:
    case FileFormat::kJpeg:
    case FileFormat::kWebp: return depth == SampleDepth::k8;
    case FileFormat::kPng: return depth == SampleDepth::k8 || depth == SampleDepth::k16;
    case FileFormat::kTiff: return depth != SampleDepth::kUnknown;
    case FileFormat::kPfm: return depth == SampleDepth::k32Float;
    default: return false;
  }
}

SampleDepth DepthForWrite(FileFormat format, SampleDepth requested, SampleDepth source) {
  if (requested != SampleDepth::kUnknown) return requested;
  if (FormatHoldsDepth(format, source)) return source;
  if (format == FileFormat::kPfm) return SampleDepth::k32Float;
  if (format == FileFormat::kPng && source == SampleDepth::k32Float) return SampleDepth::k16;
  return SampleDepth::k8;
}

int WriteImageFile(const std::string& path, const FloatImage& image, const WriteOptions& options,
                   std::string* reason) {
  if (image.IsEmpty()) return kWriteEmptyImage;
  std::string why;
  const SampleDepth depth = DepthForWrite(options.format, options.depth, image.metadata.depth);
  if (options.format == FileFormat::kUnknown || options.format == FileFormat::kHeif ||
      options.format == FileFormat::kGif || options.format == FileFormat::kPnm) {
    if (reason) *reason = "not a format this program writes";
    return kWriteFailed;
  }
  if (!FormatHoldsDepth(options.format, depth)) {
    if (reason) *reason = "this format cannot hold samples of that depth";
    return kWriteFailed;
  }
  if (path == "-") {
    const int result = WriteToStandardOutput(image, options, depth, why);
    if (reason) *reason = why;
    return result;
  }
  AtomicOutput output;
  if (!output.Open(path, options.within)) {
    if (reason) *reason = output.error();
    return kWriteFailed;
  }
  errno = 0;
  if (Encode(output.file(), image, options, depth, why) != kWriteOk) {
    // A failed write leaves its reason in errno; an encoder that refuses
    // says why, or is refused a size its format cannot hold.
    const int errnum = errno;
    output.Abandon(errnum != 0 ? errnum : EFBIG);
    if (reason) *reason = !why.empty() ? why : errnum != 0 ? output.error() : "the image is too large for the format";
    return kWriteFailed;
  }
  if (!output.Commit()) {
    if (reason) *reason = output.error();
    return kWriteFailed;
  }
  return kWriteOk;
}

}  // namespace kestrune
