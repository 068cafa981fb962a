// Speed of "Downscale with hinting": the default search (12 trials, 576 trial
// reductions of the luminance) of a 2000 x 1500 photograph-like chart to
// 800 x 600 and to 1000 x 750, final scaling included, and its parts: a
// group of trial reductions, the sharpness measure, the resampler set-up.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_support.h"
#include "downscale/sharpness_measure.h"
#include "resampling/linear_resampler.h"
#include "resampling/resize_rows.h"

using namespace kestrune;

namespace {

void BM_HintSearch(benchmark::State& state) {
  TimeDefaultHintSearch(state, static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
  state.counters["reductions/s"] = benchmark::Counter(576.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HintSearch)->Args({800, 600})->Args({1000, 750})->Unit(benchmark::kMillisecond)->Iterations(2);

// The reductions of one group of four trials, 2000 x 1500 to 800 x 600, all
// sharing one vertical set-up (as the horizontal offset search does) or
// each with its own (as the vertical one does).
void BM_TrialReductions(benchmark::State& state) {
  const bool shared = state.range(0) != 0;
  const std::vector<float> plane = ChartPlane(2000, 1500);
  Resampling::LinearResampler vertical[4], horizontal[4];
  const Resampling::LinearResampler* verticals[4];
  const Resampling::LinearResampler* horizontals[4];
  std::vector<float> out[4];
  float* dst[4];
  for (int i = 0; i < 4; ++i) {
    vertical[i].Configure(1500, 600, FilterCatmullRom, 0.25f * i - 0.5f, 1.5f, 0.8f);
    horizontal[i].Configure(2000, 800, FilterCatmullRom, 0.25f * i - 0.5f, 1.5f, 0.8f);
    verticals[i] = shared ? &vertical[0] : &vertical[i];
    horizontals[i] = shared ? &horizontal[i] : &horizontal[0];
    out[i].resize(800 * 600);
    dst[i] = out[i].data();
  }
  for (auto _ : state) {
    Resampling::ResizeRows(plane.data(), 2000, verticals, horizontals, 4, 0, 600, dst);
    benchmark::DoNotOptimize(dst[3]);
  }
  state.SetItemsProcessed(state.iterations() * 4 * 800 * 600);
  state.SetLabel(shared ? "one vertical set-up" : "four vertical set-ups");
}
BENCHMARK(BM_TrialReductions)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_SharpnessMeasure(benchmark::State& state) {
  const std::vector<float> plane = ChartPlane(800, 600);
  for (auto _ : state) benchmark::DoNotOptimize(SharpnessMeasure(plane.data(), 800, 600));
  state.SetItemsProcessed(state.iterations() * 800 * 600);
}
BENCHMARK(BM_SharpnessMeasure)->Unit(benchmark::kMicrosecond);

// Four planes scored together, as the search does.
void BM_SharpnessMeasureBatch(benchmark::State& state) {
  std::vector<std::vector<float>> planes;
  const float* pointers[kSharpnessBatch];
  for (int i = 0; i < kSharpnessBatch; ++i) planes.push_back(ChartPlane(800, 600, i + 1));
  for (int i = 0; i < kSharpnessBatch; ++i) pointers[i] = planes[i].data();
  float scores[kSharpnessBatch];
  for (auto _ : state) {
    SharpnessMeasureBatch(pointers, kSharpnessBatch, 800, 600, scores);
    benchmark::DoNotOptimize(scores);
  }
  state.SetItemsProcessed(state.iterations() * kSharpnessBatch * 800 * 600);
}
BENCHMARK(BM_SharpnessMeasureBatch)->Unit(benchmark::kMicrosecond);

void BM_Configure(benchmark::State& state) {
  Resampling::LinearResampler r;
  for (auto _ : state) {
    r.Configure(2000, 800, static_cast<int>(state.range(0)), 0.25f, 1.5f, 0.8f);
    benchmark::DoNotOptimize(r.taps);
  }
}
BENCHMARK(BM_Configure)->Arg(FilterCatmullRom)->Arg(FilterLanczos3)->Arg(FilterSinc)->Unit(benchmark::kMicrosecond);

}  // namespace
