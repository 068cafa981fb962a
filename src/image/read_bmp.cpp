// ReadBmp: uncompressed Windows BMP files with 1, 4, 8, 24 or 32 bits per
// pixel, bottom-up or top-down. Everything the file declares is checked
// before it is used, so no header value can make the reader overflow a size
// or leave a buffer.
#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

#include "image/bmp_format.h"
#include "image/image_readers.h"
#include "image/stdio_file.h"

namespace kestrune {

namespace {

// Windows information headers: BITMAPINFOHEADER, its V2 and V3 extensions
// (with colour masks), V4 and V5. OS/2 headers (12, 16 or 64 bytes and other
// sizes) are not read.
bool IsWindowsHeaderSize(uint32_t size) {
  return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

bool IsSupportedBitCount(uint32_t bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32; }

// Reads up to `count` bytes; the bytes the file does not have become 0.
void ReadOrZero(std::FILE* file, uint8_t* out, std::size_t count) {
  const std::size_t got = std::fread(out, 1, count, file);
  if (got < count) std::memset(out + got, 0, count - got);
}

void DecodeRow(const uint8_t* in, uint32_t bits, const std::array<uint8_t, 1024>& palette, uint32_t width, float* r,
               float* g, float* b) {
  for (uint32_t x = 0; x < width; ++x) {
    const uint8_t* px;
    switch (bits) {
      case 1:
        px = &palette[4 * ((in[x / 8] >> (7 - x % 8)) & 1)];
        break;
      case 4:
        px = &palette[4 * ((x % 2 == 0) ? in[x / 2] >> 4 : in[x / 2] & 15)];
        break;
      case 8:
        px = &palette[4 * in[x]];
        break;
      case 24:
        px = in + 3 * std::size_t{x};
        break;
      default:  // 32
        px = in + 4 * std::size_t{x};
        break;
    }
    b[x] = px[0];
    g[x] = px[1];
    r[x] = px[2];
  }
}

}  // namespace

int ReadBmp(std::FILE* file, FloatImage& image) {
  uint8_t fileHeader[bmp::kFileHeaderSize];
  if (std::fread(fileHeader, 1, sizeof fileHeader, file) != sizeof fileHeader) return kReadCannotOpen;
  if (bmp::Get16(fileHeader) != bmp::kTypeBM) return kReadFailed;
  const uint32_t dataOffset = bmp::Get32(fileHeader + 10);

  uint8_t info[bmp::kInfoHeaderSize];
  if (std::fread(info, 1, sizeof info, file) != sizeof info) return kReadFailed;
  const uint32_t headerSize = bmp::Get32(info);
  const int32_t width = bmp::GetS32(info + 4);
  const int32_t height = bmp::GetS32(info + 8);
  const uint32_t bits = bmp::Get16(info + 14);
  const uint32_t compression = bmp::Get32(info + 16);
  const uint32_t coloursUsed = bmp::Get32(info + 32);
  if (!IsWindowsHeaderSize(headerSize) || !IsSupportedBitCount(bits) || compression != 0) return kReadFailed;

  // A negative height marks top-down rows.
  const bool topDown = height < 0;
  const uint64_t rows = topDown ? uint64_t{0} - static_cast<uint64_t>(int64_t{height}) : uint64_t(height);
  if (width <= 0 || !ImageSizeAllowed(uint64_t(width), rows)) return kReadFailed;
  const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(rows);
  const std::size_t stride = (std::size_t{bits} * w + 31) / 32 * 4;

  // The palette follows the information header of the declared size. It has
  // the declared number of entries (all 2^bits when 0, at most 256) as far
  // as they lie before the pixel data; missing entries are black.
  std::array<uint8_t, 1024> palette{};
  if (bits <= 8) {
    const uint64_t paletteStart = uint64_t{bmp::kFileHeaderSize} + headerSize;
    uint64_t entries = coloursUsed == 0 ? (uint64_t{1} << bits) : std::min<uint64_t>(coloursUsed, 256);
    if (dataOffset >= paletteStart) entries = std::min<uint64_t>(entries, (dataOffset - paletteStart) / 4);
    if (entries > 0 && std::fseek(file, static_cast<long>(paletteStart), SEEK_SET) == 0)
      ReadOrZero(file, palette.data(), static_cast<std::size_t>(entries) * 4);
  }

  if (std::fseek(file, static_cast<long>(dataOffset), SEEK_SET) != 0) return kReadFailed;

  std::vector<uint8_t> row;
  try {
    row.resize(stride);
    image.Allocate(w, h, false, false);
  } catch (const std::bad_alloc&) {
    return kReadFailed;
  }
  image.sourceBitDepth = bits;

  // File rows are stored bottom-up unless the height was negative; bytes
  // past the end of the file read as 0.
  for (uint32_t r = 0; r < h; ++r) {
    ReadOrZero(file, row.data(), stride);
    const uint32_t y = topDown ? r : h - 1 - r;
    DecodeRow(row.data(), bits, palette, w, image.rows(FloatImage::kRed)[y], image.rows(FloatImage::kGreen)[y],
              image.rows(FloatImage::kBlue)[y]);
  }
  return kReadOk;
}

int ReadBmp(const std::string& path, FloatImage& image) {
  StdioFile file = OpenStdioFile(path, "rb");
  if (!file) return kReadCannotOpen;
  return ReadBmp(file.get(), image);
}

}  // namespace kestrune
