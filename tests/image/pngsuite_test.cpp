// Every image of PngSuite: the valid ones read with the RGBA values listed
// in the suite's json files, the deliberately broken x-files are refused
// with a reason.
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/image_readers.h"
#include "support/test_support.h"

using namespace kestrune;

namespace {

std::filesystem::path Suite() { return SharedDir() / "peers" / "pngsuite"; }

// The json files are flat arrays of R, G, B, A values, row by row: 8-bit
// values for files of up to 8 bits per sample, 16-bit values for 16-bit
// files (the last two characters of a PngSuite name give the bit depth).
std::vector<int> ReadJsonArray(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string text(std::istreambuf_iterator<char>(in), {});
  for (char& c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) c = ' ';
  std::istringstream numbers(text);
  return {std::istream_iterator<int>(numbers), std::istream_iterator<int>()};
}

TEST(PngSuite, ValidImagesReadWithTheirListedRgba) {
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Suite() / "png")) {
    const std::string stem = entry.path().stem().string();
    if (entry.path().extension() != ".png" || stem[0] == 'x') continue;
    const std::filesystem::path json = Suite() / "json" / (stem + ".json");
    ASSERT_TRUE(std::filesystem::exists(json)) << json;
    std::vector<int> rgba = ReadJsonArray(json);
    // The reader keeps the high byte of a 16-bit sample (strip-16 truncates;
    // it does not round), so a 16-bit value v reads exactly as v >> 8.
    if (stem.substr(stem.size() - 2) == "16")
      for (int& v : rgba) v >>= 8;

    FloatImage image;
    image.sourceBitDepth = 7;
    const ReadStatus status = ReadImageFile(entry.path().string(), image);
    ASSERT_EQ(status.code, kReadOk) << stem << ": " << status.message;
    EXPECT_EQ(image.sourceBitDepth, 7u) << stem;
    ASSERT_EQ(rgba.size(), image.PixelCount() * 4) << stem;

    std::vector<float> got;
    for (std::size_t i = 0; i < image.PixelCount(); ++i)
      for (int c = 0; c < 4; ++c) got.push_back(c < 3 || image.HasAlpha() ? image.samples(c)[i] : 255.0f);
    EXPECT_EQ(got, std::vector<float>(rgba.begin(), rgba.end())) << stem;
    ++checked;
  }
  EXPECT_GE(checked, 150);
}

TEST(PngSuite, BrokenFilesAreRefused) {
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Suite() / "png")) {
    const std::string stem = entry.path().stem().string();
    if (stem[0] != 'x') continue;
    FloatImage image;
    const ReadStatus status = ReadImageFile(entry.path().string(), image);
    EXPECT_NE(status.code, kReadOk) << stem;
    EXPECT_FALSE(status.message.empty()) << stem;
    // Keeping damage may keep what was decoded, but must not crash.
    ReadImageFile(entry.path().string(), image, DamagePolicy::kKeepReadable);
    ++checked;
  }
  EXPECT_EQ(checked, 14);
}

}  // namespace
