// The learned start: its loader refuses what is not its network, a flat
// picture stays exactly flat, and thread counts agree. Tiles: the table of
// tiled_upscale_test.cpp.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/test_chart.h"
#include "kestrune/threads.h"
#include "learned/learned_start.h"

using namespace kestrune;

namespace {

std::vector<std::vector<float>> Learned(const float* const src[3], int w, int h) {
  std::vector<std::vector<float>> out(3, std::vector<float>(4 * std::size_t(w) * h));
  float* planes[3] = {out[0].data(), out[1].data(), out[2].data()};
  LearnedUpscale2(*BuiltInLearnedNetwork(nullptr), src, w, h, planes);
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

TEST(LearnedStart, FlatStaysExactlyFlatAndThreadCountsAgree) {
  if (!LearnedStartBuilt()) GTEST_SKIP() << "built without OpenCV's dnn module";
  const int w = 300, h = 270;  // 3 x 3 blocks of the picture's grid
  const float levels[3] = {0.1f, 97.3f, 251.7f};
  std::vector<float> flat[3];
  for (int c = 0; c < 3; ++c) flat[c].assign(std::size_t(w) * h, levels[c]);
  const float* flatSrc[3] = {flat[0].data(), flat[1].data(), flat[2].data()};
  const auto flatOut = Learned(flatSrc, w, h);
  for (int c = 0; c < 3; ++c)
    for (float v : flatOut[c]) ASSERT_EQ(v, levels[c]);
  const FloatImage chart = RenderTestChart(w, h, 5);
  const float* src[3] = {chart.samples(0), chart.samples(1), chart.samples(2)};
  const int threads = ThreadCount();
  SetThreadCount(1);
  const auto one = Learned(src, w, h);
  SetThreadCount(2);
  const auto two = Learned(src, w, h);
  SetThreadCount(threads);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(0, std::memcmp(one[c].data(), two[c].data(), one[c].size() * 4)) << c;
}

}  // namespace
