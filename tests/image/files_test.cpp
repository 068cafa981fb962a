// Files through libvips: round trips per format and depth, metadata, the
// EXIF orientations, damaged or unsupported files with their reasons, and
// every file of the peers' PNG and BMP suites.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "image/image_readers.h"
#include "image/image_test_util.h"
#include "image/image_writers.h"
#include "image/row_files.h"
#include "support/test_support.h"

using namespace kestrune;

namespace {

// Samples with fractions and beyond 0..255, a 4096-step ramp in red (finer
// than 8 bits), alpha with both ends present.
FloatImage Pattern(uint32_t w, uint32_t h, bool alpha, bool grey) {
  FloatImage image;
  image.Allocate(w, h, alpha, true);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const std::size_t i = std::size_t{y} * w + x;
      image.samples(0)[i] = float(i % 4096) * 255.0f / 4095.0f;
      image.samples(1)[i] = grey ? image.samples(0)[i] : float((x * 37 + y * 11) % 300) - 20.0f;
      image.samples(2)[i] = grey ? image.samples(0)[i] : float((x + y * 3) % 256) + 0.25f;
      if (alpha) image.samples(3)[i] = float((x * 5 + y) % 256);
    }
  image.metadata.greyscale = grey;
  return image;
}

// A sample stored at a depth: 8 and 16 bits round and clamp, floats are kept.
float Stored(float v, SampleDepth depth) {
  if (depth == SampleDepth::k32Float) return v;
  const float top = depth == SampleDepth::k16 ? 65535.0f : 255.0f, unit = depth == SampleDepth::k16 ? 257.0f : 1.0f;
  return std::nearbyint(std::clamp(v * unit, 0.0f, top)) / unit;
}

TEST(Files, RoundTripsPerFormatAndDepth) {
  TempDir dir;
  const struct {
    FileFormat format;
    SampleDepth depth;
    bool alpha, grey;
    float tolerance;  // 0: exactly the stored samples; floats: relative; lossy: the mean error
    bool lossless = false;
  } cases[] = {
      {FileFormat::kPng, SampleDepth::k8, true, false, 0},
      {FileFormat::kPng, SampleDepth::k16, true, true, 0},
      {FileFormat::kPng, SampleDepth::k16, false, false, 0},
      {FileFormat::kTiff, SampleDepth::k8, false, true, 0},
      {FileFormat::kTiff, SampleDepth::k16, true, false, 0},
      {FileFormat::kWebp, SampleDepth::k8, false, false, 20},
      {FileFormat::kTiff, SampleDepth::k32Float, true, false, 1e-4f},
      {FileFormat::kJpeg, SampleDepth::k8, false, true, 2},
      {FileFormat::kWebp, SampleDepth::k8, true, false, 0, true},
      {FileFormat::kBmp, SampleDepth::k8, false, false, 0},
      {FileFormat::kPfm, SampleDepth::k32Float, false, true, 1e-4f},
  };
  for (const auto& c : cases) {
    const std::string name = std::string(FormatName(c.format)) + "-" + std::to_string(int(c.depth)) +
                             (c.alpha ? "-alpha" : "") + (c.grey ? "-grey" : "") + (c.lossless ? "-lossless" : "");
    SCOPED_TRACE(name);
    const FloatImage image = Pattern(67, 61, c.alpha, c.grey);
    ASSERT_EQ(
        WriteImageFile(dir.File(name), image, {.format = c.format, .depth = c.depth, .lossless = c.lossless}).message,
        "");
    FloatImage back;
    const ReadStatus status = ReadImageFile(dir.File(name), back);
    ASSERT_EQ(status.code, ErrorCode::kNone) << status.message;
    EXPECT_EQ(status.format, c.format);
    ASSERT_TRUE(back.width == 67 && back.height == 61);
    EXPECT_EQ(back.HasAlpha(), c.alpha);
    EXPECT_EQ(back.metadata.greyscale, c.grey);
    EXPECT_EQ(back.metadata.depth, c.depth);
    double total = 0;
    for (int p = 0; p < (c.alpha ? 4 : 3); ++p)
      for (std::size_t i = 0; i < image.PixelCount(); ++i) {
        const float want = Stored(image.samples(p)[i], c.depth), got = back.samples(p)[i];
        // WebP does not keep the colour of fully transparent pixels.
        if (c.format == FileFormat::kWebp && p < 3 && c.alpha && image.samples(3)[i] == 0) continue;
        // Exact, within the relative tolerance of floats, or any (lossy: the mean below).
        const float allowed = c.depth == SampleDepth::k32Float ? c.tolerance * std::max(1.0f, std::fabs(want))
                              : c.tolerance == 0               ? 0.0f
                                                               : INFINITY;
        ASSERT_LE(std::fabs(got - want), allowed) << "plane " << p << " sample " << i;
        total += std::fabs(got - want);
      }
    EXPECT_LE(total / (image.PixelCount() * 3), c.depth == SampleDepth::k32Float ? 1.0 : c.tolerance);
    // 16 bits keep the 4096-step ramp apart; 8 bits merge it into 256 levels.
    const std::set<float> levels(back.samples(0), back.samples(0) + back.PixelCount());
    EXPECT_EQ(levels.size() > 256, c.depth != SampleDepth::k8);
  }
}

