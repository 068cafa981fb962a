// The separable resize of a plane, block by block of eight output rows: the
// vertical pass makes a block's intermediate rows, the horizontal pass
// resamples them into the output rows. Every sample is accumulated tap by tap
// in single precision, a product and a sum each rounded, edge samples
// replicated, in the order of LinearResampler::Resample, so that the scalar
// and the vector forms give the same bits. ResizePlane runs one resize
// through it; the hint search runs several reductions of one plane at once,
// which then share the intermediate rows of a common vertical set-up.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>

#include "resampling/linear_resampler.h"

namespace kestrune::Resampling {

// Output rows per block.
constexpr std::ptrdiff_t kResizeBlockRows = 8;

// Output rows [y0, y1) (y0 a multiple of kResizeBlockRows) of `count` resizes
// of the plane `src`, width samples wide and verticals[i]->inLength high:
// resize i writes its rows, horizontals[i]->outLength wide, into dst[i] (the
// same height for all, row-major). Consecutive resizes with the same vertical
// set-up (the same object) share the intermediate rows. `rowsDone`, when
// given, is called after every block with the number of rows now complete in
// every dst[i]. With `ringRows` (more than kResizeBlockRows) each dst[i] holds
// only that many rows, row y at row y % ringRows, for a consumer that follows
// `rowsDone`.
void ResizeRows(const float* src, std::ptrdiff_t width, const LinearResampler* const* verticals,
                const LinearResampler* const* horizontals, int count, std::ptrdiff_t y0, std::ptrdiff_t y1,
                float* const* dst, const std::function<void(std::ptrdiff_t)>& rowsDone = nullptr,
                std::ptrdiff_t ringRows = 0);

}  // namespace kestrune::Resampling

// What the scalar and vector forms of ResizeRows share.
namespace kestrune::resize_rows {

using Resampling::LinearResampler;

using Index = std::ptrdiff_t;
constexpr Index kRows = Resampling::kResizeBlockRows;

// The weights of output sample o.
inline const float* WeightsOf(const LinearResampler& r, Index o) {
  return r.phaseWeights[static_cast<std::size_t>(r.outPhase[static_cast<std::size_t>(o)])].data();
}

// The source rows of output row y's taps, edge rows replicated where the
// window leaves the plane.
inline void TapRows(const float* src, Index width, const LinearResampler& r, Index y, const float** taps) {
  const Index last = Index(r.inLength) - 1;
  for (Index j = 0; j < Index(r.taps); ++j) taps[j] = src + std::clamp<Index>(r.outStart[y] + j, 0, last) * width;
}

// The blocks of rows [y0, y1) with a kernel k: k.Vertical(r, y, lanes) makes
// intermediate rows y .. y + lanes - 1, k.Horizontal(r, lanes, rows)
// resamples them into the output rows at rows[0 .. lanes - 1].
template <class Kernel>
void RunBlocks(Kernel& k, const LinearResampler* const* verticals, const LinearResampler* const* horizontals, int count,
               Index y0, Index y1, float* const* dst, const std::function<void(Index)>& rowsDone, Index ringRows) {
  float* out[kRows];
  for (Index y = y0; y < y1; y += kRows) {
    const Index lanes = std::min(kRows, y1 - y);
    for (int i = 0; i < count; ++i) {
      if (i == 0 || verticals[i] != verticals[i - 1]) k.Vertical(*verticals[i], y, lanes);
      const Index dw = horizontals[i]->outLength;
      for (Index l = 0; l < lanes; ++l) out[l] = dst[i] + (ringRows ? (y + l) % ringRows : y + l) * dw;
      k.Horizontal(*horizontals[i], lanes, out);
    }
    if (rowsDone) rowsDone(y + lanes);
  }
}

}  // namespace kestrune::resize_rows
