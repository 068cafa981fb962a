// Rows of pictures too large to hold whole, spooled at their written depth
// and encoded through libvips once the last row is in.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include <vips/vips8>

#include "image/atomic_output.h"
#include "image/byte_conversion.h"
#include "image/image_writers.h"
#include "image/row_files.h"
#include "image/tiff_exif.h"
#include "image/vips_messages.h"
#include "image/vips_metadata.h"
#include "image/vips_runtime.h"
#include "image/vips_samples.h"
#include "image/vips_writer.h"

namespace kestrune {

using namespace vipsio;
using vips::VError;
using vips::VImage;
using vips::VTarget;

namespace {

// A TIFF file open as `descriptor`.
TiffFile DescriptorTiff(int descriptor) {
  TiffFile file;
  const off_t end = ::lseek(descriptor, 0, SEEK_END);
  file.size = end > 0 ? uint64_t(end) : 0;
  file.read = [descriptor](uint64_t offset, uint8_t* out, std::size_t count) {
    return ::pread(descriptor, out, count, off_t(offset)) == ssize_t(count);
  };
  file.write = [descriptor](uint64_t offset, const uint8_t* in, std::size_t count) {
    return ::pwrite(descriptor, in, count, off_t(offset)) == ssize_t(count);
  };
  return file;
}

}  // namespace

struct RowFileWriter::State {
  AtomicOutput output, spool;
  uint32_t width = 0, height = 0, written = 0;
  bool alpha = false;
  int colours = 3;
  SampleDepth depth = SampleDepth::k8;
  ImageMetadata metadata;
  WriteOptions options;
};

RowFileWriter::RowFileWriter() = default;
RowFileWriter::~RowFileWriter() = default;

bool RowFileWriter::Takes(FileFormat format) {
  return format == FileFormat::kPng || format == FileFormat::kJpeg || format == FileFormat::kTiff ||
         format == FileFormat::kWebp;
}

bool RowFileWriter::Open(const std::string& path, uint32_t width, uint32_t height, bool alpha,
                         const ImageMetadata& metadata, const WriteOptions& options, std::string& reason) {
  if (const std::string& problem = StartVips(); !problem.empty()) {
    reason = problem;
    return false;
  }
  auto state = std::make_unique<State>();
  state->depth = DepthForWrite(options.format, options.depth, metadata.depth);
  if (!Takes(options.format) || !FormatHoldsDepth(options.format, state->depth)) {
    reason = "this format or depth is not written by rows";
    return false;
  }
  state->width = width, state->height = height;
  state->alpha = alpha && options.format != FileFormat::kJpeg;
  state->colours = metadata.greyscale ? 1 : 3;
  state->metadata = metadata;
  state->options = options;
  if (!state->output.Open(path, options.within)) {
    reason = state->output.error();
    return false;
  }
  if (!state->spool.Open(state->output.target() + ".spool", options.within) || state->spool.temporary().empty()) {
    reason = state->spool.error().empty() ? "no room for the spool file" : state->spool.error();
    return false;
  }
  state_ = std::move(state);
  return true;
}

bool RowFileWriter::Write(const FloatImage& rows, std::string& reason) {
  State& s = *state_;
  errno = 0;
  auto put = [&](const auto& samples) {
    const std::size_t bytes = samples.size() * sizeof(samples[0]);
    return std::fwrite(samples.data(), 1, bytes, s.spool.file()) == bytes;
  };
  // A few rows at a time, so that the interleaved copy stays small.
  constexpr uint32_t kChunk = 64;
  bool ok = true;
  try {
    for (uint32_t y = 0; ok && y < rows.height; y += kChunk) {
      if (s.depth == SampleDepth::k16)
        ok = put(Interleave<uint16_t>(rows, s.colours, s.alpha, FloatToWord, y, kChunk));
      else if (s.depth == SampleDepth::k32Float)
        ok = put(Interleave<float>(
            rows, s.colours, s.alpha, [](float v) { return v / 255.0f; }, y, kChunk));
      else
        ok = put(Interleave<uint8_t>(rows, s.colours, s.alpha, FloatToByte, y, kChunk));
    }
  } catch (const std::bad_alloc&) {
    reason = "not enough memory to encode the rows";
    return false;
  }
  if (!ok) {
    s.spool.Abandon(errno != 0 ? errno : EIO);
    reason = s.spool.error();
    return false;
  }
  s.written += rows.height;
  return true;
}

bool RowFileWriter::Commit(std::string& reason) {
  State& s = *state_;
  if (s.written != s.height) {
    reason = "not every row was written";
    return false;
  }
  if (std::fflush(s.spool.file()) != 0 || std::fflush(s.output.file()) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  const int bands = s.colours + (s.alpha ? 1 : 0);
  const VipsBandFormat bandFormat = s.depth == SampleDepth::k16        ? VIPS_FORMAT_USHORT
                                    : s.depth == SampleDepth::k32Float ? VIPS_FORMAT_FLOAT
                                                                       : VIPS_FORMAT_UCHAR;
  const VipsInterpretation interpretation =
      s.depth == SampleDepth::k16 ? (s.colours == 1 ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_RGB16)
                                  : (s.colours == 1 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB);
  std::lock_guard<std::mutex> lock(g_vipsMutex);
  vips_error_clear();
  try {
    // The spool as bytes (libvips maps it a window at a time), then read as
    // samples of the depth written; the metadata goes on an image of its own.
    const int sampleBytes = int(vips_format_sizeof(bandFormat));
    VipsImage* raw =
        vips_image_new_from_file_raw(s.spool.temporary().c_str(), int(s.width), int(s.height), bands * sampleBytes, 0);
    if (raw == nullptr) throw VError(vips_error_buffer());
    VImage out = VImage(raw).copy(
        VImage::option()->set("bands", bands)->set("format", bandFormat)->set("interpretation", interpretation));
    AttachMetadata(out, s.metadata);
    VTarget target = VTarget::new_to_descriptor(::fileno(s.output.file()));
    switch (s.options.format) {
      case FileFormat::kJpeg: out.jpegsave_target(target, SaverOptions(s.options, s.depth)); break;
      case FileFormat::kPng: out.pngsave_target(target, SaverOptions(s.options, s.depth)); break;
      case FileFormat::kWebp: out.webpsave_target(target, SaverOptions(s.options, s.depth)); break;
      default: out.tiffsave_target(target, SaverOptions(s.options, s.depth)); break;
    }
    // The output is open for writing only: EXIF is added through a second
    // descriptor that also reads.
    if (const int descriptor = s.options.format == FileFormat::kTiff && !s.metadata.exif.empty()
                                   ? ::open(s.output.temporary().c_str(), O_RDWR | O_CLOEXEC)
                                   : -1;
        descriptor >= 0) {
      TiffFile extended = DescriptorTiff(descriptor);
      AddExifToTiff(extended, s.metadata.exif, s.width, s.height);
      ::close(descriptor);
    }
  } catch (const VError& e) {
    reason = "the encoder failed: " + Explain(e.what(), {});
    vips_error_clear();
    return false;
  }
  s.spool.Abandon();
  if (!s.output.Commit()) {
    reason = s.output.error();
    return false;
  }
  return true;
}

}  // namespace kestrune
