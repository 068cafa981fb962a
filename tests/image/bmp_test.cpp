// BMP files and the clipboard's packed bitmaps: the written layout byte by
// byte, 1- and 4-bit strides, short palettes, the kinds accepted, and files
// refused without touching memory outside their buffers.
#include <array>
#include <utility>

#include <gtest/gtest.h>

#include "image/clipboard_dib.h"
#include "image/image_readers.h"
#include "image/image_test_util.h"
#include "image/image_writers.h"
#include "support/test_support.h"

using namespace kestrune;

namespace {

uint32_t Le32(const std::vector<uint8_t>& f, std::size_t at) {
  return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | uint32_t(f[at + 3]) << 24;
}

TEST(WriteBmp, BottomUpRowsAfterTheFixedHeaderWithConvertedSamples) {
  TempDir dir;
  FloatImage image;
  image.Allocate(2, 2, /*withAlpha*/ true, /*clear*/ true);
  const float values[2][2] = {{-3.2f, 0.5f}, {1.5f, 254.5f}};  // [y][x], the same in every plane but two
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 4; ++i) image.samples(c)[i] = values[i / 2][i % 2];
  image.rows(0)[1][1] = 300.0f;               // red
  image.rows(2)[1][0] = 101.5f;               // blue
  image.rows(FloatImage::kAlpha)[0][0] = 99;  // ignored
  ASSERT_FALSE(WriteImageFile(dir.File("b.bmp"), image, {.format = FileFormat::kBmp}));
  const auto f = ReadBytes(dir.File("b.bmp"));
  ASSERT_EQ(f.size(), 70u);
  EXPECT_EQ(f[0] << 8 | f[1], 'B' << 8 | 'M');
  // {offset, value} of the 32-bit fields: file size, reserved, data offset,
  // header size, width, height, planes and bits, compression, image size,
  // 75 pixels per metre both ways, colours used, important colours.
  const uint32_t fields[][2] = {{2, 70}, {6, 0},  {10, 54}, {14, 40}, {18, 2}, {22, 2}, {26, 24u << 16 | 1},
                                {30, 0}, {34, 0}, {38, 75}, {42, 75}, {46, 0}, {50, 0}};
  for (const auto& [at, value] : fields) EXPECT_EQ(Le32(f, at), value) << "offset " << at;
  // File row 0 is image row 1, blue first: (1.5, 101.5 blue) -> 2, 102;
  // (254.5, 300 red) -> 254, 255. Rows are padded to 8 bytes.
  const std::vector<uint8_t> expected = {102, 2, 2, 254, 254, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 54, f.end()), expected);
}

// Palette of n entries: entry i is (blue, green, red) = (i, 100 + i, 200 + i).
std::vector<uint8_t> Palette(int n) {
  std::vector<uint8_t> p;
  for (int i = 0; i < n; ++i) p.insert(p.end(), {uint8_t(i), uint8_t(100 + i), uint8_t(200 + i), 0});
  return p;
}

class ReadBmpTest : public ::testing::Test {
 protected:
  ReadStatus ReadStatusOf(const std::vector<uint8_t>& bytes, DamagePolicy policy = DamagePolicy::kRefuse) {
    WriteBytes(dir.File("t.bmp"), bytes);
    return ReadImageFile(dir.File("t.bmp"), image, policy);
  }
  TempDir dir;
  FloatImage image;
};

// Padded rows of fewer than 8 bits a pixel and short palettes, which no file
// of the BMP suite has.
TEST_F(ReadBmpTest, PaletteFilesHaveTheirStridesAndOrder) {
  const struct {
    const char* what;
    BmpLayout layout;
    std::vector<std::array<int, 3>> pixels;  // x, y, palette index (-1: black)
  } cases[] = {
      // Stride 8. Bottom row (image row 1): only pixel 32 set; top row:
      // pixels 0 and 9.
      {"1 bit, 33 wide",
       {.width = 33,
        .height = 2,
        .bits = 1,
        .palette = Palette(2),
        .pixels = {0, 0, 0, 0, 0x80, 0xEE, 0xEE, 0xEE, 0x80, 0x40, 0, 0, 0, 0xEE, 0xEE, 0xEE}},
       {{32, 1, 1}, {31, 1, 0}, {0, 0, 1}, {9, 0, 1}, {8, 0, 0}, {32, 0, 0}}},
      // Stride 8, the high nibble first.
      {"4 bits, 9 wide",
       {.width = 9,
        .height = 2,
        .bits = 4,
        .palette = Palette(16),
        .pixels = {0x12, 0x34, 0x56, 0x78, 0x9F, 0xEE, 0xEE, 0xEE, 0xAB, 0xCD, 0xEF, 0x01, 0x20, 0xEE, 0xEE, 0xEE}},
       {{0, 1, 1}, {1, 1, 2}, {7, 1, 8}, {8, 1, 9}, {0, 0, 10}, {5, 0, 15}, {6, 0, 0}, {8, 0, 2}}},
      // Index 5 reads as black, not as the pixel bytes after the palette.
      {"two declared colours",
       {.width = 3, .height = 1, .bits = 8, .coloursUsed = 2, .palette = Palette(2), .pixels = {1, 5, 0, 0}},
       {{0, 0, 1}, {1, 0, -1}}},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(ReadStatusOf(MakeBmp(c.layout)).code, ErrorCode::kNone) << c.what;
    EXPECT_EQ(image.sourceBitDepth, c.layout.bits) << c.what;
    ASSERT_EQ(image.height, uint32_t(c.layout.height)) << c.what;
    for (const auto& [x, y, index] : c.pixels)  // palette entry i is (200 + i, 100 + i, i)
      for (int p = 0; p < 3; ++p)
        EXPECT_EQ(At(image, p, x, y), index < 0 ? 0 : (2 - p) * 100 + index) << c.what << ": " << x << "," << y;
  }
}

