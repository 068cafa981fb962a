// Speed with 1 and 2 threads (the last argument): the whole default
// upscaling of 512 x 512 and 1024 x 1024 charts, ResizePlane of 4000 x 3000
// to 2000 x 1500, the default hint search of 2000 x 1500 to 800 x 600, and
// the NEDI and edge-directed enlargements. Wall time is the
// measure; the CPU column is the whole process's CPU time, so CPU / wall
// shows how many cores were busy. Each case runs three times and reports the
// median too, since a single run of a few seconds on a shared machine can be
// off by several percent. Run it on an otherwise idle machine.
#include <benchmark/benchmark.h>

#include <vector>

#include "base/threading.h"
#include "bench_support.h"
#include "image/test_chart.h"
#include "resampling/edge_dir_resampler.h"
#include "resampling/linear_resampler.h"
#include "resampling/nedi.h"
#include "upscale/upscale_pipeline.h"

using namespace kestrune;

namespace {

class ThreadScope {
 public:
  explicit ThreadScope(int threads) { SetThreadCount(threads); }
  ~ThreadScope() { SetThreadCount(0); }
};

void BM_UpscaleThreads(benchmark::State& state) {
  const uint32_t w = uint32_t(state.range(0)), h = w;
  ThreadScope scope(int(state.range(1)));
  const FloatImage source = RenderTestChart(w, h);
  FloatImage result(2 * w, 2 * h);
  SRParams params;  // the dialog's defaults
  params.sideLobe = 0.0f;
  const float* const src[3] = {source.samples(0), source.samples(1), source.samples(2)};
  float* const out[3] = {result.samples(0), result.samples(1), result.samples(2)};
  for (auto _ : state) {
    UpscalePipeline(src, int(w), int(h), out, nullptr, params, nullptr);
    benchmark::DoNotOptimize(result.samples(0));
  }
}
BENCHMARK(BM_UpscaleThreads)
    ->Args({512, 1})
    ->Args({512, 2})
    ->Args({1024, 1})
    ->Args({1024, 2})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void BM_ResizePlaneThreads(benchmark::State& state) {
  ThreadScope scope(int(state.range(0)));
  static const std::vector<float> src = ChartPlane(4000, 3000);
  std::vector<float> dst(std::size_t(2000) * 1500);
  for (auto _ : state) {
    ResizePlane(src.data(), 4000, 3000, dst.data(), 2000, 1500, FilterCatmullRom, 0, 0, 0, 0, 1.0f);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 4000 * 3000);
}
BENCHMARK(BM_ResizePlaneThreads)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void BM_HintSearchThreads(benchmark::State& state) {
  ThreadScope scope(int(state.range(0)));
  TimeDefaultHintSearch(state, 800, 600);
}
BENCHMARK(BM_HintSearchThreads)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->Repetitions(3)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

struct Rgb {
  std::vector<float> p[3];
};

Rgb Planes(int w, int h, bool source) {
  Rgb rgb;
  if (source) {
    const FloatImage chart = RenderTestChart(uint32_t(w), uint32_t(h), 1);
    for (int c = 0; c < 3; ++c) rgb.p[c].assign(chart.samples(c), chart.samples(c) + std::size_t(w) * h);
  } else {
    for (auto& plane : rgb.p) plane.resize(std::size_t(w) * h);
  }
  return rgb;
}

void BM_NediThreads(benchmark::State& state) {
  const int w = int(state.range(0)), h = w;
  ThreadScope scope(int(state.range(1)));
  const Rgb in = Planes(w, h, true);
  Rgb out = Planes(2 * w, 2 * h, false);
  for (auto _ : state) {
    Nedi nedi;
    nedi.referenceLoading = false;
    nedi.Init(in.p[0].data(), in.p[1].data(), in.p[2].data(), out.p[0].data(), out.p[1].data(), out.p[2].data(), w, h);
    for (int y = 0; y < h; y += 8) nedi.ProcessStrip(8);
    benchmark::DoNotOptimize(out.p[0].data());
  }
}
BENCHMARK(BM_NediThreads)
    ->Args({512, 1})
    ->Args({512, 2})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void BM_EdgeDirThreads(benchmark::State& state) {
  const int w = int(state.range(0)), h = w;
  ThreadScope scope(int(state.range(1)));
  const Rgb in = Planes(w, h, true);
  Rgb out = Planes(2 * w, 2 * h, false);
  for (auto _ : state) {
    Resampling::EdgeDirResampler r;
    r.SetSize(w, h);
    r.Analyze(in.p[0].data(), in.p[1].data(), in.p[2].data(), nullptr, nullptr, nullptr, 2);
    r.Apply(in.p[0].data(), in.p[1].data(), in.p[2].data(), out.p[0].data(), out.p[1].data(), out.p[2].data());
    benchmark::DoNotOptimize(out.p[0].data());
  }
}
BENCHMARK(BM_EdgeDirThreads)
    ->Args({1024, 1})
    ->Args({1024, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace
