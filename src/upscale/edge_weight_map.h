// EdgeWeightMap: the edge-adaptive weight plane V (0..4) of the de-ringing
// regulariser, large near strong edges of the estimate and 0 where it is flat.
#pragma once

#include <cstddef>

namespace kestrune {

namespace edge_weight_map {

using Index = std::ptrdiff_t;

// Neighbour offsets in the order of summation: rows above to below, each
// left to right (the scalar and vector forms alike).
constexpr int kNeighbours[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};

}  // namespace edge_weight_map

// x: the three W x H planes of the estimate (read only). snapshot: three
// W x H temporaries that receive a copy of x; scratch: one W x H temporary;
// weights: the W x H output plane V. localSmoothing: smooth with
// HannSmoothLocal (enlargement in tiles).
void EdgeWeightMap(const float* const x[3], int W, int H, float* const snapshot[3], float* scratch, float* weights,
                   bool localSmoothing = false);

}  // namespace kestrune
