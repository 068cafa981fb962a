// DibImage: allocation of the bottom-up 24-bit buffer and its filling from a
// FloatImage.
#include "image/dib_image.h"

#include <limits>
#include <new>

#include "image/bmp_format.h"
#include "image/byte_conversion.h"
#include "base/threading.h"

namespace kestrune {

void DibImage::Allocate(uint32_t newWidth, uint32_t newHeight) {
  if (newWidth == width && newHeight == height) return;
  Release();
  if (newWidth == 0 || newHeight == 0) {
    width = newWidth;
    height = newHeight;
    return;
  }
  const uint64_t newStride = bmp::Stride24(newWidth);
  if (newStride > std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
  try {
    bits_.resize(static_cast<std::size_t>(newStride) * newHeight);
    rows_.resize(newHeight);
  } catch (...) {
    Release();
    throw std::bad_alloc();
  }
  width = newWidth;
  height = newHeight;
  stride = static_cast<uint32_t>(newStride);
  for (uint32_t y = 0; y < height; ++y) rows_[y] = bits_.data() + std::size_t{height - 1 - y} * stride;
}

void DibImage::Release() {
  if (bits_.empty()) return;
  std::vector<uint8_t>().swap(bits_);
  std::vector<uint8_t*>().swap(rows_);
  width = height = stride = 0;
}

void DibImage::FromFloatImage(const FloatImage& image) {
  Allocate(image.width, image.height);
  if (image.IsEmpty() || IsEmpty()) return;
  // Rows convert independently; the threads take runs of them.
  ParallelFor(0, height, RowGrain(std::ptrdiff_t{width} * 3), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
    for (std::ptrdiff_t y = y0; y < y1; ++y)
      PlanesToBgr(image.rows(FloatImage::kRed)[y], image.rows(FloatImage::kGreen)[y],
                  image.rows(FloatImage::kBlue)[y], rows_[y], width);
  });
}

}  // namespace kestrune
