// The hint search and the final scaling. For each of 2N deviation trials
// (first the vertical scale, then the horizontal one with the best vertical
// deviation) it chooses the vertical offset among N (always with Catmull-Rom)
// and then the horizontal offset among N (with the chosen filter), scoring
// every reduction of the luminance plane by its sharpness. The reductions
// run four at a time with both passes fused, sharing resampler set-ups and
// intermediate rows where they can, and are scored row by row as they are
// made; every score is what a separate ResizePlane call and SharpnessMeasure
// would give, and the scores are compared in trial order. The reductions of a
// group are shared out among the threads.
#include "downscale/hint_search.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/threading.h"
#include "downscale/sharpness_measure.h"
#include "resampling/linear_resampler.h"
#include "resampling/resize_rows.h"

namespace kestrune {

namespace {

// L = 0.299 R + 0.587 G + 0.114 B with single-precision coefficients,
// evaluated left to right in single precision.
SampleBuffer Luminance(const FloatImage& image) {
  const std::size_t count = image.PixelCount();
  SampleBuffer luminance(count);  // written whole below, first by the threads
  const float* r = image.samples(FloatImage::kRed);
  const float* g = image.samples(FloatImage::kGreen);
  const float* b = image.samples(FloatImage::kBlue);
  ParallelFor(0, static_cast<std::ptrdiff_t>(count), 65536, [&](std::ptrdiff_t i0, std::ptrdiff_t i1) {
    for (std::ptrdiff_t i = i0; i < i1; ++i) luminance[i] = 0.299f * r[i] + 0.587f * g[i] + 0.114f * b[i];
  });
  return luminance;
}

}  // namespace

bool HintSearch(FloatImage& output, const FloatImage& image, const DownscaleParams& params, Progress* progress,
                Hint* chosen, const HintTrialObserver& observer) {
  if (image.IsEmpty() || params.newWidth == 0 || params.newHeight == 0 || params.trials < 1) return false;

  const uint32_t srcWidth = image.width;
  const uint32_t srcHeight = image.height;
  const uint32_t dstWidth = params.newWidth;
  const uint32_t dstHeight = params.newHeight;
  const int32_t n = params.trials;
  const float nf = static_cast<float>(n);
  const float deviation = params.scaleDeviation;
  const float smoothness = params.smoothness;
  const int32_t filterType = params.filterType;

  // Working storage, released on return: the result and the luminance
  // plane. The reductions of a group are independent of one another: they
  // are shared out among the threads as jobs of consecutive trials, each job
  // making and scoring its trials a few at a time with its own storage (the
  // last kRingRows rows of each trial plane: each row is scored as soon as
  // the row below it is made, so no reduction is ever kept whole; a block of
  // new rows must leave the last row of the one before in place). Every
  // score is a sum of its own, so the split changes no result; the scores are
  // then taken in trial order on the calling thread.
  FloatImage result(dstWidth, dstHeight);
  const SampleBuffer luminance = Luminance(image);
  constexpr uint32_t kRingRows = uint32_t{Resampling::kResizeBlockRows} + 1;
  const std::size_t ringSize = std::size_t{dstWidth} * kRingRows;
  // As many jobs as make the threads' shares even (at most one per trial);
  // with one thread, one job per batch.
  const int32_t batches = (n + kSharpnessBatch - 1) / kSharpnessBatch;
  const int32_t threads = ThreadCount();
  const int32_t jobs = std::min<int32_t>(n, (batches + threads - 1) / threads * threads);
  std::vector<HintTrial> finished(static_cast<std::size_t>(n));
  // The set-up shared by every reduction of a group (the horizontal one of the
  // vertical search and the other way round), and the one each trial varies.
  Resampling::LinearResampler shared;
  enum class Varies { kVertical, kHorizontal };

  // Makes and scores the reductions of trials k0 .. k1-1 of `base` (k,
  // offset and score filled in per trial) into finished[k].
  auto runJob = [&](const HintTrial& base, Varies varies, int32_t k0, int32_t k1) {
    std::vector<float> rings(ringSize * kSharpnessBatch);
    Resampling::LinearResampler own[kSharpnessBatch];
    const Resampling::LinearResampler* verticals[kSharpnessBatch];
    const Resampling::LinearResampler* horizontals[kSharpnessBatch];
    float* ring[kSharpnessBatch];
    for (int i = 0; i < kSharpnessBatch; ++i) ring[i] = rings.data() + ringSize * i;
    for (int32_t b0 = k0; b0 < k1; b0 += kSharpnessBatch) {
      const int count = std::min<int32_t>(kSharpnessBatch, k1 - b0);
      for (int i = 0; i < count; ++i) {
        const int32_t k = b0 + i;
        HintTrial& trial = finished[static_cast<std::size_t>(k)];
        trial = base;
        trial.k = k;
        const float offset = static_cast<float>(k) / nf - 0.5f;
        if (varies == Varies::kVertical) {
          trial.offsetY = offset;
          own[i].Configure(srcHeight, dstHeight, trial.filterType, offset, trial.deviationY, smoothness);
          verticals[i] = &own[i];
          horizontals[i] = &shared;
        } else {
          trial.offsetX = offset;
          own[i].Configure(srcWidth, dstWidth, trial.filterType, offset, trial.deviationX, smoothness);
          verticals[i] = &shared;
          horizontals[i] = &own[i];
        }
      }
      SharpnessAccumulator sums(count, dstWidth);
      uint32_t row = 0;  // the next row to score
      auto scoreRows = [&](std::ptrdiff_t rowsDone) {
        const float* rows[kSharpnessBatch];
        const float* below[kSharpnessBatch];
        for (; std::ptrdiff_t{row} + 1 < rowsDone; ++row) {
          for (int i = 0; i < count; ++i) {
            rows[i] = ring[i] + std::size_t{row % kRingRows} * dstWidth;
            below[i] = ring[i] + std::size_t{(row + 1) % kRingRows} * dstWidth;
          }
          sums.AddRow(rows, below);
        }
      };
      Resampling::ResizeRows(luminance.data(), srcWidth, verticals, horizontals, count, 0, dstHeight, ring, scoreRows,
                             kRingRows);
      float scores[kSharpnessBatch];
      sums.Scores(dstHeight, scores);
      for (int i = 0; i < count; ++i) {
        HintTrial& trial = finished[static_cast<std::size_t>(b0 + i)];
        trial.score = scores[i] * trial.weight;
      }
    }
  };

  // Runs the N reductions of a group, reporting each trial's progress point
  // in order before the work starts, and hands the finished trials to `take`
  // in trial order.
  ProgressReport report;
  report.stage = Stage::kHintSearch;
  report.total = static_cast<uint32_t>(4 * n * n);
  auto runGroup = [&](const HintTrial& base, Varies varies, float progressBase, auto&& take) {
    if (progress != nullptr)
      for (int32_t k = 0; k < n; ++k) {
        report.percent = (static_cast<float>(k) * 0.5f / nf + progressBase) * 100.0f / (2.0f * nf);
        progress->Report(report);
        ++report.step;
      }
    ParallelFor(0, jobs, 1, [&](std::ptrdiff_t j0, std::ptrdiff_t j1) {
      for (std::ptrdiff_t j = j0; j < j1; ++j)
        runJob(base, varies, static_cast<int32_t>(j * n / jobs), static_cast<int32_t>((j + 1) * n / jobs));
    });
    for (const HintTrial& trial : finished) {
      if (observer) observer(trial);
      take(trial);
    }
  };

  float best = -1.0f;
  Hint hint;  // deviationX starts at 0; the first trial sets the rest
  for (int32_t t = 0; t < 2 * n; ++t) {
    report.bestScore = best;
    if (progress != nullptr && progress->CancelRequested()) return false;

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
    trial.weight =
        std::sqrt((1.0f - devX / static_cast<float>(dstWidth)) * (1.0f - devY / static_cast<float>(dstHeight)));

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
    shared.Configure(srcWidth, dstWidth, FilterCatmullRom, 0.0f, devX, smoothness);
    trial.horizontal = false;
    trial.filterType = FilterCatmullRom;
    trial.offsetX = 0.0f;
    runGroup(trial, Varies::kVertical, static_cast<float>(t), takeVertical);

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
    shared.Configure(srcHeight, dstHeight, filterType, candY, devY, smoothness);
    trial.horizontal = true;
    trial.filterType = filterType;
    trial.offsetY = candY;
    runGroup(trial, Varies::kHorizontal, static_cast<float>(t) + 0.5f, takeHorizontal);

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

  if (progress != nullptr) {
    report.stage = Stage::kFinalScaling;
    report.step = report.total = 0;
    report.bestScore = best;
    progress->Report(report);
  }
  for (int c = FloatImage::kRed; c <= FloatImage::kBlue; ++c)
    ResizePlane(image.samples(c), srcWidth, srcHeight, result.samples(c), dstWidth, dstHeight, filterType, hint.offsetX,
                hint.offsetY, hint.deviationX, hint.deviationY, smoothness);

  output = std::move(result);
  if (chosen) *chosen = hint;
  return true;
}

}  // namespace kestrune
