// Samples between libvips's interleaved buffers and the planes: spread over
// the planes on reading (turned by the EXIF orientation), checked for
// numbers that are not finite, interleaved at the written depth on writing.
// Internal to the image layer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include <vips/vips8>

#include "base/threading.h"
#include "image/byte_conversion.h"
#include "image/float_image.h"

namespace kestrune::vipsio {

SampleDepth DepthOf(VipsBandFormat format);

// Where stored pixel (x, y) of a w x h image goes when EXIF orientation
// `o` is applied: 2 mirrors, 3 turns half round, 4 flips, 5 transposes,
// 6 turns a quarter clockwise, 7 transverses, 8 turns a quarter
// anticlockwise. Orientations 5 to 8 swap the sides.
void Place(int o, uint32_t w, uint32_t h, uint32_t x, uint32_t y, uint32_t& dx, uint32_t& dy);

// Spreads the interleaved samples of a stored w x h image over the planes
// of `image` (already allocated at the oriented size): 8 bits as they are,
// 16 bits v / 257, floats x 255; one band fills all three colour planes;
// the last band of two or four is alpha.
template <class T>
void Spread(const T* samples, uint32_t w, uint32_t h, int bands, int orientation, float scale, bool divide,
            FloatImage& image) {
  const bool alpha = bands == 2 || bands == 4;
  const int colours = bands <= 2 ? 1 : 3;
  const std::size_t outWidth = image.width;
  // Each stored row lands on pixels of its own, so rows are shared out.
  ParallelFor(0, h, RowGrain(std::ptrdiff_t(w) * bands), [&](std::ptrdiff_t firstRow, std::ptrdiff_t endRow) {
    for (uint32_t y = uint32_t(firstRow); y < uint32_t(endRow); ++y) {
      uint32_t x0, y0, x1, y1;
      Place(orientation, w, h, 0, y, x0, y0);
      Place(orientation, w, h, w > 1 ? 1 : 0, y, x1, y1);
      const std::ptrdiff_t start = std::ptrdiff_t(y0 * outWidth + x0);
      const std::ptrdiff_t step = w > 1 ? std::ptrdiff_t(y1 * outWidth + x1) - start : 0;
      const T* in = samples + std::size_t{y} * w * bands;
      for (int c = 0; c < 4; ++c) {
        if (c == 3 && !alpha) break;
        const int band = c == 3 ? bands - 1 : colours == 1 ? 0 : c;
        float* out = image.samples(c) + start;
        for (uint32_t x = 0; x < w; ++x) {
          const float v = static_cast<float>(in[std::size_t{x} * bands + band]);
          out[std::ptrdiff_t(x) * step] = divide ? v / scale : v * scale;
        }
      }
    }
  });
}

// The refusal of the first sample of interleaved rows of `format`, from
// `firstRow` of the stored picture, that is not a finite number; empty when
// all are (always for integer formats).
std::string NonFiniteProblem(const std::string& name, VipsBandFormat format, const void* samples, uint32_t w,
                             uint32_t rows, int bands, uint32_t firstRow);

// Rows [first, first + count) of the planes (all of them by default) as
// interleaved samples, rows shared out over the threads.
template <class T, class F>
std::vector<T> Interleave(const FloatImage& image, int colours, bool alpha, F convert, uint32_t first = 0,
                          uint32_t count = UINT32_MAX) {
  const int bands = colours + (alpha ? 1 : 0);
  count = std::min(count, image.height - first);
  const std::size_t w = image.width;
  std::vector<T> out(w * count * bands);
  ParallelFor(0, count, RowGrain(std::ptrdiff_t(w) * bands), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
    std::vector<uint8_t> row(std::is_same_v<T, uint8_t> ? w : 0);
    for (std::size_t y = std::size_t(y0); y < std::size_t(y1); ++y)
      for (int b = 0; b < bands; ++b) {
        const float* in = image.samples(b < colours ? b : FloatImage::kAlpha) + (first + y) * w;
        T* o = out.data() + y * w * bands + b;
        if constexpr (std::is_same_v<T, uint8_t>) {  // the vector conversion, then spread
          FloatsToBytes(in, row.data(), w);
          for (std::size_t x = 0; x < w; ++x) o[x * bands] = row[x];
        } else {
          for (std::size_t x = 0; x < w; ++x) o[x * bands] = convert(in[x]);
        }
      }
  });
  return out;
}

// A sample of 0..255 as a 16-bit one, rounded to the nearest.
uint16_t FloatToWord(float value);

}  // namespace kestrune::vipsio
