// EnhancementSchedule: step size, decay and the start and end of the fractal
// substitutions.
#include "upscale/enhancement_schedule.h"

namespace kestrune {

EnhancementSchedule::EnhancementSchedule(const SRParams& params)
    : beta(params.beta),
      betaHalf(0.5f * params.beta),
      total(params.iterations + 4 * params.fractalSubsts),
      iterations_(params.iterations),
      fractalSubsts_(params.fractalSubsts) {}

bool EnhancementSchedule::FractalActive() const { return betaHalf >= beta && substitutionsDone < fractalSubsts_; }

bool EnhancementSchedule::StartsSubstitution(uint32_t it) {
  if (!FractalActive() || substitutionStart != 0) return false;
  substitutionStart = it;
  return true;
}

void EnhancementSchedule::FinishFractalStep(uint32_t it) {
  if (!FractalActive()) return;
  const uint32_t d = it - substitutionStart;
  if (d >= 2) beta = 0.7f * beta;
  if (d == 3) {
    beta = betaHalf;
    substitutionStart = 0;
    ++substitutionsDone;
  }
}

void EnhancementSchedule::Decay(uint32_t it) {
  // Unsigned: with fewer than 8 iterations the subtraction wraps and the
  // step size never decays here.
  if (it >= iterations_ - 8u) beta = 0.75f * beta;
}

}  // namespace kestrune
