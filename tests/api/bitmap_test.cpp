// Bytes for screens and clipboards: the byte conversion of whole images in
// both pixel orders and row directions, for any thread count, and the packed
// bitmaps' round trip.
#include <kestrune/kestrune.h>

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "support/thread_count.h"

using namespace kestrune;

namespace {

TEST(ExportBytes, BothOrdersAndRowDirectionsHoldTheRoundedBytes) {
  // A 301 x 203 chart (odd width) with samples to round, clamp and zero in
  // its first red row (the rule itself is the image layer's test's);
  // top-down RGB and bottom-up BGR hold the same pixels, for any threads.
  Image image = MakeTestChart(301, 203);
  const float samples[] = {-7.0f, 300.0f, 2.5f, 3.5f, std::nanf(""), 254.5f, 0.49f};
  std::copy(std::begin(samples), std::end(samples), image.Plane(kRed));
  EXPECT_EQ(SampleToByte(3.5f), 4);
  const std::size_t stride = 3 * 301 + 1;
  ExpectSameForAnyThreadCount([&] {
    std::vector<uint8_t> rgb(stride * 203, 7), bgr(stride * 203, 7);
    ExportBytes(image.View(), PixelOrder::kRgb, rgb.data(), std::ptrdiff_t(stride));
    ExportBytes(image.View(), PixelOrder::kBgr, bgr.data() + stride * 202, -std::ptrdiff_t(stride));
    for (uint32_t y = 0; y < 203; ++y)
      for (uint32_t x = 0; x < 301; ++x)
        for (int c = 0; c < 3; ++c) {
          const uint8_t expect = SampleToByte(image.Row(c, y)[x]);
          EXPECT_EQ(rgb[y * stride + 3 * x + c], expect);
          EXPECT_EQ(bgr[(202 - y) * stride + 3 * x + 2 - c], expect);
        }
    EXPECT_EQ(rgb[stride - 1], 7) << "the row padding is left alone";
    std::vector<float> all(rgb.begin(), rgb.end());
    all.insert(all.end(), bgr.begin(), bgr.end());
    return all;
  });
}

TEST(PackedBitmap, EncodeGivesA24BitBitmapThatDecodesToItsBytes) {
  Image image(3, 2, true);
  for (int c = 0; c < 4; ++c)
    for (std::size_t i = 0; i < 6; ++i) image.Plane(c)[i] = float(c * 60 + i * 10);
  image.Plane(kRed)[0] = 254.5f;  // to 254
  const std::vector<uint8_t> dib = EncodePackedBitmap(image);
  ASSERT_EQ(dib.size(), 40u + 12u * 2u);  // rows of 9 bytes padded to 12
  EXPECT_EQ((std::vector<int>{dib[0], dib[4], dib[8], dib[14]}), (std::vector<int>{40, 3, 2, 24}));  // size, w, h, bits
  EXPECT_EQ(dib[40 + 12 + 2], 254) << "bottom-up: the top row comes second, blue first";
  const Result<Image> back = DecodePackedBitmap(dib.data(), dib.size());
  ASSERT_TRUE(back.ok());
  EXPECT_FALSE(back->HasAlpha());
  EXPECT_EQ(back->Plane(kRed)[0], 254.0f);
  for (int c = 0; c < 3; ++c)
    for (std::size_t i = 1; i < 6; ++i) EXPECT_EQ(back->Plane(c)[i], image.Plane(c)[i]);
  EXPECT_TRUE(EncodePackedBitmap(Image()).empty());
  EXPECT_EQ(DecodePackedBitmap(dib.data(), 30).error().code, ErrorCode::kUnreadable);
  EXPECT_EQ(DecodePackedBitmap(nullptr, 0).error().code, ErrorCode::kUnreadable);
}

}  // namespace
