// Runs kestrune-cli in-process, capturing its standard output and error, or
// as a child process (limits and signals); reads and writes its files.
#pragma once

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <kestrune/kestrune.h>

#include "cli/command.h"
#include "support/test_support.h"  // for every CLI test: TempDir, FileBytes, Names

// What a child started by StartTool runs under: files of at most `file`
// bytes (SIGXFSZ ignored: writes beyond fail), `memory` bytes of address
// space, `files` open files, SIGINT ignored from the start (as in a script's
// background job), and with `permissions` binding root too.
struct ChildLimits {
  rlim_t file = RLIM_INFINITY, memory = RLIM_INFINITY, files = RLIM_INFINITY;
  bool ignoreSigint = false, permissions = false;
};

// Starts the tool with `args` in a child process, standard error into `err`.
inline pid_t StartTool(const std::vector<std::string>& args, const std::string& err = "/dev/null",
                       ChildLimits limits = {}) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlimit file{limits.file, limits.file}, memory{limits.memory, limits.memory}, open{limits.files, limits.files};
    ::setrlimit(RLIMIT_FSIZE, &file);
    ::setrlimit(RLIMIT_AS, &memory);
    std::signal(SIGXFSZ, SIG_IGN);
    if (limits.ignoreSigint) std::signal(SIGINT, SIG_IGN);
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
      if (limits.permissions) ::prctl(PR_CAPBSET_DROP, cap);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(KESTRUNE_CLI_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (limits.files != RLIM_INFINITY) ::setrlimit(RLIMIT_NOFILE, &open);
    ::execv(KESTRUNE_CLI_PATH, argv.data());
    ::_exit(127);
  }
  return pid;
}

// The exit status of a child started by StartTool, or 1000 + its signal.
inline int WaitTool(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

struct CliResult {
  int status;
  std::string out;
  std::string err;
};

// `args` are the arguments after the program name, `more` follow them.
inline CliResult Cli(std::vector<std::string> args, const std::vector<std::string>& more = {}) {
  args.insert(args.end(), more.begin(), more.end());
  args.insert(args.begin(), "kestrune-cli");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = RunCli(int(argv.size()), argv.data());
  std::string out = testing::internal::GetCapturedStdout();
  return {status, out, testing::internal::GetCapturedStderr()};
}

using kestrune::FileBytes;
using kestrune::Names;

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The image file at `path` (empty when it cannot be read, failing the test).
inline kestrune::Image ReadFile(const std::string& path) {
  kestrune::Result<kestrune::Image> read = kestrune::ReadImage(path);
  EXPECT_TRUE(read.ok()) << path << ": " << read.error().message;
  return read.has_value() ? std::move(read).value() : kestrune::Image();
}

// Writes `image` to `path`, failing the test when it cannot.
inline void WriteFile(const kestrune::Image& image, const std::string& path) {
  const kestrune::Error error = kestrune::WriteImage(image, path);
  ASSERT_FALSE(error) << path << ": " << error.message;
}

// True when both images have the same size and colour samples within
// `tolerance` (PFM keeps samples / 255: one through it may differ in its last
// bits); by default the same samples.
inline bool SameSamples(const kestrune::Image& a, const kestrune::Image& b, float tolerance = 0.0f) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < a.PixelCount(); ++i)
      if (!(std::fabs(a.Plane(c)[i] - b.Plane(c)[i]) <= tolerance)) return false;
  return true;
}
