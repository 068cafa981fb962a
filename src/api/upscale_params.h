// The public enlargement settings as the pipeline takes them.
#pragma once

#include "kestrune/upscale.h"
#include "upscale/sr_params.h"

namespace kestrune {

inline SRParams ToParams(const UpscaleOptions& o) {
  SRParams p;
  p.initialMethod = static_cast<int32_t>(o.initialMethod);
  p.iterations = o.iterations;
  p.fractalSubsts = o.fractalSubstitutions;
  p.edgeDirIterations = o.edgeDirIterations;
  p.beta = o.strength;
  p.sideLobe = o.sideLobe;
  p.regularization = o.regularization;
  p.variableRegularization = o.variableRegularization;
  return p;
}

}  // namespace kestrune
