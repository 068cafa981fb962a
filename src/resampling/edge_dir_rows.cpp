// Row kernels of EdgeDirResampler: plain loops, and Highway loops over as
// many sites as a vector holds, finished one site at a time with one-lane
// vectors. Even and odd samples of a row are split and merged again by
// interleaved loads and stores.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "resampling/edge_dir_rows.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>
#include "base/sweep-inl.h"

#include "base/simd.h"
#include "resampling/edge_dir_rows.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::Resampling {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using std::ptrdiff_t;
using std::size_t;

// site + q * (sum_k u_k * (pair_k - 2 site)) for the K pairs at x.
template <class D, class Pair>
HWY_INLINE hn::Vec<D> Move(D d, hn::Vec<D> site, int K, const float* u, size_t w, const float* q, size_t x,
                           Pair&& pair) {
  const auto twice = hn::Add(site, site);
  auto sum = hn::Mul(hn::LoadU(d, u + x), hn::Sub(pair(0), twice));
  for (int k = 1; k < K; ++k) sum = hn::Add(sum, hn::Mul(hn::LoadU(d, u + k * w + x), hn::Sub(pair(k), twice)));
  return hn::Add(site, hn::Mul(sum, hn::LoadU(d, q + x)));
}

// The odd samples of the interleaved pairs at `p`.
template <class D>
HWY_INLINE hn::Vec<D> OddLanes(D d, const float* p) {
  hn::Vec<D> even, odd;
  hn::LoadInterleaved2(d, p, even, odd);
  return odd;
}

// Runs site(d, x) over [x0, x1): full vectors, then one lane at a time.
template <class Site>
HWY_INLINE void Sweep(size_t x0, size_t x1, Site&& site) {
  kestrune::HWY_NAMESPACE::Sweep(hn::ScalableTag<float>(), x0, x1, site);
}

void OddRowHwy(const float* const* minus, const float* const* plus, const float* u, size_t w, const float* q,
               float* row, size_t x0, size_t x1) {
  Sweep(x0, x1, [&](auto d, size_t x) {
    hn::Vec<decltype(d)> even, odd;
    hn::LoadInterleaved2(d, row + 2 * x, even, odd);
    const auto moved = Move(d, odd, 14, u, w, q, x,
                            [&](int k) { return hn::Add(hn::LoadU(d, minus[k] + x), hn::LoadU(d, plus[k] + x)); });
    hn::StoreInterleaved2(even, moved, d, row + 2 * x);
  });
}

void EvenAxialRowHwy(const float* e0, const float* e1, const float* e2, const float* o0, const float* o1,
                     const float* u, size_t w, const float* q, float* row, size_t x0, size_t x1) {
  Sweep(x0, x1, [&](auto d, size_t x) {
    using V = hn::Vec<decltype(d)>;
    // Odd samples of output rows at 2x - 2, 2x and 2x + 2.
    auto odd = [&](const float* p) { return OddLanes(d, p); };
    const V pairs[6] = {
        hn::Add(hn::LoadU(d, e1 + x), hn::LoadU(d, e1 + x + 1)),  // (0, 1)
        hn::Add(odd(o0 + 2 * x), odd(o1 + 2 * x)),                // (1, 0)
        hn::Add(hn::LoadU(d, e2 + x), hn::LoadU(d, e0 + x + 1)),  // (-2, 1)
        hn::Add(odd(o1 + 2 * x - 2), odd(o0 + 2 * x + 2)),        // (-1, 2)
        hn::Add(odd(o0 + 2 * x - 2), odd(o1 + 2 * x + 2)),        // (1, 2)
        hn::Add(hn::LoadU(d, e0 + x), hn::LoadU(d, e2 + x + 1)),  // (2, 1)
    };
    V even, site;
    hn::LoadInterleaved2(d, row + 2 * x, even, site);
    hn::StoreInterleaved2(even, Move(d, site, 6, u, w, q, x, [&](int k) { return pairs[k]; }), d, row + 2 * x);
  });
}

