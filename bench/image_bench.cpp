// Benchmarks of the ways an image leaves the program as bytes: the byte
// conversion alone and WriteBmp (flushed to the disk), on 4096 x 4096.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "image/byte_conversion.h"
#include "image/image_writers.h"

using namespace kestrune;

namespace {

constexpr uint32_t kSide = 4096;

// A chart in the red plane, shifted copies in green and blue, with values
// beyond 0..255 mixed in so that the clamp is exercised.
const FloatImage& Image() {
  static const FloatImage image = [] {
    FloatImage im(kSide, kSide);
    const std::vector<float> plane = ChartPlane(kSide, kSide);
    for (std::size_t i = 0; i < plane.size(); ++i) {
      im.samples(0)[i] = plane[i];
      im.samples(1)[i] = plane[i] * 1.2f - 20.0f;
      im.samples(2)[i] = 255.0f - plane[i] * 1.1f;
    }
    return im;
  }();
  return image;
}

void SetSampleRate(benchmark::State& state, std::size_t samplesPerIteration) {
  state.counters["samples/s"] =
      benchmark::Counter(double(samplesPerIteration), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_FloatsToBytes(benchmark::State& state) {
  const FloatImage& image = Image();
  std::vector<uint8_t> out(image.PixelCount());
  for (auto _ : state) {
    FloatsToBytes(image.samples(0), out.data(), out.size());
    benchmark::DoNotOptimize(out.data());
  }
  SetSampleRate(state, image.PixelCount());
}

void BM_WriteBmp(benchmark::State& state) {
  const FloatImage& image = Image();
  const std::string path = "/tmp/kestrune-image-bench-" + std::to_string(::getpid()) + ".bmp";
  for (auto _ : state) {
    if (WriteImageFile(path, image, {.format = FileFormat::kBmp})) state.SkipWithError("WriteBmp failed");
  }
  std::remove(path.c_str());
  SetSampleRate(state, 3 * image.PixelCount());
}

}  // namespace

BENCHMARK(BM_FloatsToBytes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteBmp)->Unit(benchmark::kMillisecond)->UseRealTime();
