// FloatImage's row tables through copies, moves and allocation; float-to-byte
// conversion: rounding, clamping, NaN, and the block conversions on every
// instruction set against the one-sample definition.
#include "image/float_image.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "image/byte_conversion.h"
#include "support/simd_targets.h"

using namespace kestrune;

namespace {

// Copies are deep and keep their row tables, also onto themselves; moves
// keep them; a new shape allocates anew (the public Image's copies and moves
// are this one's, exercised by every library test).
TEST(FloatImage, CopiesMovesAndAllocationsKeepTheirRowTables) {
  FloatImage image;
  image.Allocate(3, 2, true, /*clear*/ true);
  image.rows(3)[1][2] = 5;
  FloatImage copy(9, 9);
  copy = image;
  copy = copy;
  EXPECT_NE(copy.samples(3), image.samples(3));
  EXPECT_EQ(copy.rows(3)[1], copy.samples(3) + 3);
  EXPECT_EQ(copy.rows(3)[1][2], 5);
  const FloatImage moved = std::move(copy);
  EXPECT_TRUE(copy.IsEmpty());
  EXPECT_EQ(moved.rows(3)[1][2], 5);
  image.Allocate(4, 3);  // another shape: new planes, alpha gone
  EXPECT_TRUE(image.rows(0)[2] == image.samples(0) + 8 && image.rows(3) == nullptr);
  image.Allocate(0, 7);  // empty, with its size stored
  EXPECT_TRUE(image.IsEmpty() && image.height == 7);
}

TEST(ByteConversion, RoundsTiesToEvenThenClampsNaNIsZero) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN(), kInf = std::numeric_limits<float>::infinity();
  const std::pair<float, int> cases[] = {// 3e9: beyond the 32-bit integer range
                                         {-3.2f, 0},    {0.5f, 0},  {1.5f, 2},     {2.5f, 2},        {254.5f, 254},
                                         {300.0f, 255}, {-0.5f, 0}, {255.5f, 255}, {0.49999997f, 0}, {127.50001f, 128},
                                         {kNaN, 0},     {-kNaN, 0}, {kInf, 255},   {-kInf, 0},       {1e30f, 255},
                                         {-1e30f, 0},   {3e9f, 255}};
  for (const auto& [in, out] : cases) EXPECT_EQ(FloatToByte(in), out) << in;
}

// Every half-integer and its neighbours from -2 to 258, plus the specials,
// in a length that leaves a tail after the vector blocks.
std::vector<float> Samples() {
  std::vector<float> v;
  for (int i = -4; i <= 516; ++i) {
    const float h = i * 0.5f;
    v.push_back(h);
    v.push_back(std::nextafter(h, -1e9f));
    v.push_back(std::nextafter(h, 1e9f));
  }
  for (float s : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                  -std::numeric_limits<float>::infinity(), 1e30f, -1e30f, 3e9f, -3e9f})
    v.push_back(s);
  return v;
}

TEST(ByteConversion, BlockConversionsMatchTheDefinitionAtEveryLength) {
  const std::vector<float> in = Samples();
  const std::size_t third = in.size() / 3;
  const float *r = in.data(), *g = r + third, *b = g + third;
  ForEachSimdTarget([&](const std::string&) {
    for (std::size_t n : {std::size_t{0}, 1ul, 15ul, 16ul, 17ul, in.size()}) {
      std::vector<uint8_t> out(n + 1, 0xAB);
      FloatsToBytes(in.data(), out.data(), n);
      for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], FloatToByte(in[i])) << "sample " << in[i];
      EXPECT_EQ(out[n], 0xAB) << "wrote past the end";
    }
    // Interleaved blue, green, red.
    for (std::size_t n : {std::size_t{1}, 4ul, 5ul, 8ul, 9ul, 16ul, 17ul, third}) {
      std::vector<uint8_t> out(3 * n + 1, 0xCD);
      PlanesToBgr(r, g, b, out.data(), n);
      for (std::size_t i = 0; i < 3 * n; ++i)
        ASSERT_EQ(out[i], FloatToByte((i % 3 == 0 ? b : i % 3 == 1 ? g : r)[i / 3])) << "byte " << i;
      EXPECT_EQ(out[3 * n], 0xCD) << "wrote past the end";
    }
  });
}

}  // namespace
