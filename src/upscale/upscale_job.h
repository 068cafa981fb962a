// The records of an upscaling run: the user's settings (SRParams) and the job
// handed to the worker (UpscaleJob), through which it reports and learns of
// cancellation.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "image/float_image.h"

namespace kestrune {

struct SRParams {
  int32_t initialMethod = 3;  // 0 bilinear, 1 bicubic, 2 edge-directional, other: NEDI
  uint32_t iterations = 16;
  uint32_t fractalSubsts = 2;
  int32_t edgeDirIterations = 2;  // -1: bilinear enlargement of the residual
  float beta = 3.0f;
  float sideLobe = 0.02f;
  float regularization = 0.03f;
  float variableRegularization = 1.0f;
};

struct UpscaleJob {
  FloatImage source;                 // private copy of the image to enlarge (w x h)
  float* output[3] = {};             // 2w x 2h planes receiving the estimate
  FloatImage initialImage;           // "Load from file": exactly 2w x 2h, else empty
  uint32_t srcWidth = 0, srcHeight = 0;
  uint32_t newWidth = 0, newHeight = 0;  // requested final size (completion only)
  SRParams params;
  // Called synchronously at every report; the worker waits until it returns.
  // Empty: no reports at all, and cancellation is never looked at.
  std::function<void(UpscaleJob&)> notify;
  std::string statusText;
  float progress = 0.0f;  // percent
  std::atomic<bool> cancelRequested{false};
  std::atomic<bool> finished{false};
};

}  // namespace kestrune
