// The public enlargement settings as the pipeline takes them.
#pragma once

#include <cstdint>
#include <string>

#include "kestrune/upscale.h"
#include "upscale/sr_params.h"
#include "upscale/tiled_upscale.h"

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
  return p;
}

// UpscaleMemoryNeeded for a source whose JPEG model reads blocks (MCUs) of
// `jpegBlock` pixels (0: no model), enlarged in tiles of `core` if at all.
uint64_t UpscaleMemoryNeeded(uint32_t w, uint32_t h, const UpscaleOptions& o, bool withAlpha, int jpegBlock, int core);

// The tiles of a w x h source: with the JPEG model of `jpeg` (may be null)
// the larger ones when the run needs no more than `available` bytes with
// them, else the usual.
TileGrid UpscaleTileGrid(uint32_t w, uint32_t h, const UpscaleOptions& o, bool withAlpha, const JpegCoefficients* jpeg,
                         uint64_t available);

// CheckUpscale's checks; a result written by rows is never held, so only
// its sides are limited, not its pixel count.
std::string CheckUpscaleRun(uint32_t w, uint32_t h, const UpscaleOptions& o, bool resultHeld);

}  // namespace kestrune
