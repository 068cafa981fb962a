// Reading and writing Portable FloatMap files. The reader refuses samples
// that are not finite numbers: one NaN would spread to every output sample.
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

#include "image/format_readers.h"
#include "image/image_writers.h"
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

uint32_t ByteSwap(uint32_t v) { return (v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) | (v << 24); }

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

ReadStatus ReadPfm(std::FILE* file, uint64_t fileSize, ImageInfo& header, FloatImage* image, DamagePolicy policy) {
  constexpr FileFormat kPfm = FileFormat::kPfm;
  std::string magic, widthText, heightText, scaleText;
  uint32_t width = 0, height = 0;
  if (!ReadToken(file, magic) || !ReadToken(file, widthText) || !ReadToken(file, heightText) ||
      !ReadToken(file, scaleText)) {
    if (std::feof(file)) return Damage(kPfm, "PFM truncated in its header", false, policy);
    return Refusal(kPfm, "PFM header is malformed");
  }
  if (!ParseSide(widthText, width) || !ParseSide(heightText, height))
    return Refusal(kPfm, "PFM header is malformed: width and height must be whole numbers");
  char* end = nullptr;
  const double scale = std::strtod(scaleText.c_str(), &end);
  if (*end != '\0' || scale == 0.0 || !std::isfinite(scale))
    return Refusal(kPfm, "PFM scale must be a non-zero number, not '" + scaleText + "'");
  if (std::string problem = SizeLimitProblem(kPfm, width, height); !problem.empty())
    return Refusal(kPfm, std::move(problem));
  const bool littleEndian = scale < 0;
  const int channels = magic == "PF" ? 3 : 1;
  header.width = width;
  header.height = height;
  header.bitsPerPixel = 32 * channels;
  header.depth = SampleDepth::k32Float;
  header.greyscale = channels == 1;

  // Rows are stored bottom to top; count the ones the file holds.
  const uint64_t rowBytes = uint64_t{width} * channels * 4, needed = rowBytes * height;
  const off_t start = ftello(file);
  const uint64_t held = start >= 0 && uint64_t(start) < fileSize ? fileSize - uint64_t(start) : 0;
  ReadStatus status;
  status.format = kPfm;
  if (held < needed) {
    const uint64_t complete = held / rowBytes;
    status = Damage(kPfm, TruncatedRowsMessage(kPfm, complete, height, true, needed, uint64_t(start), held),
                    complete > 0, policy);
    if (!status.ok()) return status;
  }
  if (!image) return status;
  if (ReadStatus memory = MemoryCheck(kPfm, width, height, uint64_t{width} * height * 12 + rowBytes); !memory.ok())
    return memory;

  std::vector<uint8_t> row;
  try {
    row.resize(rowBytes);
    image->Allocate(width, height, false, false);
  } catch (const std::bad_alloc&) {
    return Refusal(kPfm, "not enough memory for the image");
  }
  image->sourceBitDepth = 0;
  image->metadata = ImageMetadata{};
  image->metadata.depth = SampleDepth::k32Float;
  image->metadata.greyscale = channels == 1;
  // The first sample that is not a finite number, in reading order from the
  // top row: rows arrive bottom first, so a later row's find replaces it.
  struct {
    bool found = false;
    uint32_t x = 0, y = 0;
    int channel = 0;
    float value = 0;
  } bad;
  for (uint32_t r = 0; r < height; ++r) {
    const std::size_t got = std::fread(row.data(), 1, row.size(), file);
    std::memset(row.data() + got, 0, row.size() - got);
    const uint32_t y = height - 1 - r;
    float* planes[3] = {image->rows(FloatImage::kRed)[y], image->rows(FloatImage::kGreen)[y],
                        image->rows(FloatImage::kBlue)[y]};
    bool rowBad = false;
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* px = row.data() + std::size_t{x} * channels * 4;
      for (int c = 0; c < 3; ++c) {
        const float value = DecodeFloat(px + 4 * (channels == 3 ? c : 0), littleEndian);
        planes[c][x] = value * 255.0f;
        if (!rowBad && c < channels && !std::isfinite(value)) {
          rowBad = true;
          bad = {true, x, y, c, value};
        }
      }
    }
  }
  if (bad.found) {
    static const char* const kChannels[3] = {"red", "green", "blue"};
    return Refusal(kPfm,
                   NonFiniteMessage("PFM", bad.y, bad.x, channels == 3 ? kChannels[bad.channel] : "grey", bad.value));
  }
  return status;
}

Error WritePfm(std::FILE* file, const FloatImage& image) {
  if (image.IsEmpty()) return EmptyImageError();
  const int channels = image.metadata.greyscale ? 1 : 3;
  if (std::fprintf(file, "%s\n%u %u\n-1.0\n", channels == 1 ? "Pf" : "PF", image.width, image.height) < 0)
    return WriteFailure();
  std::vector<uint8_t> row(std::size_t{image.width} * channels * 4);
  for (uint32_t r = 0; r < image.height; ++r) {
    const uint32_t y = image.height - 1 - r;
    for (uint32_t x = 0; x < image.width; ++x) {
      uint8_t* px = row.data() + std::size_t{x} * channels * 4;
      for (int c = 0; c < channels; ++c) EncodeFloat(image.rows(c)[y][x] / 255.0f, px + 4 * c);
    }
    if (std::fwrite(row.data(), 1, row.size(), file) != row.size()) return WriteFailure();
  }
  return {};
}

}  // namespace kestrune
