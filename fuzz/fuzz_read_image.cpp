// libFuzzer target: the file-reading entry point on any bytes, so every
// reader behind it (the program's BMP and PFM readers, each of libvips's
// trusted loaders) is reached: probe, strict and keeping damage.
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  return FuzzImageReaders(data, size, kestrune::FileFormat::kUnknown);
}
