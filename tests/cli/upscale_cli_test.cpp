// kestrune-cli upscale: the defaults, "Load from file", the final resize, a method,
// the dialog's checks and messages, and the guards.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli_test_util.h"

using namespace kestrune;

namespace {

CliResult Upscale(const std::vector<std::string>& args) { return Cli({"upscale"}, args); }

class UpscaleCli : public testing::Test {
 protected:
  void SetUp() override { WriteFile(MakeTestChart(12, 10, 4), in); }
  TempDir dir;
  const std::string in = dir.File("in.pfm");
};

TEST_F(UpscaleCli, DefaultsAreTheDialogs) {
  // NEDI, 16 iterations, 2 substitutions, 2 edge-directed iterations,
  // strength 3, side lobe 0, regularization 0.03, variable 1.
  const std::string defaults = dir.File("defaults.pfm"), given = dir.File("given.pfm");
  ASSERT_EQ(Upscale({in, defaults, "--quiet"}).status, 0);
  ASSERT_EQ(Upscale({in, given, "--method", "nedi", "--iterations", "16", "--fractal", "2", "--edge-iterations", "2",
                     "--strength", "3", "--side-lobe", "0", "--regularization", "0.03", "--variable-regularization",
                     "1", "--width", "24", "--height", "20", "--quiet"})
                .status,
            0);
  EXPECT_TRUE(SameSamples(ReadFile(defaults), ReadFile(given)));
}

TEST_F(UpscaleCli, LoadFromFileAndItsSizeCheck) {
  const std::string init = dir.File("init.pfm"), out = dir.File("out.pfm");
  const Image start = MakeTestChart(24, 20, 8);
  WriteFile(start, init);
  ASSERT_EQ(Upscale({in, out, "--init", init, "--iterations", "0", "--fractal", "0", "--method", "bicubic"}).status, 0);
  EXPECT_TRUE(SameSamples(ReadFile(out), start));

  const std::string wrong = dir.File("wrong.pfm");
  WriteFile(MakeTestChart(24, 21), wrong);
  const CliResult r = Upscale({in, dir.File("never.pfm"), "--init", wrong});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kestrune-cli upscale: Image dimensions do not match!\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("never.pfm")));
}

TEST_F(UpscaleCli, OtherSizesAreResampledFromTheDoubledResult) {
  const std::string twice = dir.File("twice.pfm"), other = dir.File("other.pfm");
  const std::vector<std::string> common = {"--iterations", "2", "--fractal", "0", "--method", "bicubic"};
  ASSERT_EQ(Cli({"upscale", in, twice}, common).status, 0);
  ASSERT_EQ(Cli({"upscale", in, other, "--width", "30", "--height", "7"}, common).status, 0);
  // The doubled result passed through its file on one side only.
  EXPECT_TRUE(SameSamples(ReadFile(other), Resize(ReadFile(twice), {.width = 30, .height = 7}).value(), 1e-3f));
  // Each method is the library's.
  ASSERT_EQ(Cli({"upscale", in, twice, "--method", "edge", "--iterations", "0", "--fractal", "0"}).status, 0);
  const UpscaleOptions edge{.initialMethod = InitialMethod::kEdgeDirectional, .iterations = 0, .fractalSubstitutions = 0};
  EXPECT_TRUE(SameSamples(ReadFile(twice), kestrune::Upscale(ReadFile(in), edge).value(), 1e-3f));
}

TEST_F(UpscaleCli, ChecksAndMessages) {
  const std::string out = dir.File("never.pfm");
  const std::string between = ": Enter an integer between ", number = ": Enter a number.";
  const struct {
    std::vector<std::string> args;
    std::string message;  // after "kestrune-cli upscale: "
  } cases[] = {
      {{"--iterations", "1001"}, "--iterations" + between + "0 and 1000."},
      {{"--iterations", "2.5"}, "--iterations: Enter an integer."},
      {{"--iterations", "0x10"}, "--iterations: Enter an integer."},
      {{"--fractal", "101"}, "--fractal" + between + "0 and 100."},
      {{"--edge-iterations", "x"}, "--edge-iterations: Enter an integer."},
      {{"--strength", "strong"}, "--strength" + number},
      {{"--strength", "nan"}, "--strength" + number},
      {{"--side-lobe", "inf"}, "--side-lobe" + number},
      {{"--width", "0"}, "--width" + between + "1 and 100000."},
      {{"--height", "-4"}, "--height: Enter a positive integer."},
      // The guards of the shared settings check, in its own words.
      {{"--edge-iterations", "-2"}, ""},
      {{"--side-lobe", "0.5"}, ""},
  };
  for (const auto& c : cases) {
    const CliResult r = Upscale({in, out, c.args[0], c.args[1]});
    EXPECT_EQ(r.status, 1) << c.args[0];
    if (c.message.empty()) {
      EXPECT_EQ(r.err.rfind("kestrune-cli upscale: ", 0), 0u) << r.err;
    } else {
      EXPECT_EQ(r.err, "kestrune-cli upscale: " + c.message + "\n");
    }
  }
  const std::string tiny = dir.File("tiny.pfm");
  WriteFile(MakeTestChart(5, 9), tiny);
  const std::pair<std::vector<std::string>, int> statuses[] = {
      {{tiny, out}, 1},  // fractal substitutions need 6 x 6
      {{tiny, dir.File("tiny2.pfm"), "--fractal", "0", "--iterations", "1", "--quiet"}, 0},
      {{dir.File("missing.pfm"), out}, 2},
      // Past the image limits: refused before any work, not a crash.
      {{in, out, "--width", "100000", "--height", "100000"}, 1},
  };
  for (const auto& [args, status] : statuses) EXPECT_EQ(Upscale(args).status, status) << args[0];
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
