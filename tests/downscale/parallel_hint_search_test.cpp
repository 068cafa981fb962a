// The hint search gives the same trials, scores, hint, progress reports and
// result samples for any thread count.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "downscale/hint_search.h"
#include "downscale/hint_test_util.h"
#include "image/test_chart.h"
#include "support/thread_count.h"

using namespace kestrune;

namespace {

struct SearchRun {
  std::vector<HintTrial> trials;
  RecordingProgress progress;
  Hint hint;
  FloatImage image;
};

TEST(ParallelHintSearch, SameForAnyThreadCount) {
  const FloatImage source = RenderTestChart(131, 97, 4);
  // An odd trial count, so that the trials do not split evenly.
  DownscaleParams params;
  params.newWidth = 53;
  params.newHeight = 41;
  params.trials = 7;
  params.filterType = FilterLanczos3;
  std::vector<SearchRun> runs(std::size(kThreadCountsToCompare));
  for (std::size_t r = 0; r < runs.size(); ++r) {
    ScopedThreadCount scope(kThreadCountsToCompare[r]);
    SearchRun& run = runs[r];
    run.image = source;
    ASSERT_TRUE(HintSearch(run.image, run.image, params, &run.progress, &run.hint,
                           [&](const HintTrial& t) { run.trials.push_back(t); }));
  }
  const SearchRun& one = runs[0];
  ASSERT_EQ(one.trials.size(), std::size_t(2 * 7 * 2 * 7));
  for (std::size_t r = 1; r < runs.size(); ++r) {
    const SearchRun& other = runs[r];
    SCOPED_TRACE(std::to_string(kThreadCountsToCompare[r]) + " threads");
    ASSERT_EQ(other.trials.size(), one.trials.size());
    for (std::size_t i = 0; i < one.trials.size(); ++i) ASSERT_TRUE(SameTrial(other.trials[i], one.trials[i])) << i;
    EXPECT_EQ(other.progress.events, one.progress.events);
    EXPECT_EQ(other.progress.percents, one.progress.percents);
    EXPECT_EQ(other.progress.scores, one.progress.scores);
    ExpectSameHint(other.hint, one.hint);
    ExpectSameImage(other.image, one.image);
  }
  // Within each group the trials come in order of k.
  for (std::size_t i = 0; i < one.trials.size(); ++i) EXPECT_EQ(one.trials[i].k, int(i % 7));
}

}  // namespace
