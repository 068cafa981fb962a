// The file formats libvips reads and writes for the program: every one but
// BMP and PFM. libvips starts once per process, with the loaders it marks
// untrusted blocked, so that a user's file reaches only the decoders chosen
// here, and with its operation cache off (every file is read once).
//
// One read or write at a time goes through libvips: its error buffer is
// shared by the process, and its warnings, which come from its worker
// threads, are collected for the read under way.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include <vips/vips8>

#include "base/threading.h"
#include "image/byte_conversion.h"
#include "image/format_readers.h"
#include "image/image_writers.h"
#include "image/jpeg_coefficients.h"
#include "image/atomic_output.h"
#include "image/row_files.h"
#include "image/tiff_exif.h"

namespace kestrune {

namespace {

using vips::VError;
using vips::VImage;
using vips::VRegion;
using vips::VSource;
using vips::VTarget;

std::mutex g_vipsMutex;  // one read or write at a time

// The warnings libvips logs during the read under way, each text once.
std::mutex g_warningsMutex;
std::vector<std::string>* g_warnings = nullptr;

std::string Reason(const std::string& text);

void CollectWarning(const gchar*, GLogLevelFlags, const gchar* message, gpointer) {
  std::lock_guard<std::mutex> lock(g_warningsMutex);
  if (g_warnings == nullptr || message == nullptr || g_warnings->size() >= 32) return;
  try {
    const std::string text = Reason(message);
    if (std::find(g_warnings->begin(), g_warnings->end(), text) == g_warnings->end()) g_warnings->push_back(text);
  } catch (const std::bad_alloc&) {
  }
}

// Collects libvips's warnings into `into` while it lives.
class WarningCapture {
 public:
  explicit WarningCapture(std::vector<std::string>& into) {
    std::lock_guard<std::mutex> lock(g_warningsMutex);
    g_warnings = &into;
  }
  ~WarningCapture() {
    std::lock_guard<std::mutex> lock(g_warningsMutex);
    g_warnings = nullptr;
  }
  WarningCapture(const WarningCapture&) = delete;
  WarningCapture& operator=(const WarningCapture&) = delete;
};

// Empty when libvips runs, else why it does not.
const std::string& StartVips() {
  static std::once_flag once;
  static std::string problem;
  std::call_once(once, [] {
    if (vips_init("kestrune") != 0) {
      problem = std::string("the image library cannot start: ") + vips_error_buffer();
      vips_error_clear();
      return;
    }
    vips_block_untrusted_set(TRUE);
    // libvips 8.14 marks its PNM loader untrusted; it is the one chosen to
    // read PBM, PGM and PPM files (PFM never reaches it).
    vips_operation_block_set("VipsForeignLoadPpm", FALSE);
    vips_cache_set_max(0);
    g_log_set_handler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE), CollectWarning,
                      nullptr);
  });
  return problem;
}

// libvips's error text as one line: its "domain: " prefixes dropped (a
// chunk or marker name in capitals stays), its lines joined.
std::string Reason(const std::string& text) {
  std::string reason;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t colon = line.find(": ");
    if (colon != std::string::npos && line.find(' ') > colon &&
        std::any_of(line.begin(), line.begin() + colon, [](unsigned char c) { return std::islower(c); }))
      line.erase(0, colon + 2);
    if (line.empty() || reason.find(line) != std::string::npos) continue;
    if (!reason.empty()) reason += "; ";
    reason += line;
  }
  return reason;
}

// The error's reason followed by the decoder's first warnings, which often
// say more ("libpng read error; IDAT: CRC error"). libvips's own note of a
// failed tile is left to StopRow.
std::string Explain(const std::string& error, const std::vector<std::string>& warnings) {
  std::string reason = Reason(error);
  int added = 0;
  for (const std::string& w : warnings) {
    const std::string remark = Reason(w);
    if (added == 2 || remark.rfind("error in tile", 0) == 0 || reason.find(remark) != std::string::npos) continue;
    reason += (reason.empty() ? "" : "; ") + remark;
    ++added;
  }
  return reason.empty() ? "the decoder gave no reason" : reason;
}

bool Contains(const std::string& text, const char* part) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower.find(part) != std::string::npos;
}

// The file ended before the decoder had what it needed.
bool SaysTruncated(const std::string& text) {
  return (Contains(text, "premature end") && !Contains(text, "data segment")) || Contains(text, "not enough data") ||
         Contains(text, "truncated") ||
         Contains(text, "unexpected end") || Contains(text, "end of file");
}

