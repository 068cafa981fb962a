// Runs a test body once on every instruction set this build and machine
// offer, the plain scalar kernels first, so that each vector path can be
// checked against the scalar one.
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

// Runs `run` on every instruction set; each result must equal the scalar
// kernels' one (float buffers bit for bit, other types by ==).
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
