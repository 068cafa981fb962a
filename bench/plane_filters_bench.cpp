// Benchmarks of the plane filters of the edge-adaptive weights on a
// 4096 x 4096 plane: HannSmooth at several radii (the cost must not grow with
// the radius) and at the odd samples only, MaxFilter2D and the whole
// EdgeWeightMap.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "resampling/hann_smooth.h"
#include "upscale/edge_weight_map.h"
#include "upscale/max_filter.h"

using namespace kestrune;

namespace {

constexpr int kSide = 4096;

const std::vector<float>& Chart() {
  static const std::vector<float> plane = ChartPlane(kSide, kSide);
  return plane;
}

void BM_HannSmooth(benchmark::State& state) {
  std::vector<float> dst(Chart().size()), tmp(Chart().size());
  for (auto _ : state) {
    HannSmooth(Chart().data(), dst.data(), kSide, kSide, int(state.range(0)), tmp.data());
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kSide * kSide);
}
BENCHMARK(BM_HannSmooth)->Arg(1)->Arg(3)->Arg(50)->Unit(benchmark::kMillisecond);

// The odd samples alone, as the direction analysis smooths its odd-site
// costs.
void BM_HannSmoothOdd(benchmark::State& state) {
  std::vector<float> dst(Chart().size() / 4), tmp(Chart().size() / 2);
  for (auto _ : state) {
    HannSmoothOdd(Chart().data(), dst.data(), kSide, kSide, int(state.range(0)), tmp.data());
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kSide * kSide);
}
BENCHMARK(BM_HannSmoothOdd)->Arg(6)->Unit(benchmark::kMillisecond);

void BM_MaxFilter2D(benchmark::State& state) {
  std::vector<float> dst(Chart().size());
  for (auto _ : state) {
    MaxFilter2D(Chart().data(), dst.data(), kSide, kSide, 2, float(state.range(0)));
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kSide * kSide);
  state.SetLabel(state.range(0) == 0 ? "initial 0" : "initial above samples (running maximum)");
}
BENCHMARK(BM_MaxFilter2D)->Arg(0)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_EdgeWeightMap(benchmark::State& state) {
  const std::size_t n = Chart().size();
  std::vector<float> snap[3], scratch(n), weights(n);
  for (auto& s : snap) s.resize(n);
  const float* x[3] = {Chart().data(), Chart().data(), Chart().data()};
  float* const s[3] = {snap[0].data(), snap[1].data(), snap[2].data()};
  for (auto _ : state) {
    EdgeWeightMap(x, kSide, kSide, s, scratch.data(), weights.data());
    benchmark::DoNotOptimize(weights.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kSide * kSide);
}
BENCHMARK(BM_EdgeWeightMap)->Unit(benchmark::kMillisecond);

}  // namespace