// libjpeg's warnings about corrupt data; decoding goes on past them with
// made-up samples, so they mark the file as damaged. Extraneous bytes
// before a marker are skipped without loss and do not.
bool SaysCorruptJpeg(const std::string& text) {
  return (Contains(text, "corrupt jpeg data") && !Contains(text, "extraneous bytes")) ||
         Contains(text, "premature end of jpeg") || Contains(text, "inconsistent progression");
}

// Where decoding stopped (" after row 232 of 512"), from libvips's "error
// in tile X x Y"; empty when it does not say.
std::string StopRow(const std::vector<std::string>& warnings, uint32_t height) {
  for (const std::string& w : warnings) {
    unsigned x = 0, y = 0;
    if (std::sscanf(w.c_str(), "error in tile %u x %u", &x, &y) == 2)
      return " after row " + std::to_string(y) + " of " + std::to_string(height);
  }
  return {};
}

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

uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }
uint32_t Be16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }

// Deflate codes at least two bits for a match of at most 258 bytes, so a
// zlib stream never holds more than 1032 bytes of data per byte.
constexpr uint64_t kMaxInflateRatio = 1032;

// PNG: the filtered rows (a filter byte and the packed samples each) that
// the image header declares must fit in what the file can inflate to.
std::string PngSizeProblem(const VipsInput& in, uint32_t& bitsPerPixel) {
  if (in.headSize < 29 || std::memcmp(in.head + 12, "IHDR", 4) != 0) return {};
  const uint64_t width = Be32(in.head + 16), height = Be32(in.head + 20);
  const uint32_t depth = in.head[24], colourType = in.head[25];
  const uint32_t channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
  bitsPerPixel = depth * channels;
  const uint64_t rawBytes = height * (1 + (width * bitsPerPixel + 7) / 8);
  if (rawBytes <= kMaxInflateRatio * in.size) return {};
  return "PNG of " + std::to_string(width) + " x " + std::to_string(height) + " pixels needs " +
         std::to_string(rawBytes) + " bytes of image data, more than a file of " + std::to_string(in.size) +
         " bytes can hold (at most " + std::to_string(kMaxInflateRatio * in.size) + ")";
}

// JPEG: Huffman coding spends at least one bit on each code, so the first
// scan takes at least two bits per 8 x 8 block when sequential (a DC code
// and an end of block), one in a progressive DC scan, and 15 per run of up
// to 32767 empty blocks in a progressive AC scan. Arithmetic coding has no
// useful bound. The markers are followed up to the first scan within the
// first bytes.
std::string JpegSizeProblem(const VipsInput& in) {
  const uint8_t* p = in.head;
  const std::size_t n = in.headSize;
  struct Component {
    uint32_t id, h, v;
  };
  std::vector<Component> components;
  uint32_t width = 0, height = 0, maxH = 1, maxV = 1;
  bool progressive = false, arithmetic = false;
  std::size_t i = 2;
  while (i + 4 <= n) {
    if (p[i] != 0xFF) return {};
    const uint8_t marker = p[i + 1];
    if (marker == 0xFF) {
      ++i;
      continue;
    }
    const std::size_t length = Be16(p + i + 2);
    if (length < 2 || i + 2 + length > n) return {};
    const uint8_t* segment = p + i + 4;
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      if (length < 8) return {};
      height = Be16(segment + 1);
      width = Be16(segment + 3);
      const uint32_t count = segment[5];
      if (length < 8 + 3 * count) return {};
      for (uint32_t c = 0; c < count; ++c) {
        const uint8_t* s = segment + 6 + 3 * c;
        components.push_back({s[0], std::max(1u, uint32_t(s[1] >> 4)), std::max(1u, uint32_t(s[1] & 15))});
        maxH = std::max(maxH, components.back().h);
        maxV = std::max(maxV, components.back().v);
      }
      progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
      arithmetic = marker >= 0xC9;
    } else if (marker == 0xDA) {
      if (components.empty() || arithmetic || width == 0 || height == 0 || length < 3) return {};
      const uint32_t inScan = segment[0];
      if (length < 6 + 2 * inScan) return {};
      uint64_t blocks = 0;
      for (uint32_t k = 0; k < inScan; ++k)
        for (const Component& c : components)
          if (c.id == segment[1 + 2 * k]) {
            const uint64_t w = (uint64_t{width} * c.h + 8 * maxH - 1) / (8 * maxH);
            const uint64_t h = (uint64_t{height} * c.v + 8 * maxV - 1) / (8 * maxV);
            blocks += w * h;
          }
      const uint32_t ss = segment[1 + 2 * inScan];
      const uint64_t bits = !progressive ? 2 * blocks : ss == 0 ? blocks : (blocks + 32766) / 32767 * 15;
      const uint64_t least = (bits + 7) / 8;
      if (least <= in.size) return {};
      return "JPEG of " + std::to_string(width) + " x " + std::to_string(height) + " pixels needs at least " +
             std::to_string(least) + " bytes for the " + std::to_string(blocks) +
             " blocks of its first scan, more than the file's " + std::to_string(in.size);
    }
    i += 2 + length;
  }
  return {};
}

