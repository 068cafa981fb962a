// libFuzzer target: the PFM reader (probe, strict and keeping damage).
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  return FuzzImageReaders(data, size, kestrune::FileFormat::kPfm);
}
