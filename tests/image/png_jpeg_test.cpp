// Reading and writing with files made in the test: both writers' round
// trips, grey and colour JPEGs from libjpeg's compressor, truncated files
// refused or kept, four-component JPEGs, the format told by the first bytes
// whatever the file's name, and the header probe.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/image_readers.h"
#include "image/image_test_util.h"
#include "image/image_writers.h"
#include "support/test_support.h"

using namespace kestrune;

namespace {

TEST(ReadJpeg, ColourAndGreyJpegsKeepTheirSamples) {
  TempDir dir;
  // Four flat quadrants: a JPEG at quality 100 reproduces flat areas within
  // a step or two. A grey JPEG has the red ones, in all three planes.
  const int colours[4][3] = {{200, 30, 40}, {20, 180, 60}, {10, 20, 220}, {128, 128, 128}};
  auto sample = [&](int x, int y, int c) { return colours[(y / 8) * 2 + x / 16][c]; };
  for (int components : {3, 1}) {
    SCOPED_TRACE(components);
    WriteJpeg(dir.File("q.jpg"), 32, 16, components, sample);
    FloatImage image;
    image.sourceBitDepth = 8;
    const ReadStatus status = ReadImageFile(dir.File("q.jpg"), image);
    ASSERT_EQ(status.code, kReadOk);
    EXPECT_TRUE(status.warnings.empty());
    ASSERT_EQ(image.width, 32u);
    ASSERT_EQ(image.height, 16u);
    EXPECT_FALSE(image.HasAlpha());
    EXPECT_EQ(image.sourceBitDepth, 8u) << "only the BMP reader sets the bit depth";
    for (int y : {2, 5, 11, 14})
      for (int x : {3, 12, 20, 28})
        for (int c = 0; c < 3; ++c)
          EXPECT_NEAR(At(image, c, x, y), sample(x, y, components == 1 ? 0 : c), 3) << x << "," << y << "," << c;
    for (int c = 1; c < 3 && components == 1; ++c)
      EXPECT_TRUE(std::equal(image.samples(0), image.samples(0) + image.PixelCount(), image.samples(c)));
  }
}

TEST(ReadJpeg, FourComponentsAndFatalErrorsAreRefusedWithTheirReason) {
  TempDir dir;
  FloatImage image;
  WriteJpeg(dir.File("k.jpg"), 8, 8, 4, [](int, int, int c) { return 50 * c; });
  ReadStatus status = ReadImageFile(dir.File("k.jpg"), image);
  EXPECT_EQ(status.code, kReadFailed);
  EXPECT_EQ(status.message, "JPEG with four components (CMYK) is not supported");

  // A lossless frame marker, which the library does not decode.
  WriteJpeg(dir.File("l.jpg"), 8, 8, 1, [](int, int, int) { return 9; });
  std::vector<uint8_t> bytes = ReadBytes(dir.File("l.jpg"));
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) bytes[i + 1] = 0xC3;
  WriteBytes(dir.File("l.jpg"), bytes);
  status = ReadImageFile(dir.File("l.jpg"), image);
  EXPECT_EQ(status.code, kReadFailed);
  EXPECT_EQ(status.message, "JPEG library: Unsupported JPEG process: SOF type 0xc3");
  EXPECT_TRUE(image.IsEmpty());
}

FloatImage Pattern(uint32_t w, uint32_t h) {
  FloatImage image(w, h);
  for (int c = 0; c < 3; ++c)
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) image.rows(c)[y][x] = float((x * 7 + y * 13 + c * 50 + x * y) % 256);
  return image;
}

// Odd widths (BMP rows are padded) and samples beyond the bytes' range.
TEST(Writers, RoundTripsAreExactAndConvertAndNothingIsWrittenOnFailure) {
  TempDir dir;
  FloatImage image = Pattern(37, 21);
  image.rows(0)[0][0] = 300.0f;  // written as 255
  image.rows(1)[0][0] = 2.5f;    // written as 2
  const struct {
    const char* name;
    int (*write)(const std::string&, const FloatImage&);
    uint32_t bitDepth;  // only the BMP reader sets it
  } writers[] = {{"r.bmp", WriteBmp, 24}, {"r.png", WritePng, 4}};
  for (const auto& w : writers) {
    SCOPED_TRACE(w.name);
    ASSERT_EQ(w.write(dir.File(w.name), image), kWriteOk);
    FloatImage back;
    back.sourceBitDepth = 4;
    ASSERT_EQ(ReadImageFile(dir.File(w.name), back).code, kReadOk);
    EXPECT_EQ(back.sourceBitDepth, w.bitDepth);
    EXPECT_FALSE(back.HasAlpha());
    ASSERT_EQ(back.width, 37u);
    ASSERT_EQ(back.height, 21u);
    EXPECT_EQ(back.rows(0)[0][0], 255.0f);
    EXPECT_EQ(back.rows(1)[0][0], 2.0f);
    for (int c = 0; c < 3; ++c)
      for (std::size_t i = 1; i < image.PixelCount(); ++i) ASSERT_EQ(back.samples(c)[i], image.samples(c)[i]);
    EXPECT_EQ(w.write(dir.File("empty"), FloatImage()), kWriteEmptyImage);
    EXPECT_FALSE(std::filesystem::exists(dir.File("empty")));
    EXPECT_EQ(w.write(dir.File("no/dir/x"), image), kWriteFailed);
  }
}

