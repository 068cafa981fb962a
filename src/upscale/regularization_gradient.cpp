// RegularizationGradient: for each of the eight neighbour shifts, the sign of
// the difference to the neighbour, then its divergence weighted by 0.5 to the
// power of the shift's length. The sign plane is cleared once per plane, not
// per shift: cells a shift does not write keep the sign of an earlier shift.
#include "upscale/regularization_gradient.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include <immintrin.h>

#include "image/threading.h"

namespace {

// sign(e): 1 for e > 0, 0 for e = 0, -1 otherwise (NaN included).
inline float Sign(float e) { return e > 0.0f ? 1.0f : e == 0.0f ? 0.0f : -1.0f; }

// s[i] = sign(a[i] - b[i]).
void SignRowScalar(const float* a, const float* b, float* s, int n) {
  for (int i = 0; i < n; ++i) s[i] = Sign(a[i] - b[i]);
}

// r[i] = r[i] + weight * (s[i] - t[i]), each step rounded to float.
void AccumulateRowScalar(float* r, const float* s, const float* t, float weight, int n) {
  for (int i = 0; i < n; ++i) r[i] = r[i] + weight * (s[i] - t[i]);
}

__attribute__((target("avx2"))) void SignRowAvx2(const float* a, const float* b, float* s, int n) {
  const __m256 one = _mm256_set1_ps(1.0f), minusOne = _mm256_set1_ps(-1.0f), zero = _mm256_setzero_ps();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 e = _mm256_sub_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i));
    __m256 v = _mm256_blendv_ps(minusOne, one, _mm256_cmp_ps(e, zero, _CMP_GT_OQ));
    v = _mm256_blendv_ps(v, zero, _mm256_cmp_ps(e, zero, _CMP_EQ_OQ));
    _mm256_storeu_ps(s + i, v);
  }
  SignRowScalar(a + i, b + i, s + i, n - i);
}

__attribute__((target("avx2"))) void AccumulateRowAvx2(float* r, const float* s, const float* t, float weight,
                                                       int n) {
  const __m256 w = _mm256_set1_ps(weight);
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 d = _mm256_sub_ps(_mm256_loadu_ps(s + i), _mm256_loadu_ps(t + i));
    _mm256_storeu_ps(r + i, _mm256_add_ps(_mm256_loadu_ps(r + i), _mm256_mul_ps(w, d)));
  }
  AccumulateRowScalar(r + i, s + i, t + i, weight, n - i);
}

bool HaveAvx2() {
  static const bool have = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return have;
}

}  // namespace

void RegularizationGradient(const float* x, int W, int H, float* r, float* sign) {
  // Each step below writes rows independently of the other rows of the same
  // step (the divergence reads the signs the step before wrote), so the
  // threads take runs of rows, step after step.
  const std::ptrdiff_t grain = RowGrain(W);
  ParallelFor(0, H, grain, [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
    std::fill(r + y0 * W, r + y1 * W, 0.0f);
    std::fill(sign + y0 * W, sign + y1 * W, 0.0f);
  });
  const bool wide = HaveAvx2();
  auto signRow = wide ? &SignRowAvx2 : &SignRowScalar;
  auto accumulateRow = wide ? &AccumulateRowAvx2 : &AccumulateRowScalar;
  static const int shifts[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};
  for (const auto& shift : shifts) {
    const int dy = shift[0], dx = shift[1];
    const std::ptrdiff_t offset = std::ptrdiff_t(dy) * W + dx;
    // Pixels whose neighbour (y+dy, x+dx) lies inside the plane.
    const int y0 = std::max(0, -dy), y1 = std::min(H, H - dy);
    const int x0 = std::max(0, -dx), x1 = std::min(W, W - dx);
    ParallelFor(y0, y1, grain, [&](std::ptrdiff_t ya, std::ptrdiff_t yb) {
      for (std::ptrdiff_t y = ya; y < yb; ++y) {
        const std::size_t at = std::size_t(y) * W + x0;
        signRow(x + at, x + at + offset, sign + at, x1 - x0);
      }
    });
    const float a = static_cast<float>(std::pow(0.5, std::sqrt(double(dy * dy + dx * dx))));
    // Pixels for which (y-dy, x-dx) lies inside the plane.
    const int v0 = std::max(0, dy), v1 = std::min(H, H + dy);
    const int u0 = std::max(0, dx), u1 = std::min(W, W + dx);
    ParallelFor(v0, v1, grain, [&](std::ptrdiff_t ya, std::ptrdiff_t yb) {
      for (std::ptrdiff_t y = ya; y < yb; ++y) {
        const std::size_t at = std::size_t(y) * W + u0;
        accumulateRow(r + at, sign + at, sign + at - offset, a, u1 - u0);
      }
    });
  }
}
