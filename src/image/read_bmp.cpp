// ReadBmp: uncompressed Windows BMP files with 1, 4, 8, 24 or 32 bits per
// pixel, bottom-up or top-down. Everything the file declares is checked
// before it is used, so no header value can make the reader overflow a size
// or leave a buffer, and the rows the file holds are counted from its length
// before the image is allocated.
#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

#include "image/bmp_format.h"
#include "image/format_readers.h"

namespace kestrune {

namespace {

// Windows information headers: BITMAPINFOHEADER, its V2 and V3 extensions
// (with colour masks), V4 and V5. OS/2 headers (12, 16 or 64 bytes and other
// sizes) are not read.
bool IsWindowsHeaderSize(uint32_t size) { return size == 40 || size == 52 || size == 56 || size == 108 || size == 124; }

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
      case 1: px = &palette[4 * ((in[x / 8] >> (7 - x % 8)) & 1)]; break;
      case 4: px = &palette[4 * ((x % 2 == 0) ? in[x / 2] >> 4 : in[x / 2] & 15)]; break;
      case 8: px = &palette[4 * in[x]]; break;
      case 24: px = in + 3 * std::size_t{x}; break;
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

ReadStatus ReadBmp(std::FILE* file, uint64_t fileSize, ImageInfo& header, FloatImage* image, DamagePolicy policy) {
  constexpr FileFormat kBmp = FileFormat::kBmp;
  uint8_t headers[bmp::kFileHeaderSize + bmp::kInfoHeaderSize];
  const std::size_t got = std::fread(headers, 1, sizeof headers, file);
  const uint8_t* info = headers + bmp::kFileHeaderSize;
  const uint32_t headerSize = got >= 18 ? bmp::Get32(info) : 40;
  if (!IsWindowsHeaderSize(headerSize))
    return Refusal(kBmp, "BMP with a " + std::to_string(headerSize) +
                             "-byte information header is not supported (only Windows headers are read)");
  if (got < sizeof headers)
    return Damage(kBmp, "BMP truncated in its headers: they need 54 bytes, the file has " + std::to_string(got), false,
                  policy);

  const uint32_t dataOffset = bmp::Get32(headers + 10);
  const int32_t width = bmp::GetS32(info + 4);
  const int32_t height = bmp::GetS32(info + 8);
  const uint32_t bits = bmp::Get16(info + 14);
  const uint32_t compression = bmp::Get32(info + 16);
  const uint32_t coloursUsed = bmp::Get32(info + 32);
  if (!IsSupportedBitCount(bits))
    return Refusal(kBmp,
                   "BMP with " + std::to_string(bits) + " bits per pixel is not supported (1, 4, 8, 24 and 32 are)");
  if (compression != 0)
    return Refusal(kBmp, "BMP compression " + std::to_string(compression) +
                             " is not supported: only uncompressed files are read");
  if (width <= 0 || height == 0)
    return Refusal(kBmp, "BMP of " + std::to_string(width) + " x " + std::to_string(height) +
                             " pixels: the width must be positive and the height not 0");

  // A negative height marks top-down rows.
  const bool topDown = height < 0;
  const uint64_t rows = topDown ? uint64_t{0} - static_cast<uint64_t>(int64_t{height}) : uint64_t(height);
  if (std::string problem = SizeLimitProblem(kBmp, uint64_t(width), rows); !problem.empty())
    return Refusal(kBmp, std::move(problem));
  const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(rows);
  const std::size_t stride = (std::size_t{bits} * w + 31) / 32 * 4;
  header.width = w;
  header.height = h;
  header.bitsPerPixel = bits;
  header.depth = SampleDepth::k8;

  // The rows the file holds, before anything is allocated for them.
  if (dataOffset >= fileSize)
    return Damage(kBmp,
                  "BMP pixel data offset " + std::to_string(dataOffset) + " lies past the end of the file (" +
                      std::to_string(fileSize) + " bytes)",
                  false, policy);
  const uint64_t needed = uint64_t{stride} * h, held = fileSize - dataOffset;
  ReadStatus status;
  status.format = kBmp;
  if (held < needed) {
    const uint64_t complete = held / stride;
    status =
        Damage(kBmp, TruncatedRowsMessage(kBmp, complete, h, !topDown, needed, dataOffset, held), complete > 0, policy);
    if (!status.ok()) return status;
  }
  if (!image) return status;
  if (ReadStatus memory = MemoryCheck(kBmp, w, h, uint64_t{w} * h * 12 + stride); !memory.ok()) return memory;

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

  if (std::fseek(file, static_cast<long>(dataOffset), SEEK_SET) != 0)
    return Refusal(kBmp, "BMP pixel data offset " + std::to_string(dataOffset) + " cannot be reached");

  std::vector<uint8_t> row;
  try {
    row.resize(stride);
    image->Allocate(w, h, false, false);
  } catch (const std::bad_alloc&) {
    return Refusal(kBmp, "not enough memory for the image");
  }
  image->sourceBitDepth = bits;
  image->metadata = ImageMetadata{};
  image->metadata.depth = SampleDepth::k8;

  // File rows are stored bottom-up unless the height was negative; the rows
  // of a damaged file past its end read as 0.
  for (uint32_t r = 0; r < h; ++r) {
    ReadOrZero(file, row.data(), stride);
    const uint32_t y = topDown ? r : h - 1 - r;
    DecodeRow(row.data(), bits, palette, w, image->rows(FloatImage::kRed)[y], image->rows(FloatImage::kGreen)[y],
              image->rows(FloatImage::kBlue)[y]);
  }
  return status;
}

}  // namespace kestrune
