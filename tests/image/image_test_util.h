// Helpers of the image tests: small files made byte by byte or with libvips.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#ifdef KESTRUNE_WITH_VIPS
#include <vips/vips8>
#endif

#include "image/float_image.h"

namespace kestrune {

inline void PutLE(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A BMP file: 14-byte file header, an information header of `headerSize`
// bytes (fields beyond the first 40 are zero), `palette` (4 bytes per
// entry), then `pixels`. The data offset is where the pixels start unless
// `dataOffset` is given.
struct BmpLayout {
  uint32_t headerSize = 40;
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bits = 24;
  uint32_t compression = 0;
  uint32_t coloursUsed = 0;
  std::vector<uint8_t> palette = {};
  std::vector<uint8_t> pixels = {};
  int64_t dataOffset = -1;
};

inline std::vector<uint8_t> MakeBmp(const BmpLayout& s) {
  std::vector<uint8_t> f = {'B', 'M'};
  const uint64_t offset = s.dataOffset >= 0 ? uint64_t(s.dataOffset) : 14 + s.headerSize + s.palette.size();
  // {value, bytes}: file size, reserved, data offset, header size; then the
  // 40-byte header's width, height, planes, bits, compression, image size,
  // resolution both ways, colours used and important.
  const uint64_t fields[][2] = {{offset + s.pixels.size(), 4},
                                {0, 4},
                                {offset, 4},
                                {s.headerSize, 4},
                                {uint32_t(s.width), 4},
                                {uint32_t(s.height), 4},
                                {1, 2},
                                {s.bits, 2},
                                {s.compression, 4},
                                {0, 4},
                                {2835, 4},
                                {2835, 4},
                                {s.coloursUsed, 4},
                                {0, 4}};
  for (int i = 0; i < (s.headerSize >= 40 ? 14 : 4); ++i) PutLE(f, fields[i][0], int(fields[i][1]));
  f.resize(14 + s.headerSize);  // zeros beyond the fields written
  f.insert(f.end(), s.palette.begin(), s.palette.end());
  while (f.size() < offset) f.push_back(0);
  f.insert(f.end(), s.pixels.begin(), s.pixels.end());
  return f;
}

#ifdef KESTRUNE_WITH_VIPS
// A w x h image of `bands` bands made with libvips, sample(x, y, b) converted
// to `format`.
template <class F>
vips::VImage MakeVipsImage(int w, int h, int bands, VipsBandFormat format, F sample) {
  if (vips_init("kestrune-tests") != 0) ADD_FAILURE() << "libvips did not start";
  std::vector<double> values(std::size_t(w) * h * bands);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int b = 0; b < bands; ++b) values[(std::size_t(y) * w + x) * bands + b] = double(sample(x, y, b));
  return vips::VImage::new_from_memory(values.data(), values.size() * sizeof(double), w, h, bands, VIPS_FORMAT_DOUBLE)
      .cast(format)
      .copy_memory();
}
#endif

// Sample (x, y) of plane c.
inline float At(const FloatImage& image, int c, uint32_t x, uint32_t y) { return image.rows(c)[y][x]; }

}  // namespace kestrune
