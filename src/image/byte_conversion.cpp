// Float-to-byte conversion of single planes and of interleaved BGR rows.
// The SSE2 path rounds with cvtps2dq, which uses the processor's default
// rounding (to nearest, ties to even) exactly like the scalar nearbyint.
#include "image/byte_conversion.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrune {

namespace {

#if defined(__SSE2__)
// Clamps four samples to 0..255 (NaN to 0: maxps returns its second operand
// when the first is NaN) and rounds them to 32-bit integers.
inline __m128i ClampRound4(const float* p) {
  const __m128 v = _mm_max_ps(_mm_loadu_ps(p), _mm_setzero_ps());
  return _mm_cvtps_epi32(_mm_min_ps(v, _mm_set1_ps(255.0f)));
}
#endif

}  // namespace

void FloatsToBytes(const float* in, uint8_t* out, std::size_t count) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= count; i += 16) {
    const __m128i a = _mm_packs_epi32(ClampRound4(in + i), ClampRound4(in + i + 4));
    const __m128i b = _mm_packs_epi32(ClampRound4(in + i + 8), ClampRound4(in + i + 12));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
  }
#endif
  for (; i < count; ++i) out[i] = FloatToByte(in[i]);
}

void PlanesToBgr(const float* red, const float* green, const float* blue, uint8_t* out, std::size_t count) {
  std::size_t i = 0;
#if defined(__SSE2__)
  // Each 32-bit lane becomes one pixel b | g << 8 | r << 16, stored with a
  // 4-byte write at 3i whose spare byte the next pixel overwrites; the loop
  // leaves at least one pixel to the scalar tail so no write passes the end.
  for (; i + 4 < count; i += 4) {
    const __m128i b = ClampRound4(blue + i);
    const __m128i g = _mm_slli_epi32(ClampRound4(green + i), 8);
    const __m128i r = _mm_slli_epi32(ClampRound4(red + i), 16);
    alignas(16) uint32_t px[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(px), _mm_or_si128(b, _mm_or_si128(g, r)));
    uint8_t* o = out + 3 * i;
    std::memcpy(o, &px[0], 4);
    std::memcpy(o + 3, &px[1], 4);
    std::memcpy(o + 6, &px[2], 4);
    std::memcpy(o + 9, &px[3], 4);
  }
#endif
  for (; i < count; ++i) {
    out[3 * i] = FloatToByte(blue[i]);
    out[3 * i + 1] = FloatToByte(green[i]);
    out[3 * i + 2] = FloatToByte(red[i]);
  }
}

}  // namespace kestrune
