// Sizes the readers refuse before allocating, and allocation failures inside
// them, which give 2 instead of ending the process.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "image/image_readers.h"
#include "image/image_test_util.h"
#include "image/image_writers.h"
#include "support/test_support.h"

using namespace kestrune;

namespace {

// The CRC-32 of PNG chunks.
uint32_t Crc32(const uint8_t* p, std::size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// A small RGB PNG whose IHDR is rewritten to width x height (with a fresh CRC).
std::vector<uint8_t> PngClaiming(const TempDir& dir, uint32_t width, uint32_t height) {
  FloatImage image(2, 2);
  image.Clear();
  EXPECT_FALSE(WriteImageFile(dir.File("small.png"), image, {.format = FileFormat::kPng}));
  std::vector<uint8_t> f = ReadBytes(dir.File("small.png"));
  for (int i = 0; i < 4; ++i) f[16 + i] = uint8_t(width >> (24 - 8 * i)), f[20 + i] = uint8_t(height >> (24 - 8 * i));
  const uint32_t crc = Crc32(f.data() + 12, 17);
  for (int i = 0; i < 4; ++i) f[29 + i] = uint8_t(crc >> (24 - 8 * i));
  return f;
}

// The valid JPEG `f` with a frame header claiming width x height.
std::vector<uint8_t> JpegClaiming(std::vector<uint8_t> f, uint16_t width, uint16_t height) {
  for (std::size_t i = 0; i + 9 < f.size(); ++i)
    if (f[i] == 0xFF && (f[i + 1] == 0xC0 || f[i + 1] == 0xC2 || f[i + 1] == 0xC9)) {
      f[i + 5] = uint8_t(height >> 8), f[i + 6] = uint8_t(height), f[i + 7] = uint8_t(width >> 8),
            f[i + 8] = uint8_t(width);
      break;
    }
  return f;
}

// The JPEG stream embedded in a BMP of the peer suite, from its data offset.
std::vector<uint8_t> SmallJpeg() {
  const auto bmp = ReadBytes((SharedDir() / "peers" / "bmpsuite" / "q" / "rgb24jpeg.bmp").string());
  if (bmp.size() < 14) return {};
  const uint32_t offset = bmp[10] | bmp[11] << 8 | bmp[12] << 16 | uint32_t(bmp[13]) << 24;
  return std::vector<uint8_t>(bmp.begin() + offset, bmp.end());
}

// Sizes beyond the limits, or more than a file of its length can hold. The
// least data by hand: PNG a filter byte and 3 x width bytes a row, inflating
// at most 1032:1; JPEG 4:2:0 blocks of 8 x 8 at two bits each when
// sequential, 4:4:4 at one bit in a progressive DC scan.
TEST(ReaderLimits, SizesBeyondTheLimitsOrTheFileAreRefused) {
  TempDir dir;
  MakeVipsImage(9, 5, 3, VIPS_FORMAT_UCHAR, [](int, int, int) {
    return 7;
  }).jpegsave(dir.File("p.jpg").c_str(), vips::VImage::option()->set("interlace", true)->set("Q", 100));
  const auto jpeg = SmallJpeg();
  ASSERT_FALSE(jpeg.empty());
  const auto png = PngClaiming(dir, 20000, 10000), wideJpeg = JpegClaiming(jpeg, 60000, 4000),
             progressive = JpegClaiming(ReadBytes(dir.File("p.jpg")), 8000, 8000);
  const std::string pngSize = std::to_string(png.size()),
                    limits = " pixels is outside the limits of 1 to 100000 pixels a side and 268435456 in all";
  const struct {
    std::vector<uint8_t> bytes;
    std::string message;  // empty: read
  } cases[] = {
      {PngClaiming(dir, kMaxImageSide + 1, 1), "PNG of 100001 x 1" + limits},
      {PngClaiming(dir, 20000, 20000), "PNG of 20000 x 20000" + limits},
      {jpeg, ""},
      {JpegClaiming(jpeg, 65000, 65000), "JPEG of 65000 x 65000" + limits},
      {png, "PNG of 20000 x 10000 pixels needs 600010000 bytes of image data, more than a file of " + pngSize +
                " bytes can hold (at most " + std::to_string(1032 * png.size()) + ")"},
      {wideJpeg,
       "JPEG of 60000 x 4000 pixels needs at least 1406250 bytes for the 5625000 blocks of its first scan, "
       "more than the file's " +
           std::to_string(wideJpeg.size())},
      {progressive,
       "JPEG of 8000 x 8000 pixels needs at least 375000 bytes for the 3000000 blocks of its first "
       "scan, more than the file's " +
           std::to_string(progressive.size())},
  };
  for (const auto& c : cases) {
    WriteBytes(dir.File("claim"), c.bytes);
    for (DamagePolicy policy : {DamagePolicy::kRefuse, DamagePolicy::kKeepReadable}) {
      FloatImage image;
      const ReadStatus status = ReadImageFile(dir.File("claim"), image, policy);
      EXPECT_EQ(status.code, c.message.empty() ? ErrorCode::kNone : ErrorCode::kUnreadable) << c.message;
      EXPECT_EQ(status.message, c.message);
    }
  }
}

#if !defined(__SANITIZE_ADDRESS__)
// Runs `read` in a child process capped at 1 GiB of address space: no room
// for the 3 GiB of planes of a 16384 x 16384 image.
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

TEST(ReaderLimits, TooLittleMemoryGives4BeforeDecoding) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the cap allows";
#else
  // 16384 x 16384 images within the limits, each (sparse) file long enough,
  // and a WebP whose lossless header claims 16383 x 16383.
  TempDir dir;
  WriteBytes(dir.File("big.bmp"), MakeBmp({.width = 16384, .height = 16384, .bits = 1}));
  WriteBytes(dir.File("big.png"), PngClaiming(dir, 16384, 16384));
  const auto jpeg = SmallJpeg();
  ASSERT_FALSE(jpeg.empty());
  WriteBytes(dir.File("big.jpg"), JpegClaiming(jpeg, 16384, 16384));
  WriteBytes(dir.File("big.pfm"),
             {'P', 'f', ' ', '1', '6', '3', '8', '4', ' ', '1', '6', '3', '8', '4', ' ', '1', '\n'});
  MakeVipsImage(2, 2, 3, VIPS_FORMAT_UCHAR, [](int, int, int) {
    return 9;
  }).webpsave(dir.File("big.webp").c_str(), vips::VImage::option()->set("lossless", true));
  // Its lossless chunk alone, without the extended header libvips adds.
  const std::vector<uint8_t> made = ReadBytes(dir.File("big.webp"));
  const std::size_t at = std::string(made.begin(), made.end()).find("VP8L"), chunk = 8 + (made[at + 4] + 1) / 2 * 2;
  std::vector<uint8_t> webp = {'R', 'I', 'F', 'F'};
  PutLE(webp, 4 + chunk, 4);
  webp.insert(webp.end(), {'W', 'E', 'B', 'P'});
  webp.insert(webp.end(), made.begin() + at, made.begin() + at + chunk);
  webp[21] = 0xFE, webp[22] = 0xBF, webp[23] = 0xFF, webp[24] = (webp[24] & 0xF0) | 0x0F;  // 14 bits each, less one
  WriteBytes(dir.File("big.webp"), webp);
  for (const char* name : {"big.bmp", "big.png", "big.jpg", "big.pfm", "big.webp"}) {
    if (std::string(name) != "big.webp") std::filesystem::resize_file(dir.File(name), uint64_t{1} << 31);
    EXPECT_EQ(ReadWithLittleMemory([](const std::string& p, FloatImage& i) { return int(ReadImageFile(p, i).code); },
                                   dir.File(name)),
              int(ErrorCode::kOutOfMemory))
        << name;
  }
  // A failed allocation leaves the image empty, not half-built at the new size.
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
