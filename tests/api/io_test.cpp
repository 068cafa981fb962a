// Files written all or nothing (files keep their permissions, links stay
// links, FIFOs are written directly), the refusals, and reading's errors.
#include <kestrune/kestrune.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace kestrune;
namespace fs = std::filesystem;

namespace {

TEST(WriteImage, ReplacesFilesLinksTargetsAndWritesFifosDirectly) {
  TempDir dir;
  const Image image = MakeTestChart(21, 13);
  ASSERT_FALSE(WriteImage(image, dir.File("ref.png")));
  const std::string expected = FileBytes(dir.File("ref.png"));
  // An existing file is replaced and keeps its permissions.
  std::ofstream(dir.File("old.png")) << "old";
  fs::permissions(dir.File("old.png"), fs::perms(0640));
  EXPECT_FALSE(WriteImage(image, dir.File("old.png")));
  EXPECT_EQ(FileBytes(dir.File("old.png")), expected);
  EXPECT_EQ(fs::status(dir.File("old.png")).permissions(), fs::perms(0640));
  // A link stays a link; the file it points to (through a second link, and
  // one that does not exist yet) gets the image.
  fs::create_directory(dir.path() / "sub");
  fs::create_symlink("sub/target.png", dir.path() / "link1.png");
  fs::create_symlink("link1.png", dir.path() / "link2.png");
  EXPECT_FALSE(WriteImage(image, dir.File("link2.png")));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "link2.png") && fs::is_symlink(dir.path() / "link1.png"));
  EXPECT_EQ(FileBytes(dir.File("sub/target.png")), expected);
  // A FIFO is written as it is: the reader gets the whole file.
  ASSERT_EQ(::mkfifo(dir.File("pipe.png").c_str(), 0600), 0);
  std::string piped;
  std::thread reader([&] { piped = FileBytes(dir.File("pipe.png")); });
  EXPECT_FALSE(WriteImage(image, dir.File("pipe.png"), {.format = FileFormat::kPng}));
  reader.join();
  EXPECT_EQ(piped, expected);
  EXPECT_EQ(Names(dir.path()),
            (std::set<std::string>{"ref.png", "old.png", "sub", "link1.png", "link2.png", "pipe.png"}));
  EXPECT_EQ(Names(dir.path() / "sub"), std::set<std::string>{"target.png"});
}

TEST(WriteImage, RefusalsLeaveEverythingAsItWas) {
  TempDir dir;
  const Image image = MakeTestChart(8, 8), empty;
  std::ofstream(dir.File("keep.bmp")) << "keep";
  fs::create_directory(dir.path() / "folder.png");
  const struct {
    std::string path;
    const Image* image;
    ErrorCode code;
    WriteOptions options = {};
  } cases[] = {
      {dir.File("x.gif"), &image, ErrorCode::kInvalidArgument},  // a format this library does not write
      {dir.File("x.jpg"), &image, ErrorCode::kInvalidArgument, {.depth = SampleDepth::k16}},
      {dir.File("x.png"), &image, ErrorCode::kInvalidArgument, {.depth = SampleDepth::k32Float}},
      {dir.File("x.jpg"), &image, ErrorCode::kInvalidArgument, {.quality = 0}},
      {"-", &image, ErrorCode::kInvalidArgument},                   // standard output needs a format
      {dir.File("x"), &image, ErrorCode::kInvalidArgument},         // no extension
      {dir.File("keep.bmp"), &empty, ErrorCode::kInvalidArgument},  // nothing to write
      {dir.File("missing/x.png"), &image, ErrorCode::kCannotWrite},
      {dir.File("folder.png"), &image, ErrorCode::kCannotWrite},
      {dir.File("keep.bmp/x.png"), &image, ErrorCode::kCannotWrite},
  };
  for (const auto& c : cases) {
    const Error error = WriteImage(*c.image, c.path, c.options);
    EXPECT_EQ(error.code, c.code) << c.path << ": " << error.message;
    EXPECT_FALSE(error.message.empty());
    if (c.image == &image) {
      EXPECT_EQ(CheckOutputPath(c.path, c.options).code, c.code) << c.path;
    }
  }
  EXPECT_FALSE(CheckOutputPath(dir.File("new.pfm")));
  EXPECT_EQ(FileBytes(dir.File("keep.bmp")), "keep");
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"keep.bmp", "folder.png"}));
}

TEST(ReadImage, ErrorsKeptDamageAndTheFormat) {
  TempDir dir;
  ASSERT_FALSE(WriteImage(MakeTestChart(16, 8), dir.File("c.bmp")));
  std::ofstream(dir.File("cut.png"), std::ios::binary) << FileBytes(dir.File("c.bmp")).substr(0, 54 + 48 * 3);
  std::ofstream(dir.File("empty.bmp"));
  const struct {
    std::string path;
    bool keepDamaged;
    ErrorCode code;
    bool hasValue;
    FileFormat format;
  } cases[] = {
      {dir.File("c.bmp"), false, ErrorCode::kNone, true, FileFormat::kBmp},
      {dir.File("missing.bmp"), false, ErrorCode::kCannotOpen, false, FileFormat::kUnknown},
      {dir.path().string(), false, ErrorCode::kCannotOpen, false, FileFormat::kUnknown},
      {dir.File("empty.bmp"), false, ErrorCode::kUnreadable, false, FileFormat::kUnknown},
      {dir.File("cut.png"), false, ErrorCode::kUnreadable, false, FileFormat::kBmp},  // a BMP, whatever the name
      {dir.File("cut.png"), true, ErrorCode::kUnreadable, true, FileFormat::kBmp},    // the 3 rows read, shown
  };
  for (const auto& c : cases) {
    FileFormat format = FileFormat::kPfm;
    const Result<Image> read = ReadImage(c.path, {.keepDamaged = c.keepDamaged}, &format);
    EXPECT_EQ(read.error().code, c.code) << c.path << ": " << read.error().message;
    EXPECT_EQ(read.has_value(), c.hasValue) << c.path;
    EXPECT_EQ(format, c.format) << c.path;
  }
  const Result<ImageInfo> info = ReadImageInfo(dir.File("c.bmp"));
  ASSERT_TRUE(info.ok());
  EXPECT_TRUE(info->format == FileFormat::kBmp && info->width == 16 && info->height == 8 && info->bitsPerPixel == 24);
  EXPECT_EQ(ReadImageInfo(dir.File("cut.png")).error().code, ErrorCode::kUnreadable);
  // An EXIF block (here an empty first directory) shows in the information.
  Image tagged = MakeTestChart(8, 8);
  tagged.Metadata().exif = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_FALSE(WriteImage(tagged, dir.File("tagged.jpg")));
  EXPECT_TRUE(ReadImageInfo(dir.File("tagged.jpg"))->hasExif);
  EXPECT_FALSE(info->hasExif);
}

}  // namespace
