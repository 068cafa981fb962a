// Sample conversions between libvips and the planes.
#include "image/vips_samples.h"

#include <cmath>

#include "image/format_readers.h"

namespace kestrune::vipsio {

SampleDepth DepthOf(VipsBandFormat format) {
  return format == VIPS_FORMAT_UCHAR    ? SampleDepth::k8
         : format == VIPS_FORMAT_USHORT ? SampleDepth::k16
                                        : SampleDepth::k32Float;
}

void Place(int o, uint32_t w, uint32_t h, uint32_t x, uint32_t y, uint32_t& dx, uint32_t& dy) {
  switch (o) {
    case 2: dx = w - 1 - x, dy = y; break;
    case 3: dx = w - 1 - x, dy = h - 1 - y; break;
    case 4: dx = x, dy = h - 1 - y; break;
    case 5: dx = y, dy = x; break;
    case 6: dx = h - 1 - y, dy = x; break;
    case 7: dx = h - 1 - y, dy = w - 1 - x; break;
    case 8: dx = y, dy = w - 1 - x; break;
    default: dx = x, dy = y; break;
  }
}

namespace {

// The refusal of the first sample of interleaved rows, from `firstRow` of
// the stored picture, that is not a finite number; empty when all are.
template <class T>
std::string NonFiniteProblem(const std::string& name, const T* samples, uint32_t w, uint32_t rows, int bands,
                             uint32_t firstRow) {
  static const char *const kColour[4] = {"red", "green", "blue", "alpha"}, *const kGrey[2] = {"grey", "alpha"};
  const std::size_t count = std::size_t{w} * rows * bands;
  for (std::size_t i = 0; i < count; ++i)
    if (!std::isfinite(samples[i])) {
      const std::size_t pixel = i / bands;
      const int band = int(i % bands);
      return NonFiniteMessage(name, firstRow + pixel / w, pixel % w, bands <= 2 ? kGrey[band] : kColour[band],
                              double(samples[i]));
    }
  return {};
}

}  // namespace

std::string NonFiniteProblem(const std::string& name, VipsBandFormat format, const void* samples, uint32_t w,
                             uint32_t rows, int bands, uint32_t firstRow) {
  if (format == VIPS_FORMAT_FLOAT)
    return NonFiniteProblem(name, static_cast<const float*>(samples), w, rows, bands, firstRow);
  if (format == VIPS_FORMAT_DOUBLE)
    return NonFiniteProblem(name, static_cast<const double*>(samples), w, rows, bands, firstRow);
  return {};
}

uint16_t FloatToWord(float value) {
  const float scaled = value * 257.0f;
  const float clamped = scaled > 0.0f ? (scaled < 65535.0f ? scaled : 65535.0f) : 0.0f;
  return static_cast<uint16_t>(std::nearbyint(clamped));
}

}  // namespace kestrune::vipsio
