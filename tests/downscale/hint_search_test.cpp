// HintSearch: the trials it makes, what it reports, the hint it picks and the
// image it leaves, checked against a plain reading of the search built from
// whole ResizePlane calls and SharpnessMeasure.
#include "downscale/hint_search.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "downscale/hint_test_util.h"
#include "downscale/sharpness_measure.h"
#include "resampling/linear_resampler.h"

using namespace kestrune;

namespace {

// A small photograph-like picture: smooth shading, sharp edges, fine texture.
FloatImage TestImage(uint32_t width, uint32_t height, bool alpha = false) {
  FloatImage image;
  image.Allocate(width, height, alpha);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const std::size_t i = std::size_t{y} * width + x;
      const float edge = (3 * x + 2 * y) % 23 < 11 ? 60.0f : -60.0f;
      const float shade = 40.0f * std::sin(0.21f * x) * std::cos(0.17f * y);
      const float texture = static_cast<float>((x * 7919u + y * 104729u) % 17) - 8.0f;
      image.samples(FloatImage::kRed)[i] = 128.0f + edge + shade + texture;
      image.samples(FloatImage::kGreen)[i] = 110.0f + 0.8f * edge - shade;
      image.samples(FloatImage::kBlue)[i] = 90.0f + 0.5f * edge + 2.0f * texture;
      if (alpha) image.samples(FloatImage::kAlpha)[i] = 200.0f;
    }
  return image;
}

float Score(const std::vector<float>& luminance, const FloatImage& source, const DownscaleParams& p, int filter,
            float offX, float offY, float devX, float devY, float weight) {
  std::vector<float> plane(std::size_t{p.newWidth} * p.newHeight);
  ResizePlane(luminance.data(), source.width, source.height, plane.data(), p.newWidth, p.newHeight, filter, offX,
              offY, devX, devY, p.smoothness);
  return SharpnessMeasure(plane.data(), p.newWidth, p.newHeight) * weight;
}

struct Reference {
  Hint hint;
  std::vector<HintTrial> trials;
  FloatImage result;
};

// The search read step by step, with one whole ResizePlane per reduction.
Reference ReferenceSearch(const FloatImage& source, const DownscaleParams& p) {
  Reference ref;
  std::vector<float> lum(source.PixelCount());
  for (std::size_t i = 0; i < lum.size(); ++i) {
    const float r = source.samples(0)[i], g = source.samples(1)[i], b = source.samples(2)[i];
    const float rg = 0.299f * r + 0.587f * g;
    lum[i] = rg + 0.114f * b;
  }
  const int n = p.trials;
  float best = -1.0f;
  Hint& hint = ref.hint;
  for (int t = 0; t < 2 * n; ++t) {
    const float devY = t < n ? (static_cast<float>(t) / n - 0.5f) * p.scaleDeviation : hint.deviationY;
    const float devX = t < n ? 0.0f : (static_cast<float>(t - n) / n - 0.5f) * p.scaleDeviation;
    const float product = (1.0f - devX / p.newWidth) * (1.0f - devY / p.newHeight);
    const float weight = std::sqrt(product);
    float best1 = -1.0f, candY = 0.0f;
    for (int k = 0; k < n; ++k) {
      const float offY = static_cast<float>(k) / n - 0.5f;
      const float s = Score(lum, source, p, FilterCatmullRom, 0.0f, offY, devX, devY, weight);
      ref.trials.push_back({t, false, k, FilterCatmullRom, 0.0f, offY, devX, devY, weight, s});
      if (s > best1) best1 = s, candY = offY;
    }
    float best2 = -1.0f, candX = 0.0f;
    for (int k = 0; k < n; ++k) {
      const float offX = static_cast<float>(k) / n - 0.5f;
      const float s = Score(lum, source, p, p.filterType, offX, candY, devX, devY, weight);
      ref.trials.push_back({t, true, k, p.filterType, offX, candY, devX, devY, weight, s});
      if (s > best2) best2 = s, candX = offX;
    }
    if (best2 > best) {
      best = best2;
      hint.offsetX = candX;
      hint.offsetY = candY;
      (t < n ? hint.deviationY : hint.deviationX) = t < n ? devY : devX;
    }
  }
  hint.score = best;
  ref.result.Allocate(p.newWidth, p.newHeight);
  for (int c = 0; c < 3; ++c)
    ResizePlane(source.samples(c), source.width, source.height, ref.result.samples(c), p.newWidth, p.newHeight,
                p.filterType, hint.offsetX, hint.offsetY, hint.deviationX, hint.deviationY, p.smoothness);
  return ref;
}