// libvips's own sRGB profile: one the encoders (libpng checks them) embed.
std::vector<uint8_t> Profile() {
  VipsBlob* blob = vips::VImage::profile_load("srgb");
  std::size_t length = 0;
  const auto* data = static_cast<const uint8_t*>(vips_area_get_data(&blob->area, &length, nullptr, nullptr, nullptr));
  std::vector<uint8_t> icc(data, data + length);
  vips_area_unref(&blob->area);
  return icc;
}

std::string Field(const vips::VImage& image, const char* name) {
  if (vips_image_get_typeof(image.get_image(), name) == 0) return "(none)";
  const char* text = nullptr;
  return vips_image_get_string(image.get_image(), name, &text) == 0 ? text : "(bad)";
}

// A photograph's metadata comes through the reader and every writer that
// holds it: profile, XMP and IPTC (JPEG only: libvips 8.14 cuts it short in
// TIFF) byte for byte, EXIF with orientation 1 and the turned dimensions.
TEST(Files, MetadataIsCarriedIntoEveryFormatThatHoldsIt) {
  TempDir dir;
  const std::vector<uint8_t> icc = Profile();
  const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><kestrune-test/></x:xmpmeta>";
  // IPTC as libvips holds it for JPEG: a Photoshop block around a title.
  std::vector<uint8_t> iptc = {'P', 'h', 'o', 't', 'o', 's',  'h',  'o', 'p', ' ', '3', '.', '0',
                               0,   '8', 'B', 'I', 'M', 0x04, 0x04, 0,   0,   0,   0,   0,   12};
  iptc.insert(iptc.end(), {0x1C, 0x02, 0x05, 0x00, 0x07, 'K', 'e', 's', 't', 'r', 'e', 'l'});
  vips::VImage photo = MakeVipsImage(40, 30, 3, VIPS_FORMAT_UCHAR, [](int x, int y, int b) { return x * 6 + y + b; });
  vips_image_set_blob_copy(photo.get_image(), VIPS_META_ICC_NAME, icc.data(), icc.size());
  vips_image_set_blob_copy(photo.get_image(), VIPS_META_XMP_NAME, xmp.data(), xmp.size());
  vips_image_set_blob_copy(photo.get_image(), VIPS_META_IPTC_NAME, iptc.data(), iptc.size());
  photo.set("exif-ifd0-Make", "KestrelCam");
  photo.set("exif-ifd2-DateTimeOriginal", "2024:05:06 07:08:09");
  photo.set("exif-ifd3-GPSLatitudeRef", "N");
  photo.set(VIPS_META_ORIENTATION, 6);
  photo.jpegsave(dir.File("photo.jpg").c_str(), vips::VImage::option()->set("Q", 100));

  FloatImage image;
  ASSERT_EQ(ReadImageFile(dir.File("photo.jpg"), image).code, ErrorCode::kNone);
  EXPECT_EQ(image.width, 30u);  // turned a quarter
  EXPECT_EQ(image.height, 40u);
  EXPECT_EQ(image.metadata.icc, icc);
  EXPECT_EQ(std::string(image.metadata.xmp.begin(), image.metadata.xmp.end()), xmp);
  EXPECT_EQ(image.metadata.iptc, iptc);
  ASSERT_FALSE(image.metadata.exif.empty());

  const std::pair<const char*, const char*> fields[] = {
      {"exif-ifd0-Make", "KestrelCam"},     {"exif-ifd2-DateTimeOriginal", "2024:05:06 07:08:09"},
      {"exif-ifd3-GPSLatitudeRef", "N"},    {"exif-ifd0-Orientation", "1 "},  // the value, then its meaning
      {"exif-ifd2-PixelXDimension", "30 "}, {"exif-ifd2-PixelYDimension", "40 "}};
  for (FileFormat format : {FileFormat::kJpeg, FileFormat::kPng, FileFormat::kWebp, FileFormat::kTiff}) {
    SCOPED_TRACE(FormatName(format));
    const std::string path = dir.File(std::string("out-") + FormatName(format));
    ASSERT_EQ(WriteImageFile(path, image, {.format = format}).message, "");
    FloatImage back;
    ASSERT_EQ(ReadImageFile(path, back).code, ErrorCode::kNone);
    // libvips reads no EXIF from TIFF: what this program read goes on in a JPEG.
    const std::string shown = format == FileFormat::kTiff ? path + ".jpg" : path;
    ASSERT_TRUE(shown == path || !WriteImageFile(shown, back, {.format = FileFormat::kJpeg}));
    const vips::VImage written = vips::VImage::new_from_file(shown.c_str());
    EXPECT_EQ(written.width(), 30);
    EXPECT_EQ(back.width, 30u) << "no orientation left to apply again";
    EXPECT_EQ(back.metadata.icc, icc);
    EXPECT_NE(std::string(back.metadata.xmp.begin(), back.metadata.xmp.end()).find("<kestrune-test/>"),
              std::string::npos);
    EXPECT_EQ(back.metadata.iptc == iptc, format == FileFormat::kJpeg);
    for (const auto& [field, start] : fields) EXPECT_EQ(Field(written, field).rfind(start, 0), 0u) << field;
  }
  // A TIFF file written by rows (large enlargements) keeps it too.
  RowFileWriter rows;
  std::string reason;
  ASSERT_TRUE(rows.Open(dir.File("rows.tif"), 30, 40, false, image.metadata, {.format = FileFormat::kTiff}, reason));
  ASSERT_TRUE(rows.Write(image, reason) && rows.Commit(reason)) << reason;
  FloatImage back, whole;
  ASSERT_EQ(ReadImageFile(dir.File("rows.tif"), back).code, ErrorCode::kNone);
  ASSERT_EQ(ReadImageFile(dir.File("out-TIFF"), whole).code, ErrorCode::kNone);
  EXPECT_FALSE(back.metadata.exif.empty());
  EXPECT_EQ(back.metadata.exif, whole.metadata.exif);
}

