// ReadPng: any PNG through libpng, with the transforms strip-16 (keep the
// high byte of 16-bit samples) and expand (palette to RGB, small grey depths
// to 8 bits, a transparency chunk to an alpha channel). The reader reads the
// rows itself, pass by pass, so that it owns zero-filled row storage and
// knows how far decoding got: a damaged file that is kept holds the decoded
// rows and black for the rest, and its status says where the data stopped.
#include <algorithm>
#include <csetjmp>
#include <new>
#include <string>
#include <vector>

#include <png.h>

#include "image/format_readers.h"

namespace kestrune {

namespace {

constexpr FileFormat kPng = FileFormat::kPng;

// Deflate codes at least two bits for a match of at most 258 bytes, so a
// zlib stream never holds more than 1032 bytes of data per byte.
constexpr uint64_t kMaxInflateRatio = 1032;

enum class Stage { kHeader, kRows, kEnd };

struct PngDecoder {
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_infop endInfo = nullptr;
  std::FILE* file = nullptr;
  std::vector<png_byte> pixels;
  std::vector<png_bytep> rowPointers;
  png_uint_32 width = 0, height = 0;
  int colourType = 0;
  std::size_t rowBytes = 0;

  Stage stage = Stage::kHeader;
  int passes = 1;
  int pass = 0;              // the interlace pass being decoded
  png_uint_32 rowsDone = 0;  // rows of that pass decoded
  bool endOfFile = false;    // libpng asked for bytes past the end of the file
  std::string error;         // libpng's reason for stopping
  std::vector<std::string> warnings;

  ~PngDecoder() { png_destroy_read_struct(&png, &info, &endInfo); }
};

PngDecoder& DecoderOf(png_structp png) { return *static_cast<PngDecoder*>(png_get_error_ptr(png)); }

// libpng's errors keep their text and where in the rows they came, and jump
// back to the decoding function. libpng counts a row once it is stored, so
// an error in the checks after the last row comes after every row.
void PngError(png_structp png, png_const_charp message) {
  PngDecoder& d = DecoderOf(png);
  d.error = message;
  if (d.stage == Stage::kRows) {
    d.pass = png_get_current_pass_number(png);
    d.rowsDone = png_get_current_row_number(png);
    if (d.pass >= d.passes || d.rowsDone >= d.height) d.stage = Stage::kEnd;
  }
  png_longjmp(png, 1);
}

void PngWarning(png_structp png, png_const_charp message) {
  try {
    std::vector<std::string>& warnings = DecoderOf(png).warnings;
    if (std::find(warnings.begin(), warnings.end(), message) == warnings.end()) warnings.emplace_back(message);
  } catch (const std::bad_alloc&) {
  }
}

void ReadData(png_structp png, png_bytep out, std::size_t length) {
  PngDecoder& d = DecoderOf(png);
  if (std::fread(out, 1, length, d.file) != length) {
    d.endOfFile = std::feof(d.file) != 0;
    png_error(png, "read error");
  }
}

int Channels(int colourType) {
  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 0;
  }
}

// Only C calls into libpng and the decoder's own members live between setjmp
// and a possible longjmp in the two functions below.
bool ReadHeader(PngDecoder& d) {
  if (setjmp(png_jmpbuf(d.png))) return false;
  png_read_info(d.png, d.info);
  return true;
}

// Decodes every row; false when libpng stopped with an error. May throw
// std::bad_alloc when the row storage cannot be allocated.
bool DecodeRows(PngDecoder& d) {
  if (setjmp(png_jmpbuf(d.png))) return false;
  png_set_strip_16(d.png);
  png_set_expand(d.png);
  d.passes = png_set_interlace_handling(d.png);
  png_read_update_info(d.png, d.info);

  d.width = png_get_image_width(d.png, d.info);
  d.height = png_get_image_height(d.png, d.info);
  d.colourType = png_get_color_type(d.png, d.info);
  d.rowBytes = png_get_rowbytes(d.png, d.info);
  const int channels = Channels(d.colourType);
  if (png_get_bit_depth(d.png, d.info) != 8 || channels == 0 || d.rowBytes < std::size_t{d.width} * channels)
    png_error(d.png, "unexpected layout after the transforms");

  d.pixels.assign(d.rowBytes * d.height, 0);
  d.rowPointers.resize(d.height);
  for (png_uint_32 y = 0; y < d.height; ++y) d.rowPointers[y] = d.pixels.data() + d.rowBytes * y;
  d.stage = Stage::kRows;

  for (d.pass = 0; d.pass < d.passes; ++d.pass)
    for (d.rowsDone = 0; d.rowsDone < d.height; ++d.rowsDone) png_read_row(d.png, d.rowPointers[d.rowsDone], nullptr);
  d.stage = Stage::kEnd;
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

// Where and why decoding stopped.
std::string StopMessage(const PngDecoder& d) {
  std::string where;
  if (d.stage == Stage::kHeader)
    where = "before its image data";
  else if (d.stage == Stage::kEnd)
    where = "after its last row";
  else {
    where = "after row " + std::to_string(d.rowsDone) + " of " + std::to_string(d.height);
    if (d.passes > 1) where += " in interlace pass " + std::to_string(d.pass + 1) + " of " + std::to_string(d.passes);
  }
  return d.endOfFile ? "PNG truncated " + where : "PNG damaged " + where + ": " + d.error;
}

}  // namespace

ReadStatus ReadPng(std::FILE* file, uint64_t fileSize, ImageHeader& header, FloatImage* image,
                   DamagePolicy policy) {
  png_byte signature[8];
  if (std::fread(signature, 1, sizeof signature, file) != sizeof signature)
    return Damage(kPng, "PNG truncated in its signature", false, policy);

  PngDecoder d;
  d.file = file;
  d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &d, PngError, PngWarning);
  if (!d.png) return Refusal(kPng, "not enough memory for the PNG library");
  d.info = png_create_info_struct(d.png);
  d.endInfo = png_create_info_struct(d.png);
  if (!d.info || !d.endInfo) return Refusal(kPng, "not enough memory for the PNG library");
  png_set_read_fn(d.png, &d, ReadData);
  png_set_sig_bytes(d.png, sizeof signature);

