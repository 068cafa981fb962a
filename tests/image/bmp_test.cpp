// BMP writing and reading: the written layout byte by byte, the row strides
// of every bit count, palettes, top-down rows, and files that must be
// refused without touching memory outside their buffers.
#include <cmath>
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "image/image_readers.h"
#include "image/image_test_util.h"
#include "image/image_writers.h"
#include "support/test_support.h"

using namespace kestrune;

namespace {

uint32_t Le32(const std::vector<uint8_t>& f, std::size_t at) {
  return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | uint32_t(f[at + 3]) << 24;
}

TEST(WriteBmp, OneByOneIs58BytesWithTheFixedHeader) {
  TempDir dir;
  FloatImage image(1, 1);
  image.rows(0)[0][0] = 10;  // red
  image.rows(1)[0][0] = 20;  // green
  image.rows(2)[0][0] = 30;  // blue
  ASSERT_EQ(WriteBmp(dir.File("a.bmp"), image), kWriteOk);
  const auto f = ReadBytes(dir.File("a.bmp"));
  ASSERT_EQ(f.size(), 58u);
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  // {offset, value} of the 32-bit header fields: file size, reserved, data
  // offset, header size, width, height, compression, image size, 75 pixels
  // per metre both ways (as written), colours used, important colours.
  const uint32_t fields[][2] = {{2, 58},  {6, 0},  {10, 54}, {14, 40}, {18, 1},  {22, 1},
                                {30, 0},  {34, 0}, {38, 75}, {42, 75}, {46, 0},  {50, 0}};
  for (const auto& [at, value] : fields) EXPECT_EQ(Le32(f, at), value) << "offset " << at;
  EXPECT_EQ(f[26] | f[27] << 8, 1);   // planes
  EXPECT_EQ(f[28] | f[29] << 8, 24);  // bits per pixel
  EXPECT_EQ(f[54], 30);
  EXPECT_EQ(f[55], 20);
  EXPECT_EQ(f[56], 10);
  EXPECT_EQ(f[57], 0);  // padding
}

TEST(WriteBmp, TwoByTwoIs70BytesBottomUpWithConvertedSamples) {
  TempDir dir;
  FloatImage image;
  image.Allocate(2, 2, /*withAlpha*/ true, /*clear*/ true);
  const float values[2][2] = {{-3.2f, 0.5f}, {1.5f, 254.5f}};  // [y][x], same in every plane
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x) image.rows(c)[y][x] = values[y][x] + (c == 0 && x == 1 && y == 1 ? 45.5f : 0);
  image.rows(FloatImage::kAlpha)[0][0] = 99;  // ignored
  ASSERT_EQ(WriteBmp(dir.File("b.bmp"), image), kWriteOk);
  const auto f = ReadBytes(dir.File("b.bmp"));
  ASSERT_EQ(f.size(), 70u);
  EXPECT_EQ(Le32(f, 2), 70u);
  // File row 0 is image row 1: (1.5, 254.5) -> 2, 254; red of x=1 is 300 -> 255.
  const std::vector<uint8_t> expected = {2, 2, 2, 254, 254, 255, 0, 0,  //
                                         0, 0, 0, 0,   0,   0,   0, 0};
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 54, f.end()), expected);
}

TEST(WriteBmp, EmptyImageGives2WithoutAFileAndBadPathGives1) {
  TempDir dir;
  FloatImage empty;
  EXPECT_EQ(WriteBmp(dir.File("e.bmp"), empty), kWriteEmptyImage);
  EXPECT_FALSE(std::filesystem::exists(dir.File("e.bmp")));
  FloatImage image(3, 3);
  image.Clear();
  EXPECT_EQ(WriteBmp(dir.File("no/such/dir/x.bmp"), image), kWriteFailed);
}

