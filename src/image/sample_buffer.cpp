// Filling and copying of large planes on all threads.
#include "image/sample_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "image/threading.h"

namespace {
// Samples per piece: a quarter of a megabyte, enough to pay for scheduling.
constexpr std::ptrdiff_t kGrain = 65536;
// Samples of a huge page: a thread that touches one first clears all of it,
// so pieces of fresh memory are whole huge pages.
constexpr std::ptrdiff_t kHugePageSamples = (std::ptrdiff_t{2} << 20) / sizeof(float);
}  // namespace

void* AllocateLargeBlock(std::size_t bytes) {
  // Whole huge pages of 2 MiB, so that no other allocation shares them.
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  if (bytes > std::size_t(-1) - kHugePage) throw std::bad_alloc();
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = std::aligned_alloc(kHugePage, rounded);
  if (p == nullptr) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without huge pages it works as before
#endif
  return p;
}

void FreeLargeBlock(void* p) noexcept { std::free(p); }

void AssignParallel(SampleBuffer& buffer, std::size_t n, float value) {
  buffer.resize(n);
  float* p = buffer.data();
  ParallelFor(0, std::ptrdiff_t(n), n * sizeof(float) >= kLargeBlockBytes ? kHugePageSamples : kGrain,
              [&](std::ptrdiff_t i0, std::ptrdiff_t i1) { std::fill(p + i0, p + i1, value); });
}

void CopyParallel(const float* src, std::size_t n, float* dst) {
  ParallelFor(0, std::ptrdiff_t(n), n * sizeof(float) >= kLargeBlockBytes ? kHugePageSamples : kGrain,
              [&](std::ptrdiff_t i0, std::ptrdiff_t i1) { std::copy(src + i0, src + i1, dst + i0); });
}
