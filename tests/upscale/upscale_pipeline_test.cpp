// UpscalePipeline and UpscaleThreadProc: the stage sequence and every report,
// the NEDI strips and their marker, "Load from file", the schedule seen
// through the reports, cancellation (also from another thread), the null
// notification, the range of the result, flat images from every method,
// NEDI's border band, the settings check and the iteration's choice of
// residual enlargement.
#include "upscale/upscale_pipeline.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "image/test_chart.h"
#include "resampling/edge_dir_resampler.h"
#include "upscale/enhancement.h"
#include "resampling/fixed_upscalers.h"
#include "upscale/fractal_texture.h"
#include "upscale/working_planes.h"

using namespace kestrune;

// Records the largest allocation made by the thread that is being watched.
// GCC cannot see that these replacements pair malloc with free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
thread_local bool gWatching = false;
std::size_t gLargestWatched = 0;
}  // namespace

void* operator new(std::size_t n) {
  if (gWatching) gLargestWatched = std::max(gLargestWatched, n);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }  // NOLINT: pairs with the malloc above
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

struct Seen {
  std::string text;
  float progress;
  bool finished;
};

// A job over a w x h test chart, recording every report.
struct JobRun {
  JobRun(uint32_t w, uint32_t h, uint32_t seed = 3) : result(2 * w, 2 * h) {
    job.source = MakeTestChart(w, h, seed);
    job.srcWidth = w, job.srcHeight = h;
    job.newWidth = 2 * w, job.newHeight = 2 * h;
    for (int c = 0; c < 3; ++c) job.output[c] = result.samples(c);
    job.notify = [this](UpscaleJob& j) {
      seen.push_back({j.statusText, j.progress, j.finished.load()});
      if (onReport) onReport(j);
    };
  }
  // The initial method, the iteration and substitution counts and the
  // residual enlargement's edge-directed iterations (-1: bilinear).
  JobRun& Set(int method, uint32_t iterations, uint32_t substs, int edge = 2) {
    job.params.initialMethod = method;
    job.params.iterations = iterations;
    job.params.fractalSubsts = substs;
    job.params.edgeDirIterations = edge;
    return *this;
  }
  void Go() { EXPECT_EQ(UpscaleThreadProc(&job), 0u); }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& s : seen) t.push_back(s.text);
    return t;
  }
  const float* Out(int c) const { return result.samples(c); }
  std::size_t Large() const { return result.PixelCount(); }

  UpscaleJob job;
  FloatImage result;
  std::vector<Seen> seen;
  std::function<void(UpscaleJob&)> onReport;
};

// True when the run's output is the bicubic (or bilinear) x2 of its source.
bool HoldsEnlargement(const JobRun& run, bool bicubic) {
  const FloatImage& src = run.job.source;
  std::vector<float> expect(run.Large());
  for (int c = 0; c < 3; ++c) {
    if (bicubic) UpscaleBicubic2(src.samples(c), int(src.width), int(src.height), expect.data());
    else UpscaleBilinear2(src.samples(c), int(src.width), int(src.height), expect.data());
    if (!std::equal(expect.begin(), expect.end(), run.Out(c))) return false;
  }
  return true;
}

TEST(UpscalePipeline, NoIterationsGivesTheInitialEnlargementAndThreeLines) {
  for (int method : {0, 1}) {
    JobRun run(7, 6);
    run.Set(method, 0, 0).Go();
    EXPECT_TRUE(HoldsEnlargement(run, method == 1)) << method;
    ASSERT_EQ(run.seen.size(), 4u);
    EXPECT_EQ(run.Texts(), (std::vector<std::string>{"Allocating memory", "Initial upscaling",
                                                     "Preparing for sharpness enhancement",
                                                     "Preparing for sharpness enhancement"}));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(run.seen[i].finished);
    EXPECT_TRUE(run.seen[3].finished);  // the last report: text unchanged, finished set
    for (const auto& s : run.seen) EXPECT_EQ(s.progress, 0.0f);
  }
}