  ReadStatus status;
  if (!ReadHeader(d)) {
    status = Damage(kPng, StopMessage(d), false, policy);
    status.warnings = d.warnings;
    return status;
  }
  const png_uint_32 width = png_get_image_width(d.png, d.info), height = png_get_image_height(d.png, d.info);
  const int colourType = png_get_color_type(d.png, d.info);
  header.width = width;
  header.height = height;
  header.bitsPerPixel = png_get_bit_depth(d.png, d.info) * png_get_channels(d.png, d.info);
  header.alpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(d.png, d.info, PNG_INFO_tRNS) != 0;
  if (std::string problem = SizeLimitProblem(kPng, width, height); !problem.empty())
    return Refusal(kPng, std::move(problem));

  // The filtered rows (one filter byte each) are what the compressed data
  // must inflate to; interlacing only adds to them.
  const uint64_t rawBytes = uint64_t{height} * (1 + png_get_rowbytes(d.png, d.info));
  if (rawBytes > kMaxInflateRatio * fileSize)
    return Damage(kPng,
                  "PNG of " + std::to_string(width) + " x " + std::to_string(height) + " pixels needs " +
                      std::to_string(rawBytes) + " bytes of image data, more than a file of " +
                      std::to_string(fileSize) + " bytes can hold (at most " +
                      std::to_string(kMaxInflateRatio * fileSize) + ")",
                  false, policy);
  status.format = kPng;
  status.warnings = d.warnings;
  if (!image) return status;

  try {
    const bool complete = DecodeRows(d);
    status.warnings = d.warnings;
    if (!complete) {
      const bool readable = d.stage == Stage::kEnd || (d.stage == Stage::kRows && (d.pass > 0 || d.rowsDone > 0));
      ReadStatus damage = Damage(kPng, StopMessage(d), readable, policy);
      damage.warnings = std::move(status.warnings);
      if (!damage.ok()) return damage;
      status = std::move(damage);
    }
    image->Allocate(d.width, d.height, Channels(d.colourType) % 2 == 0, false);
  } catch (const std::bad_alloc&) {
    return Refusal(kPng, "not enough memory for the image");
  }
  ConvertRows(d, *image);
  return status;
}

}  // namespace kestrune
