// The public enlargement settings as the core takes them.
#pragma once

#include "api/image_access.h"
#include "kestrune/upscale.h"
#include "upscale/upscale_image.h"

namespace kestrune {

static_assert(int(SourceModel::kCamera) == int(Observation::kAligned) &&
              int(SourceModel::kReduced) == int(Observation::kCentred) &&
              int(SourceModel::kAuto) == int(Observation::kFromPicture));

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
  // The public list and the core's name the same models in the same order;
  // an unknown value stays unknown, for CheckUpscaleRun to refuse.
  p.observation = static_cast<Observation>(static_cast<int>(o.sourceModel));
  s.initialImage = o.initialImage != nullptr ? &ImageAccess::Planes(*o.initialImage) : nullptr;
  s.jpegModel = o.jpegModel;
  s.width = o.width;
  s.height = o.height;
  return s;
}

}  // namespace kestrune
