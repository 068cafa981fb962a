// Linear resampling of one line (polyphase filter bank of at least 500
// phases) and the separable two-pass resize of a whole plane, with a sub-pixel
// offset of the output grid, a deviation of the mapped input extent and a
// smoothness factor that stretches the kernel.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrune {

// The seven kernels, in the order of the "Resizing filter" list. Any other
// value behaves as FilterCatmullRom.
enum FilterType : int {
  FilterBox = 0,
  FilterBilinear = 1,
  FilterCubicBSpline = 2,
  FilterCatmullRom = 3,
  FilterLanczos2 = 4,
  FilterLanczos3 = 5,
  FilterSinc = 6,
};

namespace Resampling {

class LinearResampler {
 public:
  LinearResampler() = default;
  virtual ~LinearResampler() = default;

  // Builds the tables for lines of inLength samples resampled to outLength
  // (both >= 1; a zero length gives no taps, and Resample then writes zeros).
  // offset is in output samples, deviation in input samples.
  void Configure(uint32_t inLength, uint32_t outLength, int filterType, float offset, float deviation,
                 float smoothness);
  // Reads inLength floats from `in`, writes outLength floats to `out`.
  void Resample(const float* in, float* out) const;

  static constexpr uint64_t kFullTableLimit = uint64_t{1} << 22;

  uint32_t inLength = 0;
  uint32_t outLength = 0;
  uint32_t taps = 0;
  // Q+1 phases of `taps` weights. When (Q+1) * taps exceeds kFullTableLimit
  // only the phases in outPhase are filled; the others are empty.
  std::vector<std::vector<float>> phaseWeights;
  std::vector<int32_t> phaseShift;  // Q+1
  std::vector<int32_t> outPhase;    // outLength
  std::vector<int32_t> outStart;    // outLength
};

}  // namespace Resampling

// Resizes a row-major plane (stride = width) from srcWidth x srcHeight to
// dstWidth x dstHeight: vertical pass first, then horizontal. Offsets are in
// output pixels, deviations in input pixels. The resize works in blocks of
// rows with its own small buffers.
void ResizePlane(const float* src, uint32_t srcWidth, uint32_t srcHeight, float* dst, uint32_t dstWidth,
                 uint32_t dstHeight, int filterType, float offsetX, float offsetY, float deviationX, float deviationY,
                 float smoothness);

}  // namespace kestrune
