// PNG and JPEG reading and writing with files made in the test: round trips,
// grey and colour JPEGs from libjpeg's compressor, truncated files in strict
// and lenient mode, four-component JPEGs, and the JPEG message handler.
#include <csetjmp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "image/image_readers.h"
#include "image/image_test_util.h"
#include "image/image_writers.h"
#include "image/jpeg_messages.h"
#include "support/test_support.h"

using namespace kestrune;

namespace {

// Writes a JPEG of `components` (1 grey, 3 RGB, 4 CMYK) whose sample (x, y, c)
// is sample(x, y, c), at quality 100 without chroma subsampling.
template <class F>
void WriteJpeg(const std::string& path, int width, int height, int components, F sample) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  for (int c = 0; c < cinfo.num_components; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(std::size_t(width) * components);
  while (cinfo.next_scanline < cinfo.image_height) {
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c) row[x * components + c] = JSAMPLE(sample(x, int(cinfo.next_scanline), c));
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(file);
}

// Collects the JPEG library's messages while alive.
class MessageCatcher {
 public:
  MessageCatcher() {
    SetJpegMessageHandler([this](const std::string& m) { messages.push_back(m); });
  }
  ~MessageCatcher() { SetJpegMessageHandler({}); }
  std::vector<std::string> messages;
};

TEST(ReadJpeg, ColourJpegKeepsItsColours) {
  TempDir dir;
  // Four flat quadrants: a JPEG at quality 100 reproduces flat areas within
  // a step or two.
  const int colours[4][3] = {{200, 30, 40}, {20, 180, 60}, {10, 20, 220}, {128, 128, 128}};
  auto sample = [&](int x, int y, int c) { return colours[(y / 16) * 2 + x / 16][c]; };
  WriteJpeg(dir.File("c.jpg"), 32, 32, 3, sample);
  FloatImage image;
  image.sourceBitDepth = 8;
  MessageCatcher catcher;
  ASSERT_EQ(ReadJpeg(dir.File("c.jpg"), image), kReadOk);
  EXPECT_TRUE(catcher.messages.empty());
  ASSERT_EQ(image.width, 32u);
  ASSERT_EQ(image.height, 32u);
  EXPECT_FALSE(image.HasAlpha());
  EXPECT_EQ(image.sourceBitDepth, 8u) << "only the BMP reader sets the bit depth";
  for (int y : {3, 12, 20, 28})
    for (int x : {3, 12, 20, 28})
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(At(image, c, x, y), sample(x, y, c), 3) << x << "," << y << "," << c;
}

TEST(ReadJpeg, GreyJpegGivesThreeEqualPlanes) {
  TempDir dir;
  WriteJpeg(dir.File("g.jpg"), 24, 8, 1, [](int x, int, int) { return x < 12 ? 40 : 210; });
  FloatImage image;
  ASSERT_EQ(ReadJpeg(dir.File("g.jpg"), image), kReadOk);
  ASSERT_EQ(image.width, 24u);
  for (std::size_t i = 0; i < image.PixelCount(); ++i) {
    ASSERT_EQ(image.samples(0)[i], image.samples(2)[i]);
    ASSERT_EQ(image.samples(1)[i], image.samples(2)[i]);
  }
  EXPECT_NEAR(At(image, 0, 2, 4), 40, 2);
  EXPECT_NEAR(At(image, 0, 21, 4), 210, 2);
}

TEST(ReadJpeg, TruncatedJpegWarnsOnceAndKeepsTheDecodedTop) {
  TempDir dir;
  // Detailed content, so that the entropy-coded data dominates the file.
  auto sample = [](int x, int y, int c) { return int(128 + 100 * std::sin(x * 0.7 + c) * std::cos(y * 0.3)); };
  WriteJpeg(dir.File("t.jpg"), 128, 128, 3, sample);
  std::vector<uint8_t> bytes = ReadBytes(dir.File("t.jpg"));
  bytes.resize(bytes.size() / 2);
  WriteBytes(dir.File("t.jpg"), bytes);
  MessageCatcher catcher;
  FloatImage image;
  ASSERT_EQ(ReadJpeg(dir.File("t.jpg"), image), kReadOk);
  ASSERT_EQ(catcher.messages.size(), 1u);
  EXPECT_NE(catcher.messages[0].find("Premature end of JPEG file"), std::string::npos) << catcher.messages[0];
  EXPECT_EQ(image.width, 128u);
  for (int x = 0; x < 128; x += 9) EXPECT_NEAR(At(image, 2, x, 1), sample(x, 1, 2), 4);
}

TEST(ReadJpeg, FatalErrorsAndFourComponentsGive2) {
  TempDir dir;
  WriteJpeg(dir.File("k.jpg"), 8, 8, 4, [](int, int, int c) { return 50 * c; });
  FloatImage image;
  MessageCatcher catcher;
  EXPECT_EQ(ReadJpeg(dir.File("k.jpg"), image), kReadFailed);

  WriteBytes(dir.File("n.jpg"), {'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'});
  EXPECT_EQ(ReadJpeg(dir.File("n.jpg"), image), kReadFailed);
  ASSERT_FALSE(catcher.messages.empty());
  EXPECT_NE(catcher.messages.back().find("Not a JPEG file"), std::string::npos) << catcher.messages.back();
  EXPECT_EQ(ReadJpeg(dir.File("missing.jpg"), image), kReadCannotOpen);
  EXPECT_STREQ(kJpegMessageTitle, "JPEG Library Error");
}

FloatImage Pattern(uint32_t w, uint32_t h) {
  FloatImage image(w, h);
  for (int c = 0; c < 3; ++c)
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) image.rows(c)[y][x] = float((x * 7 + y * 13 + c * 50 + x * y) % 256);
  return image;
}

