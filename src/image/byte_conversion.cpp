// Float-to-byte conversion of single planes and of interleaved BGR rows: a
// scalar loop over FloatToByte and a Highway loop that clamps with the same
// comparisons (so NaN goes to 0) and rounds with the processor's default
// rounding, to nearest with ties to even, exactly like nearbyint.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "image/byte_conversion.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstring>

#include "base/simd.h"
#include "image/byte_conversion.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::bytes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using DF = hn::ScalableTag<float>;
using DB = hn::Rebind<uint8_t, DF>;

// FloatToByte of Lanes(DF) samples.
HWY_INLINE hn::Vec<DB> ToBytes(const float* p) {
  const DF d;
  const auto v = hn::LoadU(d, p);
  const auto top = hn::Set(d, 255.0f);
  const auto clamped = hn::IfThenElseZero(hn::Gt(v, hn::Zero(d)), hn::IfThenElse(hn::Lt(v, top), v, top));
  return hn::DemoteTo(DB(), hn::NearestInt(clamped));
}

std::size_t FloatsToBytesHwy(const float* in, uint8_t* out, std::size_t count) {
  const std::size_t lanes = hn::Lanes(DF());
  std::size_t i = 0;
  for (; i + lanes <= count; i += lanes) hn::StoreU(ToBytes(in + i), DB(), out + i);
  return i;
}

std::size_t PlanesToBgrHwy(const float* red, const float* green, const float* blue, uint8_t* out, std::size_t count) {
  const std::size_t lanes = hn::Lanes(DF());
  std::size_t i = 0;
  for (; i + lanes <= count; i += lanes)
    hn::StoreInterleaved3(ToBytes(blue + i), ToBytes(green + i), ToBytes(red + i), DB(), out + 3 * i);
  return i;
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::bytes
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune {

namespace bytes {
HWY_EXPORT(FloatsToBytesHwy);
HWY_EXPORT(PlanesToBgrHwy);
}  // namespace bytes

void FloatsToBytes(const float* in, uint8_t* out, std::size_t count) {
  std::size_t i = simd::ScalarKernels() ? 0 : HWY_DYNAMIC_DISPATCH(bytes::FloatsToBytesHwy)(in, out, count);
  for (; i < count; ++i) out[i] = FloatToByte(in[i]);
}

void PlanesToBgr(const float* red, const float* green, const float* blue, uint8_t* out, std::size_t count) {
  std::size_t i = simd::ScalarKernels() ? 0 : HWY_DYNAMIC_DISPATCH(bytes::PlanesToBgrHwy)(red, green, blue, out, count);
  for (; i < count; ++i) {
    out[3 * i] = FloatToByte(blue[i]);
    out[3 * i + 1] = FloatToByte(green[i]);
    out[3 * i + 2] = FloatToByte(red[i]);
  }
}

}  // namespace kestrune
#endif  // HWY_ONCE