// Files ending before their pixel data: refused with what is missing, or kept
// with the missing rows black when a row is there.
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
      {MakeBmp({.width = 1, .height = -2, .pixels = {10, 20, 30, 0}}), "after row 1 of 2 (the bottom 1 row is", 0},
      {MakeBmp({.width = 8000, .height = 8000, .pixels = std::vector<uint8_t>(1000)}),
       "after row 0 of 8000 (all rows are missing): its pixel data needs 192000000 bytes", -1},
      {farOffset, "BMP pixel data offset 5000 lies past the end of the file (100 bytes)", -1},
      {MakeBmp({.dataOffset = 58}), "offset 58 lies past the end of the file (58 bytes)", -1},
      {headersOnly, "BMP truncated in its headers: they need 54 bytes, the file has 30", -1},
  };
  for (const auto& c : cases) {
    ReadStatus status = ReadStatusOf(c.bytes);
    EXPECT_EQ(status.code, ErrorCode::kUnreadable) << c.message;
    EXPECT_TRUE(status.damaged);
    EXPECT_NE(status.message.find(c.message), std::string::npos) << status.message;
    status = ReadStatusOf(c.bytes, DamagePolicy::kKeepReadable);
    EXPECT_EQ(status.code, c.keptRow < 0 ? ErrorCode::kUnreadable : ErrorCode::kNone) << c.message;
    if (c.keptRow < 0) continue;
    EXPECT_TRUE(status.damaged);
    for (uint32_t y = 0; y < image.height; ++y)
      EXPECT_EQ(At(image, 0, 0, y), int(y) == c.keptRow ? 30 : 0) << c.message << " row " << y;
  }
}

// Kinds this reader does not take, and sizes beyond the limits, refused before
// allocating.
TEST_F(ReadBmpTest, UnsupportedKindsAndSizesAreRefusedWithTheirReason) {
  const int32_t side = int32_t(kMaxImageSide);
  const struct {
    const char* says;
    uint32_t headerSize;
    int32_t width, height;
    uint16_t bits;
    uint32_t compression;
  } cases[] = {{"16 bits per pixel", 40, 1, 1, 16, 0},
               {"compression 1 is not", 40, 1, 1, 24, 1},
               {"compression 3 is not", 40, 1, 1, 24, 3},
               {"0 x 1 pixels: the width", 40, 0, 1, 24, 0},
               {"1 x 0 pixels", 40, 1, 0, 24, 0},
               {"-1 x 1 pixels", 40, -1, 1, 24, 0},
               {"12-byte information header", 12, 1, 1, 24, 0},
               {"64-byte information header", 64, 1, 1, 24, 0},
               {"BMP of 100001 x 1 pixels is outside the limits", 40, side + 1, 1, 24, 0},
               {"BMP of 1 x 100001 pixels is outside", 40, 1, -side - 1, 24, 0},
               // The height's magnitude beyond 32 signed bits, stride x height
               // beyond 32 bits, and each side allowed but not the pixel count.
               {"BMP of 1 x 2147483648 pixels is outside", 40, 1, INT32_MIN, 24, 0},
               {"BMP of 2147483647 x 2147483647 pixels is outside", 40, INT32_MAX, INT32_MAX, 32, 0},
               {"BMP of 40000 x 40000 pixels is outside", 40, 40000, 40000, 24, 0}};
  for (const auto& c : cases) {
    const ReadStatus status = ReadStatusOf(MakeBmp({.headerSize = c.headerSize,
                                                    .width = c.width,
                                                    .height = c.height,
                                                    .bits = c.bits,
                                                    .compression = c.compression,
                                                    .pixels = {1, 2, 3, 0}}));
    EXPECT_EQ(status.code, ErrorCode::kUnreadable) << c.says;
    EXPECT_NE(status.message.find(c.says), std::string::npos) << status.message;
  }
}

