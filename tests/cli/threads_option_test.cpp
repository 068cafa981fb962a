// The global --threads option sets the thread count and refuses bad counts;
// resizing gives the same file with any count, by the option or by
// KESTRUNE_THREADS, and prints nothing to stderr.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli_test_util.h"

using kestrune::TempDir;

namespace {

TEST(ThreadsOption, SetsTheCountRefusesBadValuesAndResizesAlikeWithAnyCount) {
  TempDir dir;
  const std::string chart = dir.File("c.pfm");
  ASSERT_EQ(Cli({"--threads", "1", "chart", chart, "--width", "300", "--height", "220"}).status, kExitOk);
  EXPECT_EQ(kestrune::ThreadCount(), 1);
  kestrune::SetThreadCount(0);
  for (const char* bad : {"0", "-1", "two", "1025", "0x3"})
    EXPECT_EQ(Cli({"--threads", bad, "chart", chart}).status, kExitUsage) << bad;

  const std::string cli = KESTRUNE_CLI_PATH;
  std::vector<std::string> outputs;
  const std::string runs[] = {"KESTRUNE_THREADS=1 '" + cli + "'", "KESTRUNE_THREADS=3 '" + cli + "'",
                              "'" + cli + "' --threads 5"};
  for (std::size_t i = 0; i < std::size(runs); ++i) {
    const std::string out = dir.File("r" + std::to_string(i) + ".pfm");
    const std::string err = dir.File("e" + std::to_string(i) + ".txt");
    const std::string command =
        runs[i] + " resize '" + chart + "' '" + out + "' --width 137 --height 411 2> '" + err + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    outputs.push_back(FileBytes(out));
    // More threads than cores is no reason for a message.
    EXPECT_EQ(FileBytes(err), "") << command;
  }
  ASSERT_GT(outputs[0].size(), std::size_t(137 * 411 * 12));
  EXPECT_TRUE(outputs[1] == outputs[0]);
  EXPECT_TRUE(outputs[2] == outputs[0]);
}

}  // namespace
