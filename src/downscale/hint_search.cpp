// The hint search and the final scaling. For each of 2N deviation trials
// (first the vertical scale, then the horizontal one with the best vertical
// deviation) it chooses the vertical offset among N (always with Catmull-Rom)
// and then the horizontal offset among N (with the chosen filter), scoring
// every reduction of the luminance plane by its sharpness. The reductions
// run four at a time with both passes fused, sharing resampler set-ups and
// intermediate rows where they can, and are scored row by row as they are
// made; every score is what a separate ResizePlane call and SharpnessMeasure
// would give, and the scores are compared in trial order.
#include "downscale/hint_search.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "downscale/sharpness_measure.h"
#include "downscale/trial_reduction.h"
#include "resampling/linear_resampler.h"

namespace {

// Finishes the progress display when the search leaves early, by a cancel
// request or an exception (an allocation failure), so that it never stays up.
class FinishGuard {
 public:
  explicit FinishGuard(Progress& progress) : progress_(progress) {}
  ~FinishGuard() {
    if (armed_) progress_.Finish();
  }
  void Disarm() { armed_ = false; }

 private:
  Progress& progress_;
  bool armed_ = true;
};

// L = 0.299 R + 0.587 G + 0.114 B with single-precision coefficients,
// evaluated left to right in single precision.
std::vector<float> Luminance(const FloatImage& image) {
  const std::size_t count = image.PixelCount();
  std::vector<float> luminance(count);
  const float* r = image.samples(FloatImage::kRed);
  const float* g = image.samples(FloatImage::kGreen);
  const float* b = image.samples(FloatImage::kBlue);
  for (std::size_t i = 0; i < count; ++i) luminance[i] = 0.299f * r[i] + 0.587f * g[i] + 0.114f * b[i];
  return luminance;
}

std::string BestSoFarText(float best) {
  char text[96];
  std::snprintf(text, sizeof text, "Searching for hints...  (best hint so far: %1.3f)", static_cast<double>(best));
  return text;
}

}  // namespace

