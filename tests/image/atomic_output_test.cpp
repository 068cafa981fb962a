// AtomicOutput's temporary file: where it is and what it is called, removed
// when abandoned or by the signal handlers' clean-up so that nothing reaches
// the target; and nothing below an output folder followed.
#include "image/atomic_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace kestrune;
namespace fs = std::filesystem;

namespace {

TEST(AtomicOutput, TheTemporaryFileIsNamedAndRemovedOnASignalOrWhenAbandoned) {
  TempDir dir;
  std::ofstream(dir.File("x.bmp")) << "before";
  {
    AtomicOutput abandoned;  // destroyed without Commit
    ASSERT_TRUE(abandoned.Open(dir.File("y.bmp")));
  }
  AtomicOutput output;
  ASSERT_TRUE(output.Open(dir.File("x.bmp")));
  std::fputs("after", output.file());
  const std::set<std::string> names = Names(dir.path());
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names.begin()->rfind(".kestrune-tmp-" + std::to_string(::getpid()) + "-", 0), 0u) << *names.begin();
  RemoveOpenTemporaryFiles();  // what a signal handler does
  EXPECT_FALSE(output.Commit());
  EXPECT_FALSE(output.error().empty());
  EXPECT_EQ(FileBytes(dir.File("x.bmp")), "before");
  EXPECT_EQ(Names(dir.path()), std::set<std::string>{"x.bmp"});
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
