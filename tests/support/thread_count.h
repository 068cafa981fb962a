// Runs code under a given thread count and restores the default afterwards,
// compares float buffers bit for bit, and checks that a computation gives
// the same result for every thread count compared.
#pragma once

#include <cstring>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "kestrune/threads.h"

namespace kestrune {

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

// Runs `run` once under each compared thread count; every result must equal
// the one-thread result (float buffers bit for bit, other types by ==).
template <class F>
void ExpectSameForAnyThreadCount(F run) {
  std::vector<decltype(run())> results;
  for (int threads : kThreadCountsToCompare) {
    ScopedThreadCount scope(threads);
    results.push_back(run());
  }
  for (std::size_t i = 1; i < results.size(); ++i) {
    bool same;
    if constexpr (std::is_same_v<decltype(run()), std::vector<float>>)
      same = SameBits(results[i], results[0]);
    else
      same = results[i] == results[0];
    EXPECT_TRUE(same) << kThreadCountsToCompare[i] << " threads differ from 1";
  }
}

}  // namespace kestrune
