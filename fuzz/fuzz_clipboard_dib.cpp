// libFuzzer target: DecodePackedDib on arbitrary bytes; a decoded bitmap is
// encoded again and must decode to the same samples.
#include <cstdlib>

#include "fuzz_input.h"
#include "image/clipboard_dib.h"

using namespace kestrune;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size >= 12 && Magnitude(Le32(data + 4)) * Magnitude(Le32(data + 8)) > kFuzzMaxPixels) return -1;
  FloatImage image;
  if (DecodePackedDib(data, size, image) != PasteResult::kPasted) return 0;
  const std::vector<uint8_t> encoded = EncodePackedDib(image);
  FloatImage again;
  if (DecodePackedDib(encoded.data(), encoded.size(), again) != PasteResult::kPasted) std::abort();
  for (int c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < image.PixelCount(); ++i)
      if (image.samples(c)[i] != again.samples(c)[i]) std::abort();
  return 0;
}
