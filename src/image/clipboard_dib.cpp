// Decoding and encoding the packed bitmaps of the clipboard.
#include "image/clipboard_dib.h"

#include <limits>
#include <new>

#include "image/bmp_format.h"
#include "image/byte_conversion.h"

namespace kestrune {

PasteResult DecodePackedDib(const uint8_t* data, std::size_t size, FloatImage& image) {
  if (data == nullptr || size == 0) return PasteResult::kNoBitmap;
  if (size < bmp::kInfoHeaderSize) return PasteResult::kUnsupported;

  const uint32_t headerSize = bmp::Get32(data);
  const int32_t width = bmp::GetS32(data + 4);
  const int32_t height = bmp::GetS32(data + 8);
  const uint32_t bits = bmp::Get16(data + 14);
  const uint32_t compression = bmp::Get32(data + 16);
  const uint32_t coloursUsed = bmp::Get32(data + 32);
  if ((bits != 24 && bits != 32) || (compression != 0 && compression != 3)) return PasteResult::kUnsupported;
  if (headerSize < bmp::kInfoHeaderSize || headerSize > size) return PasteResult::kUnsupported;

  const bool topDown = height < 0;
  const uint64_t rows = topDown ? uint64_t{0} - static_cast<uint64_t>(int64_t{height}) : uint64_t(height);
  if (width <= 0 || !ImageSizeAllowed(uint64_t(width), rows)) return PasteResult::kUnsupported;
  const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(rows);

  // The pixels follow the header, the three colour masks when a 40-byte
  // header declares bit fields (larger headers hold the masks themselves),
  // and a colour table of the declared number of entries.
  uint64_t offset = headerSize;
  if (compression == 3 && headerSize == bmp::kInfoHeaderSize) offset += 12;
  offset += uint64_t{coloursUsed} * 4;
  const uint64_t bytesPerPixel = bits / 8;
  const uint64_t stride = bits == 24 ? bmp::Stride24(w) : 4 * uint64_t{w};
  // The last row needs only its pixels, not its padding.
  const uint64_t needed = offset + stride * (h - 1) + bytesPerPixel * w;
  if (needed > size) return PasteResult::kUnsupported;

  FloatImage result(w, h);
  for (uint32_t r = 0; r < h; ++r) {
    const uint8_t* in = data + offset + stride * r;
    const uint32_t y = topDown ? r : h - 1 - r;
    float* red = result.rows(FloatImage::kRed)[y];
    float* green = result.rows(FloatImage::kGreen)[y];
    float* blue = result.rows(FloatImage::kBlue)[y];
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* px = in + bytesPerPixel * x;
      blue[x] = px[0];
      green[x] = px[1];
      red[x] = px[2];
    }
  }
  image = std::move(result);
  return PasteResult::kPasted;
}

std::vector<uint8_t> EncodePackedDib(const FloatImage& image) {
  if (image.IsEmpty()) return {};
  const uint64_t stride = bmp::Stride24(image.width);
  if (image.width > uint32_t(std::numeric_limits<int32_t>::max()) ||
      image.height > uint32_t(std::numeric_limits<int32_t>::max()))
    throw std::bad_alloc();
  std::vector<uint8_t> out(bmp::kInfoHeaderSize + static_cast<std::size_t>(stride) * image.height, 0);
  bmp::PutInfoHeader24(out.data(), image.width, image.height);
  for (uint32_t y = 0; y < image.height; ++y) {
    uint8_t* row = out.data() + bmp::kInfoHeaderSize + stride * (image.height - 1 - y);
    PlanesToBgr(image.rows(FloatImage::kRed)[y], image.rows(FloatImage::kGreen)[y], image.rows(FloatImage::kBlue)[y],
                row, image.width);
  }
  return out;
}

}  // namespace kestrune
