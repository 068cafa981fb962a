// The coefficient reader and the JPEG observation model against files made
// with libjpeg at known settings: the grid, tables and sampling read back,
// the encoded picture consistent with its own file in every orientation,
// decoded files re-quantising to their coefficients, one block by hand, the
// model's memory within its bound, and damaged files refused with libjpeg's
// reason.
#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "image/image_readers.h"
#include "support/jpeg_maker.h"
#include "upscale/jpeg_observation.h"

using namespace kestrune;

namespace {

// A smooth picture with texture and an edge, well inside 0..255.
int Sample(int x, int y, int c) {
  return 60 + (x * 3 + y * 2 + c * 17) % 90 + ((x / 5 + y / 7) % 2) * 40 + (x * y * (c + 3)) % 7;
}

// The mean |error| the model finds in `picture` (the w x h RGB planes).
double MeanError(const JpegCoefficients& jpeg, std::vector<float> picture[3], int w, int h) {
  const float* in[3] = {picture[0].data(), picture[1].data(), picture[2].data()};
  std::vector<float> e[3] = {picture[0], picture[1], picture[2]};
  float* out[3] = {e[0].data(), e[1].data(), e[2].data()};
  JpegObservation(jpeg, w, h, 0, 0, 0.5f).Error(in, out);  // the whole intervals
  double sum = 0;
  for (auto& p : e)
    for (float v : p) sum += std::fabs(v);
  return sum / (3.0 * w * h);
}

TEST(JpegObservation, FilesReadBackAndTheirPictureIsConsistentInEveryOrientation) {
  const JpegRecipe recipes[] = {{37, 29, 50, 1, 1, 1},
                                {37, 29, 50, 3, 1, 1, true},
                                {37, 29, 50, 3, 2, 1, false, 1},
                                {37, 29, 50, 3, 2, 2},
                                {40, 32, 60, 3, 2, 2, true, 2}};
  for (const JpegRecipe& s : recipes) {
    SCOPED_TRACE(testing::Message() << s.components << " components, " << s.hs << "x" << s.vs);
    uint16_t tables[2][64];
    const std::vector<uint8_t> file = MakeJpeg(s, Sample, tables);
    for (int o = 1; o <= 8; ++o) {
      SCOPED_TRACE(o);
      JpegCoefficients jpeg;
      std::string reason;
      ASSERT_EQ(ReadJpegCoefficients(file.data(), file.size(), o, jpeg, reason), JpegCoefficientsRead::kRead);
      const bool swap = o >= 5;
      const int w = swap ? s.h : s.w, h = swap ? s.w : s.h;
      ASSERT_EQ(std::pair(int(jpeg.width), int(jpeg.components.size())), std::pair(w, s.components));
      for (int c = 0; c < s.components; ++c) {
        const JpegComponent& k = jpeg.components[std::size_t(c)];
        const int sx = c == 0 ? 1 : s.hs, sy = c == 0 ? 1 : s.vs;
        EXPECT_EQ(swap ? k.sy : k.sx, sx);
        EXPECT_EQ(swap ? k.blocksY : k.blocksX, ((s.w + sx - 1) / sx + 7) / 8);
        EXPECT_EQ(swap ? k.blocksX : k.blocksY, ((s.h + sy - 1) / sy + 7) / 8);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(k.quant[swap ? (i % 8) * 8 + i / 8 : i], tables[c > 0][i]);
      }
      // The picture the encoder saw, turned, lies inside its intervals (up to
      // the encoder's integer colour conversion).
      std::vector<float> picture[3] = {std::vector<float>(std::size_t(w) * h), {}, {}};
      picture[2] = picture[1] = picture[0];
      for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x) {
          int dx, dy;
          Turn(o, s.w, s.h, x, y, dx, dy);
          for (int c = 0; c < 3; ++c)
            picture[c][std::size_t(dy) * w + dx] = float(Sample(x, y, s.components == 1 ? 0 : c));
        }
      EXPECT_LT(MeanError(jpeg, picture, w, h), s.components == 1 ? 0.001 : 0.05);
      // The memory the model holds for the picture and for a part off its grid.
      EXPECT_LE(JpegObservation(jpeg, w, h, 0, 0).Bytes(), JpegObservation::BytesBound(w, h));
      EXPECT_LE(JpegObservation(jpeg, w - 4, h - 3, 3, 1).Bytes(), JpegObservation::BytesBound(w - 4, h - 3));
    }
  }
}

