// MaxFilter2D: the maximum over the (2r+1) x (2r+1) square around each sample
// through one RunningMax fed column by column, and over the window clipped
// to the plane at the border. The fast separable form runs on row bands in
// parallel; the RunningMax form, which only samples below `initial` or NaN
// need, stays one sequential chain because its window carries over from one
// column to the next.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "upscale/max_filter.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "base/simd.h"
#include "base/threading.h"
#include "resampling/running_max.h"
#include "upscale/max_filter.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::max_filter {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using Index = std::ptrdiff_t;

// Whether no sample is NaN, below `initial` or a negative zero.
bool PlainMaximumAppliesHwy(const float* src, std::size_t count, float initial) {
  const hn::ScalableTag<float> d;
  const hn::RebindToSigned<decltype(d)> di;
  const std::size_t lanes = hn::Lanes(d);
  const auto low = hn::Set(d, initial), zero = hn::Zero(d);
  const auto intZero = hn::Zero(di);
  auto bad = hn::Zero(d);
  std::size_t i = 0;
  for (; i + lanes <= count; i += lanes) {
    const auto v = hn::LoadU(d, src + i);
    const auto negativeZero = hn::And(hn::Eq(v, zero), hn::RebindMask(d, hn::Lt(hn::BitCast(di, v), intZero)));
    bad = hn::Or(bad, hn::VecFromMask(d, hn::Or(hn::Not(hn::Ge(v, low)), negativeZero)));
    if ((i & 4095) == 0 && !hn::AllFalse(d, hn::MaskFromVec(bad))) return false;
  }
  if (!hn::AllFalse(d, hn::MaskFromVec(bad))) return false;
  for (; i < count; ++i) {
    const float v = src[i];
    if (!(v >= initial) || (v == 0.0f && std::signbit(v))) return false;
  }
  return true;
}

