// FloatImage: allocation, clearing and copying of the planar image.
#include "image/float_image.h"

#include <algorithm>
#include <new>

namespace kestrune {

bool ImageSizeAllowed(uint64_t width, uint64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide &&
         width * height <= kMaxImagePixels;
}

FloatImage::FloatImage(uint32_t width, uint32_t height) { Allocate(width, height); }

FloatImage::FloatImage(const FloatImage& other) { *this = other; }

FloatImage::FloatImage(FloatImage&& other) noexcept { *this = std::move(other); }

FloatImage& FloatImage::operator=(FloatImage&& other) noexcept {
  if (this != &other) {
    // Moving a vector keeps its buffer, so the row tables stay valid.
    for (int c = 0; c < 4; ++c) {
      samples_[c] = std::move(other.samples_[c]);
      rows_[c] = std::move(other.rows_[c]);
      other.samples_[c].clear();
      other.rows_[c].clear();
    }
    sourceBitDepth = other.sourceBitDepth;
    metadata = std::move(other.metadata);
    jpeg = std::move(other.jpeg);
    width = other.width;
    height = other.height;
    other.width = other.height = 0;
  }
  return *this;
}

FloatImage& FloatImage::operator=(const FloatImage& other) {
  if (this == &other) return *this;
  Allocate(other.width, other.height, other.HasAlpha(), false);
  sourceBitDepth = other.sourceBitDepth;
  metadata = other.metadata;
  jpeg = other.jpeg;
  for (int c = 0; c < 4; ++c)
    if (const SampleBuffer& plane = other.samples_[c]; !plane.empty())
      CopyParallel(plane.data(), plane.size(), samples_[c].data());
  return *this;
}

void FloatImage::Allocate(uint32_t newWidth, uint32_t newHeight, bool withAlpha, bool clear) {
  if (newWidth == width && newHeight == height && withAlpha == HasAlpha()) return;
  Release();
  width = newWidth;
  height = newHeight;
  if (newWidth == 0 || newHeight == 0) return;

  const uint64_t count = uint64_t{newWidth} * newHeight;
  try {
    const int planes = withAlpha ? 4 : 3;
    for (int c = 0; c < planes; ++c) AssignParallel(samples_[c], count);  // cleared by all threads
    BuildRowTables();
  } catch (...) {
    // Release() alone would keep the planes obtained so far and the new size
    // (it tests the red row table, not built yet), and the next Allocate of
    // that size would return at once with no row tables. Leave it empty.
    for (int c = 0; c < 4; ++c) {
      SampleBuffer().swap(samples_[c]);
      std::vector<float*>().swap(rows_[c]);
    }
    width = height = 0;
    throw std::bad_alloc();
  }
  // The planes are cleared as they are allocated, so `clear` needs no extra
  // pass here.
  (void)clear;
}

void FloatImage::BuildRowTables() {
  for (int c = 0; c < 4; ++c) {
    if (samples_[c].empty()) continue;
    rows_[c].resize(height);
    float* base = samples_[c].data();
    for (uint32_t y = 0; y < height; ++y) rows_[c][y] = base + std::size_t{y} * width;
  }
}

void FloatImage::Clear() {
  for (auto& plane : samples_) AssignParallel(plane, plane.size());
}

void FloatImage::Release() {
  jpeg.reset();
  if (IsEmpty()) return;  // nothing to free; a zero-sided size stays stored
  for (int c = 0; c < 4; ++c) {
    SampleBuffer().swap(samples_[c]);
    std::vector<float*>().swap(rows_[c]);
  }
  width = height = 0;
}

}  // namespace kestrune
