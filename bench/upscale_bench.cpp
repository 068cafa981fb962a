// Benchmarks of "Kestrune interpolation": one fractal substitution, and the
// whole default run (NEDI, 16 iterations, 2 substitutions) on photograph-like
// sources, camera-sized among them, with the share of each stage and the peak
// memory of the process.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <time.h>

#include "image/test_chart.h"
#include "resampling/fixed_upscalers.h"
#include "upscale/fractal_texture.h"
#include "upscale/sr_params.h"
#include "upscale/upscale_pipeline.h"

using namespace kestrune;

namespace {

// Processor time of the calling thread: the machine may be shared, and the
// run is single-threaded.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

double Seconds(double a, double b) { return b - a; }

// Peak resident memory of the process so far, in bytes.
double PeakBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) * 1024.0;
}

// Argument: the source side; the output is twice as large each way.
void BM_FractalSubstitution(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = w;
  const FloatImage source = RenderTestChart(w, h);
  std::vector<float> x[3], o[3];
  for (int c = 0; c < 3; ++c) {
    x[c].resize(std::size_t(4) * w * h);
    o[c].resize(std::size_t(4) * w * h);
    UpscaleBicubic2(source.samples(c), w, h, x[c].data());
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
BENCHMARK(BM_FractalSubstitution)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond)->Iterations(2);

// The whole default run. Stage times (processor time of the worker) come from
// the reports: NEDI from the initial enlargement's first report to the
// preparation's; a substitution from its report to the next report, less the
// mean time of a plain iteration; the iterations are everything else of the
// loop.
// Arguments: width and height of the source.
void BM_UpscaleDefault(benchmark::State& state) {
  const uint32_t w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
  double nedi = 0, setup = 0, loop = 0, subst[2] = {0, 0}, plainIterations = 0;
  for (auto _ : state) {
    const FloatImage source = RenderTestChart(w, h);
    FloatImage result(2 * w, 2 * h);
    SRParams params;
    params.sideLobe = 0.0f;  // the dialog's defaults
    // Each report marks the time its stage (or iteration) starts.
    struct Mark {
      std::string text;
      double at;
    };
    struct Marks : Progress {
      void Report(const ProgressReport& r) override {
        static const char* const names[] = {"alloc", "initial", "prepare", "iteration", "search", "final"};
        std::string text = names[int(r.stage)];
        if (r.stage == Stage::kEnhancement) text += " " + std::to_string(r.step) + (r.substitution ? "+" : "");
        if (marks.empty() || marks.back().text != text) marks.push_back({text, ThreadSeconds()});
      }
      std::vector<Mark> marks;
    } recorder;
    recorder.marks.reserve(64);
    const float* const src[3] = {source.samples(0), source.samples(1), source.samples(2)};
    float* const out[3] = {result.samples(0), result.samples(1), result.samples(2)};
    UpscalePipeline(src, int(w), int(h), out, nullptr, params, &recorder);
    recorder.marks.push_back({"end", ThreadSeconds()});
    const std::vector<Mark>& marks = recorder.marks;

    auto find = [&](const std::string& t) {
      return std::find_if(marks.begin(), marks.end(), [&](const Mark& m) { return m.text == t; });
    };
    const auto init = find("initial"), prep = find("prepare");
    const auto first = find("iteration 0");
    nedi += Seconds(init->at, prep->at);
    setup += Seconds(prep->at, first->at);
    const double loopTime = Seconds(first->at, marks.back().at);
    loop += loopTime;
    std::vector<double> substRaw;
    for (auto m = marks.begin(); m + 1 != marks.end(); ++m)
      if (m->text.back() == '+') substRaw.push_back(Seconds(m->at, (m + 1)->at));
    double substTotal = 0;
    for (double s : substRaw) substTotal += s;
    const double plain = (loopTime - substTotal) / (24 - double(substRaw.size()));
    for (std::size_t i = 0; i < substRaw.size() && i < 2; ++i) subst[i] += substRaw[i] - plain;
    plainIterations += loopTime - (substTotal - plain * double(substRaw.size()));
    benchmark::DoNotOptimize(result.samples(0));
  }
  const double n = double(state.iterations());
  state.counters["nedi_s"] = nedi / n;
  state.counters["edgedir_setup_s"] = setup / n;
  state.counters["subst1_s"] = subst[0] / n;
  state.counters["subst2_s"] = subst[1] / n;
  state.counters["iterations_s"] = plainIterations / n;
  state.counters["peak_B_per_src_px"] = PeakBytes() / (double(w) * h);
}
// Squares, and a camera-sized 3-megapixel source (4:3).
BENCHMARK(BM_UpscaleDefault)
    ->Args({256, 256})
    ->Args({512, 512})
    ->Args({1024, 1024})
    ->Args({2000, 1500})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