// A 64 x 512 noise image as PNG (several 8 KiB data chunks: noise compresses
// poorly) and a 128 x 128 detailed one as JPEG, each cut in half, then
// inside its header.
TEST(DamagedFiles, TruncationIsRefusedOrKeptWithTheRowWhereTheDataStops) {
  TempDir dir;
  FloatImage noise(64, 512);
  uint32_t state = 12345;
  for (int c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < noise.PixelCount(); ++i) {
      state = state * 1664525u + 1013904223u;
      noise.samples(c)[i] = float(state >> 24);
    }
  ASSERT_EQ(WritePng(dir.File("t.png"), noise), kWriteOk);
  WriteJpeg(dir.File("t.jpg"), 128, 128, 3,
            [](int x, int y, int c) { return int(128 + 100 * std::sin(x * 0.7 + c) * std::cos(y * 0.3)); });
  FloatImage jpeg;
  ASSERT_EQ(ReadImageFile(dir.File("t.jpg"), jpeg).code, kReadOk);
  const struct {
    const char* file;
    const FloatImage& original;
    const char* truncated;  // the message up to the row count
    const char* headerCut;
    const char* warning;  // the library's own message
  } cases[] = {
      {"t.png", noise, "PNG truncated after row ", "PNG truncated before its image data", nullptr},
      {"t.jpg", jpeg, "JPEG truncated after row ", "JPEG truncated in its header", "Premature end of JPEG file"}};
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = ReadBytes(dir.File(c.file));
    bytes.resize(bytes.size() / 2);
    WriteBytes(dir.File(c.file), bytes);
    FloatImage image;
    const ReadStatus strict = ReadImageFile(dir.File(c.file), image);
    EXPECT_EQ(strict.code, kReadFailed) << c.file;
    EXPECT_TRUE(strict.damaged && image.IsEmpty()) << c.file;
    ASSERT_EQ(strict.message.rfind(c.truncated, 0), 0u) << strict.message;
    const uint32_t rows = uint32_t(std::strtoul(strict.message.c_str() + std::string(c.truncated).size(), nullptr, 10));
    EXPECT_EQ(strict.message, c.truncated + std::to_string(rows) + " of " + std::to_string(c.original.height));
    EXPECT_GT(rows, 0u) << c.file;
    EXPECT_LT(rows, c.original.height) << c.file;

    // Kept: the rows before the stated one are exact; libpng never reached
    // the rest, which stay black.
    const ReadStatus kept = ReadImageFile(dir.File(c.file), image, DamagePolicy::kKeepReadable);
    ASSERT_EQ(kept.code, kReadOk) << c.file;
    EXPECT_TRUE(kept.damaged);
    EXPECT_EQ(kept.message, strict.message);
    if (c.warning) {
      EXPECT_EQ(kept.warnings.at(0), c.warning);
    }
    ASSERT_EQ(image.height, c.original.height);
    for (int p = 0; p < 3; ++p)
      for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
          const float want = y < rows ? At(c.original, p, x, y) : c.warning ? At(image, p, x, y) : 0;
          ASSERT_EQ(At(image, p, x, y), want) << c.file << " " << x << "," << y;
        }

    bytes.resize(20);
    WriteBytes(dir.File(c.file), bytes);
    for (DamagePolicy policy : {DamagePolicy::kRefuse, DamagePolicy::kKeepReadable}) {
      const ReadStatus cut = ReadImageFile(dir.File(c.file), image, policy);
      EXPECT_EQ(cut.code, kReadFailed) << c.file;
      EXPECT_EQ(cut.message, c.headerCut);
    }
  }
}