// A 3 x 2 image of pixels 10 y + x + 1 stored with each EXIF orientation
// reads as the picture it describes (rows worked by hand).
TEST(Files, OrientationsOneToEightAreApplied) {
  TempDir dir;
  const std::vector<std::vector<int>> expected[8] = {
      {{1, 2, 3}, {11, 12, 13}},    // 1 as stored
      {{3, 2, 1}, {13, 12, 11}},    // 2 mirrored
      {{13, 12, 11}, {3, 2, 1}},    // 3 half turn
      {{11, 12, 13}, {1, 2, 3}},    // 4 flipped
      {{1, 11}, {2, 12}, {3, 13}},  // 5 transposed
      {{11, 1}, {12, 2}, {13, 3}},  // 6 quarter turn clockwise
      {{13, 3}, {12, 2}, {11, 1}},  // 7 transversed
      {{3, 13}, {2, 12}, {1, 11}},  // 8 quarter turn anticlockwise
  };
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    vips::VImage stored = MakeVipsImage(3, 2, 1, VIPS_FORMAT_UCHAR, [](int x, int y, int) { return 10 * y + x + 1; });
    stored.set(VIPS_META_ORIENTATION, o);
    stored.tiffsave(dir.File("o.tif").c_str());
    FloatImage image;
    ASSERT_EQ(ReadImageFile(dir.File("o.tif"), image).code, ErrorCode::kNone);
    const auto& rows = expected[o - 1];
    ASSERT_TRUE(image.height == rows.size() && image.width == rows[0].size());
    for (uint32_t i = 0; i < 6; ++i)
      for (int c = 0; c < 3; ++c) EXPECT_EQ(image.samples(c)[i], rows[i / image.width][i % image.width]) << i;
    EXPECT_TRUE(image.metadata.greyscale);
  }
}

