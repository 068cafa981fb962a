// The clipboard bitmaps: the accepted and refused kinds, malformed data and
// the round trip.
#include <gtest/gtest.h>

#include "image/clipboard_dib.h"
#include "image/image_test_util.h"

using namespace kestrune;

namespace {

// A packed bitmap: a BMP file without its 14-byte file header, with a
// 40-byte header (or `headerSize`), `extra` bytes, then the pixels.
std::vector<uint8_t> PackedDib(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                               const std::vector<uint8_t>& pixels, std::vector<uint8_t> extra = {},
                               uint32_t coloursUsed = 0, uint32_t headerSize = 40) {
  const std::vector<uint8_t> file = MakeBmp({headerSize, width, height, bits, compression, coloursUsed, extra, pixels});
  return std::vector<uint8_t>(file.begin() + 14, file.end());
}

PasteResult Decode(const std::vector<uint8_t>& d, FloatImage& image) {
  return DecodePackedDib(d.data(), d.size(), image);
}

TEST(ClipboardDib, TwentyFourBitBottomUpWithPaddedRows) {
  // 2 x 2: stride 8. Stored row 0 is the bottom image row.
  const auto d = PackedDib(2, 2, 24, 0, {1, 2, 3, 4, 5, 6, 0, 0,  //
                                         7, 8, 9, 10, 11, 12, 0, 0});
  FloatImage image;
  ASSERT_EQ(Decode(d, image), PasteResult::kPasted);
  EXPECT_FALSE(image.HasAlpha());
  EXPECT_EQ(At(image, 2, 0, 1), 1);  // blue
  EXPECT_EQ(At(image, 1, 0, 1), 2);
  EXPECT_EQ(At(image, 0, 0, 1), 3);
  EXPECT_EQ(At(image, 0, 1, 0), 12);
  EXPECT_EQ(At(image, 2, 0, 0), 7);
}

TEST(ClipboardDib, ThirtyTwoBitDropsTheFourthByteAndSkipsMasks) {
  const std::vector<uint8_t> masks = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};
  const auto d = PackedDib(2, 1, 32, 3, {1, 2, 3, 200, 4, 5, 6, 201}, masks);
  FloatImage image;
  image.Allocate(9, 9, true, true);
  ASSERT_EQ(Decode(d, image), PasteResult::kPasted);
  EXPECT_FALSE(image.HasAlpha());
  EXPECT_EQ(image.width, 2u);
  EXPECT_EQ(At(image, 0, 1, 0), 6);
  EXPECT_EQ(At(image, 2, 1, 0), 4);
  // A larger header holds the masks itself; a colour table is skipped.
  const auto v5 = PackedDib(1, 1, 32, 3, {1, 2, 3, 0}, {}, 0, 124);
  ASSERT_EQ(Decode(v5, image), PasteResult::kPasted);
  EXPECT_EQ(At(image, 0, 0, 0), 3);
  const auto table = PackedDib(1, 1, 24, 0, {1, 2, 3, 0}, {9, 9, 9, 0, 8, 8, 8, 0}, 2);
  ASSERT_EQ(Decode(table, image), PasteResult::kPasted);
  EXPECT_EQ(At(image, 0, 0, 0), 3);
}

TEST(ClipboardDib, TopDownRowsAreReadTopDown) {
  const auto d = PackedDib(1, -2, 24, 0, {1, 1, 1, 0, 2, 2, 2, 0});
  FloatImage image;
  ASSERT_EQ(Decode(d, image), PasteResult::kPasted);
  EXPECT_EQ(At(image, 0, 0, 0), 1);
  EXPECT_EQ(At(image, 0, 0, 1), 2);
}

TEST(ClipboardDib, UnsupportedKindsAndMalformedDataLeaveTheImage) {
  FloatImage image(3, 3);
  image.Clear();
  image.rows(0)[1][1] = 5;
  const std::vector<uint8_t> px(64, 0);
  EXPECT_EQ(Decode(PackedDib(2, 2, 16, 0, px), image), PasteResult::kUnsupported);
  EXPECT_EQ(Decode(PackedDib(2, 2, 8, 0, px), image), PasteResult::kUnsupported);
  EXPECT_EQ(Decode(PackedDib(2, 2, 24, 1, px), image), PasteResult::kUnsupported);
  EXPECT_EQ(Decode(PackedDib(0, 2, 24, 0, px), image), PasteResult::kUnsupported);
  EXPECT_EQ(Decode(PackedDib(2, 0, 24, 0, px), image), PasteResult::kUnsupported);
  EXPECT_EQ(Decode(PackedDib(200000, 1, 24, 0, px), image), PasteResult::kUnsupported);
  EXPECT_EQ(Decode(PackedDib(2, 2, 24, 0, px, {}, 0, 12), image), PasteResult::kUnsupported);
  EXPECT_EQ(Decode(PackedDib(4, 4, 32, 0, std::vector<uint8_t>(63, 0)), image), PasteResult::kUnsupported)
      << "pixels cut short";
  EXPECT_EQ(Decode(PackedDib(1, 1, 24, 0, {1, 2, 3}, {}, 0x40000000u), image), PasteResult::kUnsupported)
      << "colour table beyond the data";
  std::vector<uint8_t> header = PackedDib(2, 2, 24, 0, {});
  header.resize(30);
  EXPECT_EQ(Decode(header, image), PasteResult::kUnsupported);
  EXPECT_EQ(DecodePackedDib(nullptr, 0, image), PasteResult::kNoBitmap);
  EXPECT_EQ(image.width, 3u);
  EXPECT_EQ(At(image, 0, 1, 1), 5);
}

TEST(ClipboardDib, EncodeGivesA24BitBitmapThatDecodesBack) {
  FloatImage image(3, 2);
  for (int c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < 6; ++i) image.samples(c)[i] = float(c * 60 + i * 10);
  image.samples(0)[0] = 254.5f;  // converted to 254
  const auto d = EncodePackedDib(image);
  ASSERT_EQ(d.size(), 40u + 12u * 2u);
  EXPECT_EQ(d[0], 40);
  EXPECT_EQ(d[4], 3);
  EXPECT_EQ(d[8], 2);
  EXPECT_EQ(d[14], 24);
  FloatImage back;
  ASSERT_EQ(Decode(d, back), PasteResult::kPasted);
  EXPECT_EQ(back.samples(0)[0], 254.0f);
  for (int c = 0; c < 3; ++c)
    for (std::size_t i = 1; i < 6; ++i) EXPECT_EQ(back.samples(c)[i], image.samples(c)[i]);
  EXPECT_TRUE(EncodePackedDib(FloatImage()).empty());
}

}  // namespace