struct SearchRun {
  bool done = false;
  Hint hint;
  FloatImage image;
  std::vector<HintTrial> trials;
  RecordingProgress progress;
};

void RunSearch(const FloatImage& source, const DownscaleParams& p, SearchRun& run) {
  run.image = source;
  run.done = HintSearch(run.image, run.image, p, &run.progress, &run.hint,
                        [&](const HintTrial& trial) { run.trials.push_back(trial); });
}

// The search must make exactly the reference's reductions, score them
// identically, choose the same hint and leave the same image.
void ExpectMatchesReference(const FloatImage& source, const DownscaleParams& p) {
  const Reference ref = ReferenceSearch(source, p);
  SearchRun run;
  RunSearch(source, p, run);
  ASSERT_TRUE(run.done);
  ASSERT_EQ(run.trials.size(), ref.trials.size());
  for (std::size_t i = 0; i < ref.trials.size(); ++i) ASSERT_TRUE(SameTrial(run.trials[i], ref.trials[i])) << i;
  ExpectSameHint(run.hint, ref.hint);
  ExpectSameImage(run.image, ref.result);
}

DownscaleParams Params(uint32_t w, uint32_t h, int trials = 12, float deviation = 8.0f, int filter = 3) {
  DownscaleParams p;
  p.newWidth = w;
  p.newHeight = h;
  p.trials = trials;
  p.scaleDeviation = deviation;
  p.filterType = filter;
  return p;
}

TEST(HintSearch, MatchesPlainResizePlaneSearch) {
  const FloatImage source = TestImage(61, 47);
  ExpectMatchesReference(source, Params(24, 19));                      // the defaults
  // Odd N and the box filter: the vertical offset search still reduces with
  // Catmull-Rom, as the reference does.
  ExpectMatchesReference(source, Params(30, 22, 5, 3.0f, FilterBox));
  ExpectMatchesReference(source, Params(20, 31, 4, 8.0f, FilterSinc));
  DownscaleParams smooth = Params(40, 17, 4, 64.0f, FilterLanczos3);
  smooth.smoothness = 2.0f;
  ExpectMatchesReference(source, smooth);
  // The current size still searches and may shift.
  ExpectMatchesReference(TestImage(36, 28), Params(36, 28, 4, 8.0f));
  // Alpha is dropped; the colour planes are resized as the reading says.
  const FloatImage withAlpha = TestImage(33, 30, true);
  ExpectMatchesReference(withAlpha, Params(15, 12, 4, 4.0f));
  SearchRun run;
  RunSearch(withAlpha, Params(15, 12, 4, 4.0f), run);
  EXPECT_EQ(run.image.samples(FloatImage::kAlpha), nullptr);
}