// The clipboard's packed bitmaps: a BMP file without its 14-byte file header,
// with a 40-byte header (or `headerSize`), `extra` bytes, then the pixels.
// Their encoder's round trip is checked through the library (tests/api).
std::vector<uint8_t> PackedDib(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                               const std::vector<uint8_t>& pixels, std::vector<uint8_t> extra = {},
                               uint32_t coloursUsed = 0, uint32_t headerSize = 40) {
  const std::vector<uint8_t> file = MakeBmp({headerSize, width, height, bits, compression, coloursUsed, extra, pixels});
  return std::vector<uint8_t>(file.begin() + 14, file.end());
}

TEST(ClipboardDib, AcceptedKindsReplaceTheImage) {
  const std::vector<uint8_t> masks = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};
  const struct {
    const char* what;
    std::vector<uint8_t> dib;
    uint32_t width, height;
    std::vector<std::array<int, 4>> samples;  // plane, x, y, value
  } cases[] = {
      // Stride 8; stored row 0 is the bottom image row, blue first.
      {"24 bits",
       PackedDib(2, 2, 24, 0, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}),
       2,
       2,
       {{2, 0, 1, 1}, {1, 0, 1, 2}, {0, 0, 1, 3}, {0, 1, 0, 12}, {2, 0, 0, 7}}},
      {"top down", PackedDib(1, -2, 24, 0, {1, 1, 1, 0, 2, 2, 2, 0}), 1, 2, {{0, 0, 0, 1}, {0, 0, 1, 2}}},
      // The fourth byte is dropped; the masks after a 40-byte header are
      // skipped, a larger header holds them itself.
      {"32 bits", PackedDib(2, 1, 32, 3, {1, 2, 3, 200, 4, 5, 6, 201}, masks), 2, 1, {{0, 1, 0, 6}, {2, 1, 0, 4}}},
      {"124-byte header", PackedDib(1, 1, 32, 3, {1, 2, 3, 0}, {}, 0, 124), 1, 1, {{0, 0, 0, 3}}},
      {"colour table skipped", PackedDib(1, 1, 24, 0, {1, 2, 3, 0}, {9, 9, 9, 0, 8, 8, 8, 0}, 2), 1, 1, {{0, 0, 0, 3}}},
  };
  for (const auto& c : cases) {
    FloatImage image;
    image.Allocate(9, 9, true, true);
    ASSERT_EQ(DecodePackedDib(c.dib.data(), c.dib.size(), image), PasteResult::kPasted) << c.what;
    EXPECT_TRUE(!image.HasAlpha() && image.width == c.width && image.height == c.height) << c.what;
    for (const auto& [p, x, y, value] : c.samples) EXPECT_EQ(At(image, p, x, y), value) << c.what;
  }
}

TEST(ClipboardDib, UnsupportedKindsAndMalformedDataLeaveTheImage) {
  FloatImage image(3, 3);
  image.Clear();
  image.rows(0)[1][1] = 5;
  const std::vector<uint8_t> px(64, 0);
  std::vector<uint8_t> header = PackedDib(2, 2, 24, 0, {});
  header.resize(30);
  const std::pair<const char*, std::vector<uint8_t>> cases[] = {
      {"16 bits", PackedDib(2, 2, 16, 0, px)},
      {"8 bits", PackedDib(2, 2, 8, 0, px)},
      {"compression 1", PackedDib(2, 2, 24, 1, px)},
      {"no width", PackedDib(0, 2, 24, 0, px)},
      {"no height", PackedDib(2, 0, 24, 0, px)},
      {"too wide", PackedDib(200000, 1, 24, 0, px)},
      {"12-byte header", PackedDib(2, 2, 24, 0, px, {}, 0, 12)},
      {"pixels cut short", PackedDib(4, 4, 32, 0, std::vector<uint8_t>(63, 0))},
      {"colour table beyond the data", PackedDib(1, 1, 24, 0, {1, 2, 3}, {}, 0x40000000u)},
      {"header cut short", header},
  };
  for (const auto& [what, dib] : cases)
    EXPECT_EQ(DecodePackedDib(dib.data(), dib.size(), image), PasteResult::kUnsupported) << what;
  EXPECT_EQ(DecodePackedDib(nullptr, 0, image), PasteResult::kNoBitmap);
  EXPECT_TRUE(image.width == 3 && At(image, 0, 1, 1) == 5);
}

}  // namespace