TEST(UpscalePipeline, DefaultScheduleReports) {
  JobRun run(8, 8);
  run.Set(1, 16, 2, -1).Go();
  std::vector<std::string> expect = {"Allocating memory", "Initial upscaling", "Preparing for sharpness enhancement"};
  std::vector<float> progress = {0, 0, 0};
  for (int it = 0; it < 24; ++it) {
    const float p = static_cast<float>(50.0 + 50.0 * it / 24);
    expect.push_back("Iteration " + std::to_string(it) + " of 24");
    progress.push_back(p);
    if (it == 11 || it == 15) {
      expect.push_back("Iteration " + std::to_string(it) + " of 24 (fractal substitution)");
      progress.push_back(p);
    }
  }
  expect.push_back(expect.back());  // finished
  progress.push_back(progress.back());
  ASSERT_EQ(run.Texts(), expect);
  for (std::size_t i = 0; i < progress.size(); ++i) EXPECT_FLOAT_EQ(run.seen[i].progress, progress[i]) << i;
  EXPECT_FLOAT_EQ(run.seen[3].progress, 50.0f);
  EXPECT_FLOAT_EQ(run.seen[28].progress, 50.0f + 50.0f * 23 / 24);  // "Iteration 23 of 24"
  for (std::size_t c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < run.Large(); ++i) {
      ASSERT_GE(run.Out(c)[i], -0.5f);
      ASSERT_LE(run.Out(c)[i], 255.5f);
    }
}

TEST(UpscalePipeline, BetaZero) {
  // No step moves the estimate: without substitutions the result is the
  // initial enlargement; with two, substitutions start in iterations 0, 1
  // and 5.
  JobRun plain(8, 7);
  plain.job.params.beta = 0.0f;
  plain.Set(0, 16, 0, -1).Go();
  EXPECT_TRUE(HoldsEnlargement(plain, false));

  JobRun fractal(8, 7);
  fractal.job.params.beta = 0.0f;
  fractal.Set(0, 16, 2, -1).Go();
  std::vector<std::string> starts;
  for (const auto& t : fractal.Texts())
    if (t.find("(fractal substitution)") != std::string::npos) starts.push_back(t);
  EXPECT_EQ(starts, (std::vector<std::string>{"Iteration 0 of 24 (fractal substitution)",
                                              "Iteration 1 of 24 (fractal substitution)",
                                              "Iteration 5 of 24 (fractal substitution)"}));
}

TEST(UpscalePipeline, FlatImagesComeBackFlat) {
  // Every initial method (4: an initial image loaded from file), without and
  // with the default enhancement, on small, odd, non-square and larger flat
  // pictures: nothing near the borders and corners may be built from
  // unwritten or zero samples, and no rounding may be left over for the
  // enhancement's fourth-root residual to magnify. The two largest are
  // enhanced after NEDI only, to keep the run short.
  struct Case {
    uint32_t w, h;
    float rgb[3];
    bool enhanceEveryMethod;
  };
  const Case cases[] = {{6, 6, {255, 255, 255}, true},         {7, 9, {3.7f, 250.1f, 77.77f}, true},
                        {40, 44, {97.25f, 97.25f, 97.25f}, true}, {48, 64, {200, 100, 50}, false},
                        {100, 100, {128, 128, 128}, false}};
  for (const Case& k : cases)
    for (int method = 0; method <= 4; ++method)
      for (bool enhance : {false, true}) {
        if (enhance && !k.enhanceEveryMethod && method != 3) continue;
        SCOPED_TRACE(testing::Message() << k.w << " x " << k.h << ", method " << method << ", enhance " << enhance);
        JobRun run(k.w, k.h);
        if (method == 4) run.job.initialImage = FloatImage(2 * k.w, 2 * k.h);
        for (int c = 0; c < 3; ++c) {
          std::fill_n(run.job.source.samples(c), k.w * k.h, k.rgb[c]);
          if (method == 4) std::fill_n(run.job.initialImage.samples(c), 4 * k.w * k.h, k.rgb[c]);
        }
        if (!enhance) run.Set(method == 4 ? 0 : method, 0, 0);
        else run.job.params.initialMethod = method == 4 ? 0 : method;
        run.Go();
        for (int c = 0; c < 3; ++c)
          for (std::size_t i = 0; i < run.Large(); ++i) ASSERT_NEAR(run.Out(c)[i], k.rgb[c], 0.01f) << "sample " << i;
      }
}

