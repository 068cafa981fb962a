// libFuzzer target: the file-reading entry point on inputs that start like a
// PNM file, so that the fuzzer's time goes to that one decoder.
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  return FuzzImageReaders(data, size, kestrune::FileFormat::kPnm);
}
