// Filling and copying of large planes on all threads.
#include "base/sample_buffer.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

// Own mappings on Linux, except under AddressSanitizer, which must see every
// block to check the accesses to it.
#if defined(__SANITIZE_ADDRESS__)
#define KESTRUNE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRUNE_ASAN 1
#endif
#endif
#if defined(__linux__) && !defined(KESTRUNE_ASAN)
#define KESTRUNE_OWN_MAPPINGS 1
#else
#define KESTRUNE_OWN_MAPPINGS 0
#endif

#if KESTRUNE_OWN_MAPPINGS
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "base/threading.h"

namespace kestrune {

namespace {
#if KESTRUNE_OWN_MAPPINGS
std::size_t RoundUpToPage(std::size_t bytes) {
  const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
  return (bytes + page - 1) / page * page;
}
#endif

// Samples per piece: a quarter of a megabyte, enough to pay for scheduling.
constexpr std::ptrdiff_t kGrain = 65536;
// Samples of a huge page: a thread that touches one first clears all of it,
// so the pieces of a large block are whole huge pages.
constexpr std::ptrdiff_t kHugePageSamples = (std::ptrdiff_t{2} << 20) / sizeof(float);

std::ptrdiff_t GrainFor(std::size_t n) { return n * sizeof(float) >= kLargeBlockBytes ? kHugePageSamples : kGrain; }
}  // namespace

#if KESTRUNE_OWN_MAPPINGS

// Blocks freed while a LargeBlockReuse is open, kept mapped for the next
// allocation they can hold (cut to its length). Whenever a block must be
// mapped afresh, kept blocks of at least its length are unmapped first, so
// the memory held never exceeds what the same run holds without the reuse.
namespace {
struct KeptBlocks {
  std::mutex mutex;
  int scopes = 0;
  std::vector<std::pair<void*, std::size_t>> blocks;  // address, mapped length

  static KeptBlocks& Get() {
    static KeptBlocks kept;
    return kept;
  }
  // Unmaps kept blocks, longest first, until `length` bytes are gone (all of
  // them for length = -1). The caller holds the mutex.
  void Drop(std::size_t length) {
    std::sort(blocks.begin(), blocks.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    std::size_t dropped = 0;
    while (!blocks.empty() && dropped < length) {
      munmap(blocks.back().first, blocks.back().second);
      dropped += blocks.back().second;
      blocks.pop_back();
    }
  }
};
}  // namespace

// A mapping of its own, aligned to a huge page of 2 MiB. Only the whole huge
// pages inside the block are marked, so the tail takes no more memory than
// it uses.
void* AllocateLargeBlock(std::size_t bytes) {
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  if (bytes == 0 || bytes > std::size_t(-1) / 2 - kHugePage) throw std::bad_alloc();
  const std::size_t length = RoundUpToPage(bytes);
  {
    KeptBlocks& kept = KeptBlocks::Get();
    std::lock_guard lock(kept.mutex);
    // The shortest kept block that is long enough, cut to the length.
    auto best = kept.blocks.end();
    for (auto it = kept.blocks.begin(); it != kept.blocks.end(); ++it)
      if (it->second >= length && (best == kept.blocks.end() || it->second < best->second)) best = it;
    if (best != kept.blocks.end()) {
      char* p = static_cast<char*>(best->first);
      if (best->second > length) munmap(p + length, best->second - length);
      kept.blocks.erase(best);
      return p;
    }
    kept.Drop(length);
  }
  void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  char* base = static_cast<char*>(raw);
  char* p = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(base) + kHugePage - 1) / kHugePage * kHugePage);
  if (p > base) munmap(base, std::size_t(p - base));
  if (char* end = base + length + kHugePage; p + length < end) munmap(p + length, std::size_t(end - (p + length)));
#if defined(MADV_HUGEPAGE)
  if (const std::size_t whole = bytes / kHugePage * kHugePage; whole > 0)
    madvise(p, whole, MADV_HUGEPAGE);  // a hint: without huge pages it works as before
#endif
  return p;
}

void FreeLargeBlock(void* p, std::size_t bytes) noexcept {
  KeptBlocks& kept = KeptBlocks::Get();
  std::lock_guard lock(kept.mutex);
  if (kept.scopes > 0) {
    try {
      kept.blocks.emplace_back(p, RoundUpToPage(bytes));
      return;
    } catch (...) {
    }
  }
  munmap(p, RoundUpToPage(bytes));
}

LargeBlockReuse::LargeBlockReuse() {
  KeptBlocks& kept = KeptBlocks::Get();
  std::lock_guard lock(kept.mutex);
  ++kept.scopes;
}

LargeBlockReuse::~LargeBlockReuse() {
  KeptBlocks& kept = KeptBlocks::Get();
  std::lock_guard lock(kept.mutex);
  if (--kept.scopes == 0) kept.Drop(std::size_t(-1));
}

#else

void* AllocateLargeBlock(std::size_t bytes) { return ::operator new(bytes); }
void FreeLargeBlock(void* p, std::size_t) noexcept { ::operator delete(p); }
LargeBlockReuse::LargeBlockReuse() = default;
LargeBlockReuse::~LargeBlockReuse() = default;

#endif

void AssignParallel(SampleBuffer& buffer, std::size_t n, float value) {
  buffer.resize(n);
  float* p = buffer.data();
  ParallelFor(0, std::ptrdiff_t(n), GrainFor(n),
              [&](std::ptrdiff_t i0, std::ptrdiff_t i1) { std::fill(p + i0, p + i1, value); });
}

void CopyParallel(const float* src, std::size_t n, float* dst) {
  ParallelFor(0, std::ptrdiff_t(n), GrainFor(n),
              [&](std::ptrdiff_t i0, std::ptrdiff_t i1) { std::copy(src + i0, src + i1, dst + i0); });
}

}  // namespace kestrune
