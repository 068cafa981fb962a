// libFuzzer target: ReadBmp on arbitrary bytes.
#include "fuzz_input.h"
#include "image/image_readers.h"

using namespace kestrune;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size >= 26 && Magnitude(Le32(data + 18)) * Magnitude(Le32(data + 22)) > kFuzzMaxPixels) return -1;
  std::FILE* file = OpenInput(data, size);
  if (!file) return 0;
  FloatImage image;
  if (size == 0) std::fgetc(file);  // consume the placeholder byte
  ReadBmp(file, image);
  std::fclose(file);
  return 0;
}
