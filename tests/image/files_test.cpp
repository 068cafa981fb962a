// Files through libvips: round trips per format and depth, metadata, the
// EXIF orientations, and damaged or unsupported files with their reasons.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <set>
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
      {FileFormat::kTiff, SampleDepth::k32Float, true, false, 1e-4f},
      {FileFormat::kWebp, SampleDepth::k8, true, false, 0, true},
      {FileFormat::kWebp, SampleDepth::k8, false, false, 20},
      {FileFormat::kJpeg, SampleDepth::k8, false, true, 2},
      {FileFormat::kBmp, SampleDepth::k8, false, false, 0},
      {FileFormat::kPfm, SampleDepth::k32Float, false, true, 1e-4f},
  };
  for (const auto& c : cases) {
    const std::string name = std::string(FormatName(c.format)) + "-" + std::to_string(int(c.depth)) +
                             (c.alpha ? "-alpha" : "") + (c.grey ? "-grey" : "") + (c.lossless ? "-lossless" : "");
    SCOPED_TRACE(name);
    const FloatImage image = Pattern(67, 61, c.alpha, c.grey);
    const WriteOptions options{.format = c.format, .depth = c.depth, .lossless = c.lossless};
    ASSERT_EQ(WriteImageFile(dir.File(name), image, options).message, "");
    FloatImage back;
    const ReadStatus status = ReadImageFile(dir.File(name), back);
    ASSERT_EQ(status.code, ErrorCode::kNone) << status.message;
    EXPECT_EQ(status.format, c.format);
    ASSERT_EQ(back.width, 67u);
    ASSERT_EQ(back.height, 61u);
    EXPECT_EQ(back.HasAlpha(), c.alpha);
    EXPECT_EQ(back.metadata.greyscale, c.grey);
    EXPECT_EQ(back.metadata.depth, c.depth);
    double total = 0;
    for (int p = 0; p < (c.alpha ? 4 : 3); ++p)
      for (std::size_t i = 0; i < image.PixelCount(); ++i) {
        const float want = Stored(image.samples(p)[i], c.depth), got = back.samples(p)[i];
        // WebP does not keep the colour of fully transparent pixels.
        if (c.format == FileFormat::kWebp && p < 3 && c.alpha && image.samples(3)[i] == 0) continue;
        if (c.tolerance == 0) {
          ASSERT_EQ(got, want) << "plane " << p << " sample " << i;
        } else if (c.depth == SampleDepth::k32Float) {
          ASSERT_NEAR(got, want, c.tolerance * std::max(1.0f, std::fabs(want))) << "plane " << p << " sample " << i;
        }
        total += std::fabs(got - want);
      }
    if (c.depth != SampleDepth::k32Float && c.tolerance > 0) {
      EXPECT_LE(total / (image.PixelCount() * 3), c.tolerance);
    }
    // 16 bits keep the 4096-step ramp apart; 8 bits merge it into 256 levels.
    const std::set<float> levels(back.samples(0), back.samples(0) + back.PixelCount());
    EXPECT_EQ(levels.size() > 256, c.depth != SampleDepth::k8);
  }
}

