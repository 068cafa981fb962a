// The hint search gives the same trials, scores, hint, progress reports and
// result samples for any thread count.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "downscale/hint_search.h"
#include "image/test_chart.h"
#include "support/thread_count.h"

namespace {

// Records every report in order.
class RecordingProgress : public Progress {
 public:
  void Start(const std::string& text, bool) override { log.push_back("start " + text), ClearCancel(); }
  void SetStatusText(const std::string& text) override { log.push_back("text " + text); }
  void SetProgress(float percent) override { log.push_back("progress " + std::to_string(percent)); }
  void Finish() override { log.push_back("finish"); }
  std::vector<std::string> log;
};

struct SearchRun {
  std::vector<HintTrial> trials;
  std::vector<std::string> reports;
  Hint hint;
  FloatImage image;
};

TEST(ParallelHintSearch, SameForAnyThreadCount) {
  const FloatImage source = MakeTestChart(131, 97, 4);
  // An odd trial count, so that the trials do not split evenly.
  DownscaleParams params;
  params.newWidth = 53;
  params.newHeight = 41;
  params.trials = 7;
  params.filterType = FilterLanczos3;
  std::vector<SearchRun> runs;
  for (int threads : kThreadCountsToCompare) {
    ScopedThreadCount scope(threads);
    SearchRun run;
    run.image = source;
    RecordingProgress progress;
    ASSERT_TRUE(HintSearch(run.image, params, progress, &run.hint,
                           [&](const HintTrial& t) { run.trials.push_back(t); }));
    run.reports = progress.log;
    runs.push_back(std::move(run));
  }
  const SearchRun& one = runs[0];
  ASSERT_EQ(one.trials.size(), std::size_t(2 * 7 * 2 * 7));
  for (std::size_t r = 1; r < runs.size(); ++r) {
    const SearchRun& other = runs[r];
    SCOPED_TRACE(std::to_string(kThreadCountsToCompare[r]) + " threads");
    ASSERT_EQ(other.trials.size(), one.trials.size());
    for (std::size_t i = 0; i < one.trials.size(); ++i) {
      const HintTrial &a = one.trials[i], &b = other.trials[i];
      ASSERT_EQ(a.deviationTrial, b.deviationTrial) << i;
      ASSERT_EQ(a.horizontal, b.horizontal) << i;
      ASSERT_EQ(a.k, b.k) << i;
      ASSERT_EQ(a.offsetX, b.offsetX) << i;
      ASSERT_EQ(a.offsetY, b.offsetY) << i;
      ASSERT_EQ(a.deviationX, b.deviationX) << i;
      ASSERT_EQ(a.deviationY, b.deviationY) << i;
      ASSERT_EQ(a.score, b.score) << i;
    }
    EXPECT_EQ(other.reports, one.reports);
    EXPECT_EQ(other.hint.offsetX, one.hint.offsetX);
    EXPECT_EQ(other.hint.offsetY, one.hint.offsetY);
    EXPECT_EQ(other.hint.deviationX, one.hint.deviationX);
    EXPECT_EQ(other.hint.deviationY, one.hint.deviationY);
    EXPECT_EQ(other.hint.score, one.hint.score);
    for (int c = 0; c < 3; ++c)
      for (std::size_t i = 0; i < one.image.PixelCount(); ++i)
        ASSERT_EQ(other.image.samples(c)[i], one.image.samples(c)[i]) << c << ", " << i;
  }
  // Within each group the trials come in order of k.
  for (std::size_t i = 0; i < one.trials.size(); ++i) EXPECT_EQ(one.trials[i].k, int(i % 7));
}

}  // namespace
