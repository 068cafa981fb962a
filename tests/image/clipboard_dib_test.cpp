// The clipboard bitmaps: the accepted and refused kinds and malformed data.
// The encoder's round trip is checked through the library (tests/api).
#include <array>
#include <utility>

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

TEST(ClipboardDib, AcceptedKindsReplaceTheImage) {
  const std::vector<uint8_t> masks = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};
  const struct {
    const char* what;
    std::vector<uint8_t> dib;
    uint32_t width, height;
    std::vector<std::array<int, 4>> samples;  // plane, x, y, value
  } cases[] = {
      // Stride 8; stored row 0 is the bottom image row, blue first.
      {"24 bits", PackedDib(2, 2, 24, 0, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}), 2, 2,
       {{2, 0, 1, 1}, {1, 0, 1, 2}, {0, 0, 1, 3}, {0, 1, 0, 12}, {2, 0, 0, 7}}},
      {"top down", PackedDib(1, -2, 24, 0, {1, 1, 1, 0, 2, 2, 2, 0}), 1, 2, {{0, 0, 0, 1}, {0, 0, 1, 2}}},
      // The fourth byte is dropped; the masks after a 40-byte header are
      // skipped, a larger header holds them itself.
      {"32 bits", PackedDib(2, 1, 32, 3, {1, 2, 3, 200, 4, 5, 6, 201}, masks), 2, 1, {{0, 1, 0, 6}, {2, 1, 0, 4}}},
      {"124-byte header", PackedDib(1, 1, 32, 3, {1, 2, 3, 0}, {}, 0, 124), 1, 1, {{0, 0, 0, 3}}},
      {"colour table skipped", PackedDib(1, 1, 24, 0, {1, 2, 3, 0}, {9, 9, 9, 0, 8, 8, 8, 0}, 2), 1, 1,
       {{0, 0, 0, 3}}},
  };
  for (const auto& c : cases) {
    FloatImage image;
    image.Allocate(9, 9, true, true);
    ASSERT_EQ(Decode(c.dib, image), PasteResult::kPasted) << c.what;
    EXPECT_FALSE(image.HasAlpha()) << c.what;
    EXPECT_EQ(image.width, c.width) << c.what;
    EXPECT_EQ(image.height, c.height) << c.what;
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
  for (const auto& [what, dib] : cases) EXPECT_EQ(Decode(dib, image), PasteResult::kUnsupported) << what;
  EXPECT_EQ(DecodePackedDib(nullptr, 0, image), PasteResult::kNoBitmap);
  EXPECT_EQ(image.width, 3u);
  EXPECT_EQ(At(image, 0, 1, 1), 5);
}

}  // namespace
