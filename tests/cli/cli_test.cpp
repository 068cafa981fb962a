// kestrune-cli's info, convert and chart commands: output, the output options,
// standard streams, statuses with the reasons for unreadable files, and PFM.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli_test_util.h"

using kestrune::Image;
using kestrune::TempDir;

namespace {

std::string Float32(float v, bool littleEndian) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[littleEndian ? i : 3 - i] = char(bits >> (8 * i));
  return s;
}

TEST(Cli, HelpAndUsageErrors) {
  EXPECT_EQ(Cli({"--help"}).status, 0);
  for (const char* command : {"info", "convert", "chart", "resize", "upscale", "downscale"}) {
    const CliResult r = Cli({command, "--help"});
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_NE(r.out.find(command), std::string::npos) << command;
  }
}

// Bad arguments and values of every command, each refused with its status
// and what it names (the dialogs' own words where they check the same field)
// before anything is read or written. "@x" stands for the file x in the
// test's folder: in.pfm a chart, a.png, f/a.png and g/a.png small ones.
TEST(Cli, BadArgumentsAreRefusedBeforeAnyWork) {
  TempDir dir;
  WriteFile(kestrune::MakeTestChart(12, 10, 4), dir.File("in.pfm"));
  WriteFile(kestrune::MakeTestChart(24, 21), dir.File("wrong.pfm"));
  for (const char* name : {"a.png", "f/a.png", "g/a.png"}) {
    std::filesystem::create_directories(std::filesystem::path(dir.File(name)).parent_path());
    WriteFile(kestrune::MakeTestChart(8, 8), dir.File(name));
  }
  const std::set<std::string> inputs = Names(dir.path(), true);
  const std::string up = "upscale: --", down = "downscale: --", between = ": Enter an integer between ",
                    number = ": Enter a number", integer = ": Enter an integer.\n";
  const struct {
    std::string args;  // separated by spaces
    int status;
    std::string says;  // a part of the message
  } cases[] = {
      {"", 1, ""},
      {"info", 1, ""},
      {"frobnicate", 1, ""},
      {"--threads 0 chart @o.pfm", 1, "--threads"},
      {"--threads two chart @o.pfm", 1, ""},
      {"--threads 1025 chart @o.pfm", 1, ""},
      {"--threads -1 chart @o.pfm", 1, ""},
      {"--threads 0x3 chart @o.pfm", 1, ""},
      {"chart @o.pfm --width 0", 1, "--width"},
      {"chart @o.pfm --height 100001", 1, "--height"},
      {"chart -", 1, ""},
      {"chart @no/dir/o.pfm", 3, ""},
      {"convert @in.pfm @o.pfm --depth 12", 1, ""},
      {"convert @in.pfm @o.jpg --depth 16", 1, ""},
      {"convert @in.pfm @o.jpg --quality 101", 1, ""},
      {"convert @in.pfm -", 1, ""},
      {"convert @in.pfm @o.gif", 3, ""},
      {"convert @in.pfm @no/dir/o.png", 3, ""},
      {"resize @in.pfm @o.pfm --width 0 --height 2", 1, "--width"},
      {"resize @in.pfm @o.pfm --width 3 --height 100001", 1, "--height"},
      {"resize @in.pfm @o.pfm --width 3", 1, "--height"},
      {"resize @in.pfm @o.pfm --width x --height 2", 1, "--width"},
      {"resize @in.pfm @o.pfm --width 0x10 --height 2", 1, "--width"},
      {"resize @in.pfm @o.pfm --width 3 --height 2 --filter gauss", 1, "--filter"},
      {"resize @in.pfm @o.pfm --width 3 --height 2 --smoothness 0.4", 1, "--smoothness"},
      {"resize @in.pfm @o.pfm --width 3 --height 2 --offset-x nan", 1, "--offset-x"},
      {"resize @in.pfm @o.pfm --width 3 --height 2 --deviation-x -12", 1, "deviation"},
      {"resize @in.pfm @o.pfm --width 100000 --height 100000", 1, ""},  // too many pixels
      {"resize @missing.png @o.pfm --width 3 --height 2", 2, "missing.png"},
      // downscale: fields checked in the dialog's order, the first bad one speaks
      {"downscale @in.pfm @o.pfm --width 0", 1, down + "width" + between + "1 and 100000.\n"},
      {"downscale @in.pfm @o.pfm --height 12px", 1, down + "height: Enter a positive integer.\n"},
      {"downscale @in.pfm @o.pfm --smoothness 2.5", 1, down + "smoothness" + number + " between 0.5 and 2.\n"},
      {"downscale @in.pfm @o.pfm --trials 3", 1, down + "trials" + between + "4 and 256.\n"},
      {"downscale @in.pfm @o.pfm --deviation -0.5", 1, down + "deviation" + number + " between 0 and 64.\n"},
      {"downscale @in.pfm @o.pfm --trials 3 --width 0", 1, down + "width" + between + "1 and 100000.\n"},
      {"downscale @in.pfm @o.pfm --deviation 99 --smoothness 9", 1, down + "smoothness" + number},
      {"downscale @missing.png @o.pfm --trials 3", 1, ""},  // values before the input
      {"downscale @in.pfm @o.pfm --filter nearest", 1, ""},
      {"downscale @missing.png @o.pfm", 2, ""},
      {"downscale @in.pfm @o.xyz --trials 4", 3, ""},
      {"downscale @in.pfm @no/o.pfm", 3, ""},
      {"upscale @in.pfm @o.pfm --iterations 1001", 1, up + "iterations" + between + "0 and 1000.\n"},
      {"upscale @in.pfm @o.pfm --iterations 2.5", 1, up + "iterations" + integer},
      {"upscale @in.pfm @o.pfm --iterations 0x10", 1, up + "iterations" + integer},
      {"upscale @in.pfm @o.pfm --fractal 101", 1, up + "fractal" + between + "0 and 100.\n"},
      {"upscale @in.pfm @o.pfm --edge-iterations x", 1, up + "edge-iterations" + integer},
      {"upscale @in.pfm @o.pfm --strength strong", 1, up + "strength" + number + ".\n"},
      {"upscale @in.pfm @o.pfm --strength nan", 1, up + "strength" + number + ".\n"},
      {"upscale @in.pfm @o.pfm --side-lobe inf", 1, up + "side-lobe" + number + ".\n"},
      {"upscale @in.pfm @o.pfm --width 0", 1, up + "width" + between + "1 and 100000.\n"},
      {"upscale @in.pfm @o.pfm --height -4", 1, up + "height: Enter a positive integer.\n"},
      // the library's settings check (tests/api), in its own words
      {"upscale @in.pfm @o.pfm --init @wrong.pfm", 1, "upscale: Image dimensions do not match!\n"},
      {"upscale @in.pfm @o.pfm --width 100000 --height 100000", 1, ""},  // past the limits
      {"upscale @missing.pfm @o.pfm", 2, ""},
      // the output checked before any work, named as given
      {"upscale @in.pfm @missing/x.png", 3, "'" + dir.File("missing/x.png") + "'"},
      {"upscale @in.pfm @o.gif", 3, "'" + dir.File("o.gif") + "'"},
      {"upscale @in.pfm @", 3, ""},
      // batches; "-o @o" writes into the folder o
      {"convert @f @x.png", 2, ""},  // a folder needs -o
      {"convert @a.png @b.png @x.png", 1, ""},
      {"convert @a.png @x.png --recursive", 1, ""},
      {"convert @a.png -o @o --skip-existing --overwrite", 1, ""},
      {"convert @a.png -o @o --shard 2/2", 1, ""},
      {"convert @a.png -o @o --shard 1", 1, ""},
      {"convert @a.png -o @o --name {stem}.{format}", 1, ""},
      {"convert @a.png -o @o --name sub/{stem}.png", 1, ""},
      {"convert @a.png -o @o --name {stem}.gif", 1, ""},
      {"convert @a.png @f/a.png -o @o --name same.png", 1, ""},
      {"convert @f @g -o @o", 1, ""},  // both give o/a.png
      {"convert @a.png -o @", 1, ""},  // the output is the input
      {"convert - -o @o", 1, ""},
      {"convert @missing.png -o @o", 2, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args;
    std::istringstream words(c.args);
    for (std::string word; words >> word;) args.push_back(word[0] == '@' ? dir.File(word.substr(1)) : word);
    const CliResult r = Cli(args);
    EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  EXPECT_EQ(Names(dir.path(), true), inputs);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "o"));
}

