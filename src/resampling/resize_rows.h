// The vector form of ResizePlane: output rows in blocks of eight, the
// vertical pass along rows for all columns at once, then the eight
// intermediate rows interleaved so that the horizontal pass computes them side
// by side. Every sample is accumulated tap by tap in single precision in the
// order of LinearResampler::Resample, so it equals the plain two-pass reading.
#pragma once

#include <cstddef>

#include "resampling/linear_resampler.h"

namespace kestrune::Resampling {

// Output rows [y0, y1) of the sw x sh plane src resized into dst (dw wide),
// with the weights of every output row (vWeights) and column (hWeights).
void ResizeRows(const float* src, std::ptrdiff_t sw, std::ptrdiff_t sh, const LinearResampler& vertical,
                const float* const* vWeights, const LinearResampler& horizontal, const float* const* hWeights,
                std::ptrdiff_t y0, std::ptrdiff_t y1, float* dst, std::ptrdiff_t dw);

}  // namespace kestrune::Resampling
