// The two passes of ResizePlane as separate steps, for the hint search's many
// reductions of one luminance plane: a configured resampler and an
// intermediate plane can then serve several reductions. Every output sample
// is accumulated as LinearResampler::Resample does (taps in order, a product
// and a sum each rounded to single precision, edge samples replicated), so a
// vertical pass followed by a horizontal pass gives ResizePlane's result bit
// for bit.
//
// The intermediate plane is kept with its rows in groups of four, the four
// samples of a column side by side: sample (x, y) of a plane `width` wide
// lies at (y / 4) * width * 4 + x * 4 + y % 4. Both passes can then work on
// several samples at once with plain vector loads and stores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "resampling/linear_resampler.h"

namespace kestrune {

// Floats needed for an intermediate plane of width x height in that layout.
inline std::size_t InterleavedPlaneSize(uint32_t width, uint32_t height) {
  return (std::size_t{height} + 3) / 4 * 4 * width;
}

// Vertical pass: resamples every column of the row-major plane `src`
// (width x vertical.inLength) into `dst` (width x vertical.outLength in the
// four-row layout; the rows that pad the last group are set to 0).
void ResampleColumns(const float* src, uint32_t width, const Resampling::LinearResampler& vertical, float* dst);

// Horizontal pass: resamples every row of `src` (horizontal.inLength x height
// in the four-row layout) into the row-major plane `dst`
// (horizontal.outLength x height).
void ResampleRows(const float* src, uint32_t height, const Resampling::LinearResampler& horizontal, float* dst);

// Both passes at once for `count` reductions of `src` (width x
// verticals[i]->inLength): dst[i] (horizontals[i]->outLength wide,
// verticals[i]->outLength high, the same height for all, row-major) receives
// what ResampleColumns with verticals[i] followed by ResampleRows with
// horizontals[i] would give. The intermediate rows only pass through a small
// buffer, group by group of four; consecutive reductions with the same
// vertical set-up (the same object) share it, and the source rows that nearby
// set-ups share are read while still in cache. `rowsDone`, when given, is
// called after every group with the number of rows now complete in every
// dst[i]. With `ringRows` (a multiple of 4) each dst[i] holds only that many
// rows, row y at row y % ringRows, for a consumer that follows `rowsDone`.
void ReduceFused(const float* src, uint32_t width, const Resampling::LinearResampler* const* verticals,
                 const Resampling::LinearResampler* const* horizontals, int count, float* const* dst,
                 const std::function<void(uint32_t)>& rowsDone = nullptr, uint32_t ringRows = 0);

}  // namespace kestrune
