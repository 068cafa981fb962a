// Helpers of the hint search tests: a progress display that records every
// call, and exact comparisons of trials, hints and images.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "downscale/hint_search.h"

namespace kestrune {

// Records every progress call as one event: "start <text> <cancel>",
// "status <text>", "progress", "finish"; the percentages apart.
class RecordingProgress : public Progress {
 public:
  void Start(const std::string& text, bool cancelEnabled) override {
    ClearCancel();
    events.push_back("start " + text + (cancelEnabled ? " 1" : " 0"));
  }
  void SetStatusText(const std::string& text) override { events.push_back("status " + text); }
  void SetProgress(float percent) override {
    events.push_back("progress");
    percents.push_back(percent);
    if (cancelAt >= 0 && static_cast<int>(percents.size()) == cancelAt) RequestCancel();
  }
  void Finish() override { events.push_back("finish"); }

  std::vector<std::string> events;
  std::vector<float> percents;
  int cancelAt = -1;  // requests cancellation at this SetProgress call (1-based)
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
