// The coefficient reader and the JPEG observation model against files made
// with libjpeg at known settings: the grid, tables and sampling read back,
// the encoded picture consistent with its own file in every orientation,
// a decoded block re-quantising to its coefficients, one block by hand, and
// damaged files refused with libjpeg's reason.
#include <cmath>
#include <string>
#include <tuple>
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
  JpegObservation model(jpeg, w, h, 0, 0, 0.5f);  // the whole intervals
  std::vector<float> e[3];
  for (auto& p : e) p.resize(std::size_t(w) * h);
  const float* in[3] = {picture[0].data(), picture[1].data(), picture[2].data()};
  float* out[3] = {e[0].data(), e[1].data(), e[2].data()};
  model.Error(in, out);
  double sum = 0;
  for (auto& p : e)
    for (float v : p) sum += std::fabs(v);
  return sum / (3.0 * w * h);
}

TEST(JpegObservation, FilesReadBackAndTheirPictureIsConsistentInEveryOrientation) {
  const JpegSpec specs[] = {
      {37, 29, 50, 1, 1, 1},           {37, 29, 50, 3, 1, 1, true},     {37, 29, 50, 3, 2, 1, false, 1},
      {37, 29, 50, 3, 2, 2},           {40, 32, 60, 3, 2, 2, true, 2},
  };
  for (const JpegSpec& s : specs) {
    SCOPED_TRACE(testing::Message() << s.components << " components, " << s.hs << "x" << s.vs);
    uint16_t tables[2][64];
    const std::vector<uint8_t> file = MakeJpeg(s, Sample, tables);
    for (int o = 1; o <= 8; ++o) {
      SCOPED_TRACE(o);
      JpegCoefficients jpeg, upright;
      std::string reason;
      ASSERT_EQ(ReadJpegCoefficients(file.data(), file.size(), o, jpeg, reason), JpegCoefficientsRead::kRead);
      ASSERT_EQ(ReadJpegCoefficients(file.data(), file.size(), 1, upright, reason), JpegCoefficientsRead::kRead);
      const bool swap = o >= 5;
      const int w = swap ? s.h : s.w, h = swap ? s.w : s.h;
      ASSERT_EQ(int(jpeg.width), w);
      ASSERT_EQ(jpeg.components.size(), std::size_t(s.components));
      for (int c = 0; c < s.components; ++c) {
        const JpegComponent& k = jpeg.components[std::size_t(c)];
        const int sx = c == 0 ? 1 : s.hs, sy = c == 0 ? 1 : s.vs;
        EXPECT_EQ(swap ? k.sy : k.sx, sx);
        EXPECT_EQ(swap ? k.blocksY : k.blocksX, ((s.w + sx - 1) / sx + 7) / 8);
        EXPECT_EQ(swap ? k.blocksX : k.blocksY, ((s.h + sy - 1) / sy + 7) / 8);
        for (int i = 0; i < 64; ++i)
          ASSERT_EQ(k.quant[swap ? (i % 8) * 8 + i / 8 : i], tables[c > 0][i]);
      }
      // The picture the encoder saw, turned: inside its intervals (up to the
      // encoder's integer colour conversion); against the grid left upright,
      // far outside.
      std::vector<float> picture[3];
      for (auto& p : picture) p.resize(std::size_t(w) * h);
      for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x) {
          int dx, dy;
          Turn(o, s.w, s.h, x, y, dx, dy);
          for (int c = 0; c < 3; ++c) picture[c][std::size_t(dy) * w + dx] = float(Sample(x, y, s.components == 1 ? 0 : c));
        }
      EXPECT_LT(MeanError(jpeg, picture, w, h), s.components == 1 ? 0.001 : 0.05);
      if (o > 1 && !swap) {
        EXPECT_GT(MeanError(upright, picture, w, h), 2.0);
      }
    }
  }
}