TEST(PngWriteRead, RoundTripIsExactAndConverts) {
  TempDir dir;
  FloatImage image = Pattern(37, 21);
  image.rows(0)[0][0] = 300.0f;  // written as 255
  image.rows(1)[0][0] = 2.5f;    // written as 2
  image.sourceBitDepth = 4;
  ASSERT_EQ(WritePng(dir.File("p.png"), image), kWriteOk);
  FloatImage back;
  back.sourceBitDepth = 4;
  ASSERT_EQ(ReadPng(dir.File("p.png"), back, false), kReadOk);
  EXPECT_EQ(back.sourceBitDepth, 4u);
  EXPECT_FALSE(back.HasAlpha());
  ASSERT_EQ(back.width, 37u);
  ASSERT_EQ(back.height, 21u);
  EXPECT_EQ(back.rows(0)[0][0], 255.0f);
  EXPECT_EQ(back.rows(1)[0][0], 2.0f);
  for (int c = 0; c < 3; ++c)
    for (std::size_t i = 1; i < image.PixelCount(); ++i) ASSERT_EQ(back.samples(c)[i], image.samples(c)[i]);
  FloatImage empty;
  EXPECT_EQ(WritePng(dir.File("e.png"), empty), kWriteEmptyImage);
  EXPECT_EQ(WritePng(dir.File("no/dir/e.png"), image), kWriteFailed);
}

TEST(PngWriteRead, TruncatedPngFailsStrictAndKeepsDecodedRowsWhenLenient) {
  TempDir dir;
  // Noise-like rows compress poorly, so half the file holds about half the rows.
  // Several 8 KiB data chunks, so that the cut falls after the first.
  FloatImage image(64, 512);
  uint32_t state = 12345;
  for (int c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < image.PixelCount(); ++i) {
      state = state * 1664525u + 1013904223u;
      image.samples(c)[i] = float(state >> 24);
    }
  ASSERT_EQ(WritePng(dir.File("t.png"), image), kWriteOk);
  std::vector<uint8_t> bytes = ReadBytes(dir.File("t.png"));
  bytes.resize(bytes.size() / 2);
  WriteBytes(dir.File("t.png"), bytes);

  FloatImage back;
  EXPECT_EQ(ReadPng(dir.File("t.png"), back, false), kReadFailed);
  ASSERT_EQ(ReadPng(dir.File("t.png"), back, true), kReadOk);
  ASSERT_EQ(back.width, 64u);
  for (int c = 0; c < 3; ++c)
    for (uint32_t x = 0; x < 64; ++x) {
      EXPECT_EQ(back.rows(c)[0][x], image.rows(c)[0][x]);
      EXPECT_EQ(back.rows(c)[511][x], 0.0f) << "rows never decoded are black";
    }
  // Cut inside the header: no rows exist, so even the lenient read fails.
  bytes.resize(20);
  WriteBytes(dir.File("h.png"), bytes);
  EXPECT_EQ(ReadPng(dir.File("h.png"), back, true), kReadFailed);
}

TEST(PngWriteRead, NotAPngGives2) {
  TempDir dir;
  WriteBytes(dir.File("x.png"), MakeBmp(BmpLayout{}));
  FloatImage image;
  EXPECT_EQ(ReadPng(dir.File("x.png"), image, true), kReadFailed);
  EXPECT_EQ(ReadPng(dir.File("missing.png"), image, true), kReadCannotOpen);
}

// ReadImageFile's choice of reader: by extension first, then BMP, lenient PNG
// and JPEG in this order.
TEST(ReadImageFile, ExtensionAndFallbackOrder) {
  TempDir dir;
  BmpLayout s;
  s.pixels = {1, 2, 3, 0};
  const auto bmp = MakeBmp(s);
  FloatImage image;
  for (const char* name : {"a.bmp", "a.BMP", "a.png", "a.jpg", "a.jpeg", "noextension", "dir.v2/file"}) {
    std::filesystem::create_directories(dir.path() / "dir.v2");
    WriteBytes(dir.File(name), bmp);
    image.sourceBitDepth = 0;
    EXPECT_EQ(ReadImageFile(dir.File(name), image), kReadOk) << name;
    EXPECT_EQ(image.sourceBitDepth, 24u) << name << " was read as BMP";
    EXPECT_EQ(At(image, 0, 0, 0), 3) << name;
  }
  // A PNG named .bmp and a JPEG named .png are found by the fallback.
  ASSERT_EQ(WritePng(dir.File("p.bmp"), Pattern(4, 4)), kWriteOk);
  image.sourceBitDepth = 0;
  EXPECT_EQ(ReadImageFile(dir.File("p.bmp"), image), kReadOk);
  EXPECT_EQ(image.sourceBitDepth, 0u);
  EXPECT_EQ(image.width, 4u);
  WriteJpeg(dir.File("j.png"), 9, 5, 3, [](int, int, int) { return 100; });
  {
    MessageCatcher quiet;
    EXPECT_EQ(ReadImageFile(dir.File("j.png"), image), kReadOk);
  }
  EXPECT_EQ(image.width, 9u);

  WriteBytes(dir.File("junk.bmp"), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  {
    MessageCatcher quiet;
    EXPECT_EQ(ReadImageFile(dir.File("junk.bmp"), image), kReadNoReader);
  }
  EXPECT_EQ(ReadImageFile(dir.File("missing.bmp"), image), kReadCannotOpen);
}

}  // namespace