TEST(UpscalePipeline, NediBorderBandNoWorseThanItsInterior) {
  // A smooth picture sampled from a known function: against the function on
  // the x2 grid, NEDI's error relative to the bicubic enlargement's must be
  // no larger in the outer 8 pixels than inside them. The padding NEDI runs
  // on decides this band; the last row and column lie beyond the last source
  // samples.
  const uint32_t w = 24, h = 20;
  auto f = [](int c, double x, double y) {
    return 128 + 60 * std::sin(0.45 * x + c) * std::cos(0.3 * y - c) + 1.5 * x - y;
  };
  double rms[2][2] = {};  // [bicubic, NEDI][band, inside]
  for (int m = 0; m < 2; ++m) {
    JobRun run(w, h);
    for (int c = 0; c < 3; ++c)
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) run.job.source.samples(c)[y * w + x] = float(f(c, x, y));
    run.Set(m == 0 ? 1 : 3, 0, 0).Go();
    double sum[2] = {}, n[2] = {};
    const int W = 2 * w, H = 2 * h;
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const int band = std::min({x, y, W - 1 - x, H - 1 - y}) < 8 ? 0 : 1;
          const double e = run.Out(c)[y * W + x] - f(c, x / 2.0, y / 2.0);
          sum[band] += e * e, n[band] += 1;
        }
    for (int b = 0; b < 2; ++b) rms[m][b] = std::sqrt(sum[b] / n[b]);
  }
  EXPECT_LE(rms[1][0] / rms[0][0], rms[1][1] / rms[0][1]);
}

TEST(UpscalePipeline, ResultStaysWithinTheClampRange) {
  // A black and white checkerboard with a huge step drives the update far
  // beyond both ends; the clamp holds every sample in [-0.5, 255.5].
  JobRun run(10, 10);
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 100; ++i) run.job.source.samples(c)[i] = ((i / 10 + i % 10) % 2) * 255.0f;
  run.job.params.beta = 60.0f;
  run.Set(1, 6, 0, -1).Go();
  int low = 0, high = 0;
  for (int c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < run.Large(); ++i) {
      const float v = run.Out(c)[i];
      ASSERT_GE(v, -0.5f);
      ASSERT_LE(v, 255.5f);
      low += v == -0.5f, high += v == 255.5f;
    }
  EXPECT_GT(low, 0);
  EXPECT_GT(high, 0);
}

TEST(UpscalePipeline, VariableRegularizationOnlySwitchesTheWeights) {
  auto result = [](float variable) {
    JobRun run(10, 9);
    run.job.params.regularization = 0.5f;
    run.job.params.variableRegularization = variable;
    run.Set(1, 5, 0, -1).Go();
    return std::vector<float>(run.Out(0), run.Out(0) + run.Large());
  };
  const auto uniform = result(0.0f), weighted = result(1.0f), negative = result(-2.5f);
  EXPECT_NE(uniform, weighted);
  EXPECT_EQ(weighted, negative);  // any non-zero value: the same weights
}

TEST(UpscalePipeline, LoadFromFileStartsFromTheImage) {
  JobRun run(7, 7);
  FloatImage init = MakeTestChart(14, 14, 9);
  run.job.initialImage = init;
  run.Set(0, 0, 0).Go();  // the method is not consulted
  for (int c = 0; c < 3; ++c) ASSERT_TRUE(std::equal(init.samples(c), init.samples(c) + 196, run.Out(c)));
  EXPECT_EQ(run.seen.size(), 4u);
}

TEST(UpscalePipeline, NediStripsMarkerAndReports) {
  // A 9 x 10 grey chart: strips k = 1, 2 (8k - 8 < 10). After strip 1 the
  // output rows 0..15 are final and row 16 carries the dashed marker; after
  // strip 2 all 20 rows are done and no marker is drawn.
  JobRun run(9, 10);
  for (int c = 1; c < 3; ++c) std::copy_n(run.job.source.samples(0), 90, run.job.source.samples(c));
  run.Set(3, 0, 0);
  int strip = 0;
  bool markerSeen = false;
  run.onReport = [&](UpscaleJob& j) {
    if (j.statusText != "Initial upscaling" || run.seen.size() < 4) return;
    ++strip;
    if (strip == 1) {
      const std::size_t row = 16 * 18;
      for (int x = 0; x < 18; ++x) {
        const bool dash = (x & 24) == 0;
        if (dash) {
          EXPECT_EQ(j.output[0][row + x], 255.0f);
          EXPECT_EQ(j.output[1][row + x], 0.0f);
          EXPECT_EQ(j.output[2][row + x], 0.0f);
        } else {
          EXPECT_EQ(j.output[1][row + x], j.output[0][row + x]) << x;  // grey: no marker here
        }
      }
      markerSeen = true;
    }
  };
  run.Go();
  EXPECT_TRUE(markerSeen);
  EXPECT_EQ(run.Texts(), (std::vector<std::string>{"Allocating memory", "Initial upscaling", "Initial upscaling",
                                                   "Initial upscaling", "Initial upscaling",
                                                   "Preparing for sharpness enhancement",
                                                   "Preparing for sharpness enhancement"}));
  const float expect[7] = {0, 0, 0, float(50.0 * 16 / 26), float(50.0 * 24 / 26), float(50.0 * 24 / 26),
                           float(50.0 * 24 / 26)};
  for (int i = 0; i < 7; ++i) EXPECT_FLOAT_EQ(run.seen[i].progress, expect[i]) << i;
  // No marker in the result: the grey input gives grey output everywhere.
  for (std::size_t i = 0; i < run.Large(); ++i) ASSERT_EQ(run.Out(0)[i], run.Out(1)[i]) << i;
}

