// The header checks made before libvips reads a file.
#include "image/vips_header_checks.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <vector>

namespace kestrune::vipsio {

namespace {

uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }
uint32_t Be16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }

// Deflate codes at least two bits for a match of at most 258 bytes, so a
// zlib stream never holds more than 1032 bytes of data per byte.
constexpr uint64_t kMaxInflateRatio = 1032;

}  // namespace

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

}  // namespace kestrune::vipsio
