// RegularizationGradient: for each of the eight neighbour shifts d, the
// sign S(q) = sign(x(q) - x(q + d)) and the divergence a_d (S(p) - S(p - d))
// added to every pixel p, with a_d = 0.5^|d|. Beyond the plane x is read
// mirrored about its first and last samples, the continuation the
// downsampling model assumes, so a border pixel is pulled by the same rule as
// any other instead of by signs left over from other shifts.
//
// A pixel's gradient depends on its 3 x 3 neighbourhood alone, with its
// eight terms added in shift order: one pass over the plane, rows shared out
// among the threads, the interior eight pixels at a time.
#include "upscale/regularization_gradient.h"

#include <cmath>
#include <cstddef>

#include "base/threading.h"
#include "base/vec8.h"

namespace kestrune {

namespace {

using Index = std::ptrdiff_t;
using vec8::Load;
using vec8::Vec8;

constexpr int kShifts[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};

// sign(e): 1 for e > 0, 0 for e = 0, -1 otherwise (NaN included).
inline float Sign(float e) { return e > 0.0f ? 1.0f : e == 0.0f ? 0.0f : -1.0f; }

inline Vec8 Sign(Vec8 e) {
  const Vec8 one = {1, 1, 1, 1, 1, 1, 1, 1}, minusOne = -one, zero = {};
  const Vec8 v = e > zero ? one : minusOne;
  return e == zero ? zero : v;
}

// Whole-sample mirror of index i into 0 .. n-1 (i lies within one step).
inline Index Mirror(Index i, Index n) { return n == 1 ? 0 : i < 0 ? -i : i >= n ? 2 * (n - 1) - i : i; }

struct Plane {
  const float* x;
  Index W, H;
  float a[8];  // 0.5^|d| per shift

  float At(Index y, Index c) const { return x[Mirror(y, H) * W + Mirror(c, W)]; }

  // The gradient at pixel (y, c) with mirrored reads, in the vector order.
  // Always inlined: a call from the AVX2 clone of GradientRow into code built
  // for the baseline instruction set left the later passes twice as slow.
  __attribute__((always_inline)) float Pixel(Index y, Index c) const {
    const float centre = At(y, c);
    float r = 0.0f;
    for (int k = 0; k < 8; ++k) {
      const float s = Sign(centre - At(y + kShifts[k][0], c + kShifts[k][1]));
      const float t = Sign(At(y - kShifts[k][0], c - kShifts[k][1]) - centre);
      r = r + a[k] * (s - t);
    }
    return r;
  }
};

// Row y of r; the interior columns 1..W-2 of an interior row eight at a time.
KESTRUNE_VECTOR_CLONES
void GradientRow(const Plane& p, Index y, float* r) {
  const Index W = p.W;
  Index c = 0;
  if (y > 0 && y + 1 < p.H) {
    r[0] = p.Pixel(y, 0);
    Index off[8];
    for (int k = 0; k < 8; ++k) off[k] = kShifts[k][0] * W + kShifts[k][1];
    const float* row = p.x + y * W;
    for (c = 1; c + 8 <= W - 1; c += 8) {
      const Vec8 centre = Load(row + c);
      Vec8 sum = {};
      for (int k = 0; k < 8; ++k) {
        const Vec8 s = Sign(centre - Load(row + c + off[k]));
        const Vec8 t = Sign(Load(row + c - off[k]) - centre);
        sum = sum + p.a[k] * (s - t);
      }
      vec8::Store(r + c, sum);
    }
  }
  for (; c < W; ++c) r[c] = p.Pixel(y, c);
}

}  // namespace

void RegularizationGradient(const float* x, int W, int H, float* r) {
  if (W <= 0 || H <= 0) return;
  Plane p{x, W, H, {}};
  for (int k = 0; k < 8; ++k) {
    const int dy = kShifts[k][0], dx = kShifts[k][1];
    p.a[k] = static_cast<float>(std::pow(0.5, std::sqrt(double(dy * dy + dx * dx))));
  }
  ParallelFor(0, H, RowGrain(W), [&](Index y0, Index y1) {
    for (Index y = y0; y < y1; ++y) GradientRow(p, y, r + y * p.W);
  });
}

}  // namespace kestrune
