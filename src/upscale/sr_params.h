// SRParams: the settings of one upscaling run as the pipeline takes them.
// The record keeps the design's defaults: a new SRParams holds the side lobe
// 0.02, while the settings dialog, the tool and UpscaleOptions start from
// 0.0 (ToSettings in src/api/upscale_params.h is the one translation between
// them).
#pragma once

#include <cstdint>
#include <memory>

#include "kestrune/upscale.h"

namespace kestrune {

// How the source came from the picture the enhancement rebuilds: the
// sample-aligned grid with the seven-tap low-pass (Downsample2), the centred
// grid with the antialiased bicubic reduction (DownsampleCentred), or the
// one of them the picture fits best, chosen before the run (ChooseObservation).
enum class Observation { kAligned, kCentred, kFromPicture };

class LearnedNetwork;

struct SRParams {
  InitialMethod initialMethod = InitialMethod::kNedi;
  uint32_t iterations = 16;
  uint32_t fractalSubsts = 2;
  int32_t edgeDirIterations = 2;  // -1: bilinear enlargement of the residual
  float beta = 3.0f;
  float sideLobe = 0.02f;
  float regularization = 0.03f;
  float variableRegularization = 1.0f;
  Observation observation = Observation::kAligned;
  // The learned start's network; null: the one built into the library.
  std::shared_ptr<const LearnedNetwork> learned;
};

}  // namespace kestrune
