// RobustResidual: sign(e) |e|^(1/4), the fourth root taken as two square roots.
// A scalar form and a Highway form; square roots are correctly rounded in
// both, so they give the same bits.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "upscale/robust_residual.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>
#include "base/sweep-inl.h"

#include <cmath>
#include <cstddef>

#include "base/simd.h"
#include "base/threading.h"
#include "upscale/robust_residual.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::residual {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void RobustResidualHwy(const float* simulated, const float* source, std::ptrdiff_t i0, std::ptrdiff_t i1,
                       float* residual) {
  auto samples = [&](auto d, std::ptrdiff_t i) {
    const auto e = source != nullptr ? hn::Sub(hn::LoadU(d, simulated + i), hn::LoadU(d, source + i))
                                     : hn::LoadU(d, simulated + i);
    const auto zero = hn::Zero(d);
    // 1 for e > 0, 0 for e = 0, -1 otherwise (NaN included).
    const auto sign =
        hn::IfThenZeroElse(hn::Eq(e, zero), hn::IfThenElse(hn::Gt(e, zero), hn::Set(d, 1.0f), hn::Set(d, -1.0f)));
    hn::StoreU(hn::Mul(sign, hn::Sqrt(hn::Sqrt(hn::Abs(e)))), d, residual + i);
  };
  kestrune::HWY_NAMESPACE::Sweep(hn::ScalableTag<float>(), i0, i1, samples);
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::residual
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune {

namespace residual {
HWY_EXPORT(RobustResidualHwy);
}  // namespace residual

void RobustResidual(const float* simulated, const float* source, std::size_t n, float* residual) {
  // Sample by sample; the threads take runs of samples.
  const bool scalar = simd::ScalarKernels();
  ParallelFor(0, std::ptrdiff_t(n), 16384, [&](std::ptrdiff_t i0, std::ptrdiff_t i1) {
    if (!scalar) {
      HWY_DYNAMIC_DISPATCH(residual::RobustResidualHwy)(simulated, source, i0, i1, residual);
      return;
    }
    for (std::ptrdiff_t i = i0; i < i1; ++i) {
      const float e = source != nullptr ? simulated[i] - source[i] : simulated[i];
      const float sign = e > 0.0f ? 1.0f : e == 0.0f ? 0.0f : -1.0f;
      residual[i] = sign * std::sqrt(std::sqrt(std::fabs(e)));
    }
  });
}

}  // namespace kestrune
#endif  // HWY_ONCE
