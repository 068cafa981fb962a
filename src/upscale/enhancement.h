// One iteration of the sharpness enhancement: the estimate X (2w x 2h) is
// passed through the downsampling model, compared with the source, and
// stepped against the enlarged robust residual plus the de-ringing gradient,
// with a step size whose schedule also starts the fractal substitutions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "upscale/enhancement_schedule.h"
#include "upscale/sr_params.h"

namespace kestrune {

class FractalTexture;
class JpegObservation;
struct WorkingPlanes;
namespace Resampling {
class EdgeDirResampler;
}

// Everything one iteration reads and writes. source: the w x h planes Y;
// estimate: the 2w x 2h planes X; resampler: analysed before the loop, used
// when edgeDirIterations is not -1.
struct EnhancementContext {
  const float* source[3] = {};
  int w = 0, h = 0;
  float* estimate[3] = {};
  WorkingPlanes* planes = nullptr;
  const SRParams* params = nullptr;
  const Resampling::EdgeDirResampler* resampler = nullptr;
  FractalTexture* fractal = nullptr;
  // Called when a fractal substitution starts, before it runs (the report).
  std::function<void(uint32_t it)> onSubstitution;
  // Smooth the edge-adaptive weights with HannSmoothLocal (tiles).
  bool localSmoothing = false;
  // A JPEG source: the error of the simulation is what lies outside the
  // file's quantisation intervals, instead of its difference from `source`,
  // taken linearly rather than through the robust residual, and the
  // regulariser's amount is kJpegRegularizationShare of the setting.
  JpegObservation* jpeg = nullptr;
};

// Iteration `it` (0-based) of the run. Allocates nothing.
void EnhancementIteration(EnhancementSchedule& schedule, uint32_t it, const EnhancementContext& context);

}  // namespace kestrune
