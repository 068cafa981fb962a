// The choice of the observation model from the picture alone. With OpenCV's
// dnn module, a small network trained on photographs degraded both ways
// (learned/source_choice.h) scores the kChoiceCrops crops of the picture's
// first rows with the most edges, and their summed score decides. Without
// it, how sharp the picture's sharpest edges are: a reduction by the
// antialiased bicubic leaves steeper edges than optics-like blur (a step's
// largest difference between neighbours is 0.87 of its height at best
// against 0.79), so a picture whose steep edges reach beyond kSharpEdges is
// taken as reduced; the scene's own blur, which varies between photographs
// more than the two models differ, misleads that measure far more often.
// bench/source_model_eval.py reports how often each choice is right.
#pragma once

#include "upscale/sr_params.h"

namespace kestrune {

// Only the first kChoiceRows rows are read, so that a picture enlarged by
// rows (whose first band holds them) is judged as the whole one is.
inline constexpr int kChoiceRows = 1024;
// How many crops of the first rows the network scores.
inline constexpr int kChoiceCrops = 32;
// The share of its height the 98th percentile of edges' steepest step must
// exceed for the picture to count as reduced.
inline constexpr float kSharpEdges = 0.6f;

// The steepness of the picture's sharp edges: along rows and columns of the
// luma (rounded to whole levels), at every pair of neighbours whose window
// of 8 samples (3 before, 4 after) spans more than 40 levels, their
// difference over that span; the 98th percentile, in steps of 1/1024.
// Reads rows [0, min(h, kChoiceRows)) of the w x h planes (row stride w).
float EdgeSteepness(const float* const src[3], int w, int h);

// The summed network score of the kChoiceCrops crops of kChoiceCrop x
// kChoiceCrop samples, on the grid of such crops from the picture's corner
// within rows [0, min(h, kChoiceRows)), that hold the largest sums of
// absolute differences between neighbours of the luma (rounded to whole
// levels); ties go to the earlier crop. Above zero: reduced. NaN when the
// network is not built or no crop fits.
double ReducedScore(const float* const src[3], int w, int h);

// The params with Observation::kFromPicture replaced by the model the
// picture fits; any other model as it is.
SRParams ResolveObservation(const SRParams& params, const float* const src[3], int w, int h);

}  // namespace kestrune
