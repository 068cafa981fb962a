// Helpers of the fuzz targets: the input as a read-only stream, and a cap on
// the declared image size so that one input cannot ask for gigabytes (the
// readers accept up to 2^28 pixels, far beyond the fuzzer's memory limit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

inline constexpr uint64_t kFuzzMaxPixels = uint64_t{1} << 16;

inline std::FILE* OpenInput(const uint8_t* data, std::size_t size) {
  // fmemopen refuses a zero size; an empty input is an empty stream.
  static const uint8_t empty = 0;
  return size == 0 ? fmemopen(const_cast<uint8_t*>(&empty), 1, "rb") : fmemopen(const_cast<uint8_t*>(data), size, "rb");
}

inline uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[3]} | uint32_t{p[2]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[0]} << 24;
}
inline uint64_t Magnitude(uint32_t v) {
  const auto s = static_cast<int32_t>(v);
  return s < 0 ? uint64_t{0} - static_cast<uint64_t>(int64_t{s}) : uint64_t(s);
}
