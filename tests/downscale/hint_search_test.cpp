// HintSearch: its trials and their order, the scores and choices against
// whole ResizePlane calls and SharpnessMeasure on any thread count, what it
// reports, the trials that can never win, and stopping.
#include "downscale/hint_search.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "downscale/sharpness_measure.h"
#include "image/test_chart.h"
#include "resampling/linear_resampler.h"
#include "support/thread_count.h"

using namespace kestrune;

namespace {

// Records every report; asks to stop once `cancelAt` reports are in.
struct RecordingProgress : Progress {
  void Report(const ProgressReport& r) override { reports.push_back(r); }
  bool CancelRequested() override { return cancelAt >= 0 && int(reports.size()) >= cancelAt; }
  std::vector<ProgressReport> reports;
  int cancelAt = -1;
};

// One search of `source` into `image`, with every trial and report recorded.
struct SearchRun {
  SearchRun(const FloatImage& source, const DownscaleParams& p, int cancelAt = -1) : image(source) {
    progress.cancelAt = cancelAt;
    done = HintSearch(image, image, p, &progress, &hint, [this](const HintTrial& t) { trials.push_back(t); });
  }
  FloatImage image;
  RecordingProgress progress;
  std::vector<HintTrial> trials;
  Hint hint;
  bool done;
};

std::vector<float> Fields(const Hint& h) { return {h.offsetX, h.offsetY, h.deviationX, h.deviationY, h.score}; }

// The search read plainly: each score a whole ResizePlane of the luminance
// scored by SharpnessMeasure times the weight; each horizontal group keeps the
// first best vertical offset before it, the deviation trials after the first
// N the best vertical deviation; the hint is the first best horizontal trial,
// the image the colour planes resized with it.
void ExpectPlainReading(const FloatImage& source, const DownscaleParams& p) {
  const SearchRun run(source, p);
  ASSERT_TRUE(run.done);
  const uint32_t n = uint32_t(p.trials), w = p.newWidth, h = p.newHeight;
  ASSERT_EQ(run.trials.size(), 4 * n * n);
  std::vector<float> lum(source.PixelCount()), plane(std::size_t{w} * h);
  for (std::size_t i = 0; i < lum.size(); ++i)
    lum[i] = 0.299f * source.samples(0)[i] + 0.587f * source.samples(1)[i] + 0.114f * source.samples(2)[i];
  Hint hint;
  float best = -1.0f, groupBest = -1.0f, chosenY = 0.0f;
  for (const HintTrial& t : run.trials) {
    SCOPED_TRACE(testing::Message() << "trial " << t.deviationTrial << "/" << t.horizontal << "/" << t.k);
    EXPECT_EQ(t.filterType, t.horizontal ? p.filterType : FilterCatmullRom);
    ResizePlane(lum.data(), source.width, source.height, plane.data(), w, h, t.filterType, t.offsetX, t.offsetY,
                t.deviationX, t.deviationY, p.smoothness);
    const float score = SharpnessMeasure(plane.data(), w, h) * t.weight;
    ASSERT_TRUE(t.score == score || (std::isnan(t.score) && std::isnan(score))) << t.score << " vs " << score;
    if (t.deviationTrial >= int(n)) {
      EXPECT_EQ(t.deviationY, hint.deviationY);
    }
    if (t.k == 0) groupBest = -1.0f;
    if (t.horizontal) {
      EXPECT_EQ(t.offsetY, chosenY);
    }
    if (!t.horizontal && t.score > groupBest) groupBest = t.score, chosenY = t.offsetY;
    if (t.horizontal && t.score > best) best = t.score, hint = {t.offsetX, t.offsetY, t.deviationX, t.deviationY};
  }
  EXPECT_EQ(Fields(run.hint), std::vector<float>({hint.offsetX, hint.offsetY, hint.deviationX, hint.deviationY, best}));
  ASSERT_EQ(std::pair(run.image.width, run.image.height), std::pair(w, h));
  EXPECT_FALSE(run.image.HasAlpha());
  for (int c = 0; c < 3; ++c) {
    ResizePlane(source.samples(c), source.width, source.height, plane.data(), w, h, p.filterType, hint.offsetX,
                hint.offsetY, hint.deviationX, hint.deviationY, p.smoothness);
    EXPECT_EQ(std::vector<float>(run.image.samples(c), run.image.samples(c) + plane.size()), plane) << "plane " << c;
  }
}

TEST(HintSearch, FusedParallelSearchEqualsThePlainReadingOnAnyThreadCount) {
  // The defaults; then odd N (the trials do not split evenly), the box filter
  // and a wider kernel: the vertical offsets are still searched with
  // Catmull-Rom. The alpha plane is dropped.
  const FloatImage chart = RenderTestChart(33, 30, 5);
  FloatImage withAlpha;
  withAlpha.Allocate(33, 30, true, true);
  for (int c = 0; c < 3; ++c) std::copy_n(chart.samples(c), chart.PixelCount(), withAlpha.samples(c));
  for (int threads : kThreadCountsToCompare) {
    ScopedThreadCount scope(threads);
    ExpectPlainReading(RenderTestChart(61, 47), {.newWidth = 24, .newHeight = 19});
    ExpectPlainReading(withAlpha, {.filterType = FilterBox,
                                   .newWidth = 15,
                                   .newHeight = 12,
                                   .smoothness = 2.0f,
                                   .trials = 5,
                                   .scaleDeviation = 3.0f});
  }
}

// Deviations and offsets worked out by hand: the 2N deviation trials come
// first vertical (no horizontal deviation), then horizontal; each holds a
// vertical and then a horizontal group of N offsets, in order.
TEST(HintSearch, TrialsTryTheDeviationsAndOffsetsInOrder) {
  const struct {
    int n;
    float deviation, firstDeviation, deviationStep, offsetStep, weight0;
  } cases[] = {
      {12, 8.0f, -4.0f, 2.0f / 3.0f, 1.0f / 12.0f, std::sqrt(23.0f / 19.0f)},  // the defaults: -4 to 10/3
      {5, 8.0f, -4.0f, 1.6f, 0.2f, std::sqrt(23.0f / 19.0f)},                  // odd N: neither tries 0
      {4, 0.0f, 0.0f, 0.0f, 0.25f, 1.0f},                                      // offsets only
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    const SearchRun run(RenderTestChart(61, 47),
                        {.newWidth = 24, .newHeight = 19, .trials = c.n, .scaleDeviation = c.deviation});
    ASSERT_TRUE(run.done);
    ASSERT_EQ(run.trials.size(), std::size_t(4 * c.n * c.n));
    for (std::size_t i = 0; i < run.trials.size(); ++i) {
      const HintTrial& t = run.trials[i];
      EXPECT_EQ(std::size_t((2 * t.deviationTrial + t.horizontal) * c.n + t.k), i);
      const bool vertical = t.deviationTrial < c.n;
      EXPECT_NEAR(vertical ? t.deviationY : t.deviationX,
                  c.firstDeviation + float(t.deviationTrial % c.n) * c.deviationStep, 1e-5f);
      if (vertical) {
        EXPECT_EQ(t.deviationX, 0.0f);
      }
      EXPECT_NEAR(t.horizontal ? t.offsetX : t.offsetY, -0.5f + float(t.k) * c.offsetStep, 1e-6f);
      if (!t.horizontal) {
        EXPECT_EQ(t.offsetX, 0.0f);
      }
      if (c.deviation == 0.0f) {
        EXPECT_EQ(t.weight, 1.0f);
      }
    }
    EXPECT_FLOAT_EQ(run.trials[0].weight, c.weight0);
    if (c.n != 12) continue;
    // 0 is tried exactly: deviation trials 6 and 18, offset 6.
    EXPECT_EQ(std::vector<float>({run.trials[6 * 24].deviationY, run.trials[18 * 24].deviationX, run.trials[6].offsetY,
                                  run.trials[18].offsetX}),
              std::vector<float>(4, 0.0f));
  }
}

TEST(HintSearch, ReportsEveryReductionThenTheFinalScaling) {
  const SearchRun run(RenderTestChart(40, 33), {.newWidth = 17, .newHeight = 14, .trials = 4});
  ASSERT_TRUE(run.done);
  // One report before each of the 2N x 2 x N reductions: reduction i of 64
  // is at (k / 2N + t + half / 2) * 100 / 2N = i * 100 / 64 percent, with
  // the best score of the deviation trials before it.
  const std::vector<ProgressReport>& r = run.progress.reports;
  ASSERT_EQ(r.size(), 65u);
  float best = -1.0f;
  for (uint32_t i = 0; i < 64; ++i) {
    EXPECT_TRUE(r[i].stage == Stage::kHintSearch && r[i].step == i && r[i].total == 64u) << i;
    EXPECT_NEAR(r[i].percent, i * 100.0 / 64.0, 1e-4);
    EXPECT_EQ(r[i].bestScore, best) << i;
    if (i % 8 == 7)
      for (uint32_t j = i - 3; j <= i; ++j) best = std::max(best, run.trials[j].score);
  }
  EXPECT_TRUE(r[64].stage == Stage::kFinalScaling && r[64].step + r[64].total == 0u);
  EXPECT_EQ(r[64].bestScore, run.hint.score);
}

// A deviation beyond the target's side makes the weight's product negative:
// weight and score are NaN and never win. A one-pixel side scores 0
// everywhere else, so the first trial wins.
TEST(HintSearch, TrialsBeyondTheTargetAreNaNAndNeverWin) {
  const struct {
    uint32_t w, h;
    int n;
    float deviation;
    int nanTrials;
  } cases[] = {
      // N = 6, D = 8: deviations -4, -8/3, -4/3, 0, 4/3, 8/3.
      {25, 1, 6, 8.0f, 24},  // vertical trials 4 and 5, 2N reductions each
      {1, 19, 6, 8.0f, 24},  // horizontal trials 10 and 11
      {1, 1, 6, 8.0f, 48},
      // N = 12, D = 64: -32 to 80/3 in steps of 16/3; vertical trials 10 and
      // 11 (64/3 > 20), horizontal trial 23 (80/3 > 25; 64/3 is not).
      {25, 20, 12, 64.0f, 72},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    const SearchRun run(RenderTestChart(52, 40),
                        {.newWidth = c.w, .newHeight = c.h, .trials = c.n, .scaleDeviation = c.deviation});
    ASSERT_TRUE(run.done);
    const bool onePixel = c.w == 1 || c.h == 1;
    int nanTrials = 0;
    for (const HintTrial& t : run.trials) {
      const bool beyond = t.deviationY > float(c.h) || t.deviationX > float(c.w);
      EXPECT_EQ(std::isnan(t.weight), beyond);
      EXPECT_EQ(std::isnan(t.score), beyond);
      if (onePixel && !beyond) {
        EXPECT_EQ(t.score, 0.0f);
      }
      nanTrials += beyond;
    }
    EXPECT_EQ(nanTrials, c.nanTrials);
    EXPECT_FALSE(std::isnan(run.hint.score));
    EXPECT_TRUE(run.hint.deviationY <= float(c.h) && run.hint.deviationX <= float(c.w));
    EXPECT_EQ(std::pair(run.image.width, run.image.height), std::pair(c.w, c.h));
    if (onePixel) {
      EXPECT_EQ(Fields(run.hint), std::vector<float>({-0.5f, -0.5f, 0.0f, -4.0f, 0.0f}));
    }
  }
}

TEST(HintSearch, StoppedOrUnusableLeavesTheImageAlone) {
  const FloatImage source = RenderTestChart(30, 24);
  const SearchRun stopped(source, {.newWidth = 12, .newHeight = 10, .trials = 4}, 20);  // during trial 2
  EXPECT_FALSE(stopped.done);
  EXPECT_EQ(stopped.progress.reports.size(), 24u);  // seen before the next deviation trial
  ASSERT_EQ(stopped.image.width, source.width);
  for (int c = 0; c < 3; ++c)
    EXPECT_TRUE(std::equal(source.samples(c), source.samples(c) + source.PixelCount(), stopped.image.samples(c)));

  for (const DownscaleParams& p : {DownscaleParams{.newWidth = 0, .newHeight = 10},
                                   DownscaleParams{.newWidth = 10, .newHeight = 10, .trials = 0}}) {
    const SearchRun run(source, p);
    EXPECT_TRUE(!run.done && run.image.width == 30u && run.progress.reports.empty());
  }
  EXPECT_FALSE(SearchRun(FloatImage(), {.newWidth = 10, .newHeight = 10}).done);
}

}  // namespace
