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
Error Encode(std::FILE* file, const FloatImage& image, const WriteOptions& options, SampleDepth depth) {
  switch (options.format) {
    case FileFormat::kBmp: return WriteBmp(file, image);
    case FileFormat::kPfm: return WritePfm(file, image);
    default: return WriteWithVips(file, image, options, depth);
  }
}

// Standard output gets the file once it is complete, so that a failed
// encoding writes nothing.
Error WriteToStandardOutput(const FloatImage& image, const WriteOptions& options, SampleDepth depth) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* memory = open_memstream(&buffer, &size);
  if (memory == nullptr) return WriteFailure(std::strerror(errno));
  const Error encoded = Encode(memory, image, options, depth);
  const bool closed = std::fclose(memory) == 0;
  errno = 0;
  const bool written = !encoded && closed && std::fwrite(buffer, 1, size, stdout) == size && std::fflush(stdout) == 0;
  Error result;
  if (encoded)
    result = WriteFailure(encoded.message);
  else if (!written)
    result = WriteFailure(std::string("standard output: ") + std::strerror(errno != 0 ? errno : EIO));
  std::free(buffer);
  return result;
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

Error WriteImageFile(const std::string& path, const FloatImage& image, const WriteOptions& options) {
  if (image.IsEmpty()) return EmptyImageError();
  const SampleDepth depth = DepthForWrite(options.format, options.depth, image.metadata.depth);
  if (options.format == FileFormat::kUnknown || options.format == FileFormat::kHeif ||
      options.format == FileFormat::kGif || options.format == FileFormat::kPnm)
    return WriteFailure("not a format this program writes");
  if (!FormatHoldsDepth(options.format, depth)) return WriteFailure("this format cannot hold samples of that depth");
  if (path == "-") return WriteToStandardOutput(image, options, depth);
  AtomicOutput output;
  if (!output.Open(path, options.within)) return WriteFailure(output.error());
  errno = 0;
  if (const Error failed = Encode(output.file(), image, options, depth)) {
    // A failed write leaves its reason in errno; an encoder that refuses
    // says why, or is refused a size its format cannot hold.
    const int errnum = errno;
    output.Abandon(errnum != 0 ? errnum : EFBIG);
    return WriteFailure(!failed.message.empty() ? failed.message
                        : errnum != 0           ? output.error()
                                                : "the image is too large for the format");
  }
  if (!output.Commit()) return WriteFailure(output.error());
  return {};
}

}  // namespace kestrune
