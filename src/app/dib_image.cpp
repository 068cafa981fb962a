// DibImage: allocation of the bottom-up 24-bit buffer, its filling from an
// image and the way back.
#include "app/dib_image.h"

#include <kestrune/bitmap.h>

#include <algorithm>
#include <limits>
#include <new>

void DibImage::Allocate(uint32_t newWidth, uint32_t newHeight) {
  if (newWidth == width && newHeight == height) return;
  Release();
  if (newWidth == 0 || newHeight == 0) {
    width = newWidth;
    height = newHeight;
    return;
  }
  const uint64_t newStride = (3 * uint64_t{newWidth} + 3) / 4 * 4;
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

void DibImage::FromImage(const kestrune::ImageView& image) {
  Allocate(image.width, image.height);
  if (image.IsEmpty() || IsEmpty()) return;
  // Top row last in memory: the rows go bottom-up from row 0's address.
  kestrune::ExportBytes(image, kestrune::PixelOrder::kBgr, rows_[0], -std::ptrdiff_t{stride});
}

void DibImage::ForDisplay(const kestrune::ImageView& image) {
  FromImage(image);
  const float* alpha = image.planes[kestrune::kAlpha];
  if (alpha == nullptr || IsEmpty()) return;
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* out = rows_[y];
    const float* a = image.Row(kestrune::kAlpha, y);
    const float* colour[3] = {image.Row(kestrune::kBlue, y), image.Row(kestrune::kGreen, y),
                              image.Row(kestrune::kRed, y)};
    for (uint32_t x = 0; x < width; ++x) {
      const float coverage = std::clamp(a[x], 0.0f, 255.0f) / 255.0f;
      if (coverage == 1.0f) continue;
      const float square = ((x / 8 + y / 8) & 1) ? 204.0f : 255.0f;
      for (int c = 0; c < 3; ++c)
        out[3 * x + c] = kestrune::SampleToByte(colour[c][x] * coverage + square * (1.0f - coverage));
    }
  }
}

kestrune::Image DibImage::ToImage() const {
  kestrune::Image image(width, height);
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* in = rows_[y];
    float* planes[3] = {image.Row(kestrune::kRed, y), image.Row(kestrune::kGreen, y), image.Row(kestrune::kBlue, y)};
    for (uint32_t x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) planes[c][x] = in[3 * x + 2 - c];
  }
  return image;
}
