// Forcing an instruction set by name.
#include "base/simd.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace kestrune;

namespace {

TEST(Simd, EveryAvailableTargetCanBeForcedAndUnknownOnesAreRefused) {
  const std::vector<std::string> names = simd::AvailableTargets();
  ASSERT_GE(names.size(), 2u);  // scalar and at least the emulated vectors
  EXPECT_EQ(names.front(), "scalar");
  for (const std::string& name : names) {
    ASSERT_TRUE(simd::ForceTarget(name)) << name;
    EXPECT_EQ(simd::ScalarKernels(), name == "scalar") << name;
  }
  ASSERT_TRUE(simd::ForceTarget("SCALAR"));  // any case; refusals change nothing
  for (const char* name : {"mmx", "scalar2", "avx"}) EXPECT_FALSE(simd::ForceTarget(name)) << name;
  EXPECT_TRUE(simd::ScalarKernels());
  ASSERT_TRUE(simd::ForceTarget("auto"));
  EXPECT_FALSE(simd::ScalarKernels());
  ASSERT_TRUE(simd::ForceTarget(names.back()) && simd::ForceTarget(""));
  EXPECT_FALSE(simd::ScalarKernels());
}

}  // namespace
