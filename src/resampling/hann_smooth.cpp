// HannSmooth: separable raised-cosine smoothing with a recursive phasor filter.
// The window sum and the first Fourier coefficient of the window (a complex
// running sum) are updated in constant time per sample, so the cost does not
// depend on the radius. Rows and columns compute exactly the same thing: the
// column pass runs along rows for all columns at once, and the row pass lays
// eight rows side by side and runs the same column routine on them. Row
// groups and column bands are independent, so the threads share them out.
#include "resampling/hann_smooth.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "base/threading.h"
#include "base/vec8.h"

namespace kestrune {

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

// GCC vector extensions; vectors never cross function boundaries.
#pragma GCC diagnostic ignored "-Wpsabi"

constexpr Index kLanes = 8;
using vec8::Vec8;
typedef double Vec8d __attribute__((vector_size(64)));

using vec8::Load;
using vec8::Store;
inline Vec8d Wide(Vec8 v) { return __builtin_convertvector(v, Vec8d); }
inline Vec8 Narrow(Vec8d v) { return __builtin_convertvector(v, Vec8); }

// The running sums of W sequences side by side (the columns of a W x H
// plane): the window sum and the real and imaginary parts of the phasor sum,
// all kept in float. Each column is computed exactly as a single sequence
// would be: the lanes never mix.
class ColumnSums {
 public:
  // W sequences whose consecutive samples lie `stride` floats apart.
  ColumnSums(const Window& wnd, Index W, Index stride) : wnd_(wnd), W_(W), stride_(stride), sum_(W), re_(W), im_(W) {}

  // Sums for output 0: window positions -r..r through the mirror rule.
  KESTRUNE_VECTOR_CLONES
  void Start(const float* x, Index H) {
    std::fill(sum_.begin(), sum_.end(), 0.0f);
    std::fill(re_.begin(), re_.end(), 0.0f);
    std::fill(im_.begin(), im_.end(), 0.0f);
    double pr = -wnd_.c1, pi = -wnd_.s1;  // phasor of window position 0
    for (Index q = -wnd_.r; q <= wnd_.r; ++q) {
      const float* row = x + Mirror(q, H) * stride_;
      Index c = 0;
      for (; c + kLanes <= W_; c += kLanes) {
        const Vec8 v = Load(row + c);
        const Vec8d vd = Wide(v);
        Store(&sum_[c], Load(&sum_[c]) + v);
        Store(&re_[c], Narrow(Wide(Load(&re_[c])) + vd * pr));
        Store(&im_[c], Narrow(Wide(Load(&im_[c])) + vd * pi));
      }
      for (; c < W_; ++c) {
        const float v = row[c];
        sum_[c] += v;
        re_[c] = static_cast<float>(double(re_[c]) + double(v) * pr);
        im_[c] = static_cast<float>(double(im_[c]) + double(v) * pi);
      }
      const double nr = pr * wnd_.c2 - pi * wnd_.s2;
      const double ni = pr * wnd_.s2 + pi * wnd_.c2;
      pr = nr;
      pi = ni;
    }
  }

  // Writes output rows 1..H-1 of the W sequences (samples `stride` apart in
  // x and y), sliding every window by one row per output row. One call per
  // plane band keeps the constants of the step in registers.
  KESTRUNE_VECTOR_CLONES
  void Slide(const float* x, float* y, Index H) {
    Constants k;
    k.c1 = -wnd_.c1, k.s1 = wnd_.s1, k.c2 = wnd_.c2, k.s2 = wnd_.s2;
    k.n = static_cast<float>(wnd_.n);
    k.c1v = k.c1 + Vec8d{}, k.s1v = k.s1 + Vec8d{}, k.c2v = k.c2 + Vec8d{}, k.s2v = k.s2 + Vec8d{};
    for (Index i = 1; i < H; ++i)
      Step(x + Mirror(i + wnd_.r, H) * stride_, x + Mirror(i - 1 - wnd_.r, H) * stride_, y + i * stride_, k);
  }

  void Value(float* y) const {
    const float n = static_cast<float>(wnd_.n);
    for (Index c = 0; c < W_; ++c) y[c] = (sum_[c] + re_[c]) / n;
  }

 private:
  // The step's rotation (c2, s2) and the entering sample's phasor (c1, s1),
  // also broadcast once for the vector lanes, and the window length.
  struct Constants {
    double c1, s1, c2, s2;
    Vec8d c1v, s1v, c2v, s2v;
    float n;
  };