// `count` bytes of the file from `offset`; false past its end.
bool ReadAt(const VipsInput& in, uint64_t offset, uint8_t* out, std::size_t count) {
  if (offset > in.size || count > in.size - offset) return false;
  if (in.descriptor < 0) {
    std::memcpy(out, in.data + offset, count);
    return true;
  }
  while (count > 0) {
    const ssize_t got = ::pread(in.descriptor, out, count, off_t(offset));
    if (got <= 0) return false;
    out += got, offset += uint64_t(got), count -= std::size_t(got);
  }
  return true;
}

TiffFile TiffOf(const VipsInput& in) {
  TiffFile file;
  file.size = in.size;
  file.read = [&in](uint64_t offset, uint8_t* out, std::size_t count) { return ReadAt(in, offset, out, count); };
  return file;
}

// PNM: libvips reads "-1" as a width of 1 and takes a maximum value of 0,
// so the header is checked here; binary data (P4 to P6) must be all there.
// Sets `rows` to the complete rows when the data is cut short.
std::string PnmHeaderProblem(const VipsInput& in, uint32_t& rows) {
  const uint8_t* p = in.head;
  const std::size_t n = in.headSize;
  const char kind = n > 2 ? char(p[1]) : '0';
  if (kind < '1' || kind > '6') return {};
  const int fields = kind == '1' || kind == '4' ? 2 : 3;
  std::string tokens[3];
  std::size_t i = 2;
  for (int f = 0; f < fields; ++f) {
    while (i < n && (std::isspace(p[i]) || p[i] == '#'))
      if (p[i] == '#')
        while (i < n && p[i] != '\n' && p[i] != '\r') ++i;
      else
        ++i;
    while (i < n && !std::isspace(p[i]) && p[i] != '#' && tokens[f].size() < 12) tokens[f] += char(p[i++]);
    if (i == n) return {};  // cut in its header: libvips says so
  }
  const auto number = [](const std::string& t) {
    return !t.empty() && t.size() <= 9 && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; })
               ? std::stoll(t)
               : -1;
  };
  const long long width = number(tokens[0]), height = number(tokens[1]), top = fields == 3 ? number(tokens[2]) : 1;
  if (width < 0 || height < 0)
    return "PNM width and height must be whole numbers, not '" + tokens[0] + "' and '" + tokens[1] + "'";
  if (top < 1 || top > 65535) return "PNM maximum value must be from 1 to 65535, not '" + tokens[2] + "'";
  if (std::string problem = SizeLimitProblem(FileFormat::kPnm, uint64_t(width), uint64_t(height)); !problem.empty())
    return problem;
  if (kind < '4') {
    // Text: every sample a number (P1: a digit), which libvips's reader
    // does not count; where the text ends the rest would be black.
    const uint64_t samples = uint64_t(width) * uint64_t(height) * (kind == '3' ? 3 : 1);
    uint64_t found = 0;
    bool inNumber = false;
    uint8_t chunk[65536];
    for (uint64_t at = i; at < in.size && found < samples;) {
      const std::size_t count = std::size_t(std::min<uint64_t>(sizeof chunk, in.size - at));
      if (!ReadAt(in, at, chunk, count)) break;
      for (std::size_t k = 0; k < count && found < samples; ++k) {
        const bool space = std::isspace(chunk[k]);
        found += !space && (kind == '1' || !inNumber);
        inNumber = !space;
      }
      at += count;
    }
    if (found >= samples) return {};
    rows = uint32_t(found / (samples / uint64_t(height)));
    return "PNM truncated after row " + std::to_string(rows) + " of " + std::to_string(height) + ": its text holds " +
           std::to_string(found) + " of its " + std::to_string(samples) + " samples";
  }
  const uint64_t offset = i + 1, rowBytes = kind == '4' ? (uint64_t(width) + 7) / 8
                                                         : uint64_t(width) * (kind == '6' ? 3 : 1) * (top > 255 ? 2 : 1);
  const uint64_t needed = rowBytes * uint64_t(height), held = in.size > offset ? in.size - offset : 0;
  if (held >= needed) return {};
  rows = uint32_t(held / rowBytes);
  return TruncatedRowsMessage(FileFormat::kPnm, rows, uint64_t(height), false, needed, offset, held);
}

