// The learned start: its loader refuses what is not its network, a flat
// picture stays exactly flat, thread counts agree, and the pipeline runs the
// network of the source's kind. Tiles: the table of
// tiled_upscale_test.cpp.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/test_chart.h"
#include "kestrune/threads.h"
#include "learned/learned_start.h"
#include "learned/source_choice.h"
#include "support/jpeg_maker.h"
#include "upscale/centred_grid.h"
#include "upscale/jpeg_observation.h"
#include "upscale/observation_choice.h"
#include "upscale/upscale_pipeline.h"

using namespace kestrune;

namespace {

using Planes = std::vector<std::vector<float>>;

Planes Learned(const float* const src[3], int w, int h, LearnedFor kind) {
  Planes out(3, std::vector<float>(4 * std::size_t(w) * h));
  float* planes[3] = {out[0].data(), out[1].data(), out[2].data()};
  LearnedUpscale2(*BuiltInLearnedNetwork(nullptr, kind), src, w, h, planes);
  return out;
}

// The pipeline's start (no iterations) with the learned method, under the
// centred model or not, with the network it picks or the one of `kind`.
Planes PipelineStart(const float* const src[3], int w, int h, const JpegCoefficients* jpeg, bool centred = false,
                     const LearnedFor* kind = nullptr) {
  Planes out(3, std::vector<float>(4 * std::size_t(w) * h));
  float* planes[3] = {out[0].data(), out[1].data(), out[2].data()};
  SRParams p;
  p.initialMethod = InitialMethod::kLearned, p.iterations = 0, p.fractalSubsts = 0;
  if (centred) p.observation = Observation::kCentred;
  if (kind != nullptr) p.learned = BuiltInLearnedNetwork(nullptr, *kind);
  EXPECT_TRUE(UpscalePipeline(src, w, h, planes, nullptr, p, nullptr, nullptr, jpeg));
  return out;
}

TEST(LearnedStart, LoaderRefusesMissingAndDamagedWeights) {
  if (!LearnedStartBuilt()) GTEST_SKIP() << "built without OpenCV's dnn module";
  const std::string onnx(BuiltInLearnedWeights());
  const struct {
    std::string bytes;  // empty: no file
    const char* error;  // null: loads
  } cases[] = {{onnx, nullptr},
               {"", "cannot be read from "},
               {onnx.substr(0, onnx.size() / 2), " are damaged: "},
               {std::string(4000, '\x5a'), " are damaged: "}};
  const std::string path = ::testing::TempDir() + "learned_start_test.onnx";
  for (const auto& k : cases) {
    std::remove(path.c_str());
    if (FILE* f = k.bytes.empty() ? nullptr : std::fopen(path.c_str(), "wb")) {
      std::fwrite(k.bytes.data(), 1, k.bytes.size(), f);
      std::fclose(f);
    }
    std::string error;
    const auto network = LoadLearnedNetwork(path, &error);
    EXPECT_EQ(network == nullptr, k.error != nullptr) << error;
    const bool says = k.error == nullptr || (error.find(k.error) != error.npos && error.find(path) != error.npos);
    EXPECT_TRUE(says) << error;
  }
  std::remove(path.c_str());
}

TEST(LearnedStart, FlatStaysFlatThreadsAgreeAndEachSourceGetsItsNetwork) {
  if (!LearnedStartBuilt()) GTEST_SKIP() << "built without OpenCV's dnn module";
  const int w = 300, h = 270;  // 3 x 3 blocks of the picture's grid
  const float levels[3] = {0.1f, 97.3f, 251.7f};
  std::vector<float> flat[3];
  for (int c = 0; c < 3; ++c) flat[c].assign(std::size_t(w) * h, levels[c]);
  const float* flatSrc[3] = {flat[0].data(), flat[1].data(), flat[2].data()};
  const FloatImage chart = RenderTestChart(w, h, 5);
  const float* src[3] = {chart.samples(0), chart.samples(1), chart.samples(2)};
  const int threads = ThreadCount();
  for (LearnedFor kind : kLearnedKinds) {
    const auto flatOut = Learned(flatSrc, w, h, kind);
    for (int c = 0; c < 3; ++c)
      for (float v : flatOut[c]) ASSERT_EQ(v, levels[c]);
    SetThreadCount(1);
    const auto one = Learned(src, w, h, kind);
    SetThreadCount(2);
    const auto two = Learned(src, w, h, kind);
    SetThreadCount(threads);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(0, std::memcmp(one[c].data(), two[c].data(), one[c].size() * 4)) << c;
  }
  // Each source model starts from its own network and JPEG sources from
  // theirs, on the start the file's model makes of the decoding.
  const std::vector<uint8_t> file =
      MakeJpeg({w, h, 80, 3, 2, 2}, [](int x, int y, int c) { return (x ^ y) * (c + 1) & 255; });
  JpegCoefficients jpeg;
  std::string reason;
  ASSERT_EQ(ReadJpegCoefficients(file.data(), file.size(), 1, jpeg, reason), JpegCoefficientsRead::kRead);
  const struct {
    bool centred;
    const JpegCoefficients* file;
    LearnedFor kind;
  } sources[] = {{false, nullptr, LearnedFor::kCamera},
                 {true, nullptr, LearnedFor::kReduced},
                 {false, &jpeg, LearnedFor::kCameraJpeg},
                 {true, &jpeg, LearnedFor::kReducedJpeg}};
  for (const auto& k : sources) {
    const Planes picked = PipelineStart(src, w, h, k.file, k.centred);
    for (LearnedFor other : kLearnedKinds)
      EXPECT_EQ(picked == PipelineStart(src, w, h, k.file, k.centred, &other), other == k.kind) << int(other);
  }
  EXPECT_TRUE(PipelineStart(src, w, h, nullptr) == Learned(src, w, h, LearnedFor::kCamera));
  Planes smoothed(3, std::vector<float>(std::size_t(w) * h));
  float* start[3] = {smoothed[0].data(), smoothed[1].data(), smoothed[2].data()};
  JpegObservation(jpeg, w, h, 0, 0).Start(src, start);
  EXPECT_TRUE(PipelineStart(src, w, h, &jpeg) == Learned(start, w, h, LearnedFor::kCameraJpeg));
}

// The source choice: a flat picture scores exactly zero, rows past the first
// kChoiceRows do not count, and sharp discs halved each way are told apart.
TEST(SourceChoice, FlatIsZeroAndEachReductionIsRecognised) {
  if (!SourceChoiceBuilt()) GTEST_SKIP() << "built without OpenCV's dnn module";
  std::vector<float> flat(std::size_t(300) * 200, 117.0f);
  const float* flatSrc[3] = {flat.data(), flat.data(), flat.data()};
  EXPECT_EQ(ReducedScore(flatSrc, 300, 200), 0.0);
  const FloatImage tall = RenderTestChart(200, kChoiceRows + 60, 3);
  const float* tallSrc[3] = {tall.samples(0), tall.samples(1), tall.samples(2)};
  EXPECT_EQ(ReducedScore(tallSrc, 200, kChoiceRows + 60), ReducedScore(tallSrc, 200, kChoiceRows));
  // Discs of random levels, each pixel the mean of 4 x 4 points.
  const int W = 384, w = W / 2;
  std::vector<float> sharp(std::size_t(W) * W), tmp(std::size_t(w) * W);
  uint32_t seed = 29;
  const auto next = [&] { return float((seed = seed * 1664525u + 1013904223u) >> 8) / float(1 << 24); };
  for (int d = 0; d < 40; ++d) {
    const float cx = W * next(), cy = W * next(), r = 8 + 40 * next(), level = 255 * next();
    for (int y = 0; y < W; ++y)
      for (int x = 0; x < W; ++x)
        for (int i = 0; i < 16; ++i)
          if (std::hypot(x + (i % 4) * 0.25f - cx, y + (i / 4) * 0.25f - cy) < r)
            sharp[std::size_t(y) * W + x] += (level - sharp[std::size_t(y) * W + x]) / 16;
  }
  std::vector<float> halved[2] = {std::vector<float>(std::size_t(w) * w), std::vector<float>(std::size_t(w) * w)};
  DownsampleCentred(sharp.data(), W, W, halved[1].data(), tmp.data());
  const float g[4] = {0.4479f, 0.2417f, 0.0293f, 0.0007f};  // Gaussian, sigma 0.8
  for (int y = 0; y < w; ++y)
    for (int x = 0; x < w; ++x)
      for (int i = -3; i <= 3; ++i)
        for (int j = -3; j <= 3; ++j)
          halved[0][std::size_t(y) * w + x] +=
              g[std::abs(i)] * g[std::abs(j)] *
              sharp[std::size_t(std::clamp(2 * y + i, 0, W - 1)) * W + std::size_t(std::clamp(2 * x + j, 0, W - 1))];
  for (int k = 0; k < 2; ++k) {
    const float* src[3] = {halved[k].data(), halved[k].data(), halved[k].data()};
    const double score = ReducedScore(src, w, w);
    EXPECT_EQ(score > 0.0, k == 1) << score;
  }
}

}  // namespace
