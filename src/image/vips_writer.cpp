// The whole write of a picture through libvips: interleaved at the written
// depth, its metadata attached, encoded in memory and written to the file.
#include "image/vips_writer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "image/byte_conversion.h"
#include "image/image_writers.h"
#include "image/tiff_exif.h"
#include "image/vips_messages.h"
#include "image/vips_metadata.h"
#include "image/vips_runtime.h"
#include "image/vips_samples.h"

namespace kestrune {

namespace vipsio {

using vips::VImage;

vips::VOption* SaverOptions(const WriteOptions& options, SampleDepth depth) {
  switch (options.format) {
    case FileFormat::kPng: return VImage::option()->set("filter", VIPS_FOREIGN_PNG_FILTER_ALL);
    case FileFormat::kJpeg: return VImage::option()->set("Q", options.quality);
    case FileFormat::kWebp: return VImage::option()->set("Q", options.quality)->set("lossless", options.lossless);
    default:
      return VImage::option()
          ->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE)
          ->set("predictor", depth == SampleDepth::k32Float ? VIPS_FOREIGN_TIFF_PREDICTOR_FLOAT
                                                            : VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL);
  }
}

}  // namespace vipsio

using namespace vipsio;

namespace {

using vips::VError;
using vips::VImage;

// A TIFF file held in `bytes`, which writes past its end extend.
TiffFile VectorTiff(std::vector<uint8_t>& bytes) {
  TiffFile file;
  file.size = bytes.size();
  file.read = [&bytes](uint64_t offset, uint8_t* out, std::size_t count) {
    if (offset > bytes.size() || count > bytes.size() - offset) return false;
    std::memcpy(out, bytes.data() + offset, count);
    return true;
  };
  file.write = [&bytes](uint64_t offset, const uint8_t* in, std::size_t count) {
    if (offset + count > bytes.size()) bytes.resize(offset + count);
    std::memcpy(bytes.data() + offset, in, count);
    return true;
  };
  return file;
}

}  // namespace

Error WriteWithVips(std::FILE* file, const FloatImage& image, const WriteOptions& options, SampleDepth depth) {
  if (image.IsEmpty()) return EmptyImageError();
  if (const std::string& problem = StartVips(); !problem.empty()) return WriteFailure(problem);
  const FileFormat format = options.format;
  const bool alpha = image.HasAlpha() && format != FileFormat::kJpeg;
  const int colours = image.metadata.greyscale ? 1 : 3;
  const int bands = colours + (alpha ? 1 : 0);

  std::vector<uint8_t> bytes;
  std::vector<uint16_t> words;
  std::vector<float> floats;
  void* data = nullptr;
  std::size_t size = 0;
  VipsBandFormat bandFormat = VIPS_FORMAT_UCHAR;
  VipsInterpretation interpretation = colours == 1 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB;
  try {
    if (depth == SampleDepth::k16) {
      words = Interleave<uint16_t>(image, colours, alpha, FloatToWord);
      data = words.data(), size = words.size() * 2, bandFormat = VIPS_FORMAT_USHORT;
      interpretation = colours == 1 ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_RGB16;
    } else if (depth == SampleDepth::k32Float) {
      floats = Interleave<float>(image, colours, alpha, [](float v) { return v / 255.0f; });
      data = floats.data(), size = floats.size() * 4, bandFormat = VIPS_FORMAT_FLOAT;
    } else {
      bytes = Interleave<uint8_t>(image, colours, alpha, FloatToByte);
      data = bytes.data(), size = bytes.size();
    }
  } catch (const std::bad_alloc&) {
    return WriteFailure("not enough memory to encode the image");
  }

  std::lock_guard<std::mutex> lock(g_vipsMutex);
  vips_error_clear();
  VipsBlob* blob = nullptr;
  try {
    VImage out = VImage::new_from_memory(data, size, int(image.width), int(image.height), bands, bandFormat)
                     .copy(VImage::option()->set("interpretation", interpretation));
    AttachMetadata(out, image.metadata);
    switch (format) {
      case FileFormat::kJpeg: blob = out.jpegsave_buffer(SaverOptions(options, depth)); break;
      case FileFormat::kPng: blob = out.pngsave_buffer(SaverOptions(options, depth)); break;
      case FileFormat::kWebp: blob = out.webpsave_buffer(SaverOptions(options, depth)); break;
      case FileFormat::kTiff: blob = out.tiffsave_buffer(SaverOptions(options, depth)); break;
      default: return WriteFailure("not a format this program writes");
    }
  } catch (const VError& e) {
    const std::string reason = "the encoder failed: " + Explain(e.what(), {});
    vips_error_clear();
    return WriteFailure(reason);
  }
  std::size_t length = 0;
  const auto* encoded =
      static_cast<const uint8_t*>(vips_area_get_data(&blob->area, &length, nullptr, nullptr, nullptr));
  std::vector<uint8_t> tiff;
  if (format == FileFormat::kTiff && !image.metadata.exif.empty()) {
    // libvips leaves EXIF out of TIFF files: it is added here.
    tiff.assign(encoded, encoded + length);
    TiffFile extended = VectorTiff(tiff);
    if (AddExifToTiff(extended, image.metadata.exif, image.width, image.height))
      encoded = tiff.data(), length = tiff.size();
  }
  const bool written = std::fwrite(encoded, 1, length, file) == length;
  vips_area_unref(&blob->area);
  return written ? Error{} : WriteFailure();
}

}  // namespace kestrune