TEST(UpscalePipeline, CancelDuringTheInitialEnlargement) {
  JobRun run(8, 8);
  run.job.params.initialMethod = 1;
  run.onReport = [](UpscaleJob& j) {
    if (j.statusText == "Initial upscaling") j.cancelRequested = true;
  };
  run.Go();
  EXPECT_EQ(run.Texts(), (std::vector<std::string>{"Allocating memory", "Initial upscaling",
                                                   "Preparing for sharpness enhancement", "Iteration 0 of 24",
                                                   "Iteration 0 of 24"}));
  EXPECT_TRUE(run.seen.back().finished);
  EXPECT_TRUE(HoldsEnlargement(run, true));
}

// Cancel pressed on another thread after the cancellation point of iteration
// k (while k runs or while the report of k + 1 is shown, which the pipeline
// cannot tell apart): iteration k completes, the report of k + 1 is sent and
// the run stops. The worker is held in the report of k + 1 until the other
// thread has set the flag. The result is that of a run cancelled at the
// report of k + 1 on the worker itself.
TEST(UpscalePipeline, CancelDuringAnIterationFromAnotherThread) {
  const int k = 12;  // after the first substitution started in 11
  JobRun threaded(8, 8);
  threaded.Set(1, 16, 2, -1);
  std::mutex mutex;
  std::condition_variable cv;
  bool reached = false, cancelled = false;
  const std::string lineNext = "Iteration " + std::to_string(k + 1) + " of 24";
  threaded.onReport = [&](UpscaleJob& j) {
    if (j.statusText != lineNext || j.finished) return;
    std::unique_lock lock(mutex);
    reached = true;
    cv.notify_all();
    cv.wait(lock, [&] { return cancelled; });
  };
  std::thread worker([&] { threaded.Go(); });
  {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return reached; });
  }
  threaded.job.cancelRequested = true;
  {
    std::lock_guard lock(mutex);
    cancelled = true;
  }
  cv.notify_all();
  worker.join();

  const auto texts = threaded.Texts();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2], lineNext);
  EXPECT_TRUE(threaded.seen.back().finished);
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(), [](const std::string& t) { return t.rfind("Iteration", 0) == 0; }),
            k + 2 + 1 /* the substitution line of 11 */ + 1 /* the final report */);

  JobRun direct(8, 8);
  direct.Set(1, 16, 2, -1);
  direct.onReport = [&](UpscaleJob& j) {
    if (j.statusText == lineNext) j.cancelRequested = true;
  };
  direct.Go();
  for (int c = 0; c < 3; ++c) ASSERT_TRUE(std::equal(direct.Out(c), direct.Out(c) + direct.Large(), threaded.Out(c)));
}

TEST(UpscalePipeline, NullNotificationMeansNoReportsAndNoCancel) {
  JobRun silent(8, 8);
  silent.job.notify = nullptr;
  silent.Set(1, 6, 0, -1);
  silent.job.cancelRequested = true;  // never looked at
  silent.Go();
  EXPECT_FALSE(silent.job.finished);
  EXPECT_TRUE(silent.job.statusText.empty());

  JobRun reported(8, 8);
  reported.job.params = silent.job.params;
  reported.Go();
  EXPECT_EQ(reported.seen.size(), 3u + 6u + 1u);
  for (int c = 0; c < 3; ++c) ASSERT_TRUE(std::equal(silent.Out(c), silent.Out(c) + silent.Large(), reported.Out(c)));

  // And the pipeline without a job uses its params argument.
  FloatImage out(16, 16);
  UpscalePipeline(silent.job.source.samples(0), silent.job.source.samples(1), silent.job.source.samples(2), 8, 8,
                  out.samples(0), out.samples(1), out.samples(2), nullptr, nullptr, nullptr, &silent.job.params,
                  nullptr);
  for (int c = 0; c < 3; ++c) ASSERT_TRUE(std::equal(out.samples(c), out.samples(c) + 256, reported.Out(c)));
}

