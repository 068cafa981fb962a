// kestrune-cli resize: refused arguments, and resizes checked through exact
// PFM files (a shifted copy, a flat image, the alpha plane dropped).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli_test_util.h"
#include "support/test_support.h"

using kestrune::Image;
using kestrune::TempDir;

namespace {

int Resize(std::vector<std::string> args, std::string* err = nullptr) {
  args.insert(args.begin(), "resize");
  const CliResult r = Cli(std::move(args));
  if (err) *err = r.err;
  return r.status;
}

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
  const std::vector<std::string> size{"--width", "3", "--height", "2"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args{in, out};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  std::string err;
  EXPECT_EQ(Resize({in, out, "--width", "0", "--height", "2"}, &err), kExitUsage);
  EXPECT_NE(err.find("--width"), std::string::npos) << err;
  EXPECT_EQ(Resize({in, out, "--width", "3", "--height", "100001"}), kExitUsage);
  EXPECT_EQ(Resize({in, out, "--width", "3"}), kExitUsage);  // height missing
  EXPECT_EQ(Resize({in, out, "--width", "x", "--height", "2"}), kExitUsage);
  EXPECT_EQ(Resize({in, out, "--width", "0x10", "--height", "2"}), kExitUsage);
  EXPECT_EQ(Resize(with({"--width", "3", "--height", "2", "--filter", "gauss"})), kExitUsage);
  EXPECT_EQ(Resize(with({"--width", "3", "--height", "2", "--smoothness", "0.4"}), &err), kExitUsage);
  EXPECT_NE(err.find("--smoothness"), std::string::npos) << err;
  EXPECT_EQ(Resize(with({"--width", "3", "--height", "2", "--offset-x", "nan"})), kExitUsage);
  EXPECT_EQ(Resize(with({"--width", "3", "--height", "2", "--deviation-x", "-5"}), &err), kExitUsage);
  EXPECT_NE(err.find("deviation"), std::string::npos) << err;
  EXPECT_EQ(Resize(with({"--width", "100000", "--height", "100000"})), kExitUsage);  // too many pixels
  EXPECT_EQ(Resize({dir.File("missing.png"), out, "--width", "3", "--height", "2"}), kExitUnreadable);
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(ResizeCommand, ShiftedCopyWithoutAlpha) {
  TempDir dir;
  const std::string in = WriteSource(dir), out = dir.File("out.pfm");
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
}

TEST(ResizeCommand, DefaultsAreCatmullRomUnshifted) {
  TempDir dir;
  const std::string in = WriteSource(dir), a = dir.File("a.pfm"), b = dir.File("b.pfm");
  ASSERT_EQ(Resize({in, a, "--width", "7", "--height", "3"}), kExitOk);
  ASSERT_EQ(Resize({in, b, "--width", "7", "--height", "3", "--filter", "Catmull-Rom", "--offset-x", "0",
                    "--deviation-y", "0", "--smoothness", "1"}),
            kExitOk);
  EXPECT_TRUE(SameSamples(ReadFile(a), ReadFile(b)));
}

}  // namespace
