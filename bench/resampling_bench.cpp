// Benchmarks of the linear resampler: ResizePlane of a 4000 x 3000 plane with
// Catmull-Rom and Lanczos-3 to half, a quarter and one and a half times its
// size, and Configure at the sizes the hint search uses.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "resampling/linear_resampler.h"

using namespace kestrune;

namespace {

void BM_ResizePlane(benchmark::State& state) {
  const uint32_t sw = 4000, sh = 3000;
  const uint32_t dw = uint32_t(state.range(0)), dh = uint32_t(state.range(1));
  const int filter = int(state.range(2));
  static const std::vector<float> src = ChartPlane(sw, sh);
  std::vector<float> dst(std::size_t(dw) * dh);
  for (auto _ : state) {
    ResizePlane(src.data(), sw, sh, dst.data(), dw, dh, filter, 0, 0, 0, 0, 1.0f);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * sw * sh);
  state.SetLabel(filter == FilterCatmullRom ? "catmull-rom" : "lanczos3");
}
BENCHMARK(BM_ResizePlane)
    ->Args({2000, 1500, FilterCatmullRom})
    ->Args({1000, 750, FilterCatmullRom})
    ->Args({6000, 4500, FilterCatmullRom})
    ->Args({2000, 1500, FilterLanczos3})
    ->Args({1000, 750, FilterLanczos3})
    ->Args({6000, 4500, FilterLanczos3})
    ->Unit(benchmark::kMillisecond);

// The three planes of a 4000 x 3000 RGB image halved with Catmull-Rom.
void BM_ResizeRgbHalf(benchmark::State& state) {
  const uint32_t sw = 4000, sh = 3000, dw = 2000, dh = 1500;
  const std::vector<float> planes[3] = {ChartPlane(sw, sh, 1), ChartPlane(sw, sh, 2), ChartPlane(sw, sh, 3)};
  std::vector<float> dst[3];
  for (auto& d : dst) d.resize(std::size_t(dw) * dh);
  for (auto _ : state) {
    for (int c = 0; c < 3; ++c)
      ResizePlane(planes[c].data(), sw, sh, dst[c].data(), dw, dh, FilterCatmullRom, 0, 0, 0, 0, 1.0f);
    benchmark::DoNotOptimize(dst[2].data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * sw * sh);
}
BENCHMARK(BM_ResizeRgbHalf)->Unit(benchmark::kMillisecond);

void BM_Configure(benchmark::State& state) {
  const uint32_t in = uint32_t(state.range(0)), out = uint32_t(state.range(1));
  const int filter = int(state.range(2));
  Resampling::LinearResampler r;
  float deviation = 0;
  for (auto _ : state) {
    r.Configure(in, out, filter, 0.25f, deviation, 0.8f);
    deviation = deviation > 2 ? -2 : deviation + 0.37f;
    benchmark::DoNotOptimize(r.outStart.data());
  }
}
BENCHMARK(BM_Configure)
    ->Args({2000, 800, FilterCatmullRom})
    ->Args({1500, 600, FilterCatmullRom})
    ->Args({2000, 800, FilterLanczos3})
    ->Args({1500, 600, FilterSinc})
    ->Args({1000, 1001, FilterLanczos3})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
