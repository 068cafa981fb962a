// RegularizationGradient: for each of the eight neighbour shifts, the sign of
// the difference to the neighbour, then its divergence weighted by 0.5 to the
// power of the shift's length. The sign plane is cleared once per plane, not
// per shift: cells a shift does not write keep the sign of an earlier shift.
#include "upscale/regularization_gradient.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

inline float Sign(float e) { return e > 0.0f ? 1.0f : e == 0.0f ? 0.0f : -1.0f; }

}  // namespace

void RegularizationGradient(const float* x, int W, int H, float* r, float* sign) {
  const std::size_t n = std::size_t(W) * std::size_t(H);
  std::fill(r, r + n, 0.0f);
  std::fill(sign, sign + n, 0.0f);
  static const int shifts[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};
  for (const auto& shift : shifts) {
    const int dy = shift[0], dx = shift[1];
    const std::ptrdiff_t offset = std::ptrdiff_t(dy) * W + dx;
    // Pixels whose neighbour (y+dy, x+dx) lies inside the plane.
    const int y0 = std::max(0, -dy), y1 = std::min(H, H - dy);
    const int x0 = std::max(0, -dx), x1 = std::min(W, W - dx);
    for (int y = y0; y < y1; ++y) {
      const std::size_t row = std::size_t(y) * W;
      for (int xx = x0; xx < x1; ++xx) sign[row + xx] = Sign(x[row + xx] - x[row + xx + offset]);
    }
    const float a = static_cast<float>(std::pow(0.5, std::sqrt(double(dy * dy + dx * dx))));
    // Pixels for which (y-dy, x-dx) lies inside the plane.
    const int v0 = std::max(0, dy), v1 = std::min(H, H + dy);
    const int u0 = std::max(0, dx), u1 = std::min(W, W + dx);
    for (int y = v0; y < v1; ++y) {
      const std::size_t row = std::size_t(y) * W;
      for (int xx = u0; xx < u1; ++xx) r[row + xx] = r[row + xx] + a * (sign[row + xx] - sign[row + xx - offset]);
    }
  }
}