TEST(HintSearch, TwelveTrialsWithDeviationEight) {
  const FloatImage source = TestImage(61, 47);
  SearchRun run;
  RunSearch(source, Params(24, 19), run);
  ASSERT_TRUE(run.done);
  ASSERT_EQ(run.trials.size(), 576u);  // 2N deviation trials of 2N reductions

  // Deviations -4 to 10/3 in steps of 2/3 with 0 among them, first the
  // vertical ones (horizontal unchanged), then the horizontal ones with the
  // best vertical deviation; offsets -0.5 to 5/12 in steps of 1/12.
  for (const HintTrial& trial : run.trials) {
    const int t = trial.deviationTrial;
    const float step = (t % 12) * (2.0f / 3.0f) - 4.0f;
    if (t < 12) {
      EXPECT_NEAR(trial.deviationY, step, 1e-6f);
      EXPECT_EQ(trial.deviationX, 0.0f);
    } else {
      EXPECT_NEAR(trial.deviationX, step, 1e-6f);
      EXPECT_EQ(trial.deviationY, run.hint.deviationY);
    }
    EXPECT_NEAR(trial.horizontal ? trial.offsetX : trial.offsetY, trial.k / 12.0f - 0.5f, 1e-7f);
    EXPECT_EQ(trial.horizontal ? trial.filterType : FilterCatmullRom, FilterCatmullRom);
  }
  EXPECT_EQ(run.trials[6 * 24].deviationY, 0.0f);
  EXPECT_EQ(run.trials[6].offsetY, 0.0f);
  EXPECT_EQ(run.trials[18 * 24].deviationX, 0.0f);
  EXPECT_EQ(run.trials[18].offsetX, 0.0f);
}

TEST(HintSearch, OddTrialCountNeverTriesZero) {
  SearchRun run;
  RunSearch(TestImage(30, 30), Params(13, 11, 5, 8.0f), run);
  ASSERT_TRUE(run.done);
  for (const HintTrial& trial : run.trials) {
    EXPECT_NE(trial.horizontal ? trial.offsetX : trial.offsetY, 0.0f);
    EXPECT_NE(trial.deviationTrial < 5 ? trial.deviationY : trial.deviationX, 0.0f);
  }
}

TEST(HintSearch, DeviationZeroOnlyChoosesOffsets) {
  SearchRun run;
  RunSearch(TestImage(40, 33), Params(17, 14, 4, 0.0f), run);
  ASSERT_TRUE(run.done);
  for (const HintTrial& trial : run.trials) {
    EXPECT_EQ(trial.deviationX, 0.0f);
    EXPECT_EQ(trial.deviationY, 0.0f);
    EXPECT_EQ(trial.weight, 1.0f);
  }
  EXPECT_EQ(run.hint.deviationX, 0.0f);
  EXPECT_EQ(run.hint.deviationY, 0.0f);
  // Every deviation trial repeats the first, so the first one's choice stands.
  for (std::size_t i = 16; i < run.trials.size(); ++i) EXPECT_EQ(run.trials[i].score, run.trials[i % 16].score);
  float best = -1.0f;
  for (std::size_t i = 4; i < 8; ++i) best = std::max(best, run.trials[i].score);
  EXPECT_EQ(run.hint.score, best);
}

TEST(HintSearch, Reports) {
  SearchRun run;
  RunSearch(TestImage(40, 33), Params(17, 14, 4, 8.0f), run);
  ASSERT_TRUE(run.done);
  // One report before each of the 2N x 2 x N reductions, with the progress
  // (k * 0.5 / N + t (+ 0.5)) * 100 / 2N, then the final scaling.
  const RecordingProgress& p = run.progress;
  ASSERT_EQ(p.events.size(), 65u);
  EXPECT_EQ(p.events.back(), "final 0/0");
  float best = -1.0f;
  for (int t = 0; t < 8; ++t) {
    for (int half = 0; half < 2; ++half)
      for (int k = 0; k < 4; ++k) {
        const int i = t * 8 + half * 4 + k;
        EXPECT_EQ(p.events[i], "search " + std::to_string(i) + "/64");
        EXPECT_NEAR(p.percents[i], (k * 0.125 + t + 0.5 * half) * 100.0 / 8.0, 1e-4);
        // The best score of the deviation trials before this one.
        EXPECT_EQ(p.scores[i], best) << i;
      }
    for (int k = 0; k < 4; ++k) best = std::max(best, run.trials[t * 8 + 4 + k].score);
  }
  EXPECT_EQ(p.scores.back(), run.hint.score);
}