// TIFF: libtiff reads a palette image without its colour map as grey, and
// libvips copies samples of a photometric interpretation it does not know
// as they are; both are refused from the first directory's tags.
std::string TiffHeaderProblem(const VipsInput& in) {
  uint8_t h[8];
  if (!ReadAt(in, 0, h, 8)) return {};
  const bool little = h[0] == 'I';
  const auto u16 = [&](const uint8_t* q) { return little ? uint32_t(q[0] | q[1] << 8) : Be16(q); };
  const auto u32 = [&](const uint8_t* q) { return little ? uint32_t(u16(q) | u16(q + 2) << 16) : Be32(q); };
  const uint64_t ifd = u32(h + 4);
  uint8_t c[2];
  if (u16(h + 2) != 42 || !ReadAt(in, ifd, c, 2)) return {};  // BigTIFF: left to libtiff
  std::vector<uint8_t> entries(std::size_t{u16(c)} * 12);
  if (!ReadAt(in, ifd + 2, entries.data(), entries.size())) return {};
  long photometric = -1;
  bool colourMap = false;
  for (std::size_t e = 0; e < entries.size(); e += 12) {
    const uint8_t* entry = entries.data() + e;
    if (u16(entry) == 262) photometric = u16(entry + 2) == 3 ? u16(entry + 8) : u32(entry + 8);
    colourMap = colourMap || u16(entry) == 320;
  }
  // Grey (0, 1), RGB, palette, CMYK, YCbCr, CIE L*a*b* and LogLuv.
  static const long kKnown[] = {0, 1, 2, 3, 5, 6, 8, 32845};
  if (photometric >= 0 && std::find(std::begin(kKnown), std::end(kKnown), photometric) == std::end(kKnown))
    return "TIFF with photometric interpretation " + std::to_string(photometric) + " is not supported";
  if (photometric == 3 && !colourMap) return "TIFF palette image without its colour map";
  return {};
}

// WebP: the canvas size its first chunk declares (extended, lossless or
// lossy). libvips's loader allocates a whole frame already when it reads the
// header, so this size is checked against the memory first.
bool WebpSize(const VipsInput& in, uint64_t& width, uint64_t& height) {
  const uint8_t* p = in.head;
  if (in.headSize < 30) return false;
  const auto le = [](const uint8_t* q, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | q[i];
    return v;
  };
  if (std::memcmp(p + 12, "VP8X", 4) == 0) {
    width = le(p + 24, 3) + 1, height = le(p + 27, 3) + 1;
  } else if (std::memcmp(p + 12, "VP8L", 4) == 0) {
    width = (le(p + 21, 4) & 0x3FFF) + 1, height = (le(p + 21, 4) >> 14 & 0x3FFF) + 1;
  } else if (std::memcmp(p + 12, "VP8 ", 4) == 0) {
    width = le(p + 26, 2) & 0x3FFF, height = le(p + 28, 2) & 0x3FFF;
  } else {
    return false;
  }
  return true;
}

VSource OpenSource(const VipsInput& in) {
  if (in.descriptor >= 0) {
    ::lseek(in.descriptor, 0, SEEK_SET);
    return VSource::new_from_descriptor(in.descriptor);
  }
  return VSource::new_from_memory(in.data, static_cast<std::size_t>(in.size));
}

VImage Load(const VipsInput& in, VipsFailOn failOn) {
  return VImage::new_from_source(OpenSource(in), "",
                                 VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL)->set("fail_on", failOn));
}

