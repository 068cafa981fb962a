// Thread counts set for a scope, float buffers compared bit for bit, and
// results compared across thread counts.
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

// One thread, the machine's two cores, more threads than cores.
inline constexpr int kThreadCountsToCompare[] = {1, 2, 5};

// The same bits, NaN payloads and zero signs included.
inline bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Every thread count's `run` must equal the one-thread one (floats bit for bit).
template <class F>
void ExpectSameForAnyThreadCount(F run) {
  std::vector<decltype(run())> results;
  for (int threads : kThreadCountsToCompare) {
    ScopedThreadCount scope(threads);
    results.push_back(run());
  }
  for (std::size_t i = 1; i < results.size(); ++i) {
    if constexpr (std::is_same_v<decltype(run()), std::vector<float>>)
      EXPECT_TRUE(SameBits(results[i], results[0])) << kThreadCountsToCompare[i] << " threads differ from 1";
    else
      EXPECT_TRUE(results[i] == results[0]) << kThreadCountsToCompare[i] << " threads differ from 1";
  }
}

}  // namespace kestrune
