// Filling and copying of large planes on all threads.
#include "image/sample_buffer.h"

#include <algorithm>

#include "image/threading.h"

namespace {
// Samples per piece: a quarter of a megabyte, enough to pay for scheduling.
constexpr std::ptrdiff_t kGrain = 65536;
}  // namespace

void AssignParallel(SampleBuffer& buffer, std::size_t n, float value) {
  buffer.resize(n);
  float* p = buffer.data();
  ParallelFor(0, std::ptrdiff_t(n), kGrain,
              [&](std::ptrdiff_t i0, std::ptrdiff_t i1) { std::fill(p + i0, p + i1, value); });
}

void CopyParallel(const float* src, std::size_t n, float* dst) {
  ParallelFor(0, std::ptrdiff_t(n), kGrain,
              [&](std::ptrdiff_t i0, std::ptrdiff_t i1) { std::copy(src + i0, src + i1, dst + i0); });
}
