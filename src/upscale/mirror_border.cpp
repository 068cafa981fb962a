// Mirrored border extension of a plane (for the NEDI run's frame) and the
// cropping of the padded result back to its interior.
#include "upscale/mirror_border.h"

#include <algorithm>
#include <cstddef>

#include "base/threading.h"

namespace kestrune {

namespace {

// Source index for border index i of a plane of n samples: the x2 grid is
// mirrored about its first and last samples (enlarged positions 0 and
// 2n-1), the continuation the downsampling model of the enhancement
// assumes. In source samples: -k reads k (the first sample not repeated),
// n-1+k reads n-k (the last sample repeated, as it lies half a sample inside
// the enlarged grid's end). Borders wider than the plane fold back again.
std::ptrdiff_t Reflect(std::ptrdiff_t i, std::ptrdiff_t n) {
  const std::ptrdiff_t period = 2 * n - 1;
  i %= period;
  if (i < 0) i += period;
  return i < n ? i : period - i;
}

}  // namespace

void PadMirror(const float* src, int w, int h, int p, float* dst) {
  if (w <= 0 || h <= 0 || p < 0) return;
  using Index = std::ptrdiff_t;
  const Index pw = Index{w} + 2 * Index{p};
  // Every destination sample is written, the corners mirrored both ways, so
  // that a flat plane stays flat and nothing is left over from before. Rows
  // are independent; the threads take runs of them.
  ParallelFor(0, Index{h} + 2 * Index{p}, RowGrain(pw), [&](Index y0, Index y1) {
    for (Index y = y0; y < y1; ++y) {
      const float* s = src + Reflect(y - p, h) * w;
      float* d = dst + y * pw;
      std::copy(s, s + w, d + p);
      for (Index k = 1; k <= p; ++k) {
        d[p - k] = s[Reflect(-k, w)];
        d[p + w - 1 + k] = s[Reflect(w - 1 + k, w)];
      }
    }
  });
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