std::vector<uint8_t> Blob(const VImage& image, const char* name) {
  if (vips_image_get_typeof(image.get_image(), name) == 0) return {};
  const void* data = nullptr;
  std::size_t length = 0;
  if (vips_image_get_blob(image.get_image(), name, &data, &length) != 0) {
    vips_error_clear();
    return {};
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  return std::vector<uint8_t>(bytes, bytes + length);
}

// A file libvips reads, for the program's own look at a TIFF file's EXIF.
TiffFile TiffOf(const VipsInput& in);

// The profile, tags, depth and greyscale flag a read records; a TIFF
// file's EXIF from its directories, which libvips does not read.
ImageMetadata MetadataOf(const VImage& stored, const ImageHeader& header, const VipsInput& in) {
  ImageMetadata meta;
  meta.icc = Blob(stored, VIPS_META_ICC_NAME);
  meta.exif = Blob(stored, VIPS_META_EXIF_NAME);
  if (meta.exif.empty() && header.format == FileFormat::kTiff) meta.exif = ExifFromTiff(TiffOf(in));
  meta.xmp = Blob(stored, VIPS_META_XMP_NAME);
  meta.iptc = Blob(stored, VIPS_META_IPTC_NAME);
  meta.depth = header.depth;
  meta.greyscale = header.greyscale;
  return meta;
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

SampleDepth DepthOf(VipsBandFormat format) {
  return format == VIPS_FORMAT_UCHAR ? SampleDepth::k8 : format == VIPS_FORMAT_USHORT ? SampleDepth::k16
                                                                                       : SampleDepth::k32Float;
}

// Where stored pixel (x, y) of a w x h image goes when EXIF orientation
// `o` is applied: 2 mirrors, 3 turns half round, 4 flips, 5 transposes,
// 6 turns a quarter clockwise, 7 transverses, 8 turns a quarter
// anticlockwise. Orientations 5 to 8 swap the sides.
void Place(int o, uint32_t w, uint32_t h, uint32_t x, uint32_t y, uint32_t& dx, uint32_t& dy) {
  switch (o) {
    case 2: dx = w - 1 - x, dy = y; break;
    case 3: dx = w - 1 - x, dy = h - 1 - y; break;
    case 4: dx = x, dy = h - 1 - y; break;
    case 5: dx = y, dy = x; break;
    case 6: dx = h - 1 - y, dy = x; break;
    case 7: dx = h - 1 - y, dy = w - 1 - x; break;
    case 8: dx = y, dy = w - 1 - x; break;
    default: dx = x, dy = y; break;
  }
}

// Spreads the interleaved samples of a stored w x h image over the planes
// of `image` (already allocated at the oriented size): 8 bits as they are,
// 16 bits v / 257, floats x 255; one band fills all three colour planes;
// the last band of two or four is alpha.
template <class T>
void Spread(const T* samples, uint32_t w, uint32_t h, int bands, int orientation, float scale, bool divide,
            FloatImage& image) {
  const bool alpha = bands == 2 || bands == 4;
  const int colours = bands <= 2 ? 1 : 3;
  const std::size_t outWidth = image.width;
  // Each stored row lands on pixels of its own, so rows are shared out.
  ParallelFor(0, h, RowGrain(std::ptrdiff_t(w) * bands), [&](std::ptrdiff_t firstRow, std::ptrdiff_t endRow) {
    for (uint32_t y = uint32_t(firstRow); y < uint32_t(endRow); ++y) {
      uint32_t x0, y0, x1, y1;
      Place(orientation, w, h, 0, y, x0, y0);
      Place(orientation, w, h, w > 1 ? 1 : 0, y, x1, y1);
      const std::ptrdiff_t start = std::ptrdiff_t(y0 * outWidth + x0);
      const std::ptrdiff_t step = w > 1 ? std::ptrdiff_t(y1 * outWidth + x1) - start : 0;
      const T* in = samples + std::size_t{y} * w * bands;
      for (int c = 0; c < 4; ++c) {
        if (c == 3 && !alpha) break;
        const int band = c == 3 ? bands - 1 : colours == 1 ? 0 : c;
        float* out = image.samples(c) + start;
        for (uint32_t x = 0; x < w; ++x) {
          const float v = static_cast<float>(in[std::size_t{x} * bands + band]);
          out[std::ptrdiff_t(x) * step] = divide ? v / scale : v * scale;
        }
      }
    }
  });
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

// The refusal of the first sample of interleaved rows, from `firstRow` of
// the stored picture, that is not a finite number; empty when all are.
template <class T>
std::string NonFiniteProblem(const std::string& name, const T* samples, uint32_t w, uint32_t rows, int bands,
                             uint32_t firstRow) {
  static const char* const kColour[4] = {"red", "green", "blue", "alpha"}, *const kGrey[2] = {"grey", "alpha"};
  const std::size_t count = std::size_t{w} * rows * bands;
  for (std::size_t i = 0; i < count; ++i)
    if (!std::isfinite(samples[i])) {
      const std::size_t pixel = i / bands;
      const int band = int(i % bands);
      return NonFiniteMessage(name, firstRow + pixel / w, pixel % w, bands <= 2 ? kGrey[band] : kColour[band],
                              double(samples[i]));
    }
  return {};
}

std::string NonFiniteProblem(const std::string& name, VipsBandFormat format, const void* samples, uint32_t w,
                             uint32_t rows, int bands, uint32_t firstRow) {
  if (format == VIPS_FORMAT_FLOAT)
    return NonFiniteProblem(name, static_cast<const float*>(samples), w, rows, bands, firstRow);
  if (format == VIPS_FORMAT_DOUBLE)
    return NonFiniteProblem(name, static_cast<const double*>(samples), w, rows, bands, firstRow);
  return {};
}

}  // namespace

ReadStatus ReadWithVips(const VipsInput& in, ImageHeader& header, FloatImage* image, DamagePolicy policy) {
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
    ReadStatus failed = SaysTruncated(reason) ? Damage(format, name + " truncated in its header: " + reason, false, policy)
                                              : Refusal(format, name + " cannot be read: " + reason);
    failed.warnings = std::move(status.warnings);
    return failed;
  }
  const uint32_t storedWidth = static_cast<uint32_t>(stored.width()), storedHeight = static_cast<uint32_t>(stored.height());
  int orientation = vips_image_get_typeof(stored.get_image(), VIPS_META_ORIENTATION) ? vips_image_get_orientation(stored.get_image()) : 1;
  if (orientation < 1 || orientation > 8) orientation = 1;
  const bool swap = orientation >= 5;
  header.width = swap ? storedHeight : storedWidth;
  header.height = swap ? storedWidth : storedHeight;
  header.alpha = stored.bands() == 2 || stored.bands() == 4;
  header.greyscale = stored.bands() <= 2;
  header.depth = DepthOf(stored.format());
  header.bitsPerPixel = pngBits != 0 ? pngBits
                                     : static_cast<uint32_t>(vips_format_sizeof(stored.format()) * 8 * stored.bands());
  header.profile = vips_image_get_typeof(stored.get_image(), VIPS_META_ICC_NAME) != 0;
  header.exif = vips_image_get_typeof(stored.get_image(), VIPS_META_EXIF_NAME) != 0 ||
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
  if (ReadStatus memory = MemoryCheck(
          format, storedWidth, storedHeight,
          decodeBytes(storedWidth, storedHeight, vips_format_sizeof(stored.format()) * stored.bands(), header.alpha));
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
    image->Allocate(header.width, header.height, header.alpha, false);
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
      Spread(static_cast<const double*>(samples), storedWidth, storedHeight, bands, orientation, 255.0f, false,
             *image);
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

namespace {

// The smallest valid JPEG (one grey pixel), which carries an EXIF block to
// libvips's JPEG loader.
const std::vector<uint8_t>& CarrierJpeg() {
  static const std::vector<uint8_t> jpeg = [] {
    VipsBlob* blob = VImage::black(1, 1).jpegsave_buffer(VImage::option()->set("strip", true));
    std::size_t length = 0;
    const auto* data = static_cast<const uint8_t*>(vips_area_get_data(&blob->area, &length, nullptr, nullptr, nullptr));
    std::vector<uint8_t> bytes(data, data + length);
    vips_area_unref(&blob->area);
    return bytes;
  }();
  return jpeg;
}

void* CopyExifField(VipsImage*, const char* field, GValue* value, void* target) {
  if (std::strncmp(field, "exif-ifd", 8) == 0) vips_image_set(static_cast<VipsImage*>(target), field, value);
  return nullptr;
}

// Puts `exif` on `image` for a saver. libvips rebuilds the block when it
// saves: it keeps only the tags that also stand as "exif-ifd" fields on the
// image, then writes the image's size and orientation into it. Its loaders
// make those fields; here its JPEG loader makes them from a one-pixel file
// that carries the block.
void AttachExif(VImage& image, const std::vector<uint8_t>& exif) {
  static const uint8_t kPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};
  std::vector<uint8_t> payload;
  if (exif.size() < 6 || std::memcmp(exif.data(), kPrefix, 6) != 0) payload.assign(kPrefix, kPrefix + 6);
  payload.insert(payload.end(), exif.begin(), exif.end());
  vips_image_set_blob_copy(image.get_image(), VIPS_META_EXIF_NAME, payload.data(), payload.size());
  if (payload.size() + 2 > 0xFFFF) return;  // more than a JPEG segment holds: only size and orientation are kept
  const std::vector<uint8_t>& carrier = CarrierJpeg();
  std::vector<uint8_t> jpeg(carrier.begin(), carrier.begin() + 2);
  const std::size_t length = payload.size() + 2;
  jpeg.insert(jpeg.end(), {0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length)});
  jpeg.insert(jpeg.end(), payload.begin(), payload.end());
  jpeg.insert(jpeg.end(), carrier.begin() + 2, carrier.end());
  try {
    const VImage parsed = VImage::new_from_buffer(jpeg.data(), jpeg.size(), "");
    vips_image_map(parsed.get_image(), CopyExifField, image.get_image());
  } catch (const VError&) {
    vips_error_clear();  // a block libvips cannot parse: it will write size and orientation only
  }
}

// The profile, XMP, IPTC and EXIF of `meta` on `image` for a saver, which
// says orientation 1: the pixels are stored upright.
void AttachMetadata(VImage& image, const ImageMetadata& meta) {
  VipsImage* out = image.get_image();
  if (!meta.icc.empty()) vips_image_set_blob_copy(out, VIPS_META_ICC_NAME, meta.icc.data(), meta.icc.size());
  if (!meta.xmp.empty()) vips_image_set_blob_copy(out, VIPS_META_XMP_NAME, meta.xmp.data(), meta.xmp.size());
  if (!meta.iptc.empty()) vips_image_set_blob_copy(out, VIPS_META_IPTC_NAME, meta.iptc.data(), meta.iptc.size());
  if (!meta.exif.empty()) AttachExif(image, meta.exif);
  image.set(VIPS_META_ORIENTATION, 1);
}

// The settings of the savers. PNG rows are filtered adaptively (libpng
// picks each row's filter), which libvips leaves off by default.
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

// Rows [first, first + count) of the planes (all of them by default) as
// interleaved samples, rows shared out over the threads.
template <class T, class F>
std::vector<T> Interleave(const FloatImage& image, int colours, bool alpha, F convert, uint32_t first = 0,
                          uint32_t count = UINT32_MAX) {
  const int bands = colours + (alpha ? 1 : 0);
  count = std::min(count, image.height - first);
  const std::size_t w = image.width;
  std::vector<T> out(w * count * bands);
  ParallelFor(0, count, RowGrain(std::ptrdiff_t(w) * bands), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
    std::vector<uint8_t> row(std::is_same_v<T, uint8_t> ? w : 0);
    for (std::size_t y = std::size_t(y0); y < std::size_t(y1); ++y)
      for (int b = 0; b < bands; ++b) {
        const float* in = image.samples(b < colours ? b : FloatImage::kAlpha) + (first + y) * w;
        T* o = out.data() + y * w * bands + b;
        if constexpr (std::is_same_v<T, uint8_t>) {  // the vector conversion, then spread
          FloatsToBytes(in, row.data(), w);
          for (std::size_t x = 0; x < w; ++x) o[x * bands] = row[x];
        } else {
          for (std::size_t x = 0; x < w; ++x) o[x * bands] = convert(in[x]);
        }
      }
  });
  return out;
}

uint16_t FloatToWord(float value) {
  const float scaled = value * 257.0f;
  const float clamped = scaled > 0.0f ? (scaled < 65535.0f ? scaled : 65535.0f) : 0.0f;
  return static_cast<uint16_t>(std::nearbyint(clamped));
}

}  // namespace

