// WritePng: an 8-bit RGB PNG file through libpng, one row at a time.
#include <csetjmp>
#include <new>
#include <vector>

#include <png.h>

#include "image/byte_conversion.h"
#include "image/image_writers.h"

namespace kestrune {

namespace {

void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

struct PngEncoder {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::vector<png_byte> row;
  ~PngEncoder() { png_destroy_write_struct(&png, &info); }
};

void ToRgb(const FloatImage& image, uint32_t y, png_byte* out) {
  const float* r = image.rows(FloatImage::kRed)[y];
  const float* g = image.rows(FloatImage::kGreen)[y];
  const float* b = image.rows(FloatImage::kBlue)[y];
  // PlanesToBgr writes blue first; swapping the red and blue planes gives RGB.
  PlanesToBgr(b, g, r, out, image.width);
}

// Only C calls into libpng and the encoder's members between setjmp and a
// possible longjmp.
bool Encode(PngEncoder& e, std::FILE* file, const FloatImage& image) {
  if (setjmp(png_jmpbuf(e.png))) return false;
  png_init_io(e.png, file);
  png_set_IHDR(e.png, e.info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(e.png, e.info);
  for (uint32_t y = 0; y < image.height; ++y) {
    ToRgb(image, y, e.row.data());
    png_write_row(e.png, e.row.data());
  }
  png_write_end(e.png, nullptr);
  return true;
}

}  // namespace

int WritePng(std::FILE* file, const FloatImage& image) {
  if (image.IsEmpty()) return kWriteEmptyImage;
  if (image.width > PNG_UINT_31_MAX || image.height > PNG_UINT_31_MAX) return kWriteFailed;

  PngEncoder e;
  try {
    e.row.resize(std::size_t{image.width} * 3);
  } catch (const std::bad_alloc&) {
    return kWriteFailed;
  }
  e.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (!e.png) return kWriteFailed;
  e.info = png_create_info_struct(e.png);
  if (!e.info) return kWriteFailed;
  return Encode(e, file, image) ? kWriteOk : kWriteFailed;
}

}  // namespace kestrune
