// RunningMax: window maxima against a brute-force scan, and the documented
// behaviour of the rescan when `initial` exceeds the pushed values.
#include "resampling/running_max.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <random>

#include <gtest/gtest.h>

using namespace kestrune;

namespace {

TEST(RunningMax, MatchesBruteForceWhenInitialIsLowest) {
  std::mt19937 rng(7);
  for (unsigned length : {1u, 2u, 3u, 5u, 25u}) {
    RunningMax<float> m(length, -std::numeric_limits<float>::infinity());
    std::deque<float> window;
    // Small integers give many ties and many rescans (decreasing runs).
    std::uniform_int_distribution<int> value(-5, 5);
    for (int i = 0; i < 2000; ++i) {
      const float v = i % 97 < 30 ? float(30 - i % 97) : float(value(rng));
      window.push_back(v);
      if (window.size() > length) window.pop_front();
      ASSERT_EQ(m.Push(v), *std::max_element(window.begin(), window.end())) << "length " << length << " i " << i;
    }
  }
}

TEST(RunningMax, InitialAboveThePushedValues) {
  RunningMax<float> m(3, 10.0f);
  // Slots still holding the initial value dominate.
  EXPECT_EQ(m.Push(1.0f), 10.0f);
  EXPECT_EQ(m.Push(5.0f), 10.0f);
  // The last initial slot is overwritten: the rescan finds nothing >= 10, so
  // the overwritten slot stays tracked and its new value 2 is returned, though
  // 5 is still in the window.
  EXPECT_EQ(m.Push(2.0f), 2.0f);
  // 9 >= 2 becomes the tracked maximum again.
  EXPECT_EQ(m.Push(9.0f), 9.0f);
}

TEST(RunningMax, NaNNeverBecomesTheMaximum) {
  RunningMax<float> m(3, -1000.0f);
  m.Push(1.0f);
  EXPECT_EQ(m.Push(std::nanf("")), 1.0f);
  EXPECT_EQ(m.Push(0.5f), 1.0f);
  EXPECT_EQ(m.Push(0.25f), 0.5f);  // 1 leaves: rescan skips the NaN
}

}  // namespace