TEST(HintSearch, OnePixelTargetsScoreZeroAndTheFirstTrialWins) {
  for (const auto& [w, h] : {std::pair<uint32_t, uint32_t>{25, 1}, {1, 19}, {1, 1}}) {
    SCOPED_TRACE(::testing::Message() << w << "x" << h);
    SearchRun run;
    RunSearch(TestImage(52, 40), Params(w, h, 6, 8.0f), run);
    ASSERT_TRUE(run.done);
    // Every trial scores 0, except those whose deviation exceeds the one
    // pixel of the target: their weight, and so their score, is NaN.
    for (const HintTrial& trial : run.trials) {
      const bool beyond = trial.deviationY > static_cast<float>(h) || trial.deviationX > static_cast<float>(w);
      EXPECT_EQ(std::isnan(trial.weight), beyond);
      if (!beyond) {
        EXPECT_EQ(trial.score, 0.0f);
      }
    }
    EXPECT_EQ(run.hint.offsetX, -0.5f);
    EXPECT_EQ(run.hint.offsetY, -0.5f);
    EXPECT_EQ(run.hint.deviationX, 0.0f);
    EXPECT_EQ(run.hint.deviationY, -4.0f);
    EXPECT_EQ(run.hint.score, 0.0f);
    EXPECT_EQ(run.image.width, w);
    EXPECT_EQ(run.image.height, h);
  }
}

TEST(HintSearch, LargeDeviationsBeyondTheTargetNeverWin) {
  // Target 20 pixels high, deviation 64: vertical deviations above 20 make
  // the weight's product negative; those trials score NaN and never win.
  SearchRun run;
  RunSearch(TestImage(60, 48), Params(25, 20, 12, 64.0f), run);
  ASSERT_TRUE(run.done);
  int nanTrials = 0;
  for (const HintTrial& trial : run.trials) {
    const bool beyond = trial.deviationY > 20.0f || trial.deviationX > 25.0f;
    EXPECT_EQ(std::isnan(trial.weight), beyond);
    EXPECT_EQ(std::isnan(trial.score), beyond);
    nanTrials += beyond;
  }
  EXPECT_EQ(nanTrials, 2 * 24 + 1 * 24);  // t = 10, 11 (vertical) and t = 23 (21.33 > 20 is not > 25)
  EXPECT_LE(run.hint.deviationY, 20.0f);
  EXPECT_LE(run.hint.deviationX, 25.0f);
  EXPECT_FALSE(std::isnan(run.hint.score));
  EXPECT_EQ(run.trials.front().deviationY, -32.0f);
  EXPECT_FALSE(std::isnan(run.trials.front().weight));
}

TEST(HintSearch, CancelLeavesTheImageAlone) {
  const FloatImage source = TestImage(30, 24);
  SearchRun run;
  run.progress.cancelAt = 20;  // during deviation trial 2
  RunSearch(source, Params(12, 10, 4, 8.0f), run);
  EXPECT_FALSE(run.done);
  ExpectSameImage(run.image, source);
  // The request is seen before the next deviation trial.
  EXPECT_EQ(run.progress.percents.size(), 24u);
}

TEST(HintSearch, UnusableInputChangesNothing) {
  RecordingProgress progress;
  FloatImage empty;
  EXPECT_FALSE(HintSearch(empty, empty, Params(10, 10), &progress));
  FloatImage image = TestImage(8, 8);
  EXPECT_FALSE(HintSearch(image, image, Params(0, 10), &progress));
  EXPECT_FALSE(HintSearch(image, image, Params(10, 10, 0), &progress));
  EXPECT_EQ(image.width, 8u);
  EXPECT_TRUE(progress.events.empty());
}

}  // namespace
