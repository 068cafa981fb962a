// Helpers of the hint search tests: a progress that records every report,
// and exact comparisons of trials, hints and images.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "downscale/hint_search.h"

namespace kestrune {

// Records every report: its stage ("search" or "final"), step, total,
// percent and best score; asks to stop once `cancelAt` reports are in.
class RecordingProgress : public Progress {
 public:
  void Report(const ProgressReport& r) override {
    events.push_back(std::string(r.stage == Stage::kHintSearch ? "search " : "final ") + std::to_string(r.step) +
                     "/" + std::to_string(r.total));
    percents.push_back(r.percent);
    scores.push_back(r.bestScore);
  }
  bool CancelRequested() override { return cancelAt >= 0 && static_cast<int>(events.size()) >= cancelAt; }

  std::vector<std::string> events;
  std::vector<float> percents;
  std::vector<float> scores;
  int cancelAt = -1;
};

inline bool SameFloat(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Every field equal (NaN equal to NaN).
inline testing::AssertionResult SameTrial(const HintTrial& a, const HintTrial& b) {
  if (a.deviationTrial == b.deviationTrial && a.horizontal == b.horizontal && a.k == b.k &&
      a.filterType == b.filterType && a.offsetX == b.offsetX && a.offsetY == b.offsetY &&
      a.deviationX == b.deviationX && a.deviationY == b.deviationY && SameFloat(a.weight, b.weight) &&
      SameFloat(a.score, b.score))
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "trial " << a.deviationTrial << "/" << a.horizontal << "/" << a.k
                                     << " score " << a.score << " vs trial " << b.deviationTrial << "/"
                                     << b.horizontal << "/" << b.k << " score " << b.score;
}

inline void ExpectSameHint(const Hint& a, const Hint& b) {
  EXPECT_EQ(a.offsetX, b.offsetX);
  EXPECT_EQ(a.offsetY, b.offsetY);
  EXPECT_EQ(a.deviationX, b.deviationX);
  EXPECT_EQ(a.deviationY, b.deviationY);
  EXPECT_EQ(a.score, b.score);
}

// Same size, no alpha, and the same colour samples.
inline void ExpectSameImage(const FloatImage& a, const FloatImage& b) {
  ASSERT_EQ(a.width, b.width);
  ASSERT_EQ(a.height, b.height);
  EXPECT_EQ(a.HasAlpha(), b.HasAlpha());
  for (int c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < a.PixelCount(); ++i)
      ASSERT_EQ(a.samples(c)[i], b.samples(c)[i]) << "plane " << c << " sample " << i;
}

}  // namespace kestrune
