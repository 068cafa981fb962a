// Mirrored border extension of a plane (for the NEDI run's frame) and the
// cropping of the padded result back to its interior.
#include "upscale/mirror_border.h"

#include <algorithm>
#include <cstddef>

#include "base/threading.h"

namespace kestrune {

void PadMirror(const float* src, int w, int h, int p, float* dst) {
  if (w <= 0 || h <= 0 || p < 0) return;
  using Index = std::ptrdiff_t;
  const Index pw = Index{w} + 2 * Index{p};
  auto drow = [&](Index y) { return dst + y * pw; };
  // Rows are independent; the threads take runs of them.
  ParallelFor(0, h, RowGrain(pw), [&](Index y0, Index y1) {
    for (Index y = y0; y < y1; ++y) {
      const float* s = src + y * w;
      float* d = drow(y + p);
      std::copy(s, s + w, d + p);
      // Left: about the first column, which is not repeated. Right: the last
      // column is repeated.
      for (Index k = 1; k <= p && k < w; ++k) {
        d[p - k] = s[k];
        d[p + w - 1 + k] = s[w - k];
      }
    }
  });
  // Top and bottom: about the first and last rows, neither repeated; the
  // corners are left alone.
  for (Index k = 1; k <= p && k < h; ++k) {
    const float* top = src + k * w;
    const float* bottom = src + (h - 1 - k) * w;
    std::copy(top, top + w, drow(p - k) + p);
    std::copy(bottom, bottom + w, drow(p + h - 1 + k) + p);
  }
}

void CropPadded(float* dst, int w, int rows, int p, const float* padded) {
  if (w <= 0 || rows <= 0 || p < 0) return;
  using Index = std::ptrdiff_t;
  const Index pw = Index{w} + 2 * Index{p};
  ParallelFor(0, rows, RowGrain(w), [&](Index y0, Index y1) {
    for (Index y = y0; y < y1; ++y) {
      const float* q = padded + (y + p) * pw + p;
      std::copy(q, q + w, dst + y * Index{w});
    }
  });
}

}  // namespace kestrune