TEST(UpscalePipeline, TheLoopAllocatesNoPlanes) {
  JobRun run(24, 20);
  run.Set(1, 8, 1);
  run.onReport = [&](UpscaleJob& j) {
    if (j.statusText == "Iteration 0 of 12") gWatching = true;
    if (j.finished) gWatching = false;
  };
  gLargestWatched = 0;
  run.seen.reserve(64);
  run.Go();
  gWatching = false;
  bool substituted = false;
  for (const auto& t : run.Texts()) substituted |= t.find("fractal") != std::string::npos;
  EXPECT_TRUE(substituted);
  // No allocation of the size of a plane (recording the reports allocates a
  // few short strings).
  EXPECT_LT(gLargestWatched, 24u * 20u * sizeof(float));
}

TEST(EnhancementIteration, ResidualEnlargementByTheChosenResampler) {
  // edgeDirIterations -1: the bilinear x2 of the residual; 0: the
  // edge-directed resampler without direction weights, which is the bicubic x2.
  const int w = 9, h = 8;
  const FloatImage source = MakeTestChart(w, h, 5);
  for (int edge : {-1, 0}) {
    SRParams params;
    params.edgeDirIterations = edge;
    params.fractalSubsts = 0;
    FloatImage estimate(2 * w, 2 * h);
    for (int c = 0; c < 3; ++c) UpscaleBilinear2(source.samples(c), w, h, estimate.samples(c));
    WorkingPlanes planes(w, h);
    Resampling::EdgeDirResampler resampler;
    if (edge != -1) {
      resampler.SetSize(w, h);
      resampler.Analyze(source.samples(0), source.samples(1), source.samples(2), nullptr, nullptr, nullptr, 0);
    }
    EnhancementContext context;
    for (int c = 0; c < 3; ++c) context.source[c] = source.samples(c), context.estimate[c] = estimate.samples(c);
    context.w = w, context.h = h;
    context.planes = &planes;
    context.params = &params;
    context.resampler = &resampler;
    EnhancementSchedule schedule(params);
    EnhancementIteration(schedule, 0, context);
    for (int c = 0; c < 3; ++c) {
      std::vector<float> expect(4 * w * h);
      if (edge == -1) UpscaleBilinear2(planes.residual[c].data(), w, h, expect.data());
      else UpscaleBicubic2(planes.residual[c].data(), w, h, expect.data());
      ASSERT_EQ(expect, std::vector<float>(planes.enlargedResidual[c].begin(), planes.enlargedResidual[c].end())) << edge;
    }
  }
}

TEST(CheckUpscaleSettings, RefusesWhatTheAlgorithmsCannotTake) {
  SRParams params;
  EXPECT_EQ(CheckUpscaleSettings(6, 6, params), "");
  EXPECT_NE(CheckUpscaleSettings(5, 40, params), "");  // fractal substitution needs 6
  EXPECT_NE(CheckUpscaleSettings(40, 5, params), "");
  params.fractalSubsts = 0;
  EXPECT_EQ(CheckUpscaleSettings(3, 3, params), "");
  EXPECT_NE(CheckUpscaleSettings(2, 40, params), "");
  EXPECT_NE(CheckUpscaleSettings(40, 1, params), "");
  params.edgeDirIterations = -1;
  EXPECT_EQ(CheckUpscaleSettings(3, 3, params), "");
  params.edgeDirIterations = -2;
  EXPECT_NE(CheckUpscaleSettings(30, 30, params), "");
  params.edgeDirIterations = 0;
  params.sideLobe = 0.5f;
  EXPECT_NE(CheckUpscaleSettings(30, 30, params), "");
  params.sideLobe = 0.49f;
  EXPECT_EQ(CheckUpscaleSettings(30, 30, params), "");
}

}  // namespace
