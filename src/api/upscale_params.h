// The public enlargement settings as the pipeline takes them.
#pragma once

#include <cstdint>
#include <string>

#include "kestrune/upscale.h"
#include "upscale/sr_params.h"

namespace kestrune {

inline SRParams ToParams(const UpscaleOptions& o) {
  SRParams p;
  p.initialMethod = o.initialMethod;
  p.iterations = o.iterations;
  p.fractalSubsts = o.fractalSubstitutions;
  p.edgeDirIterations = o.edgeDirIterations;
  p.beta = o.strength;
  p.sideLobe = o.sideLobe;
  p.regularization = o.regularization;
  p.variableRegularization = o.variableRegularization;
  p.observation = o.sourceModel == SourceModel::kReduced ? Observation::kCentred
                  : o.sourceModel == SourceModel::kAuto  ? Observation::kFromPicture
                                                         : Observation::kAligned;
  return p;
}

// CheckUpscale's checks; a result written by rows is never held, so only
// its sides are limited, not its pixel count.
std::string CheckUpscaleRun(uint32_t w, uint32_t h, const UpscaleOptions& o, bool resultHeld);

}  // namespace kestrune
