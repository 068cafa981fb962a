// ReadPng: any PNG through libpng, with the transforms strip-16 (keep the
// high byte of 16-bit samples) and expand (palette to RGB, small grey depths
// to 8 bits, a transparency chunk to an alpha channel). This runs the steps
// of libpng's png_read_png itself so that the reader owns zero-filled row
// storage: a lenient read that fails part-way keeps the decoded rows and
// gets black for the rest, and never reads rows that were not allocated.
#include <csetjmp>
#include <new>
#include <vector>

#include <png.h>

#include "image/image_readers.h"
#include "image/stdio_file.h"

namespace kestrune {

namespace {

// libpng's errors jump back to the decoding function; warnings are dropped.
void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

struct PngDecoder {
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_infop endInfo = nullptr;
  std::vector<png_byte> pixels;
  std::vector<png_bytep> rowPointers;
  png_uint_32 width = 0, height = 0;
  int colourType = 0;
  std::size_t rowBytes = 0;
  bool rowsReady = false;  // pixel storage exists for every row
  bool unusable = false;   // the header gives no image this program can hold

  ~PngDecoder() { png_destroy_read_struct(&png, &info, &endInfo); }
};

int Channels(int colourType) {
  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 0;
  }
}

// Decodes the whole image; returns false when libpng raised an error or the
// image cannot be held. Only C calls into libpng and the decoder's own
// members live between setjmp and a possible longjmp. May throw
// std::bad_alloc when the row storage cannot be allocated.
bool Decode(PngDecoder& d) {
  if (setjmp(png_jmpbuf(d.png))) return false;
  png_read_info(d.png, d.info);
  png_set_strip_16(d.png);
  png_set_expand(d.png);
  png_set_interlace_handling(d.png);
  png_read_update_info(d.png, d.info);

  d.width = png_get_image_width(d.png, d.info);
  d.height = png_get_image_height(d.png, d.info);
  d.colourType = png_get_color_type(d.png, d.info);
  d.rowBytes = png_get_rowbytes(d.png, d.info);
  const int channels = Channels(d.colourType);
  if (!ImageSizeAllowed(d.width, d.height) || png_get_bit_depth(d.png, d.info) != 8 || channels == 0 ||
      d.rowBytes < std::size_t{d.width} * channels) {
    d.unusable = true;
    return false;
  }

  d.pixels.assign(d.rowBytes * d.height, 0);
  d.rowPointers.resize(d.height);
  for (png_uint_32 y = 0; y < d.height; ++y) d.rowPointers[y] = d.pixels.data() + d.rowBytes * y;
  d.rowsReady = true;

  png_read_image(d.png, d.rowPointers.data());
  png_read_end(d.png, d.endInfo);
  return true;
}

void ConvertRows(const PngDecoder& d, FloatImage& image) {
  const int channels = Channels(d.colourType);
  const bool alpha = channels == 2 || channels == 4;
  for (png_uint_32 y = 0; y < d.height; ++y) {
    const png_byte* in = d.rowPointers[y];
    float* r = image.rows(FloatImage::kRed)[y];
    float* g = image.rows(FloatImage::kGreen)[y];
    float* b = image.rows(FloatImage::kBlue)[y];
    float* a = alpha ? image.rows(FloatImage::kAlpha)[y] : nullptr;
    for (png_uint_32 x = 0; x < d.width; ++x) {
      const png_byte* px = in + std::size_t{x} * channels;
      if (channels <= 2) {
        r[x] = g[x] = b[x] = px[0];
      } else {
        r[x] = px[0];
        g[x] = px[1];
        b[x] = px[2];
      }
      if (alpha) a[x] = px[channels - 1];
    }
  }
}

}  // namespace

int ReadPng(std::FILE* file, FloatImage& image, bool lenient) {
  png_byte signature[8];
  if (std::fread(signature, 1, sizeof signature, file) != sizeof signature ||
      png_sig_cmp(signature, 0, sizeof signature) != 0)
    return kReadFailed;

  PngDecoder d;
  d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (!d.png) return kReadFailed;
  d.info = png_create_info_struct(d.png);
  d.endInfo = png_create_info_struct(d.png);
  if (!d.info || !d.endInfo) return kReadFailed;
  // Refuse oversized headers inside libpng, before any allocation.
  png_set_user_limits(d.png, kMaxImageSide, kMaxImageSide);
  png_init_io(d.png, file);
  png_set_sig_bytes(d.png, sizeof signature);

  try {
    const bool complete = Decode(d);
    if (!d.rowsReady || d.unusable || (!complete && !lenient)) return kReadFailed;
    image.Allocate(d.width, d.height, Channels(d.colourType) % 2 == 0, false);
  } catch (const std::bad_alloc&) {
    return kReadFailed;
  }
  ConvertRows(d, image);
  return kReadOk;
}

int ReadPng(const std::string& path, FloatImage& image, bool lenient) {
  StdioFile file = OpenStdioFile(path, "rb");
  if (!file) return kReadCannotOpen;
  return ReadPng(file.get(), image, lenient);
}

}  // namespace kestrune
