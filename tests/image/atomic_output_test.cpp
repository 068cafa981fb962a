// AtomicOutput's temporary file: where it is and what it is called, and that
// the signal handlers' clean-up removes it so that nothing reaches the target.
#include "image/atomic_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace kestrune;
namespace fs = std::filesystem;

namespace {

TEST(AtomicOutput, TheTemporaryFileIsNamedAndRemovedOnASignal) {
  TempDir dir;
  std::ofstream(dir.File("x.bmp")) << "before";
  AtomicOutput output;
  ASSERT_TRUE(output.Open(dir.File("x.bmp")));
  std::fputs("after", output.file());
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].rfind(".kestrune-tmp-" + std::to_string(::getpid()) + "-", 0), 0u) << names[0];

  RemoveOpenTemporaryFiles();  // what a signal handler does
  EXPECT_FALSE(output.Commit());
  EXPECT_FALSE(output.error().empty());
  std::ifstream in(dir.File("x.bmp"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "before");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(AtomicOutput, WithinAFolderNothingBelowItIsFollowed) {
  TempDir dir;
  fs::create_directory(dir.path() / "out");
  fs::create_symlink("..", dir.path() / "out/up");
  fs::create_symlink("../victim", dir.path() / "out/v");
  ASSERT_EQ(::mkfifo(dir.File("out/fifo").c_str(), 0666), 0);
  const struct {
    const char* name;
    bool written;
  } cases[] = {{"v", true}, {"fifo", true}, {"new/deeper/x", true}, {"up/x", false}, {"../x", false}, {"new", false}};
  for (const auto& c : cases) {
    AtomicOutput output;
    EXPECT_EQ(output.Open(dir.File("out/") + c.name, dir.File("out")) && output.Commit(), c.written) << c.name;
    EXPECT_EQ(fs::is_regular_file(fs::symlink_status(dir.path() / "out" / c.name)), c.written) << c.name;
  }
  EXPECT_FALSE(fs::exists(dir.path() / "victim") || fs::exists(dir.path() / "x"));
}

}  // namespace
