// RegularizationGradient: the gradient of the bilateral total-variation
// regulariser of one plane, which pulls ringing and small oscillations flat.
#pragma once

// x, r and sign are W x H planes; r receives the gradient, sign is a
// temporary holding the signs of the differences to each neighbour.
void RegularizationGradient(const float* x, int W, int H, float* r, float* sign);
