// Helpers of the fuzz targets: a cap on the declared image size so that one
// input cannot ask for gigabytes (the readers accept up to 2^28 pixels, far
// beyond the fuzzer's memory limit), and the driver shared by the file
// readers' targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "image/image_readers.h"

inline constexpr uint64_t kFuzzMaxPixels = uint64_t{1} << 16;

inline uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline uint64_t Magnitude(uint32_t v) {
  const auto s = static_cast<int32_t>(v);
  return s < 0 ? uint64_t{0} - static_cast<uint64_t>(int64_t{s}) : uint64_t(s);
}

// Probes the input, then reads it strictly and keeping damage, through the
// entry point every file takes, and checks that the answers agree: a read
// image has the probed size, a failed read leaves none, a strict read never
// passes damage, every failure says why. With `format` other than kUnknown,
// inputs whose first bytes name another format are left to their target.
inline int FuzzImageReaders(const uint8_t* data, std::size_t size, kestrune::FileFormat format) {
  using namespace kestrune;
  if (size == 0 || (format != FileFormat::kUnknown && FormatOfSignature(data, size) != format)) return -1;
  ImageInfo header;
  const ReadStatus probe = ReadImageHeaderMemory(data, size, header);
  if (probe.ok() && uint64_t{header.width} * header.height > kFuzzMaxPixels) return -1;
  for (DamagePolicy policy : {DamagePolicy::kRefuse, DamagePolicy::kKeepReadable}) {
    FloatImage image;
    const ReadStatus status = ReadImageMemory(data, size, image, policy);
    if (status.ok() && (!probe.ok() || image.width != header.width || image.height != header.height ||
                        image.IsEmpty() || image.HasAlpha() != header.hasAlpha))
      std::abort();
    if (!status.ok() && (!image.IsEmpty() || status.message.empty())) std::abort();
    if (status.ok() && status.damaged && (policy == DamagePolicy::kRefuse || status.message.empty())) std::abort();
  }
  return 0;
}
