// Runs code under a given thread count and restores the default afterwards,
// and compares float buffers bit for bit.
#pragma once

#include <cstring>
#include <vector>

#include "image/threading.h"

class ScopedThreadCount {
 public:
  explicit ScopedThreadCount(int threads) { SetThreadCount(threads); }
  ~ScopedThreadCount() { SetThreadCount(0); }
  ScopedThreadCount(const ScopedThreadCount&) = delete;
  ScopedThreadCount& operator=(const ScopedThreadCount&) = delete;
};

// The thread counts the invariance tests compare: one, the machine's two
// cores, and more threads than cores.
inline constexpr int kThreadCountsToCompare[] = {1, 2, 5};

// True when both buffers hold the same bits (NaN payloads and zero signs
// included).
inline bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}
