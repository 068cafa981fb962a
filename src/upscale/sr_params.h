// SRParams: the settings of one upscaling run as the pipeline takes them.
#pragma once

#include <cstdint>

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

}  // namespace kestrune
