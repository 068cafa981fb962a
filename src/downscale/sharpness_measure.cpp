// SharpnessMeasure: the crispness score of a plane. The differences, their
// absolute values and their squares are single-precision values; everything
// summed from them is summed in double precision, pixel by pixel in row order.
#include "downscale/sharpness_measure.h"

#include <cmath>
#include <cstddef>

float SharpnessMeasure(const float* plane, uint32_t width, uint32_t height) {
  if (width < 2 || height < 2) return 0.0f;
  double s1 = 0.0;
  double s2 = 0.0;
  for (uint32_t y = 0; y + 1 < height; ++y) {
    const float* row = plane + std::size_t{y} * width;
    const float* below = row + width;
    for (uint32_t x = 0; x + 1 < width; ++x) {
      const float a = row[x] - row[x + 1];
      const float b = row[x] - below[x];
      s1 += static_cast<double>(std::fabs(a)) + static_cast<double>(std::fabs(b));
      s2 += static_cast<double>(a * a) + static_cast<double>(b * b);
    }
  }
  // n fits easily in a double; in 32 bits it would overflow for large planes.
  const double n = (2.0 * width - 2.0) * (static_cast<double>(height) - 1.0);
  return static_cast<float>(n * s2 / (s1 * s1 + static_cast<double>(1e-12f)));
}
