// The separable resize of a plane, block by block of eight output rows: the
// vertical pass makes a block's intermediate rows, the horizontal pass
// resamples them into the output rows. Every sample is accumulated tap by tap
// in single precision, a product and a sum each rounded, edge samples
// replicated, in the order of LinearResampler::Resample, so that the scalar
// and the vector forms give the same bits. ResizePlane runs one resize
// through it; the hint search runs several reductions of one plane at once,
// which then share the intermediate rows of a common vertical set-up.
#pragma once

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
