// The two passes of ResizePlane as separate steps, for the hint search's many
// reductions of one luminance plane: a configured resampler and an
// intermediate plane can then serve several reductions. Every output sample
// is accumulated as LinearResampler::Resample does (taps in order, a product
// and a sum each rounded to single precision, edge samples replicated), so a
// vertical pass followed by a horizontal pass gives ResizePlane's result bit
// for bit.
#pragma once

#include <cstdint>

#include "resampling/linear_resampler.h"

// Vertical pass: resamples every column of the row-major plane `src`
// (width x vertical.inLength) into `dst` (width x vertical.outLength).
void ResampleColumns(const float* src, uint32_t width, const Resampling::LinearResampler& vertical, float* dst);

// Horizontal pass: resamples every row of `src` (horizontal.inLength x
// height) into `dst` (horizontal.outLength x height).
void ResampleRows(const float* src, uint32_t height, const Resampling::LinearResampler& horizontal, float* dst);
