// Transparency through Upscale, Resize and Downscale: the colour hidden under
// transparent pixels never shows, alpha stays within 0..255 without ringing,
// an opaque alpha plane changes no colour bit, a flat half-transparent
// picture stays flat, and grey stays grey.
#include <kestrune/kestrune.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

using namespace kestrune;

namespace {

// Every operation on a 40 x 40 source, each changing the size differently.
const std::pair<const char*, std::function<Result<Image>(const Image&)>> kOperations[] = {
    {"upscale default", [](const Image& s) { return Upscale(s, UpscaleOptions{}); }},
    {"upscale quick to 97 x 61",
     [](const Image& s) {
       return Upscale(s, {.initialMethod = InitialMethod::kBilinear,
                          .iterations = 2,
                          .fractalSubstitutions = 0,
                          .edgeDirIterations = -1,
                          .width = 97,
                          .height = 61});
     }},
    {"resize lanczos3 x0.3",
     [](const Image& s) { return Resize(s, {.width = 12, .height = 12, .filter = Filter::kLanczos3}); }},
    {"resize lanczos3 x2.4",
     [](const Image& s) { return Resize(s, {.width = 96, .height = 96, .filter = Filter::kLanczos3}); }},
    {"downscale", [](const Image& s) { return Downscale(s, {.width = 17, .height = 23, .trials = 4}); }},
};

template <class F>
Image Apply(const F& run, const Image& source) {
  Result<Image> result = run(source);
  EXPECT_TRUE(result.ok()) << result.error().message;
  return result.has_value() ? std::move(result).value() : Image();
}

bool PlaneIs(const Image& image, int channel, float value) {
  return std::all_of(image.Plane(channel), image.Plane(channel) + image.PixelCount(),
                     [&](float v) { return v == value; });
}

// An opaque red shape whose edge leans (x < 14 + y / 3) on fully transparent
// pixels whose hidden colour is green.
Image RedShapeOnHiddenGreen() {
  Image image(40, 40, true);
  for (uint32_t y = 0; y < 40; ++y)
    for (uint32_t x = 0; x < 40; ++x) {
      const bool inside = 3 * x < 42 + y;
      image.Row(kRed, y)[x] = inside ? 255.0f : 0.0f;
      image.Row(kGreen, y)[x] = inside ? 0.0f : 255.0f;
      image.Row(kAlpha, y)[x] = inside ? 255.0f : 0.0f;
    }
  return image;
}

TEST(Alpha, HiddenColourNeverShowsAndAlphaDoesNotRing) {
  const Image source = RedShapeOnHiddenGreen();
  Image hidden(40, 40, true);  // nothing visible
  std::fill_n(hidden.Plane(kGreen), hidden.PixelCount(), 255.0f);
  for (const auto& [name, run] : kOperations) {
    SCOPED_TRACE(name);
    const Image result = Apply(run, source), none = Apply(run, hidden);
    ASSERT_TRUE(result.HasAlpha() && none.HasAlpha());
    for (int c = 0; c < 4; ++c) EXPECT_TRUE(PlaneIs(none, c, 0.0f)) << "plane " << c;
    float greenMax = 0.0f, redMin = 255.0f;
    for (uint32_t y = 0; y < result.Height(); ++y) {
      const float* alpha = result.Row(kAlpha, y);
      for (uint32_t x = 0; x < result.Width(); ++x) {
        // Within 0..255, and across the edge alpha only falls: no ripple inside or halo outside.
        ASSERT_TRUE(alpha[x] >= 0.0f && alpha[x] <= (x > 0 ? alpha[x - 1] + 1e-3f : 255.0f)) << x << "," << y;
        if (alpha[x] == 0.0f) {  // transparent pixels are black
          for (int c = 0; c < 3; ++c) ASSERT_EQ(result.Row(c, y)[x], 0.0f) << x << "," << y;
        } else if (alpha[x] > 4.0f) {
          greenMax = std::max(greenMax, result.Row(kGreen, y)[x]);
          redMin = std::min(redMin, result.Row(kRed, y)[x]);
        }
      }
    }
    // Visible pixels are red, neither green (the hidden colour) nor darkened
    // (a sharpened colour edge inside the softer alpha edge).
    EXPECT_LE(greenMax, 1.0f);
    EXPECT_GE(redMin, 250.0f);
  }
}

TEST(Alpha, OpaqueAlphaChangesNoColourBitAndGreyStaysGrey) {
  const Image chart = MakeTestChart(40, 40, 7), greyChart = MakeTestChart(40, 40, 3);
  Image opaque(40, 40, true), grey = RedShapeOnHiddenGreen();  // grey: the chart's red over the shape's alpha
  for (int c = 0; c < 3; ++c) {
    std::copy_n(chart.Plane(c), chart.PixelCount(), opaque.Plane(c));
    std::copy_n(greyChart.Plane(kRed), greyChart.PixelCount(), grey.Plane(c));
  }
  std::fill_n(opaque.Plane(kAlpha), opaque.PixelCount(), 255.0f);
  grey.Metadata().greyscale = true;
  Image veiled(40, 40, true);  // flat and half transparent: stays so
  for (int c = 0; c < 4; ++c) std::fill_n(veiled.Plane(c), veiled.PixelCount(), c == kAlpha ? 127.5f : 200.0f - 50 * c);
  for (const auto& [name, run] : kOperations) {
    SCOPED_TRACE(name);
    const Image with = Apply(run, opaque), without = Apply(run, chart), result = Apply(run, grey),
                flat = Apply(run, veiled);
    for (int c = 0; c < 4; ++c)
      for (std::size_t i = 0; i < flat.PixelCount(); ++i)
        ASSERT_NEAR(flat.Plane(c)[i], c == kAlpha ? 127.5f : 200.0f - 50 * c, 0.01f) << "plane " << c;
    ASSERT_TRUE(with.HasAlpha() && PlaneIs(with, kAlpha, 255.0f));
    EXPECT_TRUE(result.Metadata().greyscale);
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(std::memcmp(with.Plane(c), without.Plane(c), with.PixelCount() * sizeof(float)), 0) << c;
      EXPECT_EQ(std::memcmp(result.Plane(c), result.Plane(kRed), result.PixelCount() * sizeof(float)), 0) << c;
    }
  }
}

}  // namespace
