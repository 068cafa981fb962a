// FloatImage: the planar in-memory image. Three colour planes (red, green,
// blue) and an optional alpha plane, each one contiguous row-major buffer of
// width x height floats on the 0..255 scale, plus a table of row pointers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/sample_buffer.h"
#include "kestrune/image.h"

namespace kestrune {

struct JpegCoefficients;

class FloatImage {
 public:
  static constexpr int kRed = 0, kGreen = 1, kBlue = 2, kAlpha = 3;

  FloatImage() = default;
  FloatImage(uint32_t width, uint32_t height);  // Allocate, no alpha, not cleared
  FloatImage(const FloatImage& other);
  FloatImage(FloatImage&& other) noexcept;
  FloatImage& operator=(const FloatImage& other);
  FloatImage& operator=(FloatImage&& other) noexcept;
  virtual ~FloatImage() = default;

  // (Re)allocates the planes. Keeps the samples (and ignores `clear`) when the
  // size and the presence of alpha are unchanged. A zero side leaves the image
  // empty with the given size stored. Throws std::bad_alloc on failure and
  // then leaves the image empty.
  void Allocate(uint32_t width, uint32_t height, bool withAlpha = false, bool clear = false);
  void Clear();    // every sample of every present plane to 0
  void Release();  // frees the planes; width and height become 0

  bool IsEmpty() const { return rows_[kRed].empty(); }
  bool HasAlpha() const { return !rows_[kAlpha].empty(); }

  // Plane c (0..3) as a flat row-major buffer; null when the plane is absent.
  float* samples(int c) { return samples_[c].empty() ? nullptr : samples_[c].data(); }
  const float* samples(int c) const { return samples_[c].empty() ? nullptr : samples_[c].data(); }
  // Row table of plane c: rows(c)[y] points at row y of samples(c).
  float* const* rows(int c) { return rows_[c].empty() ? nullptr : rows_[c].data(); }
  const float* const* rows(int c) const {
    return rows_[c].empty() ? nullptr : const_cast<const float* const*>(rows_[c].data());
  }

  std::size_t PixelCount() const { return std::size_t{width} * height; }

  uint32_t sourceBitDepth = 0;  // bit count of the BMP file read last, else 0
  ImageMetadata metadata;       // profile, tags, depth and greyscale flag of the source
  // What the JPEG file the samples were decoded from stores (turned as they
  // are), for the enlargement's observation model; null for any other
  // source, and dropped when the planes may have been changed.
  std::shared_ptr<const JpegCoefficients> jpeg;
  uint32_t width = 0;
  uint32_t height = 0;

 private:
  void BuildRowTables();

  SampleBuffer samples_[4];
  std::vector<float*> rows_[4];
};

}  // namespace kestrune