int WriteWithVips(std::FILE* file, const FloatImage& image, const WriteOptions& options, SampleDepth depth,
                  std::string& reason) {
  if (image.IsEmpty()) return kWriteEmptyImage;
  if (const std::string& problem = StartVips(); !problem.empty()) {
    reason = problem;
    return kWriteFailed;
  }
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
    reason = "not enough memory to encode the image";
    return kWriteFailed;
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
      default: reason = "not a format this program writes"; return kWriteFailed;
    }
  } catch (const VError& e) {
    reason = "the encoder failed: " + Explain(e.what(), {});
    vips_error_clear();
    return kWriteFailed;
  }
  std::size_t length = 0;
  const auto* encoded = static_cast<const uint8_t*>(vips_area_get_data(&blob->area, &length, nullptr, nullptr, nullptr));
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
  return written ? kWriteOk : kWriteFailed;
}

// Rows of pictures too large to hold whole.

struct RowFileReader::State {
  int descriptor = -1;
  ImageHeader header;
  ImageMetadata metadata;
  VImage stored;
  std::optional<VRegion> region;
  uint32_t next = 0;
  std::string name;
  ~State() {
    if (descriptor >= 0) ::close(descriptor);
  }
};

RowFileReader::RowFileReader() = default;
RowFileReader::~RowFileReader() {
  if (state_) {
    std::lock_guard<std::mutex> lock(g_vipsMutex);
    state_.reset();
  }
}

