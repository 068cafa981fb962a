// The file layer of a build without libvips (KESTRUNE_WITH_VIPS=OFF, as for
// the arm64 test build, where Debian's libvips cannot be installed beside the
// native one): BMP and PFM, which are the program's own, and nothing else.
#include "image/format_readers.h"
#include "image/image_writers.h"

namespace kestrune {

ReadStatus ReadWithVips(const VipsInput& input, ImageHeader&, FloatImage*, DamagePolicy) {
  ReadStatus refusal = Refusal(input.signature, "this build of Kestrune reads BMP and PFM files only");
  if (input.signature == FileFormat::kUnknown) refusal.code = kReadNoReader;
  return refusal;
}

int WriteWithVips(std::FILE*, const FloatImage&, const WriteOptions&, SampleDepth, std::string& reason) {
  reason = "this build of Kestrune writes BMP and PFM files only";
  return kWriteFailed;
}

}  // namespace kestrune
