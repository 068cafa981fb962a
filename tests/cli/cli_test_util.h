// Runs kestrune-cli in-process for the command tests, capturing what it
// writes to standard output and standard error.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/command.h"
#include "image/image_readers.h"

using namespace kestrune;

struct CliResult {
  int status;
  std::string out;
  std::string err;
};

// `args` are the arguments after the program name.
inline CliResult Cli(std::vector<std::string> args) {
  args.insert(args.begin(), "kestrune-cli");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = RunCli(int(argv.size()), argv.data());
  std::string out = testing::internal::GetCapturedStdout();
  return {status, out, testing::internal::GetCapturedStderr()};
}

// The PFM file at `path` (empty when it cannot be read, which fails the test).
inline FloatImage ReadPfmFile(const std::string& path) {
  FloatImage image;
  const ReadStatus status = ReadImageFile(path, image);
  EXPECT_EQ(status.format, ImageFormat::kPfm) << path;
  EXPECT_EQ(status.code, kReadOk) << path << ": " << status.message;
  return image;
}