// A 2 x 1 grey TIFF of 8-bit samples whose photometric interpretation is
// `photometric` (3: a palette, here without its colour map).
std::vector<uint8_t> TinyTiff(uint32_t photometric) {
  std::vector<uint8_t> f = {'I', 'I', 42, 0, 8, 0, 0, 0, 8, 0};
  const uint32_t entries[8][3] = {{256, 3, 2},           {257, 3, 1},
                                  {258, 3, 8},           {259, 3, 1},
                                  {262, 3, photometric}, {273, 4, 8 + 2 + 8 * 12 + 4},
                                  {277, 3, 1},           {279, 4, 2}};
  for (const auto& e : entries) PutLE(f, e[0] | uint64_t{e[1]} << 16 | uint64_t{1} << 32, 8), PutLE(f, e[2], 4);
  PutLE(f, 0, 4);
  f.insert(f.end(), {10, 200});
  return f;
}

// Damage is refused with where it was found, or kept and marked; what the
// program cannot take is refused with its reason; the first bytes decide the
// format, not the name.
TEST(Files, DamagedAndUnsupportedFilesSayWhy) {
  TempDir dir;
  // Noise compresses poorly, so half of each file cuts its rows in half.
  uint32_t state = 12345;
  const auto noise = [&](int, int, int) { return (state = state * 1664525u + 1013904223u) >> 24; };
  MakeVipsImage(64, 256, 3, VIPS_FORMAT_UCHAR, noise).pngsave(dir.File("n.png").c_str());
  MakeVipsImage(128, 128, 3, VIPS_FORMAT_UCHAR, noise).jpegsave(dir.File("n.jpg").c_str());
  MakeVipsImage(8, 8, 4, VIPS_FORMAT_UCHAR, noise)
      .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_CMYK))
      .jpegsave(dir.File("cmyk.jpg").c_str());
  MakeVipsImage(5, 4, 3, VIPS_FORMAT_UCHAR, [](int x, int, int b) {
    return 40 * x + b;
  }).gifsave(dir.File("g.gif").c_str());
  MakeVipsImage(5, 4, 1, VIPS_FORMAT_USHORT, [](int x, int y, int) { return 1000 * x + y; })
      .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_GREY16))
      .write_to_file(dir.File("g.pgm").c_str());
  MakeVipsImage(64, 64, 3, VIPS_FORMAT_UCHAR, noise)
      .jpegsave(dir.File("p.jpg").c_str(), vips::VImage::option()->set("interlace", true));
  MakeVipsImage(2, 1, 1, VIPS_FORMAT_FLOAT, [](int x, int, int) {
    return x == 0 ? NAN : INFINITY;
  }).tiffsave(dir.File("nan.tif").c_str());
  const std::pair<const char*, std::string> texts[] = {{"head.ppm", "P6\n64 64\n255\n"},
                                                       {"cut.pbm", "P4\n16 4\n\1\2\3"},
                                                       {"cut.ppm", "P3 2 1 255 1 2 3 4"},
                                                       {"negative.ppm", "P6 -1 8 255\n" + std::string(24, 'x')},
                                                       {"zero.pgm", "P5 1 1 0\n\0"}};
  for (const auto& [name, text] : texts) WriteBytes(dir.File(name), std::vector<uint8_t>(text.begin(), text.end()));
  WriteBytes(dir.File("grey.tif"), TinyTiff(1));
  WriteBytes(dir.File("palette.tif"), TinyTiff(3));
  WriteBytes(dir.File("odd.tif"), TinyTiff(99));
  for (const char* name : {"n.png", "n.jpg", "p.jpg"}) {
    std::vector<uint8_t> bytes = ReadBytes(dir.File(name));
    bytes.resize(bytes.size() / 2);
    WriteBytes(dir.File(std::string("cut-") + name), bytes);
    bytes.resize(20);
    WriteBytes(dir.File(std::string("head-") + name), bytes);
  }
  // A 3 x 3 palette PNG whose data ends early: libvips fails it without a text.
  WriteBytes(dir.File("short.png"),
             {0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00,
              0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x03, 0x01, 0x03, 0x00, 0x00, 0x01, 0x1b, 0xe1, 0x17, 0x6a, 0x00,
              0x00, 0x00, 0x04, 0x67, 0x41, 0x4d, 0x41, 0x00, 0x01, 0x86, 0xa0, 0x31, 0xe8, 0x96, 0x5f, 0x00, 0x00,
              0x00, 0x03, 0x73, 0x42, 0x49, 0x54, 0x04, 0x04, 0x04, 0x77, 0xf8, 0xb5, 0xa3, 0x00, 0x00, 0x00, 0x06,
              0x50, 0x4c, 0x54, 0x45, 0x00, 0xff, 0x00, 0xff, 0x77, 0x00, 0xb1, 0xe5, 0xa5, 0x9f, 0x00, 0x80, 0x00,
              0x0c, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x60, 0x80, 0x03, 0x07, 0x00, 0x00, 0x4c, 0x00, 0x41,
              0xda, 0xc9, 0xe6, 0x1c, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82});
  WriteBytes(dir.File("bmp.png"), MakeBmp({.pixels = {1, 2, 3, 0}}));
  WriteBytes(dir.File("empty.jpg"), {});
  WriteBytes(dir.File("junk.png"), {'j', 'u', 'n', 'k', 0, 1});
  std::filesystem::create_directory(dir.path() / "folder.png");
  const struct {
    const char* name;
    ErrorCode code;  // of the strict read
    FileFormat format;
    std::string message;  // its start
    bool kept = false;    // a read keeping damage gives an image
  } cases[] = {
      {"g.gif", ErrorCode::kNone, FileFormat::kGif, ""},
      {"g.pgm", ErrorCode::kNone, FileFormat::kPnm, ""},
      {"bmp.png", ErrorCode::kNone, FileFormat::kBmp, ""},
      {"grey.tif", ErrorCode::kNone, FileFormat::kTiff, ""},
      {"cut-n.png", ErrorCode::kUnreadable, FileFormat::kPng, "PNG truncated after row ", true},
      {"cut-n.jpg", ErrorCode::kUnreadable, FileFormat::kJpeg, "JPEG truncated after row ", true},
      {"cut-p.jpg", ErrorCode::kUnreadable, FileFormat::kJpeg, "JPEG truncated", true},
      {"head-n.png", ErrorCode::kUnreadable, FileFormat::kPng, "PNG truncated in its header"},
      {"short.png", ErrorCode::kUnreadable, FileFormat::kPng, "PNG truncated: not enough data"},
      {"head-n.jpg", ErrorCode::kUnreadable, FileFormat::kJpeg, "JPEG truncated in its header"},
      {"cmyk.jpg", ErrorCode::kUnreadable, FileFormat::kJpeg,
       "JPEG in CMYK is not supported: its colours would need a conversion with the profile it was made for"},
      {"empty.jpg", ErrorCode::kUnreadable, FileFormat::kUnknown, "the file is empty"},
      {"head.ppm", ErrorCode::kUnreadable, FileFormat::kPnm, "PNM truncated after row 0 of 64 (all rows are missing)"},
      {"cut.pbm", ErrorCode::kUnreadable, FileFormat::kPnm, "PNM truncated after row 1 of 4 (the bottom 3 rows are",
       true},
      {"cut.ppm", ErrorCode::kUnreadable, FileFormat::kPnm,
       "PNM truncated after row 0 of 1: its text holds 4 of its 6 samples"},
      {"negative.ppm", ErrorCode::kUnreadable, FileFormat::kPnm,
       "PNM width and height must be whole numbers, not '-1' and '8'"},
      {"zero.pgm", ErrorCode::kUnreadable, FileFormat::kPnm, "PNM maximum value must be from 1 to 65535, not '0'"},
      {"palette.tif", ErrorCode::kUnreadable, FileFormat::kTiff, "TIFF palette image without its colour map"},
      {"odd.tif", ErrorCode::kUnreadable, FileFormat::kTiff,
       "TIFF with photometric interpretation 99 is not supported"},
      {"nan.tif", ErrorCode::kUnreadable, FileFormat::kTiff,
       "TIFF sample at row 0, column 0 (grey) is NaN: samples must be"},
      {"junk.png", ErrorCode::kUnreadable, FileFormat::kUnknown,
       "not an image: its first bytes match no format this program"},
      {"folder.png", ErrorCode::kCannotOpen, FileFormat::kUnknown, "it is a folder, not a file"},
      {"missing.png", ErrorCode::kCannotOpen, FileFormat::kUnknown,
       "the file cannot be opened: No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FloatImage image;
    const ReadStatus strict = ReadImageFile(dir.File(c.name), image);
    EXPECT_EQ(strict.code, c.code);
    EXPECT_EQ(strict.format, c.format);
    EXPECT_EQ(strict.message.substr(0, c.message.size()), c.message) << strict.message;
    EXPECT_EQ(image.IsEmpty(), c.code != ErrorCode::kNone);
    const ReadStatus kept = ReadImageFile(dir.File(c.name), image, DamagePolicy::kKeepReadable);
    EXPECT_EQ(kept.ok(), c.code == ErrorCode::kNone || c.kept);
    if (c.kept) {
      EXPECT_TRUE(kept.damaged);
      EXPECT_EQ(kept.message, strict.message);
      EXPECT_FALSE(image.IsEmpty());
    }
  }
  // Cut files fail whatever the timing of libvips's threads, with the
  // machine's cores kept busy.
  std::atomic<bool> busy = true;
  std::vector<std::thread> spinners;
  for (unsigned t = 0; t < std::max(2u, std::thread::hardware_concurrency()); ++t)
    spinners.emplace_back([&] {
      while (busy) {
      }
    });
  FloatImage pgm;
  for (int i = 0; i < 20; ++i)
    for (const char* name : {"short.png", "cut-n.png", "cut-p.jpg", "head.ppm", "cut.ppm"})
      EXPECT_EQ(ReadImageFile(dir.File(name), pgm).code, ErrorCode::kUnreadable) << name;
  busy = false;
  for (std::thread& t : spinners) t.join();
  EXPECT_EQ(ReadImageFile(dir.File("short.png"), pgm, DamagePolicy::kKeepReadable).code, ErrorCode::kUnreadable);
  ASSERT_EQ(ReadImageFile(dir.File("g.pgm"), pgm).code, ErrorCode::kNone);
  EXPECT_EQ(pgm.metadata.depth, SampleDepth::k16);
  EXPECT_EQ(At(pgm, 1, 4, 3), 4003.0f / 257.0f);
}