// Rows [y0, y1) of the separable maximum, as many samples at a time as a
// vector holds.
void SeparableMaximumRowsHwy(const float* src, float* dst, Index W, Index r, Index y0, Index y1, float* row) {
  const hn::ScalableTag<float> d;
  const hn::CappedTag<float, 1> d1;
  const Index lanes = static_cast<Index>(hn::Lanes(d));
  auto columns = [&](auto d, const float* first, Index x) {
    auto m = hn::LoadU(d, first + x);
    for (Index k = 1; k <= 2 * r; ++k) m = hn::Max(m, hn::LoadU(d, first + k * W + x));
    hn::StoreU(m, d, row + x);
  };
  auto along = [&](auto d, float* out, Index x) {
    auto m = hn::LoadU(d, row + x - r);
    for (Index i = 1; i <= 2 * r; ++i) m = hn::Max(m, hn::LoadU(d, row + x - r + i));
    hn::StoreU(m, d, out + x);
  };
  for (Index y = y0; y < y1; ++y) {
    const float* first = src + (y - r) * W;
    Index x = 0;
    for (; x + lanes <= W; x += lanes) columns(d, first, x);
    for (; x < W; ++x) columns(d1, first, x);
    float* out = dst + y * W;
    for (x = r; x + lanes <= W - r; x += lanes) along(d, out, x);
    for (; x < W - r; ++x) along(d1, out, x);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::max_filter
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune {

namespace max_filter {
HWY_EXPORT(PlainMaximumAppliesHwy);
HWY_EXPORT(SeparableMaximumRowsHwy);
}  // namespace max_filter

namespace {

using Index = std::ptrdiff_t;

// The running maximum returns the true window maximum when no sample is NaN
// and none lies below `initial`; with no negative zero either, the plain
// separable maximum gives the same bits much faster.
bool PlainMaximumApplies(const float* src, std::size_t count, float initial) {
  if (!simd::ScalarKernels()) return HWY_DYNAMIC_DISPATCH(max_filter::PlainMaximumAppliesHwy)(src, count, initial);
  for (std::size_t i = 0; i < count; ++i) {
    const float v = src[i];
    if (!(v >= initial) || (v == 0.0f && std::signbit(v))) return false;
  }
  return true;
}

void RunningMaximum(const float* src, float* dst, Index W, Index H, Index r, float initial) {
  const Index n = 2 * r + 1;
  RunningMax<float> window(static_cast<unsigned>(n * n), initial);
  for (Index x = r; x < W - r; ++x) {
    float m = initial;
    for (Index y = 0; y < n; ++y)
      for (Index i = x - r; i <= x + r; ++i) m = window.Push(src[y * W + i]);
    dst[r * W + x] = m;
    for (Index y = r + 1; y < H - r; ++y) {
      for (Index i = x - r; i <= x + r; ++i) m = window.Push(src[(y + r) * W + i]);
      dst[y * W + x] = m;
    }
  }
}

// Rows [y0, y1) of the separable maximum: the column maximum of source rows
// y-r..y+r into `row`, then the maximum of 2r+1 neighbours along it.
void SeparableMaximumRows(const float* src, float* dst, Index W, Index r, Index y0, Index y1, float* row) {
  if (!simd::ScalarKernels())
    return HWY_DYNAMIC_DISPATCH(max_filter::SeparableMaximumRowsHwy)(src, dst, W, r, y0, y1, row);
  for (Index y = y0; y < y1; ++y) {
    const float* first = src + (y - r) * W;
    for (Index x = 0; x < W; ++x) {
      float m = first[x];
      for (Index k = 1; k <= 2 * r; ++k) m = std::max(m, first[k * W + x]);
      row[x] = m;
    }
    float* d = dst + y * W;
    for (Index x = r; x < W - r; ++x) {
      float m = row[x - r];
      for (Index i = x - r + 1; i <= x + r; ++i) m = std::max(m, row[i]);
      d[x] = m;
    }
  }
}

// Rows are independent: the threads take runs of them.
void SeparableMaximum(const float* src, float* dst, Index W, Index H, Index r) {
  ParallelFor(r, H - r, RowGrain(W * (2 * r + 1)), [&](Index y0, Index y1) {
    std::vector<float> row(static_cast<std::size_t>(W));
    SeparableMaximumRows(src, dst, W, r, y0, y1, row.data());
  });
}

}  // namespace

void MaxFilter2D(const float* src, float* dst, int width, int height, int radius, float initial) {
  if (width <= 0 || height <= 0) return;
  const Index W = width, H = height;
  // The window must fit inside the plane.
  const Index r = std::max<Index>(0, std::min<Index>({radius, (W - 1) / 2, (H - 1) / 2}));
  // The check is a plain AND over chunks, so any split gives the same answer.
  std::atomic<bool> plain{true};
  constexpr Index kChunk = 65536;
  ParallelFor(0, (W * H + kChunk - 1) / kChunk, 1, [&](Index c0, Index c1) {
    const Index begin = c0 * kChunk, end = std::min(W * H, c1 * kChunk);
    if (plain.load(std::memory_order_relaxed) &&
        !PlainMaximumApplies(src + begin, static_cast<std::size_t>(end - begin), initial))
      plain.store(false, std::memory_order_relaxed);
  });
  if (plain.load())
    SeparableMaximum(src, dst, W, H, r);
  else
    RunningMaximum(src, dst, W, H, r, initial);
  // Border: the window clipped to the plane (what a mirrored border gives),
  // so that a sample's maximum never reaches further than the radius.
  ParallelFor(0, H, RowGrain(W), [&](Index y0, Index y1) {
    for (Index y = y0; y < y1; ++y) {
      const bool inner = y >= r && y < H - r;
      for (Index x = 0; x < W; ++x) {
        if (inner && x == r) x = std::max(x, W - r);
        if (x >= W) break;
        float m = initial;
        for (Index v = std::max<Index>(y - r, 0); v <= std::min(y + r, H - 1); ++v)
          for (Index u = std::max<Index>(x - r, 0); u <= std::min(x + r, W - 1); ++u) m = std::max(m, src[v * W + u]);
        dst[y * W + x] = m;
      }
    }
  });
}

}  // namespace kestrune
#endif  // HWY_ONCE