const ImageHeader& RowFileReader::header() const { return state_->header; }
const ImageMetadata& RowFileReader::metadata() const { return state_->metadata; }

ReadStatus RowFileReader::Open(const std::string& path) {
  auto state = std::make_unique<State>();
  ReadStatus status = ReadImageHeader(path, state->header);
  if (!status.ok()) return status;
  if (state->header.format == FileFormat::kBmp || state->header.format == FileFormat::kPfm || path == "-")
    return Refusal(state->header.format, "not read by rows");
  if (status.damaged) return Refusal(state->header.format, status.message);
  state->descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (state->descriptor < 0) return Refusal(state->header.format, "the file cannot be opened");
  std::lock_guard<std::mutex> lock(g_vipsMutex);
  WarningCapture capture(status.warnings);
  vips_error_clear();
  try {
    VipsInput in;
    in.descriptor = state->descriptor;
    in.size = uint64_t(std::max<off_t>(0, ::lseek(state->descriptor, 0, SEEK_END)));
    state->stored = Load(in, VIPS_FAIL_ON_ERROR);
    VipsImage* image = state->stored.get_image();
    const int orientation =
        vips_image_get_typeof(image, VIPS_META_ORIENTATION) ? vips_image_get_orientation(image) : 1;
    if (orientation > 1 && orientation <= 8) return Refusal(state->header.format, "turned by its EXIF orientation");
    state->metadata = MetadataOf(state->stored, state->header, in);
    state->region = state->stored.region();
  } catch (const VError& e) {
    const std::string reason = Explain(e.what(), status.warnings);
    vips_error_clear();
    return Refusal(state->header.format, std::string(FormatName(state->header.format)) + " cannot be read: " + reason);
  }
  state->name = FormatName(state->header.format);
  state_ = std::move(state);
  return status;
}

