// Benchmarks of the upscaling: one fractal substitution on a photograph-like
// enlargement.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "image/test_chart.h"
#include "upscale/fractal_texture.h"

namespace {

// A plain bilinear x2 enlargement as the estimate to substitute into.
void Enlarge(const float* s, int w, int h, float* t) {
  const std::size_t W = 2 * std::size_t(w);
  for (int y = 0; y < 2 * h; ++y)
    for (int x = 0; x < 2 * w; ++x) {
      const int x0 = x / 2, y0 = y / 2, x1 = std::min(x0 + (x & 1), w - 1), y1 = std::min(y0 + (y & 1), h - 1);
      t[y * W + x] = 0.25f * (s[y0 * w + x0] + s[y0 * w + x1] + s[y1 * w + x0] + s[y1 * w + x1]);
    }
}

void BM_FractalSubstitution(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = w;
  const FloatImage source = MakeTestChart(w, h);
  std::vector<float> x[3], o[3];
  for (int c = 0; c < 3; ++c) {
    x[c].resize(std::size_t(4) * w * h);
    o[c].resize(std::size_t(4) * w * h);
    Enlarge(source.samples(c), w, h, x[c].data());
  }
  FractalTexture ft;
  for (auto _ : state) {
    ft.Init(x[0].data(), x[1].data(), x[2].data(), 2 * w, 2 * h, source.samples(0), source.samples(1),
            source.samples(2), w, h, o[0].data(), o[1].data(), o[2].data());
    ft.Run(~0u, 2 * h);
    ft.Finish();
    benchmark::DoNotOptimize(o[0].data());
  }
  state.counters["Mpix_out/s"] =
      benchmark::Counter(4.0 * w * h * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FractalSubstitution)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond);

}  // namespace
