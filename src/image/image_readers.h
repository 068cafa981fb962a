// Reading BMP, PNG and JPEG files into a FloatImage (samples 0..255).
//
// Result codes: 0 the image was read; 1 the file cannot be opened (ReadBmp:
// also when its 14-byte file header cannot be read); 2 not this format, an
// unsupported kind, too large, or decoding failed; 3 (ReadImageFile only) no
// reader could read the file. On failure the image may have been
// reallocated and partly filled.
#pragma once

#include <cstdio>
#include <string>

#include "image/float_image.h"

namespace kestrune {

enum ReadResult : int {
  kReadOk = 0,
  kReadCannotOpen = 1,
  kReadFailed = 2,
  kReadNoReader = 3,
};

// Chooses the reader by the extension ("bmp", "png", "jpg", any letter case);
// when that fails or the extension is another, tries BMP, lenient PNG and
// JPEG in this order. Returns 0, 1 or 3.
int ReadImageFile(const std::string& path, FloatImage& image);

// Uncompressed BMP with 1, 4, 8, 24 or 32 bits per pixel; sets sourceBitDepth.
int ReadBmp(const std::string& path, FloatImage& image);
// Any PNG, reduced to 8 bits per sample; alpha plane for grey+alpha and
// RGB+alpha after expansion. `lenient` keeps a partly decoded image (rows the
// decoder never reached are black) instead of failing.
int ReadPng(const std::string& path, FloatImage& image, bool lenient);
// Greyscale or colour JPEG (four-component files are refused with 2). The
// library's messages go to the handler of image/jpeg_messages.h.
int ReadJpeg(const std::string& path, FloatImage& image);

// The same readers on a stream open for reading at the start of the data.
// The caller keeps and closes the stream.
int ReadBmp(std::FILE* file, FloatImage& image);
int ReadPng(std::FILE* file, FloatImage& image, bool lenient);
int ReadJpeg(std::FILE* file, FloatImage& image);

}  // namespace kestrune