TEST(WriteBmp, RoundTripThroughReadBmp) {
  TempDir dir;
  FloatImage image(7, 5);
  for (int c = 0; c < 3; ++c)
    for (uint32_t y = 0; y < 5; ++y)
      for (uint32_t x = 0; x < 7; ++x) image.rows(c)[y][x] = float((x * 37 + y * 11 + c * 80) % 256);
  ASSERT_EQ(WriteBmp(dir.File("r.bmp"), image), kWriteOk);
  FloatImage back;
  ASSERT_EQ(ReadImageFile(dir.File("r.bmp"), back).code, kReadOk);
  EXPECT_EQ(back.sourceBitDepth, 24u);
  EXPECT_FALSE(back.HasAlpha());
  ASSERT_EQ(back.width, 7u);
  ASSERT_EQ(back.height, 5u);
  for (int c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < image.PixelCount(); ++i) ASSERT_EQ(back.samples(c)[i], image.samples(c)[i]);
}

// Palette of n entries: entry i is (blue, green, red) = (i, 100 + i, 200 + i).
std::vector<uint8_t> Palette(int n) {
  std::vector<uint8_t> p;
  for (int i = 0; i < n; ++i) {
    p.push_back(uint8_t(i));
    p.push_back(uint8_t(100 + i));
    p.push_back(uint8_t(200 + i));
    p.push_back(0);
  }
  return p;
}

void ExpectPaletteColour(const FloatImage& image, uint32_t x, uint32_t y, int index) {
  EXPECT_EQ(At(image, 0, x, y), 200 + index) << x << "," << y;
  EXPECT_EQ(At(image, 1, x, y), 100 + index) << x << "," << y;
  EXPECT_EQ(At(image, 2, x, y), index) << x << "," << y;
}

class ReadBmpTest : public ::testing::Test {
 protected:
  int Read(const BmpLayout& layout) { return ReadStatusOf(MakeBmp(layout)).code; }
  ReadStatus ReadStatusOf(const std::vector<uint8_t>& bytes, DamagePolicy policy = DamagePolicy::kRefuse) {
    WriteBytes(dir.File("t.bmp"), bytes);
    return ReadImageFile(dir.File("t.bmp"), image, policy);
  }
  TempDir dir;
  FloatImage image;
};

TEST_F(ReadBmpTest, OneBit33WideHasStride8) {
  // Bottom row (image row 1): only pixel 32 set; top row: pixels 0 and 9.
  ASSERT_EQ(Read({.width = 33, .height = 2, .bits = 1, .palette = Palette(2),
                  .pixels = {0, 0, 0, 0, 0x80, 0xEE, 0xEE, 0xEE,  //
                             0x80, 0x40, 0, 0, 0, 0xEE, 0xEE, 0xEE}}),
            kReadOk);
  EXPECT_EQ(image.sourceBitDepth, 1u);
  ExpectPaletteColour(image, 32, 1, 1);
  ExpectPaletteColour(image, 31, 1, 0);
  ExpectPaletteColour(image, 0, 0, 1);
  ExpectPaletteColour(image, 9, 0, 1);
  ExpectPaletteColour(image, 8, 0, 0);
  ExpectPaletteColour(image, 32, 0, 0);
}