// Files decoded as the program reads them: a grey file re-quantises exactly;
// a 4:2:0 file turned by its EXIF orientation lies nearly inside its grid,
// turned as its pixels are (the other quarter turn's grid gives 34).
TEST(JpegObservation, DecodedFilesRequantiseToTheirCoefficients) {
  const std::pair<JpegRecipe, double> cases[] = {{{64, 48, 75, 1, 1, 1}, 0.0},
                                                 {{37, 29, 80, 3, 2, 2, false, 0, 6}, 1.0},
                                                 {{37, 29, 80, 3, 2, 2, false, 0, 8}, 1.0}};
  for (const auto& [s, within] : cases) {
    SCOPED_TRACE(s.orientation);
    const std::vector<uint8_t> file = MakeJpeg(s, Sample);
    FloatImage image;
    ASSERT_TRUE(ReadImageMemory(file.data(), file.size(), image).ok());
    ASSERT_TRUE(image.jpeg != nullptr);
    const int w = int(image.width), h = int(image.height);
    std::vector<float> picture[3];
    for (int c = 0; c < 3; ++c) picture[c].assign(image.samples(c), image.samples(c) + image.PixelCount());
    EXPECT_LE(MeanError(*image.jpeg, picture, w, h), within);
  }
}

TEST(JpegObservation, OneBlockByHand) {
  // A flat block v has DC 8 v. DC step 16, stored 2: the interval [24, 40].
  // v = 4 (DC 32) lies inside; v = 6 (DC 48) 8 beyond, 1 in every sample;
  // v = 1 (DC 8) 16 below: -2. The middle half [28, 36]: v = 6 lies 12 beyond.
  uint16_t quant[64];
  std::fill_n(quant, 64, uint16_t(16));
  int16_t coefficients[64] = {2};
  for (const auto& [v, share, error] : {std::tuple{4.0f, 0.5f, 0.0f},
                                        {6.0f, 0.5f, 1.0f},
                                        {1.0f, 0.5f, -2.0f},
                                        {4.0f, 0.25f, 0.0f},
                                        {6.0f, 0.25f, 1.5f}}) {
    float block[64];
    std::fill_n(block, 64, v);
    EXPECT_EQ(JpegObservation::ProjectBlock(block, 8, coefficients, quant, share), error != 0.0f);
    for (float e : block) ASSERT_NEAR(e, error, 1e-5f) << v;
  }
}

TEST(JpegObservation, DamagedFilesAreRefusedWithLibjpegsReason) {
  std::vector<uint8_t> file = MakeJpeg({64, 48, 75, 3, 2, 2}, Sample);
  const std::pair<std::vector<uint8_t>, const char*> cases[] = {
      {std::vector<uint8_t>(file.begin(), file.begin() + long(file.size() / 2)), "Premature end"},
      {{'n', 'o', 't', ' ', 'J', 'P', 'E', 'G'}, "Not a JPEG file"}};
  for (const auto& [bytes, says] : cases) {
    JpegCoefficients jpeg;
    std::string reason;
    EXPECT_EQ(ReadJpegCoefficients(bytes.data(), bytes.size(), 1, jpeg, reason), JpegCoefficientsRead::kDamaged);
    EXPECT_NE(reason.find(says), std::string::npos) << reason;
  }
}

}  // namespace
