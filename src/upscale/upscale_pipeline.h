// The upscaling pipeline ("Kestrune interpolation"): an initial x2
// enlargement, then the sharpness enhancement with fractal substitutions,
// reporting every stage and asking before each iteration whether to stop.
// Also the check of the settings the pipeline cannot take, made before a run.
#pragma once

#include <cstdint>
#include <string>

#include "kestrune/progress.h"
#include "upscale/sr_params.h"

namespace kestrune {

struct JpegCoefficients;

// Where a tile lies in the picture: its first source column and row, and the
// picture's source width.
struct TilePlacement {
  int x = 0, y = 0;
  int pictureWidth = 0;
};

// An empty string when a w x h source can be enlarged with `params`, else the
// message to show the user.
std::string CheckUpscaleSettings(uint32_t w, uint32_t h, const SRParams& params);

// Enlarges the w x h source planes into the 2w x 2h output planes; `init`:
// 2w x 2h planes of an initial image ("Load from file"), or null. Reports to
// `progress` (may be null): kAllocating, kInitialEnlargement (NEDI: once
// before its first strip, then after each strip of 8 source rows with the
// output rows finished so far; rows below them are not written yet),
// kPreparing, then kEnhancement before each iteration and again before each
// fractal substitution; the report's estimate is the output planes. Returns
// false when the progress asked to stop before an iteration: the output then
// holds the estimate of the iterations done.
//
// `tile`: null for a whole picture, whose observation model is then chosen
// here when the params leave it to the picture; for a tile of a larger
// picture, where it lies (the caller chooses the model beforehand). Every
// stage then smooths with HannSmoothLocal and NEDI's training noise follows
// the picture's coordinates, so that each output sample depends only on the
// source within kTileMargin of it (see tiled_upscale.h).
//
// `jpeg`: the coefficients of the JPEG file the source was decoded from (the
// whole picture's, turned as the source is), or null; with them the
// enhancement holds the simulation to the file's quantisation intervals
// (JpegObservation) instead of to the decoded samples.
bool UpscalePipeline(const float* const src[3], int w, int h, float* const out[3], const float* const init[3],
                     const SRParams& params, Progress* progress, const TilePlacement* tile = nullptr,
                     const JpegCoefficients* jpeg = nullptr);

}  // namespace kestrune
