// The library's own conversions through its public API: the 8-bit pixels of
// a 4096 x 4096 image for the screen (on all threads).
#include <benchmark/benchmark.h>

#include <vector>

#include <kestrune/kestrune.h>

namespace {

void BM_ExportBytes(benchmark::State& state) {
  static const kestrune::Image image = kestrune::MakeTestChart(4096, 4096);
  std::vector<uint8_t> out(std::size_t(3) * image.PixelCount());
  for (auto _ : state) {
    kestrune::ExportBytes(image.View(), kestrune::PixelOrder::kBgr, out.data(), 3 * 4096);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["samples/s"] = benchmark::Counter(double(out.size()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ExportBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