TEST(Cli, ChartInfoAndConvert) {
  TempDir dir;
  ASSERT_EQ(Cli({"chart", dir.File("c.png"), "--width", "40", "--height", "30", "--seed", "3"}).status, 0);
  CliResult r = Cli({"info", dir.File("c.png")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "width=40 height=30 bitdepth=0 alpha=0 format=png depth=8 grey=0 profile=0 exif=0\n");
  ASSERT_EQ(Cli({"convert", dir.File("c.png"), dir.File("c.bmp")}).status, 0);
  EXPECT_EQ(Cli({"info", dir.File("c.bmp")}).out,
            "width=40 height=30 bitdepth=24 alpha=0 format=bmp depth=8 grey=0 profile=0 exif=0\n");

  // The output options: a depth and format by name, whatever the extension.
  const std::string size = "width=40 height=30 bitdepth=0 alpha=0 format=";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      // the start of info's line on the file
      {{dir.File("e.png"), "--depth", "16"}, size + "png depth=16"},
      {{dir.File("e.x"), "--format", "tif", "--depth", "32f"}, size + "tiff depth=32f"},
      {{dir.File("e.webp"), "--lossless"}, size + "webp depth=8"},
      {{dir.File("e.jpg"), "--quality", "50"}, size + "jpeg depth=8"},
  };
  for (const auto& [args, info] : cases) {
    EXPECT_EQ(Cli({"convert", dir.File("c.png")}, args).status, 0) << args[0];
    EXPECT_EQ(Cli({"info", args[0]}).out.substr(0, info.size()), info);
  }
  const CliResult piped = Cli({"convert", dir.File("c.png"), "-", "--format", "bmp"});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out, FileBytes(dir.File("c.bmp")));
}

