// The upscaling pipeline ("Kestrune interpolation"): an initial x2
// enlargement, then the sharpness enhancement with fractal substitutions,
// reporting every stage through the job and honouring its cancel flag once per
// iteration. Also the check of the settings that the pipeline itself cannot
// take, made before a run starts.
#pragma once

#include <cstdint>
#include <string>

#include "upscale/upscale_job.h"

namespace kestrune {

// Sources must be at least this large in each direction: the downsampling
// model and the bicubic enlargement need 3 samples, the fractal substitution
// needs more than its block size plus one (4 + 1) whenever substitutions are
// asked for.
inline constexpr uint32_t kMinUpscaleSide = 3;
inline constexpr uint32_t kMinFractalSide = 6;

// An empty string when a w x h source can be enlarged with `params`, else the
// message to show the user.
std::string CheckUpscaleSettings(uint32_t w, uint32_t h, const SRParams& params);

// Enlarges the w x h source planes into the 2w x 2h output planes. init:
// 2w x 2h planes of an initial image ("Load from file"), or nulls. With a job,
// its params are used (params is ignored) and every stage is reported through
// job->notify; without one, params is used and nothing is reported.
void UpscalePipeline(const float* srcR, const float* srcG, const float* srcB, int w, int h, float* outR,
                     float* outG, float* outB, const float* initR, const float* initG, const float* initB,
                     const SRParams* params, UpscaleJob* job);

// The worker's entry: runs the pipeline on the job, then, when the job has a
// notification callback, sets `finished` and reports once more. Returns 0.
unsigned int UpscaleThreadProc(UpscaleJob* job);

}  // namespace kestrune
