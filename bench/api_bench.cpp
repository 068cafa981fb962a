// The library through its public API: the 8-bit pixels of a 4096 x 4096
// image for the screen (on all threads), and reading and writing files.
#include <benchmark/benchmark.h>

#include <string>
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

// The file layer on a 24-megapixel (6000 x 4000) photograph-like chart:
// writing and reading a JPEG (quality 92), a 16-bit deflate TIFF and an 8-bit
// PNG, each written whole (flushed and renamed into place).
namespace {

struct FileCase {
  const char* name;
  kestrune::FileFormat format;
  kestrune::SampleDepth depth;
};
const FileCase kFileCases[] = {{"jpg", kestrune::FileFormat::kJpeg, kestrune::SampleDepth::k8},
                               {"tif", kestrune::FileFormat::kTiff, kestrune::SampleDepth::k16},
                               {"png", kestrune::FileFormat::kPng, kestrune::SampleDepth::k8}};

const kestrune::Image& Photo() {
  static const kestrune::Image image = kestrune::MakeTestChart(6000, 4000);
  return image;
}

std::string BenchFile(const FileCase& c) { return "/tmp/kestrune-files-bench." + std::string(c.name); }

void BM_WriteFile(benchmark::State& state) {
  const FileCase& c = kFileCases[state.range(0)];
  state.SetLabel(c.name);
  kestrune::WriteOptions options;
  options.format = c.format, options.depth = c.depth;
  const kestrune::Image& photo = Photo();
  for (auto _ : state)
    if (kestrune::Error e = kestrune::WriteImage(photo, BenchFile(c), options)) state.SkipWithError(e.message.c_str());
}
BENCHMARK(BM_WriteFile)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadFile(benchmark::State& state) {
  const FileCase& c = kFileCases[state.range(0)];
  state.SetLabel(c.name);
  for (auto _ : state) {
    kestrune::Result<kestrune::Image> image = kestrune::ReadImage(BenchFile(c));
    if (!image.ok()) state.SkipWithError(image.error().message.c_str());
  }
}
BENCHMARK(BM_ReadFile)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