// The header alone tells what a read gives, also from memory (standard input).
TEST(Files, HeaderAgreesWithTheRead) {
  TempDir dir;
  vips::VImage rgba = MakeVipsImage(9, 5, 4, VIPS_FORMAT_USHORT, [](int x, int, int) { return 7000 * x; });
  rgba = rgba.copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
  rgba.set(VIPS_META_ORIENTATION, 8);
  rgba.tiffsave(dir.File("t.tif").c_str());
  const std::vector<uint8_t> bytes = ReadBytes(dir.File("t.tif"));
  ImageInfo h;
  ASSERT_EQ(ReadImageHeaderMemory(bytes.data(), bytes.size(), h).code, ErrorCode::kNone);
  EXPECT_TRUE(h.format == FileFormat::kTiff && h.width == 5 && h.height == 9 && h.bitsPerPixel == 64 && h.hasAlpha &&
              h.depth == SampleDepth::k16 && !h.greyscale);
  FloatImage image;
  ASSERT_EQ(ReadImageMemory(bytes.data(), bytes.size(), image).code, ErrorCode::kNone);
  EXPECT_TRUE(image.width == h.width && image.height == h.height && image.HasAlpha());
}

// Every file of the BMP suite: the kinds read (uncompressed 1, 4, 8, 24 and 32
// bits, Windows header) give the reference's pixels; the others are refused.
std::filesystem::path BmpSuiteDir() { return SharedDir() / "peers" / "bmpsuite"; }

