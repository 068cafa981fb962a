// kestrune-cli resize: refused arguments, and resizes checked through exact
// PFM files (a shifted copy, a flat image, the alpha plane dropped).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli_test_util.h"

using kestrune::Image;
using kestrune::TempDir;

namespace {

int Resize(std::vector<std::string> args) { return Cli({"resize"}, args).status; }

// A 5 x 4 image with distinct samples in every plane, and an alpha plane.
std::string WriteSource(const TempDir& dir) {
  Image image(5, 4, true);
  for (int c = 0; c < 4; ++c)
    for (int i = 0; i < 20; ++i) image.Plane(c)[i] = float(10 * c + i);
  const std::string path = dir.File("in.pfm");
  WriteFile(image, path);
  return path;
}

TEST(ResizeCommand, RefusesBadValues) {
  TempDir dir;
  const std::string in = WriteSource(dir), out = dir.File("out.pfm");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* names;  // what the message names
  } cases[] = {
      {{in, out, "--width", "0", "--height", "2"}, kExitUsage, "--width"},
      {{in, out, "--width", "3", "--height", "100001"}, kExitUsage, "--height"},
      {{in, out, "--width", "3"}, kExitUsage, "--height"},  // height missing
      {{in, out, "--width", "x", "--height", "2"}, kExitUsage, "--width"},
      {{in, out, "--width", "0x10", "--height", "2"}, kExitUsage, "--width"},
      {{in, out, "--width", "3", "--height", "2", "--filter", "gauss"}, kExitUsage, "--filter"},
      {{in, out, "--width", "3", "--height", "2", "--smoothness", "0.4"}, kExitUsage, "--smoothness"},
      {{in, out, "--width", "3", "--height", "2", "--offset-x", "nan"}, kExitUsage, "--offset-x"},
      {{in, out, "--width", "3", "--height", "2", "--deviation-x", "-5"}, kExitUsage, "deviation"},
      {{in, out, "--width", "100000", "--height", "100000"}, kExitUsage, ""},  // too many pixels
      {{dir.File("missing.png"), out, "--width", "3", "--height", "2"}, kExitUnreadable, "missing.png"},
  };
  for (const auto& c : cases) {
    const CliResult r = Cli({"resize"}, c.args);
    EXPECT_EQ(r.status, c.status) << c.args[2] << " " << c.args[3];
    EXPECT_NE(r.err.find(c.names), std::string::npos) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(ResizeCommand, ShiftedCopyWithoutAlphaAndTheDefaults) {
  TempDir dir;
  const std::string in = WriteSource(dir), out = dir.File("out.pfm"), a = dir.File("a.pfm"), b = dir.File("b.pfm");
  // Same size, whole-pixel offsets: a shifted copy with the edges replicated.
  ASSERT_EQ(Resize({in, out, "--width", "5", "--height", "4", "--offset-x", "1", "--offset-y", "-1", "--filter",
                    "lanczos3"}),
            kExitOk);
  const Image result = ReadFile(out);
  ASSERT_EQ(result.Width(), 5u);
  ASSERT_EQ(result.Height(), 4u);
  EXPECT_FALSE(result.HasAlpha());
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) {
        const int sx = std::min(x + 1, 4), sy = std::max(y - 1, 0);
        EXPECT_NEAR(result.Plane(c)[y * 5 + x], float(10 * c + sy * 5 + sx), 1e-3) << c << " " << x << "," << y;
      }
  // The defaults: Catmull-Rom, unshifted.
  ASSERT_EQ(Resize({in, a, "--width", "7", "--height", "3"}), kExitOk);
  ASSERT_EQ(Resize({in, b, "--width", "7", "--height", "3", "--filter", "Catmull-Rom", "--offset-x", "0",
                    "--deviation-y", "0", "--smoothness", "1"}),
            kExitOk);
  EXPECT_TRUE(SameSamples(ReadFile(a), ReadFile(b)));
}

}  // namespace