// Unreadable inputs give status 2 and their reason, from `convert` and from
// `info`, which reads the header only and so passes damage past it.
TEST(Cli, UnreadableInputsGiveStatus2AndTheirReason) {
  TempDir dir;
  ASSERT_EQ(Cli({"chart", dir.File("c.bmp"), "--width", "16", "--height", "16"}).status, 0);
  const std::string bmp = FileBytes(dir.File("c.bmp"));
  ASSERT_EQ(bmp.size(), 54u + 48 * 16);
  std::filesystem::create_directory(dir.path() / "folder.png");
  const std::string one = Float32(1.0f, true);
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    const char* name;
    std::string bytes;
    const char* says;
    bool headerShowsIt;
  } cases[] = {
      {"cut.bmp", bmp.substr(0, 54 + 48 * 7 + 5), "BMP truncated after row 7 of 16 (the top 9 rows are missing)", true},
      // Samples that are not finite: the first from the top row is named,
      // though rows are stored bottom first.
      {"grey.pfm", "Pf\n1 2\n1.0\n" + Float32(inf, false) + Float32(1.0f, false),
       "PFM sample at row 1, column 0 (grey) is +infinity: samples must be finite", false},
      {"colour.pfm", "PF\n1 2\n-1.0\n" + Float32(-inf, true) + one + one + one + one + Float32(std::nanf(""), true),
       "PFM sample at row 0, column 0 (blue) is NaN", false},
      {"junk.bmp", "this is not an image", "not an image: its first bytes match no format this program reads", true},
      {"folder.png", "", "it is a folder, not a file", true},
      // Malformed PFM headers, and colour data one sample long.
      {"short.pfm", "PF\n1 1\n-1.0\n" + one,
       "PFM truncated after row 0 of 1 (all rows are missing): its pixel data "
       "needs 12 bytes from offset 12, the file holds 4 of them",
       true},
      {"narrow.pfm", "PF\n0 1\n-1.0\n", "PFM of 0 x 1 pixels is outside the limits of 1 to 100000 pixels a side", true},
      {"wide.pfm", "PF\n200000 1\n-1.0\n", "PFM of 200000 x 1 pixels is outside the limits", true},
      {"flat.pfm", "PF\n1 1\n0\n" + one + one + one, "PFM scale must be a non-zero number, not '0'", true},
      {"negative.pfm", "PF\n-1 1\n-1.0\n", "PFM header is malformed: width and height must be whole numbers", true},
      {"cut.pfm", "PF\n1 1", "PFM truncated in its header", true},
  };
  for (const auto& c : cases) {
    if (std::string(c.name) != "folder.png") WriteFileBytes(dir.File(c.name), c.bytes);
    const std::string expected = "kestrune-cli: cannot read '" + dir.File(c.name) + "': " + c.says;
    const CliResult convert = Cli({"convert", dir.File(c.name), dir.File("o.bmp")});
    EXPECT_EQ(convert.status, 2) << c.name;
    EXPECT_EQ(convert.err.rfind(expected, 0), 0u) << convert.err;
    const CliResult info = Cli({"info", dir.File(c.name)});
    EXPECT_EQ(info.status, c.headerShowsIt ? 2 : 0) << c.name;
    EXPECT_EQ(info.err, c.headerShowsIt ? convert.err : "") << c.name;
  }
  // Standard input that is no image is refused from its first bytes, not
  // read to its end.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"convert", "-", dir.File("o.png")}, {"info", "-"}}) {
    ASSERT_NE(std::freopen("/dev/zero", "rb", stdin), nullptr);
    const CliResult endless = Cli(args);
    EXPECT_EQ(endless.status, 2);
    EXPECT_NE(endless.err.find(": not an image: its first bytes match no format this program reads\n"),
              std::string::npos);
  }
  std::freopen("/dev/null", "rb", stdin);
}