// PNG rows are filtered: smooth gradients take far less room than the
// same pixels saved by libvips at its defaults, without filters.
TEST(Files, PngRowsAreFiltered) {
  TempDir dir;
  FloatImage image = Pattern(256, 256, false, false);
  for (std::size_t i = 0; i < image.PixelCount(); ++i) image.samples(0)[i] = float((i % 256) * (i / 256) % 251);
  ASSERT_FALSE(WriteImageFile(dir.File("f.png"), image, {.format = FileFormat::kPng, .depth = SampleDepth::k8}));
  vips::VImage::new_from_file(dir.File("f.png").c_str()).pngsave(dir.File("plain.png").c_str());
  EXPECT_LT(std::filesystem::file_size(dir.File("f.png")), std::filesystem::file_size(dir.File("plain.png")) * 7 / 10);
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
  std::vector<uint8_t> iptc = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0,
                               '8', 'B', 'I', 'M', 0x04, 0x04, 0, 0, 0, 0, 0, 12};
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

  const struct {
    FileFormat format;
    bool exif, xmp, iptc;
  } cases[] = {{FileFormat::kJpeg, true, true, true},
               {FileFormat::kPng, true, true, false},
               {FileFormat::kWebp, true, true, false},
               {FileFormat::kTiff, true, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(FormatName(c.format));
    const std::string path = dir.File(std::string("out-") + FormatName(c.format));
    ASSERT_EQ(WriteImageFile(path, image, {.format = c.format}).message, "");
    FloatImage back;
    ASSERT_EQ(ReadImageFile(path, back).code, ErrorCode::kNone);
    // libvips reads no EXIF from TIFF: what this program read goes on in a JPEG.
    const std::string shown = c.format == FileFormat::kTiff ? path + ".jpg" : path;
    if (shown != path) {
      ASSERT_FALSE(WriteImageFile(shown, back, {.format = FileFormat::kJpeg}));
    }
    const vips::VImage written = vips::VImage::new_from_file(shown.c_str());
    EXPECT_EQ(written.width(), 30);
    EXPECT_EQ(back.width, 30u) << "no orientation left to apply again";
    EXPECT_EQ(back.metadata.icc, icc);
    EXPECT_EQ(!back.metadata.xmp.empty(), c.xmp);
    const std::string backXmp(back.metadata.xmp.begin(), back.metadata.xmp.end());
    EXPECT_EQ(backXmp.find("<kestrune-test/>") != std::string::npos, c.xmp);
    EXPECT_EQ(back.metadata.iptc == iptc, c.iptc);
    const std::pair<const char*, const char*> fields[] = {
        {"exif-ifd0-Make", "KestrelCam"}, {"exif-ifd2-DateTimeOriginal", "2024:05:06 07:08:09"},
        {"exif-ifd3-GPSLatitudeRef", "N"}, {"exif-ifd0-Orientation", "1 "},  // the value, then its meaning
        {"exif-ifd2-PixelXDimension", "30 "}, {"exif-ifd2-PixelYDimension", "40 "}};
    for (const auto& [field, start] : fields) EXPECT_EQ(Field(written, field).rfind(start, 0) == 0, c.exif) << field;
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
      {{1, 2, 3}, {11, 12, 13}},        // 1 as stored
      {{3, 2, 1}, {13, 12, 11}},        // 2 mirrored
      {{13, 12, 11}, {3, 2, 1}},        // 3 half turn
      {{11, 12, 13}, {1, 2, 3}},        // 4 flipped
      {{1, 11}, {2, 12}, {3, 13}},      // 5 transposed
      {{11, 1}, {12, 2}, {13, 3}},      // 6 quarter turn clockwise
      {{13, 3}, {12, 2}, {11, 1}},      // 7 transversed
      {{3, 13}, {2, 12}, {1, 11}},      // 8 quarter turn anticlockwise
  };
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    vips::VImage stored = MakeVipsImage(3, 2, 1, VIPS_FORMAT_UCHAR, [](int x, int y, int) { return 10 * y + x + 1; });
    stored.set(VIPS_META_ORIENTATION, o);
    stored.tiffsave(dir.File("o.tif").c_str());
    FloatImage image;
    ASSERT_EQ(ReadImageFile(dir.File("o.tif"), image).code, ErrorCode::kNone);
    const auto& rows = expected[o - 1];
    ASSERT_EQ(image.height, rows.size());
    ASSERT_EQ(image.width, rows[0].size());
    for (uint32_t y = 0; y < image.height; ++y)
      for (uint32_t x = 0; x < image.width; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(At(image, c, x, y), rows[y][x]) << x << "," << y;
    EXPECT_TRUE(image.metadata.greyscale);
  }
}

