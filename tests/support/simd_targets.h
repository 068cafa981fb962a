// Runs a test body once on every instruction set this build and machine
// offer, the plain scalar kernels first, so that each vector path can be
// checked against the scalar one.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "base/simd.h"

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

}  // namespace kestrune
