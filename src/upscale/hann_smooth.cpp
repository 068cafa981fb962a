// HannSmooth: separable raised-cosine smoothing with a recursive phasor filter.
// The window sum and the first Fourier coefficient of the window (a complex
// running sum) are updated in constant time per sample, so the cost does not
// depend on the radius. Rows and columns compute exactly the same thing; the
// column pass runs along rows for all columns at once to stay cache-friendly.
#include "upscale/hann_smooth.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace {

using Index = std::ptrdiff_t;

struct Window {
  int r = 0;       // radius after limiting to the sequence length
  int n = 1;       // window length 2r + 1
  double c1 = 0;   // cos(pi / n)
  double s1 = 0;   // sin(pi / n)
  double c2 = 0;   // cos(2 pi / n)
  double s2 = 0;   // sin(2 pi / n)
};

// Radius limited to the sequence length; r <= 0 means "copy unchanged".
Window MakeWindow(int radius, Index length) {
  Window wnd;
  Index r = radius;
  if (r >= length / 2) r = length / 2 - 1;
  wnd.r = static_cast<int>(std::max<Index>(r, 0));
  wnd.n = 2 * wnd.r + 1;
  const float pi = 3.14159265358979323846f;
  const float half = pi / static_cast<float>(wnd.n);
  const float full = 2.0f * pi / static_cast<float>(wnd.n);
  wnd.c1 = std::cos(double(half));
  wnd.s1 = std::sin(double(half));
  wnd.c2 = std::cos(double(full));
  wnd.s2 = std::sin(double(full));
  return wnd;
}

// Mirror rule: position -j reads j (the first sample is not repeated),
// position N-1+j reads N-j (the last sample is repeated).
inline Index Mirror(Index q, Index N) {
  if (q < 0) return -q;
  if (q >= N) return 2 * N - 1 - q;
  return q;
}

// The running sums of one sequence.
struct Sums {
  float sum = 0, re = 0, im = 0;

  void Start(const Window& wnd, const float* x, Index N, Index stride) {
    sum = re = im = 0;
    double pr = -wnd.c1, pi = -wnd.s1;  // phasor of window position 0
    for (Index q = -wnd.r; q <= wnd.r; ++q) {
      const float v = x[Mirror(q, N) * stride];
      sum += v;
      re = static_cast<float>(double(re) + double(v) * pr);
      im = static_cast<float>(double(im) + double(v) * pi);
      const double nr = pr * wnd.c2 - pi * wnd.s2;
      const double ni = pr * wnd.s2 + pi * wnd.c2;
      pr = nr;
      pi = ni;
    }
  }

  // Slides the window by one: `in` enters at the end, `out` leaves the start.
  void Step(const Window& wnd, float in, float out) {
    sum = sum + in - out;
    const float d = in - out;
    const double r = double(re) * wnd.c2 + double(im) * wnd.s2 + double(d) * -wnd.c1;
    const double i = double(im) * wnd.c2 - double(re) * wnd.s2 + double(d) * wnd.s1;
    re = static_cast<float>(r);
    im = static_cast<float>(i);
  }

  float Value(float n) const { return (sum + re) / n; }
};

// One sequence of N samples a stride apart, x into y (distinct buffers).
void SmoothLine(const float* x, float* y, Index N, Index stride, const Window& wnd) {
  if (N <= 2 || wnd.r == 0) {
    for (Index i = 0; i < N; ++i) y[i * stride] = x[i * stride];
    return;
  }
  const float n = static_cast<float>(wnd.n);
  Sums s;
  s.Start(wnd, x, N, stride);
  y[0] = s.Value(n);
  for (Index i = 1; i < N; ++i) {
    s.Step(wnd, x[Mirror(i + wnd.r, N) * stride], x[Mirror(i - 1 - wnd.r, N) * stride]);
    y[i * stride] = s.Value(n);
  }
}

// Every column of the W x H plane x into y, all columns advancing together.
void SmoothColumns(const float* x, float* y, Index W, Index H, const Window& wnd) {
  if (H <= 2 || wnd.r == 0) {
    std::copy(x, x + W * H, y);
    return;
  }
  const float n = static_cast<float>(wnd.n);
  std::vector<Sums> sums(static_cast<std::size_t>(W));
  for (Index c = 0; c < W; ++c) sums[c].Start(wnd, x + c, H, W);
  for (Index c = 0; c < W; ++c) y[c] = sums[c].Value(n);
  for (Index i = 1; i < H; ++i) {
    const float* in = x + Mirror(i + wnd.r, H) * W;
    const float* out = x + Mirror(i - 1 - wnd.r, H) * W;
    float* dst = y + i * W;
    for (Index c = 0; c < W; ++c) {
      sums[c].Step(wnd, in[c], out[c]);
      dst[c] = sums[c].Value(n);
    }
  }
}

}  // namespace

void HannSmooth(const float* src, float* dst, int W, int H, int r, float* tmp) {
  if (W <= 0 || H <= 0) return;
  const Window rows = MakeWindow(r, W);
  for (Index y = 0; y < H; ++y) SmoothLine(src + y * Index{W}, tmp + y * Index{W}, W, 1, rows);
  SmoothColumns(tmp, dst, W, H, MakeWindow(r, H));
}