void OddAxialRowHwy(const float* e1, const float* e2, const float* o0, const float* o1, const float* o2, const float* u,
                    size_t w, const float* q, float* row, size_t x0, size_t x1) {
  Sweep(x0, x1, [&](auto d, size_t x) {
    using V = hn::Vec<decltype(d)>;
    auto odd = [&](const float* p) { return OddLanes(d, p); };
    const V pairs[6] = {
        hn::Add(odd(o1 + 2 * x - 2), odd(o1 + 2 * x)),                // (0, 1)
        hn::Add(hn::LoadU(d, e1 + x), hn::LoadU(d, e2 + x)),          // (1, 0)
        hn::Add(odd(o2 + 2 * x - 2), odd(o0 + 2 * x)),                // (-2, 1)
        hn::Add(hn::LoadU(d, e2 + x - 1), hn::LoadU(d, e1 + x + 1)),  // (-1, 2)
        hn::Add(hn::LoadU(d, e1 + x - 1), hn::LoadU(d, e2 + x + 1)),  // (1, 2)
        hn::Add(odd(o0 + 2 * x - 2), odd(o2 + 2 * x)),                // (2, 1)
    };
    V site, odd1;
    hn::LoadInterleaved2(d, row + 2 * x, site, odd1);
    hn::StoreInterleaved2(Move(d, site, 6, u, w, q, x, [&](int k) { return pairs[k]; }), odd1, d, row + 2 * x);
  });
}

void CostRowHwy(float* map, const float* const* g, const float* const* plus, const float* const* minus, size_t c0,
                size_t c1, ptrdiff_t dx) {
  Sweep(c0, c1, [&](auto d, size_t c) {
    auto term = [&](int ch) {
      const auto centre = hn::LoadU(d, g[ch] + c);
      const auto d1 = hn::Sub(centre, hn::LoadU(d, plus[ch] + c + dx));
      const auto d2 = hn::Sub(hn::LoadU(d, minus[ch] + c - dx), centre);
      return hn::Add(hn::Mul(d1, d1), hn::Mul(d2, d2));
    };
    hn::StoreU(hn::Add(hn::Add(term(0), term(1)), term(2)), d, map + c);
  });
}

// The costs at x: contiguous, or the even or odd lanes of interleaved pairs.
void RawWeightsHwy(float* u, const float* cost, size_t step, size_t first, float scale, size_t x0, size_t x1) {
  Sweep(x0, x1, [&](auto d, size_t x) {
    auto c = hn::Zero(d);
    if (step == 1) {
      c = hn::LoadU(d, cost + first + x);
    } else {
      hn::Vec<decltype(d)> even, odd;
      hn::LoadInterleaved2(d, cost + 2 * x, even, odd);
      c = first ? odd : even;
    }
    const auto t = hn::Div(hn::Set(d, scale), hn::Add(c, hn::Set(d, 150.0f)));
    const auto t2 = hn::Mul(t, t);
    hn::StoreU(hn::Mul(t2, t2), d, u + x);
  });
}

void EvenSamplesHwy(float* even, const float* row, size_t x0, size_t x1) {
  Sweep(x0, x1, [&](auto d, size_t x) {
    hn::Vec<decltype(d)> e, o;
    hn::LoadInterleaved2(d, row + 2 * x, e, o);
    hn::StoreU(e, d, even + x);
  });
}

