// RegularizationGradient: the gradient of the bilateral total-variation
// regulariser of one plane, which pulls ringing and small oscillations flat.
#pragma once

namespace kestrune {

// x and r are W x H planes; r receives the gradient.
void RegularizationGradient(const float* x, int W, int H, float* r);

}  // namespace kestrune
