// The whole upscaling gives the same samples and the same reports for any
// thread count: the default run (NEDI, edge-directed residual, edge-adaptive
// weights, two fractal substitutions) and the bilinear-residual variant, plus
// the fractal substitution alone run in bounded steps.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/test_chart.h"
#include "support/thread_count.h"
#include "upscale/fractal_texture.h"
#include "upscale/upscale_pipeline.h"

using namespace kestrune;

namespace {

struct Result {
  std::vector<float> planes[3];
  std::vector<std::string> reports;
};

Result Upscale(const FloatImage& source, const SRParams& params) {
  UpscaleJob job;
  job.source = source;
  job.srcWidth = source.width, job.srcHeight = source.height;
  job.newWidth = 2 * source.width, job.newHeight = 2 * source.height;
  job.params = params;
  Result result;
  const std::size_t large = std::size_t(4) * source.width * source.height;
  for (int c = 0; c < 3; ++c) {
    result.planes[c].assign(large, -1.0f);
    job.output[c] = result.planes[c].data();
  }
  job.notify = [&](UpscaleJob& j) { result.reports.push_back(std::to_string(j.progress) + " " + j.statusText); };
  UpscaleThreadProc(&job);
  return result;
}

void ExpectSameRunForAnyThreadCount(const FloatImage& source, const SRParams& params) {
  std::vector<Result> results;
  for (int threads : kThreadCountsToCompare) {
    ScopedThreadCount scope(threads);
    results.push_back(Upscale(source, params));
  }
  const Result& one = results[0];
  ASSERT_GT(one.reports.size(), std::size_t(params.iterations));
  for (std::size_t r = 1; r < results.size(); ++r) {
    SCOPED_TRACE(std::to_string(kThreadCountsToCompare[r]) + " threads");
    EXPECT_EQ(results[r].reports, one.reports);
    for (int c = 0; c < 3; ++c) {
      ASSERT_TRUE(SameBits(results[r].planes[c], one.planes[c])) << "plane " << c;
    }
  }
  // The run did something: samples inside the clamp range, no -1 left.
  for (int c = 0; c < 3; ++c)
    for (float v : one.planes[c]) ASSERT_TRUE(v >= -0.5f && v <= 255.5f);
}

TEST(ParallelPipeline, DefaultRun) {
  SRParams params;  // NEDI, 16 iterations, 2 substitutions, edge-directed residual
  params.sideLobe = 0.0f;
  ExpectSameRunForAnyThreadCount(RenderTestChart(48, 40, 2), params);
}

TEST(ParallelPipeline, BicubicStartBilinearResidualConstantWeights) {
  SRParams params;
  params.initialMethod = 1;
  params.edgeDirIterations = -1;
  params.variableRegularization = 0.0f;
  params.iterations = 6;
  params.fractalSubsts = 1;
  ExpectSameRunForAnyThreadCount(RenderTestChart(53, 37, 5), params);
}

TEST(ParallelPipeline, FractalSubstitutionInBoundedSteps) {
  // Bounded calls stop between block rows at many points; the accumulators
  // of overlapping block rows must still add up in one fixed order.
  const FloatImage source = RenderTestChart(40, 36, 3);
  const int w = 40, h = 36, W = 80, H = 72;
  std::vector<float> x[3];
  for (int c = 0; c < 3; ++c) {
    x[c].resize(std::size_t(W) * H);
    for (int r = 0; r < H; ++r)
      for (int col = 0; col < W; ++col) x[c][std::size_t(r) * W + col] = source.samples(c)[std::size_t(r / 2) * w + col / 2];
  }
  std::vector<std::vector<float>> results;
  for (int threads : kThreadCountsToCompare) {
    ScopedThreadCount scope(threads);
    for (unsigned step : {1u, 7u, 1000u}) {
      std::vector<float> o[3];
      for (auto& plane : o) plane.assign(std::size_t(W) * H, -1.0f);
      FractalTexture ft;
      ft.Init(x[0].data(), x[1].data(), x[2].data(), W, H, source.samples(0), source.samples(1), source.samples(2), w,
              h, o[0].data(), o[1].data(), o[2].data());
      for (unsigned limit = step; limit < unsigned(H) + step; limit += step) ft.Run(std::min(limit, unsigned(H)), H);
      ft.Run(~0u, H);
      ft.Finish();
      std::vector<float> all;
      for (auto& plane : o) all.insert(all.end(), plane.begin(), plane.end());
      results.push_back(all);
    }
  }
  // Each step size against the same step size on one thread.
  for (std::size_t i = 3; i < results.size(); ++i) EXPECT_TRUE(SameBits(results[i], results[i % 3])) << i;
}

}  // namespace