// PFM samples are read x 255 (1.0 is white) unclamped, written / 255,
// little-endian ("PF" colour, "Pf" grey) with the bottom row first.
TEST(Cli, PfmHoldsUnclampedFloatsWithOneAsWhiteInBothByteOrders) {
  TempDir dir;
  const float values[2][2][3] = {{{-3.25f, 300.5f, 1e-7f}, {0.1f, 255.0f, -0.0f}},
                                 {{1234.5f, -1e6f, 0.5f}, {7.0f, 8.0f, 9.0f}}};  // [y][x][c]
  std::string big = "PF\n2 2\n1.0\n";  // big-endian (positive scale), bottom row first
  for (int i = 0; i < 12; ++i) big += Float32(values[1 - i / 6][i / 3 % 2][i % 3], false);
  WriteFileBytes(dir.File("big.pfm"), big);
  ASSERT_EQ(Cli({"convert", dir.File("big.pfm"), dir.File("out.pfm")}).status, 0);
  const Image image = ReadFile(dir.File("out.pfm"));
  ASSERT_EQ(image.Width(), 2u);
  for (int i = 0; i < 12; ++i) {
    const float want = values[i / 6][i / 3 % 2][i % 3] * 255.0f;
    EXPECT_NEAR(image.Row(i % 3, i / 6)[i / 3 % 2], want, 1e-6f * std::fabs(want)) << i;
  }
  const std::string written = FileBytes(dir.File("out.pfm"));
  EXPECT_EQ(written.substr(0, 16), "PF\n2 2\n-1.0\n" + Float32(1234.5f, true));
  // Grey: one plane copied into all three, and written back as it was.
  const std::string samples = Float32(1.5f, true) + Float32(-2.0f, true) + Float32(999.0f, true);
  WriteFileBytes(dir.File("grey.pfm"), "Pf 3 1 -2.0\n" + samples);
  const Image grey = ReadFile(dir.File("grey.pfm"));
  const float read[3] = {382.5f, -510.0f, 254745.0f};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(grey.Row(i / 3, 0)[i % 3], read[i % 3]) << i;
  EXPECT_EQ(Cli({"info", dir.File("grey.pfm")}).out,
            "width=3 height=1 bitdepth=0 alpha=0 format=pfm depth=32f grey=1 profile=0 exif=0\n");
  ASSERT_EQ(Cli({"convert", dir.File("grey.pfm"), dir.File("grey2.pfm")}).status, 0);
  EXPECT_EQ(FileBytes(dir.File("grey2.pfm")), "Pf\n3 1\n-1.0\n" + samples);
}

}  // namespace