void NormaliseRowHwy(float* u, size_t w, int K, float* confidence, size_t x0, size_t x1) {
  Sweep(x0, x1, [&](auto d, size_t x) {
    const auto zero = hn::Zero(d), half = hn::Set(d, 0.5f);
    auto sum = zero;
    for (int k = 0; k < K; ++k) sum = hn::Add(sum, hn::LoadU(d, u + k * w + x));
    const auto positive = hn::Gt(sum, zero);
    auto best = zero;
    for (int k = 0; k < K; ++k) {
      const auto v = hn::IfThenElseZero(positive, hn::Div(hn::Mul(hn::LoadU(d, u + k * w + x), half), sum));
      best = hn::IfThenElse(hn::Gt(v, best), v, best);
      hn::StoreU(v, d, u + k * w + x);
    }
    hn::StoreU(hn::Mul(hn::Set(d, 2.0f), best), d, confidence + x);
  });
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::Resampling
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune::Resampling {

using std::ptrdiff_t;
using std::size_t;

HWY_EXPORT(OddRowHwy);
HWY_EXPORT(EvenAxialRowHwy);
HWY_EXPORT(OddAxialRowHwy);
HWY_EXPORT(CostRowHwy);
HWY_EXPORT(NormaliseRowHwy);
HWY_EXPORT(RawWeightsHwy);
HWY_EXPORT(EvenSamplesHwy);

namespace {

// site + q * (sum_k u_k * (pair_k - 2 site)).
template <class Pair>
inline float Move(float site, int K, const float* u, size_t w, float q, size_t x, Pair&& pair) {
  const float twice = site + site;
  float sum = u[x] * (pair(0) - twice);
  for (int k = 1; k < K; ++k) sum = sum + u[k * w + x] * (pair(k) - twice);
  return site + sum * q;
}

}  // namespace

void OddRowScalar(const float* const* minus, const float* const* plus, const float* u, size_t w, const float* q,
                  float* row, size_t x0, size_t x1) {
  for (size_t x = x0; x < x1; ++x)
    row[2 * x + 1] = Move(row[2 * x + 1], 14, u, w, q[x], x, [&](int k) { return minus[k][x] + plus[k][x]; });
}

void EvenAxialRowScalar(const float* e0, const float* e1, const float* e2, const float* o0, const float* o1,
                        const float* u, size_t w, const float* q, float* row, size_t x0, size_t x1) {
  for (size_t x = x0; x < x1; ++x) {
    const float pairs[6] = {
        e1[x] + e1[x + 1],              // (0, 1)
        o0[2 * x + 1] + o1[2 * x + 1],  // (1, 0)
        e2[x] + e0[x + 1],              // (-2, 1)
        o1[2 * x - 1] + o0[2 * x + 3],  // (-1, 2)
        o0[2 * x - 1] + o1[2 * x + 3],  // (1, 2)
        e0[x] + e2[x + 1],              // (2, 1)
    };
    row[2 * x + 1] = Move(row[2 * x + 1], 6, u, w, q[x], x, [&](int k) { return pairs[k]; });
  }
}

void OddAxialRowScalar(const float* e1, const float* e2, const float* o0, const float* o1, const float* o2,
                       const float* u, size_t w, const float* q, float* row, size_t x0, size_t x1) {
  for (size_t x = x0; x < x1; ++x) {
    const float pairs[6] = {
        o1[2 * x - 1] + o1[2 * x + 1],  // (0, 1)
        e1[x] + e2[x],                  // (1, 0)
        o2[2 * x - 1] + o0[2 * x + 1],  // (-2, 1)
        e2[x - 1] + e1[x + 1],          // (-1, 2)
        e1[x - 1] + e2[x + 1],          // (1, 2)
        o0[2 * x - 1] + o2[2 * x + 1],  // (2, 1)
    };
    row[2 * x] = Move(row[2 * x], 6, u, w, q[x], x, [&](int k) { return pairs[k]; });
  }
}

void CostRowScalar(float* map, const float* const* g, const float* const* plus, const float* const* minus, size_t c0,
                   size_t c1, ptrdiff_t dx) {
  for (size_t c = c0; c < c1; ++c) {
    auto term = [&](int ch) {
      const float centre = g[ch][c], d1 = centre - plus[ch][c + dx], d2 = minus[ch][c - dx] - centre;
      return d1 * d1 + d2 * d2;
    };
    map[c] = (term(0) + term(1)) + term(2);
  }
}

void RawWeightsScalar(float* u, const float* cost, size_t step, size_t first, float scale, size_t x0, size_t x1) {
  for (size_t x = x0; x < x1; ++x) {
    const float t = scale / (cost[x * step + first] + 150.0f);
    const float t2 = t * t;
    u[x] = t2 * t2;
  }
}

void EvenSamplesScalar(float* even, const float* row, size_t x0, size_t x1) {
  for (size_t x = x0; x < x1; ++x) even[x] = row[2 * x];
}

void NormaliseRowScalar(float* u, size_t w, int K, float* confidence, size_t x0, size_t x1) {
  for (size_t x = x0; x < x1; ++x) {
    float sum = 0.0f;
    for (int k = 0; k < K; ++k) sum += u[k * w + x];
    float best = 0.0f;
    for (int k = 0; k < K; ++k) {
      float v = 0.0f;
      if (sum > 0.0f) {
        v = u[k * w + x] * 0.5f / sum;
        if (v > best) best = v;
      }
      u[k * w + x] = v;
    }
    confidence[x] = 2.0f * best;
  }
}

void RawWeights(float* u, const float* cost, size_t step, size_t first, float scale, size_t x0, size_t x1) {
  if (simd::ScalarKernels()) return RawWeightsScalar(u, cost, step, first, scale, x0, x1);
  HWY_DYNAMIC_DISPATCH(RawWeightsHwy)(u, cost, step, first, scale, x0, x1);
}

void EvenSamples(float* even, const float* row, size_t x0, size_t x1) {
  if (simd::ScalarKernels()) return EvenSamplesScalar(even, row, x0, x1);
  HWY_DYNAMIC_DISPATCH(EvenSamplesHwy)(even, row, x0, x1);
}

void NormaliseRow(float* u, size_t w, int K, float* confidence, size_t x0, size_t x1) {
  if (simd::ScalarKernels()) return NormaliseRowScalar(u, w, K, confidence, x0, x1);
  HWY_DYNAMIC_DISPATCH(NormaliseRowHwy)(u, w, K, confidence, x0, x1);
}

void OddRow(const float* const* minus, const float* const* plus, const float* u, size_t w, const float* q, float* row,
            size_t x0, size_t x1) {
  if (simd::ScalarKernels()) return OddRowScalar(minus, plus, u, w, q, row, x0, x1);
  HWY_DYNAMIC_DISPATCH(OddRowHwy)(minus, plus, u, w, q, row, x0, x1);
}

void EvenAxialRow(const float* e0, const float* e1, const float* e2, const float* o0, const float* o1, const float* u,
                  size_t w, const float* q, float* row, size_t x0, size_t x1) {
  if (simd::ScalarKernels()) return EvenAxialRowScalar(e0, e1, e2, o0, o1, u, w, q, row, x0, x1);
  HWY_DYNAMIC_DISPATCH(EvenAxialRowHwy)(e0, e1, e2, o0, o1, u, w, q, row, x0, x1);
}

void OddAxialRow(const float* e1, const float* e2, const float* o0, const float* o1, const float* o2, const float* u,
                 size_t w, const float* q, float* row, size_t x0, size_t x1) {
  if (simd::ScalarKernels()) return OddAxialRowScalar(e1, e2, o0, o1, o2, u, w, q, row, x0, x1);
  HWY_DYNAMIC_DISPATCH(OddAxialRowHwy)(e1, e2, o0, o1, o2, u, w, q, row, x0, x1);
}

void CostRow(float* map, const float* const* g, const float* const* plus, const float* const* minus, size_t c0,
             size_t c1, ptrdiff_t dx) {
  if (simd::ScalarKernels()) return CostRowScalar(map, g, plus, minus, c0, c1, dx);
  HWY_DYNAMIC_DISPATCH(CostRowHwy)(map, g, plus, minus, c0, c1, dx);
}

}  // namespace kestrune::Resampling
#endif  // HWY_ONCE
