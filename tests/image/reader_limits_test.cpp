// Sizes the readers refuse and allocation failures inside them: a PNG or
// JPEG header beyond the limits gives 2 before any allocation, and when the
// image planes cannot be allocated every reader returns 2 instead of ending
// the process.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

#include <gtest/gtest.h>

#include "image/image_readers.h"
#include "image/image_test_util.h"
#include "image/image_writers.h"
#include "support/test_support.h"

using namespace kestrune;

namespace {

// A small PNG whose IHDR is rewritten to width x height (with a fresh CRC).
std::vector<uint8_t> PngClaiming(const TempDir& dir, uint32_t width, uint32_t height) {
  FloatImage image(2, 2);
  image.Clear();
  EXPECT_EQ(WritePng(dir.File("small.png"), image), kWriteOk);
  std::vector<uint8_t> f = ReadBytes(dir.File("small.png"));
  for (int i = 0; i < 4; ++i) {
    f[16 + i] = uint8_t(width >> (24 - 8 * i));
    f[20 + i] = uint8_t(height >> (24 - 8 * i));
  }
  const uLong crc = crc32(0, f.data() + 12, 17);
  for (int i = 0; i < 4; ++i) f[29 + i] = uint8_t(crc >> (24 - 8 * i));
  return f;
}

// A JPEG whose frame header claims width x height; `source` is a valid JPEG.
std::vector<uint8_t> JpegClaiming(std::vector<uint8_t> f, uint16_t width, uint16_t height) {
  for (std::size_t i = 0; i + 9 < f.size(); ++i)
    if (f[i] == 0xFF && (f[i + 1] == 0xC0 || f[i + 1] == 0xC2)) {
      f[i + 5] = uint8_t(height >> 8);
      f[i + 6] = uint8_t(height);
      f[i + 7] = uint8_t(width >> 8);
      f[i + 8] = uint8_t(width);
      break;
    }
  return f;
}

std::vector<uint8_t> SmallJpeg() {
  // The JPEG stream embedded in a BMP of the peer suite, from its data offset.
  const auto bmp = ReadBytes((SharedDir() / "peers" / "bmpsuite" / "q" / "rgb24jpeg.bmp").string());
  if (bmp.size() < 14) return {};
  const uint32_t offset = bmp[10] | bmp[11] << 8 | bmp[12] << 16 | uint32_t(bmp[13]) << 24;
  return std::vector<uint8_t>(bmp.begin() + offset, bmp.end());
}

TEST(ReaderLimits, HeadersBeyondTheLimitsGive2) {
  TempDir dir;
  FloatImage image;
  WriteBytes(dir.File("wide.png"), PngClaiming(dir, kMaxImageSide + 1, 1));
  EXPECT_EQ(ReadPng(dir.File("wide.png"), image, true), kReadFailed);
  WriteBytes(dir.File("many.png"), PngClaiming(dir, 20000, 20000));
  EXPECT_EQ(ReadPng(dir.File("many.png"), image, true), kReadFailed);

  const auto jpeg = SmallJpeg();
  ASSERT_FALSE(jpeg.empty());
  WriteBytes(dir.File("ok.jpg"), jpeg);
  ASSERT_EQ(ReadJpeg(dir.File("ok.jpg"), image), kReadOk);
  WriteBytes(dir.File("big.jpg"), JpegClaiming(jpeg, 65000, 65000));
  EXPECT_EQ(ReadJpeg(dir.File("big.jpg"), image), kReadFailed);
}

#if !defined(__SANITIZE_ADDRESS__)
// Runs `read` in a child process whose address space is capped at 1 GiB, so
// that the 3 GiB of planes for a 16384 x 16384 image cannot be allocated.
int ReadWithLittleMemory(int (*read)(const std::string&, FloatImage&), const std::string& path) {
  const pid_t child = fork();
  if (child == 0) {
    rlimit limit{rlim_t{1} << 30, rlim_t{1} << 30};
    setrlimit(RLIMIT_AS, &limit);
    FloatImage image;
    _exit(read(path, image));
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

TEST(ReaderLimits, AllocationFailureGives2) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the cap allows";
#else
  TempDir dir;
  BmpLayout bmp;  // 16384 x 16384 within the limits, pixel data missing
  bmp.width = 16384;
  bmp.height = 16384;
  WriteBytes(dir.File("big.bmp"), MakeBmp(bmp));
  WriteBytes(dir.File("big.png"), PngClaiming(dir, 16384, 16384));
  const auto jpeg = SmallJpeg();
  ASSERT_FALSE(jpeg.empty());
  WriteBytes(dir.File("big.jpg"), JpegClaiming(jpeg, 16384, 16384));

  EXPECT_EQ(ReadWithLittleMemory(ReadBmp, dir.File("big.bmp")), kReadFailed);
  EXPECT_EQ(ReadWithLittleMemory([](const std::string& p, FloatImage& i) { return ReadPng(p, i, true); },
                                 dir.File("big.png")),
            kReadFailed);
  EXPECT_EQ(ReadWithLittleMemory(ReadJpeg, dir.File("big.jpg")), kReadFailed);
  // The combined reader tries the BMP reader twice on the same image: the
  // failed allocation must leave it empty, not half-built at the new size.
  EXPECT_EQ(ReadWithLittleMemory(ReadImageFile, dir.File("big.bmp")), kReadNoReader);
  EXPECT_EQ(ReadWithLittleMemory(
                [](const std::string&, FloatImage& image) {
                  try {
                    image.Allocate(16384, 16384);
                  } catch (const std::bad_alloc&) {
                  }
                  if (!image.IsEmpty() || image.width != 0 || image.samples(0) != nullptr) return 1;
                  image.Allocate(16, 16);
                  return image.rows(2) != nullptr && image.rows(2)[15] == image.samples(2) + 240 ? 0 : 1;
                },
                ""),
            0);
#endif
}

}  // namespace