ReadStatus RowFileReader::Read(uint32_t rows, FloatImage& band) {
  State& s = *state_;
  const uint32_t w = s.header.width;
  rows = std::min(rows, s.header.height - s.next);
  ReadStatus status;
  status.format = s.header.format;
  try {
    band.Allocate(w, rows, s.header.alpha, false);
  } catch (const std::bad_alloc&) {
    return Refusal(s.header.format, "not enough memory for the rows");
  }
  band.metadata = s.metadata;
  if (rows == 0) return status;
  std::lock_guard<std::mutex> lock(g_vipsMutex);
  WarningCapture capture(status.warnings);
  vips_error_clear();
  bool failed = false;
  std::string failure;
  try {
    s.region->prepare(0, int(s.next), int(w), int(rows));
  } catch (const VError& e) {
    failed = true;
    failure = e.what();
  }
  failed = failed || std::any_of(status.warnings.begin(), status.warnings.end(), [](const std::string& w) {
             return w.rfind("error in tile", 0) == 0 || SaysTruncated(w);
           });
  if (failed) {
    const std::string reason = Explain(failure, status.warnings);
    vips_error_clear();
    ReadStatus damage = Damage(s.header.format,
                               s.name + (SaysTruncated(reason) ? " truncated" : " damaged") + " after row " +
                                   std::to_string(s.next) + " of " + std::to_string(s.header.height) + ": " + reason,
                               false, DamagePolicy::kRefuse);
    damage.warnings = std::move(status.warnings);
    return damage;
  }
  // Orientation 1, and a region as wide as the picture holds its rows one
  // after the other: Spread places them as a whole read would.
  const void* samples = VIPS_REGION_ADDR(s.region->get_region(), 0, int(s.next));
  const int bands = s.stored.bands();
  if (std::string problem = NonFiniteProblem(s.name, s.stored.format(), samples, w, rows, bands, s.next);
      !problem.empty())
    return Refusal(s.header.format, std::move(problem));
  switch (s.stored.format()) {
    case VIPS_FORMAT_UCHAR: Spread(static_cast<const uint8_t*>(samples), w, rows, bands, 1, 1.0f, false, band); break;
    case VIPS_FORMAT_USHORT:
      Spread(static_cast<const uint16_t*>(samples), w, rows, bands, 1, 257.0f, true, band);
      break;
    case VIPS_FORMAT_FLOAT: Spread(static_cast<const float*>(samples), w, rows, bands, 1, 255.0f, false, band); break;
    default: Spread(static_cast<const double*>(samples), w, rows, bands, 1, 255.0f, false, band); break;
  }
  s.next += rows;
  return status;
}

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
        ok = put(Interleave<float>(rows, s.colours, s.alpha, [](float v) { return v / 255.0f; }, y, kChunk));
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
    VipsImage* raw = vips_image_new_from_file_raw(s.spool.temporary().c_str(), int(s.width), int(s.height),
                                                  bands * sampleBytes, 0);
    if (raw == nullptr) throw VError(vips_error_buffer());
    VImage out = VImage(raw).copy(VImage::option()
                                      ->set("bands", bands)
                                      ->set("format", bandFormat)
                                      ->set("interpretation", interpretation));
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
