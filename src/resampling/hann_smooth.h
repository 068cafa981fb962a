// HannSmooth: separable raised-cosine (Hann window) smoothing of a plane at a
// constant cost per sample, computed with a recursive phasor filter.
#pragma once

namespace kestrune {

// Rows of src into tmp, then columns of tmp into dst (src and dst may be the
// same plane). All planes are W x H, row-major.
void HannSmooth(const float* src, float* dst, int W, int H, int r, float* tmp);

}  // namespace kestrune
