// MaxFilter2D: maximum over the (2r+1) x (2r+1) square around each sample,
// with the border filled from the nearest interior result.
#pragma once

namespace kestrune {

// src and dst are different W x H row-major planes.
void MaxFilter2D(const float* src, float* dst, int W, int H, int r, float initial);

}  // namespace kestrune
