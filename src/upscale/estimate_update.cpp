// UpdateEstimate: one pass over the estimate, the regulariser weighted on the
// way instead of in a pass of its own. A scalar form and a Highway form with
// the same operations in the same order: the same bits.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "upscale/estimate_update.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>
#include "base/sweep-inl.h"

#include "base/simd.h"
#include "upscale/estimate_update.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::update {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void UpdateEstimateHwy(float* x, const float* e, const float* r, const float* v, float beta, float lambda,
                       std::ptrdiff_t i0, std::ptrdiff_t i1) {
  auto samples = [&](auto d, std::ptrdiff_t i) {
    auto g = hn::LoadU(d, r + i);
    if (v != nullptr) g = hn::Mul(g, hn::LoadU(d, v + i));
    const auto u = hn::Sub(hn::LoadU(d, x + i),
                           hn::Mul(hn::Set(d, beta), hn::Add(hn::LoadU(d, e + i), hn::Mul(hn::Set(d, lambda), g))));
    const auto low = hn::Set(d, -0.5f), high = hn::Set(d, 255.5f);
    hn::StoreU(hn::IfThenElse(hn::Lt(u, low), low, hn::IfThenElse(hn::Gt(u, high), high, u)), d, x + i);
  };
  kestrune::HWY_NAMESPACE::Sweep(hn::ScalableTag<float>(), i0, i1, samples);
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::update
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune {

namespace update {
HWY_EXPORT(UpdateEstimateHwy);
}  // namespace update

void UpdateEstimate(float* x, const float* e, const float* r, const float* v, float beta, float lambda,
                    std::ptrdiff_t i0, std::ptrdiff_t i1) {
  if (!simd::ScalarKernels()) {
    HWY_DYNAMIC_DISPATCH(update::UpdateEstimateHwy)(x, e, r, v, beta, lambda, i0, i1);
    return;
  }
  for (std::ptrdiff_t i = i0; i < i1; ++i) {
    const float g = v != nullptr ? r[i] * v[i] : r[i];
    const float u = x[i] - beta * (e[i] + lambda * g);
    x[i] = u < -0.5f ? -0.5f : u > 255.5f ? 255.5f : u;
  }
}

}  // namespace kestrune
#endif  // HWY_ONCE
