// kestrune-cli downscale: the settings' checks and messages, the defaults, the
// filter names, the hint line, and the image (PFM: the library's own result).
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli_test_util.h"

using namespace kestrune;

namespace {

std::string HintLine(const Hint& h) {
  char line[256];
  std::snprintf(line, sizeof line, "hint: offset-x=%.6g offset-y=%.6g deviation-x=%.6g deviation-y=%.6g score=%.6g\n",
                h.offsetX, h.offsetY, h.deviationX, h.deviationY, h.score);
  return line;
}

// Runs the command on `source` and expects the result and hint line of
// Downscale with `params`.
void ExpectLikeDownscale(const Image& source, const DownscaleOptions& params, const std::vector<std::string>& options) {
  SCOPED_TRACE(testing::PrintToString(options));
  TempDir dir;
  WriteFile(source, dir.File("in.pfm"));
  const CliResult r = Cli({"downscale", dir.File("in.pfm"), dir.File("out.pfm")}, options);
  ASSERT_EQ(r.status, 0) << r.err;

  // The library's result on the file the command read, written the same way.
  Hint hint;
  const Result<Image> expected = Downscale(ReadFile(dir.File("in.pfm")), params, nullptr, &hint);
  ASSERT_TRUE(expected.ok());
  EXPECT_EQ(r.err, HintLine(hint));  // not a terminal: no progress bar
  WriteFile(expected.value(), dir.File("expected.pfm"));
  EXPECT_TRUE(SameSamples(ReadFile(dir.File("out.pfm")), ReadFile(dir.File("expected.pfm"))));
}

TEST(DownscaleCli, DefaultsAreTheDialogsAndOptionsReachTheSearch) {
  const Image source = MakeTestChart(26, 21);
  // Catmull-Rom, 0.8, 12 trials, deviation 8 and the source's size.
  ExpectLikeDownscale(source, {.width = 26, .height = 21}, {});
  // Only one size given: the other stays the source's.
  ExpectLikeDownscale(source, {.width = 26, .height = 9, .smoothness = 1.25f, .trials = 5, .scaleDeviation = 3.5f},
                      {"--height", "9", "--smoothness", "1.25", "--trials", "5", "--deviation", "3.5"});
  const char* names[] = {"box", "bilinear", "bspline", "catmull-rom", "lanczos2", "lanczos3", "sinc"};
  for (int filter = 0; filter < 7; ++filter)
    ExpectLikeDownscale(source, {.width = 11, .height = 9, .filter = Filter(filter), .trials = 4},
                        {"--width", "11", "--height", "9", "--filter", names[filter], "--trials", "4"});
}

TEST(DownscaleCli, BadValuesGetTheDialogsMessagesAndTheBoundsPass) {
  TempDir dir;
  WriteFile(MakeTestChart(8, 8), dir.File("in.pfm"));
  const std::string in = dir.File("in.pfm"), out = dir.File("out.pfm");
  const struct {
    std::vector<std::string> options;
    std::string message;
  } cases[] = {
      {{"--width", "0"}, "--width: Enter an integer between 1 and 100000."},
      {{"--height", "12px"}, "--height: Enter a positive integer."},
      {{"--smoothness", "2.5"}, "--smoothness: Enter a number between 0.5 and 2."},
      {{"--smoothness", "soft"}, "--smoothness: Enter a number."},
      {{"--trials", "3"}, "--trials: Enter an integer between 4 and 256."},
      {{"--trials", "12.5"}, "--trials: Enter an integer."},
      {{"--deviation", "-0.5"}, "--deviation: Enter a number between 0 and 64."},
      // Fields are checked in the dialog's order; the first bad one speaks.
      {{"--trials", "3", "--width", "0"}, "--width: Enter an integer between 1 and 100000."},
      {{"--deviation", "99", "--smoothness", "9"}, "--smoothness: Enter a number between 0.5 and 2."},
  };
  for (const auto& c : cases) {
    const CliResult r = Cli({"downscale", in, out}, c.options);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.err, "kestrune-cli downscale: " + c.message + "\n");
  }
  EXPECT_FALSE(std::ifstream(out).good());
  // A bad value is reported before the input is looked at.
  EXPECT_EQ(Cli({"downscale", dir.File("missing.png"), out, "--trials", "3"}).status, 1);
  EXPECT_EQ(Cli({"downscale", in, out, "--filter", "nearest"}).status, 1);

  // The bounds are accepted; files give their statuses.
  const CliResult r = Cli({"downscale", in, out, "--width", "1", "--height", "100000", "--smoothness", "2", "--trials",
                           "4", "--deviation", "64", "--quiet"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const Image written = ReadFile(out);
  EXPECT_EQ(written.Width(), 1u);
  EXPECT_EQ(written.Height(), 100000u);
  const std::pair<std::vector<std::string>, int> statuses[] = {
      {{in, dir.File("o.pfm"), "--smoothness", "0.5", "--deviation", "0", "--trials", "4", "--quiet"}, 0},
      {{dir.File("missing.png"), dir.File("o.pfm")}, 2},
      {{in, dir.File("o.xyz"), "--trials", "4"}, 3},
      {{in, dir.File("no/o.pfm"), "--trials", "4"}, 3},
  };
  for (const auto& [args, status] : statuses) EXPECT_EQ(Cli({"downscale"}, args).status, status) << args[1];
}

}  // namespace
