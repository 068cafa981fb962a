// Every file of the BMP suite: the kinds read (uncompressed 1, 4, 8, 24 and 32
// bits, Windows header) give the reference's pixels; the others are refused.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/image_readers.h"
#include "image/image_test_util.h"
#include "support/test_support.h"

using namespace kestrune;

namespace {

std::filesystem::path Suite() { return SharedDir() / "peers" / "bmpsuite"; }

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

void ExpectSamePixels(const FloatImage& got, const FloatImage& want, bool swapRedGreen, const std::string& name) {
  ASSERT_EQ(got.width, want.width) << name;
  ASSERT_EQ(got.height, want.height) << name;
  for (int c = 0; c < 3; ++c) {
    const float* reference = want.samples(swapRedGreen && c < 2 ? 1 - c : c);
    const std::size_t first =
        std::mismatch(got.samples(c), got.samples(c) + got.PixelCount(), reference).first - got.samples(c);
    EXPECT_EQ(first, got.PixelCount()) << name << ": plane " << c << " differs from sample " << first;
  }
}

TEST(BmpSuite, EveryFileReadsAsItsReferenceOrIsRefused) {
  std::map<std::string, std::string> referenceOf;
  for (const auto& [reference, files] : kReadable)
    for (const std::string& file : files) referenceOf[file] = reference;
  int read = 0, refused = 0;
  for (const char* dir : {"g", "q", "b", "x"}) {
    ASSERT_TRUE(std::filesystem::is_directory(Suite() / dir)) << Suite() / dir;
    for (const auto& entry : std::filesystem::directory_iterator(Suite() / dir)) {
      const std::string name = std::string(dir) + "/" + entry.path().filename().string();
      FloatImage image;
      const ErrorCode result = ReadImageFile(entry.path().string(), image).code;
      const auto it = referenceOf.find(name);
      if (it == referenceOf.end()) {
        // An OS/2 bitmap array starts "BA": no reader takes it.
        EXPECT_EQ(result, name == "x/ba-bm.bmp" ? ErrorCode::kUnreadable : ErrorCode::kUnreadable) << name;
        ++refused;
        continue;
      }
      ASSERT_EQ(result, ErrorCode::kNone) << name;
      ++read;
      EXPECT_FALSE(image.HasAlpha()) << name;
      if (it->second.empty()) continue;
      FloatImage reference;
      ASSERT_EQ(ReadImageFile((Suite() / "reference" / it->second).string(), reference).code, ErrorCode::kNone);
      ExpectSamePixels(image, reference, name == "q/rgb24prof2.bmp", name);
    }
  }
  EXPECT_EQ(read, int(referenceOf.size()));
  EXPECT_GE(refused, 50);
}

TEST(BmpSuite, ShortFileKeptDamagedHasItsBottomRowsAndIsBlackAbove) {
  FloatImage image, reference;
  const ReadStatus status =
      ReadImageFile((Suite() / "b" / "shortfile.bmp").string(), image, DamagePolicy::kKeepReadable);
  ASSERT_EQ(status.code, ErrorCode::kNone);
  EXPECT_TRUE(status.damaged);
  // 273 bytes, pixels from offset 62, rows of 16 bytes (127 pixels at 1 bit).
  EXPECT_EQ(status.message,
            "BMP truncated after row 13 of 64 (the top 51 rows are missing): its pixel data needs 1024 bytes from "
            "offset 62, the file holds 211 of them");
  ASSERT_EQ(ReadImageFile((Suite() / "reference" / "pal1.png").string(), reference).code, ErrorCode::kNone);
  ASSERT_EQ(image.width, reference.width);
  // The bottom row is in the file; the top row is past its end.
  const uint32_t bottom = image.height - 1;
  for (int c = 0; c < 3; ++c)
    for (uint32_t x = 0; x < image.width; ++x) {
      EXPECT_EQ(At(image, c, x, bottom), At(reference, c, x, bottom));
      EXPECT_EQ(At(image, c, x, 0), 0.0f);
    }
}

}  // namespace
