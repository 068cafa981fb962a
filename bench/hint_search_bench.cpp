// Speed of "Downscale with hinting": the default search (12 trials, 576 trial
// reductions of the luminance) of a 2000 x 1500 photograph-like chart to
// 800 x 600 and to 1000 x 750, final scaling included, and the parts one
// trial reduction is made of.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_support.h"
#include "downscale/sharpness_measure.h"
#include "downscale/trial_reduction.h"
#include "resampling/linear_resampler.h"

using namespace kestrune;

namespace {

void BM_HintSearch(benchmark::State& state) {
  TimeDefaultHintSearch(state, static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
  state.counters["reductions/s"] = benchmark::Counter(576.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HintSearch)->Args({800, 600})->Args({1000, 750})->Unit(benchmark::kMillisecond)->Iterations(2);

// The pieces of one trial reduction, 2000 x 1500 to 800 x 600.
void BM_VerticalPass(benchmark::State& state) {
  const std::vector<float> plane = ChartPlane(2000, 1500);
  std::vector<float> out(InterleavedPlaneSize(2000, 600));
  Resampling::LinearResampler r;
  r.Configure(1500, 600, FilterCatmullRom, 0.25f, 1.5f, 0.8f);
  for (auto _ : state) {
    ResampleColumns(plane.data(), 2000, r, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 2000 * 600);
}
BENCHMARK(BM_VerticalPass)->Unit(benchmark::kMicrosecond);

void BM_HorizontalPass(benchmark::State& state) {
  std::vector<float> plane = ChartPlane(2000, 600);  // any samples do
  std::vector<float> out(800 * 600);
  Resampling::LinearResampler r;
  r.Configure(2000, 800, FilterCatmullRom, 0.25f, 1.5f, 0.8f);
  for (auto _ : state) {
    ResampleRows(plane.data(), 600, r, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 800 * 600);
}
BENCHMARK(BM_HorizontalPass)->Unit(benchmark::kMicrosecond);

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
