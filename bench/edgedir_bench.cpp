// Benchmarks of the edge-directed x2 enlargements on a photograph-like chart:
// the resampler's analysis (2 iterations) and Apply, per output megapixel,
// and a whole NEDI run.
#include <benchmark/benchmark.h>

#include <vector>

#include "image/test_chart.h"
#include "resampling/edge_dir_resampler.h"
#include "resampling/nedi.h"

using namespace kestrune;

namespace {

struct Chart3 {
  explicit Chart3(int side) : w(side), h(side) {
    const FloatImage img = RenderTestChart(side, side, 1);
    for (int c = 0; c < 3; ++c) p[c].assign(img.samples(c), img.samples(c) + img.PixelCount());
  }
  int w, h;
  std::vector<float> p[3];
};

void SetOutputRate(benchmark::State& state, double outputPixels) {
  state.counters["out_MP/s"] =
      benchmark::Counter(outputPixels * 1e-6 * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_EdgeDirAnalyze2(benchmark::State& state) {
  const Chart3 in(int(state.range(0)));
  for (auto _ : state) {
    Resampling::EdgeDirResampler r;
    r.SetSize(in.w, in.h);
    r.Analyze(in.p[0].data(), in.p[1].data(), in.p[2].data(), nullptr, nullptr, nullptr, 2);
    benchmark::ClobberMemory();
  }
  SetOutputRate(state, 4.0 * in.w * in.h);
}
BENCHMARK(BM_EdgeDirAnalyze2)->Arg(512)->Unit(benchmark::kMillisecond);

void BM_EdgeDirApply(benchmark::State& state) {
  const Chart3 in(int(state.range(0)));
  Resampling::EdgeDirResampler r;
  r.SetSize(in.w, in.h);
  r.Analyze(in.p[0].data(), in.p[1].data(), in.p[2].data(), nullptr, nullptr, nullptr, 2);
  std::vector<float> out[3];
  for (auto& o : out) o.resize(std::size_t(4) * in.w * in.h);
  for (auto _ : state) {
    r.Apply(in.p[0].data(), in.p[1].data(), in.p[2].data(), out[0].data(), out[1].data(), out[2].data());
    benchmark::ClobberMemory();
  }
  SetOutputRate(state, 4.0 * in.w * in.h);
  state.counters["held_B/outpos"] = double(r.HeldBytes()) / (4.0 * in.w * in.h);
}
BENCHMARK(BM_EdgeDirApply)->Arg(512)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_Nedi(benchmark::State& state) {
  const Chart3 in(int(state.range(0)));
  std::vector<float> out[3];
  for (auto& o : out) o.resize(std::size_t(4) * in.w * in.h);
  double held = 0;
  for (auto _ : state) {
    Nedi nedi;
    nedi.referenceLoading = false;
    nedi.blurSpread = 0.2f;
    nedi.noiseAmplitude = 4.0f;
    nedi.Init(in.p[0].data(), in.p[1].data(), in.p[2].data(), out[0].data(), out[1].data(), out[2].data(), in.w, in.h);
    for (int done = 0; done < in.h; done += 8) nedi.ProcessStrip(8);
    held = double(nedi.HeldBytes());
    nedi.ReleaseBuffers();
  }
  state.counters["held_B/outpos"] = held / (4.0 * in.w * in.h);
}
BENCHMARK(BM_Nedi)->Arg(512)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
