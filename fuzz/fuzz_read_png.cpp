// libFuzzer target: ReadPng, strict and lenient, on arbitrary bytes.
#include "fuzz_input.h"
#include "image/image_readers.h"

using namespace kestrune;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // The first chunk of a PNG is IHDR: width and height, big-endian, at 16.
  if (size >= 24 && uint64_t{Be32(data + 16)} * Be32(data + 20) > kFuzzMaxPixels) return -1;
  for (bool lenient : {false, true}) {
    std::FILE* file = OpenInput(data, size);
    if (!file) return 0;
    if (size == 0) std::fgetc(file);
    FloatImage image;
    ReadPng(file, image, lenient);
    std::fclose(file);
  }
  return 0;
}
