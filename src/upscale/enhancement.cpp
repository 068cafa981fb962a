// The enhancement iteration: edge-adaptive weights every fourth iteration,
// the fractal substitution schedule, simulation through the observation model, the
// robust residual and its enlargement, the regulariser, the clamped update
// and the step-size decay.
#include "upscale/enhancement.h"

#include <algorithm>
#include <cmath>

#include "base/threading.h"
#include "resampling/edge_dir_resampler.h"
#include "resampling/fixed_upscalers.h"
#include "upscale/centred_grid.h"
#include "upscale/downsample2.h"
#include "upscale/edge_weight_map.h"
#include "upscale/fractal_texture.h"
#include "upscale/jpeg_observation.h"
#include "upscale/regularization_gradient.h"
#include "upscale/robust_residual.h"
#include "upscale/working_planes.h"

namespace kestrune {

void EnhancementIteration(EnhancementSchedule& schedule, uint32_t it, const EnhancementContext& ctx) {
  const SRParams& p = *ctx.params;
  WorkingPlanes& planes = *ctx.planes;
  const int w = ctx.w, h = ctx.h, W = 2 * w, H = 2 * h;
  const std::size_t small = std::size_t(w) * std::size_t(h);
  const std::size_t large = std::size_t(W) * std::size_t(H);

  // 1. Edge-adaptive weights, refreshed every fourth iteration.
  if (p.variableRegularization != 0.0f && it % 4 == 0) {
    const float* const x[3] = {ctx.estimate[0], ctx.estimate[1], ctx.estimate[2]};
    float* const snapshot[3] = {planes.enlargedResidual[0].data(), planes.enlargedResidual[1].data(),
                                planes.enlargedResidual[2].data()};
    EdgeWeightMap(x, W, H, snapshot, planes.scratch.data(), planes.weights.data(), ctx.localSmoothing);
  }

  // 2. Fractal substitution schedule: the substituted image replaces X.
  if (schedule.StartsSubstitution(it)) {
    if (ctx.onSubstitution) ctx.onSubstitution(it);
    FractalTexture& ft = *ctx.fractal;
    ft.Init(ctx.estimate[0], ctx.estimate[1], ctx.estimate[2], W, H, ctx.source[0], ctx.source[1], ctx.source[2], w, h,
            planes.regularization[0].data(), planes.regularization[1].data(), planes.regularization[2].data());
    ft.Run(~0u, static_cast<unsigned>(H));
    ft.Finish();
    ParallelFor(0, std::ptrdiff_t(large), 65536, [&](std::ptrdiff_t i0, std::ptrdiff_t i1) {
      for (int c = 0; c < 3; ++c)
        std::copy(planes.regularization[c].data() + i0, planes.regularization[c].data() + i1, ctx.estimate[c] + i0);
    });
  }
  schedule.FinishFractalStep(it);

  // 3. Simulation through the observation model.
  const bool centred = p.observation == Observation::kCentred;
  for (int c = 0; c < 3; ++c) {
    if (centred)
      DownsampleCentred(ctx.estimate[c], W, H, planes.simulated[c].data(), planes.scratch.data());
    else
      Downsample2(ctx.estimate[c], W, H, planes.simulated[c].data(), 2, planes.scratch.data(), p.sideLobe);
  }
  if (ctx.jpeg == nullptr) {
    // 4. The robust residual.
    for (int c = 0; c < 3; ++c)
      RobustResidual(planes.simulated[c].data(), ctx.source[c], small, planes.residual[c].data());
  } else {
    // With the file's coefficients as what was observed: the part outside
    // their intervals, taken linearly (kJpegResidualGain).
    const float* const simulated[3] = {planes.simulated[0].data(), planes.simulated[1].data(),
                                       planes.simulated[2].data()};
    float* const residual[3] = {planes.residual[0].data(), planes.residual[1].data(), planes.residual[2].data()};
    ctx.jpeg->Error(simulated, residual, kJpegResidualGain);
  }

  // 5. Enlargement of the residual. On the centred grid the aligned
  // enlargement goes to the substitution's planes, free here, and moves half
  // a sample from there.
  float* const enlarged[3] = {(centred ? planes.regularization : planes.enlargedResidual)[0].data(),
                              (centred ? planes.regularization : planes.enlargedResidual)[1].data(),
                              (centred ? planes.regularization : planes.enlargedResidual)[2].data()};
  if (p.edgeDirIterations == -1) {
    for (int c = 0; c < 3; ++c) UpscaleBilinear2(planes.residual[c].data(), w, h, enlarged[c]);
  } else {
    ctx.resampler->Apply(planes.residual[0].data(), planes.residual[1].data(), planes.residual[2].data(), enlarged[0],
                         enlarged[1], enlarged[2]);
  }
  if (centred)
    for (int c = 0; c < 3; ++c) ShiftToCentredGrid(enlarged[c], W, H, planes.enlargedResidual[c].data(), false);

  const float beta = schedule.beta;
  const float lambda = ctx.jpeg != nullptr ? kJpegRegularizationShare * p.regularization : p.regularization;
  const bool weighted = p.variableRegularization != 0.0f;
  // 6. Regularisation, weighted near edges, and 7. the update and clamp, in
  // one pass per plane.
  for (int c = 0; c < 3; ++c)
    RegularizedUpdate(ctx.estimate[c], W, H, planes.enlargedResidual[c].data(),
                      weighted ? planes.weights.data() : nullptr, beta, lambda);

  // 8. Step-size decay.
  schedule.Decay(it);
}

}  // namespace kestrune
