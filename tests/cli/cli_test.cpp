// kestrune-cli's info, convert and chart commands: output, the output options,
// standard streams, statuses with the reasons for unreadable files, and PFM.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
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
  const std::vector<std::string> usageErrors[] = {
      {}, {"info"}, {"frobnicate"}, {"chart", "x.png", "--width", "0"}, {"chart", "x.png", "--height", "100001"}};
  for (const auto& args : usageErrors) EXPECT_EQ(Cli(args).status, 1) << testing::PrintToString(args);
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

  // Through BMP and PFM the bytes of the PNG survive exactly.
  ASSERT_EQ(Cli({"convert", dir.File("c.bmp"), dir.File("c.pfm")}).status, 0);
  ASSERT_EQ(Cli({"convert", dir.File("c.pfm"), dir.File("d.png"), "--depth", "8"}).status, 0);
  EXPECT_TRUE(SameSamples(ReadFile(dir.File("c.png")), ReadFile(dir.File("d.png"))));

  // The output options: a depth and format by name, whatever the extension;
  // a depth the format cannot hold is a bad argument; standard output.
  const std::string size = "width=40 height=30 bitdepth=0 alpha=0 format=";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string info;  // the start of info's line on the written file
  } cases[] = {
      {{dir.File("e.png"), "--depth", "16"}, 0, size + "png depth=16"},
      {{dir.File("e.x"), "--format", "tif", "--depth", "32f"}, 0, size + "tiff depth=32f"},
      {{dir.File("e.webp"), "--lossless"}, 0, size + "webp depth=8"},
      {{dir.File("e.jpg"), "--quality", "50"}, 0, size + "jpeg depth=8"},
      {{dir.File("f.jpg"), "--depth", "16"}, 1, ""},
      {{dir.File("f.jpg"), "--quality", "101"}, 1, ""},
      {{dir.File("f.png"), "--depth", "12"}, 1, ""},
      {{"-"}, 1, ""},  // standard output needs --format
  };
  EXPECT_EQ(Cli({"chart", "-"}).status, 1);
  for (const auto& c : cases) {
    EXPECT_EQ(Cli({"convert", dir.File("c.png")}, c.args).status, c.status) << c.args[0];
    if (!c.info.empty()) {
      EXPECT_EQ(Cli({"info", c.args[0]}).out.substr(0, c.info.size()), c.info);
    }
  }
  EXPECT_EQ(FileBytes(dir.File("f.jpg")), "");
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
      {"junk.bmp", "this is not an image", "not an image: its first bytes match no format this program reads (a file "
                                           "of 20 bytes)\n", true},
      {"empty.png", "", "the file is empty", true},
      {"folder.png", "", "it is a folder, not a file", true},
      // Malformed PFM headers, and colour data one sample long.
      {"short.pfm", "PF\n1 1\n-1.0\n" + one,
       "PFM truncated after row 0 of 1 (all rows are missing): its pixel data needs 12 bytes from offset 12, the file "
       "holds 4 of them", true},
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
  for (const std::vector<std::string>& args : {std::vector<std::string>{"convert", "-", dir.File("o.png")}, {"info", "-"}}) {
    ASSERT_NE(std::freopen("/dev/zero", "rb", stdin), nullptr);
    const CliResult endless = Cli(args);
    EXPECT_EQ(endless.status, 2);
    EXPECT_NE(endless.err.find(": not an image: its first bytes match no format this program reads\n"), std::string::npos);
  }
  std::freopen("/dev/null", "rb", stdin);
  EXPECT_EQ(Cli({"convert", dir.File("c.bmp"), dir.File("o.gif")}).status, 3);
  EXPECT_EQ(Cli({"convert", dir.File("c.bmp"), dir.File("no/dir/o.png")}).status, 3);
  EXPECT_EQ(Cli({"chart", dir.File("no/dir/o.pfm")}).status, 3);
}

// PFM samples are read x 255 (1.0 is white) unclamped, written / 255.
TEST(Cli, PfmHoldsUnclampedFloatsWithOneAsWhiteInBothByteOrders) {
  TempDir dir;
  const float values[2][2][3] = {{{-3.25f, 300.5f, 1e-7f}, {0.1f, 255.0f, -0.0f}},
                                 {{1234.5f, -1e6f, 0.5f}, {7.0f, 8.0f, 9.0f}}};  // [y][x][c]
  // Big-endian colour file (positive scale); rows bottom to top.
  std::string big = "PF\n2 2\n1.0\n";
  for (int y = 1; y >= 0; --y)
    for (int x = 0; x < 2; ++x)
      for (int c = 0; c < 3; ++c) big += Float32(values[y][x][c], false);
  WriteFileBytes(dir.File("big.pfm"), big);
  ASSERT_EQ(Cli({"convert", dir.File("big.pfm"), dir.File("out.pfm")}).status, 0);

  Image image = ReadFile(dir.File("out.pfm"));
  ASSERT_EQ(image.Width(), 2u);
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 2; ++x)
      for (int c = 0; c < 3; ++c) {
        const float want = values[y][x][c] * 255.0f;
        EXPECT_NEAR(image.Row(c, y)[x], want, 1e-6f * std::fabs(want)) << x << y << c;
      }

  // The written file is little-endian "PF" with bottom row first.
  const std::string written = FileBytes(dir.File("out.pfm"));
  EXPECT_EQ(written.substr(0, 12), "PF\n2 2\n-1.0\n");
  EXPECT_EQ(written.substr(12, 4), Float32(1234.5f, true));

  // Greyscale "Pf", little-endian: one plane copied into all three.
  const std::string samples = Float32(1.5f, true) + Float32(-2.0f, true) + Float32(999.0f, true);
  WriteFileBytes(dir.File("grey.pfm"), "Pf 3 1 -2.0\n" + samples);
  image = ReadFile(dir.File("grey.pfm"));
  const float read[3] = {382.5f, -510.0f, 254745.0f};
  for (int c = 0; c < 3; ++c)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(image.Row(c, 0)[x], read[x]) << c << " " << x;
  EXPECT_EQ(Cli({"info", dir.File("grey.pfm")}).out,
            "width=3 height=1 bitdepth=0 alpha=0 format=pfm depth=32f grey=1 profile=0 exif=0\n");
  // A greyscale image is written as "Pf".
  ASSERT_EQ(Cli({"convert", dir.File("grey.pfm"), dir.File("grey2.pfm")}).status, 0);
  EXPECT_EQ(FileBytes(dir.File("grey2.pfm")), "Pf\n3 1\n-1.0\n" + samples);
}

}  // namespace