  // Slides every window by one (`in` enters, `out` leaves) and writes the
  // smoothed values (sum + re) / n.
  __attribute__((always_inline)) inline void Step(const float* in, const float* out, float* y, const Constants& k) {
    Index c = 0;
    for (; c + kLanes <= W_; c += kLanes) {
      const Vec8 a = Load(in + c), b = Load(out + c);
      const Vec8 sum = Load(&sum_[c]) + a - b;
      const Vec8d d = Wide(a - b);
      const Vec8d re = Wide(Load(&re_[c])), im = Wide(Load(&im_[c]));
      const Vec8 nre = Narrow(re * k.c2v + im * k.s2v + d * k.c1v);
      const Vec8 nim = Narrow(im * k.c2v - re * k.s2v + d * k.s1v);
      Store(&sum_[c], sum);
      Store(&re_[c], nre);
      Store(&im_[c], nim);
      Store(y + c, (sum + nre) / k.n);
    }
    for (; c < W_; ++c) {
      const float a = in[c], b = out[c];
      const float sum = sum_[c] + a - b;
      const double d = double(a - b);
      const double re = re_[c], im = im_[c];
      const float nre = static_cast<float>(re * k.c2 + im * k.s2 + d * k.c1);
      const float nim = static_cast<float>(im * k.c2 - re * k.s2 + d * k.s1);
      sum_[c] = sum;
      re_[c] = nre;
      im_[c] = nim;
      y[c] = (sum + nre) / k.n;
    }
  }

  Window wnd_;
  Index W_, stride_;
  std::vector<float> sum_, re_, im_;
};

// Columns [c0, c1) of the W x H plane x into y (distinct buffers), all of
// them advancing together.
void SmoothColumnRange(const float* x, float* y, Index W, Index H, Index c0, Index c1, const Window& wnd) {
  x += c0;
  y += c0;
  ColumnSums sums(wnd, c1 - c0, W);
  sums.Start(x, H);
  sums.Value(y);
  sums.Slide(x, y, H);
}

// Every column of the W x H plane x into y (distinct buffers). Columns are
// independent; the threads take bands of them.
void SmoothColumns(const float* x, float* y, Index W, Index H, const Window& wnd) {
  if (H <= 2 || wnd.r == 0) {
    std::copy(x, x + W * H, y);
    return;
  }
  constexpr Index kBand = 64;
  const Index bands = (W + kBand - 1) / kBand;
  ParallelFor(0, bands, RowGrain(kBand * H), [&](Index b0, Index b1) {
    SmoothColumnRange(x, y, W, H, b0 * kBand, std::min(W, b1 * kBand), wnd);
  });
}

// Every row of the W x H plane x into y: eight rows at a time are laid side
// by side (sample m of row l at m * 8 + l), which makes them the columns of
// an 8-wide plane for the column routine.
void SmoothRows(const float* x, float* y, Index W, Index H, const Window& wnd) {
  if (W <= 2 || wnd.r == 0) {
    std::copy(x, x + W * H, y);
    return;
  }
  // Groups of eight rows are independent; the threads take runs of them.
  const Index groups = (H + kLanes - 1) / kLanes;
  ParallelFor(0, groups, RowGrain(kLanes * W), [&](Index g0, Index g1) {
    std::vector<float> in(std::size_t(W * kLanes)), out(std::size_t(W * kLanes));
    for (Index y0 = g0 * kLanes; y0 < std::min(H, g1 * kLanes); y0 += kLanes) {
      const Index lanes = std::min(kLanes, H - y0);
      for (Index m = 0; m < W; ++m)
        for (Index l = 0; l < kLanes; ++l) in[m * kLanes + l] = l < lanes ? x[(y0 + l) * W + m] : 0.0f;
      SmoothColumnRange(in.data(), out.data(), kLanes, W, 0, kLanes, wnd);
      for (Index l = 0; l < lanes; ++l)
        for (Index m = 0; m < W; ++m) y[(y0 + l) * W + m] = out[m * kLanes + l];
    }
  });
}

}  // namespace

void HannSmooth(const float* src, float* dst, int W, int H, int r, float* tmp) {
  if (W <= 0 || H <= 0) return;
  SmoothRows(src, tmp, W, H, MakeWindow(r, W));
  SmoothColumns(tmp, dst, W, H, MakeWindow(r, H));
}

}  // namespace kestrune
