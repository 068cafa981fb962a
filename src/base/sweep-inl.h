// Sweep: the loop of the row kernels. Included by kernel files after
// hwy/highway.h; like Highway's own -inl headers it is compiled once per
// target (callers inside their own namespaces name it
// kestrune::HWY_NAMESPACE::Sweep).
#if defined(KESTRUNE_BASE_SWEEP_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KESTRUNE_BASE_SWEEP_INL_H_
#undef KESTRUNE_BASE_SWEEP_INL_H_
#else
#define KESTRUNE_BASE_SWEEP_INL_H_
#endif

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace kestrune {
namespace HWY_NAMESPACE {

// Calls f(d, i) for the whole vectors of d from i0 on, then f(one lane, i)
// for each index left in [i0, i1): every index once, in ascending order.
template <class D, typename Index, class F>
HWY_INLINE void Sweep(D d, Index i0, Index i1, F&& f) {
  namespace hn = hwy::HWY_NAMESPACE;
  const Index lanes = static_cast<Index>(hn::Lanes(d));
  Index i = i0;
  for (; i + lanes <= i1; i += lanes) f(d, i);
  const hn::CappedTag<hn::TFromD<D>, 1> one;
  for (; i < i1; ++i) f(one, i);
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune
HWY_AFTER_NAMESPACE();

#endif  // KESTRUNE_BASE_SWEEP_INL_H_
