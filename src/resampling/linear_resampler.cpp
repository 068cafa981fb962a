// Polyphase linear resampling: the kernel table, the per-phase normalised
// weights and the output positions of one line geometry, the line resampler,
// and the separable resize of a plane.
//
// ResizePlane runs ResizeRows (resize_rows.cpp) on blocks of output rows,
// which the threads share out; each output sample is computed by exactly one
// of them, so the result is the same for any thread count.
#include "resampling/linear_resampler.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <numeric>

#include "base/threading.h"
#include "resampling/resize_rows.h"

namespace kestrune {

namespace Resampling {

namespace {

constexpr double kPi = 3.1415927410125732;  // pi rounded to single precision

int BaseWidth(int type) {
  switch (type) {
    case FilterBox: return 1;
    case FilterBilinear: return 2;
    case FilterLanczos3: return 6;
    case FilterSinc: return 40;
    default: return 4;  // B-spline, Catmull-Rom, Lanczos-2 and any unknown type
  }
}

// sin(x)/x * sin(v)/v with the window argument v, 1 at x = 0.
double WindowedSinc(double x, double v) {
  if (x == 0.0) return 1.0;
  return (std::sin(x) / x) * (std::sin(v) / v);
}

// Kernel value at table offset k = i - half, with scale = max(P, Q) * smoothness.
double Kernel(int type, double k, double scale) {
  switch (type) {
    case FilterBox: return 1.0;
    case FilterBilinear: {
      const double x = k * kPi / scale;
      return 1.0 - std::abs(x) / kPi;
    }
    case FilterCubicBSpline: {
      const double t = k / scale, a = std::abs(t), a3 = a * a * a, t2 = t * t;
      if (a < 1.0) return 3.0 * a3 - 6.0 * t2 + 4.0;
      return -a3 + 6.0 * t2 - 12.0 * a + 8.0;
    }
    case FilterLanczos2: {
      const double x = k * kPi / scale;
      return WindowedSinc(x, x / 2.0);
    }
    case FilterLanczos3: {
      const double x = k * kPi / scale;
      return WindowedSinc(x, x / 3.0);
    }
    case FilterSinc: {
      const double x = k * kPi / scale;
      return WindowedSinc(x, 0.05 * x);
    }
    default: {  // Catmull-Rom
      const double t = k / scale, a = std::abs(t), a3 = a * a * a, t2 = t * t;
      if (a < 1.0) return 9.0 * a3 - 15.0 * t2 + 6.0;
      return -3.0 * a3 + 15.0 * t2 - 24.0 * a + 12.0;
    }
  }
}

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

void LinearResampler::Configure(uint32_t inLen, uint32_t outLen, int filterType, float offset, float deviation,
                                float smoothness) {
  if (filterType < FilterBox || filterType > FilterSinc) filterType = FilterCatmullRom;
  inLength = inLen;
  outLength = outLen;
  if (inLen == 0 || outLen == 0) {  // nothing to resample: no taps, no reads
    taps = 0;
    phaseWeights.assign(1, {});
    phaseShift.assign(1, 0);
    outPhase.assign(outLen, 0);
    outStart.assign(outLen, 0);
    return;
  }

  // Phase count Q of at least 500; P/Q is the exact scale ratio.
  const uint64_t g = std::gcd(uint64_t{inLen}, uint64_t{outLen});
  uint64_t P = g ? inLen / g : 0, Q = g ? outLen / g : 1;
  while (Q < 500) {
    P *= 2;
    Q *= 2;
  }

  // Support width, stretched by the ratio when shrinking.
  const float ratio = static_cast<float>(double(P) / double(Q));
  const float width = static_cast<float>(BaseWidth(filterType)) * std::max(ratio, 1.0f) * smoothness;
  const float ceiling = std::ceil(width);
  taps = ceiling > 0.0f ? static_cast<uint32_t>(ceiling) : 0;

  // Kernel table entry i (offset i - half), no cut-off at the nominal
  // support. Every kernel is even, and its evaluation is exactly symmetric
  // (negating the argument only flips signs that cancel), so an entry below
  // the centre takes the value of its mirror image above it.
  const std::size_t L = std::size_t{taps} * Q;
  const int64_t half = static_cast<int64_t>(L / 2);
  const double scale = double(std::max(P, Q)) * double(smoothness);
  auto entry = [&](int64_t i) {
    const int64_t k = i - half;
    return static_cast<float>(Kernel(filterType, double(k >= 0 || half - k < int64_t(L) ? std::abs(k) : k), scale));
  };

  // Phase p starts at table entry d = (half - p) mod Q and reads every Q-th
  // entry; its shift is the whole number of input samples skipped.
  phaseShift.assign(Q + 1, 0);
  for (uint64_t p = 0; p <= Q; ++p) phaseShift[p] = static_cast<int32_t>(-FloorDiv(half - int64_t(p), int64_t(Q)));

  // Position of every output sample on the input and its phase.
  outPhase.resize(outLen);
  outStart.resize(outLen);
  const long double extent = static_cast<long double>(inLen) + static_cast<long double>(deviation);
  const float qf = static_cast<float>(Q);
  for (uint32_t o = 0; o < outLen; ++o) {
    const long double exact = (extent * (static_cast<long double>(o) + 0.5L + static_cast<long double>(offset))) /
                                  static_cast<long double>(outLen) -
                              0.5L - static_cast<long double>(deviation) * 0.5L;
    const float pos = static_cast<float>(exact);
    int32_t ipos = static_cast<int32_t>(pos);
    if (pos < 0.0f) ipos -= 1;
    const float fraction = pos - static_cast<float>(ipos);
    const int32_t phase = static_cast<int32_t>(std::nearbyint(fraction * qf));
    outPhase[o] = phase;
    outStart[o] = ipos + phaseShift[phase];
  }

  // The weights of phases 0..Q, each normalised to sum 1 in single
  // precision. A strong reduction has many taps per phase (a 100000 -> 1
  // Catmull-Rom line has 400000), so beyond kFullTableLimit weights only the
  // phases some output sample uses are filled and the others stay empty.
  const bool full = uint64_t{taps} * (Q + 1) <= kFullTableLimit;
  std::vector<float> table;
  if (full) {
    table.resize(L);
    for (std::size_t i = std::size_t(half); i < L; ++i) table[i] = entry(int64_t(i));
    for (int64_t i = 0; i < half; ++i) {
      const int64_t mirror = 2 * half - i;
      table[std::size_t(i)] = mirror < int64_t(L) ? table[std::size_t(mirror)] : entry(i);
    }
  }
  phaseWeights.assign(Q + 1, {});
  auto fill = [&](uint64_t p) {
    std::vector<float>& w = phaseWeights[p];
    if (!w.empty()) return;
    w.resize(taps);
    const int64_t d = (half - int64_t(p)) + int64_t(phaseShift[p]) * int64_t(Q);
    float sum = 0.0f;
    for (uint32_t j = 0; j < taps; ++j) {
      const int64_t i = int64_t(j) * int64_t(Q) + d;
      w[j] = full ? table[std::size_t(i)] : entry(i);
      sum += w[j];
    }
    const float inv = 1.0f / sum;
    for (float& v : w) v *= inv;
  };
  if (full)
    for (uint64_t p = 0; p <= Q; ++p) fill(p);
  else
    for (int32_t p : outPhase) fill(uint64_t(p));
}

void LinearResampler::Resample(const float* in, float* out) const {
  const int64_t last = int64_t(inLength) - 1;
  for (uint32_t o = 0; o < outLength; ++o) {
    const int64_t start = outStart[o];
    const float* w = phaseWeights[outPhase[o]].data();
    float acc = 0.0f;
    if (start > 0 && start + taps <= inLength) {
      const float* s = in + start;
      for (uint32_t j = 0; j < taps; ++j) acc += s[j] * w[j];
    } else {
      for (uint32_t j = 0; j < taps; ++j) acc += in[std::clamp<int64_t>(start + j, 0, last)] * w[j];
    }
    out[o] = acc;
  }
}

}  // namespace Resampling

void ResizePlane(const float* src, uint32_t srcWidth, uint32_t srcHeight, float* dst, uint32_t dstWidth,
                 uint32_t dstHeight, int filterType, float offsetX, float offsetY, float deviationX, float deviationY,
                 float smoothness) {
  using namespace Resampling;
  using Index = std::ptrdiff_t;
  if (srcWidth == 0 || srcHeight == 0 || dstWidth == 0 || dstHeight == 0) return;
  const Index sw = srcWidth, dw = dstWidth, dh = dstHeight;

  LinearResampler vertical, horizontal;
  vertical.Configure(srcHeight, dstHeight, filterType, offsetY, deviationY, smoothness);
  horizontal.Configure(srcWidth, dstWidth, filterType, offsetX, deviationX, smoothness);

  // Blocks of rows are independent: the threads share them out.
  const LinearResampler* verticals[1] = {&vertical};
  const LinearResampler* horizontals[1] = {&horizontal};
  float* dsts[1] = {dst};
  const Index blocks = (dh + kResizeBlockRows - 1) / kResizeBlockRows;
  const Index work = kResizeBlockRows * (sw * Index(vertical.taps) + dw * Index(horizontal.taps));
  ParallelFor(0, blocks, RowGrain(work), [&](Index firstBlock, Index lastBlock) {
    ResizeRows(src, sw, verticals, horizontals, 1, firstBlock * kResizeBlockRows,
               std::min(dh, lastBlock * kResizeBlockRows), dsts);
  });
}

}  // namespace kestrune
