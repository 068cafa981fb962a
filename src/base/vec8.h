// Eight-float vectors for the plane loops, with a build that picks AVX2 at
// run time where the compiler can clone functions for it. Loads and stores go
// through memcpy, so they need no alignment.
#pragma once

#include <cstring>

namespace kestrune {

// 32-byte vectors never cross a function boundary that is not inlined, so the
// ABI note about passing them without AVX does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define KESTRUNE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KESTRUNE_VECTOR_CLONES
#endif

namespace vec8 {

typedef float Vec8 __attribute__((vector_size(32)));

inline Vec8 Load(const float* p) {
  Vec8 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store(float* p, Vec8 v) { std::memcpy(p, &v, sizeof v); }

}  // namespace vec8

}  // namespace kestrune
