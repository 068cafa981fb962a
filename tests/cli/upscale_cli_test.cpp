// kestrune-cli upscale: the defaults, "Load from file", the final resize,
// the dialog's checks and messages, and the guards.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli_test_util.h"
#include "support/test_support.h"

using namespace kestrune;

namespace {

CliResult Upscale(std::vector<std::string> args) {
  args.insert(args.begin(), "upscale");
  return Cli(std::move(args));
}

class UpscaleCli : public testing::Test {
 protected:
  void SetUp() override {
    source = MakeTestChart(12, 10, 4);
    in = dir.File("in.pfm");
    WriteFile(source, in);
  }
  TempDir dir;
  Image source;
  std::string in;
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
  auto args = [&](std::string out, std::vector<std::string> extra) {
    std::vector<std::string> a = {in, out};
    a.insert(a.end(), common.begin(), common.end());
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  };
  ASSERT_EQ(Upscale(args(twice, {})).status, 0);
  ASSERT_EQ(Upscale(args(other, {"--width", "30", "--height", "7"})).status, 0);
  ResizeOptions resize;
  resize.width = 30, resize.height = 7;
  EXPECT_TRUE(SameSamples(ReadFile(other), Resize(ReadFile(twice), resize).value()));
}

TEST_F(UpscaleCli, ChecksAndMessages) {
  const std::string out = dir.File("never.pfm");
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--iterations", "1001"}, "kestrune-cli upscale: --iterations: Enter an integer between 0 and 1000.\n"},
      {{"--iterations", "-1"}, "kestrune-cli upscale: --iterations: Enter an integer between 0 and 1000.\n"},
      {{"--iterations", "2.5"}, "kestrune-cli upscale: --iterations: Enter an integer.\n"},
      {{"--fractal", "101"}, "kestrune-cli upscale: --fractal: Enter an integer between 0 and 100.\n"},
      {{"--edge-iterations", "x"}, "kestrune-cli upscale: --edge-iterations: Enter an integer.\n"},
      {{"--strength", "strong"}, "kestrune-cli upscale: --strength: Enter a number.\n"},
      {{"--strength", "nan"}, "kestrune-cli upscale: --strength: Enter a number.\n"},
      {{"--side-lobe", "inf"}, "kestrune-cli upscale: --side-lobe: Enter a number.\n"},
      {{"--regularization", "-nan"}, "kestrune-cli upscale: --regularization: Enter a number.\n"},
      {{"--iterations", "0x10"}, "kestrune-cli upscale: --iterations: Enter an integer.\n"},
      {{"--width", "0"}, "kestrune-cli upscale: --width: Enter an integer between 1 and 100000.\n"},
      {{"--height", "-4"}, "kestrune-cli upscale: --height: Enter a positive integer.\n"},
      {{"--height", "100001"}, "kestrune-cli upscale: --height: Enter an integer between 1 and 100000.\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {in, out};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliResult r = Upscale(args);
    EXPECT_EQ(r.status, 1) << c.args[0];
    EXPECT_EQ(r.err, c.message);
  }
  // The guards: messages from the shared settings check, exit status 1.
  for (const auto& extra : std::vector<std::vector<std::string>>{
           {"--edge-iterations", "-2"}, {"--side-lobe", "0.5"}}) {
    std::vector<std::string> args = {in, out};
    args.insert(args.end(), extra.begin(), extra.end());
    const CliResult r = Upscale(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.empty());
  }
  const std::string tiny = dir.File("tiny.pfm");
  WriteFile(MakeTestChart(5, 9), tiny);
  EXPECT_EQ(Upscale({tiny, out}).status, 1);  // fractal substitutions need 6 x 6
  EXPECT_EQ(Upscale({tiny, out, "--fractal", "0", "--iterations", "1", "--quiet"}).status, 0);
  EXPECT_EQ(Upscale({dir.File("missing.pfm"), out}).status, 2);
  // Past the image limits: refused before any work, not a crash.
  EXPECT_EQ(Upscale({in, dir.File("huge.pfm"), "--width", "100000", "--height", "100000"}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("huge.pfm")));
}


}  // namespace
