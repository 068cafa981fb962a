// libFuzzer target: ReadJpeg on arbitrary bytes (messages dropped).
#include "fuzz_input.h"
#include "image/image_readers.h"

using namespace kestrune;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // Skip inputs with any start-of-frame marker declaring a large image.
  for (std::size_t i = 0; i + 9 <= size; ++i) {
    if (data[i] != 0xFF || data[i + 1] < 0xC0 || data[i + 1] > 0xCF || data[i + 1] == 0xC4 || data[i + 1] == 0xC8 ||
        data[i + 1] == 0xCC)
      continue;
    const uint64_t height = uint64_t{data[i + 5]} << 8 | data[i + 6];
    const uint64_t width = uint64_t{data[i + 7]} << 8 | data[i + 8];
    if (width * height > kFuzzMaxPixels) return -1;
  }
  std::FILE* file = OpenInput(data, size);
  if (!file) return 0;
  if (size == 0) std::fgetc(file);
  FloatImage image;
  ReadJpeg(file, image);
  std::fclose(file);
  return 0;
}