// The files read, by the reference rendering (in reference/) they give;
// every other file must be refused with 2.
const std::map<std::string, std::vector<std::string>> kReadable = {
    {"pal1.png",
     {"g/pal1.bmp", "g/pal1wb.bmp",
      // Bad fields this reader does not use: the image is the standard one.
      "b/badbitssize.bmp", "b/baddens1.bmp", "b/baddens2.bmp", "b/badfilesize.bmp", "b/badplanes.bmp"}},
    {"pal1bg.png", {"g/pal1bg.bmp"}},
    {"pal1p1.png", {"q/pal1p1.bmp"}},
    {"pal4.png", {"g/pal4.bmp"}},
    {"pal4gs.png", {"g/pal4gs.bmp"}},
    {"pal8.png",
     {"g/pal8.bmp", "g/pal8-0.bmp", "g/pal8topdown.bmp", "g/pal8v4.bmp", "g/pal8v5.bmp", "q/pal8offs.bmp",
      "q/pal8oversizepal.bmp",
      // An OS/2 2.x file with a 40-byte header is a Windows file byte for
      // byte; an absurd colour count is capped at 256 entries.
      "q/pal8os2v2-40sz.bmp", "b/badpalettesize.bmp"}},
    {"pal8gs.png", {"g/pal8gs.bmp"}},
    {"pal8nonsquare-e.png", {"g/pal8nonsquare.bmp"}},
    {"pal8w124.png", {"g/pal8w124.bmp"}},
    {"pal8w125.png", {"g/pal8w125.bmp"}},
    {"pal8w126.png", {"g/pal8w126.bmp"}},
    // The fourth byte of 32 bits is not alpha. rgb24prof2 has red and green
    // swapped in its pixels; the embedded colour profile that swaps them
    // back is not applied.
    {"rgb24.png",
     {"g/rgb24.bmp", "g/rgb24pal.bmp", "g/rgb32.bmp", "q/rgb24largepal.bmp", "q/rgb24lprof.bmp", "q/rgb24prof.bmp",
      "q/rgb32fakealpha.bmp", "q/rgb24prof2.bmp"}},
    // No reference rendering: indices beyond the palette read as black.
    {"", {"b/pal8badindex.bmp"}},
};

