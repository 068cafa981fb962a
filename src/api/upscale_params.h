// The public enlargement settings as the core takes them.
#pragma once

#include "api/image_access.h"
#include "kestrune/upscale.h"
#include "upscale/upscale_image.h"

namespace kestrune {

inline UpscaleSettings ToSettings(const UpscaleOptions& o) {
  UpscaleSettings s;
  SRParams& p = s.params;
  p.initialMethod = o.initialMethod;
  p.iterations = o.iterations;
  p.fractalSubsts = o.fractalSubstitutions;
  p.edgeDirIterations = o.edgeDirIterations;
  p.beta = o.strength;
  p.sideLobe = o.sideLobe;
  p.regularization = o.regularization;
  p.variableRegularization = o.variableRegularization;
  s.initialImage = o.initialImage != nullptr ? &ImageAccess::Planes(*o.initialImage) : nullptr;
  s.jpegModel = o.jpegModel;
  s.width = o.width;
  s.height = o.height;
  return s;
}

}  // namespace kestrune