// A 2 x 1 grey TIFF of 8-bit samples whose photometric interpretation is
// `photometric` (3: a palette, here without its colour map).
std::vector<uint8_t> TinyTiff(uint32_t photometric) {
  std::vector<uint8_t> f = {'I', 'I', 42, 0, 8, 0, 0, 0, 8, 0};
  const uint32_t entries[8][3] = {{256, 3, 2}, {257, 3, 1}, {258, 3, 8}, {259, 3, 1}, {262, 3, photometric},
                                  {273, 4, 8 + 2 + 8 * 12 + 4}, {277, 3, 1}, {279, 4, 2}};
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
  MakeVipsImage(5, 4, 3, VIPS_FORMAT_UCHAR, [](int x, int, int b) { return 40 * x + b; })
      .gifsave(dir.File("g.gif").c_str());
  MakeVipsImage(5, 4, 1, VIPS_FORMAT_USHORT, [](int x, int y, int) { return 1000 * x + y; })
      .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_GREY16))
      .write_to_file(dir.File("g.pgm").c_str());
  MakeVipsImage(64, 64, 3, VIPS_FORMAT_UCHAR, noise)
      .jpegsave(dir.File("p.jpg").c_str(), vips::VImage::option()->set("interlace", true));
  MakeVipsImage(2, 1, 1, VIPS_FORMAT_FLOAT, [](int x, int, int) { return x == 0 ? NAN : INFINITY; })
      .tiffsave(dir.File("nan.tif").c_str());
  const std::pair<const char*, std::string> texts[] = {
      {"head.ppm", "P6\n64 64\n255\n"}, {"cut.pbm", "P4\n16 4\n\1\2\3"}, {"cut.ppm", "P3 2 1 255 1 2 3 4"},
      {"negative.ppm", "P6 -1 8 255\n" + std::string(24, 'x')}, {"zero.pgm", "P5 1 1 0\n\0"}};
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
  WriteBytes(dir.File("short.png"), {
      0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
      0x00, 0x03, 0x00, 0x00, 0x00, 0x03, 0x01, 0x03, 0x00, 0x00, 0x01, 0x1b, 0xe1, 0x17, 0x6a, 0x00, 0x00, 0x00,
      0x04, 0x67, 0x41, 0x4d, 0x41, 0x00, 0x01, 0x86, 0xa0, 0x31, 0xe8, 0x96, 0x5f, 0x00, 0x00, 0x00, 0x03, 0x73,
      0x42, 0x49, 0x54, 0x04, 0x04, 0x04, 0x77, 0xf8, 0xb5, 0xa3, 0x00, 0x00, 0x00, 0x06, 0x50, 0x4c, 0x54, 0x45,
      0x00, 0xff, 0x00, 0xff, 0x77, 0x00, 0xb1, 0xe5, 0xa5, 0x9f, 0x00, 0x80, 0x00, 0x0c, 0x49, 0x44, 0x41, 0x54,
      0x78, 0x9c, 0x63, 0x60, 0x80, 0x03, 0x07, 0x00, 0x00, 0x4c, 0x00, 0x41, 0xda, 0xc9, 0xe6, 0x1c, 0x00, 0x00,
      0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82});
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
      {"cut-n.png", ErrorCode::kUnreadable, FileFormat::kPng, "PNG truncated after row ", true},
      {"cut-n.jpg", ErrorCode::kUnreadable, FileFormat::kJpeg, "JPEG truncated after row ", true},
      {"head-n.png", ErrorCode::kUnreadable, FileFormat::kPng, "PNG truncated in its header"},
      {"short.png", ErrorCode::kUnreadable, FileFormat::kPng, "PNG truncated: not enough data"},
      {"head-n.jpg", ErrorCode::kUnreadable, FileFormat::kJpeg, "JPEG truncated in its header"},
      {"cmyk.jpg", ErrorCode::kUnreadable, FileFormat::kJpeg,
       "JPEG in CMYK is not supported: its colours would need a conversion with the profile it was made for"},
      {"empty.jpg", ErrorCode::kUnreadable, FileFormat::kUnknown, "the file is empty"},
      {"cut-p.jpg", ErrorCode::kUnreadable, FileFormat::kJpeg, "JPEG truncated", true},
      {"head.ppm", ErrorCode::kUnreadable, FileFormat::kPnm,
       "PNM truncated after row 0 of 64 (all rows are missing): its pixel data needs 12288 bytes from offset 13, "
       "the file holds 0 of them"},
      {"cut.pbm", ErrorCode::kUnreadable, FileFormat::kPnm, "PNM truncated after row 1 of 4 (the bottom 3 rows are", true},
      {"cut.ppm", ErrorCode::kUnreadable, FileFormat::kPnm, "PNM truncated after row 0 of 1: its text holds 4 of its 6 samples"},
      {"negative.ppm", ErrorCode::kUnreadable, FileFormat::kPnm, "PNM width and height must be whole numbers, not '-1' and '8'"},
      {"zero.pgm", ErrorCode::kUnreadable, FileFormat::kPnm, "PNM maximum value must be from 1 to 65535, not '0'"},
      {"grey.tif", ErrorCode::kNone, FileFormat::kTiff, ""},
      {"palette.tif", ErrorCode::kUnreadable, FileFormat::kTiff, "TIFF palette image without its colour map"},
      {"odd.tif", ErrorCode::kUnreadable, FileFormat::kTiff, "TIFF with photometric interpretation 99 is not supported"},
      {"nan.tif", ErrorCode::kUnreadable, FileFormat::kTiff, "TIFF sample at row 0, column 0 (grey) is NaN: samples must be finite"},
      {"junk.png", ErrorCode::kUnreadable, FileFormat::kUnknown,
       "not an image: its first bytes match no format this program reads (a file of 6 bytes)"},
      {"folder.png", ErrorCode::kCannotOpen, FileFormat::kUnknown, "it is a folder, not a file"},
      {"missing.png", ErrorCode::kCannotOpen, FileFormat::kUnknown, "the file cannot be opened: No such file or directory"},
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
    spinners.emplace_back([&] { while (busy) {} });
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
  ImageInfo header;
  ASSERT_EQ(ReadImageHeaderMemory(bytes.data(), bytes.size(), header).code, ErrorCode::kNone);
  EXPECT_EQ(header.format, FileFormat::kTiff);
  EXPECT_EQ(header.width, 5u);
  EXPECT_EQ(header.height, 9u);
  EXPECT_EQ(header.bitsPerPixel, 64u);
  EXPECT_TRUE(header.hasAlpha);
  EXPECT_EQ(header.depth, SampleDepth::k16);
  EXPECT_FALSE(header.greyscale);
  FloatImage image;
  ASSERT_EQ(ReadImageMemory(bytes.data(), bytes.size(), image).code, ErrorCode::kNone);
  EXPECT_EQ(image.width, header.width);
  EXPECT_EQ(image.height, header.height);
  EXPECT_TRUE(image.HasAlpha());
}

}  // namespace
