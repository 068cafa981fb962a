// Downsample2: kernel (-s, -s, 0.5, 1, 0.5, -s, -s) normalised to sum 1, applied
// around every even sample, first along rows into the temporary plane, then
// along its columns. The weights are floats; each sum is formed in double
// precision, taps from left (top) to right (bottom), divided by the sum of the
// float weights and stored as float. Rounding the weights to float leaves
// their sum a few parts in 10^8 off 1, which would turn a flat plane into one
// a unit in the last place lower; the enhancement's fourth-root residual
// magnifies such a unit into a visible step.
#include "upscale/downsample2.h"

#include <cstddef>

#include "base/threading.h"

namespace kestrune {

namespace {

struct Kernel {
  float w[7];
  double norm;  // 1 / the sum of w
};

Kernel MakeKernel(float sideLobe) {
  const double s = sideLobe;
  const double n = 1.0 / ((0.5 - s - s) * 2.0 + 1.0);
  const float centre = static_cast<float>(n), near = static_cast<float>(0.5 * n), far = static_cast<float>(-s * n);
  // The sum of the float weights, formed in double.
  const double sum = double(centre) + 2.0 * double(near) + 4.0 * double(far);
  return {{far, far, near, centre, near, far, far}, 1.0 / sum};
}

// Whole-sample symmetric extension: -k reads k, N-1+k reads N-1-k.
inline int Mirror(int i, int n) { return i < 0 ? -i : i > n - 1 ? 2 * (n - 1) - i : i; }

// One line of n input samples (stride `in`) to n/2 outputs (stride `out`).
void Line(const float* src, std::ptrdiff_t inStride, int n, float* dst, std::ptrdiff_t outStride, const Kernel& k) {
  const int half = n / 2;
  for (int x = 0; x < half; ++x) {
    const int c = 2 * x;
    double sum = 0.0;
    if (x >= 2 && x <= half - 2) {
      for (int t = 0; t < 7; ++t) sum += double(k.w[t]) * double(src[(c - 3 + t) * inStride]);
    } else {
      for (int t = 0; t < 7; ++t) sum += double(k.w[t]) * double(src[Mirror(c - 3 + t, n) * inStride]);
    }
    dst[x * outStride] = static_cast<float>(sum * k.norm);
  }
}

}  // namespace

void Downsample2(const float* src, int W, int H, float* dst, int /*factor*/, float* tmp, float sideLobe) {
  const Kernel k = MakeKernel(sideLobe);
  const std::size_t halfW = static_cast<std::size_t>(W / 2);
  // Both passes work row by row, each row its own set of sums, so the threads
  // take runs of rows.
  ParallelFor(0, H, RowGrain(W * 4), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
    for (std::ptrdiff_t y = y0; y < y1; ++y) Line(src + std::size_t(y) * W, 1, W, tmp + std::size_t(y) * halfW, 1, k);
  });

  // Columns of the temporary plane, all columns of an output row at once.
  const int halfH = H / 2;
  ParallelFor(0, halfH, RowGrain(std::ptrdiff_t(halfW) * 7), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
  for (int y = int(y0); y < int(y1); ++y) {
    const int c = 2 * y;
    const float* rows[7];
    for (int t = 0; t < 7; ++t) rows[t] = tmp + std::size_t(Mirror(c - 3 + t, H)) * halfW;
    float* out = dst + std::size_t(y) * halfW;
    for (std::size_t x = 0; x < halfW; ++x) {
      double sum = 0.0;
      for (int t = 0; t < 7; ++t) sum += double(k.w[t]) * double(rows[t][x]);
      out[x] = static_cast<float>(sum * k.norm);
    }
  }
  });
}

}  // namespace kestrune
