// Helpers shared by the benchmarks.
#include "bench_support.h"

#include "image/test_chart.h"

std::vector<float> ChartPlane(uint32_t width, uint32_t height, uint32_t seed) {
  const FloatImage chart = MakeTestChart(width, height, seed);
  std::vector<float> plane(chart.PixelCount());
  for (std::size_t i = 0; i < plane.size(); ++i)
    plane[i] = 0.299f * chart.samples(0)[i] + 0.587f * chart.samples(1)[i] + 0.114f * chart.samples(2)[i];
  return plane;
}
