// Every image of PngSuite: the valid ones read with the RGBA values listed
// in the suite's json files (16-bit files within one level of their 8-bit
// listing, as they keep their precision), the deliberately broken x-files
// are refused with a reason.
#include <algorithm>
#include <cctype>
#include <cmath>
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

TEST(PngSuite, ValidImagesReadWithTheirListedRgbaBrokenOnesAreRefused) {
  int valid = 0, broken = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Suite() / "png")) {
    const std::string stem = entry.path().stem().string();
    if (entry.path().extension() != ".png") continue;
    FloatImage image;
    image.sourceBitDepth = 7;
    const ReadStatus status = ReadImageFile(entry.path().string(), image);
    if (stem[0] == 'x') {
      EXPECT_NE(status.code, ErrorCode::kNone) << stem;
      EXPECT_FALSE(status.message.empty()) << stem;
      // Keeping damage may keep what was decoded, but must not crash.
      ReadImageFile(entry.path().string(), image, DamagePolicy::kKeepReadable);
      ++broken;
      continue;
    }
    ASSERT_EQ(status.code, ErrorCode::kNone) << stem << ": " << status.message;
    EXPECT_EQ(image.sourceBitDepth, 0u) << stem;
    // A 16-bit file's 8-bit listing where the suite has one, else its 16-bit
    // values on the 0..255 scale.
    const std::filesystem::path json = Suite() / "json" / (stem + ".json");
    ASSERT_TRUE(std::filesystem::exists(json)) << json;
    const bool wide = stem.substr(stem.size() - 2) == "16";
    const std::filesystem::path to8 = Suite() / "json" / (stem + "_to8.json");
    const bool listed8 = !wide || std::filesystem::exists(to8);
    std::vector<float> rgba;
    for (int v : ReadJsonArray(listed8 ? (wide ? to8 : json) : json)) rgba.push_back(listed8 ? float(v) : v / 257.0f);
    ASSERT_EQ(rgba.size(), image.PixelCount() * 4) << stem;
    EXPECT_EQ(image.metadata.depth, wide ? SampleDepth::k16 : SampleDepth::k8) << stem;
    float worst = 0;
    for (std::size_t i = 0; i < image.PixelCount(); ++i)
      for (int c = 0; c < 4; ++c) {
        const float got = c < 3 || image.HasAlpha() ? image.samples(c)[i] : 255.0f;
        worst = std::max(worst, std::fabs(got - rgba[i * 4 + c]));
      }
    EXPECT_LE(worst, wide ? 1.0f : 0.0f) << stem;
    ++valid;
  }
  EXPECT_GE(valid, 150);
  EXPECT_EQ(broken, 14);
}

}  // namespace
