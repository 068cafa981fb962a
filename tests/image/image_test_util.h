// Helpers of the image tests: building small files byte by byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "image/float_image.h"

namespace kestrune {

inline void PutLE(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
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
  std::vector<uint8_t> f;
  const uint64_t offset = s.dataOffset >= 0 ? uint64_t(s.dataOffset) : 14 + s.headerSize + s.palette.size();
  f.push_back('B');
  f.push_back('M');
  PutLE(f, offset + s.pixels.size(), 4);
  PutLE(f, 0, 4);
  PutLE(f, offset, 4);
  PutLE(f, s.headerSize, 4);
  if (s.headerSize >= 40) {
    PutLE(f, uint32_t(s.width), 4);
    PutLE(f, uint32_t(s.height), 4);
    PutLE(f, 1, 2);
    PutLE(f, s.bits, 2);
    PutLE(f, s.compression, 4);
    PutLE(f, 0, 4);
    PutLE(f, 2835, 4);
    PutLE(f, 2835, 4);
    PutLE(f, s.coloursUsed, 4);
    PutLE(f, 0, 4);
    for (uint32_t i = 40; i < s.headerSize; ++i) f.push_back(0);
  } else {
    for (uint32_t i = 4; i < s.headerSize; ++i) f.push_back(0);
  }
  f.insert(f.end(), s.palette.begin(), s.palette.end());
  while (f.size() < offset) f.push_back(0);
  f.insert(f.end(), s.pixels.begin(), s.pixels.end());
  return f;
}

// Writes a JPEG of `components` (1 grey, 3 RGB, 4 CMYK) whose sample (x, y, c)
// is sample(x, y, c), at quality 100 without chroma subsampling; sequential
// Huffman coding unless asked for progressive or arithmetic coding.
struct JpegCoding {
  bool progressive = false;
  bool arithmetic = false;
};
template <class F>
void WriteJpeg(const std::string& path, int width, int height, int components, F sample, JpegCoding coding = {}) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  for (int c = 0; c < cinfo.num_components; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
  if (coding.progressive) jpeg_simple_progression(&cinfo);
  cinfo.arith_code = coding.arithmetic;
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(std::size_t(width) * components);
  while (cinfo.next_scanline < cinfo.image_height) {
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c) row[x * components + c] = JSAMPLE(sample(x, int(cinfo.next_scanline), c));
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(file);
}

// Sample (x, y) of plane c.
inline float At(const FloatImage& image, int c, uint32_t x, uint32_t y) { return image.rows(c)[y][x]; }

}  // namespace kestrune