TEST(BmpSuite, EveryFileReadsAsItsReferenceOrIsRefused) {
  std::map<std::string, std::string> referenceOf;
  for (const auto& [reference, files] : kReadable)
    for (const std::string& file : files) referenceOf[file] = reference;
  int read = 0, refused = 0;
  for (const char* dir : {"g", "q", "b", "x"}) {
    ASSERT_TRUE(std::filesystem::is_directory(BmpSuiteDir() / dir)) << BmpSuiteDir() / dir;
    for (const auto& entry : std::filesystem::directory_iterator(BmpSuiteDir() / dir)) {
      const std::string name = std::string(dir) + "/" + entry.path().filename().string();
      FloatImage image;
      const ErrorCode result = ReadImageFile(entry.path().string(), image).code;
      const auto it = referenceOf.find(name);
      if (it == referenceOf.end()) {
        EXPECT_EQ(result, ErrorCode::kUnreadable) << name;
        ++refused;
        continue;
      }
      ASSERT_EQ(result, ErrorCode::kNone) << name;
      ++read;
      EXPECT_FALSE(image.HasAlpha()) << name;
      if (it->second.empty()) continue;
      FloatImage reference;
      ASSERT_EQ(ReadImageFile((BmpSuiteDir() / "reference" / it->second).string(), reference).code, ErrorCode::kNone);
      ASSERT_EQ(image.width, reference.width) << name;
      ASSERT_EQ(image.height, reference.height) << name;
      for (int c = 0; c < 3; ++c) {
        const float* want = reference.samples(name == "q/rgb24prof2.bmp" && c < 2 ? 1 - c : c);
        EXPECT_TRUE(std::equal(want, want + image.PixelCount(), image.samples(c))) << name << ": plane " << c;
      }
    }
  }
  EXPECT_EQ(read, int(referenceOf.size()));
  EXPECT_GE(refused, 50);
}

