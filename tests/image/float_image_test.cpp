// FloatImage: allocation, sample preservation, alpha presence and copying.
#include "image/float_image.h"

#include <cmath>

#include <gtest/gtest.h>

using namespace kestrune;

namespace {

void Fill(FloatImage& image, float base) {
  for (int c = 0; c < (image.HasAlpha() ? 4 : 3); ++c)
    for (std::size_t i = 0; i < image.PixelCount(); ++i) image.samples(c)[i] = base + c * 1000 + i;
}

TEST(FloatImage, DefaultIsEmpty) {
  FloatImage image;
  EXPECT_TRUE(image.IsEmpty());
  EXPECT_FALSE(image.HasAlpha());
  EXPECT_EQ(image.rows(0), nullptr);
  EXPECT_EQ(image.samples(3), nullptr);
  EXPECT_EQ(image.width, 0u);
  image.Release();  // releasing an empty image does nothing
  EXPECT_TRUE(image.IsEmpty());
}

TEST(FloatImage, RowTablesAddressTheSamePlane) {
  FloatImage image(5, 3);
  for (int c = 0; c < 3; ++c)
    for (uint32_t y = 0; y < 3; ++y) EXPECT_EQ(image.rows(c)[y], image.samples(c) + y * 5);
  EXPECT_EQ(image.rows(FloatImage::kAlpha), nullptr);
}

TEST(FloatImage, SameSizeAllocateKeepsSamplesEvenWhenClearing) {
  FloatImage image(4, 4);
  Fill(image, 7);
  image.Allocate(4, 4, false, true);
  EXPECT_EQ(image.samples(1)[5], 7 + 1000 + 5);
}

TEST(FloatImage, ChangingAlphaReallocatesAndClearGivesZeros) {
  FloatImage image(4, 4);
  Fill(image, 7);
  image.Allocate(4, 4, true, true);
  ASSERT_TRUE(image.HasAlpha());
  for (int c = 0; c < 4; ++c)
    for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(image.samples(c)[i], 0.0f);
}

TEST(FloatImage, ZeroSideLeavesImageEmptyWithSizeStored) {
  FloatImage image(3, 3);
  image.Allocate(0, 7);
  EXPECT_TRUE(image.IsEmpty());
  EXPECT_EQ(image.width, 0u);
  EXPECT_EQ(image.height, 7u);
}

TEST(FloatImage, AssignmentCopiesPlanesAlphaAndBitDepth) {
  FloatImage src;
  src.Allocate(3, 2, true);
  Fill(src, 1);
  src.sourceBitDepth = 8;
  FloatImage dst(9, 9);
  dst = src;
  ASSERT_TRUE(dst.HasAlpha());
  EXPECT_EQ(dst.width, 3u);
  EXPECT_EQ(dst.sourceBitDepth, 8u);
  for (int c = 0; c < 4; ++c)
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(dst.samples(c)[i], src.samples(c)[i]);
  EXPECT_NE(dst.samples(0), src.samples(0));  // independent copy

  FloatImage noAlpha(3, 2);
  dst = noAlpha;
  EXPECT_FALSE(dst.HasAlpha());

  dst = dst;  // self-assignment leaves it unchanged
  EXPECT_EQ(dst.width, 3u);

  FloatImage empty;
  dst = empty;
  EXPECT_TRUE(dst.IsEmpty());
}

TEST(FloatImage, BitDepthSurvivesReleaseAndAllocate) {
  FloatImage image(2, 2);
  image.sourceBitDepth = 24;
  image.Release();
  image.Allocate(5, 5);
  EXPECT_EQ(image.sourceBitDepth, 24u);
}

TEST(FloatImage, MoveKeepsRowTablesValid) {
  FloatImage a(4, 3);
  Fill(a, 0);
  FloatImage b = std::move(a);
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_EQ(b.rows(2)[2][3], 2000 + 11);
}

TEST(FloatImage, SizeLimits) {
  EXPECT_TRUE(ImageSizeAllowed(1, 1));
  EXPECT_TRUE(ImageSizeAllowed(100000, 2000));
  EXPECT_FALSE(ImageSizeAllowed(100001, 1));
  EXPECT_FALSE(ImageSizeAllowed(0, 5));
  EXPECT_FALSE(ImageSizeAllowed(100000, 100000));  // too many pixels
}

}  // namespace
