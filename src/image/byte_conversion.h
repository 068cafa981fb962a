// Float-to-byte conversion, used wherever an image leaves the program as
// bytes: round to the nearest integer with ties to even, then clamp to
// 0..255; a sample that is not a number becomes 0.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace kestrune {

inline uint8_t FloatToByte(float value) {
  // Clamping before rounding gives the same result as rounding first (the
  // bounds are integers), and the comparisons send NaN to 0.
  const float clamped = value > 0.0f ? (value < 255.0f ? value : 255.0f) : 0.0f;
  return static_cast<uint8_t>(std::nearbyint(clamped));
}

// out[i] = FloatToByte(in[i]) for i < count.
void FloatsToBytes(const float* in, uint8_t* out, std::size_t count);

// Interleaves `count` pixels as blue, green, red bytes (3 x count bytes at
// `out`), each the byte conversion of the matching plane sample.
void PlanesToBgr(const float* red, const float* green, const float* blue, uint8_t* out, std::size_t count);

}  // namespace kestrune
