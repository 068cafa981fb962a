// JPEG files made with libjpeg at known settings; pixels turned as EXIF turns them.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

#include <jpeglib.h>

namespace kestrune {

struct JpegRecipe {
  int w, h, quality;
  int components;  // 1 grey, 3 YCbCr
  int hs, vs;      // luma sampling factors: 1 1 4:4:4, 2 1 4:2:2, 2 2 4:2:0
  bool progressive = false;
  int restartRows = 0;
  int orientation = 0;  // an EXIF block saying so when not 0
};

// The file, and its quantisation tables (luma, chroma) in natural order.
// `sample(x, y, c)`: 0..255 integers.
inline std::vector<uint8_t> MakeJpeg(const JpegRecipe& s, const std::function<int(int, int, int)>& sample,
                                     uint16_t tables[2][64] = nullptr) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = JDIMENSION(s.w), cinfo.image_height = JDIMENSION(s.h);
  cinfo.input_components = s.components;
  cinfo.in_color_space = s.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, s.quality, TRUE);
  cinfo.dct_method = JDCT_FLOAT;
  cinfo.comp_info[0].h_samp_factor = s.hs, cinfo.comp_info[0].v_samp_factor = s.vs;
  cinfo.restart_in_rows = s.restartRows;
  if (s.progressive) jpeg_simple_progression(&cinfo);
  for (int t = 0; t < 2 && tables != nullptr; ++t)
    for (int k = 0; k < 64; ++k) tables[t][k] = cinfo.quant_tbl_ptrs[t]->quantval[k];
  jpeg_start_compress(&cinfo, TRUE);
  if (s.orientation != 0) {
    const JOCTET exif[] = {'E', 'x', 'i', 'f',  0,    0, 'M', 'M', 0, 42, 0, 0, 0,
                           8,   0,   1,   0x01, 0x12, 0, 3,   0,   0, 0,  1, 0, JOCTET(s.orientation),
                           0,   0,   0,   0,    0,    0};
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif, sizeof exif);
  }
  std::vector<JSAMPLE> row(std::size_t(s.w) * std::size_t(s.components));
  for (int y = 0; y < s.h; ++y) {
    for (int x = 0; x < s.w; ++x)
      for (int c = 0; c < s.components; ++c) row[std::size_t(x * s.components + c)] = JSAMPLE(sample(x, y, c));
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<uint8_t> file(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return file;
}

// Where pixel (x, y) of a w x h picture goes under EXIF orientation o.
inline void Turn(int o, int w, int h, int x, int y, int& dx, int& dy) {
  const int t[8][2] = {{x, y}, {w - 1 - x, y}, {w - 1 - x, h - 1 - y}, {x, h - 1 - y},
                       {y, x}, {h - 1 - y, x}, {h - 1 - y, w - 1 - x}, {y, w - 1 - x}};
  dx = t[o - 1][0], dy = t[o - 1][1];
}

}  // namespace kestrune
