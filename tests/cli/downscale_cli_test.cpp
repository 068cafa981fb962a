// kestrune-cli downscale, run in-process: the settings' checks and messages,
// the defaults, the filter names, the hint line, and the image it writes
// (PFM keeps the floats exact, so it must equal the library's own result).
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli_test_util.h"
#include "support/test_support.h"

using namespace kestrune;

namespace {

Image Picture(uint32_t width, uint32_t height) {
  Image image(width, height);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const std::size_t i = std::size_t{y} * width + x;
      const float edge = (2 * x + 3 * y) % 13 < 6 ? 70.0f : -70.0f;
      image.Plane(0)[i] = 120.0f + edge + 30.0f * std::sin(0.3f * x);
      image.Plane(1)[i] = 100.0f + 0.5f * edge + 20.0f * std::cos(0.4f * y);
      image.Plane(2)[i] = 140.0f - 0.7f * edge;
    }
  return image;
}

std::string HintLine(const Hint& h) {
  char line[256];
  std::snprintf(line, sizeof line, "hint: offset-x=%.6g offset-y=%.6g deviation-x=%.6g deviation-y=%.6g score=%.6g\n",
                h.offsetX, h.offsetY, h.deviationX, h.deviationY, h.score);
  return line;
}

// Runs the command on `source` and expects the result and hint line of
// Downscale with `params`.
void ExpectLikeDownscale(const Image& source, const DownscaleOptions& params, const std::vector<std::string>& options) {
  TempDir dir;
  WriteFile(source, dir.File("in.pfm"));
  std::vector<std::string> args = {"downscale", dir.File("in.pfm"), dir.File("out.pfm")};
  args.insert(args.end(), options.begin(), options.end());
  const CliResult r = Cli(args);
  ASSERT_EQ(r.status, 0) << r.err;

  Hint hint;
  const Result<Image> expected = Downscale(source, params, nullptr, &hint);
  ASSERT_TRUE(expected.ok());
  EXPECT_EQ(r.err, HintLine(hint));  // not a terminal: no progress bar
  EXPECT_TRUE(SameSamples(ReadFile(dir.File("out.pfm")), expected.value()));
}

TEST(DownscaleCli, DefaultsAreTheDialogsAndTheSourceSize) {
  DownscaleOptions params;  // Catmull-Rom, 0.8, 12 trials, deviation 8
  params.width = 20;
  params.height = 15;
  ExpectLikeDownscale(Picture(20, 15), params, {});
}

TEST(DownscaleCli, OptionsReachTheSearch) {
  DownscaleOptions params;
  params.width = 11;
  params.height = 9;
  params.smoothness = 1.25f;
  params.trials = 5;
  params.scaleDeviation = 3.5f;
  const Image source = Picture(26, 21);
  const char* names[] = {"box", "bilinear", "bspline", "catmull-rom", "lanczos2", "lanczos3", "sinc"};
  for (int filter = 0; filter < 7; ++filter) {
    SCOPED_TRACE(names[filter]);
    params.filter = static_cast<Filter>(filter);
    ExpectLikeDownscale(source, params,
                         {"--width", "11", "--height", "9", "--filter", names[filter], "--smoothness", "1.25",
                          "--trials", "5", "--deviation", "3.5"});
  }
  // Only one size given: the other stays the source's.
  params.filter = Filter::kCatmullRom;
  params.width = 26;
  ExpectLikeDownscale(source, params, {"--height", "9", "--smoothness", "1.25", "--trials", "5", "--deviation", "3.5"});
}

TEST(DownscaleCli, BadValuesGetTheDialogsMessages) {
  TempDir dir;
  WriteFile(Picture(8, 8), dir.File("in.pfm"));
  const std::string in = dir.File("in.pfm"), out = dir.File("out.pfm");
  const struct {
    std::vector<std::string> options;
    std::string message;
  } cases[] = {
      {{"--width", "0"}, "--width: Enter an integer between 1 and 100000."},
      {{"--height", "100001"}, "--height: Enter an integer between 1 and 100000."},
      {{"--width", "-5"}, "--width: Enter a positive integer."},
      {{"--height", "12px"}, "--height: Enter a positive integer."},
      {{"--smoothness", "0.4"}, "--smoothness: Enter a number between 0.5 and 2."},
      {{"--smoothness", "2.5"}, "--smoothness: Enter a number between 0.5 and 2."},
      {{"--smoothness", "soft"}, "--smoothness: Enter a number."},
      {{"--smoothness", "nan"}, "--smoothness: Enter a number."},
      {{"--trials", "3"}, "--trials: Enter an integer between 4 and 256."},
      {{"--trials", "257"}, "--trials: Enter an integer between 4 and 256."},
      {{"--trials", "12.5"}, "--trials: Enter an integer."},
      {{"--deviation", "-0.5"}, "--deviation: Enter a number between 0 and 64."},
      {{"--deviation", "64.5"}, "--deviation: Enter a number between 0 and 64."},
      // Fields are checked in the dialog's order; the first bad one speaks.
      {{"--trials", "3", "--width", "0"}, "--width: Enter an integer between 1 and 100000."},
      {{"--deviation", "99", "--smoothness", "9"}, "--smoothness: Enter a number between 0.5 and 2."},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"downscale", in, out};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const CliResult r = Cli(args);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.err, "kestrune-cli downscale: " + c.message + "\n");
  }
  EXPECT_FALSE(std::ifstream(out).good());
  // A bad value is reported before the input is looked at.
  EXPECT_EQ(Cli({"downscale", dir.File("missing.png"), out, "--trials", "3"}).status, 1);
  EXPECT_EQ(Cli({"downscale", in, out, "--filter", "nearest"}).status, 1);
}

TEST(DownscaleCli, BoundsAreAcceptedAndQuietIsQuiet) {
  TempDir dir;
  WriteFile(Picture(9, 7), dir.File("in.pfm"));
  const CliResult r = Cli({"downscale", dir.File("in.pfm"), dir.File("out.pfm"), "--width", "1", "--height", "100000",
                           "--smoothness", "2", "--trials", "4", "--deviation", "64", "--quiet"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const Image written = ReadFile(dir.File("out.pfm"));
  EXPECT_EQ(written.Width(), 1u);
  EXPECT_EQ(written.Height(), 100000u);
  EXPECT_EQ(Cli({"downscale", dir.File("in.pfm"), dir.File("o2.pfm"), "--smoothness", "0.5", "--deviation", "0",
                 "--trials", "4", "--quiet"})
                .status,
            0);
}

TEST(DownscaleCli, UnreadableInputAndUnwritableOutput) {
  TempDir dir;
  WriteFile(Picture(8, 6), dir.File("in.pfm"));
  EXPECT_EQ(Cli({"downscale", dir.File("missing.png"), dir.File("out.pfm")}).status, 2);
  EXPECT_EQ(Cli({"downscale", dir.File("in.pfm"), dir.File("out.xyz"), "--trials", "4"}).status, 3);
  EXPECT_EQ(Cli({"downscale", dir.File("in.pfm"), (dir.path() / "no" / "out.pfm").string(), "--trials", "4"}).status,
            3);
  EXPECT_EQ(Cli({"downscale", "--help"}).status, 0);
}

}  // namespace
