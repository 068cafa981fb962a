// ReadImageFile: picks a reader by the file name's extension and falls back
// to trying BMP, lenient PNG and JPEG in this order.
#include <algorithm>
#include <cctype>

#include "image/image_readers.h"
#include "image/stdio_file.h"

namespace kestrune {

int ReadImageFile(const std::string& path, FloatImage& image) {
  if (!OpenStdioFile(path, "rb")) return kReadCannotOpen;

  const std::size_t dot = path.rfind('.');
  if (dot != std::string::npos) {
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    int result = -1;
    if (ext == "bmp")
      result = ReadBmp(path, image);
    else if (ext == "png")
      result = ReadPng(path, image, false);
    else if (ext == "jpg")
      result = ReadJpeg(path, image);
    if (result == kReadOk) return kReadOk;
  }

  if (ReadBmp(path, image) == kReadOk) return kReadOk;
  if (ReadPng(path, image, true) == kReadOk) return kReadOk;
  if (ReadJpeg(path, image) == kReadOk) return kReadOk;
  return kReadNoReader;
}

}  // namespace kestrune
