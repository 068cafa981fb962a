// WriteBmp: a 24-bit uncompressed BMP file with a 14-byte file header and a
// 40-byte information header, rows bottom-up, each padded with zeros to a
// multiple of 4 bytes.
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "image/bmp_format.h"
#include "image/byte_conversion.h"
#include "image/image_writers.h"

namespace kestrune {

Error WriteBmp(std::FILE* file, const FloatImage& image) {
  if (image.IsEmpty()) return EmptyImageError();

  // The file size and the dimensions must fit their header fields.
  const uint64_t stride = bmp::Stride24(image.width);
  const uint64_t fileSize = stride * image.height + bmp::kFileHeaderSize + bmp::kInfoHeaderSize;
  constexpr uint64_t kMaxField = std::numeric_limits<int32_t>::max();
  if (fileSize > std::numeric_limits<uint32_t>::max() || image.width > kMaxField || image.height > kMaxField)
    return WriteFailure();

  uint8_t header[bmp::kFileHeaderSize + bmp::kInfoHeaderSize] = {};
  bmp::Put16(header, bmp::kTypeBM);
  bmp::Put32(header + 2, static_cast<uint32_t>(fileSize));
  bmp::Put32(header + 10, bmp::kFileHeaderSize + bmp::kInfoHeaderSize);
  bmp::PutInfoHeader24(header + bmp::kFileHeaderSize, image.width, image.height);
  if (std::fwrite(header, 1, sizeof header, file) != sizeof header) return WriteFailure();

  // Rows are converted one at a time; the padding bytes stay 0.
  std::vector<uint8_t> row;
  try {
    row.assign(stride, 0);
  } catch (const std::bad_alloc&) {
    return WriteFailure();
  }
  for (uint32_t r = 0; r < image.height; ++r) {
    const uint32_t y = image.height - 1 - r;
    PlanesToBgr(image.rows(FloatImage::kRed)[y], image.rows(FloatImage::kGreen)[y], image.rows(FloatImage::kBlue)[y],
                row.data(), image.width);
    if (std::fwrite(row.data(), 1, stride, file) != stride) return WriteFailure();
  }
  return {};
}

}  // namespace kestrune