// The format comes from the first bytes, whatever the name; each kind of
// unreadable file gets its own reason, and only JPEG files reach the JPEG
// library.
TEST(ReadImageFile, FormatIsToldByTheFirstBytes) {
  TempDir dir;
  const std::vector<uint8_t> bmp = MakeBmp({.pixels = {1, 2, 3, 0}});
  ASSERT_EQ(WritePng(dir.File("p"), Pattern(4, 4)), kWriteOk);
  std::vector<uint8_t> damaged = ReadBytes(dir.File("p"));
  // The checksum at the end of the compressed data: zlib checks it as it
  // inflates the last row, which is then never stored.
  damaged[damaged.size() - 20] ^= 0xFF;
  WriteJpeg(dir.File("j"), 9, 5, 3, [](int, int, int) { return 100; });
  std::vector<uint8_t> pfm = {'P', 'f', ' ', '1', ' ', '1', ' ', '-', '1', '\n', 0, 0, 0x80, 0x3F};
  enum Kind { kFile, kFolder, kMissing };
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    int code;
    FileFormat format;
    const char* message;
    Kind kind = kFile;
  } cases[] = {
      {"bmp.png", bmp, kReadOk, FileFormat::kBmp, ""},
      {"png.bmp", ReadBytes(dir.File("p")), kReadOk, FileFormat::kPng, ""},
      {"jpeg.png", ReadBytes(dir.File("j")), kReadOk, FileFormat::kJpeg, ""},
      {"pfm.jpg", pfm, kReadOk, FileFormat::kPfm, ""},
      {"damaged.png", damaged, kReadFailed, FileFormat::kPng,
       "PNG damaged after row 3 of 4: IDAT: incorrect data check"},
      {"cut.png", {0x89, 'P', 'N', 'G'}, kReadFailed, FileFormat::kPng, "PNG truncated in its signature"},
      {"cut.pfm", {'P', 'F'}, kReadFailed, FileFormat::kPfm, "PFM truncated in its header"},
      {"empty.jpg", {}, kReadNoReader, FileFormat::kUnknown, "the file is empty"},
      {"gif.bmp", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}, kReadNoReader, FileFormat::kUnknown,
       "not a BMP, PNG, JPEG or PFM file (it starts with 47 49 46 38 39 61 01 00)"},
      {"PFx", {'P', 'F', 'x'}, kReadNoReader, FileFormat::kUnknown,
       "not a BMP, PNG, JPEG or PFM file (it starts with 50 46 78)"},
      {"folder.png", {}, kReadCannotOpen, FileFormat::kUnknown, "it is a folder, not a file", kFolder},
      {"missing.png", {}, kReadCannotOpen, FileFormat::kUnknown, "the file cannot be opened: No such file or directory",
       kMissing},
  };
  for (const auto& c : cases) {
    if (c.kind == kFile) WriteBytes(dir.File(c.name), c.bytes);
    if (c.kind == kFolder) std::filesystem::create_directory(dir.path() / c.name);
    FloatImage image;
    const ReadStatus status = ReadImageFile(dir.File(c.name), image);
    EXPECT_EQ(status.code, c.code) << c.name;
    EXPECT_EQ(status.format, c.format) << c.name;
    EXPECT_EQ(status.message, c.message) << c.name;
    EXPECT_EQ(image.IsEmpty(), c.code != kReadOk) << c.name;
  }
}

// The probe gives what a full read gives, without reading the pixels: a PNG
// whose image data is damaged passes it.
TEST(ReadImageHeader, AgreesWithTheFullReadWithoutReadingPixels) {
  TempDir dir;
  WriteJpeg(dir.File("g.jpg"), 24, 8, 1, [](int, int, int) { return 7; });
  WriteJpeg(dir.File("c.jpg"), 9, 5, 3, [](int, int, int) { return 7; }, {.progressive = true});
  const std::filesystem::path png = SharedDir() / "peers" / "pngsuite" / "png";
  const struct {
    std::string path;
    FileFormat format;
    uint32_t width, height, bits;
    bool alpha;
  } cases[] = {
      {(SharedDir() / "peers" / "bmpsuite" / "g" / "pal4.bmp").string(), FileFormat::kBmp, 127, 64, 4, false},
      {(png / "basn6a08.png").string(), FileFormat::kPng, 32, 32, 32, true},
      {(png / "tbbn3p08.png").string(), FileFormat::kPng, 32, 32, 8, true},  // palette with transparency
      {(png / "basn0g16.png").string(), FileFormat::kPng, 32, 32, 16, false},
      {(png / "s39i3p04.png").string(), FileFormat::kPng, 39, 39, 4, false},
      {(png / "xcsn0g01.png").string(), FileFormat::kPng, 32, 32, 1, false},  // its image data is damaged
      {dir.File("g.jpg"), FileFormat::kJpeg, 24, 8, 8, false},
      {dir.File("c.jpg"), FileFormat::kJpeg, 9, 5, 24, false},
  };
  for (const auto& c : cases) {
    ImageHeader header;
    const ReadStatus status = ReadImageHeader(c.path, header);
    ASSERT_EQ(status.code, kReadOk) << c.path << ": " << status.message;
    EXPECT_EQ(header.format, c.format) << c.path;
    EXPECT_EQ(header.width, c.width) << c.path;
    EXPECT_EQ(header.height, c.height) << c.path;
    EXPECT_EQ(header.bitsPerPixel, c.bits) << c.path;
    EXPECT_EQ(header.alpha, c.alpha) << c.path;
    FloatImage image;
    if (ReadImageFile(c.path, image).code != kReadOk) continue;
    EXPECT_EQ(image.width, c.width) << c.path;
    EXPECT_EQ(image.HasAlpha(), c.alpha) << c.path;
  }
}

}  // namespace
