// EdgeWeightMap: the edge-adaptive weight plane V (0..4) of the de-ringing
// regulariser, large near strong edges of the estimate and 0 where it is flat.
#pragma once

namespace kestrune {

// x: the three W x H planes of the estimate (read only). snapshot: three
// W x H temporaries that receive a copy of x; scratch: one W x H temporary;
// weights: the W x H output plane V. localSmoothing: smooth with
// HannSmoothLocal (enlargement in tiles).
void EdgeWeightMap(const float* const x[3], int W, int H, float* const snapshot[3], float* scratch, float* weights,
                   bool localSmoothing = false);

}  // namespace kestrune