TEST_F(ReadBmpTest, FourBit9WideHasStride8AndHighNibbleFirst) {
  ASSERT_EQ(Read({.width = 9, .height = 2, .bits = 4, .palette = Palette(16),
                  .pixels = {0x12, 0x34, 0x56, 0x78, 0x9F, 0xEE, 0xEE, 0xEE,  //
                             0xAB, 0xCD, 0xEF, 0x01, 0x20, 0xEE, 0xEE, 0xEE}}),
            kReadOk);
  const int bottom[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const int top[9] = {10, 11, 12, 13, 14, 15, 0, 1, 2};
  for (uint32_t x = 0; x < 9; ++x) {
    ExpectPaletteColour(image, x, 1, bottom[x]);
    ExpectPaletteColour(image, x, 0, top[x]);
  }
}

TEST_F(ReadBmpTest, TwentyFourBit5WideHasStride16) {
  BmpLayout s{.width = 5, .height = 2};
  for (int r = 0; r < 2; ++r) {
    for (int x = 0; x < 5; ++x) {
      s.pixels.push_back(uint8_t(10 * x + r));      // blue
      s.pixels.push_back(uint8_t(100 + x));         // green
      s.pixels.push_back(uint8_t(200 + x + 10 * r)); // red
    }
    s.pixels.push_back(0xEE);
  }
  ASSERT_EQ(Read(s), kReadOk);
  for (uint32_t x = 0; x < 5; ++x) {
    EXPECT_EQ(At(image, 2, x, 1), 10 * x);  // file row 0 is the bottom row
    EXPECT_EQ(At(image, 0, x, 0), 210 + x);
    EXPECT_EQ(At(image, 1, x, 0), 100 + x);
  }
}

TEST_F(ReadBmpTest, ThirtyTwoBitFourthByteNeverReachesTheImage) {
  ASSERT_EQ(Read({.width = 2, .height = 1, .bits = 32, .pixels = {1, 2, 3, 255, 4, 5, 6, 128}}), kReadOk);
  EXPECT_FALSE(image.HasAlpha());
  EXPECT_EQ(At(image, 0, 1, 0), 6);
  EXPECT_EQ(At(image, 1, 1, 0), 5);
  EXPECT_EQ(At(image, 2, 1, 0), 4);
}

TEST_F(ReadBmpTest, NegativeHeightIsReadTopDown) {
  ASSERT_EQ(Read({.width = 1, .height = -3, .bits = 8, .palette = Palette(256),
                  .pixels = {7, 0, 0, 0, 8, 0, 0, 0, 9, 0, 0, 0}}),
            kReadOk);
  ASSERT_EQ(image.height, 3u);
  ExpectPaletteColour(image, 0, 0, 7);
  ExpectPaletteColour(image, 0, 2, 9);
}

TEST_F(ReadBmpTest, PaletteFollowsALargerHeader) {
  // A 108-byte (V4) header: a reader with a fixed palette offset of 54 would
  // take header bytes as colours.
  ASSERT_EQ(Read({.headerSize = 108, .width = 4, .height = 1, .bits = 8, .coloursUsed = 4, .palette = Palette(4),
                  .pixels = {3, 2, 1, 0}}),
            kReadOk);
  for (uint32_t x = 0; x < 4; ++x) ExpectPaletteColour(image, x, 0, 3 - int(x));
}

TEST_F(ReadBmpTest, IndicesBeyondAShortPaletteAreBlack) {
  // Two declared colours; index 5 reads as black, not as the pixel bytes
  // after the palette.
  ASSERT_EQ(Read({.width = 3, .height = 1, .bits = 8, .coloursUsed = 2, .palette = Palette(2), .pixels = {1, 5, 0, 0}}),
            kReadOk);
  ExpectPaletteColour(image, 0, 0, 1);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(At(image, c, 1, 0), 0);
}

// Files that end before their pixel data does: refused with what is missing,
// or kept with the missing rows black when one row is there.
TEST_F(ReadBmpTest, TruncatedFilesSayWhatIsMissing) {
  std::vector<uint8_t> headersOnly = MakeBmp({}), farOffset = MakeBmp({.pixels = {1, 2, 3, 0}, .dataOffset = 5000});
  headersOnly.resize(30);
  farOffset.resize(100);
  const struct {
    std::vector<uint8_t> bytes;
    const char* message;
    int keptRow;  // the image row read when kept, -1: refused either way
  } cases[] = {
      {MakeBmp({.width = 1, .height = 3, .pixels = {10, 20, 30, 0, 1}}),
       "BMP truncated after row 1 of 3 (the top 2 rows are missing): its pixel data needs 12 bytes from offset 54, "
       "the file holds 5 of them",
       2},
      {MakeBmp({.width = 1, .height = -2, .pixels = {10, 20, 30, 0}}), "after row 1 of 2 (the bottom 1 row is missing)",
       0},
      {MakeBmp({.width = 8000, .height = 8000, .pixels = std::vector<uint8_t>(1000)}),
       "after row 0 of 8000 (all rows are missing): its pixel data needs 192000000 bytes from offset 54, the file "
       "holds 1000 of them",
       -1},
      {farOffset, "BMP pixel data offset 5000 lies past the end of the file (100 bytes)", -1},
      {MakeBmp({.dataOffset = 58}), "offset 58 lies past the end of the file (58 bytes)", -1},
      {headersOnly, "BMP truncated in its headers: they need 54 bytes, the file has 30", -1},
  };
  for (const auto& c : cases) {
    ReadStatus status = ReadStatusOf(c.bytes);
    EXPECT_EQ(status.code, kReadFailed) << c.message;
    EXPECT_TRUE(status.damaged);
    EXPECT_NE(status.message.find(c.message), std::string::npos) << status.message;
    status = ReadStatusOf(c.bytes, DamagePolicy::kKeepReadable);
    EXPECT_EQ(status.code, c.keptRow < 0 ? kReadFailed : kReadOk) << c.message;
    if (c.keptRow < 0) continue;
    EXPECT_TRUE(status.damaged);
    for (uint32_t y = 0; y < image.height; ++y)
      EXPECT_EQ(At(image, 0, 0, y), int(y) == c.keptRow ? 30 : 0) << c.message << " row " << y;
  }
}

TEST_F(ReadBmpTest, UnsupportedKindsAreRefusedWith2) {
  const struct {
    const char* says;
    uint32_t headerSize;
    int32_t width, height;
    uint16_t bits;
    uint32_t compression;
  } cases[] = {{"16 bits per pixel", 40, 1, 1, 16, 0},         {"compression 1 is not", 40, 1, 1, 24, 1},
               {"compression 3 is not", 40, 1, 1, 24, 3},      {"0 x 1 pixels: the width", 40, 0, 1, 24, 0},
               {"1 x 0 pixels", 40, 1, 0, 24, 0},              {"-1 x 1 pixels", 40, -1, 1, 24, 0},
               {"12-byte information header", 12, 1, 1, 24, 0}, {"64-byte information header", 64, 1, 1, 24, 0}};
  for (const auto& c : cases) {
    const ReadStatus status = ReadStatusOf(MakeBmp({.headerSize = c.headerSize,
                                                    .width = c.width,
                                                    .height = c.height,
                                                    .bits = c.bits,
                                                    .compression = c.compression,
                                                    .pixels = {1, 2, 3, 0}}));
    EXPECT_EQ(status.code, kReadFailed) << c.says;
    EXPECT_NE(status.message.find(c.says), std::string::npos) << status.message;
  }
}

TEST_F(ReadBmpTest, DimensionsBeyondTheLimitsAreRefusedBeforeAllocating) {
  BmpLayout s;
  s.pixels = {0, 0, 0, 0};
  s.width = int32_t(kMaxImageSide) + 1;
  EXPECT_EQ(Read(s), kReadFailed);
  s.width = 1;
  s.height = -int32_t(kMaxImageSide) - 1;
  EXPECT_EQ(Read(s), kReadFailed);
  s.height = INT32_MIN;  // its magnitude does not fit in 32 signed bits
  EXPECT_EQ(Read(s), kReadFailed);
  s.width = INT32_MAX;  // stride x height would overflow 32 bits
  s.height = INT32_MAX;
  s.bits = 32;
  EXPECT_EQ(Read(s), kReadFailed);
  s.width = 40000;  // each side allowed, the pixel count not
  s.height = 40000;
  EXPECT_EQ(Read(s), kReadFailed);
}

}  // namespace
