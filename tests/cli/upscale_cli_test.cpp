// kestrune-cli upscale: the initial enlargement written unchanged, "Load from
// file", the final resize, the dialog's checks and messages, the guards, and
// Ctrl+C (first press writes the estimate so far, a second aborts without
// writing) on the real program.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/cli_test_util.h"
#include "image/pfm.h"
#include "image/test_chart.h"
#include "resampling/linear_resampler.h"
#include "support/test_support.h"
#include "resampling/fixed_upscalers.h"

using namespace kestrune;

namespace {

CliResult Upscale(std::vector<std::string> args) {
  args.insert(args.begin(), "upscale");
  return Cli(std::move(args));
}

class UpscaleCli : public testing::Test {
 protected:
  void SetUp() override {
    source = RenderTestChart(12, 10, 4);
    in = dir.File("in.pfm");
    ASSERT_EQ(WritePfm(in, source), 0);
  }
  TempDir dir;
  FloatImage source;
  std::string in;
};

TEST_F(UpscaleCli, NoIterationsWritesTheInitialEnlargement) {
  const std::string out = dir.File("out.pfm");
  ASSERT_EQ(Upscale({in, out, "--iterations", "0", "--fractal", "0", "--method", "bilinear", "--quiet"}).status, 0);
  const FloatImage result = ReadPfmFile(out);
  ASSERT_EQ(result.width, 24u);
  ASSERT_EQ(result.height, 20u);
  for (int c = 0; c < 3; ++c) {
    std::vector<float> expect(480);
    UpscaleBilinear2(source.samples(c), 12, 10, expect.data());
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), result.samples(c)));
  }
}

TEST_F(UpscaleCli, LoadFromFileAndItsSizeCheck) {
  const std::string init = dir.File("init.pfm"), out = dir.File("out.pfm");
  const FloatImage start = RenderTestChart(24, 20, 8);
  ASSERT_EQ(WritePfm(init, start), 0);
  ASSERT_EQ(Upscale({in, out, "--init", init, "--iterations", "0", "--fractal", "0", "--method", "bicubic"}).status, 0);
  const FloatImage result = ReadPfmFile(out);
  for (int c = 0; c < 3; ++c) EXPECT_TRUE(std::equal(start.samples(c), start.samples(c) + 480, result.samples(c)));

  const std::string wrong = dir.File("wrong.pfm");
  ASSERT_EQ(WritePfm(wrong, RenderTestChart(24, 21)), 0);
  const CliResult r = Upscale({in, dir.File("never.pfm"), "--init", wrong});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Image dimensions do not match!\n");
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
  const FloatImage doubled = ReadPfmFile(twice), result = ReadPfmFile(other);
  ASSERT_EQ(result.width, 30u);
  ASSERT_EQ(result.height, 7u);
  for (int c = 0; c < 3; ++c) {
    std::vector<float> expect(30 * 7);
    ResizePlane(doubled.samples(c), 24, 20, expect.data(), 30, 7, FilterCatmullRom, 0, 0, 0, 0, 1.0f);
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), result.samples(c)));
  }
}

TEST_F(UpscaleCli, ChecksAndMessages) {
  const std::string out = dir.File("never.pfm");
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--iterations", "1001"}, "--iterations: Enter an integer between 0 and 1000.\n"},
      {{"--iterations", "-1"}, "--iterations: Enter an integer between 0 and 1000.\n"},
      {{"--iterations", "2.5"}, "--iterations: Enter an integer.\n"},
      {{"--fractal", "101"}, "--fractal: Enter an integer between 0 and 100.\n"},
      {{"--edge-iterations", "x"}, "--edge-iterations: Enter an integer.\n"},
      {{"--strength", "strong"}, "--strength: Enter a number.\n"},
      {{"--width", "0"}, "--width: Enter an integer between 1 and 100000.\n"},
      {{"--height", "-4"}, "--height: Enter a positive integer.\n"},
      {{"--height", "100001"}, "--height: Enter an integer between 1 and 100000.\n"},
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
  ASSERT_EQ(WritePfm(tiny, RenderTestChart(5, 9)), 0);
  EXPECT_EQ(Upscale({tiny, out}).status, 1);  // fractal substitutions need 6 x 6
  EXPECT_EQ(Upscale({tiny, out, "--fractal", "0", "--iterations", "1", "--quiet"}).status, 0);
  EXPECT_EQ(Upscale({dir.File("missing.pfm"), out}).status, 2);
}

#ifdef KESTRUNE_CLI_PATH
// The signal mask of `field` ("SigCgt", "SigPnd", "ShdPnd") in the process's
// status: whether SIGINT is in it.
bool SigIntIn(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0) return (std::stoull(line.substr(field.size() + 1), nullptr, 16) >> (SIGINT - 1)) & 1;
  return false;
}

// Runs the tool on a long job, presses Ctrl+C `presses` times, and returns the
// wait status. Each press waits until the tool catches SIGINT and has taken
// the previous press, so that presses neither come too early nor merge.
int InterruptedRun(const std::string& in, const std::string& out, int presses) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(KESTRUNE_CLI_PATH, KESTRUNE_CLI_PATH, "upscale", in.c_str(), out.c_str(), "--method", "bicubic",
            "--iterations", "1000", "--fractal", "0", "--edge-iterations", "-1", "--quiet",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  auto waitFor = [&](auto condition) {
    for (int i = 0; i < 20000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::microseconds(500));
  };
  waitFor([&] { return SigIntIn(pid, "SigCgt"); });
  for (int i = 0; i < presses; ++i) {
    ::kill(pid, SIGINT);
    waitFor([&] { return !SigIntIn(pid, "SigPnd") && !SigIntIn(pid, "ShdPnd"); });
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

TEST(UpscaleCliInterrupt, FirstPressWritesTheEstimateSecondAborts) {
  TempDir dir;
  const std::string in = dir.File("big.pfm");
  ASSERT_EQ(WritePfm(in, RenderTestChart(320, 320)), 0);

  const std::string kept = dir.File("kept.pfm");
  int status = InterruptedRun(in, kept, 1);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const FloatImage result = ReadPfmFile(kept);
  EXPECT_EQ(result.width, 640u);
  EXPECT_EQ(result.height, 640u);

  const std::string aborted = dir.File("aborted.pfm");
  status = InterruptedRun(in, aborted, 2);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_FALSE(std::filesystem::exists(aborted));
  // No partial file is left behind either.
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().string().find(".partial-"), std::string::npos) << entry.path();
}
#endif

}  // namespace
