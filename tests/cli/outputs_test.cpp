// What the tool leaves behind: all or nothing (a full disk leaves the previous
// file and no temporary one, so does too little memory), and signals ending a
// run with their statuses, whatever the tool inherited.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli_test_util.h"

using kestrune::TempDir;
namespace fs = std::filesystem;

namespace {

// Files in the folder whose names say they are temporary.
int Temporaries(const TempDir& dir) {
  int n = 0;
  for (const std::string& name : Names(dir.path())) n += name.find("kestrune-tmp") != std::string::npos;
  return n;
}

// Whether the process has a handler for (SigCgt) or a pending `signal`.
bool SignalIn(pid_t pid, const std::string& field, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0)
      return (std::stoull(line.substr(field.size() + 1), nullptr, 16) >> (signal - 1)) & 1;
  return false;
}

template <class F>
void WaitFor(F condition) {
  for (int i = 0; i < 20000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::microseconds(500));
}

// Sends `signal` `times` times, each once the tool handles it and has taken
// the previous one, so that presses neither come too early nor merge.
void Send(pid_t pid, int signal, int times) {
  WaitFor([&] { return SignalIn(pid, "SigCgt", signal); });
  for (int i = 0; i < times; ++i) {
    ::kill(pid, signal);
    WaitFor([&] { return !SignalIn(pid, "SigPnd", signal) && !SignalIn(pid, "ShdPnd", signal); });
  }
}

TEST(Outputs, AFullDiskLeavesThePreviousFileAndNoTemporary) {
  TempDir dir;
  const std::string in = dir.File("in.pfm"), out = dir.File("out");
  WriteFile(kestrune::MakeTestChart(96, 80), in);  // 92 KB
  const std::vector<std::vector<std::string>> runs = {
      {"convert", in, out + ".bmp"},
      {"convert", in, out + ".png"},
      {"resize", in, out + ".pfm", "--width", "90", "--height", "90"},
      {"downscale", in, out + ".pfm", "--width", "90", "--height", "70", "--trials", "4"},
      {"chart", out + ".pfm", "--width", "200", "--height", "100"},
      {"upscale", in, out + ".pfm", "--iterations", "0", "--fractal", "0", "--method", "bilinear"},
      {"resize", in, in, "--width", "100", "--height", "100"},  // the input itself
  };
  for (const auto& args : runs) {
    const std::string target = args[0] == "chart" ? args[1] : args[2];
    const std::string before = target == in ? FileBytes(in) : "previous contents";
    if (target != in) std::ofstream(target) << before;
    EXPECT_EQ(WaitTool(StartTool(args, "/dev/null", {.file = 4096})), 3) << args[0] << " " << target;
    EXPECT_TRUE(FileBytes(target) == before) << args[0] << " " << target;
    EXPECT_EQ(Temporaries(dir), 0) << args[0];
  }
}

TEST(Outputs, NotEnoughMemoryIsACleanRefusal) {
  // In 1 GiB of address space an enlargement needing about 1.3 GB is refused
  // before it starts, a resize to 3.1 GB fails its allocation: 4, nothing written.
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limit allows";
#endif
  TempDir dir;
  WriteFile(kestrune::MakeTestChart(4000, 3000), dir.File("in.pfm"));
  const std::vector<std::vector<std::string>> runs = {{"upscale", dir.File("in.pfm"), dir.File("a.png"), "--quiet"},
                                                      {"resize", dir.File("in.pfm"), dir.File("b.png"), "--width",
                                                       "100000", "--height", "2600"}};
  for (const auto& args : runs) {
    EXPECT_EQ(WaitTool(StartTool(args, "/dev/null", {.memory = rlim_t{1} << 30})), 4) << args[0];
    EXPECT_FALSE(fs::exists(args[2]));
  }
}

TEST(Outputs, SignalsEndRunsWithTheirStatuses) {
  TempDir dir;
  const std::string in = dir.File("in.pfm"), small = dir.File("small.pfm");
  WriteFile(kestrune::MakeTestChart(200, 200), in);
  WriteFile(kestrune::MakeTestChart(64, 64), small);
  const std::vector<std::string> longUpscale = {"upscale",      in,       "",          "--method", "bicubic",
                                                "--iterations", "1000",   "--fractal", "0",        "--edge-iterations",
                                                "-1",           "--quiet"};
  const std::vector<std::string> longDownscale = {"downscale", small,      "",     "--width",  "31",  "--height",
                                                  "29",        "--filter", "sinc", "--trials", "256", "--quiet"};
  struct Case {
    const std::vector<std::string>* args;
    int signal, times;
    bool ignoredAtStart;
    int status;
    bool written;
  };
  const Case cases[] = {
      {&longUpscale, SIGINT, 1, false, 5, true},     // stopped early: the estimate is written
      {&longUpscale, SIGINT, 1, true, 5, true},      // the same when started with SIGINT ignored
      {&longUpscale, SIGINT, 2, false, 130, false},  // a second press: nothing
      {&longUpscale, SIGTERM, 1, false, 143, false}, {&longUpscale, SIGHUP, 1, false, 129, false},
      {&longDownscale, SIGINT, 1, true, 130, false},  // no half-searched result
  };
  int n = 0;
  for (const Case& c : cases) {
    std::vector<std::string> args = *c.args;
    const std::string out = dir.File("out" + std::to_string(n++) + ".pfm");
    args[2] = out;
    const pid_t pid = StartTool(args, "/dev/null", {.ignoreSigint = c.ignoredAtStart});
    Send(pid, c.signal, c.times);
    EXPECT_EQ(WaitTool(pid), c.status) << args[0] << " signal " << c.signal << " x" << c.times;
    EXPECT_EQ(fs::exists(out), c.written) << out;
    if (c.written) {
      EXPECT_EQ(ReadFile(out).Width(), 400u);
    }
    EXPECT_EQ(Temporaries(dir), 0);
  }
}

}  // namespace
