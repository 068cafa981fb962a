// FloatImage: the row tables through allocation, copies and moves, what a
// new allocation keeps or clears, and the size limits.
#include "image/float_image.h"

#include <algorithm>

#include <gtest/gtest.h>

using namespace kestrune;

namespace {

// Sample i of plane c is base + 1000 c + i.
void Fill(FloatImage& image, float base) {
  for (int c = 0; c < (image.HasAlpha() ? 4 : 3); ++c)
    for (std::size_t i = 0; i < image.PixelCount(); ++i) image.samples(c)[i] = base + c * 1000 + i;
}

// Row y of every present plane starts y rows into its samples; absent
// planes have no rows.
void ExpectRowTables(const FloatImage& image) {
  for (int c = 0; c < 4; ++c) {
    if (image.samples(c) == nullptr) {
      EXPECT_EQ(image.rows(c), nullptr) << c;
      continue;
    }
    for (uint32_t y = 0; y < image.height; ++y) EXPECT_EQ(image.rows(c)[y], image.samples(c) + y * image.width);
  }
}

TEST(FloatImage, AllocateKeepsTheSamplesOnlyForTheSameShape) {
  FloatImage image;
  EXPECT_TRUE(image.IsEmpty());
  ExpectRowTables(image);
  image.Allocate(4, 3);
  Fill(image, 7);
  ExpectRowTables(image);
  EXPECT_EQ(image.samples(FloatImage::kAlpha), nullptr);
  image.Allocate(4, 3, false, /*clear*/ true);  // the same: kept even when clearing
  EXPECT_EQ(image.samples(1)[5], 7 + 1000 + 5);
  image.Allocate(4, 3, true, true);  // alpha added: new planes, cleared
  ASSERT_TRUE(image.HasAlpha());
  for (int c = 0; c < 4; ++c) EXPECT_EQ(std::count(image.samples(c), image.samples(c) + 12, 0.0f), 12) << c;
  ExpectRowTables(image);
  image.Allocate(0, 7);  // empty, with its size stored
  EXPECT_TRUE(image.IsEmpty());
  EXPECT_EQ(image.width, 0u);
  EXPECT_EQ(image.height, 7u);
}

TEST(FloatImage, CopiesAreDeepAndMovesKeepTheRowTables) {
  FloatImage src;
  src.Allocate(3, 2, true);
  Fill(src, 1);
  src.sourceBitDepth = 8;
  FloatImage dst(9, 9);
  dst = src;
  ASSERT_TRUE(dst.HasAlpha());
  EXPECT_EQ(dst.width, 3u);
  EXPECT_EQ(dst.sourceBitDepth, 8u);
  for (int c = 0; c < 4; ++c) EXPECT_TRUE(std::equal(src.samples(c), src.samples(c) + 6, dst.samples(c))) << c;
  EXPECT_NE(dst.samples(0), src.samples(0));
  ExpectRowTables(dst);
  dst = dst;  // self-assignment leaves it unchanged
  EXPECT_EQ(dst.rows(3)[1][2], 1 + 3000 + 5);

  FloatImage moved = std::move(dst);
  EXPECT_TRUE(dst.IsEmpty());
  EXPECT_EQ(moved.rows(3)[1][2], 1 + 3000 + 5);
  ExpectRowTables(moved);
  const FloatImage noAlpha(3, 2), empty;
  moved = noAlpha;
  EXPECT_FALSE(moved.HasAlpha());
  moved = empty;
  EXPECT_TRUE(moved.IsEmpty());
}

TEST(FloatImage, SizeLimits) {
  EXPECT_TRUE(ImageSizeAllowed(1, 1));
  EXPECT_TRUE(ImageSizeAllowed(100000, 2000));
  EXPECT_FALSE(ImageSizeAllowed(100001, 1));
  EXPECT_FALSE(ImageSizeAllowed(0, 5));
  EXPECT_FALSE(ImageSizeAllowed(100000, 100000));  // too many pixels
}

}  // namespace
