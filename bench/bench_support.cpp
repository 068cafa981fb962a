// Helpers shared by the benchmarks.
#include "bench_support.h"

#include "downscale/hint_search.h"
#include "image/test_chart.h"

using namespace kestrune;

std::vector<float> ChartPlane(uint32_t width, uint32_t height, uint32_t seed) {
  const FloatImage chart = RenderTestChart(width, height, seed);
  std::vector<float> plane(chart.PixelCount());
  for (std::size_t i = 0; i < plane.size(); ++i)
    plane[i] = 0.299f * chart.samples(0)[i] + 0.587f * chart.samples(1)[i] + 0.114f * chart.samples(2)[i];
  return plane;
}

void TimeDefaultHintSearch(benchmark::State& state, uint32_t newWidth, uint32_t newHeight) {
  const FloatImage source = RenderTestChart(2000, 1500, 1);
  DownscaleParams params;  // the dialog's defaults
  params.newWidth = newWidth;
  params.newHeight = newHeight;
  for (auto _ : state) {
    FloatImage result;
    HintSearch(result, source, params, nullptr);
    benchmark::DoNotOptimize(result.samples(0));
  }
}