bool HintSearch(FloatImage& image, const DownscaleParams& params, Progress& progress, Hint* chosen,
                const HintTrialObserver& observer) {
  if (image.IsEmpty() || params.newWidth == 0 || params.newHeight == 0 || params.trials < 1) return false;

  progress.Start("Searching for hints...", false);
  FinishGuard guard(progress);

  const uint32_t srcWidth = image.width;
  const uint32_t srcHeight = image.height;
  const uint32_t dstWidth = params.newWidth;
  const uint32_t dstHeight = params.newHeight;
  const int32_t n = params.trials;
  const float nf = static_cast<float>(n);
  const float deviation = params.scaleDeviation;
  const float smoothness = params.smoothness;
  const int32_t filterType = params.filterType;

  // Working storage, released on return: the result, the luminance plane,
  // and for each of a few reductions made and scored together the last
  // kRingRows rows of its trial plane: each row is scored as soon as the row
  // below it is made, so no reduction is ever kept whole.
  FloatImage result(dstWidth, dstHeight);
  const std::vector<float> luminance = Luminance(image);
  constexpr uint32_t kRingRows = 8;
  const std::size_t ringSize = std::size_t{dstWidth} * kRingRows;
  std::vector<float> rings(ringSize * kSharpnessBatch);

  // Resampler set-ups of one batch of reductions.
  Resampling::LinearResampler vertical[kSharpnessBatch];
  Resampling::LinearResampler horizontal[kSharpnessBatch];
  const Resampling::LinearResampler* verticals[kSharpnessBatch];
  const Resampling::LinearResampler* horizontals[kSharpnessBatch];
  float* ring[kSharpnessBatch];
  for (int i = 0; i < kSharpnessBatch; ++i) ring[i] = rings.data() + ringSize * i;
  HintTrial pending[kSharpnessBatch];  // what each reduction of the batch stands for

  // Makes and scores the batch's `count` reductions and hands each, in
  // order, to `take`.
  auto reduceAndScore = [&](int count, auto&& take) {
    SharpnessAccumulator sums(count, dstWidth);
    uint32_t row = 0;  // the next row to score
    auto scoreRows = [&](uint32_t rowsDone) {
      const float* rows[kSharpnessBatch];
      const float* below[kSharpnessBatch];
      for (; row + 1 < rowsDone; ++row) {
        for (int i = 0; i < count; ++i) {
          rows[i] = ring[i] + std::size_t{row % kRingRows} * dstWidth;
          below[i] = ring[i] + std::size_t{(row + 1) % kRingRows} * dstWidth;
        }
        sums.AddRow(rows, below);
      }
    };
    ReduceFused(luminance.data(), srcWidth, verticals, horizontals, count, ring, scoreRows, kRingRows);
    float scores[kSharpnessBatch];
    sums.Scores(dstHeight, scores);
    for (int i = 0; i < count; ++i) {
      pending[i].score = scores[i] * pending[i].weight;
      if (observer) observer(pending[i]);
      take(pending[i]);
    }
  };

  float best = -1.0f;
  Hint hint;  // deviationX starts at 0; the first trial sets the rest
  for (int32_t t = 0; t < 2 * n; ++t) {
    if (best != -1.0f) progress.SetStatusText(BestSoFarText(best));
    if (progress.CancelRequested()) return false;  // the guard finishes the progress display

    HintTrial trial;
    trial.deviationTrial = t;
    if (t < n) {
      trial.deviationY = (static_cast<float>(t) / nf - 0.5f) * deviation;
      trial.deviationX = 0.0f;
    } else {
      trial.deviationY = hint.deviationY;
      trial.deviationX = (static_cast<float>(t - n) / nf - 0.5f) * deviation;
    }
    const float devX = trial.deviationX;
    const float devY = trial.deviationY;
    // A negative product makes the weight NaN: such a trial never wins.
    trial.weight = std::sqrt((1.0f - devX / static_cast<float>(dstWidth)) *
                             (1.0f - devY / static_cast<float>(dstHeight)));

    // Vertical offset, always with Catmull-Rom; all N reductions share one
    // horizontal set-up. Up to four reductions at a time.
    float best1 = -1.0f;
    float candY = 0.0f;
    auto takeVertical = [&](const HintTrial& done) {
      if (done.score > best1) {
        best1 = done.score;
        candY = done.offsetY;
      }
    };
    horizontal[0].Configure(srcWidth, dstWidth, FilterCatmullRom, 0.0f, devX, smoothness);
    trial.horizontal = false;
    trial.filterType = FilterCatmullRom;
    trial.offsetX = 0.0f;
    for (int32_t k0 = 0; k0 < n; k0 += kSharpnessBatch) {
      const int count = std::min<int32_t>(kSharpnessBatch, n - k0);
      for (int i = 0; i < count; ++i) {
        const int32_t k = k0 + i;
        progress.SetProgress((static_cast<float>(k) * 0.5f / nf + static_cast<float>(t)) * 100.0f / (2.0f * nf));
        trial.k = k;
        trial.offsetY = static_cast<float>(k) / nf - 0.5f;
        vertical[i].Configure(srcHeight, dstHeight, FilterCatmullRom, trial.offsetY, devY, smoothness);
        verticals[i] = &vertical[i];
        horizontals[i] = &horizontal[0];
        pending[i] = trial;
      }
      reduceAndScore(count, takeVertical);
    }

    // Horizontal offset with the chosen filter; all N reductions share one
    // vertical set-up.
    float best2 = -1.0f;
    float candX = 0.0f;
    auto takeHorizontal = [&](const HintTrial& done) {
      if (done.score > best2) {
        best2 = done.score;
        candX = done.offsetX;
      }
    };
    vertical[0].Configure(srcHeight, dstHeight, filterType, candY, devY, smoothness);
    trial.horizontal = true;
    trial.filterType = filterType;
    trial.offsetY = candY;
    for (int32_t k0 = 0; k0 < n; k0 += kSharpnessBatch) {
      const int count = std::min<int32_t>(kSharpnessBatch, n - k0);
      for (int i = 0; i < count; ++i) {
        const int32_t k = k0 + i;
        progress.SetProgress((static_cast<float>(k) * 0.5f / nf + static_cast<float>(t) + 0.5f) * 100.0f /
                             (2.0f * nf));
        trial.k = k;
        trial.offsetX = static_cast<float>(k) / nf - 0.5f;
        horizontal[i].Configure(srcWidth, dstWidth, filterType, trial.offsetX, devX, smoothness);
        verticals[i] = &vertical[0];
        horizontals[i] = &horizontal[i];
        pending[i] = trial;
      }
      reduceAndScore(count, takeHorizontal);
    }

    if (best2 > best) {
      best = best2;
      hint.offsetX = candX;
      hint.offsetY = candY;
      if (t < n)
        hint.deviationY = devY;
      else
        hint.deviationX = devX;
    }
  }
  hint.score = best;

  progress.SetStatusText("Final scaling...");
  // The trial storage is no longer needed; free it before the final passes.
  std::vector<float>().swap(rings);
  for (int c = FloatImage::kRed; c <= FloatImage::kBlue; ++c)
    ResizePlane(image.samples(c), srcWidth, srcHeight, result.samples(c), dstWidth, dstHeight, filterType,
                hint.offsetX, hint.offsetY, hint.deviationX, hint.deviationY, smoothness);

  guard.Disarm();
  progress.Finish();
  image = std::move(result);
  if (chosen) *chosen = hint;
  return true;
}
