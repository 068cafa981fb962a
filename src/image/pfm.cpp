// Reading and writing Portable FloatMap files.
#include "image/pfm.h"

#include <bit>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "image/stdio_file.h"

namespace kestrune {

namespace {

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Reads one whitespace-delimited header token (at most 63 characters).
bool ReadToken(std::FILE* file, std::string& token) {
  token.clear();
  int c;
  while ((c = std::fgetc(file)) != EOF && IsSpace(c)) {
  }
  while (c != EOF && !IsSpace(c)) {
    if (token.size() >= 63) return false;
    token.push_back(static_cast<char>(c));
    c = std::fgetc(file);
  }
  // The single whitespace character after the last token ends the header.
  return !token.empty() && c != EOF;
}

bool ParseSide(const std::string& token, uint32_t& value) {
  if (token.empty() || token.size() > 9) return false;
  for (char c : token)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  value = static_cast<uint32_t>(std::strtoul(token.c_str(), nullptr, 10));
  return true;
}

uint32_t ByteSwap(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) | (v << 24);
}

float DecodeFloat(const uint8_t* p, bool littleEndian) {
  uint32_t bits;
  std::memcpy(&bits, p, 4);
  if (littleEndian != (std::endian::native == std::endian::little)) bits = ByteSwap(bits);
  return std::bit_cast<float>(bits);
}

void EncodeFloat(float value, uint8_t* p) {
  uint32_t bits = std::bit_cast<uint32_t>(value);
  if (std::endian::native != std::endian::little) bits = ByteSwap(bits);
  std::memcpy(p, &bits, 4);
}

}  // namespace

int ReadPfm(const std::string& path, FloatImage& image, std::string& reason) {
  StdioFile file = OpenStdioFile(path, "rb");
  if (!file) {
    reason = "the file cannot be opened";
    return 1;
  }
  std::string magic, widthText, heightText, scaleText;
  if (!ReadToken(file.get(), magic) || (magic != "PF" && magic != "Pf")) {
    reason = "not a PFM file";
    return 2;
  }
  uint32_t width = 0, height = 0;
  if (!ReadToken(file.get(), widthText) || !ReadToken(file.get(), heightText) ||
      !ReadToken(file.get(), scaleText) || !ParseSide(widthText, width) || !ParseSide(heightText, height)) {
    reason = "bad PFM header";
    return 2;
  }
  char* end = nullptr;
  const double scale = std::strtod(scaleText.c_str(), &end);
  if (*end != '\0' || scale == 0.0 || !std::isfinite(scale)) {
    reason = "bad PFM scale";
    return 2;
  }
  if (!ImageSizeAllowed(width, height)) {
    reason = "image size out of range";
    return 2;
  }
  const bool littleEndian = scale < 0;
  const int channels = magic == "PF" ? 3 : 1;

  std::vector<uint8_t> row;
  try {
    row.resize(std::size_t{width} * channels * 4);
    image.Allocate(width, height, false, false);
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
    return 2;
  }
  image.sourceBitDepth = 0;
  for (uint32_t r = 0; r < height; ++r) {
    if (std::fread(row.data(), 1, row.size(), file.get()) != row.size()) {
      reason = "truncated PFM data";
      return 2;
    }
    const uint32_t y = height - 1 - r;  // rows are stored bottom to top
    float* red = image.rows(FloatImage::kRed)[y];
    float* green = image.rows(FloatImage::kGreen)[y];
    float* blue = image.rows(FloatImage::kBlue)[y];
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* px = row.data() + std::size_t{x} * channels * 4;
      red[x] = DecodeFloat(px, littleEndian);
      green[x] = channels == 3 ? DecodeFloat(px + 4, littleEndian) : red[x];
      blue[x] = channels == 3 ? DecodeFloat(px + 8, littleEndian) : red[x];
    }
  }
  return 0;
}

int WritePfm(std::FILE* file, const FloatImage& image) {
  if (image.IsEmpty()) return 2;
  if (std::fprintf(file, "PF\n%u %u\n-1.0\n", image.width, image.height) < 0) return 1;
  std::vector<uint8_t> row(std::size_t{image.width} * 12);
  for (uint32_t r = 0; r < image.height; ++r) {
    const uint32_t y = image.height - 1 - r;
    for (uint32_t x = 0; x < image.width; ++x) {
      uint8_t* px = row.data() + std::size_t{x} * 12;
      EncodeFloat(image.rows(FloatImage::kRed)[y][x], px);
      EncodeFloat(image.rows(FloatImage::kGreen)[y][x], px + 4);
      EncodeFloat(image.rows(FloatImage::kBlue)[y][x], px + 8);
    }
    if (std::fwrite(row.data(), 1, row.size(), file) != row.size()) return 1;
  }
  return 0;
}

}  // namespace kestrune
