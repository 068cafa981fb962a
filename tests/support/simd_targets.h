// Runs a test body on every instruction set offered, the scalar kernels first.
#pragma once

#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "base/simd.h"
#include "support/thread_count.h"

namespace kestrune {

template <class Body>
void ForEachSimdTarget(Body&& body) {
  for (const std::string& name : simd::AvailableTargets()) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(simd::ForceTarget(name));
    body(name);
  }
  simd::ForceTarget("");
}

// The result of `run` with the plain scalar kernels.
template <class Run>
auto OnScalar(Run&& run) {
  simd::ForceTarget("scalar");
  auto result = run();
  simd::ForceTarget("");
  return result;
}

// Each instruction set's `run` must equal the scalar one (floats bit for bit).
template <class Run>
void ExpectSameOnEveryTarget(Run&& run) {
  decltype(run()) scalar{};
  ForEachSimdTarget([&](const std::string& target) {
    if (target == "scalar") {
      scalar = run();
      return;
    }
    const auto result = run();
    if constexpr (std::is_same_v<std::decay_t<decltype(result)>, std::vector<float>>)
      EXPECT_TRUE(SameBits(result, scalar)) << target << " differs from scalar";
    else
      EXPECT_TRUE(result == scalar) << target << " differs from scalar";
  });
}

}  // namespace kestrune
