// Float-to-byte conversion: rounding, clamping and NaN, and the block
// conversions on every instruction set against the one-sample definition.
#include "image/byte_conversion.h"

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/simd_targets.h"

using namespace kestrune;

namespace {

TEST(ByteConversion, RoundsTiesToEvenThenClampsNaNIsZero) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN(), kInf = std::numeric_limits<float>::infinity();
  const std::pair<float, int> cases[] = {
      {-3.2f, 0},  {0.5f, 0},      {1.5f, 2},      {2.5f, 2},         {254.5f, 254}, {300.0f, 255},
      {-0.5f, 0},  {255.5f, 255},  {0.49999997f, 0}, {127.50001f, 128}, {kNaN, 0},     {-kNaN, 0},
      {kInf, 255}, {-kInf, 0},     {1e30f, 255},   {-1e30f, 0},
      {3e9f, 255},  // beyond the 32-bit integer range
  };
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
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{15}, std::size_t{16}, std::size_t{17},
                          in.size()}) {
      std::vector<uint8_t> out(n + 1, 0xAB);
      FloatsToBytes(in.data(), out.data(), n);
      for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], FloatToByte(in[i])) << "sample " << in[i];
      EXPECT_EQ(out[n], 0xAB) << "wrote past the end";
    }
    // Interleaved blue, green, red.
    for (std::size_t n : {std::size_t{1}, std::size_t{4}, std::size_t{5}, std::size_t{8}, std::size_t{9},
                          std::size_t{16}, std::size_t{17}, third}) {
      std::vector<uint8_t> out(3 * n + 1, 0xCD);
      PlanesToBgr(r, g, b, out.data(), n);
      for (std::size_t i = 0; i < 3 * n; ++i)
        ASSERT_EQ(out[i], FloatToByte((i % 3 == 0 ? b : i % 3 == 1 ? g : r)[i / 3])) << "byte " << i;
      EXPECT_EQ(out[3 * n], 0xCD) << "wrote past the end";
    }
  });
}

}  // namespace