// A file turned by its EXIF orientation is read with its grid turned as its
// pixels are: their decoding lies (nearly) inside the intervals, while the
// other quarter turn's grid is far from them.
TEST(JpegObservation, TurnedFilesBringTheirGridTurned) {
  for (int o : {6, 8}) {
    SCOPED_TRACE(o);
    const std::vector<uint8_t> file = MakeJpeg({37, 29, 80, 3, 2, 2, false, 0, o}, Sample);
    FloatImage image;
    ASSERT_TRUE(ReadImageMemory(file.data(), file.size(), image).ok());
    ASSERT_TRUE(image.jpeg != nullptr);
    ASSERT_EQ(image.width, 29u);
    std::vector<float> picture[3];
    for (int c = 0; c < 3; ++c) picture[c].assign(image.samples(c), image.samples(c) + image.PixelCount());
    JpegCoefficients other;
    std::string reason;
    ASSERT_EQ(ReadJpegCoefficients(file.data(), file.size(), 14 - o, other, reason), JpegCoefficientsRead::kRead);
    EXPECT_LT(MeanError(*image.jpeg, picture, 29, 37), 1.0);
    EXPECT_GT(MeanError(other, picture, 29, 37), 10.0);
  }
}

TEST(JpegObservation, DecodedBlocksRequantiseToTheirCoefficients) {
  const JpegSpec s{64, 48, 75, 1, 1, 1};
  const std::vector<uint8_t> file = MakeJpeg(s, Sample);
  JpegCoefficients jpeg;
  std::string reason;
  ASSERT_EQ(ReadJpegCoefficients(file.data(), file.size(), 1, jpeg, reason), JpegCoefficientsRead::kRead);
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), file.size());
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  std::vector<float> decoded(64 * 48);
  std::vector<JSAMPLE> row(64);
  for (int y = 0; y < 48; ++y) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&cinfo, rows, 1);
    for (int x = 0; x < 64; ++x) decoded[std::size_t(y) * 64 + std::size_t(x)] = float(row[std::size_t(x)]) - 128.0f;
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  const JpegComponent& k = jpeg.components[0];
  for (int by = 0; by < 6; ++by)
    for (int bx = 0; bx < 8; ++bx)
      EXPECT_FALSE(JpegObservation::ProjectBlock(decoded.data() + by * 8 * 64 + bx * 8, 64, k.Block(bx, by), k.quant));
}

TEST(JpegObservation, OneBlockByHand) {
  // A flat block v has DC 8 v. DC step 16, stored 2: the interval is
  // [24, 40]. v = 4 (DC 32) lies inside and leaves no error; v = 6 (DC 48)
  // lies 8 beyond, which is 1 in every sample; v = 1 (DC 8) 16 below: -2.
  // The middle half [28, 36]: v = 6 lies 12 beyond.
  uint16_t quant[64];
  std::fill_n(quant, 64, uint16_t(16));
  int16_t coefficients[64] = {2};
  for (const auto& [v, share, error] : {std::tuple{4.0f, 0.5f, 0.0f}, {6.0f, 0.5f, 1.0f}, {1.0f, 0.5f, -2.0f},
                                       {4.0f, 0.25f, 0.0f}, {6.0f, 0.25f, 1.5f}}) {
    float block[64];
    std::fill_n(block, 64, v);
    EXPECT_EQ(JpegObservation::ProjectBlock(block, 8, coefficients, quant, share), error != 0.0f);
    for (float e : block) ASSERT_NEAR(e, error, 1e-5f) << v;
  }
}

TEST(JpegObservation, DamagedFilesAreRefusedWithLibjpegsReason) {
  std::vector<uint8_t> file = MakeJpeg({64, 48, 75, 3, 2, 2}, Sample);
  const struct {
    std::vector<uint8_t> bytes;
    const char* says;
  } cases[] = {{std::vector<uint8_t>(file.begin(), file.begin() + long(file.size() / 2)), "Premature end"},
               {{'n', 'o', 't', ' ', 'a', ' ', 'J', 'P', 'E', 'G'}, "Not a JPEG file"}};
  for (const auto& k : cases) {
    JpegCoefficients jpeg;
    std::string reason;
    EXPECT_EQ(ReadJpegCoefficients(k.bytes.data(), k.bytes.size(), 1, jpeg, reason), JpegCoefficientsRead::kDamaged);
    EXPECT_NE(reason.find(k.says), std::string::npos) << reason;
    EXPECT_TRUE(jpeg.components.empty());
  }
}

}  // namespace
