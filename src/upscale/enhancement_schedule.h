// EnhancementSchedule: the step size of the enhancement iterations, its decay
// over the last plain iterations, and the fractal substitutions it starts
// whenever the step has fallen to half its initial value.
#pragma once

#include <cstdint>

#include "upscale/sr_params.h"

namespace kestrune {

// The step-size schedule carried from one iteration to the next.
struct EnhancementSchedule {
  explicit EnhancementSchedule(const SRParams& params);

  // The fractal part of the schedule, before the update of iteration `it`:
  // true when a substitution starts in this iteration; the caller then runs
  // it and calls FinishFractalStep. Without a start, call FinishFractalStep
  // all the same.
  bool StartsSubstitution(uint32_t it);
  void FinishFractalStep(uint32_t it);
  // The decay after the update of iteration `it`.
  void Decay(uint32_t it);

  float beta;
  float betaHalf;
  uint32_t total;
  uint32_t substitutionsDone = 0;
  uint32_t substitutionStart = 0;  // 0: no substitution running

 private:
  bool FractalActive() const;
  uint32_t iterations_;
  uint32_t fractalSubsts_;
};

}  // namespace kestrune