// Kept damaged, the cut file has its bottom rows and is black above.
TEST(BmpSuite, ShortFileKeptDamagedHasItsBottomRowsAndIsBlackAbove) {
  FloatImage image, reference;
  const ReadStatus status =
      ReadImageFile((BmpSuiteDir() / "b/shortfile.bmp").string(), image, DamagePolicy::kKeepReadable);
  ASSERT_EQ(status.code, ErrorCode::kNone);
  EXPECT_TRUE(status.damaged);
  EXPECT_EQ(status.message.rfind("BMP truncated after row 13 of 64 (the top 51 rows are missing)", 0), 0u);
  ASSERT_EQ(ReadImageFile((BmpSuiteDir() / "reference/pal1.png").string(), reference).code, ErrorCode::kNone);
  ASSERT_EQ(image.width, reference.width);
  for (int c = 0; c < 3; ++c)
    for (uint32_t x = 0; x < image.width; ++x) {
      EXPECT_EQ(At(image, c, x, image.height - 1), At(reference, c, x, image.height - 1));
      EXPECT_EQ(At(image, c, x, 0), 0.0f);
    }
}

// Every image of PngSuite: the valid ones read with the RGBA values listed in
// the suite's json files (16-bit files within one level of their 8-bit
// listing), the deliberately broken x-files are refused with a reason.
std::filesystem::path PngSuiteDir() { return SharedDir() / "peers" / "pngsuite"; }

// The json files are flat arrays of R, G, B, A values, row by row: 8-bit
// values for files of up to 8 bits per sample, 16-bit values for 16-bit
// files (the last two characters of a PngSuite name give the bit depth).
std::vector<int> ReadJsonArray(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string text(std::istreambuf_iterator<char>(in), {});
  for (char& c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) c = ' ';
  std::istringstream numbers(text);
  return {std::istream_iterator<int>(numbers), std::istream_iterator<int>()};
}

TEST(PngSuite, ValidImagesReadWithTheirListedRgbaBrokenOnesAreRefused) {
  int valid = 0, broken = 0;
  for (const auto& entry : std::filesystem::directory_iterator(PngSuiteDir() / "png")) {
    const std::string stem = entry.path().stem().string();
    if (entry.path().extension() != ".png") continue;
    FloatImage image;
    image.sourceBitDepth = 7;
    const ReadStatus status = ReadImageFile(entry.path().string(), image);
    if (stem[0] == 'x') {
      EXPECT_NE(status.code, ErrorCode::kNone) << stem;
      EXPECT_FALSE(status.message.empty()) << stem;
      // Keeping damage may keep what was decoded, but must not crash.
      ReadImageFile(entry.path().string(), image, DamagePolicy::kKeepReadable);
      ++broken;
      continue;
    }
    ASSERT_EQ(status.code, ErrorCode::kNone) << stem << ": " << status.message;
    EXPECT_EQ(image.sourceBitDepth, 0u) << stem;
    // A 16-bit file's 8-bit listing where the suite has one, else its 16-bit
    // values on the 0..255 scale.
    const std::filesystem::path json = PngSuiteDir() / "json" / (stem + ".json");
    ASSERT_TRUE(std::filesystem::exists(json)) << json;
    const bool wide = stem.substr(stem.size() - 2) == "16";
    const std::filesystem::path to8 = PngSuiteDir() / "json" / (stem + "_to8.json");
    const bool listed8 = !wide || std::filesystem::exists(to8);
    std::vector<float> rgba;
    for (int v : ReadJsonArray(listed8 ? (wide ? to8 : json) : json)) rgba.push_back(listed8 ? float(v) : v / 257.0f);
    ASSERT_EQ(rgba.size(), image.PixelCount() * 4) << stem;
    EXPECT_EQ(image.metadata.depth, wide ? SampleDepth::k16 : SampleDepth::k8) << stem;
    float worst = 0;
    for (std::size_t i = 0; i < image.PixelCount(); ++i)
      for (int c = 0; c < 4; ++c) {
        const float got = c < 3 || image.HasAlpha() ? image.samples(c)[i] : 255.0f;
        worst = std::max(worst, std::fabs(got - rgba[i * 4 + c]));
      }
    EXPECT_LE(worst, wide ? 1.0f : 0.0f) << stem;
    ++valid;
  }
  EXPECT_GE(valid, 150);
  EXPECT_EQ(broken, 14);
}

}  // namespace
