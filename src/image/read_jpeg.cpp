// ReadJpeg: greyscale and colour JPEG files through the libjpeg 6b interface.
// Every message of the library goes to the program's JPEG message handler; a
// fatal error jumps back here, the decoder is destroyed and the result is 2.
// Files with four components (CMYK, YCCK) are refused: their colours cannot
// be rendered faithfully without the colour profile they were made for.
#include <csetjmp>
#include <cstdio>
#include <new>
#include <vector>

#include <jpeglib.h>

#include "image/image_readers.h"
#include "image/jpeg_messages.h"
#include "image/stdio_file.h"

namespace kestrune {

namespace {

struct JpegErrorManager {
  jpeg_error_mgr pub;  // first member: libjpeg sees only this part
  std::jmp_buf jump;
};

void OutputMessage(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  EmitJpegMessage(text);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  std::longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

struct JpegDecoder {
  jpeg_decompress_struct cinfo{};
  JpegErrorManager err{};
  bool created = false;
  std::vector<JSAMPLE> lines;  // up to 16 decoded lines
  std::vector<JSAMPROW> lineRows;

  ~JpegDecoder() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

constexpr JDIMENSION kLinesPerCall = 16;

// Decodes into `image`; returns a ReadResult. Only C calls into libjpeg and
// the decoder's own members live between setjmp and a possible longjmp. May
// throw std::bad_alloc from the image or line allocation.
int Decode(JpegDecoder& d, std::FILE* file, FloatImage& image) {
  d.cinfo.err = jpeg_std_error(&d.err.pub);
  d.err.pub.error_exit = ErrorExit;
  d.err.pub.output_message = OutputMessage;
  if (setjmp(d.err.jump)) return kReadFailed;

  jpeg_create_decompress(&d.cinfo);
  d.created = true;
  jpeg_stdio_src(&d.cinfo, file);
  if (jpeg_read_header(&d.cinfo, TRUE) != JPEG_HEADER_OK) return kReadFailed;
  if (d.cinfo.num_components == 4 || d.cinfo.jpeg_color_space == JCS_CMYK || d.cinfo.jpeg_color_space == JCS_YCCK)
    return kReadFailed;
  jpeg_calc_output_dimensions(&d.cinfo);
  const int components = d.cinfo.output_components;
  if ((components != 1 && components != 3) || !ImageSizeAllowed(d.cinfo.output_width, d.cinfo.output_height))
    return kReadFailed;
  if (!jpeg_start_decompress(&d.cinfo)) return kReadFailed;

  const JDIMENSION width = d.cinfo.output_width, height = d.cinfo.output_height;
  image.Allocate(width, height, false, false);
  const std::size_t lineBytes = std::size_t{width} * components;
  d.lines.resize(lineBytes * kLinesPerCall);
  d.lineRows.resize(kLinesPerCall);
  for (JDIMENSION i = 0; i < kLinesPerCall; ++i) d.lineRows[i] = d.lines.data() + lineBytes * i;

  while (d.cinfo.output_scanline < height) {
    const JDIMENSION first = d.cinfo.output_scanline;
    const JDIMENSION count = jpeg_read_scanlines(&d.cinfo, d.lineRows.data(), kLinesPerCall);
    for (JDIMENSION i = 0; i < count; ++i) {
      const JSAMPLE* in = d.lineRows[i];
      float* r = image.rows(FloatImage::kRed)[first + i];
      float* g = image.rows(FloatImage::kGreen)[first + i];
      float* b = image.rows(FloatImage::kBlue)[first + i];
      for (JDIMENSION x = 0; x < width; ++x) {
        if (components == 1) {
          r[x] = g[x] = b[x] = in[x];
        } else {
          r[x] = in[3 * std::size_t{x}];
          g[x] = in[3 * std::size_t{x} + 1];
          b[x] = in[3 * std::size_t{x} + 2];
        }
      }
    }
    if (count == 0) return kReadFailed;  // a suspending source cannot occur with a file; never loop forever
  }
  jpeg_finish_decompress(&d.cinfo);
  return kReadOk;
}

}  // namespace

int ReadJpeg(std::FILE* file, FloatImage& image) {
  JpegDecoder decoder;
  try {
    return Decode(decoder, file, image);
  } catch (const std::bad_alloc&) {
    return kReadFailed;
  }
}

int ReadJpeg(const std::string& path, FloatImage& image) {
  StdioFile file = OpenStdioFile(path, "rb");
  if (!file) return kReadCannotOpen;
  return ReadJpeg(file.get(), image);
}

}  // namespace kestrune
