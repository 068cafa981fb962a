// What a JPEG file says about its picture: per component the quantised DCT
// coefficients of its 8 x 8 blocks, the quantisation table and where the
// block grid lies, read with libjpeg's coefficient interface and turned with
// the picture by its EXIF orientation, so that the grid is the one of the
// pixels as they are shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kestrune {

struct JpegComponent {
  // Picture pixels per component sample across and down: 1, or 2 for
  // chroma at half resolution.
  int sx = 1, sy = 1;
  // Picture position of the top-left pixel of the grid's first sample: 0, or
  // negative where the picture was flipped and the file's padding of its
  // last blocks now lies before the first pixel. Samples read pixels outside
  // the picture as its nearest edge pixel, as the encoder padded them.
  int originX = 0, originY = 0;
  int blocksX = 0, blocksY = 0;
  // The quantisation table and every block's coefficients in natural order:
  // entry v * 8 + u is vertical frequency v, horizontal frequency u.
  uint16_t quant[64] = {};
  std::vector<int16_t> coefficients;  // block (bx, by) at (by * blocksX + bx) * 64

  const int16_t* Block(int bx, int by) const {
    return coefficients.data() + (std::size_t(by) * std::size_t(blocksX) + std::size_t(bx)) * 64;
  }
};

// The coefficients of a greyscale (one component) or YCbCr (three) file.
struct JpegCoefficients {
  uint32_t width = 0, height = 0;  // of the picture, oriented
  std::vector<JpegComponent> components;
};

enum class JpegCoefficientsRead {
  kRead,
  kOtherKind,  // a colour space or sampling the observation model does not take (RGB, CMYK, 3:1 ...)
  kDamaged,    // the library refused the data or warned of corrupt data: `reason` says why
};

// Reads the coefficients of the JPEG file `data` (`size` bytes), or of the
// file open as `file` (read from its current position), and turns them by
// EXIF orientation `orientation` (1..8, as the pixels are turned).
JpegCoefficientsRead ReadJpegCoefficients(const uint8_t* data, std::size_t size, int orientation, JpegCoefficients& out,
                                          std::string& reason);
JpegCoefficientsRead ReadJpegCoefficients(std::FILE* file, int orientation, JpegCoefficients& out, std::string& reason);
// The file at `path`, stored upright; one that cannot be opened is damaged
// with the system's reason.
JpegCoefficientsRead ReadJpegCoefficients(const std::string& path, JpegCoefficients& out, std::string& reason);

// Turns coefficients stored upright by EXIF orientation `orientation`:
// a transposed block's DCT is the transposed coefficient block, a mirrored
// one's has its odd horizontal frequencies negated, a flipped one's its odd
// vertical frequencies.
void OrientJpegCoefficients(JpegCoefficients& jpeg, int orientation);

}  // namespace kestrune
