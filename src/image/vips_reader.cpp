// The whole read of a file through libvips: the loader libvips picks, the
// checks made before it decodes, the decoding with its damage, the planes.
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include <vips/vips8>

#include "image/format_readers.h"
#include "image/jpeg_coefficients.h"
#include "image/tiff_exif.h"
#include "image/vips_header_checks.h"
#include "image/vips_messages.h"
#include "image/vips_metadata.h"
#include "image/vips_runtime.h"
#include "image/vips_samples.h"

namespace kestrune {

using namespace vipsio;

namespace {

using vips::VError;
using vips::VImage;
using vips::VSource;

FileFormat FormatOfLoader(const std::string& loader) {
  static const struct {
    const char* prefix;
    FileFormat format;
  } kLoaders[] = {{"jpegload", FileFormat::kJpeg}, {"pngload", FileFormat::kPng},   {"tiffload", FileFormat::kTiff},
                  {"webpload", FileFormat::kWebp}, {"heifload", FileFormat::kHeif}, {"gifload", FileFormat::kGif},
                  {"ppmload", FileFormat::kPnm}};
  for (const auto& l : kLoaders)
    if (loader.rfind(l.prefix, 0) == 0) return l.format;
  return FileFormat::kUnknown;
}

// A format's name in messages: the enumeration's, else libvips's loader
// ("matrix" for "matrixload_source").
std::string NameOf(FileFormat format, const std::string& loader) {
  if (format != FileFormat::kUnknown) return FormatName(format);
  return loader.substr(0, loader.find("load"));
}

// Why an image of these bands cannot be read, else empty.
std::string LayoutProblem(const std::string& name, const VImage& image) {
  const VipsInterpretation interpretation = image.interpretation();
  if (interpretation == VIPS_INTERPRETATION_CMYK)
    return name + " in CMYK is not supported: its colours would need a conversion with the profile it was made for";
  if (image.get_image()->Coding != VIPS_CODING_NONE || interpretation == VIPS_INTERPRETATION_LAB ||
      interpretation == VIPS_INTERPRETATION_LABS || interpretation == VIPS_INTERPRETATION_XYZ ||
      interpretation == VIPS_INTERPRETATION_LCH)
    return name + " in the " + vips_enum_nick(VIPS_TYPE_INTERPRETATION, interpretation) +
           " colour space is not supported";
  if (image.bands() < 1 || image.bands() > 4)
    return name + " with " + std::to_string(image.bands()) + " channels is not supported";
  switch (image.format()) {
    case VIPS_FORMAT_UCHAR:
    case VIPS_FORMAT_USHORT:
    case VIPS_FORMAT_FLOAT:
    case VIPS_FORMAT_DOUBLE: return {};
    default:
      return name + " with " + vips_enum_nick(VIPS_TYPE_BAND_FORMAT, image.format()) +
             " samples is not supported (8 and 16 bits unsigned, or floats)";
  }
}

// The coefficients of the JPEG file `in`, turned by `orientation`.
JpegCoefficientsRead ReadCoefficients(const VipsInput& in, int orientation, JpegCoefficients& jpeg,
                                      std::string& reason) {
  if (in.descriptor < 0) return ReadJpegCoefficients(in.data, std::size_t(in.size), orientation, jpeg, reason);
  ::lseek(in.descriptor, 0, SEEK_SET);
  const int copy = ::dup(in.descriptor);
  std::FILE* file = copy >= 0 ? ::fdopen(copy, "rb") : nullptr;
  if (file == nullptr) {
    reason = std::strerror(errno);
    if (copy >= 0) ::close(copy);
    return JpegCoefficientsRead::kDamaged;
  }
  const JpegCoefficientsRead read = ReadJpegCoefficients(file, orientation, jpeg, reason);
  std::fclose(file);
  return read;
}

}  // namespace

ReadStatus ReadWithVips(const VipsInput& in, ImageInfo& header, FloatImage* image, DamagePolicy policy) {
  if (const std::string& problem = StartVips(); !problem.empty()) return Refusal(in.signature, problem);
  std::lock_guard<std::mutex> lock(g_vipsMutex);
  ReadStatus status;
  WarningCapture capture(status.warnings);
  vips_error_clear();
  FileFormat format = in.signature;
  std::string loader;
  try {
    VSource source = OpenSource(in);
    const char* found = vips_foreign_find_load_source(source.get_source());
    vips_error_clear();
    if (found == nullptr) {
      if (format != FileFormat::kUnknown) {
        ReadStatus damage = Damage(format, std::string(FormatName(format)) + " truncated in its header", false, policy);
        damage.warnings = std::move(status.warnings);
        return damage;
      }
      return NotAnImage(in.size);
    }
    // The loader's type name ("VipsForeignLoadPngSource") to its nickname
    // ("pngload_source").
    const char* nickname = vips_nickname_find(g_type_from_name(found));
    loader = nickname != nullptr ? nickname : found;
  } catch (const VError& e) {
    vips_error_clear();
    return Refusal(format, "the file cannot be read: " + Explain(e.what(), status.warnings));
  }
  format = FormatOfLoader(loader);
  const std::string name = NameOf(format, loader);
  status.format = header.format = format;

  // Headers libvips would misread are refused before it reads them; PNM
  // data cut short is damage found from the file's length.
  uint32_t pnmRows = UINT32_MAX;
  const std::string headerProblem = format == FileFormat::kTiff  ? TiffHeaderProblem(in)
                                    : format == FileFormat::kPnm ? PnmHeaderProblem(in, pnmRows)
                                                                 : std::string();
  if (!headerProblem.empty()) {
    ReadStatus refused = pnmRows == UINT32_MAX ? Refusal(format, headerProblem)
                                               : Damage(format, headerProblem, pnmRows > 0, policy);
    if (!refused.ok()) return refused;
    status.damaged = true;
    status.message = headerProblem;
  }

  // Sizes a file of this length cannot hold are refused before anything is
  // decoded.
  uint32_t pngBits = 0;
  const std::string sizeProblem = format == FileFormat::kPng    ? PngSizeProblem(in, pngBits)
                                  : format == FileFormat::kJpeg ? JpegSizeProblem(in)
                                                                : std::string();

  // Decoding takes the samples as decoded, a copy of them and the planes.
  const auto decodeBytes = [](uint64_t width, uint64_t height, uint64_t sampleBytes, bool alpha) {
    return width * height * (2 * sampleBytes + (alpha ? 16 : 12));
  };
  uint64_t webpWidth = 0, webpHeight = 0;
  if (image && format == FileFormat::kWebp && WebpSize(in, webpWidth, webpHeight))
    if (ReadStatus memory = MemoryCheck(format, webpWidth, webpHeight, decodeBytes(webpWidth, webpHeight, 4, true));
        !memory.ok())
      return memory;

  // A strict read stops at the first error or truncation; a read that keeps
  // damage tries again without stopping once the strict one failed.
  VImage stored;
  try {
    stored = Load(in, VIPS_FAIL_ON_ERROR);
  } catch (const VError& e) {
    const std::string reason = Explain(e.what(), status.warnings);
    vips_error_clear();
    ReadStatus failed = SaysTruncated(reason)
                            ? Damage(format, name + " truncated in its header: " + reason, false, policy)
                            : Refusal(format, name + " cannot be read: " + reason);
    failed.warnings = std::move(status.warnings);
    return failed;
  }
  const uint32_t storedWidth = static_cast<uint32_t>(stored.width()),
                 storedHeight = static_cast<uint32_t>(stored.height());
  int orientation = vips_image_get_typeof(stored.get_image(), VIPS_META_ORIENTATION)
                        ? vips_image_get_orientation(stored.get_image())
                        : 1;
  if (orientation < 1 || orientation > 8) orientation = 1;
  const bool swap = orientation >= 5;
  header.width = swap ? storedHeight : storedWidth;
  header.height = swap ? storedWidth : storedHeight;
  header.hasAlpha = stored.bands() == 2 || stored.bands() == 4;
  header.greyscale = stored.bands() <= 2;
  header.depth = DepthOf(stored.format());
  header.bitsPerPixel = pngBits != 0 ? pngBits
                                     : static_cast<uint32_t>(vips_format_sizeof(stored.format()) * 8 * stored.bands());
  header.hasProfile = vips_image_get_typeof(stored.get_image(), VIPS_META_ICC_NAME) != 0;
  header.hasExif = vips_image_get_typeof(stored.get_image(), VIPS_META_EXIF_NAME) != 0 ||
                   (format == FileFormat::kTiff && !ExifFromTiff(TiffOf(in)).empty());
  if (std::string problem = LayoutProblem(name, stored); !problem.empty()) {
    ReadStatus refusal = Refusal(format, std::move(problem));
    refusal.warnings = std::move(status.warnings);
    return refusal;
  }
  if (std::string problem = SizeLimitProblem(format, storedWidth, storedHeight); !problem.empty()) {
    if (format == FileFormat::kUnknown) problem.replace(0, std::strlen("unknown"), name);
    return Refusal(format, std::move(problem));
  }
  if (!sizeProblem.empty()) return Damage(format, sizeProblem, false, policy);
  if (!image) return status;
  if (ReadStatus memory =
          MemoryCheck(format, storedWidth, storedHeight,
                      decodeBytes(storedWidth, storedHeight, vips_format_sizeof(stored.format()) * stored.bands(),
                                  header.hasAlpha));
      !memory.ok()) {
    if (format == FileFormat::kUnknown) memory.message.replace(0, std::strlen("unknown"), name);
    return memory;
  }

  // Decoding: the whole image into memory, then spread over the planes, on
  // one of libvips's threads. With several, a tile whose decoding failed may
  // be blacked out and handed to another thread as a success, so that
  // whether the read fails would depend on their timing; its decoders work
  // one at a time anyway. libvips's warning "error in tile" and a decoder's
  // warning that the data ended fail the read too.
  // A failure may come without a word in libvips's error buffer (a PNG whose
  // data ends early), so whether it failed and why are kept apart.
  struct OneThread {
    int threads = vips_concurrency_get();
    OneThread() { vips_concurrency_set(1); }
    ~OneThread() { vips_concurrency_set(threads); }
  } oneThread;
  void* samples = nullptr;
  std::string damage = status.message;  // PNM data found cut short
  bool failed = !damage.empty();
  std::string failure;
  const auto failedTile = [&] {
    return std::any_of(status.warnings.begin(), status.warnings.end(),
                       [](const std::string& w) { return w.rfind("error in tile", 0) == 0; });
  };
  if (!failed) {
    try {
      std::size_t bytes = 0;
      samples = stored.write_to_memory(&bytes);
      failed = failedTile() || std::any_of(status.warnings.begin(), status.warnings.end(), SaysTruncated);
    } catch (const VError& e) {
      failed = true;
      failure = e.what();
    }
  }
  if (failed) {
    g_free(samples);
    samples = nullptr;
    const std::string reason = Explain(failure, status.warnings);
    vips_error_clear();
    if (damage.empty())
      damage = name + (SaysTruncated(reason) ? " truncated" : " damaged") + StopRow(status.warnings, storedHeight) +
               ": " + reason;
    if (policy == DamagePolicy::kKeepReadable) {
      try {
        std::size_t bytes = 0;
        stored = Load(in, VIPS_FAIL_ON_NONE);
        samples = stored.write_to_memory(&bytes);
      } catch (const VError&) {
        vips_error_clear();
      }
    }
    if (samples == nullptr) {
      ReadStatus failed = Damage(format, damage, false, policy);
      failed.warnings = std::move(status.warnings);
      return failed;
    }
  }
  struct Freer {
    void* p;
    ~Freer() { g_free(p); }
  } freer{samples};
  const VipsBandFormat bandFormat = stored.format();
  const int bands = stored.bands();
  if (std::string problem = NonFiniteProblem(name, bandFormat, samples, storedWidth, storedHeight, bands, 0);
      !problem.empty()) {
    ReadStatus refusal = Refusal(format, std::move(problem));
    refusal.warnings = std::move(status.warnings);
    return refusal;
  }
  ImageMetadata meta = MetadataOf(stored, header, in);
  // Closing the decoder gives its last remarks (libjpeg's count of corrupt
  // data), which belong to this read.
  stored = VImage();
  if (damage.empty() && format == FileFormat::kJpeg)
    for (const std::string& w : status.warnings)
      if (SaysCorruptJpeg(w)) {
        damage = name + (SaysTruncated(w) ? " truncated: " : " damaged: ") + w;
        break;
      }
  if (!damage.empty()) {
    ReadStatus kept = Damage(format, damage, true, policy);
    kept.warnings = std::move(status.warnings);
    if (!kept.ok()) return kept;
    status = std::move(kept);
  }

  try {
    image->Allocate(header.width, header.height, header.hasAlpha, false);
  } catch (const std::bad_alloc&) {
    return Refusal(format, "not enough memory for the image");
  }
  switch (bandFormat) {
    case VIPS_FORMAT_UCHAR:
      Spread(static_cast<const uint8_t*>(samples), storedWidth, storedHeight, bands, orientation, 1.0f, false, *image);
      break;
    case VIPS_FORMAT_USHORT:
      Spread(static_cast<const uint16_t*>(samples), storedWidth, storedHeight, bands, orientation, 257.0f, true,
             *image);
      break;
    case VIPS_FORMAT_FLOAT:
      Spread(static_cast<const float*>(samples), storedWidth, storedHeight, bands, orientation, 255.0f, false, *image);
      break;
    default:
      Spread(static_cast<const double*>(samples), storedWidth, storedHeight, bands, orientation, 255.0f, false, *image);
      break;
  }
  image->sourceBitDepth = 0;
  image->metadata = std::move(meta);
  if (format == FileFormat::kJpeg && !status.damaged) {
    std::string reason;
    auto jpeg = std::make_shared<JpegCoefficients>();
    if (ReadCoefficients(in, orientation, *jpeg, reason) == JpegCoefficientsRead::kDamaged) {
      ReadStatus kept = Damage(format, name + " damaged: " + reason, true, policy);
      kept.warnings = std::move(status.warnings);
      if (!kept.ok()) image->Release();
      return kept;
    }
    if (jpeg->width == image->width && jpeg->height == image->height && !jpeg->components.empty())
      image->jpeg = std::move(jpeg);
  }
  return status;
}

}  // namespace kestrune
